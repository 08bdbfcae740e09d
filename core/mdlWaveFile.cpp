// SPDX-License-Identifier: MIT
// Reading and writing whole wave files record by record, every record kept.
#include "mdlWaveFile.h"

#include "mdlHqResample.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace metronel {

namespace {

// A walk that meets more records than this is taken to be running over garbage.
constexpr int kMaxRecords = 100000;

std::uint32_t U16(const std::vector<std::byte>& b, std::size_t at) {
    if (b.size() < at + 2)
        return 0;
    return std::to_integer<std::uint32_t>(b[at]) | std::to_integer<std::uint32_t>(b[at + 1]) << 8;
}

std::uint32_t U32(const std::vector<std::byte>& b, std::size_t at) {
    return U16(b, at) | U16(b, at + 2) << 16;
}

std::string Quoted(std::int32_t id) {
    return '"' + FourCCText(id) + '"';
}

} // namespace

std::string FourCCText(std::int32_t id) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<unsigned char>(static_cast<std::uint32_t>(id) >> (8 * i));
        text += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    return text;
}

std::int32_t WaveFile::Channels() const {
    return static_cast<std::int32_t>(U16(Fmt(), 2));
}
std::int32_t WaveFile::Rate() const {
    return static_cast<std::int32_t>(U32(Fmt(), 4));
}
std::int32_t WaveFile::BlockAlign() const {
    return static_cast<std::int32_t>(U16(Fmt(), 12));
}
std::int32_t WaveFile::BitsPerSample() const {
    return static_cast<std::int32_t>(U16(Fmt(), 14));
}
std::int32_t WaveFile::Frames() const {
    const std::int32_t align = BlockAlign();
    return align > 0 ? static_cast<std::int32_t>(Data().size() / static_cast<std::size_t>(align))
                     : 0;
}

std::string FormatTagName(std::uint16_t tag) {
    switch (tag) {
    case 0x0002:
        return "Microsoft ADPCM";
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
    default:
        break;
    }
    char text[32];
    std::snprintf(text, sizeof text, "format tag 0x%04X", tag);
    return text;
}

std::string ReadWave(chunkwell::MediaSystemLicence& msl, const QString& path, WaveFile& wave) {
    wave = WaveFile();
    try {
        auto reader = msl.OpenMediaFile(QFile::encodeName(path).toStdString());
        if (!reader)
            return msl.DisplayError();
        if (reader->ChunkID() == FourCC("RF64") || reader->ChunkID() == FourCC("BW64"))
            return FourCCText(reader->ChunkID()) + " files are not supported";
        if (reader->ChunkID() != FourCC("RIFF") || reader->ChunkType() != FourCC("WAVE"))
            return "not a RIFF/WAVE file";
        // The reader takes a short read for a whole one; a record the file ends inside
        // would come back with zeros that were never in it.
        const qint64 fileSize = QFileInfo(path).size();
        bool haveFmt = false;
        bool haveData = false;
        int walked = 0;
        for (reader->MoveFirst(); !reader->EOF_(); reader->MoveNext()) {
            const chunkwell::MEDIARECORDINFO info = reader->RecordInfo();
            // Zeros where a record should start are the end of what was written.
            if (info.RecordID == 0 || ++walked > kMaxRecords)
                break;
            WaveRecord record;
            record.id = info.RecordID;
            if (info.RecordSize < 0)
                return "the " + Quoted(info.RecordID) + " record has no valid size";
            if (qint64{info.FileOffset} + info.RecordSize > fileSize)
                return "the " + Quoted(info.RecordID) + " record is cut short: the file ends " +
                       std::to_string(qint64{info.FileOffset} + info.RecordSize - fileSize) +
                       " bytes before it does";
            record.bytes.resize(static_cast<std::size_t>(info.RecordSize));
            if (info.RecordSize > 0 && !reader->ReadRecord(record.bytes))
                return "the " + Quoted(info.RecordID) + " record is cut short";
            if (record.id == FourCC("fmt ") && !haveFmt) {
                haveFmt = true;
                wave.fmtIndex = wave.records.size();
            } else if (record.id == FourCC("data") && !haveData) {
                haveData = true;
                wave.dataIndex = wave.records.size();
            }
            wave.records.push_back(std::move(record));
        }
        if (!haveFmt)
            return "no \"fmt \" record";
        if (!haveData)
            return "no \"data\" record";
    } catch (const chunkwell::MediaError& error) {
        return std::string("unreadable records: ") + error.what();
    } catch (const std::bad_alloc&) {
        return "not enough memory";
    }
    const auto& fmt = wave.Fmt();
    if (fmt.size() < 16)
        return "the \"fmt \" record is too short";
    const auto tag = static_cast<std::uint16_t>(U16(fmt, 0));
    if (!SampleFormatFromFmt(fmt)) {
        if (tag == 0xFFFE)
            return "unsupported format: extensible with sub-format " +
                   FormatTagName(static_cast<std::uint16_t>(U16(fmt, 24)));
        return "unsupported format: " + FormatTagName(tag);
    }
    if (wave.BlockAlign() < 1 || wave.Rate() < 1 || wave.Channels() < 1)
        return "the \"fmt \" record is corrupt";
    // Frame picking counts a frame's bytes in 16 signed bits.
    if (wave.BlockAlign() > INT16_MAX)
        return "frames of more than 32767 bytes are not supported";
    return {};
}

std::string SafeWriteError(const SafeWrite& safe) {
    return safe.Error() == EEXIST
               ? "exists (use --force to replace it)"
               : std::string("cannot be written: ") + std::strerror(safe.Error());
}

std::string WriteWaveTemporary(chunkwell::MediaSystemLicence& msl, SafeWrite& safe,
                               const WaveFile& wave) {
    auto writer = msl.CreateMediaFile(QFile::encodeName(safe.TempPath()).toStdString(), "RIFF",
                                      "WAVE", false);
    if (!writer)
        return msl.DisplayError();
    try {
        for (const WaveRecord& record : wave.records) {
            if (record.bytes.size() > static_cast<std::size_t>(INT32_MAX))
                throw chunkwell::OverflowError("a record leaves 32 bits");
            const auto size = static_cast<std::int32_t>(record.bytes.size());
            if (!writer->CreateChild(record.id, size) ||
                (size > 0 && !writer->WriteRecord(record.bytes)))
                return chunkwell::ErrorText(chunkwell::mfec_WriteToDataFailed);
        }
    } catch (const chunkwell::MediaError& error) {
        return std::string("cannot write: ") + error.what();
    }
    if (!writer->Finish())
        return chunkwell::ErrorText(chunkwell::mfec_WriteToDataFailed);
    return {};
}

std::string WriteWave(chunkwell::MediaSystemLicence& msl, const QString& path, const WaveFile& wave,
                      bool replace) {
    SafeWrite safe(path);
    if (!safe.TargetFree(replace))
        return SafeWriteError(safe);
    if (std::string error = WriteWaveTemporary(msl, safe, wave); !error.empty())
        return error;
    if (!safe.Commit(replace))
        return SafeWriteError(safe);
    return {};
}

} // namespace metronel
