#pragma once

// Types shared by every part of Chunkwell: record information, error codes,
// record identifiers and the two errors raised to callers.

#include <chunkwell/Export.h>

#include <concepts>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace chunkwell {

// Describes one record of a container; FileOffset is the offset of its first data byte.
struct MEDIARECORDINFO {
    std::int32_t RecordID = 0;
    std::int32_t RecordSize = 0;
    std::int32_t FileOffset = 0;
};

enum MediaFileErrorCodes : std::int32_t {
    mfec_NoError = 0,
    mfec_OpenFileFailed = 1,
    mfec_CreateFileFailed = 2,
    mfec_ReadDataFailed = 3,
    mfec_WriteToDataFailed = 4,
};

// Returns the fixed text of an error code; lines are joined by CR LF.
CHUNKWELL_API std::string ErrorText(std::int32_t code);

// Converts text to a record identifier: its first four bytes up to a NUL, padded with
// spaces; the first byte becomes the least significant one.
CHUNKWELL_API std::int32_t RecordIDFromText(std::string_view text);

// Types that cannot be an identifier argument: a truth value or a character of another width.
template <typename T>
concept IsRefusedIdNumber = std::same_as<T, bool> || std::same_as<T, wchar_t> ||
    std::same_as<T, char8_t> || std::same_as<T, char16_t> || std::same_as<T, char32_t>;

// Converts a record identifier to its four characters (NUL bytes included).
CHUNKWELL_API std::string RecordIDToText(std::int32_t id);

// Converts a number to a record identifier: a whole number used unchanged, a fraction
// rounded to the nearest, halves to even. Raises OverflowError when the result lies outside
// the signed 32-bit range or the value is not a number.
CHUNKWELL_API std::int32_t RecordIDFromNumber(std::int64_t value);
CHUNKWELL_API std::int32_t RecordIDFromNumber(std::uint64_t value);
CHUNKWELL_API std::int32_t RecordIDFromNumber(long double value);

// An identifier argument: either text or a number. Text goes through RecordIDFromText (a
// null pointer and a lone NUL are the empty text, four spaces); a plain char is a one-letter
// text. Every other number goes through RecordIDFromNumber, so a double is rounded and a
// value outside 32 bits raises OverflowError. bool and the wide character types are refused
// when compiling.
class CHUNKWELL_API RecordIdArg {
public:
    RecordIdArg(std::int32_t id) : m_Value(id) {}
    RecordIdArg(std::string_view text) : m_Value(RecordIDFromText(text)) {}
    RecordIdArg(const char* text)
        : RecordIdArg(text ? std::string_view(text) : std::string_view()) {}
    RecordIdArg(const std::string& text) : RecordIdArg(std::string_view(text)) {}
    RecordIdArg(char letter) : RecordIdArg(std::string_view(&letter, 1)) {}
    template <typename T>
    requires(std::is_arithmetic_v<T> && !IsRefusedIdNumber<T>) RecordIdArg(T number)
        : m_Value(FromNumber(number)) {}
    template <typename T>
    requires IsRefusedIdNumber<T> RecordIdArg(T)
    = delete;

    // Returns the identifier.
    std::int32_t Value() const { return m_Value; }

private:
    template <typename T> static std::int32_t FromNumber(T number) {
        if constexpr (std::is_floating_point_v<T>)
            return RecordIDFromNumber(static_cast<long double>(number));
        else if constexpr (std::is_signed_v<T>)
            return RecordIDFromNumber(static_cast<std::int64_t>(number));
        else
            return RecordIDFromNumber(static_cast<std::uint64_t>(number));
    }

    std::int32_t m_Value;
};

// Base of the errors the library raises; Number() is 9 (range) or 6 (overflow).
class CHUNKWELL_API MediaError : public std::runtime_error {
public:
    MediaError(int number, const std::string& what) : std::runtime_error(what), m_Number(number) {}
    int Number() const { return m_Number; }

private:
    int m_Number;
};

// Raised when an operation needs a current record and there is none, or a request
// lies outside the record.
class CHUNKWELL_API RangeError : public MediaError {
public:
    explicit RangeError(const std::string& what) : MediaError(9, what) {}
};

// Raised when an offset, size or count leaves the signed 32-bit range.
class CHUNKWELL_API OverflowError : public MediaError {
public:
    explicit OverflowError(const std::string& what) : MediaError(6, what) {}
};

// Returns a size or offset of any integer type as 32 bits; raises OverflowError when it does
// not fit, instead of narrowing it silently.
template <std::integral T> std::int32_t Checked32(T value) {
    if (!std::in_range<std::int32_t>(value))
        throw OverflowError("Overflow: a size or offset leaves 32 bits");
    return static_cast<std::int32_t>(value);
}

} // namespace chunkwell
