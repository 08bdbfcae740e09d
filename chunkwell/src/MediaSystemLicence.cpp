#include <chunkwell/MediaSystemLicence.h>

#include "MediaFileImpl.h"
#include "PlatformFile.h"
#include "mdlGlobal.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace chunkwell {

std::string MediaSystemLicence::DisplayError() const {
    return ErrorText(LastErrorCode());
}

MediaFileErrorCodes MediaSystemLicence::Error() const {
    return LastErrorCode();
}

std::string MediaSystemLicence::FormatRecordID(std::int32_t Expression) const {
    return RecordIDToText(Expression);
}

std::int32_t MediaSystemLicence::FormatRecordID(std::string_view Expression) const {
    return RecordIDFromText(Expression);
}

std::shared_ptr<MediaFileReader> MediaSystemLicence::OpenMediaFile(const std::string& FileNamePath,
                                                                   bool AllowShare) const {
    LastErrorCode() = mfec_NoError;
    auto handle = platform::OpenExisting(FileNamePath, AllowShare);
    if (!handle) {
        LastErrorCode() = mfec_OpenFileFailed;
        return nullptr;
    }
    auto file = std::make_shared<TagMediaFile>(std::move(handle));
    return MediaFileReader::Impl::Make(std::move(file), 0);
}

std::shared_ptr<MediaFileReader>
MediaSystemLicence::OpenMediaFile(const std::filesystem::path& FileNamePath,
                                  bool AllowShare) const {
    return OpenMediaFile(FileNamePath.native(), AllowShare);
}

std::shared_ptr<MediaFileReader> MediaSystemLicence::OpenMediaFile(const char* FileNamePath,
                                                                   bool AllowShare) const {
    if (FileNamePath == nullptr) {
        LastErrorCode() = mfec_OpenFileFailed;
        return nullptr;
    }
    return OpenMediaFile(std::string(FileNamePath), AllowShare);
}

std::shared_ptr<MediaFileWriter>
MediaSystemLicence::CreateMediaFile(const std::filesystem::path& FileNamePath,
                                    RecordIdArg FileHeader, RecordIdArg FileType,
                                    bool Overwrite) const {
    return CreateMediaFile(FileNamePath.native(), FileHeader, FileType, Overwrite);
}

std::shared_ptr<MediaFileWriter> MediaSystemLicence::CreateMediaFile(const char* FileNamePath,
                                                                     RecordIdArg FileHeader,
                                                                     RecordIdArg FileType,
                                                                     bool Overwrite) const {
    if (FileNamePath == nullptr) {
        LastErrorCode() = mfec_CreateFileFailed;
        return nullptr;
    }
    return CreateMediaFile(std::string(FileNamePath), FileHeader, FileType, Overwrite);
}

ControlSize MediaSystemLicence::Resize(std::int32_t twipsPerPixelX, std::int32_t twipsPerPixelY) {
    const std::int64_t width = std::int64_t{24} * twipsPerPixelX;
    const std::int64_t height = std::int64_t{22} * twipsPerPixelY;
    constexpr std::int64_t lo = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t hi = std::numeric_limits<std::int32_t>::max();
    if (width < lo || width > hi || height < lo || height > hi)
        throw OverflowError("Overflow: the control's size leaves 32 bits");
    return {static_cast<std::int32_t>(width), static_cast<std::int32_t>(height)};
}

namespace {

std::string Printed(const char* format, int precision, long double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, precision, value);
    return buffer;
}

} // namespace

// Gives a number the text a user would write: whole numbers in plain digits, others with
// at most 15 significant digits (7 for a value that is exactly a float, so 1.1f reads
// "1.1"), and an upper-case exponent for very large or small ones ("1E+20").
std::string MediaSystemLicence::NumberText(long double value) {
    if (!std::isfinite(value))
        return Printed("%.*Lg", 15, value);
    if (value == std::trunc(value)) {
        if (value >= 0 && value < 18446744073709551616.0L)
            return std::to_string(static_cast<unsigned long long>(value));
        if (value < 0 && value >= -9223372036854775808.0L)
            return std::to_string(static_cast<long long>(value));
    }
    std::string text;
    const auto asFloat = static_cast<float>(value);
    if (std::isfinite(asFloat) && static_cast<long double>(asFloat) == value) {
        for (int digits = 1; digits <= 9; ++digits) {
            text = Printed("%.*Lg", digits, value);
            if (std::strtof(text.c_str(), nullptr) == asFloat)
                break;
        }
    } else {
        text = Printed("%.*Lg", 15, value);
    }
    for (char& c : text)
        if (c == 'e')
            c = 'E';
    return text;
}

} // namespace chunkwell
