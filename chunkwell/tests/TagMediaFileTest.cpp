// SPDX-License-Identifier: MIT
#include "TagMediaFile.h"
#include "FaultyFile.h"
#include "TestFiles.h"

using namespace chunkwell;
using namespace testfiles;

namespace {

class SeekFileTest : public TempFolderTest {
protected:
    void SetUp() override {
        WriteBytes(dir.File("f"), Counting(64));
        file = std::make_unique<TagMediaFile>(platform::OpenExisting(dir.File("f"), false));
        faults.plan->log.clear();
    }
    std::vector<std::string>& Log() { return faults.plan->log; }

    FaultyFiles faults;
    std::unique_ptr<TagMediaFile> file;
};

TEST_F(SeekFileTest, StaysPutOrMovesForwardByTheDifference) {
    EXPECT_EQ(SeekFile(file->Handle(), 0), 0);
    EXPECT_EQ(SeekFile(file->Handle(), 10), 10);
    EXPECT_EQ(SeekFile(file->Handle(), 30), 30);
    EXPECT_EQ(Log(), (std::vector<std::string>{"seek cur 0", "seek cur 0", "seek cur 10",
                                               "seek cur 0", "seek cur 20"}));
    std::uint8_t byte = 0;
    std::uint32_t got = 0;
    ASSERT_TRUE(file->Handle().Read(&byte, 1, got));
    EXPECT_EQ(byte, 30);
}

TEST_F(SeekFileTest, MovesBackFromTheStart) {
    SeekFile(file->Handle(), 40);
    Log().clear();
    EXPECT_EQ(SeekFile(file->Handle(), 4), 4);
    EXPECT_EQ(Log(), (std::vector<std::string>{"seek cur 0", "seek begin 4"}));
}

TEST_F(SeekFileTest, NegativeOffsetIsAnUnsignedPositionBeyondTwoGiB) {
    const std::int32_t far = static_cast<std::int32_t>(0x80000004u);
    EXPECT_EQ(SeekFile(file->Handle(), far), far);
    EXPECT_EQ(file->Handle().Seek(0, platform::Whence::Current), 0x80000004);
    // From beyond 2 GiB a small offset is reached from the start, not by wrapping forward.
    EXPECT_EQ(SeekFile(file->Handle(), 12), 12);
    EXPECT_EQ(file->Handle().Seek(0, platform::Whence::Current), 12);
}

} // namespace
