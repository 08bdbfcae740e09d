#include "FaultyFile.h"
#include "TestFiles.h"

#include <chunkwell/MediaSystemLicence.h>

#include <limits>

using namespace chunkwell;
using namespace testfiles;

namespace {

// Runs once with plain files (the kernel copies) and once through the test seam (the
// bounded buffer, whose reads and writes can be failed).
class WriteRecordFromTest : public TempFolderTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        if (GetParam())
            faults = std::make_unique<FaultyFiles>();
    }
    // Opens a source whose "data" record claims claimed bytes and holds samples.
    std::shared_ptr<MediaFileReader> Source(const Bytes& samples, std::uint32_t claimed,
                                            const std::string& name = "in.wav") {
        const std::string in = dir.File(name);
        Bytes file = WaveFile(samples);
        const std::size_t at = file.size() - samples.size() - (samples.size() & 1) - 4;
        for (int i = 0; i < 4; ++i)
            file[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(claimed >> (8 * i));
        WriteBytes(in, file);
        auto r = msl.OpenMediaFile(in);
        if (r)
            r->MoveLast();
        return r;
    }

    MediaSystemLicence msl;
    std::unique_ptr<FaultyFiles> faults;
    const std::string out = dir.File("out.wav");
};

TEST_P(WriteRecordFromTest, CopiesTheBytesAndTellsWhenTheSourceEndsEarly) {
    const Bytes samples = Counting((1u << 20) + 7, 3); // more than one buffer
    const auto n = static_cast<std::int32_t>(samples.size());
    auto r = Source(samples, static_cast<std::uint32_t>(n));
    ASSERT_TRUE(r);
    {
        auto w = msl.CreateMediaFile(out, "RIFF", "WAVE", true);
        ASSERT_TRUE(w->CreateChild("data", n));
        ASSERT_TRUE(w->WriteRecordFrom(*r, 0, 0, 5));
        ASSERT_TRUE(w->WriteRecordFrom(*r, 5, 5, n - 5));
        EXPECT_TRUE(w->WriteRecordFrom(*r, 0, n, 0));
    }
    Bytes expected;
    PutRecord(expected, "data", samples);
    EXPECT_EQ(ReadBytes(out), Container("RIFF", "WAVE", expected));

    // The record claims 64 bytes, the file holds 40 of them.
    auto shortSource = Source(Counting(40), 64, "short.wav");
    ASSERT_TRUE(shortSource);
    auto w = msl.CreateMediaFile(out, "RIFF", "WAVE", true);
    ASSERT_TRUE(w->CreateChild("data", 64));
    EXPECT_TRUE(w->WriteRecordFrom(*shortSource, 8, 0, 32));
    EXPECT_FALSE(w->WriteRecordFrom(*shortSource, 0, 0, 64));
    EXPECT_FALSE(w->WriteRecordFrom(*shortSource, 40, 0, 1));
}

TEST_P(WriteRecordFromTest, RefusesRequestsOutsideEitherRecord) {
    auto r = Source(Counting(16), 16);
    ASSERT_TRUE(r);
    auto w = msl.CreateMediaFile(out, "RIFF", "WAVE", true);
    EXPECT_THROW((void)w->WriteRecordFrom(*r, 0, 0, 4), RangeError); // nothing added yet
    ASSERT_TRUE(w->CreateChild("data", 8));
    EXPECT_THROW((void)w->WriteRecordFrom(*r, 0, 0, 9), RangeError);  // past the written record
    EXPECT_THROW((void)w->WriteRecordFrom(*r, 10, 0, 8), RangeError); // past the read record
    EXPECT_THROW((void)w->WriteRecordFrom(*r, -1, 0, 4), RangeError);
    EXPECT_THROW((void)w->WriteRecordFrom(*r, 0, 0, -1), RangeError);
    EXPECT_THROW((void)w->WriteRecordFrom(*r, std::numeric_limits<std::int32_t>::max(), 0, 1),
                 OverflowError);
    r->MoveNext(); // EOF: no current record
    EXPECT_THROW((void)w->WriteRecordFrom(*r, 0, 0, 4), RangeError);
    w.reset();
    EXPECT_EQ(ReadBytes(out).size(), 20u); // headers only: nothing was copied

    if (!faults)
        return;
    r->MoveLast();
    w = msl.CreateMediaFile(out, "RIFF", "WAVE", true);
    ASSERT_TRUE(w->CreateChild("data", 8));
    faults->plan->failWritesFrom = faults->plan->writes;
    EXPECT_FALSE(w->WriteRecordFrom(*r, 0, 0, 8));
    faults->plan->failWritesFrom = -1;
    faults->plan->failReadsFrom = faults->plan->reads;
    EXPECT_FALSE(w->WriteRecordFrom(*r, 0, 0, 8));
}

INSTANTIATE_TEST_SUITE_P(KernelAndBuffer, WriteRecordFromTest, ::testing::Bool());

} // namespace
