#include <chunkwell/MediaFileReader.h>

#include "MediaFileImpl.h"

#include <array>
#include <limits>

namespace chunkwell {
namespace {

constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();

bool FitsInt32(std::int64_t v) {
    return v >= kInt32Min && v <= kInt32Max;
}

std::int32_t LE32(const std::byte* p) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<std::uint32_t>(p[i]);
    return static_cast<std::int32_t>(v);
}

} // namespace

MediaFileReader::Impl::Impl(std::shared_ptr<TagMediaFile> file, std::int32_t headerOffset)
    : m_HeaderOffset(headerOffset), m_File(std::move(file)) {
    // The header read is deliberately unchecked: an empty or short file gives a reader
    // whose missing fields are 0 (and so, with ChunkSize 0, no records).
    auto& handle = m_File->Handle();
    SeekFile(handle, m_HeaderOffset);
    std::array<std::byte, 12> header{};
    std::uint32_t got = 0;
    handle.Read(header.data(), static_cast<std::uint32_t>(header.size()), got);
    m_ChunkID = LE32(header.data());
    m_ChunkSize = LE32(header.data() + 4);
    m_ChunkType = LE32(header.data() + 8);

    const std::int64_t next = std::int64_t{m_HeaderOffset} + 12;
    const std::int64_t end = std::int64_t{m_HeaderOffset} + m_ChunkSize + 8;
    if (!FitsInt32(next) || !FitsInt32(end))
        throw OverflowError("Overflow: the container's header offset and size leave 32 bits");
    m_NextScanOffset = static_cast<std::int32_t>(next);
    m_EndOffset = static_cast<std::int32_t>(end);
}

std::shared_ptr<MediaFileReader> MediaFileReader::Impl::Make(std::shared_ptr<TagMediaFile> file,
                                                             std::int32_t headerOffset) {
    auto impl = std::make_unique<Impl>(std::move(file), headerOffset);
    std::shared_ptr<MediaFileReader> reader(new MediaFileReader(impl.get()));
    impl.release(); // the reader owns it now
    return reader;
}

MediaFileReader::MediaFileReader(Impl* impl) : m_Impl(impl) {}

MediaFileReader::~MediaFileReader() {
    delete m_Impl;
}

std::int32_t MediaFileReader::ChunkType() const {
    return m_Impl->m_ChunkType;
}

std::int32_t MediaFileReader::ChunkID() const {
    return m_Impl->m_ChunkID;
}

std::int32_t MediaFileReader::ChunkSize() const {
    return m_Impl->m_ChunkSize;
}

bool MediaFileReader::EOF_() const {
    return m_Impl->m_Position > Records();
}

bool MediaFileReader::BOF() const {
    return m_Impl->m_Position == 0;
}

std::int32_t MediaFileReader::Position() const {
    return m_Impl->m_Position;
}

std::int32_t MediaFileReader::RecordCache() const {
    return m_Impl->m_RecordCache;
}

std::int32_t MediaFileReader::Records() const {
    return static_cast<std::int32_t>(m_Impl->m_Table.size());
}

// Reads record headers from the next scan offset on, RecordCache at a time (or all of them).
// Only headers are read; each record's data (and its pad byte when the size is odd) is
// stepped over by a relative move, which is unsigned, so the scan never goes backward.
void MediaFileReader::Impl::ScanRecords(bool all) {
    auto& handle = m_File->Handle();
    if (SeekFile(handle, m_NextScanOffset) != m_NextScanOffset)
        return; // the pointer is not where the next header is: read nothing
    std::int32_t batch = 0;
    while ((all || batch != m_RecordCache) && m_NextScanOffset < m_EndOffset) {
        std::array<std::byte, 8> header{};
        std::uint32_t got = 0;
        if (!handle.Read(header.data(), static_cast<std::uint32_t>(header.size()), got) ||
            got != header.size())
            return; // ends quietly; a later walk retries from the same offset

        const std::int64_t fileOffset = std::int64_t{m_NextScanOffset} + 8;
        if (!FitsInt32(fileOffset)) {
            // No later walk could get past this point either: the scan is over for good.
            // (Stopping for good after an overflow, rather than scanning again from the same
            // place on the next walk, is deliberate: a retry could only raise it again.)
            m_NextScanOffset = m_EndOffset;
            throw OverflowError("Overflow: a record's offset leaves 32 bits");
        }
        MEDIARECORDINFO info;
        info.RecordID = LE32(header.data());
        info.RecordSize = LE32(header.data() + 4);
        info.FileOffset = static_cast<std::int32_t>(fileOffset);
        m_Table.push_back(info);

        const std::int64_t step = std::int64_t{info.RecordSize} + (info.RecordSize & 1);
        if (!FitsInt32(step)) {
            // The entry stays listed; marking the scan finished for good keeps a retry
            // from listing the same header again (a deliberate, harmless difference from
            // a scan that would resume here).
            m_NextScanOffset = m_EndOffset;
            throw OverflowError("Overflow: a record's size leaves 32 bits");
        }
        // The distance is unsigned: a negative size other than -1 points past 2 GiB, where
        // no record can be addressed, so the scan is over (it must never wrap backward and
        // list the same headers again).
        const auto distance = static_cast<std::uint32_t>(static_cast<std::int32_t>(step));
        const std::int64_t next = fileOffset + distance;
        if (next > kInt32Max) {
            m_NextScanOffset = m_EndOffset;
            return;
        }
        const std::int64_t moved = handle.Seek(distance, platform::Whence::Current);
        m_NextScanOffset = static_cast<std::int32_t>(next);
        if (moved != next)
            return; // the move failed: a later walk retries from the next header
        ++batch;
    }
}

void MediaFileReader::MoveFirst() {
    Impl& d = *m_Impl;
    if (Records() == 0)
        d.ScanRecords(false);
    if (Records() > 0)
        d.m_Position = 1;
}

void MediaFileReader::MoveNext() {
    Impl& d = *m_Impl;
    if (d.m_Position > Records())
        return;
    if (d.m_Position == Records())
        d.ScanRecords(false);
    ++d.m_Position;
}

void MediaFileReader::MovePrev() {
    Impl& d = *m_Impl;
    if (d.m_Position > 0)
        --d.m_Position;
}

void MediaFileReader::MoveTo(std::int32_t NewPosition) {
    Impl& d = *m_Impl;
    if (NewPosition < 1 || NewPosition > Records())
        throw RangeError("Subscript out of range: no such record discovered");
    d.m_Position = NewPosition;
}

void MediaFileReader::MoveLast() {
    Impl& d = *m_Impl;
    if (d.m_NextScanOffset < d.m_EndOffset)
        d.ScanRecords(true);
    if (Records() > 0)
        d.m_Position = Records();
}

void MediaFileReader::RecordCache(std::int32_t value) {
    Impl& d = *m_Impl;
    if (value > 0)
        d.m_RecordCache = value;
}

MEDIARECORDINFO MediaFileReader::RecordInfo() const {
    const Impl& d = *m_Impl;
    if (d.m_Position < 1 || d.m_Position > Records())
        throw RangeError("Subscript out of range: no current record");
    return d.m_Table[static_cast<std::size_t>(d.m_Position - 1)];
}

std::shared_ptr<MediaFileReader> MediaFileReader::ExpandChunk() const {
    const MEDIARECORDINFO info = RecordInfo();
    return Impl::Make(m_Impl->m_File, info.FileOffset - 8);
}

bool MediaFileReader::ReadRecord(std::span<std::byte> lpReadData, std::int32_t ReadOffset,
                                 std::int32_t ReadSize, std::int32_t /*RetBytesRead*/) {
    // A short read (the file ends inside the record) still counts as success.
    return ReadRecordDelivered(lpReadData, ReadOffset, ReadSize) >= 0;
}

std::int32_t MediaFileReader::ReadRecordDelivered(std::span<std::byte> lpReadData,
                                                  std::int32_t ReadOffset, std::int32_t ReadSize) {
    const MEDIARECORDINFO info = RecordInfo();
    const std::int64_t requestEnd = std::int64_t{ReadOffset} + ReadSize;
    if (!FitsInt32(requestEnd))
        throw OverflowError("Overflow: read offset and size leave 32 bits");
    // Never read outside the record, nor write outside the caller's buffer.
    if (ReadOffset < 0 || ReadSize < 0 || requestEnd > info.RecordSize)
        return -1;
    if (ReadSize == 0)
        ReadSize = info.RecordSize - ReadOffset;
    if (static_cast<std::uint64_t>(ReadSize) > lpReadData.size())
        return -1;

    const std::int64_t at = std::int64_t{info.FileOffset} + ReadOffset;
    if (!FitsInt32(at))
        throw OverflowError("Overflow: the record's data offset leaves 32 bits");
    auto& handle = m_Impl->m_File->Handle();
    if (SeekFile(handle, static_cast<std::int32_t>(at)) != at)
        return -1;
    std::uint32_t got = 0;
    if (!handle.Read(lpReadData.data(), static_cast<std::uint32_t>(ReadSize), got))
        return -1;
    return static_cast<std::int32_t>(got);
}

bool MediaFileReader::FindRecord(RecordIdArg RecordID) {
    for (const MEDIARECORDINFO& r : Walk())
        if (r.RecordID == RecordID.Value())
            return true;
    return false;
}

} // namespace chunkwell
