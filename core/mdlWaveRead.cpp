// SPDX-License-Identifier: MIT
// The one front door for reading a wave file: one walk to its records, one set of checks,
// the same reasons for the window's open and every command.
#include "mdlWaveFile.h"

#include "mdlBytes.h"
#include "mdlFileName.h"
#include "mdlHqResample.h"
#include "mdlMain.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <span>
#include <utility>

namespace metronel {

namespace {

std::string Quoted(std::int32_t id) {
    return '"' + FourCCText(id) + '"';
}

// Says what keeps the samples of a PCM or float "fmt " record from being read, where its
// tag is not the reason; empty otherwise.
std::string SampleProblem(std::span<const std::byte> fmt) {
    auto tag = static_cast<std::uint16_t>(GetLE(fmt, 0, 2));
    const auto channels = static_cast<std::int32_t>(GetLE(fmt, 2, 2));
    const auto blockAlign = static_cast<std::int32_t>(GetLE(fmt, 12, 2));
    const auto container = static_cast<std::int32_t>(GetLE(fmt, 14, 2));
    std::int32_t bits = container;
    if (tag == 0xFFFE && fmt.size() >= 26) {
        tag = static_cast<std::uint16_t>(GetLE(fmt, 24, 2));
        if (const auto valid = static_cast<std::int32_t>(GetLE(fmt, 18, 2)); valid != 0)
            bits = valid;
    }
    if ((tag != 1 && tag != 3) || channels < 1)
        return {};
    if (tag == 1 && std::max(bits, container) > 32)
        return "integer samples of " + std::to_string(std::max(bits, container)) +
               " bits are not supported (at most 32)";
    if (tag == 3 && !(bits == 32 || bits == 64))
        return "floating-point samples of " + std::to_string(bits) +
               " bits are not supported (32 or 64)";
    if (bits < 1)
        return "the \"fmt \" record gives no bits per sample";
    const std::int32_t fits = channels * ((container + 7) / 8);
    if (blockAlign != fits)
        return "the block align (" + std::to_string(blockAlign) + " bytes) does not fit " +
               std::to_string(channels) + (channels == 1 ? " channel" : " channels") + " of " +
               std::to_string(container) + " bits (" + std::to_string(fits) + " bytes)";
    return {};
}

// The records a chain of headers from at gives, in order; complete when they end where the
// file or its container does (a last pad byte may be missing).
struct Chain {
    std::vector<RecordPlace> records;
    bool complete = false;
};

Chain HeadersFrom(QFile& file, std::int64_t at, std::int64_t fileSize, std::int64_t end) {
    Chain chain;
    while (at + 8 <= fileSize && chain.records.size() < static_cast<std::size_t>(kMaxWaveRecords)) {
        if (!file.seek(at))
            return chain;
        const QByteArray header = file.read(8);
        if (header.size() != 8)
            return chain;
        for (int i = 0; i < 4; ++i) {
            const auto c = static_cast<unsigned char>(header[i]);
            if (c < 0x20 || c > 0x7E)
                return chain; // no wave file names a record so
        }
        const auto bytes = std::as_bytes(std::span(header.constData(), 8));
        const auto size = static_cast<std::int64_t>(GetLE(bytes, 4, 4));
        if (size > INT32_MAX || at + 8 + size > fileSize)
            return chain;
        chain.records.push_back({static_cast<std::int32_t>(GetLE(bytes, 0, 4)),
                                 static_cast<std::int32_t>(size), at + 8, -1});
        at += 8 + size + (size & 1);
        if (at == end || at == end + 1 || at == fileSize || at == fileSize + 1) {
            chain.complete = true;
            return chain;
        }
    }
    return chain;
}

// Reads on after an odd-sized "data" record without its pad byte, where the records that
// follow line up only without it.
void ReadAroundMissingPad(const QString& path, WaveScan& scan) {
    if (!scan.walk.data)
        return;
    const std::size_t next = *scan.walk.data + 1;
    const RecordPlace& data = scan.walk.records[*scan.walk.data];
    const std::int64_t end = data.offset + std::int64_t{data.size};
    if (data.size % 2 == 0 || end + 8 > scan.fileSize)
        return;
    QFile file;
    if (!OpenNativeForReading(file, path))
        return;
    const std::int64_t containerEnd = 8 + std::int64_t{static_cast<std::uint32_t>(scan.size)};
    if (HeadersFrom(file, end + 1, scan.fileSize, containerEnd).complete)
        return;
    Chain chain = HeadersFrom(file, end, scan.fileSize, containerEnd);
    if (!chain.complete)
        return;
    scan.walk.records.resize(next);
    scan.walk.records.insert(scan.walk.records.end(), chain.records.begin(), chain.records.end());
    for (std::size_t i = next; i < scan.walk.records.size() && !scan.walk.fmt; ++i)
        if (scan.walk.records[i].id == FourCC("fmt "))
            scan.walk.fmt = i;
    scan.walk.stoppedBy.clear(); // what the misread tail ran into
    scan.walk.tooMany = false;
    scan.warning =
        "the \"data\" record lacks its pad byte: " + std::to_string(chain.records.size()) +
        (chain.records.size() == 1 ? " record" : " records") + " after it read from where it ends";
}

constexpr const char* kSoundTooLong = "sound data over 2 GiB is not supported";

// Tells whether the file's first "data" record declares more than 2 GiB, by its headers from
// the first record on: the library cannot place a record that large at all.
bool SoundOver2GiB(const QString& path) {
    QFile file;
    if (!OpenNativeForReading(file, path))
        return false;
    const std::int64_t fileSize = file.size();
    std::int64_t at = 12;
    for (int records = 0; records < 1000 && at + 8 <= fileSize && file.seek(at); ++records) {
        const QByteArray header = file.read(8);
        if (header.size() != 8)
            return false;
        const auto bytes = std::as_bytes(std::span(header.constData(), 8));
        const auto size = static_cast<std::int64_t>(GetLE(bytes, 4, 4));
        if (static_cast<std::int32_t>(GetLE(bytes, 0, 4)) == FourCC("data"))
            return size > INT32_MAX;
        at += 8 + size + (size & 1);
    }
    return false;
}

// ScanWave's checks of the wave file at scan.path, open in scan.reader.
WaveOutResult CheckWave(WaveScan& scan);

// Reads every record scan found into wave.
WaveOutResult ReadScanned(WaveScan& scan, WaveFile& wave, SoundRead sound);

} // namespace

WaveWalk WalkWave(chunkwell::MediaFileReader& reader, WalkTo to) {
    WaveWalk walk;
    // A record the library cannot place ends its scan, but the records found before stay
    // listed and the walk goes on over them: the step is noted and skipped, not the walk.
    auto step = [&](auto&& move) {
        try {
            move();
        } catch (const chunkwell::MediaError& error) {
            if (walk.stoppedBy.empty())
                walk.stoppedBy = error.what();
        }
    };
    step([&] { reader.MoveFirst(); });
    if (reader.BOF() && reader.Records() > 0)
        step([&] { reader.MoveNext(); }); // a first move cut short leaves the reader before
    while (!reader.EOF_() && !reader.BOF()) {
        const chunkwell::MEDIARECORDINFO info = reader.RecordInfo();
        // No wave file holds an all-zero identifier: what lies here is a run of zero bytes,
        // each 8 of them an empty record, which would take minutes to walk.
        if (info.RecordID == 0)
            break;
        if (walk.records.size() >= static_cast<std::size_t>(kMaxWaveRecords)) {
            walk.tooMany = true;
            break;
        }
        const std::size_t index = walk.records.size();
        walk.records.push_back(
            {info.RecordID, info.RecordSize, info.FileOffset, reader.Position()});
        if (info.RecordID == FourCC("fmt ") && !walk.fmt)
            walk.fmt = index;
        if (info.RecordID == FourCC("data") && !walk.data) {
            walk.data = index;
            if (to == WalkTo::Data)
                break;
        }
        const std::int32_t before = reader.Position();
        step([&] { reader.MoveNext(); });
        if (reader.Position() == before)
            break; // the walk cannot go on
    }
    return walk;
}

std::string FormatTagName(std::uint16_t tag) {
    switch (tag) {
    case 0x0001:
        return "PCM";
    case 0x0002:
        return "Microsoft ADPCM";
    case 0x0003:
        return "IEEE float";
    case 0x0006:
        return "A-law";
    case 0x0007:
        return "mu-law";
    case 0x0011:
        return "IMA ADPCM";
    case 0x0031:
        return "GSM 6.10";
    case 0x0050:
        return "MPEG";
    case 0x0055:
        return "MPEG Layer 3";
    case 0x0092:
        return "Dolby AC-3";
    case 0x0161:
    case 0x0162:
    case 0x0163:
        return "Windows Media Audio";
    case 0x00FF:
    case 0x1610:
        return "AAC";
    case 0xF1AC:
        return "FLAC";
    case 0xFFFE:
        return "extensible";
    default:
        break;
    }
    char text[32];
    std::snprintf(text, sizeof text, "format tag 0x%04X", tag);
    return text;
}

WaveOutResult ScanWave(chunkwell::MediaSystemLicence& msl, const QString& path, WaveScan& scan) {
    scan = WaveScan();
    const std::string name = NativeName(path).toStdString();
    errno = 0;
    // Shared: reading excludes no other reader, only a writer.
    try {
        scan.reader = msl.OpenMediaFile(name, true);
    } catch (const chunkwell::MediaError&) {
        // The library refuses a container whose end lies beyond 32 bits.
        QFile file;
        if (OpenNativeForReading(file, path) && file.read(4) == "RIFF")
            return Refusal(SoundOver2GiB(path)
                               ? kSoundTooLong
                               : "the container's size is over 2 GiB: not supported");
        return Refusal("not a RIFF/WAVE file");
    }
    if (!scan.reader) {
        int error = errno;
        if (error == 0 && IsFolder(path))
            error = EISDIR; // opened, but not a file
        return SystemFailure(chunkwell::mfec_OpenFileFailed, error);
    }
    scan.path = path;
    return CheckWave(scan);
}

namespace {

WaveOutResult CheckWave(WaveScan& scan) {
    scan.fileSize = FileSize(scan.path);
    // Room for the container's header and one record's: anything shorter holds no sound.
    if (scan.fileSize < 20)
        return Refusal("file too short");
    chunkwell::MediaFileReader& reader = *scan.reader;
    scan.container = reader.ChunkID();
    scan.type = reader.ChunkType();
    scan.size = reader.ChunkSize();
    // The library reads every size little-endian; a big-endian file's is the other way round.
    if (scan.container == FourCC("RIFX")) {
        const auto le = static_cast<std::uint32_t>(scan.size);
        scan.size = static_cast<std::int32_t>((le >> 24) | ((le >> 8) & 0xFF00u) |
                                              ((le << 8) & 0xFF0000u) | (le << 24));
    }
    if (scan.container == FourCC("RF64") || scan.container == FourCC("BW64"))
        return Refusal(FourCCText(scan.container) + " files are not supported");
    if (scan.container == FourCC("RIFX"))
        return Refusal("big-endian (RIFX) files are not supported");
    if (scan.container != FourCC("RIFF") || scan.type != FourCC("WAVE"))
        return Refusal("not a RIFF/WAVE file");
    scan.walk = WalkWave(reader, WalkTo::End);
    ReadAroundMissingPad(scan.path, scan);
    if ((!scan.walk.data || !scan.walk.stoppedBy.empty()) && SoundOver2GiB(scan.path))
        return Refusal(kSoundTooLong);
    if (scan.walk.tooMany)
        return Refusal("more than " + std::to_string(kMaxWaveRecords) +
                       " records: the file is not read");
    // The reader takes a short read for a whole one; a record the file ends inside would
    // come back with zeros that were never in it.
    for (const RecordPlace& record : scan.walk.records) {
        if (record.size < 0)
            return Refusal("the " + Quoted(record.id) + " record has no valid size");
        if (record.offset + record.size > scan.fileSize)
            return Refusal("the " + Quoted(record.id) + " record is cut short: the file ends " +
                           std::to_string(record.offset + record.size - scan.fileSize) +
                           " bytes before it does");
    }
    if (!scan.walk.stoppedBy.empty())
        return Refusal("unreadable records: " + scan.walk.stoppedBy);
    if (!scan.walk.fmt)
        return Refusal("no \"fmt \" record");
    if (!scan.walk.data)
        return Refusal("no \"data\" record");
    try {
        const RecordPlace& fmt = scan.walk.records[*scan.walk.fmt];
        scan.fmt.resize(static_cast<std::size_t>(fmt.size));
        reader.MoveTo(fmt.position);
        if (fmt.size > 0 && !reader.ReadRecord(scan.fmt))
            return Refusal("the \"fmt \" record is cut short");
    } catch (const chunkwell::MediaError& error) {
        return Refusal(std::string("unreadable records: ") + error.what());
    } catch (const std::bad_alloc&) {
        return Refusal("not enough memory");
    }
    if (scan.fmt.size() < WAVEFORMATINFO::kSize)
        return Refusal("the \"fmt \" record is too short");
    const auto tag = static_cast<std::uint16_t>(GetLE(scan.fmt, 0, 2));
    if (!SampleFormatFromFmt(scan.fmt)) {
        if (const std::string problem = SampleProblem(scan.fmt); !problem.empty())
            return Refusal(problem);
        if (tag == 0xFFFE)
            return Refusal("unsupported format: extensible with sub-format " +
                           FormatTagName(static_cast<std::uint16_t>(GetLE(scan.fmt, 24, 2))));
        return Refusal("unsupported format: " + FormatTagName(tag));
    }
    const auto channels = static_cast<std::int32_t>(GetLE(scan.fmt, 2, 2));
    const auto rate = static_cast<std::int32_t>(GetLE(scan.fmt, 4, 4));
    const auto blockAlign = static_cast<std::int32_t>(GetLE(scan.fmt, 12, 2));
    if (blockAlign < 1 || rate < 1 || channels < 1)
        return Refusal("the \"fmt \" record is corrupt");
    // Frame picking counts a frame's bytes in 16 signed bits.
    if (blockAlign > INT16_MAX)
        return Refusal("frames of more than 32767 bytes are not supported");
    return {};
}

WaveOutResult ReadScanned(WaveScan& scan, WaveFile& wave, SoundRead sound) {
    try {
        QFile around; // for the records the library's walk did not place
        for (std::size_t i = 0; i < scan.walk.records.size(); ++i) {
            const RecordPlace& place = scan.walk.records[i];
            WaveRecord record;
            record.id = place.id;
            if (i == *scan.walk.data && sound == SoundRead::Later && place.position > 0) {
                wave.soundInFile = SoundInFile{scan.reader, place.position, place.size};
                wave.records.push_back(std::move(record));
                continue;
            }
            record.bytes.resize(static_cast<std::size_t>(place.size));
            if (place.position < 0) {
                const auto size = static_cast<qint64>(place.size);
                if ((!around.isOpen() && !OpenNativeForReading(around, scan.path)) ||
                    !around.seek(place.offset) ||
                    around.read(reinterpret_cast<char*>(record.bytes.data()), size) != size)
                    return Refusal("the " + Quoted(place.id) + " record is cut short");
                wave.records.push_back(std::move(record));
                continue;
            }
            scan.reader->MoveTo(place.position);
            if (place.size > 0 && !scan.reader->ReadRecord(record.bytes))
                return Refusal("the " + Quoted(place.id) + " record is cut short");
            wave.records.push_back(std::move(record));
        }
    } catch (const chunkwell::MediaError& error) {
        return Refusal(std::string("unreadable records: ") + error.what());
    } catch (const std::bad_alloc&) {
        return Refusal("not enough memory");
    }
    wave.fmtIndex = *scan.walk.fmt;
    wave.dataIndex = *scan.walk.data;
    wave.warning = scan.warning;
    return {};
}

} // namespace

WaveOutResult ReadWave(chunkwell::MediaSystemLicence& msl, const QString& path, WaveFile& wave,
                       SoundRead sound) {
    wave = WaveFile();
    WaveScan scan;
    if (WaveOutResult scanned = ScanWave(msl, path, scan); !scanned.Written())
        return scanned;
    return ReadScanned(scan, wave, sound);
}

WaveOutResult ReadWave(std::shared_ptr<chunkwell::MediaFileReader> reader, const QString& path,
                       WaveFile& wave) {
    wave = WaveFile();
    WaveScan scan;
    scan.reader = std::move(reader);
    scan.path = path;
    if (WaveOutResult scanned = CheckWave(scan); !scanned.Written())
        return scanned;
    return ReadScanned(scan, wave, SoundRead::Whole);
}

} // namespace metronel
