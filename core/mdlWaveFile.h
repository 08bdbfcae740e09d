// SPDX-License-Identifier: MIT
#pragma once

// Wave files read and written whole: every top-level record kept whole and in order, so a
// copy can carry the metadata through.
//
//   chunkwell::MediaSystemLicence msl;            // one per thread
//   WaveFile wave;
//   if (std::string error = ReadWave(msl, "loop.wav", wave); !error.empty()) ...
//   wave.Data() = newFrames;                       // then adjust the metadata
//   std::string error = WriteWave(msl, "out.wav", wave, false);

#include "mdlSafeWrite.h"

#include <chunkwell/MediaSystemLicence.h>

#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace metronel {

// One top-level record: its identifier and its bytes, without header or pad byte.
struct WaveRecord {
    std::int32_t id = 0;
    std::vector<std::byte> bytes;
};

// Returns the identifier of four characters.
constexpr std::int32_t FourCC(const char (&text)[5]) {
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>(static_cast<unsigned char>(text[0])) |
        static_cast<std::uint32_t>(static_cast<unsigned char>(text[1])) << 8 |
        static_cast<std::uint32_t>(static_cast<unsigned char>(text[2])) << 16 |
        static_cast<std::uint32_t>(static_cast<unsigned char>(text[3])) << 24);
}

// Returns the four characters of an identifier, with unprintable bytes as "?".
std::string FourCCText(std::int32_t id);

// The records of a "RIFF"/"WAVE" file, "fmt " and "data" among them.
struct WaveFile {
    std::vector<WaveRecord> records;
    std::size_t fmtIndex = 0;
    std::size_t dataIndex = 0;

    const std::vector<std::byte>& Fmt() const { return records[fmtIndex].bytes; }
    std::vector<std::byte>& Data() { return records[dataIndex].bytes; }
    const std::vector<std::byte>& Data() const { return records[dataIndex].bytes; }
    std::int32_t Channels() const;
    std::int32_t Rate() const;
    std::int32_t BlockAlign() const;
    std::int32_t BitsPerSample() const;
    // Returns the whole frames of "data".
    std::int32_t Frames() const;
};

// Returns the name of a format tag the program cannot read ("MPEG Layer 3", "A-law"...),
// or "format tag 0x....".
std::string FormatTagName(std::uint16_t tag);

// Reads path into wave. Returns an empty text on success, or a one-line reason: not a wave
// file, RF64, a format that is not PCM or float (named), no "fmt " or "data", a record
// that cannot be read.
std::string ReadWave(chunkwell::MediaSystemLicence& msl, const QString& path, WaveFile& wave);

// Writes wave as "RIFF"/"WAVE" holding its records in order under safe's temporary name,
// finished; Commit gives it its name. Returns an empty text on success, or a one-line
// reason.
std::string WriteWaveTemporary(chunkwell::MediaSystemLicence& msl, SafeWrite& safe,
                               const WaveFile& wave);

// Returns the reason a SafeWrite failed, from its error number.
std::string SafeWriteError(const SafeWrite& safe);

// Writes wave to path as "RIFF"/"WAVE" holding its records in order, under a temporary
// name in the same folder that becomes path only once the file is complete; an existing
// path is replaced only when replace is set. Returns an empty text on success, or a
// one-line reason; nothing is left behind on failure.
std::string WriteWave(chunkwell::MediaSystemLicence& msl, const QString& path, const WaveFile& wave,
                      bool replace);

} // namespace metronel
