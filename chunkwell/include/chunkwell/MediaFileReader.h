#pragma once

#include <chunkwell/MediaTypes.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace chunkwell {

class TagMediaFile;

// Walks the records of one container of a chunk file and reads their data.
//
// Record headers are discovered lazily, RecordCache() at a time, only when a walk
// passes the records already known: Records() counts what has been found so far,
// not what the container holds. All readers of one opened file share one file
// pointer, so every read first positions it.
class CHUNKWELL_API MediaFileReader {
public:
    // Created only by MediaSystemLicence::OpenMediaFile and ExpandChunk.
    MediaFileReader(std::shared_ptr<TagMediaFile> file, std::int32_t headerOffset);
    ~MediaFileReader();
    MediaFileReader(const MediaFileReader&) = delete;
    MediaFileReader& operator=(const MediaFileReader&) = delete;

    // Returns the container's type.
    std::int32_t ChunkType() const { return m_ChunkType; }
    // Returns the container's identifier.
    std::int32_t ChunkID() const { return m_ChunkID; }
    // Returns the container's size field.
    std::int32_t ChunkSize() const { return m_ChunkSize; }
    // Tells whether the reader stands past the last discovered record. (EOF is a macro
    // of the C library, hence the trailing underscore.)
    bool EOF_() const { return m_Position > Records(); }
    // Tells whether the reader stands before the first record.
    bool BOF() const { return m_Position == 0; }

    // Moves to the first record, scanning the first batch if nothing is known yet.
    void MoveFirst();
    // Moves to the next record, scanning a batch when leaving the last known one.
    void MoveNext();
    // Moves to the previous record, or to BOF.
    void MovePrev();
    // Moves to a discovered record; raises RangeError outside 1..Records().
    void MoveTo(std::int32_t NewPosition);
    // Scans the rest of the container and moves to its last record.
    void MoveLast();

    // Returns the current record index: 0 at BOF, Records() + 1 at EOF.
    std::int32_t Position() const { return m_Position; }
    // Returns the number of record headers read per batch.
    std::int32_t RecordCache() const { return m_RecordCache; }
    // Sets the batch size; 0 or a negative value is ignored.
    void RecordCache(std::int32_t value);

    // Returns the current record's information; raises RangeError at BOF or EOF.
    MEDIARECORDINFO RecordInfo() const;
    // Returns a reader over the current record's data taken as a container.
    std::shared_ptr<MediaFileReader> ExpandChunk();
    // Returns the number of records discovered so far.
    std::int32_t Records() const { return static_cast<std::int32_t>(m_Table.size()); }

    // Copies ReadSize bytes (0: the rest of the record) from ReadOffset of the current
    // record into lpReadData. Returns false, reading nothing, for a request outside the
    // record or larger than lpReadData. RetBytesRead is accepted and ignored.
    bool ReadRecord(std::span<std::byte> lpReadData, std::int32_t ReadOffset = 0,
                    std::int32_t ReadSize = 0, std::int32_t RetBytesRead = 0);

private:
    friend class MediaFileWriter; // copies from the reader's file
    void ScanRecords(bool all);

    std::int32_t m_HeaderOffset = 0;
    std::int32_t m_ChunkID = 0;
    std::int32_t m_ChunkSize = 0;
    std::int32_t m_ChunkType = 0;
    std::vector<MEDIARECORDINFO> m_Table;
    std::int32_t m_Position = 0;
    std::int32_t m_NextScanOffset = 0;
    std::int32_t m_EndOffset = 0;
    std::int32_t m_RecordCache = 10;
    std::shared_ptr<TagMediaFile> m_File;
};

} // namespace chunkwell
