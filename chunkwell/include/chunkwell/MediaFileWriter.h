#pragma once

#include <chunkwell/MediaTypes.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace chunkwell {

class TagMediaFile;
class MediaEvent;
class MediaFileReader;

// Appends records and sub-containers to one container of a chunk file.
//
// Writing is append-only: each record goes at the end of this container. Sizes are
// kept in memory (every growth reaches this container and every container around
// it at once) and the 12-byte header is written back when the writer is released,
// which is how a file is finished. A sub-container must be complete before its
// parent adds anything after it.
class CHUNKWELL_API MediaFileWriter : public std::enable_shared_from_this<MediaFileWriter> {
public:
    // Created only by MediaSystemLicence::CreateMediaFile and CreateChunk.
    MediaFileWriter(std::shared_ptr<TagMediaFile> file, std::int32_t headerOffset,
                    std::shared_ptr<MediaFileWriter> parent);
    ~MediaFileWriter();
    MediaFileWriter(const MediaFileWriter&) = delete;
    MediaFileWriter& operator=(const MediaFileWriter&) = delete;

    // Returns the container's identifier.
    std::int32_t ChunkID() const { return m_ChunkID; }
    // Returns the container's type.
    std::int32_t ChunkType() const { return m_ChunkType; }
    // Sets the identifier written back at release.
    void ChunkID(std::int32_t value);
    // Returns the container's size as grown so far.
    std::int32_t ChunkSize() const { return m_ChunkSize; }
    // Sets the type written back at release.
    void ChunkType(std::int32_t value);

    // Returns the last record added; raises RangeError before the first.
    MEDIARECORDINFO RecordInfo() const;
    // Appends a record header reserving RecordSize data bytes (and the pad byte).
    bool CreateChild(RecordIdArg RecordID, std::int32_t RecordSize);
    // Appends a sub-container and returns its writer, or nothing when the header write fails.
    std::shared_ptr<MediaFileWriter> CreateChunk(RecordIdArg RecordID, RecordIdArg RecordType);
    // Returns the number of records added, failed ones included.
    std::int32_t Records() const { return m_Records; }

    // Writes WriteSize bytes (0: the rest of the record) of lpWriteData at WriteOffset of the
    // last record added. Raises RangeError for a request outside the record or larger than
    // lpWriteData. BytesWritten is accepted and ignored.
    bool WriteRecord(std::span<const std::byte> lpWriteData, std::int32_t WriteOffset = 0,
                     std::int32_t WriteSize = 0, std::int32_t BytesWritten = 0);

    // Copies Size bytes of Source's current record, from ReadOffset, into the last record
    // added, at WriteOffset, letting the kernel copy between the files where it can. Returns
    // false unless every byte arrived: a source file that ends inside its record gives false.
    // Size 0 copies nothing. Raises RangeError when Source has no current record, nothing
    // has been added yet, or either range lies outside its record; OverflowError when an
    // offset plus Size leaves 32 bits.
    [[nodiscard]] bool WriteRecordFrom(MediaFileReader& Source, std::int32_t ReadOffset,
                                       std::int32_t WriteOffset, std::int32_t Size);

    // Writes the header of this container and of every container around it back to the
    // file now, and tells whether all of them reached it. Release does the same for what
    // is still unwritten, but has nobody to tell of a failure. Calling it again rewrites
    // only headers changed, or not written, since; with nothing left to write it returns true.
    [[nodiscard]] bool Finish();

private:
    void AddRecordSlot();
    void OnSizeUpdate(std::int32_t& vNewValue);
    // Raises the overflow error unless growth fits this container and every one around it.
    void CheckGrowth(std::int64_t growth) const;
    // Positions the shared file pointer at offset and writes there; false on any failure.
    bool WriteAt(std::int32_t offset, const std::byte* data, std::int32_t size);
    // Adds an entry for a record at the end of this container, growth bytes long with its
    // header, and writes its 8-byte header; false when that write fails.
    bool AppendRecordHeader(std::int32_t id, std::int32_t size, std::int64_t growth);
    bool WriteHeader();

    std::int32_t m_HeaderOffset = 0;
    std::int32_t m_ChunkID = 0;
    std::int32_t m_ChunkSize = 0;
    std::int32_t m_ChunkType = 0;
    std::vector<MEDIARECORDINFO> m_Table;
    std::int32_t m_Records = 0;
    std::int32_t m_Position = 0;
    bool m_Dirty = false;
    std::shared_ptr<TagMediaFile> m_File;
    std::unique_ptr<MediaEvent> cEvent;
    // Keeps the enclosing writer alive so that its size is written back after ours.
    std::shared_ptr<MediaFileWriter> m_Parent;
};

} // namespace chunkwell
