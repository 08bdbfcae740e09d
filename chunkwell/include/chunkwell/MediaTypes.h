// SPDX-License-Identifier: MIT
#pragma once

// Types shared by every part of Chunkwell: record information, error codes,
// record identifiers and the two errors raised to callers.

#include <chunkwell/Export.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

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

// Converts a record identifier to its four characters (NUL bytes included).
CHUNKWELL_API std::string RecordIDToText(std::int32_t id);

// An identifier argument: either text or a number used unchanged.
class CHUNKWELL_API RecordIdArg {
public:
    RecordIdArg(std::int32_t id) : m_Value(id) {}
    RecordIdArg(std::string_view text) : m_Value(RecordIDFromText(text)) {}
    RecordIdArg(const char* text) : RecordIdArg(std::string_view(text)) {}
    RecordIdArg(const std::string& text) : RecordIdArg(std::string_view(text)) {}

    // Returns the identifier.
    std::int32_t Value() const { return m_Value; }

private:
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

} // namespace chunkwell
