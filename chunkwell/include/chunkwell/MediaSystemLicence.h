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
#include <filesystem>
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
// It holds nothing: the readers and writers it returns belong to the caller and stay valid
// after it is gone.
class CHUNKWELL_API MediaSystemLicence {
public:
    static constexpr const char* ClassID = "Chunkwell.MediaSystemLicence";

    // Returns the text of the last error code. Raises nothing.
    [[nodiscard]] std::string DisplayError() const;
    // Returns the last error code of the calling thread. Raises nothing.
    [[nodiscard]] MediaFileErrorCodes Error() const;
    // Creates a file with a 12-byte header and returns its top writer. Without Overwrite an
    // existing file is refused; with it, it is emptied unless another open holds it. Returns
    // nothing, with Error() 2, when the file cannot be created (a null name or one holding a
    // NUL byte included), or 4 when its header cannot be written (the file stays). Raises
    // OverflowError only when an identifier argument does (see RecordIdArg).
    [[nodiscard]] std::shared_ptr<MediaFileWriter> CreateMediaFile(const std::string& FileNamePath,
                                                                   RecordIdArg FileHeader,
                                                                   RecordIdArg FileType,
                                                                   bool Overwrite = false) const;
    [[nodiscard]] std::shared_ptr<MediaFileWriter>
    CreateMediaFile(const std::filesystem::path& FileNamePath, RecordIdArg FileHeader,
                    RecordIdArg FileType, bool Overwrite = false) const;
    [[nodiscard]] std::shared_ptr<MediaFileWriter> CreateMediaFile(const char* FileNamePath,
                                                                   RecordIdArg FileHeader,
                                                                   RecordIdArg FileType,
                                                                   bool Overwrite = false) const;
    // Returns the four characters of an identifier. Raises nothing.
    [[nodiscard]] std::string FormatRecordID(std::int32_t Expression) const;
    // Returns the identifier of a text (a null pointer is the empty text). Raises nothing.
    [[nodiscard]] std::int32_t FormatRecordID(std::string_view Expression) const;
    [[nodiscard]] std::int32_t FormatRecordID(const char* Expression) const {
        return FormatRecordID(Expression ? std::string_view(Expression) : std::string_view());
    }
    [[nodiscard]] std::int32_t FormatRecordID(const std::string& Expression) const {
        return FormatRecordID(std::string_view(Expression));
    }
    // Returns the identifier of a number's text form (any number type but int32). Raises
    // nothing.
    template <typename T>
    requires(std::is_arithmetic_v<T> && !std::same_as<T, std::int32_t>) [[nodiscard]] std::int32_t
        FormatRecordID(T Expression) const {
        if constexpr (std::is_same_v<T, bool>)
            return FormatRecordID(std::string_view(Expression ? "True" : "False"));
        else
            return FormatRecordID(
                std::string_view(NumberText(static_cast<long double>(Expression))));
    }
    // Opens an existing file for reading and returns its top reader, standing before the
    // first record. Without AllowShare no other open, by this or another program, may hold
    // the file; with it other shared opens may. Returns nothing, with Error() 1, when the
    // file cannot be opened (missing, not a regular file, held elsewhere, a null name or one
    // holding a NUL byte). Raises OverflowError when the file's header gives a size that
    // leaves 32 bits with its offset (never for a whole file's header).
    [[nodiscard]] std::shared_ptr<MediaFileReader> OpenMediaFile(const std::string& FileNamePath,
                                                                 bool AllowShare = false) const;
    [[nodiscard]] std::shared_ptr<MediaFileReader>
    OpenMediaFile(const std::filesystem::path& FileNamePath, bool AllowShare = false) const;
    [[nodiscard]] std::shared_ptr<MediaFileReader> OpenMediaFile(const char* FileNamePath,
                                                                 bool AllowShare = false) const;

    // Returns the control's size in twips: always 24 by 22 pixels. Raises OverflowError when
    // a size leaves 32 bits.
    [[nodiscard]] static ControlSize Resize(std::int32_t twipsPerPixelX,
                                            std::int32_t twipsPerPixelY);

private:
    static std::string NumberText(long double value);
};

} // namespace chunkwell
