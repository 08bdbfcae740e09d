#pragma once

// Chunkwell reads and writes chunk files of the RIFF kind.
//
//   chunkwell::MediaSystemLicence msl;
//   auto reader = msl.OpenMediaFile("loop.wav");          // nothing: see msl.DisplayError()
//   for (reader->MoveFirst(); !reader->EOF_(); reader->MoveNext()) {
//       auto info = reader->RecordInfo();                 // RecordID, RecordSize, FileOffset
//       std::vector<std::byte> data(info.RecordSize);
//       reader->ReadRecord(data);                         // the whole record
//   }
//   auto writer = msl.CreateMediaFile("copy.wav", "RIFF", "WAVE", true);
//   writer->CreateChild("data", n);                       // then fill it:
//   writer->WriteRecord(bytes);
//   writer.reset();                                       // writes the sizes, closes the file

#include <chunkwell/Export.h>
#include <chunkwell/MediaFileReader.h>
#include <chunkwell/MediaFileWriter.h>
#include <chunkwell/MediaTypes.h>

#include <concepts>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

namespace chunkwell {

// The fixed size of the control in a designer, whatever size is asked for.
struct ControlSize {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
};

// Opens and creates chunk files and reports the outcome of the last attempt on this thread.
class CHUNKWELL_API MediaSystemLicence {
public:
    static constexpr const char* ClassID = "Chunkwell.MediaSystemLicence";

    // Returns the text of the last error code.
    std::string DisplayError() const;
    // Returns the last error code of the calling thread.
    MediaFileErrorCodes Error() const;
    // Creates a file with a 12-byte header and returns its top writer, or nothing.
    std::shared_ptr<MediaFileWriter> CreateMediaFile(const std::string& FileNamePath,
                                                     RecordIdArg FileHeader, RecordIdArg FileType,
                                                     bool Overwrite = false);
    // Returns the four characters of an identifier.
    std::string FormatRecordID(std::int32_t Expression) const;
    // Returns the identifier of a text.
    std::int32_t FormatRecordID(std::string_view Expression) const;
    std::int32_t FormatRecordID(const char* Expression) const {
        return FormatRecordID(Expression ? std::string_view(Expression) : std::string_view());
    }
    std::int32_t FormatRecordID(const std::string& Expression) const {
        return FormatRecordID(std::string_view(Expression));
    }
    // Returns the identifier of a number's text form (any number type but int32).
    template <typename T>
    requires(std::is_arithmetic_v<T> && !std::same_as<T, std::int32_t>) std::int32_t
        FormatRecordID(T Expression)
    const {
        if constexpr (std::is_same_v<T, bool>)
            return FormatRecordID(std::string_view(Expression ? "True" : "False"));
        else
            return FormatRecordID(
                std::string_view(NumberText(static_cast<long double>(Expression))));
    }
    // Opens an existing file for reading and returns its top reader, or nothing.
    std::shared_ptr<MediaFileReader> OpenMediaFile(const std::string& FileNamePath,
                                                   bool AllowShare = false);

    // Returns the control's size in twips: always 24 by 22 pixels.
    static ControlSize Resize(std::int32_t twipsPerPixelX, std::int32_t twipsPerPixelY);

private:
    static std::string NumberText(long double value);
};

} // namespace chunkwell
