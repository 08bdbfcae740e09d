// SPDX-License-Identifier: MIT
#include "TagMediaFile.h"

namespace chunkwell {

// Offsets are taken as unsigned 32-bit positions, so a position whose low 32 bits read
// negative (after stepping over a huge record) is still reached exactly; comparing the
// full positions keeps a pointer left beyond 2 GiB from being moved further away.
std::int32_t SeekFile(platform::FileHandle& handle, std::int32_t offset) {
    const auto target = static_cast<std::int64_t>(static_cast<std::uint32_t>(offset));
    const std::int64_t current = handle.Seek(0, platform::Whence::Current);
    std::int64_t moved;
    if (current == target)
        moved = current;
    else if (current >= 0 && target > current)
        moved =
            handle.Seek(static_cast<std::uint32_t>(target - current), platform::Whence::Current);
    else
        moved = handle.Seek(static_cast<std::uint32_t>(target), platform::Whence::Begin);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(moved));
}

} // namespace chunkwell
