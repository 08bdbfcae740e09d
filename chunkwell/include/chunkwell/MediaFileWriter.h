#pragma once

#include <chunkwell/MediaTypes.h>

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace chunkwell {

class MediaFileReader;
class MediaSystemLicence;

// Appends records and sub-containers to one container of a chunk file.
//
//   auto w = msl.CreateMediaFile("out.wav", "RIFF", "WAVE", true);
//   if (!w || !w->CreateChild("data", n) || !w->WriteRecord(samples) || !w->Finish()) ...
//
// Writing is append-only: each record goes at the end of this container. Sizes are
// kept in memory (every growth reaches this container and every container around
// it at once) and the 12-byte header is written back by Finish(), or when the writer is
// released. A sub-container must be complete before its parent adds anything after it;
// a growth after that raises RangeError. Only the library creates writers
// (MediaSystemLicence::CreateMediaFile, CreateChunk); a caller holds them by shared_ptr.
//
// Raises nothing unless stated: RangeError (number 9) for a missing record or a request
// outside it, OverflowError (number 6) when a size or offset leaves the signed 32-bit range.
// A raised error changes nothing in memory or on disk.
class CHUNKWELL_API MediaFileWriter {
public:
    ~MediaFileWriter();
    MediaFileWriter(const MediaFileWriter&) = delete;
    MediaFileWriter& operator=(const MediaFileWriter&) = delete;

    // Returns the container's identifier.
    [[nodiscard]] std::int32_t ChunkID() const;
    // Returns the container's type.
    [[nodiscard]] std::int32_t ChunkType() const;
    // Sets the identifier written back by Finish or at release.
    void ChunkID(std::int32_t value);
    // Returns the container's size as grown so far.
    [[nodiscard]] std::int32_t ChunkSize() const;
    // Sets the type written back by Finish or at release.
    void ChunkType(std::int32_t value);

    // Returns the last record added; raises RangeError before the first.
    [[nodiscard]] MEDIARECORDINFO RecordInfo() const;
    // Appends a record header reserving RecordSize data bytes (and the pad byte, written as
    // 0 when the size is odd). Returns false when the header or pad write fails; the entry
    // then counts in Records() but nothing grows. Raises RangeError for a negative size or
    // when the parent has added a record after this container, OverflowError when the
    // container or the file would pass 32 bits.
    [[nodiscard]] bool CreateChild(RecordIdArg RecordID, std::int32_t RecordSize);
    // As CreateChild with a size of any integer type; raises OverflowError for a value
    // outside 32 bits instead of narrowing it.
    template <std::integral T>
    requires(!std::same_as<T, std::int32_t> && !std::same_as<T, bool>)
        [[nodiscard]] bool CreateChild(RecordIdArg RecordID, T RecordSize) {
        return CreateChild(RecordID, Checked32(RecordSize));
    }
    // Appends a sub-container and returns its writer, or nothing when the header write fails.
    // Raises as CreateChild.
    [[nodiscard]] std::shared_ptr<MediaFileWriter> CreateChunk(RecordIdArg RecordID,
                                                               RecordIdArg RecordType);
    // Returns the number of records added, failed ones included.
    [[nodiscard]] std::int32_t Records() const;

    // Writes WriteSize bytes (0: the rest of the record) of lpWriteData at WriteOffset of the
    // last record added; returns false when the system write fails. BytesWritten is accepted
    // and ignored. Raises RangeError before the first record and for a request outside the
    // record or larger than lpWriteData, OverflowError when WriteOffset + WriteSize leaves
    // 32 bits; nothing is written then.
    [[nodiscard]] bool WriteRecord(std::span<const std::byte> lpWriteData,
                                   std::int32_t WriteOffset = 0, std::int32_t WriteSize = 0,
                                   std::int32_t BytesWritten = 0);
    // As WriteRecord with an offset and size of any integer type; raises OverflowError for a
    // value outside 32 bits instead of narrowing it.
    template <std::integral O, std::integral S = std::int32_t>
    requires(!std::same_as<O, bool> && !std::same_as<S, bool>)
        [[nodiscard]] bool WriteRecord(std::span<const std::byte> lpWriteData, O WriteOffset,
                                       S WriteSize = 0) {
        return WriteRecord(lpWriteData, Checked32(WriteOffset), Checked32(WriteSize), 0);
    }

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
    // only headers changed, or not written, since; with nothing left to write it returns
    // true. Raises nothing.
    [[nodiscard]] bool Finish();

private:
    friend class MediaSystemLicence;
    struct Impl;
    CHUNKWELL_LOCAL explicit MediaFileWriter(Impl* impl);

    Impl* m_Impl;
};

} // namespace chunkwell
