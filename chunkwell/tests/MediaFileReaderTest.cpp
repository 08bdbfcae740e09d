#include "TestFiles.h"

#include <chunkwell/MediaSystemLicence.h>

using namespace chunkwell;
using namespace testfiles;

namespace {

class MediaFileReaderTest : public TempFolderTest {
protected:
    std::shared_ptr<MediaFileReader> Open(const Bytes& bytes, bool share = false) {
        const std::string path = dir.File("file.bin");
        WriteBytes(path, bytes);
        return msl.OpenMediaFile(path, share);
    }
    MediaSystemLicence msl;
};

TEST_F(MediaFileReaderTest, StandardWaveLayoutOffsets) {
    auto r = Open(WaveFile(Counting(8)));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->ChunkID(), ID("RIFF"));
    EXPECT_EQ(r->ChunkType(), ID("WAVE"));
    r->MoveFirst();
    EXPECT_EQ(r->RecordInfo().FileOffset, 20);
    EXPECT_EQ(r->RecordInfo().RecordSize, 16);
    r->MoveNext();
    EXPECT_EQ(r->RecordInfo().RecordID, ID("data"));
    EXPECT_EQ(r->RecordInfo().FileOffset, 44);
}

} // namespace
