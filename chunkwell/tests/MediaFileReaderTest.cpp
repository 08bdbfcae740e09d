// SPDX-License-Identifier: MIT
#include "FaultyFile.h"
#include "TestFiles.h"

#include <chunkwell/MediaSystemLicence.h>

#include <algorithm>
#include <string>

using namespace chunkwell;
using namespace testfiles;

namespace {

class MediaFileReaderTest : public TempFolderTest {
protected:
    std::shared_ptr<MediaFileReader> Open(const Bytes& bytes, bool share = false) {
        path = dir.File("file.bin");
        WriteBytes(path, bytes);
        return msl.OpenMediaFile(path, share);
    }

    // A container of n records named "r001".. with 1 to 3 data bytes each (odd ones padded).
    static Bytes ManyRecords(int n) {
        Bytes body;
        for (int i = 1; i <= n; ++i) {
            PutRecord(body, NthName(i),
                      Counting(static_cast<std::size_t>(1 + i % 3), static_cast<std::uint8_t>(i)));
        }
        return Container("RIFF", "TEST", body);
    }

    static std::string NthName(int i) {
        std::string name = std::to_string(1000 + i % 1000);
        name[0] = 'r';
        return name;
    }
    static std::int32_t NthID(int i) { return ID(NthName(i)); }

    static std::vector<std::byte> Filled(std::size_t n) {
        return std::vector<std::byte>(n, std::byte{0xEE});
    }

    static Bytes AsBytes(const std::vector<std::byte>& b) {
        Bytes out(b.size());
        std::transform(b.begin(), b.end(), out.begin(),
                       [](std::byte x) { return static_cast<std::uint8_t>(x); });
        return out;
    }

    std::string path;
    MediaSystemLicence msl;
};

// ---- layout ----

TEST_F(MediaFileReaderTest, StandardWaveLayoutOffsets) {
    auto r = Open(WaveFile(Counting(8)));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->ChunkID(), ID("RIFF"));
    EXPECT_EQ(r->ChunkType(), ID("WAVE"));
    EXPECT_EQ(r->ChunkSize(), 4 + 24 + 16);
    EXPECT_TRUE(r->BOF());
    EXPECT_EQ(r->Records(), 0);
    r->MoveFirst();
    EXPECT_EQ(r->RecordInfo().RecordID, ID("fmt "));
    EXPECT_EQ(r->RecordInfo().FileOffset, 20);
    EXPECT_EQ(r->RecordInfo().RecordSize, 16);
    r->MoveNext();
    EXPECT_EQ(r->RecordInfo().RecordID, ID("data"));
    EXPECT_EQ(r->RecordInfo().FileOffset, 44);
    EXPECT_EQ(r->RecordInfo().RecordSize, 8);
    r->MoveNext();
    EXPECT_TRUE(r->EOF_());
    EXPECT_EQ(r->Position(), 3);
}

TEST_F(MediaFileReaderTest, OddSizedRecordIsFollowedByPadByte) {
    Bytes body;
    PutRecord(body, "odd ", Counting(3));
    PutRecord(body, "next", Counting(2));
    auto r = Open(Container("RIFF", "TEST", body));
    r->MoveFirst();
    const auto odd = r->RecordInfo();
    EXPECT_EQ(odd.RecordSize, 3);
    r->MoveNext();
    EXPECT_EQ(r->RecordInfo().RecordID, ID("next"));
    EXPECT_EQ(r->RecordInfo().FileOffset, odd.FileOffset + 3 + 1 + 8);
}

TEST_F(MediaFileReaderTest, RecordsAtOrPastEndOffsetAreNotListed) {
    Bytes body;
    PutRecord(body, "in  ", Counting(4));
    Bytes file = Container("RIFF", "TEST", body);
    PutRecord(file, "out ", Counting(4)); // after the container's end
    auto r = Open(file);
    r->MoveLast();
    EXPECT_EQ(r->Records(), 1);
}

// ---- walking ----

TEST_F(MediaFileReaderTest, WalkDiscoversRecordsInBatchesOfRecordCache) {
    for (int cache : {10, 1}) {
        SCOPED_TRACE(cache);
        auto r = Open(ManyRecords(25));
        EXPECT_EQ(r->Records(), 0);
        EXPECT_EQ(r->RecordCache(), 10);
        r->RecordCache(cache);
        r->MoveFirst();
        EXPECT_EQ(r->Records(), cache);
        EXPECT_EQ(r->Position(), 1);
        for (int pos = 2; pos <= 25; ++pos) {
            r->MoveNext();
            ASSERT_EQ(r->Position(), pos);
            EXPECT_EQ(r->RecordInfo().RecordID, NthID(pos));
            // Each step past the known records scans one more batch, up to the end.
            EXPECT_EQ(r->Records(), std::min(25, (pos + cache - 1) / cache * cache)) << pos;
        }
        EXPECT_FALSE(r->EOF_());
        r->MoveNext();
        EXPECT_TRUE(r->EOF_());
        EXPECT_EQ(r->Position(), 26);
        EXPECT_EQ(r->Records(), 25);
        r->MoveNext(); // nothing past EOF
        EXPECT_EQ(r->Position(), 26);
    }
}

TEST_F(MediaFileReaderTest, RecordCacheIgnoresZeroAndNegative) {
    auto r = Open(ManyRecords(25));
    r->RecordCache(3);
    r->RecordCache(0);
    EXPECT_EQ(r->RecordCache(), 3);
    r->RecordCache(-5);
    EXPECT_EQ(r->RecordCache(), 3);
    r->MoveFirst();
    EXPECT_EQ(r->Records(), 3);
}

TEST_F(MediaFileReaderTest, MoveToStaysWithinKnownRecordsAndNeverScans) {
    auto r = Open(ManyRecords(25));
    r->MoveFirst();
    try {
        r->MoveTo(15);
        FAIL() << "MoveTo beyond the known records must raise";
    } catch (const RangeError& e) {
        EXPECT_EQ(e.Number(), 9);
    }
    EXPECT_EQ(r->Records(), 10);
    EXPECT_EQ(r->Position(), 1);

    r->MoveLast();
    EXPECT_EQ(r->Records(), 25);
    EXPECT_EQ(r->Position(), 25);
    EXPECT_THROW(r->MoveTo(26), RangeError);
    EXPECT_THROW(r->MoveTo(0), RangeError);
    EXPECT_EQ(r->Position(), 25);
    r->MoveTo(7);
    EXPECT_EQ(r->RecordInfo().RecordID, NthID(7));
    r->MovePrev();
    EXPECT_EQ(r->Position(), 6);
}

TEST_F(MediaFileReaderTest, MovePrevStepsBackToBofAndFromEof) {
    auto r = Open(ManyRecords(2));
    r->MoveLast();
    r->MoveNext();
    EXPECT_TRUE(r->EOF_());
    r->MovePrev();
    EXPECT_EQ(r->Position(), 2);
    r->MovePrev();
    r->MovePrev();
    EXPECT_TRUE(r->BOF());
    r->MovePrev();
    EXPECT_EQ(r->Position(), 0);
    r->MoveNext(); // from BOF with records known: onto record 1
    EXPECT_EQ(r->Position(), 1);
}

TEST_F(MediaFileReaderTest, RecordInfoNeedsCurrentRecord) {
    auto r = Open(ManyRecords(1));
    EXPECT_THROW((void)r->RecordInfo(), RangeError);
    r->MoveNext(); // from a fresh reader: scans and lands on record 1
    EXPECT_EQ(r->Position(), 1);
    EXPECT_NO_THROW((void)r->RecordInfo());
    r->MoveNext();
    EXPECT_THROW((void)r->RecordInfo(), RangeError);
    std::vector<std::byte> buf(8);
    EXPECT_THROW((void)r->ReadRecord(buf), RangeError);
    EXPECT_THROW((void)r->ExpandChunk(), RangeError);
}

// ---- empty and malformed files ----

TEST_F(MediaFileReaderTest, EmptyFileHasZeroHeaderAndNoRecords) {
    auto r = Open({});
    ASSERT_TRUE(r);
    EXPECT_EQ(msl.Error(), mfec_NoError);
    EXPECT_EQ(r->ChunkID(), 0);
    EXPECT_EQ(r->ChunkSize(), 0);
    EXPECT_EQ(r->ChunkType(), 0);
    r->MoveFirst();
    EXPECT_TRUE(r->BOF());
    r->MoveLast();
    EXPECT_EQ(r->Position(), 0);
    EXPECT_EQ(r->Records(), 0);
}

TEST_F(MediaFileReaderTest, ShortHeaderKeepsMissingFieldsZero) {
    Bytes b;
    PutID(b, "RIFF");
    b.push_back(0x10);
    auto r = Open(b);
    EXPECT_EQ(r->ChunkID(), ID("RIFF"));
    EXPECT_EQ(r->ChunkSize(), 0x10);
    EXPECT_EQ(r->ChunkType(), 0);
}

TEST_F(MediaFileReaderTest, ContainerWithoutRecordsReachesEofOnlyByMoveNext) {
    auto r = Open(Container("RIFF", "WAVE", {}));
    r->MoveFirst();
    EXPECT_EQ(r->Position(), 0);
    EXPECT_TRUE(r->BOF());
    EXPECT_FALSE(r->EOF_());
    r->MoveNext();
    EXPECT_EQ(r->Position(), 1);
    EXPECT_TRUE(r->EOF_());
}

TEST_F(MediaFileReaderTest, TopBitSizeIsListedAndEndsTheScan) {
    Bytes body;
    PutRecord(body, "good", Counting(2));
    PutID(body, "huge");
    PutLE32(body, 0xFFFFFFF0u);
    PutRecord(body, "more", Counting(2)); // unreachable: the scan moved past the end of file
    auto r = Open(Container("RIFF", "TEST", body));
    r->MoveLast();
    EXPECT_EQ(r->Records(), 2);
    EXPECT_EQ(r->RecordInfo().RecordID, ID("huge"));
    EXPECT_EQ(r->RecordInfo().RecordSize, -16);
    std::vector<std::byte> buf(16);
    EXPECT_FALSE(r->ReadRecord(buf));
    r->MoveNext();
    EXPECT_TRUE(r->EOF_());
}

TEST_F(MediaFileReaderTest, SizeMinusOneReadsNextHeaderRightAfter) {
    Bytes body;
    PutID(body, "neg ");
    PutLE32(body, 0xFFFFFFFFu);
    PutRecord(body, "next", Counting(2));
    auto r = Open(Container("RIFF", "TEST", body));
    r->MoveLast();
    ASSERT_EQ(r->Records(), 2);
    r->MoveFirst();
    EXPECT_EQ(r->RecordInfo().RecordSize, -1);
    const auto first = r->RecordInfo().FileOffset;
    r->MoveNext();
    EXPECT_EQ(r->RecordInfo().RecordID, ID("next"));
    EXPECT_EQ(r->RecordInfo().FileOffset, first + 8);
}

TEST_F(MediaFileReaderTest, TruncatedFileListsWholeHeadersAndReadsWhatIsThere) {
    Bytes body;
    PutRecord(body, "one ", Counting(4));
    PutRecord(body, "two ", Counting(16, 100));
    PutRecord(body, "thr ", Counting(4));
    Bytes file = Container("RIFF", "TEST", body);
    file.resize(12 + 12 + 8 + 6); // cut inside the data of "two "
    auto r = Open(file);
    r->MoveLast();
    ASSERT_EQ(r->Records(), 2);
    EXPECT_EQ(r->RecordInfo().RecordSize, 16);
    auto buf = Filled(16);
    EXPECT_TRUE(r->ReadRecord(buf));
    Bytes expected(16, 0xEE);
    const Bytes there = Counting(6, 100);
    std::copy(there.begin(), there.end(), expected.begin());
    EXPECT_EQ(AsBytes(buf), expected);
}

TEST_F(MediaFileReaderTest, HalfHeaderAtEndIsNotListed) {
    Bytes body;
    PutRecord(body, "one ", Counting(4));
    PutID(body, "cut ");
    Bytes file = Container("RIFF", "TEST", body);
    PutLE32(file, 0); // make the container size claim more than is there
    file[4] = 100;
    file.resize(file.size() - 2);
    auto r = Open(file);
    r->MoveLast();
    EXPECT_EQ(r->Records(), 1);
    r->MoveNext();
    EXPECT_TRUE(r->EOF_());
}

TEST_F(MediaFileReaderTest, HeaderSizeLeavingInt32FailsCreation) {
    Bytes b;
    PutID(b, "RIFF");
    PutLE32(b, 0x7FFFFFF8u); // 0 + 8 + size leaves int32
    PutID(b, "WAVE");
    WriteBytes(dir.File("big"), b);
    try {
        (void)msl.OpenMediaFile(dir.File("big"));
        FAIL() << "expected the overflow error";
    } catch (const OverflowError& e) {
        EXPECT_EQ(e.Number(), 6);
    }
    EXPECT_EQ(msl.Error(), mfec_NoError);
    // The failed reader let go of the file: it can be opened again alone.
    b[4] = 0xF7;
    WriteBytes(dir.File("big"), b);
    EXPECT_TRUE(msl.OpenMediaFile(dir.File("big")));
}

TEST_F(MediaFileReaderTest, RecordSizeOverflowKeepsEntryAndEndsScanForGood) {
    Bytes body;
    PutRecord(body, "one ", Counting(2));
    PutID(body, "max ");
    PutLE32(body, 0x7FFFFFFFu); // odd: size + pad leaves int32
    PutRecord(body, "two ", Counting(2));
    auto r = Open(Container("RIFF", "TEST", body));
    EXPECT_THROW(r->MoveFirst(), OverflowError);
    EXPECT_EQ(r->Records(), 2);
    EXPECT_EQ(r->Position(), 0);
    r->MoveNext();
    r->MoveNext();
    EXPECT_EQ(r->RecordInfo().RecordSize, 0x7FFFFFFF);
    r->MoveNext(); // no second listing of the same header
    EXPECT_TRUE(r->EOF_());
    EXPECT_EQ(r->Records(), 2);
    EXPECT_NO_THROW(r->MoveLast());
}

// ---- ReadRecord ----

class ReadRecordTest : public MediaFileReaderTest {
protected:
    void SetUp() override {
        Bytes body;
        PutRecord(body, "data", Counting(16, 1));
        r = Open(Container("RIFF", "TEST", body));
        r->MoveFirst();
    }
    std::shared_ptr<MediaFileReader> r;
};

// A request is read whole or refused whole: a refused one leaves the buffer untouched.
TEST_F(ReadRecordTest, RequestsFillOnlyWhatTheyAskForOrNothing) {
    struct Row {
        const char* name;
        std::size_t span;
        std::int32_t offset;
        std::int32_t size;
        Bytes read; // empty: refused
    };
    Bytes rest = Counting(12, 5);
    rest.resize(16, 0xEE);
    const Row rows[] = {
        {"whole record by default", 16, 0, 0, Counting(16, 1)},
        {"offset 4, size 0: the rest", 16, 4, 0, rest},
        {"partial read inside the record", 3, 13, 3, Counting(3, 14)},
        {"past the record's end", 16, 10, 8, {}},
        {"negative size", 16, 0, -1, {}},
        {"negative offset", 16, -4, 4, {}},
        {"negative offset, rest of record", 32, -4, 0, {}},
        {"rest of record larger than the buffer", 8, 0, 0, {}},
        {"explicit size larger than the buffer", 4, 0, 5, {}},
        {"offset at the end, then one byte", 16, 16, 1, {}},
    };
    for (const auto& row : rows) {
        auto buf = Filled(row.span);
        const bool ok = row.offset == 0 && row.size == 0 && row.span == 16
                            ? r->ReadRecord(buf)
                            : r->ReadRecord(buf, row.offset, row.size);
        EXPECT_EQ(ok, !row.read.empty()) << row.name;
        EXPECT_EQ(AsBytes(buf), ok ? row.read : Bytes(row.span, 0xEE)) << row.name;
    }
    EXPECT_EQ(msl.Error(), mfec_NoError);
}

TEST_F(ReadRecordTest, OffsetPlusSizeLeavingInt32IsOverflow) {
    auto buf = Filled(16);
    EXPECT_THROW((void)r->ReadRecord(buf, 0x7FFFFFFF, 1), OverflowError);
}

TEST_F(ReadRecordTest, ReadsRightDespiteAnotherReaderMovingThePointer) {
    // Two readers over the same open file: the expanded one moves the pointer too.
    auto inner = r->ExpandChunk();
    inner->MoveLast();
    auto buf = Filled(4);
    EXPECT_TRUE(r->ReadRecord(buf, 8, 4));
    EXPECT_EQ(AsBytes(buf), Counting(4, 9));
    EXPECT_TRUE(r->ReadRecord(buf, 0, 4));
    EXPECT_EQ(AsBytes(buf), Counting(4, 1));
}

// ---- ExpandChunk ----

TEST_F(MediaFileReaderTest, ExpandChunkReadsNestedContainer) {
    Bytes list;
    PutID(list, "INFO");
    PutRecord(list, "INAM", Counting(5));
    PutRecord(list, "IART", Counting(2));
    Bytes body;
    PutRecord(body, "fmt ", PcmFormat(1, 8000, 8));
    PutRecord(body, "LIST", list);
    PutRecord(body, "data", Counting(4));
    auto r = Open(Container("RIFF", "WAVE", body));
    r->MoveFirst();
    r->MoveNext();
    const auto outer = r->RecordInfo();
    ASSERT_EQ(outer.RecordID, ID("LIST"));

    auto sub = r->ExpandChunk();
    EXPECT_EQ(sub->ChunkID(), ID("LIST"));
    EXPECT_EQ(sub->ChunkType(), ID("INFO"));
    EXPECT_EQ(sub->ChunkSize(), outer.RecordSize);
    EXPECT_EQ(sub->RecordCache(), 10);
    EXPECT_TRUE(sub->BOF());
    sub->MoveFirst();
    EXPECT_EQ(sub->RecordInfo().RecordID, ID("INAM"));
    EXPECT_EQ(sub->RecordInfo().FileOffset, outer.FileOffset + 4 + 8);
    sub->MoveNext();
    EXPECT_EQ(sub->RecordInfo().RecordID, ID("IART"));
    auto buf = Filled(2);
    EXPECT_TRUE(sub->ReadRecord(buf));
    EXPECT_EQ(AsBytes(buf), Counting(2));
    sub->MoveNext();
    EXPECT_TRUE(sub->EOF_());
    EXPECT_EQ(sub->Records(), 2);

    EXPECT_EQ(r->Position(), 2);
    r->MoveNext();
    EXPECT_EQ(r->RecordInfo().RecordID, ID("data"));
}

TEST_F(MediaFileReaderTest, ExpandedReaderKeepsFileOpen) {
    Bytes body;
    PutRecord(body, "LIST", Container("LIST", "INFO", {}));
    auto r = Open(Container("RIFF", "TEST", body));
    r->MoveFirst();
    auto sub = r->ExpandChunk();
    r.reset();
    EXPECT_FALSE(msl.OpenMediaFile(path));
    EXPECT_EQ(msl.Error(), mfec_OpenFileFailed);
    sub.reset();
    EXPECT_TRUE(msl.OpenMediaFile(path));
}

TEST_F(MediaFileReaderTest, ExpandChunkSizeLeavingInt32IsOverflow) {
    Bytes body;
    PutID(body, "big ");
    PutLE32(body, 0x7FFFFFF0u);
    auto r = Open(Container("RIFF", "TEST", body));
    r->MoveFirst();
    EXPECT_EQ(r->Records(), 1);
    EXPECT_THROW((void)r->ExpandChunk(), OverflowError);
    EXPECT_EQ(r->Position(), 1);
}

// ---- file layer failures ----

TEST_F(MediaFileReaderTest, FailedHeaderReadEndsScanQuietlyAndIsRetried) {
    FaultyFiles faults;
    auto r = Open(ManyRecords(3));
    ASSERT_TRUE(r);
    faults.plan->failReadsFrom = faults.plan->reads + 1; // the second record header
    EXPECT_NO_THROW(r->MoveFirst());
    EXPECT_EQ(r->Records(), 1);
    r->MoveNext();
    EXPECT_TRUE(r->EOF_());
    faults.plan->failReadsFrom = -1;
    r->MovePrev();
    r->MoveNext(); // from the last known record: scans again from where it stopped
    EXPECT_EQ(r->Records(), 3);
    EXPECT_EQ(r->RecordInfo().RecordID, NthID(2));
}

TEST_F(MediaFileReaderTest, FailedDataReadOrSeekReturnsFalse) {
    for (bool seek : {false, true}) {
        SCOPED_TRACE(seek ? "seek" : "read");
        FaultyFiles faults;
        auto r = Open(WaveFile(Counting(8)));
        r->MoveLast();
        if (seek)
            faults.plan->failSeeksFrom = faults.plan->seeks;
        else
            faults.plan->failReadsFrom = faults.plan->reads;
        auto buf = Filled(8);
        EXPECT_FALSE(r->ReadRecord(buf, 0, 8));
        EXPECT_EQ(AsBytes(buf), Bytes(8, 0xEE));
        EXPECT_EQ(msl.Error(), mfec_NoError);
    }
}

TEST_F(MediaFileReaderTest, ScanReadsHeadersOnlyAndSkipsRedundantMoves) {
    FaultyFiles faults;
    auto r = Open(WaveFile(Counting(8)));
    EXPECT_EQ(faults.plan->log, (std::vector<std::string>{"seek cur 0", "read 12"}));
    faults.plan->log.clear();
    r->MoveLast();
    // Already at offset 12: no move before the first header; then header, step over data.
    EXPECT_EQ(faults.plan->log, (std::vector<std::string>{"seek cur 0", "read 8", "seek cur 16",
                                                          "read 8", "seek cur 8"}));
}

} // namespace
