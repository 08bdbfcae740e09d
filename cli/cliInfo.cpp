// SPDX-License-Identifier: MIT
// info: a file's format, length, tempo and the tree of its records.
#include "cliBatch.h"
#include "cliCommands.h"
#include "cliMeter.h"
#include "mdlHqResample.h"
#include "mdlMain.h"
#include "mdlWaveFile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <memory>
#include <vector>

namespace metronel::cli {

namespace {

// Walks beyond these are taken to be running over garbage.
constexpr int kMaxRecords = 10000;
constexpr int kMaxDepth = 8;

bool IsContainer(std::int32_t id) {
    return id == FourCC("RIFF") || id == FourCC("LIST");
}

struct Walk {
    int records = 0;
    std::vector<std::byte> fmt;
    std::vector<std::byte> acid;
    std::int64_t dataSize = -1;
};

// Returns the records of reader's container, descending into "LIST" records.
QJsonArray WalkRecords(chunkwell::MediaFileReader& reader, int depth, Walk& walk) {
    QJsonArray records;
    for (reader.MoveFirst(); !reader.EOF_(); reader.MoveNext()) {
        const chunkwell::MEDIARECORDINFO info = reader.RecordInfo();
        // Zeros where a record should start are the end of what was written.
        if (info.RecordID == 0 || ++walk.records > kMaxRecords)
            break;
        QJsonObject record{{"id", QString::fromStdString(FourCCText(info.RecordID))},
                           {"offset", static_cast<qint64>(info.FileOffset) - 8},
                           {"size", info.RecordSize}};
        if (depth == 0 && info.RecordID == FourCC("fmt ") && walk.fmt.empty() &&
            info.RecordSize > 0 && info.RecordSize <= 4096) {
            walk.fmt.resize(static_cast<std::size_t>(info.RecordSize));
            if (!reader.ReadRecord(walk.fmt))
                walk.fmt.clear();
        } else if (depth == 0 && info.RecordID == FourCC("acid") && info.RecordSize >= 24 &&
                   info.RecordSize <= 4096) {
            walk.acid.resize(static_cast<std::size_t>(info.RecordSize));
            if (!reader.ReadRecord(walk.acid))
                walk.acid.clear();
        } else if (depth == 0 && info.RecordID == FourCC("data") && walk.dataSize < 0) {
            walk.dataSize = info.RecordSize;
        }
        if (IsContainer(info.RecordID) && info.RecordSize >= 4 && depth < kMaxDepth) {
            auto inner = reader.ExpandChunk();
            record.insert("type", QString::fromStdString(FourCCText(inner->ChunkType())));
            record.insert("records", WalkRecords(*inner, depth + 1, walk));
        }
        records.append(record);
    }
    return records;
}

QString TagName(std::uint32_t tag) {
    switch (tag) {
    case 1:
        return QStringLiteral("PCM");
    case 3:
        return QStringLiteral("IEEE float");
    case 0xFFFE:
        return QStringLiteral("extensible");
    default:
        return QString::fromStdString(FormatTagName(static_cast<std::uint16_t>(tag)));
    }
}

std::uint32_t Le(const std::vector<std::byte>& b, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        if (at + static_cast<std::size_t>(i) < b.size())
            v = v << 8 | std::to_integer<std::uint32_t>(b[at + static_cast<std::size_t>(i)]);
        else
            v <<= 8;
    return v;
}

// Returns the bars and beats for the file at path as the other commands choose them: from
// its records alone, or with a guess from its sound read whole.
std::optional<MeterChoice> MeterOf(chunkwell::MediaSystemLicence& msl, const QString& path,
                                   const Walk& walk, const TempoOptions& options,
                                   std::string& error) {
    const MeterRequest request = RequestOf(options);
    WaveFile wave;
    if (request.guess && !(request.bars && request.beats)) {
        if (error = ReadWave(msl, path, wave); !error.empty())
            return std::nullopt;
    } else {
        wave.records.push_back({FourCC("fmt "), walk.fmt});
        if (!walk.acid.empty())
            wave.records.push_back({FourCC("acid"), walk.acid});
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
    try {
        auto reader = msl.OpenMediaFile(QFile::encodeName(path).toStdString());
        if (!reader) {
            file.insert("error", QString::fromStdString(msl.DisplayError()));
            return file;
        }
        if (QFileInfo(path).size() < 12) {
            file.insert("error", QStringLiteral("too short for a RIFF file"));
            return file;
        }
        file.insert("container", QString::fromStdString(FourCCText(reader->ChunkID())));
        file.insert("type", QString::fromStdString(FourCCText(reader->ChunkType())));
        file.insert("size", reader->ChunkSize());
        if (reader->ChunkID() != FourCC("RIFF")) {
            file.insert("error", reader->ChunkID() == FourCC("RF64")
                                     ? QStringLiteral("RF64 files are not supported")
                                     : QStringLiteral("not a RIFF file"));
            return file;
        }
        Walk walk;
        file.insert("records", WalkRecords(*reader, 0, walk));
        reader.reset(); // closed, so that a guess can read the sound whole
        if (walk.fmt.size() >= 16) {
            const std::uint32_t tag = Le(walk.fmt, 0, 2);
            QJsonObject format{{"tag", static_cast<int>(tag)},
                               {"name", TagName(tag)},
                               {"channels", static_cast<int>(Le(walk.fmt, 2, 2))},
                               {"rate", static_cast<qint64>(Le(walk.fmt, 4, 4))},
                               {"bits", static_cast<int>(Le(walk.fmt, 14, 2))},
                               {"blockAlign", static_cast<int>(Le(walk.fmt, 12, 2))}};
            if (tag == 0xFFFE && walk.fmt.size() >= 40)
                format.insert("subFormat", TagName(Le(walk.fmt, 24, 2)));
            file.insert("format", format);
            const auto align = static_cast<std::int64_t>(Le(walk.fmt, 12, 2));
            const auto rate = static_cast<std::int32_t>(Le(walk.fmt, 4, 4));
            // Frames and tempo only where a frame is a block: not for compressed formats.
            if (walk.dataSize >= 0 && align > 0 && rate > 0 && SampleFormatFromFmt(walk.fmt)) {
                const auto frames = static_cast<std::int32_t>(walk.dataSize / align);
                file.insert("frames", frames);
                file.insert("seconds", static_cast<double>(frames) / rate);
                std::string error;
                if (const auto choice = MeterOf(msl, path, walk, options, error)) {
                    const Meter& m = choice->meter;
                    SkipOnError([&] {
                        file.insert("bpm", BpmFromSamples(frames, rate, m.bars, m.beatsPerBar));
                    });
                    file.insert("bars", m.bars);
                    file.insert("beats", m.beatsPerBar);
                    file.insert("barsFrom", MeterSourceKey(m.source));
                    if (choice->recordTempo)
                        file.insert("recordBpm", *choice->recordTempo);
                } else {
                    file.insert("error", QString::fromStdString(error));
                }
            }
        }
        if (walk.fmt.empty() || walk.dataSize < 0)
            file.insert("error", walk.fmt.empty() ? QStringLiteral("no \"fmt \" record")
                                                  : QStringLiteral("no \"data\" record"));
    } catch (const chunkwell::MediaError& error) {
        file.insert("error", QStringLiteral("unreadable records: ") + error.what());
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
    std::printf("%s\n", f["file"].toString().toUtf8().constData());
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
        if (file.contains("error")) {
            failed = true;
            if (!json)
                PrintError(path.toStdString() + ": " + file["error"].toString().toStdString());
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
