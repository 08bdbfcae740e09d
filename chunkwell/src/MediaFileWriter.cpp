#include <chunkwell/MediaFileReader.h>
#include <chunkwell/MediaFileWriter.h>

#include "MediaEvent.h"
#include "TagMediaFile.h"

#include <array>
#include <limits>
#include <string>

namespace chunkwell {
namespace {

constexpr std::int64_t kMax32 = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kMin32 = std::numeric_limits<std::int32_t>::min();

void PutLE32(std::byte* out, std::int32_t value) {
    auto u = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<std::byte>((u >> (8 * i)) & 0xFFu);
}

std::int32_t GetLE32(const std::byte* in) {
    std::uint32_t u = 0;
    for (int i = 0; i < 4; ++i)
        u |= static_cast<std::uint32_t>(in[i]) << (8 * i);
    return static_cast<std::int32_t>(u);
}

std::int64_t AppendOffset(std::int32_t headerOffset, std::int32_t chunkSize) {
    return static_cast<std::int64_t>(headerOffset) + 8 + chunkSize;
}

} // namespace

MediaFileWriter::MediaFileWriter(std::shared_ptr<TagMediaFile> file, std::int32_t headerOffset,
                                 std::shared_ptr<MediaFileWriter> parent)
    : m_HeaderOffset(headerOffset), m_File(std::move(file)),
      cEvent(std::make_unique<MediaEvent>(parent ? parent->cEvent.get() : nullptr)),
      m_Parent(std::move(parent)) {
    cEvent->Listen([this](std::int32_t& vNewValue) { OnSizeUpdate(vNewValue); });

    // Start from what is on disk; a short read leaves the missing fields 0.
    std::array<std::byte, 12> header{};
    platform::FileHandle& handle = m_File->Handle();
    SeekFile(handle, m_HeaderOffset);
    std::uint32_t got = 0;
    handle.Read(header.data(), static_cast<std::uint32_t>(header.size()), got);
    m_ChunkID = GetLE32(&header[0]);
    m_ChunkSize = GetLE32(&header[4]);
    m_ChunkType = GetLE32(&header[8]);
}

MediaFileWriter::~MediaFileWriter() {
    if (m_Dirty)
        (void)WriteHeader(); // nobody is left to tell at release: Finish() is the way to know
}

void MediaFileWriter::ChunkID(std::int32_t value) {
    m_ChunkID = value;
    m_Dirty = true;
}

void MediaFileWriter::ChunkType(std::int32_t value) {
    m_ChunkType = value;
    m_Dirty = true;
}

MEDIARECORDINFO MediaFileWriter::RecordInfo() const {
    if (m_Position == 0)
        throw RangeError("RecordInfo: no record has been added yet");
    return m_Table[static_cast<std::size_t>(m_Position - 1)];
}

void MediaFileWriter::AddRecordSlot() {
    if (m_Records == std::numeric_limits<std::int32_t>::max())
        throw OverflowError("AddRecordSlot: too many records");
    if (m_Records % 16 == 0)
        m_Table.resize(static_cast<std::size_t>(m_Records) + 16);
    ++m_Records;
}

void MediaFileWriter::CheckGrowth(std::int64_t growth) const {
    for (const MediaFileWriter* w = this; w != nullptr; w = w->m_Parent.get()) {
        if (static_cast<std::int64_t>(w->m_ChunkSize) + growth > kMax32)
            throw OverflowError("container size leaves the 32-bit range");
    }
}

bool MediaFileWriter::WriteAt(std::int32_t offset, const std::byte* data, std::int32_t size) {
    platform::FileHandle& handle = m_File->Handle();
    if (SeekFile(handle, offset) != offset)
        return false;
    std::uint32_t put = 0;
    return handle.Write(data, static_cast<std::uint32_t>(size), put);
}

bool MediaFileWriter::AppendRecordHeader(std::int32_t id, std::int32_t size, std::int64_t growth) {
    const std::int64_t append = AppendOffset(m_HeaderOffset, m_ChunkSize);
    if (append + growth > kMax32)
        throw OverflowError("file offset leaves the 32-bit range");
    CheckGrowth(growth);

    AddRecordSlot();
    MEDIARECORDINFO& entry = m_Table[static_cast<std::size_t>(m_Records - 1)];
    entry.RecordID = id;
    entry.RecordSize = size;
    entry.FileOffset = static_cast<std::int32_t>(append + 8);

    std::array<std::byte, 8> header{};
    PutLE32(&header[0], entry.RecordID);
    PutLE32(&header[4], entry.RecordSize);
    return WriteAt(static_cast<std::int32_t>(append), header.data(), 8);
}

bool MediaFileWriter::CreateChild(RecordIdArg RecordID, std::int32_t RecordSize) {
    if (RecordSize < 0)
        throw RangeError("CreateChild: negative record size");
    const std::int64_t pad = RecordSize & 1;
    const std::int64_t growth = 8 + static_cast<std::int64_t>(RecordSize) + pad;
    if (!AppendRecordHeader(RecordID.Value(), RecordSize, growth))
        return false;
    const MEDIARECORDINFO& entry = m_Table[static_cast<std::size_t>(m_Records - 1)];
    // The pad byte goes on disk now, so a file ending in an odd record is as long as
    // its container sizes say.
    if (pad != 0) {
        const std::byte zero{0};
        if (!WriteAt(entry.FileOffset + RecordSize, &zero, 1))
            return false;
    }

    cEvent->RaiseSizeUpdate(static_cast<std::int32_t>(growth));
    m_Position = m_Records;
    return true;
}

std::shared_ptr<MediaFileWriter> MediaFileWriter::CreateChunk(RecordIdArg RecordID,
                                                              RecordIdArg RecordType) {
    if (!AppendRecordHeader(RecordID.Value(), 4, 12))
        return nullptr;
    const MEDIARECORDINFO& entry = m_Table[static_cast<std::size_t>(m_Records - 1)];
    const std::int32_t append = entry.FileOffset - 8;
    std::array<std::byte, 4> type{};
    PutLE32(type.data(), RecordType.Value());
    WriteAt(entry.FileOffset, type.data(), 4); // the new writer reads back whatever landed

    cEvent->RaiseSizeUpdate(12);
    m_Position = m_Records;
    return std::make_shared<MediaFileWriter>(m_File, append, shared_from_this());
}

bool MediaFileWriter::WriteRecord(std::span<const std::byte> lpWriteData, std::int32_t WriteOffset,
                                  std::int32_t WriteSize, std::int32_t /*BytesWritten*/) {
    if (m_Position == 0)
        throw RangeError("WriteRecord: no record has been added yet");
    const std::int64_t end = static_cast<std::int64_t>(WriteOffset) + WriteSize;
    if (end > kMax32 || end < kMin32)
        throw OverflowError("WriteRecord: offset and size leave the 32-bit range");
    const MEDIARECORDINFO& entry = m_Table[static_cast<std::size_t>(m_Position - 1)];
    if (WriteOffset < 0 || WriteSize < 0 || end > entry.RecordSize)
        throw RangeError("WriteRecord: request outside the record");
    if (WriteSize == 0)
        WriteSize = entry.RecordSize - WriteOffset;
    if (static_cast<std::size_t>(WriteSize) > lpWriteData.size())
        throw RangeError("WriteRecord: request larger than the data given");
    const std::int64_t at = static_cast<std::int64_t>(entry.FileOffset) + WriteOffset;
    if (at > kMax32)
        throw OverflowError("WriteRecord: file offset leaves the 32-bit range");
    return WriteAt(static_cast<std::int32_t>(at), lpWriteData.data(), WriteSize);
}

void MediaFileWriter::OnSizeUpdate(std::int32_t& vNewValue) {
    const std::int64_t sum = static_cast<std::int64_t>(m_ChunkSize) + vNewValue;
    if (sum > kMax32 || sum < kMin32)
        throw OverflowError("container size leaves the 32-bit range");
    m_ChunkSize = static_cast<std::int32_t>(sum);
    m_Dirty = true;
}

bool MediaFileWriter::WriteHeader() {
    std::array<std::byte, 12> header{};
    PutLE32(&header[0], m_ChunkID);
    PutLE32(&header[4], m_ChunkSize);
    PutLE32(&header[8], m_ChunkType);
    // A header that did not reach the file stays dirty, so release tries once more.
    m_Dirty = !WriteAt(m_HeaderOffset, header.data(), 12);
    return !m_Dirty;
}

bool MediaFileWriter::WriteRecordFrom(MediaFileReader& Source, std::int32_t ReadOffset,
                                      std::int32_t WriteOffset, std::int32_t Size) {
    const MEDIARECORDINFO from = Source.RecordInfo();
    if (m_Position == 0)
        throw RangeError("WriteRecordFrom: no record has been added yet");
    const MEDIARECORDINFO& to = m_Table[static_cast<std::size_t>(m_Position - 1)];
    const std::int64_t readEnd = static_cast<std::int64_t>(ReadOffset) + Size;
    const std::int64_t writeEnd = static_cast<std::int64_t>(WriteOffset) + Size;
    if (readEnd > kMax32 || readEnd < kMin32 || writeEnd > kMax32 || writeEnd < kMin32)
        throw OverflowError("WriteRecordFrom: offset and size leave the 32-bit range");
    if (Size < 0 || ReadOffset < 0 || WriteOffset < 0 || readEnd > from.RecordSize ||
        writeEnd > to.RecordSize)
        throw RangeError("WriteRecordFrom: request outside the record");
    const std::int64_t readAt = static_cast<std::int64_t>(from.FileOffset) + ReadOffset;
    if (readAt > kMax32)
        throw OverflowError("WriteRecordFrom: the record's data offset leaves 32 bits");
    if (Size == 0)
        return true;

    // Both file pointers are shared with other readers and writers: set each right here.
    platform::FileHandle& in = Source.m_File->Handle();
    platform::FileHandle& out = m_File->Handle();
    const auto writeAt = to.FileOffset + WriteOffset;
    if (SeekFile(in, static_cast<std::int32_t>(readAt)) != readAt ||
        SeekFile(out, writeAt) != writeAt)
        return false;
    std::uint32_t copied = 0;
    return out.CopyFrom(in, static_cast<std::uint32_t>(Size), copied) &&
           copied == static_cast<std::uint32_t>(Size);
}

bool MediaFileWriter::Finish() {
    bool ok = true;
    for (MediaFileWriter* w = this; w != nullptr; w = w->m_Parent.get()) {
        if (w->m_Dirty && !w->WriteHeader())
            ok = false;
    }
    return ok;
}

} // namespace chunkwell
