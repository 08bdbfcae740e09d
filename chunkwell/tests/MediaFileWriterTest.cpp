#include "FaultyFile.h"
#include "TestFiles.h"

#include <chunkwell/MediaSystemLicence.h>

#include <filesystem>
#include <limits>
#include <memory>

using namespace chunkwell;
using namespace testfiles;

namespace {

std::span<const std::byte> Span(const Bytes& b) {
    return std::as_bytes(std::span(b));
}

// From now on the wrapped handles' writes fail (true) or pass (false).
void FailWrites(FaultyFiles& faults, bool fail) {
    faults.plan->failWritesFrom = fail ? faults.plan->writes : -1;
}

class MediaFileWriterTest : public TempFolderTest {
protected:
    std::shared_ptr<MediaFileWriter> Create(bool overwrite = true) {
        return msl.CreateMediaFile(path, "RIFF", "WAVE", overwrite);
    }

    MediaSystemLicence msl;
    const std::string path = dir.File("out.wav");
};

// The application's own sequence, with an even and an odd sample count.
class WaveLayoutTest : public MediaFileWriterTest,
                       public ::testing::WithParamInterface<std::size_t> {};

TEST_P(WaveLayoutTest, MatchesTheWaveLayoutByteForByte) {
    const std::size_t n = GetParam();
    const auto pad = static_cast<std::int32_t>(n & 1);
    const Bytes format = PcmFormat(1, 8000, 8);
    const Bytes samples = Counting(n, 7);
    {
        auto w = Create();
        ASSERT_TRUE(w);
        EXPECT_EQ(msl.Error(), mfec_NoError);
        EXPECT_EQ(w->ChunkID(), ID("RIFF"));
        EXPECT_EQ(w->ChunkType(), ID("WAVE"));
        EXPECT_EQ(w->ChunkSize(), 4);

        ASSERT_TRUE(w->CreateChild("fmt", 16)); // three letters pad to "fmt "
        EXPECT_EQ(w->ChunkSize(), 28);
        ASSERT_TRUE(w->WriteRecord(Span(format)));
        ASSERT_TRUE(w->CreateChild(ID("data"), static_cast<std::int32_t>(n)));
        EXPECT_EQ(w->ChunkSize(), static_cast<std::int32_t>(36 + n) + pad);
        ASSERT_TRUE(w->WriteRecord(Span(samples)));
        EXPECT_EQ(w->Records(), 2);
        EXPECT_EQ(w->RecordInfo().FileOffset, 44);

        // Sizes reach the disk only at release.
        EXPECT_EQ(GetLE32(ReadBytes(path), 4), 4u);
    }
    const Bytes onDisk = ReadBytes(path);
    EXPECT_EQ(onDisk.size(), 44 + n + static_cast<std::size_t>(pad));
    EXPECT_EQ(onDisk, WaveFile(samples, 1, 8000, 8));

    auto r = msl.OpenMediaFile(path);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->ChunkSize(), static_cast<std::int32_t>(36 + n) + pad);
    r->MoveFirst();
    EXPECT_EQ(r->RecordInfo().FileOffset, 20);
    r->MoveNext();
    EXPECT_EQ(r->RecordInfo().FileOffset, 44);
    EXPECT_EQ(r->RecordInfo().RecordSize, static_cast<std::int32_t>(n));
}

INSTANTIATE_TEST_SUITE_P(EvenAndOdd, WaveLayoutTest, ::testing::Values(0u, 6u, 7u, 1001u));

TEST_F(MediaFileWriterTest, ManyRecordsGrowTheTableAndReadBack) {
    // Crosses two blocks of table capacity; odd sizes are padded between records and at the end.
    constexpr int count = 40;
    {
        auto w = Create();
        for (int i = 0; i < count; ++i) {
            ASSERT_TRUE(w->CreateChild(ID("r000") + (i << 24), i));
            ASSERT_TRUE(w->WriteRecord(
                Span(Counting(static_cast<std::size_t>(i), static_cast<std::uint8_t>(i)))));
            EXPECT_EQ(w->RecordInfo().RecordSize, i);
        }
        EXPECT_EQ(w->Records(), count);
    }
    Bytes body;
    for (int i = 0; i < count; ++i) {
        std::string id = "r00";
        id += static_cast<char>('0' + i);
        PutRecord(body, id, Counting(static_cast<std::size_t>(i), static_cast<std::uint8_t>(i)));
    }
    EXPECT_EQ(ReadBytes(path), Container("RIFF", "WAVE", body));
}

// Releasing the parent first must not lose the child's growth: the child keeps it alive.
class NestedChunkTest : public MediaFileWriterTest, public ::testing::WithParamInterface<bool> {};

TEST_P(NestedChunkTest, SizesReachEveryLevelWhateverTheReleaseOrder) {
    const bool parentFirst = GetParam();
    const Bytes text = Counting(10, 'a');
    const Bytes inner = Counting(5, 'A');
    {
        auto top = Create();
        auto list = top->CreateChunk("LIST", "INFO");
        ASSERT_TRUE(list);
        EXPECT_EQ(top->ChunkSize(), 16);
        EXPECT_EQ(list->ChunkSize(), 4);
        EXPECT_EQ(list->ChunkID(), ID("LIST"));
        EXPECT_EQ(list->ChunkType(), ID("INFO"));
        EXPECT_EQ(top->RecordInfo().RecordSize, 4);
        EXPECT_EQ(top->RecordInfo().FileOffset, 20);

        ASSERT_TRUE(list->CreateChild("ISFT", 10));
        ASSERT_TRUE(list->WriteRecord(Span(text)));
        EXPECT_EQ(list->ChunkSize(), 22);
        EXPECT_EQ(top->ChunkSize(), 34);

        auto deep = list->CreateChunk("LIST", "deep");
        ASSERT_TRUE(deep);
        ASSERT_TRUE(deep->CreateChild("in  ", 5));
        ASSERT_TRUE(deep->WriteRecord(Span(inner)));
        EXPECT_EQ(deep->ChunkSize(), 4 + 8 + 6);
        EXPECT_EQ(list->ChunkSize(), 22 + 12 + 14);
        EXPECT_EQ(top->ChunkSize(), 34 + 12 + 14);

        if (parentFirst) {
            top.reset();
            list.reset();
        } else {
            deep.reset();
            list.reset();
        }
    }
    Bytes deepBody, listBody;
    PutRecord(deepBody, "in  ", inner);
    PutRecord(listBody, "ISFT", text);
    Bytes deepBytes = Container("LIST", "deep", deepBody);
    listBody.insert(listBody.end(), deepBytes.begin(), deepBytes.end());
    EXPECT_EQ(ReadBytes(path), Container("RIFF", "WAVE", Container("LIST", "INFO", listBody)));

    auto r = msl.OpenMediaFile(path);
    ASSERT_TRUE(r);
    r->MoveFirst();
    auto sub = r->ExpandChunk();
    EXPECT_EQ(sub->ChunkType(), ID("INFO"));
    EXPECT_EQ(sub->ChunkSize(), 48);
    sub->MoveFirst();
    EXPECT_EQ(sub->RecordInfo().RecordID, ID("ISFT"));
    EXPECT_EQ(sub->RecordInfo().RecordSize, 10);
    std::vector<std::byte> got(10);
    ASSERT_TRUE(sub->ReadRecord(got));
    EXPECT_TRUE(std::equal(got.begin(), got.end(), Span(text).begin()));
}

INSTANTIATE_TEST_SUITE_P(ReleaseOrder, NestedChunkTest, ::testing::Bool());

TEST_F(MediaFileWriterTest, HeaderChangesAreWrittenBackOnlyWhenDirty) {
    FaultyFiles faults;
    Create().reset();
    EXPECT_EQ(faults.plan->writes, 1); // the file header only: nothing to write back
    EXPECT_EQ(ReadBytes(path), Container("RIFF", "WAVE", {}));

    {
        auto w = Create();
        w->ChunkType(ID("AVI "));
        w->ChunkID(ID("RIFX"));
        EXPECT_EQ(w->ChunkType(), ID("AVI "));
    }
    EXPECT_EQ(ReadBytes(path), Container("RIFX", "AVI ", {}));
}

TEST_F(MediaFileWriterTest, OverwriteRulesProtectExistingAndOpenFiles) {
    const Bytes old = WaveFile(Counting(8));
    WriteBytes(path, old);

    EXPECT_FALSE(Create(false));
    EXPECT_EQ(msl.Error(), mfec_CreateFileFailed);
    EXPECT_EQ(ReadBytes(path), old);

    for (bool share : {false, true}) {
        auto reader = msl.OpenMediaFile(path, share);
        ASSERT_TRUE(reader);
        auto expanded = (reader->MoveFirst(), reader->ExpandChunk());
        reader.reset(); // a reader made from it still holds the file
        EXPECT_FALSE(Create(true));
        EXPECT_EQ(msl.Error(), mfec_CreateFileFailed);
        EXPECT_EQ(ReadBytes(path), old);
    }

    {
        auto w = Create(true);
        ASSERT_TRUE(w);
        EXPECT_EQ(msl.Error(), mfec_NoError);
        EXPECT_EQ(ReadBytes(path), Container("RIFF", "WAVE", {}));
        EXPECT_FALSE(Create(true)); // held by a writer
        EXPECT_EQ(msl.Error(), mfec_CreateFileFailed);
    }
    EXPECT_FALSE(msl.CreateMediaFile(dir.File("no/such/folder.wav"), "RIFF", "WAVE", true));
    EXPECT_EQ(msl.Error(), mfec_CreateFileFailed);
    EXPECT_FALSE(msl.CreateMediaFile(dir.Path().string(), "RIFF", "WAVE", true));
    EXPECT_EQ(msl.Error(), mfec_CreateFileFailed);
}

TEST_F(MediaFileWriterTest, BadRequestsRaiseTheRangeErrorAndWriteNothing) {
    auto w = Create();
    try {
        (void)w->WriteRecord(Span(Counting(4)));
        FAIL() << "WriteRecord before any record";
    } catch (const RangeError& e) {
        EXPECT_EQ(e.Number(), 9);
    }
    EXPECT_THROW((void)w->RecordInfo(), RangeError);
    EXPECT_THROW((void)w->CreateChild("neg ", -2), RangeError);
    EXPECT_EQ(w->Records(), 0);
    EXPECT_EQ(w->ChunkSize(), 4);

    ASSERT_TRUE(w->CreateChild("fmt ", 16));
    const Bytes data = Counting(16, 100);
    EXPECT_THROW((void)w->WriteRecord(Span(data), 8, 16), RangeError);
    EXPECT_THROW((void)w->WriteRecord(Span(data), -1, 4), RangeError);
    EXPECT_THROW((void)w->WriteRecord(Span(data), 0, -1), RangeError);
    EXPECT_THROW((void)w->WriteRecord(Span(Counting(8)), 0, 0), RangeError); // span too small
    try {
        (void)w->WriteRecord(Span(data), std::numeric_limits<std::int32_t>::max(), 1);
        FAIL() << "offset plus size beyond 32 bits";
    } catch (const OverflowError& e) {
        EXPECT_EQ(e.Number(), 6);
    }
    EXPECT_EQ(ReadBytes(path).size(), 20u); // only headers so far

    // The rest of the record from offset 8 lands at FileOffset + 8.
    ASSERT_TRUE(w->WriteRecord(Span(data), 8, 0));
    const Bytes onDisk = ReadBytes(path);
    ASSERT_EQ(onDisk.size(), 36u);
    EXPECT_TRUE(std::equal(onDisk.begin() + 28, onDisk.end(), data.begin()));
}

TEST_F(MediaFileWriterTest, SizesBeyond32BitsRaiseTheOverflowErrorAndChangeNothing) {
    constexpr std::int32_t max = std::numeric_limits<std::int32_t>::max();
    auto top = Create();
    EXPECT_THROW((void)top->CreateChild("big ", max), OverflowError);
    EXPECT_EQ(top->Records(), 0);
    EXPECT_EQ(top->ChunkSize(), 4);

    // Even, so reserved and not written: the file stays small.
    ASSERT_TRUE(top->CreateChild("big ", max - 1001));
    auto sub = top->CreateChunk("LIST", "INFO");
    ASSERT_TRUE(sub);
    const std::int32_t topSize = top->ChunkSize();
    EXPECT_EQ(topSize, 4 + 8 + (max - 1001) + 12);
    try {
        (void)sub->CreateChild("more", 1000);
        FAIL() << "a growth past 32 bits";
    } catch (const OverflowError& e) {
        EXPECT_EQ(e.Number(), 6);
    }
    EXPECT_EQ(sub->ChunkSize(), 4);
    EXPECT_EQ(top->ChunkSize(), topSize);
    EXPECT_EQ(sub->Records(), 0);
}

TEST_F(MediaFileWriterTest, FailedWritesAreReportedAndLeaveNoGrowth) {
    FaultyFiles faults;
    auto w = Create();
    ASSERT_TRUE(w);

    FailWrites(faults, true);
    EXPECT_FALSE(w->CreateChild("fmt ", 16));
    EXPECT_EQ(w->Records(), 1);
    EXPECT_EQ(w->ChunkSize(), 4);
    EXPECT_THROW((void)w->RecordInfo(), RangeError);
    EXPECT_FALSE(w->CreateChild("odd ", 3));
    EXPECT_FALSE(w->CreateChunk("LIST", "INFO"));
    EXPECT_EQ(w->Records(), 3);
    EXPECT_EQ(w->ChunkSize(), 4);

    FailWrites(faults, false);
    ASSERT_TRUE(w->CreateChild("data", 4));
    EXPECT_EQ(w->RecordInfo().FileOffset, 20); // same append offset as the failed ones
    FailWrites(faults, true);
    EXPECT_FALSE(w->WriteRecord(Span(Counting(4))));
    FailWrites(faults, false);
    ASSERT_TRUE(w->WriteRecord(Span(Counting(4))));
    w.reset();
    Bytes body;
    PutRecord(body, "data", Counting(4));
    EXPECT_EQ(ReadBytes(path), Container("RIFF", "WAVE", body));
}

// A write-back that fails at the last moment is told by Finish, on every level, and tried
// again; the bytes on disk are complete only once it says so.
TEST_F(MediaFileWriterTest, FinishReportsTheWriteBackOfEveryLevel) {
    FaultyFiles faults;
    auto top = Create();
    auto list = top->CreateChunk("LIST", "INFO");
    ASSERT_TRUE(list && list->CreateChild("ISFT", 3));
    ASSERT_TRUE(list->WriteRecord(Span(Counting(3))));

    FailWrites(faults, true);
    EXPECT_FALSE(list->Finish());
    EXPECT_FALSE(top->Finish());
    FailWrites(faults, false);
    const auto before = faults.plan->writes;
    EXPECT_TRUE(list->Finish());
    EXPECT_EQ(faults.plan->writes, before + 2); // both headers, once each
    EXPECT_TRUE(list->Finish());
    EXPECT_TRUE(top->Finish());
    EXPECT_EQ(faults.plan->writes, before + 2); // nothing left to write

    Bytes listBody;
    PutRecord(listBody, "ISFT", Counting(3));
    const Bytes expected = Container("RIFF", "WAVE", Container("LIST", "INFO", listBody));
    EXPECT_EQ(ReadBytes(path), expected);
    list.reset();
    top.reset();
    EXPECT_EQ(faults.plan->writes, before + 2);
    EXPECT_EQ(ReadBytes(path), expected);
}

TEST_F(MediaFileWriterTest, FailedFileHeaderGivesCodeFourAndClosesTheFile) {
    FaultyFiles faults;
    FailWrites(faults, true);
    EXPECT_FALSE(Create());
    EXPECT_EQ(msl.Error(), mfec_WriteToDataFailed);
    EXPECT_TRUE(std::filesystem::exists(path));

    FailWrites(faults, false);
    EXPECT_TRUE(Create()); // the failed create let go of the file
    EXPECT_EQ(msl.Error(), mfec_NoError);
}

} // namespace
