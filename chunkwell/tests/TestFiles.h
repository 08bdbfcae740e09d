// SPDX-License-Identifier: MIT
#pragma once

// Shared helpers for the library's tests: a fresh temporary folder per test, files
// written and read byte by byte, and little-endian building blocks for chunk files.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <stdlib.h>

namespace testfiles {

using Bytes = std::vector<std::uint8_t>;

// A folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "chunkwell-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot create a temporary folder");
        m_Path = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_Path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return m_Path; }
    // Returns the full path of a file in this folder.
    std::string File(std::string_view name) const { return (m_Path / name).string(); }

private:
    std::filesystem::path m_Path;
};

// Writes bytes to a file, replacing it.
inline void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

// Returns a file's bytes (empty when it cannot be read).
inline Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Appends a 16-bit value, least significant byte first.
inline void PutLE16(Bytes& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v & 0xFF));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

// Appends a 32-bit value, least significant byte first.
inline void PutLE32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF));
}

// Appends the four bytes of an identifier as written (e.g. "RIFF").
inline void PutID(Bytes& b, std::string_view id) {
    for (std::size_t i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(i < id.size() ? id[i] : ' '));
}

// Reads a 16-bit little-endian value at an offset.
inline std::uint16_t GetLE16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}

// Reads a 32-bit little-endian value at an offset.
inline std::uint32_t GetLE32(const Bytes& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | b.at(at + static_cast<std::size_t>(i));
    return v;
}

// Returns the signed identifier of four characters, first character least significant.
inline std::int32_t ID(std::string_view id) {
    Bytes b;
    PutID(b, id);
    return static_cast<std::int32_t>(GetLE32(b, 0));
}

// Appends a record: identifier, size, data, and a pad byte when the size is odd.
inline void PutRecord(Bytes& b, std::string_view id, const Bytes& data) {
    PutID(b, id);
    PutLE32(b, static_cast<std::uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    if (data.size() % 2)
        b.push_back(0);
}

// Returns a container: identifier, size (the type plus body), type, then the body.
inline Bytes Container(std::string_view id, std::string_view type, const Bytes& body) {
    Bytes b;
    PutID(b, id);
    PutLE32(b, static_cast<std::uint32_t>(4 + body.size()));
    PutID(b, type);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

// Returns n bytes counting up from first (wrapping at 256).
inline Bytes Counting(std::size_t n, std::uint8_t first = 0) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(first + i);
    return b;
}

// Returns a 16-byte PCM format record's data.
inline Bytes PcmFormat(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
    Bytes b;
    const auto align = static_cast<std::uint16_t>(channels * bits / 8);
    PutLE16(b, 1);
    PutLE16(b, channels);
    PutLE32(b, rate);
    PutLE32(b, rate * align);
    PutLE16(b, align);
    PutLE16(b, bits);
    return b;
}

// Returns a standard wave file: "RIFF", size, "WAVE", "fmt " (16 bytes), then "data".
inline Bytes WaveFile(const Bytes& samples, std::uint16_t channels = 2, std::uint32_t rate = 44100,
                      std::uint16_t bits = 16) {
    Bytes body;
    PutRecord(body, "fmt ", PcmFormat(channels, rate, bits));
    PutRecord(body, "data", samples);
    return Container("RIFF", "WAVE", body);
}

// A test with its own fresh temporary folder.
class TempFolderTest : public ::testing::Test {
protected:
    TempDir dir;
};

} // namespace testfiles
