// SPDX-License-Identifier: MIT
// info: a file's format, length, tempo and the tree of its records.
#include "cliBatch.h"
#include "cliCommands.h"
#include "cliMeter.h"
#include "mdlBytes.h"
#include "mdlFileName.h"
#include "mdlMain.h"
#include "mdlWaveFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <memory>
#include <vector>

namespace metronel::cli {

namespace {

// Nested lists deeper than this are taken to be running over garbage.
constexpr int kMaxDepth = 8;

bool IsContainer(std::int32_t id) {
    return id == FourCC("RIFF") || id == FourCC("LIST");
}

QJsonObject RecordObject(std::int32_t id, std::int64_t offset, std::int32_t size) {
    return {{"id", QString::fromStdString(FourCCText(id))},
            {"offset", static_cast<qint64>(offset - 8)},
            {"size", size}};
}

// Returns the records inside a "LIST" record, and the lists inside those. The walk to the
// file's own records is the front door's; only what lies inside them is walked here.
QJsonArray NestedRecords(chunkwell::MediaFileReader& reader, int depth, int& walked) {
    QJsonArray records;
    for (reader.MoveFirst(); !reader.EOF_(); reader.MoveNext()) {
        const chunkwell::MEDIARECORDINFO info = reader.RecordInfo();
        if (info.RecordID == 0 || ++walked > kMaxWaveRecords)
            break;
        QJsonObject record = RecordObject(info.RecordID, info.FileOffset, info.RecordSize);
        if (IsContainer(info.RecordID) && info.RecordSize >= 4 && depth < kMaxDepth) {
            auto inner = reader.ExpandChunk();
            record.insert("type", QString::fromStdString(FourCCText(inner->ChunkType())));
            record.insert("records", NestedRecords(*inner, depth + 1, walked));
        }
        records.append(record);
    }
    return records;
}

QJsonArray TopRecords(WaveScan& scan) {
    QJsonArray records;
    int walked = 0;
    for (const RecordPlace& place : scan.walk.records) {
        QJsonObject record = RecordObject(place.id, place.offset, place.size);
        if (IsContainer(place.id) && place.size >= 4) {
            try {
                scan.reader->MoveTo(place.position);
                auto inner = scan.reader->ExpandChunk();
                record.insert("type", QString::fromStdString(FourCCText(inner->ChunkType())));
                record.insert("records", NestedRecords(*inner, 1, walked));
            } catch (const chunkwell::MediaError&) {
                // What lies inside cannot be placed: the record is listed without it.
            }
        }
        records.append(record);
    }
    return records;
}

// Returns the bars and beats for the file as the other commands choose them: from its
// records alone, or with a guess from its sound read whole.
std::optional<MeterChoice> MeterOf(chunkwell::MediaSystemLicence& msl, const QString& path,
                                   WaveScan& scan, const TempoOptions& options,
                                   std::string& error) {
    const MeterRequest request = RequestOf(options);
    WaveFile wave;
    if (request.guess && !(request.bars && request.beats)) {
        if (const WaveOutResult read = ReadWave(msl, path, wave); !read.Written()) {
            error = Reason(read);
            return std::nullopt;
        }
    } else {
        wave.records.push_back({FourCC("fmt "), scan.fmt});
        for (const RecordPlace& place : scan.walk.records)
            if (place.id == FourCC("acid") && place.size >= 24 && place.size <= 4096) {
                std::vector<std::byte> acid(static_cast<std::size_t>(place.size));
                const bool read = SkipOnError([&] {
                    scan.reader->MoveTo(place.position);
                    if (!scan.reader->ReadRecord(acid))
                        throw CalcError("unreadable");
                });
                if (read)
                    wave.records.push_back({FourCC("acid"), std::move(acid)});
                break;
            }
        wave.records.push_back({FourCC("data"), {}});
        wave.dataIndex = wave.records.size() - 1;
    }
    auto choice = ChooseMeter(wave, request);
    if (!choice)
        error = "no bar count from 1 to 64 puts the tempo between " +
                DoubleText(request.low).toStdString() + " and " +
                DoubleText(request.high).toStdString() + " bpm";
    return choice;
}

QJsonObject Describe(chunkwell::MediaSystemLicence& msl, const QString& path,
                     const TempoOptions& options) {
    QJsonObject file{{"file", path}};
    WaveScan scan;
    const WaveOutResult scanned = ScanWave(msl, path, scan);
    if (!scanned.Written())
        file.insert("error", QString::fromStdString(Reason(scanned)));
    if (!scan.warning.empty())
        file.insert("warning", QString::fromStdString(scan.warning));
    if (scan.container == 0)
        return file; // nothing was read
    file.insert("container", QString::fromStdString(FourCCText(scan.container)));
    file.insert("type", QString::fromStdString(FourCCText(scan.type)));
    // The size field is unsigned: a RIFF file may declare up to 4 GiB.
    file.insert("size", static_cast<qint64>(static_cast<std::uint32_t>(scan.size)));
    file.insert("records", TopRecords(scan));
    if (scan.fmt.size() >= WAVEFORMATINFO::kSize) {
        const auto tag = static_cast<std::uint16_t>(GetLE(scan.fmt, 0, 2));
        QJsonObject format{{"tag", static_cast<int>(tag)},
                           {"name", QString::fromStdString(FormatTagName(tag))},
                           {"channels", static_cast<int>(GetLE(scan.fmt, 2, 2))},
                           {"rate", static_cast<qint64>(GetLE(scan.fmt, 4, 4))},
                           {"bits", static_cast<int>(GetLE(scan.fmt, 14, 2))},
                           {"blockAlign", static_cast<int>(GetLE(scan.fmt, 12, 2))}};
        if (tag == 0xFFFE && scan.fmt.size() >= 40)
            format.insert("subFormat", QString::fromStdString(FormatTagName(
                                           static_cast<std::uint16_t>(GetLE(scan.fmt, 24, 2)))));
        file.insert("format", format);
    }
    // Frames and tempo only for a sound the commands can use, so that info and tempo agree.
    if (scanned.Written()) {
        const auto align = static_cast<std::int64_t>(GetLE(scan.fmt, 12, 2));
        const auto rate = static_cast<std::int32_t>(GetLE(scan.fmt, 4, 4));
        const auto frames =
            static_cast<std::int32_t>(scan.walk.records[*scan.walk.data].size / align);
        file.insert("frames", frames);
        file.insert("seconds", static_cast<double>(frames) / rate);
        std::string error;
        if (const auto choice = MeterOf(msl, path, scan, options, error)) {
            const Meter& m = choice->meter;
            SkipOnError(
                [&] { file.insert("bpm", BpmFromSamples(frames, rate, m.bars, m.beatsPerBar)); });
            file.insert("bars", m.bars);
            file.insert("beats", m.beatsPerBar);
            file.insert("barsFrom", MeterSourceKey(m.source));
            if (choice->recordTempo)
                file.insert("recordBpm", *choice->recordTempo);
        } else {
            file.insert("error", QString::fromStdString(error));
        }
    }
    return file;
}

void PrintRecords(const QJsonArray& records, int depth) {
    for (const QJsonValue& value : records) {
        const QJsonObject r = value.toObject();
        std::printf("%*s%s  offset %lld  size %lld", 4 + 2 * depth, "",
                    r["id"].toString().toUtf8().constData(),
                    static_cast<long long>(r["offset"].toInteger()),
                    static_cast<long long>(r["size"].toInteger()));
        if (r.contains("type"))
            std::printf("  type %s", r["type"].toString().toUtf8().constData());
        std::printf("\n");
        PrintRecords(r["records"].toArray(), depth + 1);
    }
}

void PrintText(const QJsonObject& f) {
    std::printf("%s\n", NativeName(f["file"].toString()).constData());
    if (f.contains("format")) {
        const QJsonObject fmt = f["format"].toObject();
        QString name = fmt["name"].toString();
        if (fmt.contains("subFormat"))
            name += QStringLiteral(" (") + fmt["subFormat"].toString() + u')';
        std::printf("  format: tag 0x%04X %s, %d channels, %lld Hz, %d bits, block align %d\n",
                    fmt["tag"].toInt(), name.toUtf8().constData(), fmt["channels"].toInt(),
                    static_cast<long long>(fmt["rate"].toInteger()), fmt["bits"].toInt(),
                    fmt["blockAlign"].toInt());
    }
    if (f.contains("frames"))
        std::printf("  frames: %lld (%.3f s)\n", static_cast<long long>(f["frames"].toInteger()),
                    f["seconds"].toDouble());
    if (f.contains("bars")) {
        const QString key = f["barsFrom"].toString();
        MeterSource source = MeterSource::Given;
        for (MeterSource s : {MeterSource::TempoRecord, MeterSource::Sound, MeterSource::Range})
            if (key == QLatin1String(MeterSourceKey(s)))
                source = s;
        const Meter meter{static_cast<float>(f["bars"].toDouble()),
                          static_cast<float>(f["beats"].toDouble()), source};
        std::optional<float> record;
        if (f.contains("recordBpm"))
            record = static_cast<float>(f["recordBpm"].toDouble());
        std::printf("  bpm: %s (%s)\n",
                    f.contains("bpm") ? ShortNumber(f["bpm"].toDouble()).c_str() : "?",
                    MeterText(meter, record).c_str());
    }
    if (f.contains("container")) {
        std::printf("  records:\n    %s  size %lld  type %s\n",
                    f["container"].toString().toUtf8().constData(),
                    static_cast<long long>(f["size"].toInteger()),
                    f["type"].toString().toUtf8().constData());
        PrintRecords(f["records"].toArray(), 1);
    }
}

} // namespace

int RunInfo(const QStringList& files, bool json, const TempoOptions& options) {
    chunkwell::MediaSystemLicence msl;
    QJsonArray all;
    bool failed = false;
    for (const QString& path : files) {
        const QJsonObject file = Describe(msl, path, options);
        if (file.contains("warning") && !json)
            PrintError(NameBytes(path) + ": warning: " + file["warning"].toString().toStdString());
        if (file.contains("error")) {
            failed = true;
            if (!json)
                PrintError(NameBytes(path) + ": " + file["error"].toString().toStdString());
        }
        if (json)
            all.append(file);
        else if (file.contains("container"))
            PrintText(file);
    }
    if (json)
        std::fputs(QJsonDocument(QJsonObject{{"files", all}}).toJson().constData(), stdout);
    return failed ? 1 : 0;
}

} // namespace metronel::cli
