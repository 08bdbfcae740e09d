#pragma once

#include <chunkwell/MediaTypes.h>

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace chunkwell {

class MediaFileWriter;
class MediaSystemLicence;

// Walks the records of one container of a chunk file and reads their data.
//
//   for (const MEDIARECORDINFO& r : reader->Walk()) { ... }   // or MoveFirst/MoveNext/EOF_
//   if (reader->FindRecord("data")) reader->ReadRecord(buffer);
//
// Record headers are discovered lazily, RecordCache() at a time, only when a walk
// passes the records already known: Records() counts what has been found so far,
// not what the container holds. All readers of one opened file share one file
// pointer, so every read first positions it. Only the library creates readers
// (MediaSystemLicence::OpenMediaFile, ExpandChunk); a caller holds them by shared_ptr.
//
// Raises nothing unless stated: RangeError (number 9) for a missing current record or a
// position outside the records, OverflowError (number 6) when offset or size arithmetic
// leaves the signed 32-bit range, in which case the records found before stay listed.
class CHUNKWELL_API MediaFileReader {
public:
    ~MediaFileReader();
    MediaFileReader(const MediaFileReader&) = delete;
    MediaFileReader& operator=(const MediaFileReader&) = delete;

    // Returns the container's type.
    [[nodiscard]] std::int32_t ChunkType() const;
    // Returns the container's identifier.
    [[nodiscard]] std::int32_t ChunkID() const;
    // Returns the container's size field.
    [[nodiscard]] std::int32_t ChunkSize() const;
    // Tells whether the reader stands past the last discovered record. (EOF is a macro
    // of the C library, hence the trailing underscore.)
    [[nodiscard]] bool EOF_() const;
    // Tells whether the reader stands before the first record.
    [[nodiscard]] bool BOF() const;

    // Moves to the first record, scanning the first batch if nothing is known yet. Raises
    // OverflowError when a scanned offset leaves 32 bits.
    void MoveFirst();
    // Moves to the next record, scanning a batch when leaving the last known one. Raises
    // OverflowError when a scanned offset leaves 32 bits.
    void MoveNext();
    // Moves to the previous record, or to BOF. Raises nothing.
    void MovePrev();
    // Moves to a discovered record; raises RangeError outside 1..Records().
    void MoveTo(std::int32_t NewPosition);
    // Scans the rest of the container and moves to its last record. Raises OverflowError
    // when a scanned offset leaves 32 bits.
    void MoveLast();

    // Returns the current record index: 0 at BOF, Records() + 1 at EOF.
    [[nodiscard]] std::int32_t Position() const;
    // Returns the number of record headers read per batch.
    [[nodiscard]] std::int32_t RecordCache() const;
    // Sets the batch size; 0 or a negative value is ignored.
    void RecordCache(std::int32_t value);

    // Returns the current record's information; raises RangeError at BOF or EOF.
    [[nodiscard]] MEDIARECORDINFO RecordInfo() const;
    // Returns a reader over the current record's data taken as a container, sharing this
    // reader's file; this reader does not move. Raises RangeError at BOF or EOF,
    // OverflowError when the record's offset and size leave 32 bits.
    [[nodiscard]] std::shared_ptr<MediaFileReader> ExpandChunk() const;
    // Returns the number of records discovered so far.
    [[nodiscard]] std::int32_t Records() const;

    // Copies ReadSize bytes (0: the rest of the record) from ReadOffset of the current
    // record into lpReadData. Returns false, reading nothing, for a request outside the
    // record or larger than lpReadData, and when the system read fails; a file that ends
    // inside the record still gives true (ReadRecordDelivered tells how much came).
    // RetBytesRead is accepted and ignored. Raises RangeError at BOF or EOF, OverflowError
    // when ReadOffset + ReadSize or the data's file offset leaves 32 bits.
    [[nodiscard]] bool ReadRecord(std::span<std::byte> lpReadData, std::int32_t ReadOffset = 0,
                                  std::int32_t ReadSize = 0, std::int32_t RetBytesRead = 0);
    // As ReadRecord with sizes of any integer type; raises OverflowError for a value outside
    // 32 bits instead of narrowing it.
    template <std::integral O, std::integral S = std::int32_t>
    requires(!std::same_as<O, bool> && !std::same_as<S, bool>)
        [[nodiscard]] bool ReadRecord(std::span<std::byte> lpReadData, O ReadOffset,
                                      S ReadSize = 0) {
        return ReadRecord(lpReadData, Checked32(ReadOffset), Checked32(ReadSize), 0);
    }

    // Reads as ReadRecord does and returns the number of bytes delivered, which is less than
    // asked when the file ends inside the record, or -1 where ReadRecord returns false.
    // Raises as ReadRecord.
    [[nodiscard]] std::int32_t ReadRecordDelivered(std::span<std::byte> lpReadData,
                                                   std::int32_t ReadOffset = 0,
                                                   std::int32_t ReadSize = 0);

    // Moves to the first record with this identifier, walking from the first record as
    // MoveNext does, and returns true; returns false, standing at EOF (or at BOF for an
    // empty container), when there is none. Raises as MoveNext.
    [[nodiscard]] bool FindRecord(RecordIdArg RecordID);

    // The records of this container, walked from the first with MoveFirst and MoveNext, so
    // they are discovered in the same lazy batches; the reader ends at EOF. Incrementing
    // raises as MoveNext.
    class Iterator {
    public:
        using value_type = MEDIARECORDINFO;
        using difference_type = std::ptrdiff_t;
        Iterator() = default;
        explicit Iterator(MediaFileReader* reader) : m_Reader(reader) {}
        MEDIARECORDINFO operator*() const { return m_Reader->RecordInfo(); }
        Iterator& operator++() {
            m_Reader->MoveNext();
            return *this;
        }
        void operator++(int) { ++*this; }
        bool operator==(std::default_sentinel_t) const {
            return m_Reader->EOF_() || m_Reader->BOF();
        }

    private:
        MediaFileReader* m_Reader = nullptr;
    };
    class Range {
    public:
        explicit Range(MediaFileReader* reader) : m_Reader(reader) {}
        Iterator begin() const {
            m_Reader->MoveFirst();
            return Iterator(m_Reader);
        }
        std::default_sentinel_t end() const { return {}; }

    private:
        MediaFileReader* m_Reader;
    };
    // Returns the records of this container for a range-for loop.
    [[nodiscard]] Range Walk() { return Range(this); }

private:
    friend class MediaFileWriter;
    friend class MediaSystemLicence;
    struct Impl;
    CHUNKWELL_LOCAL explicit MediaFileReader(Impl* impl);

    Impl* m_Impl;
};

} // namespace chunkwell
