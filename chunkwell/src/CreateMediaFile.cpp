#include <chunkwell/MediaSystemLicence.h>

#include "MediaFileImpl.h"
#include "mdlGlobal.h"

#include <array>

namespace chunkwell {

std::shared_ptr<MediaFileWriter>
MediaSystemLicence::CreateMediaFile(const std::string& FileNamePath, RecordIdArg FileHeader,
                                    RecordIdArg FileType, bool Overwrite) const {
    LastErrorCode() = mfec_NoError;
    std::unique_ptr<platform::FileHandle> handle = platform::CreateNew(FileNamePath, Overwrite);
    if (!handle) {
        LastErrorCode() = mfec_CreateFileFailed;
        return nullptr;
    }

    // The file header: identifier, size 4 (the type alone so far), type; little-endian.
    const std::array<std::int32_t, 3> fields = {FileHeader.Value(), 4, FileType.Value()};
    std::array<std::byte, 12> header{};
    for (std::size_t f = 0; f < fields.size(); ++f) {
        auto u = static_cast<std::uint32_t>(fields[f]);
        for (std::size_t i = 0; i < 4; ++i)
            header[f * 4 + i] = static_cast<std::byte>((u >> (8 * i)) & 0xFFu);
    }
    std::uint32_t put = 0;
    if (SeekFile(*handle, 0) != 0 ||
        !handle->Write(header.data(), static_cast<std::uint32_t>(header.size()), put)) {
        handle.reset(); // closes it; the file stays on disk
        LastErrorCode() = mfec_WriteToDataFailed;
        return nullptr;
    }

    return MediaFileWriter::Impl::Make(std::make_shared<TagMediaFile>(std::move(handle)), 0,
                                       nullptr);
}

} // namespace chunkwell
