// SPDX-License-Identifier: MIT
#pragma once

// Wave files read and written whole: every top-level record kept whole and in order, so a
// copy can carry the metadata through.
//
//   chunkwell::MediaSystemLicence msl;            // one per thread
//   WaveFile wave;
//   if (auto read = ReadWave(msl, "loop.wav", wave); !read.Written()) ... read.OneLine()
//   wave.Data() = newFrames;                       // then adjust the metadata
//   auto written = WriteWave(msl, "out.wav", wave, false);
//
// Every reader of wave files comes in through one walk (WalkWave): the window's open on its
// own reader, up to "data"; ScanWave and ReadWave for the command line, to the end, with the
// same limits and the same reasons for the same file.

#include "mdlFailure.h"
#include "mdlSafeWrite.h"

#include <chunkwell/MediaSystemLicence.h>

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
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

// A file's "data" record left in the file, to be read a stretch at a time: a sound of any
// length without holding it.
struct SoundInFile {
    std::shared_ptr<chunkwell::MediaFileReader> reader;
    std::int32_t position = 0; // the reader's Position() on "data"
    std::int32_t size = 0;     // bytes

    // Reads bytes.size() bytes from offset of "data". Raises std::runtime_error when the file
    // no longer holds them (cut short since it was read), chunkwell::MediaError as the reader.
    void Read(std::int64_t offset, std::span<std::byte> bytes) const;
};

// Writes bytes at offset of the "data" record being written; false when the system write fails.
using PutBytes = std::function<bool(std::int64_t offset, std::span<const std::byte> bytes)>;

// A "data" record made while its file is written, for a sound too long to hold: its size,
// and what writes every byte of it through put (in any order), returning false when put does.
struct SoundMaker {
    std::int64_t size = 0;
    std::function<bool(const PutBytes& put)> write;
};

// The records of a "RIFF"/"WAVE" file, "fmt " and "data" among them.
struct WaveFile {
    std::vector<WaveRecord> records;
    std::size_t fmtIndex = 0;
    std::size_t dataIndex = 0;
    std::string warning; // how the file was read around a fault, on one line; empty if not
    // Set when "data" was left in the file (SoundRead::Later): Data() is then empty.
    std::optional<SoundInFile> soundInFile;
    // Set to write "data" from this instead of Data().
    std::shared_ptr<const SoundMaker> maker;

    const std::vector<std::byte>& Fmt() const { return records[fmtIndex].bytes; }
    std::vector<std::byte>& Data() { return records[dataIndex].bytes; }
    const std::vector<std::byte>& Data() const { return records[dataIndex].bytes; }
    std::int32_t Channels() const;
    std::int32_t Rate() const;
    std::int32_t BlockAlign() const;
    std::int32_t BitsPerSample() const;
    // Returns the bytes of "data" as read, whether held or left in the file.
    std::int32_t DataSize() const;
    // Reads bytes.size() bytes from offset of "data", held or left in the file. Raises as
    // SoundInFile::Read, and std::out_of_range outside "data".
    void ReadSound(std::int64_t offset, std::span<std::byte> bytes) const;
    // Returns the whole frames of "data".
    std::int32_t Frames() const;
};

// Reads "data" left in the file into Data(), if it was. Raises as SoundInFile::Read, and
// std::bad_alloc.
void HoldSound(WaveFile& wave);

// Returns the name of a format tag ("PCM", "MPEG Layer 3", "A-law"...), or
// "format tag 0x....".
std::string FormatTagName(std::uint16_t tag);

// Where one record of a container lies.
struct RecordPlace {
    std::int32_t id = 0;
    std::int32_t size = 0;     // as its header declares it
    std::int64_t offset = 0;   // of its data in the file
    std::int32_t position = 0; // the reader's Position() on it
};

// A walk that meets more records than this is taken to be running over garbage.
inline constexpr int kMaxWaveRecords = 100000;

// How far WalkWave goes.
enum class WalkTo {
    Data, // up to and including the first "data", where the reader is left standing
    End,  // through the whole container
};

// What one walk found.
struct WaveWalk {
    std::vector<RecordPlace> records; // in file order
    std::optional<std::size_t> fmt;   // index of the first "fmt "
    std::optional<std::size_t> data;  // index of the first "data"
    bool tooMany = false;             // stopped at kMaxWaveRecords records
    std::string stoppedBy;            // the library's text, when it could not place a record
};

// Walks reader's records from the first. Stops at an all-zero identifier (zero bytes, not
// records), where the walk cannot advance and at kMaxWaveRecords records (tooMany). A record
// the library cannot place ends its scan (stoppedBy), but the walk goes on over the records
// found before it. Raises nothing.
WaveWalk WalkWave(chunkwell::MediaFileReader& reader, WalkTo to);

// A wave file opened and walked by ScanWave.
struct WaveScan {
    std::shared_ptr<chunkwell::MediaFileReader> reader;
    std::int32_t container = 0; // "RIFF", "RF64"...
    std::int32_t type = 0;      // "WAVE"...
    std::int32_t size = 0;      // the container's size field
    QString path;
    std::int64_t fileSize = 0;
    WaveWalk walk;
    std::vector<std::byte> fmt; // the first "fmt " record's bytes
    std::string warning;        // how the file was read around a fault, on one line
};

// Opens path shared for reading and walks it to the end. Returns Written when it is a wave
// file the programs can use, or the failure with its one-line reason: the system's (a
// missing file, a folder, a file another program holds), too short, RF64/BW64, not
// RIFF/WAVE, too many or unreadable records, a record the file ends inside, no "fmt " or
// "data", a format that is not PCM or float (named), a corrupt format. An odd-sized "data"
// record written without its pad byte is read around, as widely used readers do, when only
// the unpadded position leads to records that end with the file: records after it then have
// position -1 and scan.warning says so. What was found
// before a refusal stays in scan.
WaveOutResult ScanWave(chunkwell::MediaSystemLicence& msl, const QString& path, WaveScan& scan);

// Whether ReadWave reads "data" into memory.
enum class SoundRead {
    Whole, // into Data()
    Later, // left in the file (wave.soundInFile), which stays open while wave holds it
};

// Reads path into wave, every record whole and in order, after ScanWave's checks. Returns
// Written, or the failure with its one-line reason.
WaveOutResult ReadWave(chunkwell::MediaSystemLicence& msl, const QString& path, WaveFile& wave,
                       SoundRead sound = SoundRead::Whole);
// As above, through a reader already open on path (the window holds its file to itself, so a
// second open would be refused); leaves the reader where it likes.
WaveOutResult ReadWave(std::shared_ptr<chunkwell::MediaFileReader> reader, const QString& path,
                       WaveFile& wave);

// Writes wave as "RIFF"/"WAVE" holding its records in order under safe's temporary name,
// finished ("data" from wave.maker when set); Commit gives it its name. Returns Written, or the
// failure (with the system's error number where it gave one).
WaveOutResult WriteWaveTemporary(chunkwell::MediaSystemLicence& msl, SafeWrite& safe,
                                 const WaveFile& wave);

// Returns the failure of a SafeWrite, from its error number (EEXIST: the target was there
// and was not to be replaced, code 2).
WaveOutResult SafeWriteFailure(const SafeWrite& safe);

// Returns the refusal of a target SafeWrite::TargetFree did not find free: a create that
// failed (code 2), as creating in place would have, with the system's reason.
WaveOutResult TargetRefusal(const SafeWrite& safe);

// Writes wave to path as "RIFF"/"WAVE" holding its records in order, under a temporary
// name in the same folder that becomes path only once the file is complete; an existing
// path is replaced only when replace is set. Returns Written, or the failure; nothing is
// left behind on failure.
WaveOutResult WriteWave(chunkwell::MediaSystemLicence& msl, const QString& path,
                        const WaveFile& wave, bool replace);

} // namespace metronel
