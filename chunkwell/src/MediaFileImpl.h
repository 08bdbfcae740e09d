#pragma once

// The state behind the exported reader and writer, kept out of their public layout so that
// a new member does not change the size or shape of the classes programs were built with.

#include <chunkwell/MediaFileReader.h>
#include <chunkwell/MediaFileWriter.h>

#include "MediaEvent.h"
#include "TagMediaFile.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace chunkwell {

struct CHUNKWELL_LOCAL MediaFileReader::Impl {
    Impl(std::shared_ptr<TagMediaFile> file, std::int32_t headerOffset);
    // Returns a new reader over the container whose header is at headerOffset.
    static std::shared_ptr<MediaFileReader> Make(std::shared_ptr<TagMediaFile> file,
                                                 std::int32_t headerOffset);
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

struct CHUNKWELL_LOCAL MediaFileWriter::Impl {
    Impl(std::shared_ptr<TagMediaFile> file, std::int32_t headerOffset,
         std::shared_ptr<MediaFileWriter> parent);
    // Returns a new writer over the container whose header is at headerOffset, under parent
    // (nothing for the top writer).
    static std::shared_ptr<MediaFileWriter> Make(std::shared_ptr<TagMediaFile> file,
                                                 std::int32_t headerOffset,
                                                 std::shared_ptr<MediaFileWriter> parent);

    void AddRecordSlot();
    void OnSizeUpdate(std::int32_t& vNewValue);
    // Raises the overflow error unless growth fits this container and every one around it,
    // and the range error when something already follows this container.
    void CheckGrowth(std::int64_t growth) const;
    // Positions the shared file pointer at offset and writes there; false on any failure.
    bool WriteAt(std::int32_t offset, const std::byte* data, std::int32_t size);
    // Adds an entry for a record at the end of this container, growth bytes long with its
    // header, and writes its 8-byte header; false when that write fails.
    bool AppendRecordHeader(std::int32_t id, std::int32_t size, std::int64_t growth);
    bool WriteHeader();
    const Impl* Parent() const { return m_ParentState; }

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
    // Keeps the enclosing writer alive so that its size is written back after ours. This and
    // m_Self hold the public writer type-erased: the private state never names the class it
    // hides behind, so the ABI check cannot reach back from here into the public layout.
    std::shared_ptr<void> m_Parent;
    Impl* m_ParentState = nullptr;
    // The writer this state belongs to, handed to sub-containers as their parent.
    std::weak_ptr<void> m_Self;
};

} // namespace chunkwell

namespace chunkwell {
// Programs built against the library lay these classes out themselves: new state goes into
// Impl, never beside the pointer. (scripts/check-abi checks the rest of the interface.)
static_assert(sizeof(MediaFileReader) == sizeof(void*) && sizeof(MediaFileWriter) == sizeof(void*),
              "the public layout of a reader or writer is its one Impl pointer");
} // namespace chunkwell
