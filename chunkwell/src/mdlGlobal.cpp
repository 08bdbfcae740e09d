// SPDX-License-Identifier: MIT
#include "mdlGlobal.h"

#include <array>

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

std::string RecordIDToText(std::int32_t id) {
    auto u = static_cast<std::uint32_t>(id);
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[static_cast<std::size_t>(i)] = static_cast<char>((u >> (8 * i)) & 0xFF);
    return s;
}

} // namespace chunkwell
