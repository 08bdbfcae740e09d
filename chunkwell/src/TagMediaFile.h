// SPDX-License-Identifier: MIT
#pragma once

#include "PlatformFile.h"

#include <cstdint>
#include <memory>

namespace chunkwell {

// The open file that every reader and writer of one file holds together; the handle
// closes when the last of them lets go.
class TagMediaFile {
public:
    explicit TagMediaFile(std::unique_ptr<platform::FileHandle> handle)
        : m_hFile(std::move(handle)) {}
    TagMediaFile(const TagMediaFile&) = delete;
    TagMediaFile& operator=(const TagMediaFile&) = delete;

    platform::FileHandle& Handle() { return *m_hFile; }

private:
    std::unique_ptr<platform::FileHandle> m_hFile;
};

// Moves the shared file pointer to an absolute offset: not at all when it is already
// there, forward by the difference, or from the start when going back. The distance is
// unsigned 32-bit. Returns the new position's low 32 bits.
std::int32_t SeekFile(platform::FileHandle& handle, std::int32_t offset);

} // namespace chunkwell
