#include "mdlGlobal.h"

#include <array>
#include <cmath>
#include <limits>

namespace chunkwell {

MediaFileErrorCodes& LastErrorCode() {
    thread_local MediaFileErrorCodes code = mfec_NoError;
    return code;
}

namespace {
// One table for every code's text; lines are joined by CR LF, with none at the end.
constexpr std::array<const char*, 5> kErrorTexts = {
    "",
    "Failed to open file.\r\n"
    "Please make sure this file is not open by another process\r\n"
    "or the filename/path is correct.",
    "Failed to create file.\r\n"
    "Please make sure this file is not open by another process\r\n"
    "or the path/filename does not already exist.",
    "An error occurred trying to read this file's data.",
    "An error occurred trying to write to this file.",
};
} // namespace

std::string ErrorText(std::int32_t code) {
    if (code < 0 || code >= static_cast<std::int32_t>(kErrorTexts.size()))
        return {};
    return kErrorTexts[static_cast<std::size_t>(code)];
}

std::int32_t RecordIDFromText(std::string_view text) {
    std::uint32_t id = 0;
    for (int i = 0; i < 4; ++i) {
        auto byte = static_cast<unsigned char>(' ');
        if (static_cast<std::size_t>(i) < text.size() && text[static_cast<std::size_t>(i)] != '\0')
            byte = static_cast<unsigned char>(text[static_cast<std::size_t>(i)]);
        else
            text = text.substr(0, static_cast<std::size_t>(i)); // stop at the first NUL
        id |= static_cast<std::uint32_t>(byte) << (8 * i);
    }
    return static_cast<std::int32_t>(id);
}

std::int32_t RecordIDFromNumber(std::int64_t value) {
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max())
        throw OverflowError("Overflow: the identifier leaves 32 bits");
    return static_cast<std::int32_t>(value);
}

std::int32_t RecordIDFromNumber(std::uint64_t value) {
    if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
        throw OverflowError("Overflow: the identifier leaves 32 bits");
    return static_cast<std::int32_t>(value);
}

std::int32_t RecordIDFromNumber(long double value) {
    // Halves go to the even neighbour, whatever rounding mode the caller has set.
    long double rounded = std::floor(value);
    const long double rest = value - rounded;
    if (rest > 0.5L || (rest == 0.5L && std::fmod(rounded, 2.0L) != 0))
        rounded += 1;
    if (!(rounded >= std::numeric_limits<std::int32_t>::min() &&
          rounded <= std::numeric_limits<std::int32_t>::max()))
        throw OverflowError("Overflow: the identifier leaves 32 bits");
    return static_cast<std::int32_t>(rounded);
}

std::string RecordIDToText(std::int32_t id) {
    auto u = static_cast<std::uint32_t>(id);
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[static_cast<std::size_t>(i)] = static_cast<char>((u >> (8 * i)) & 0xFF);
    return s;
}

} // namespace chunkwell
