// What another program meets when it calls the library in unusual ways: odd identifier
// arguments, names the system cannot take, file systems that cannot lock, and growth of a
// container that something already follows.

#include "PlatformFile.h"
#include "TestFiles.h"

#include <chunkwell/MediaSystemLicence.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <sys/file.h>

using namespace chunkwell;
using namespace testfiles;

namespace {

// Only the library makes readers and writers: nothing a caller holds builds one.
static_assert(!std::is_constructible_v<MediaFileReader, std::nullptr_t, std::int32_t>);
static_assert(
    !std::is_constructible_v<MediaFileWriter, std::nullptr_t, std::int32_t, std::nullptr_t>);
static_assert(!std::is_constructible_v<MediaFileReader, std::nullptr_t>);
static_assert(!std::is_base_of_v<std::enable_shared_from_this<MediaFileWriter>, MediaFileWriter>);

static_assert(!std::is_convertible_v<bool, RecordIdArg>);
static_assert(!std::is_convertible_v<wchar_t, RecordIdArg>);
static_assert(!std::is_convertible_v<char32_t, RecordIdArg>);

TEST(RecordIdArg, ConvertsEveryAcceptedTypeOrRaisesTheOverflowError) {
    struct Row {
        const char* what;
        std::int32_t got;
        std::int32_t want;
    };
    const Row rows[] = {
        {"null text", RecordIdArg(static_cast<const char*>(nullptr)).Value(), ID("    ")},
        {"char", RecordIdArg('f').Value(), ID("f   ")},
        {"int16", RecordIdArg(std::int16_t{-5}).Value(), -5},
        {"uint8", RecordIdArg(std::uint8_t{200}).Value(), 200},
        {"int64", RecordIdArg(std::int64_t{0x61746164}).Value(), ID("data")},
        {"uint32", RecordIdArg(std::uint32_t{0x7FFFFFFF}).Value(), 0x7FFFFFFF},
        {"2.5", RecordIdArg(2.5).Value(), 2},
        {"3.5", RecordIdArg(3.5).Value(), 4},
        {"-2.5", RecordIdArg(-2.5).Value(), -2},
        {"2.6f", RecordIdArg(2.6f).Value(), 3},
        {"-2147483648.4", RecordIdArg(-2147483648.4).Value(), std::numeric_limits<int>::min()},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.got, row.want) << row.what;

    EXPECT_THROW(RecordIdArg(std::int64_t{1} << 32), OverflowError);
    EXPECT_THROW(RecordIdArg(std::uint32_t{0x80000000}), OverflowError);
    EXPECT_THROW(RecordIdArg(2147483647.5), OverflowError);
    EXPECT_THROW(RecordIdArg(1e300), OverflowError);
    EXPECT_THROW(RecordIdArg(std::nan("")), OverflowError);
    EXPECT_EQ(MediaSystemLicence().FormatRecordID(static_cast<const char*>(nullptr)), ID("    "));
}

class CallerSafetyTest : public TempFolderTest {
protected:
    MediaSystemLicence msl;
};

TEST_F(CallerSafetyTest, NamesWithANulByteAreRefused) {
    const std::string name = dir.File("abc") + std::string("\0def", 4);
    EXPECT_FALSE(msl.CreateMediaFile(name, "RIFF", "WAVE", true));
    EXPECT_EQ(msl.Error(), mfec_CreateFileFailed);
    EXPECT_FALSE(std::filesystem::exists(dir.File("abc")));

    WriteBytes(dir.File("abc"), WaveFile(Counting(4)));
    EXPECT_FALSE(msl.OpenMediaFile(name));
    EXPECT_EQ(msl.Error(), mfec_OpenFileFailed);
}

// The errno the stand-in flock fails with, and whether it fails shared locks too.
int lockError = 0;
bool lockFailsShared = false;

int FailingFlock(int fd, int operation) {
    if ((operation & LOCK_EX) || lockFailsShared) {
        errno = lockError;
        return -1;
    }
    return ::flock(fd, operation);
}

TEST_F(CallerSafetyTest, OnlyAHeldLockRefusesAFile) {
    const std::string path = dir.File("share.wav");
    WriteBytes(path, WaveFile(Counting(4)));
    struct Row {
        int error;
        bool failsShared;
        bool opens;
    };
    const Row rows[] = {
        {EWOULDBLOCK, false, false}, // in use elsewhere
        {EBADF, false, true},        // NFS: no exclusive lock on a file opened for reading
        {ENOLCK, true, true},
        {EOPNOTSUPP, true, true},
    };
    platform::SetLockForTesting(FailingFlock);
    for (const auto& row : rows) {
        lockError = row.error;
        lockFailsShared = row.failsShared;
        EXPECT_EQ(msl.OpenMediaFile(path) != nullptr, row.opens) << row.error;
        EXPECT_EQ(msl.Error(), row.opens ? mfec_NoError : mfec_OpenFileFailed);
        EXPECT_EQ(msl.CreateMediaFile(dir.File("new.wav"), "RIFF", "WAVE", true) != nullptr,
                  row.opens)
            << row.error;
        EXPECT_EQ(msl.Error(), row.opens ? mfec_NoError : mfec_CreateFileFailed);
    }
    platform::SetLockForTesting(nullptr);
}

TEST_F(CallerSafetyTest, AContainerThatSomethingFollowsCannotGrow) {
    const std::string path = dir.File("out.wav");
    {
        const Bytes two = Counting(2), three = Counting(3);
        auto top = msl.CreateMediaFile(path, "RIFF", "WAVE", true);
        auto list = top->CreateChunk("LIST", "INFO");
        ASSERT_TRUE(list && list->CreateChild("ISFT", 3));
        ASSERT_TRUE(top->CreateChild("data", 2));
        ASSERT_TRUE(top->WriteRecord(std::as_bytes(std::span(two))));
        EXPECT_THROW((void)list->CreateChild("more", 2), RangeError);
        EXPECT_THROW((void)list->CreateChunk("LIST", "deep"), RangeError);
        EXPECT_EQ(list->ChunkSize(), 4 + 8 + 4);
        EXPECT_TRUE(list->WriteRecord(std::as_bytes(std::span(three)))); // no growth
    }
    Bytes listBody, body;
    PutRecord(listBody, "ISFT", Counting(3));
    body = Container("LIST", "INFO", listBody);
    PutRecord(body, "data", Counting(2));
    EXPECT_EQ(ReadBytes(path), Container("RIFF", "WAVE", body));
}

// The conveniences beside the walk: a range-for over the records, finding by identifier,
// the count of bytes a read delivered, paths, and sizes of any integer type.
TEST_F(CallerSafetyTest, ConveniencesKeepTheLazyWalkAndCheckWhatTheyAreGiven) {
    Bytes body;
    for (int i = 0; i < 25; ++i)
        PutRecord(body, "r0" + std::to_string(10 + i), Counting(static_cast<std::size_t>(i)));
    PutID(body, "data");
    PutLE32(body, 64); // claims 64 bytes, the file holds 40
    const Bytes forty = Counting(40);
    body.insert(body.end(), forty.begin(), forty.end());
    const std::filesystem::path path = dir.Path() / "many.riff";
    WriteBytes(path.string(), Container("RIFF", "TEST", body));

    auto r = msl.OpenMediaFile(path);
    ASSERT_TRUE(r);
    std::int32_t count = 0;
    for (const MEDIARECORDINFO& info : r->Walk()) {
        EXPECT_EQ(info.RecordSize, count);
        if (++count == 3)
            break;
    }
    EXPECT_EQ(r->Records(), 10); // one batch, as MoveFirst and MoveNext would scan
    ASSERT_TRUE(r->FindRecord("r022"));
    EXPECT_EQ(r->Position(), 13);
    EXPECT_EQ(r->Records(), 20);
    EXPECT_FALSE(r->FindRecord(ID("none")));
    EXPECT_TRUE(r->EOF_());
    count = 0;
    for (const MEDIARECORDINFO& info : r->Walk())
        count += info.RecordID == ID("data");
    EXPECT_EQ(r->Records(), 26);
    EXPECT_EQ(count, 1);

    ASSERT_TRUE(r->FindRecord("data"));
    std::vector<std::byte> buffer(64);
    EXPECT_TRUE(r->ReadRecord(buffer));
    EXPECT_EQ(r->ReadRecordDelivered(buffer), 40);
    EXPECT_EQ(r->ReadRecordDelivered(buffer, 8, 8), 8);
    EXPECT_EQ(r->ReadRecordDelivered(buffer, 60, 8), -1); // outside the record
    EXPECT_TRUE(r->ReadRecord(buffer, std::size_t{4}, std::int64_t{8}));
    EXPECT_THROW((void)r->ReadRecord(buffer, std::int64_t{1} << 32), OverflowError);

    auto w = msl.CreateMediaFile(dir.Path() / "out.riff", "RIFF", "TEST", true);
    ASSERT_TRUE(w);
    EXPECT_THROW((void)w->CreateChild("big ", std::int64_t{1} << 31), OverflowError);
    ASSERT_TRUE(w->CreateChild("data", std::size_t{8}));
    EXPECT_TRUE(w->WriteRecord(std::span<const std::byte>(buffer), std::size_t{0}, 8L));
    EXPECT_THROW((void)w->WriteRecord(std::span<const std::byte>(buffer), -1L << 33),
                 OverflowError);

    EXPECT_FALSE(msl.OpenMediaFile(static_cast<const char*>(nullptr)));
    EXPECT_EQ(msl.Error(), mfec_OpenFileFailed);
    EXPECT_FALSE(msl.CreateMediaFile(static_cast<const char*>(nullptr), "RIFF", "WAVE"));
    EXPECT_EQ(msl.Error(), mfec_CreateFileFailed);
}

} // namespace
