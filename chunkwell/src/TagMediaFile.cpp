#include "TagMediaFile.h"

namespace chunkwell {

std::int32_t SeekFile(platform::FileHandle& handle, std::int32_t offset) {
    std::int64_t current = handle.Seek(0, platform::Whence::Current);
    auto current32 = static_cast<std::int32_t>(static_cast<std::uint32_t>(current));
    if (current32 == offset)
        return current32;
    std::int64_t moved;
    if (offset > current32)
        moved = handle.Seek(static_cast<std::uint32_t>(offset) - static_cast<std::uint32_t>(current32),
                            platform::Whence::Current);
    else
        moved = handle.Seek(static_cast<std::uint32_t>(offset), platform::Whence::Begin);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(moved));
}

} // namespace chunkwell
