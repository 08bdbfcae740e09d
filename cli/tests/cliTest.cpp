// SPDX-License-Identifier: MIT
// metronel-cli run as a user runs it, on real files: the bytes it writes, what SoX and
// FFmpeg read back, the metadata it carries, and how a batch ends.
#include "mdlWaveFile.h"
#include "mdlWaveOut.h"

#include "DrumLoops.h"
#include "WaveFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <set>
#include <span>

namespace metronel::cli {
namespace {

using namespace metronel::testing;

struct Outcome {
    int status = -1;
    QString out;
    QString err;
};

Outcome RunProgram(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.start(program, arguments);
    Outcome run;
    if (p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit)
        run.status = p.exitCode();
    run.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(p.readAllStandardError());
    return run;
}

Outcome Cli(const QStringList& arguments) {
    return RunProgram(QStringLiteral(METRONEL_CLI), arguments);
}

WaveFile Read(const QString& path) {
    chunkwell::MediaSystemLicence msl;
    WaveFile wave;
    const WaveOutResult read = ReadWave(msl, path, wave);
    EXPECT_TRUE(read.Written()) << path.toStdString() << ": " << read.OneLine();
    return wave;
}

std::vector<std::int32_t> Ids(const WaveFile& wave) {
    std::vector<std::int32_t> ids;
    for (const WaveRecord& r : wave.records)
        ids.push_back(r.id);
    return ids;
}

std::uint32_t U32(const std::vector<std::byte>& b, std::size_t at) {
    std::uint32_t v = 0;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

QByteArray Le32(std::uint32_t v) {
    QByteArray out;
    PutLE(out, v, 4);
    return out;
}

// "pick" writes the very "data" bytes Save As writes for the same sound and length.
TEST(CliTempo, PickWritesTheWindowsBytes) {
    struct Row {
        const char* name;
        Format format;
        int frames;
        QStringList args;
        std::int32_t n; // the length the window's Samples field holds for the same entry
    };
    const Format stereo16;
    const Format mono8{1, 1, 22050, 22050, 1, 8};
    const Format stereo24{1, 2, 48000, 48000 * 6, 6, 24};
    const Row rows[] = {
        {"bpm 100", stereo16, 88200, {"--bpm", "100"}, 105840},
        {"samples", stereo16, 1000, {"--samples", "1501"}, 1501},
        {"semitone up", mono8, 777, {"--semitones", "1"}, ShiftBySemitones(777, 1)},
        {"factor", stereo24, 1001, {"--factor", "1.28"}, RoundToInt32(1001 / 1.28)},
        {"guessed bars",
         stereo16,
         4 * 88200,
         {"--guess-bars", "--bpm", "128"},
         SamplesFromBpm(128, 44100, 4, 4)},
        {"own length", mono8, 777, {"--samples", "777"}, 777},
    };
    chunkwell::MediaSystemLicence msl;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        const QByteArray samples = Ramp(row.frames * row.format.blockAlign);
        const QString in = WriteFile(dir, "in.wav", Wave(row.format, samples));
        const Outcome run = Cli(QStringList{"tempo", in, "-o", dir.filePath("cli.wav")} + row.args);
        ASSERT_EQ(run.status, 0) << run.err.toStdString();

        const WAVEFORMATINFO format = WAVEFORMATINFO::FromBytes(
            {reinterpret_cast<const std::byte*>(FmtData(row.format).constData()), 16});
        const auto source = std::span(reinterpret_cast<const std::byte*>(samples.constData()),
                                      static_cast<std::size_t>(samples.size()));
        ASSERT_TRUE(SaveWaveAs(msl, dir.filePath("window.wav"), format, source,
                               static_cast<std::int32_t>(samples.size()), row.n)
                        .Written());
        const WaveFile window = Read(dir.filePath("window.wav"));
        const WaveFile cli = Read(dir.filePath("cli.wav"));
        EXPECT_EQ(cli.Frames(), row.n);
        EXPECT_TRUE(cli.Data() == window.Data());
    }
}

// Split's pieces are Split As's: its lengths, in its order, under its names or padded ones.
TEST(CliSplit, PiecesAreSplitAsPieces) {
    QTemporaryDir dir;
    const Format f;
    const QByteArray samples = Ramp(20 * f.blockAlign);
    const QString in = WriteFile(dir, "drum.wav", Wave(f, samples));
    // 14 frames into 4: 4, 4, 4 and 2 (the rounded share, the rest last).
    Outcome run =
        Cli({"split", in, "--parts", "4", "--samples", "14", "-o", dir.filePath("out.wav")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    chunkwell::MediaSystemLicence msl;
    const auto source = std::span(reinterpret_cast<const std::byte*>(samples.constData()),
                                  static_cast<std::size_t>(samples.size()));
    ASSERT_TRUE(SaveWaveAs(msl, dir.filePath("whole.wav"),
                           WAVEFORMATINFO::FromBytes(
                               {reinterpret_cast<const std::byte*>(FmtData(f).constData()), 16}),
                           source, static_cast<std::int32_t>(samples.size()), 14)
                    .Written());
    std::vector<std::byte> joined;
    const int expected[] = {4, 4, 4, 2};
    for (int k = 1; k <= 4; ++k) {
        const WaveFile piece = Read(SplitPieceName(dir.filePath("out"), k));
        EXPECT_EQ(piece.Frames(), expected[k - 1]);
        joined.insert(joined.end(), piece.Data().begin(), piece.Data().end());
    }
    EXPECT_TRUE(joined == Read(dir.filePath("whole.wav")).Data());
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("out.wav")));

    run = Cli({"split", in, "--parts", "2", "--digits", "2", "-o", dir.filePath("sub/")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(Read(dir.filePath("sub/drum[01].wav")).Frames(), 10);
    EXPECT_EQ(Read(dir.filePath("sub/drum[02].wav")).Frames(), 10);
    // A name without ".wav" is kept whole, as the window keeps it.
    ASSERT_TRUE(QDir(dir.path()).mkdir("short"));
    run = Cli({"split", in, "--parts", "1", "-o", dir.filePath("short/ab")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(Read(dir.filePath("short/ab[1].wav")).Frames(), 20);

    // One piece's name taken: nothing of the split is written, nothing replaced.
    const QByteArray taken = ReadFile(dir.filePath("sub/drum[02].wav"));
    QFile::remove(dir.filePath("sub/drum[01].wav"));
    run = Cli(
        {"split", in, "--parts", "2", "--digits", "2", "--bpm", "90", "-o", dir.filePath("sub/")});
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("sub/drum[01].wav")));
    EXPECT_EQ(ReadFile(dir.filePath("sub/drum[02].wav")), taken);
    EXPECT_EQ(QDir(dir.filePath("sub")).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

bool Have(const char* tool) {
    return !QStandardPaths::findExecutable(tool).isEmpty();
}

QString Tool(const QString& program, const QStringList& arguments) {
    const Outcome run = RunProgram(program, arguments);
    return run.status == 0 ? run.out.trimmed() : QStringLiteral("failed: ") + run.err;
}

// The formats DAWs and tools write open, and come back in their own format at the new
// length for every resampler, as SoX and FFmpeg read them; a "fact" record (SoX writes one
// for float) names the new length.
TEST(CliFormats, ToolFilesComeBackInTheirFormat) {
    if (!Have("sox") || !Have("soxi") || !Have("ffmpeg") || !Have("ffprobe"))
        GTEST_SKIP() << "sox and ffmpeg are needed";
    struct Row {
        const char* name;
        const char* tool;
        QStringList args; // %1: the file to make
        const char* codec;
        const char* channels;
    };
    const Row rows[] = {
        {"sox extensible 24-bit 6 ch",
         "sox",
         {"-n", "-r", "48000", "-c", "6", "-b", "24", "%1", "synth", "0.5", "sine", "440"},
         "pcm_s24le",
         "6"},
        {"sox float",
         "sox",
         {"-n", "-r", "44100", "-c", "2", "-e", "floating-point", "-b", "32", "%1", "synth", "0.5",
          "sine", "440"},
         "pcm_f32le",
         "2"},
        {"ffmpeg 24-bit",
         "ffmpeg",
         {"-loglevel", "error", "-f", "lavfi", "-i", "sine=f=440:d=0.5", "-c:a", "pcm_s24le", "%1"},
         "pcm_s24le",
         "1"},
        {"ffmpeg float 64 extensible",
         "ffmpeg",
         {"-loglevel", "error", "-f", "lavfi", "-i", "sine=f=440:d=0.5", "-ac", "4", "-c:a",
          "pcm_f64le", "%1"},
         "pcm_f64le",
         "4"},
        {"ffmpeg 32-bit",
         "ffmpeg",
         {"-loglevel", "error", "-f", "lavfi", "-i", "sine=f=440:d=0.5", "-c:a", "pcm_s32le", "%1"},
         "pcm_s32le",
         "1"},
    };
    int facts = 0;
    for (const Row& row : rows) {
        for (const char* resampler : {"pick", "hq", "keep-pitch"}) {
            SCOPED_TRACE(std::string(row.name) + " " + resampler);
            QTemporaryDir dir;
            const QString in = dir.filePath("in.wav");
            QStringList args = row.args;
            args.replaceInStrings("%1", in);
            ASSERT_EQ(RunProgram(row.tool, args).status, 0);
            const QString out = dir.filePath("out.wav");
            const Outcome run =
                Cli({"tempo", in, "--samples", "12345", "--resampler", resampler, "-o", out});
            ASSERT_EQ(run.status, 0) << run.err.toStdString();
            EXPECT_EQ(Tool("soxi", {"-s", out}), "12345");
            EXPECT_EQ(Tool("soxi", {"-c", out}), row.channels);
            EXPECT_EQ(Tool("ffprobe", {"-v", "error", "-show_entries", "stream=codec_name", "-of",
                                       "csv=p=0", out}),
                      row.codec);
            EXPECT_TRUE(Read(out).Fmt() == Read(in).Fmt()); // written back whole
            for (const WaveRecord& record : Read(out).records) {
                if (record.id == FourCC("fact")) {
                    ++facts;
                    EXPECT_EQ(U32(record.bytes, 0), 12345u);
                }
            }
        }
    }
    EXPECT_GT(facts, 0);
}

// A one-shot (a hit, then digital silence) is not a loop: with --one-shot its silent end stays
// silent; taken as a loop, it hears the hit.
TEST(CliTempo, OneShotEndsHearNothingOfTheOtherEnd) {
    if (!Have("sox"))
        GTEST_SKIP() << "sox is needed";
    QTemporaryDir dir;
    const QString in = dir.filePath("hit.wav");
    ASSERT_EQ(RunProgram("sox", {"-D", "-n", "-r", "44100", "-c", "1", "-b", "16", in, "synth",
                                 "0.1", "whitenoise", "vol", "0.5", "pad", "0", "0.4"})
                  .status,
              0);
    for (const char* resampler : {"hq", "keep-pitch"})
        for (const bool oneShot : {true, false}) {
            const QString out = dir.filePath("out.wav");
            QStringList args = {"tempo",   in,   "--samples", "17640",  "--resampler",
                                resampler, "-o", out,         "--force"};
            if (oneShot)
                args << "--one-shot";
            const Outcome run = Cli(args);
            ASSERT_EQ(run.status, 0) << run.err.toStdString();
            const WaveFile written = Read(out); // kept: data below points into it
            const auto lastTenMs = std::span(written.Data()).last(441 * 2);
            const bool silent = std::all_of(lastTenMs.begin(), lastTenMs.end(),
                                            [](std::byte b) { return b == std::byte{0}; });
            EXPECT_EQ(silent, oneShot) << resampler;
        }
}

// A wave whose records a DAW would write around the sound: LIST/INFO, "bext", "acid",
// "smpl" with one loop, "cue " with two points, and an unknown record after "data".
QByteArray TaggedWave(int frames, std::uint32_t acidFlags = 2) {
    const Format f;
    QByteArray acid = Le32(acidFlags) + QByteArray(8, '\0') + Le32(4) + QByteArray(4, '\0') +
                      Le32(std::bit_cast<std::uint32_t>(120.0f));
    QByteArray smpl = QByteArray(28, '\0') + Le32(1) + Le32(0) + Le32(7) + Le32(0) + Le32(0) +
                      Le32(static_cast<std::uint32_t>(frames - 1)) + Le32(0) + Le32(0);
    QByteArray cue = Le32(2);
    for (std::uint32_t at : {0u, static_cast<std::uint32_t>(frames / 2)})
        cue += Le32(at + 1) + Le32(at) + QByteArray("data") + Le32(0) + Le32(0) + Le32(at);
    const QByteArray list = QByteArray("INFO") + Record("INAM", "Loop\0");
    return Riff(Record("fmt ", FmtData(f)) + Record("LIST", list) + Record("bext", "text!") +
                Record("acid", acid) + Record("smpl", smpl) + Record("cue ", cue) +
                Record("data", Ramp(frames * f.blockAlign)) + Record("zzzz", "odd"));
}

TEST(CliMetadata, CarriedThroughAndAdjusted) {
    QTemporaryDir dir;
    const QString in = WriteFile(dir, "in.wav", TaggedWave(1000));
    const WaveFile source = Read(in);

    // 1000 frames to 1500: 1 bar of 4 beats at the new tempo.
    Outcome run = Cli({"tempo", in, "--samples", "1500", "-o", dir.filePath("long.wav")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const WaveFile out = Read(dir.filePath("long.wav"));
    ASSERT_EQ(Ids(out), Ids(source));
    for (std::size_t i = 0; i < out.records.size(); ++i) {
        const std::int32_t id = out.records[i].id;
        if (id == FourCC("LIST") || id == FourCC("bext") || id == FourCC("zzzz") ||
            id == FourCC("fmt ")) {
            EXPECT_TRUE(out.records[i].bytes == source.records[i].bytes) << FourCCText(id);
        }
    }
    const auto& acid = out.records[3].bytes;
    EXPECT_EQ(U32(acid, 12), 4u);
    EXPECT_FLOAT_EQ(std::bit_cast<float>(U32(acid, 20)),
                    static_cast<float>(BpmFromSamples(1500, 44100, 1, 4)));
    const auto& smpl = out.records[4].bytes;
    EXPECT_EQ(U32(smpl, 28), 1u);
    EXPECT_EQ(U32(smpl, 36 + 8), 0u);
    EXPECT_EQ(U32(smpl, 36 + 12), 1498u); // 999 x 1.5 = 1498.5, halves to even
    const auto& cue = out.records[5].bytes;
    EXPECT_EQ(U32(cue, 0), 2u);
    EXPECT_EQ(U32(cue, 4 + 24 + 20), 750u);

    // Two pieces of 750: each keeps the points inside it, moved to its start.
    run = Cli({"split", dir.filePath("long.wav"), "--parts", "2", "-o", dir.filePath("p.wav")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const WaveFile second = Read(dir.filePath("p[2].wav"));
    EXPECT_EQ(U32(second.records[5].bytes, 0), 1u);
    EXPECT_EQ(U32(second.records[5].bytes, 4 + 20), 0u);
    EXPECT_EQ(U32(second.records[4].bytes, 28), 0u); // the loop spans both: in neither
    EXPECT_EQ(U32(second.records[3].bytes, 12), 2u); // half the beats

    // Shortened by half like a tape, the sound is an octave up: so is the sampler's unity
    // note. Kept in its key, the note stays.
    for (const auto& [resampler, note] : {std::pair{"hq", 12u}, std::pair{"keep-pitch", 0u}}) {
        const QString half = dir.filePath(QStringLiteral("%1.wav").arg(resampler));
        run = Cli({"tempo", in, "--samples", "500", "--resampler", resampler, "-o", half});
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        EXPECT_EQ(U32(Read(half).records[4].bytes, 12), note) << resampler;
    }

    // A one-shot's tempo record is left as it was: a hit has no tempo to follow.
    const QString hit = WriteFile(dir, "hit.wav", TaggedWave(1000, 1));
    run = Cli({"tempo", hit, "--samples", "1500", "-o", dir.filePath("hit2.wav")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(Read(dir.filePath("hit2.wav")).records[3].bytes == Read(hit).records[3].bytes);

    run =
        Cli({"tempo", in, "--samples", "1500", "--strip-metadata", "-o", dir.filePath("bare.wav")});
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(Ids(Read(dir.filePath("bare.wav"))),
              (std::vector<std::int32_t>{FourCC("fmt "), FourCC("data")}));
}

// An odd "data" record written without its pad byte (as some drum kits ship): what follows
// is read from where it ends, carried into the output, and the user told.
TEST(CliMetadata, MissingPadByteIsReadAround) {
    QTemporaryDir dir;
    const QByteArray list = QByteArray("INFO") + Record("INAM", "Snare\0");
    const QByteArray unpadded = QByteArray("data") + Le32(25) + Ramp(25);
    const QString in =
        WriteFile(dir, "snare.wav",
                  Riff(Record("fmt ", FmtData({1, 1, 22050, 22050, 1, 8})) + unpadded +
                       Record("smpl", QByteArray(36, '\1')) + Record("LIST", list)));
    const Outcome run = Cli({"tempo", in, "--samples", "50", "-o", dir.filePath("out.wav")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.err.toStdString(), "metronel-cli: " + in.toStdString() +
                                         ": warning: the \"data\" record lacks its pad byte: 2 "
                                         "records after it read from where it ends\n");
    const WaveFile out = Read(dir.filePath("out.wav"));
    EXPECT_EQ(Ids(out), (std::vector<std::int32_t>{FourCC("fmt "), FourCC("data"), FourCC("smpl"),
                                                   FourCC("LIST")}));
    EXPECT_EQ(out.Frames(), 50);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(out.records[3].bytes.data()),
                         static_cast<qsizetype>(out.records[3].bytes.size())),
              list);
}

// A batch goes on past files that fail, leaves nothing of them, never replaces an output
// without --force, says how it went, and ends 0, 1 or 2.
TEST(CliBatch, FailuresForceStatusAndSummary) {
    QTemporaryDir dir;
    const Format f;
    QByteArray mp3Fmt = FmtData({0x55, 2, 44100, 16000, 1, 0});
    QByteArray cut = Wave(f, Ramp(4000));
    cut.chop(3000); // "data" says 4000 bytes, 1000 are there
    const QStringList inputs = {
        WriteFile(dir, "a.wav", Wave(f, Ramp(4000))),
        WriteFile(dir, "cut.wav", cut),
        WriteFile(dir, "mp3.wav", Riff(Record("fmt ", mp3Fmt) + Record("data", Ramp(100)))),
        WriteFile(dir, "empty.wav", {}),
        WriteFile(dir, "b.wav", Wave(f, Ramp(8000))),
    };
    const QString out = dir.filePath("out");
    Outcome run = Cli(QStringList{"tempo"} + inputs + QStringList{"--bpm", "128", "-o", out});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.contains("5 files: 2 written, 3 failed")) << run.out.toStdString();
    EXPECT_TRUE(run.err.contains("mp3.wav: unsupported format: MPEG Layer 3"))
        << run.err.toStdString();
    // Only the two good outputs, and no temporary left behind.
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden), (QStringList{"a.wav", "b.wav"}));

    const QByteArray before = ReadFile(QDir(out).filePath("a.wav"));
    run = Cli({"tempo", inputs[0], "--bpm", "90", "-o", out});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains("exists (use --force to replace it)"));
    EXPECT_EQ(ReadFile(QDir(out).filePath("a.wav")), before);
    run = Cli({"tempo", inputs[0], "--bpm", "90", "-o", out, "--force"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.contains("1 file: 1 written, 0 failed"));
    EXPECT_NE(ReadFile(QDir(out).filePath("a.wav")), before);

    // Usage errors: no target, two targets, an unknown resampler, no output.
    for (const QStringList& args :
         {QStringList{"tempo", inputs[0], "-o", out},
          QStringList{"tempo", inputs[0], "--bpm", "1", "--factor", "2", "-o", out},
          QStringList{"tempo", inputs[0], "--bpm", "1", "--resampler", "cubic", "-o", out},
          QStringList{"split", inputs[0], "--parts", "2"}, QStringList{}})
        EXPECT_EQ(Cli(args).status, 2) << args.join(' ').toStdString();
    // A length whose file would pass 2 GiB is refused, whatever the method.
    for (const char* resampler : {"pick", "hq", "keep-pitch"}) {
        run = Cli({"tempo", inputs[0], "--samples", "2147483647", "--resampler", resampler, "-o",
                   dir.filePath("big.wav")});
        EXPECT_TRUE(run.err.contains("a.wav: the new sound would not fit in a wave file (2 GiB)"))
            << run.err.toStdString();
    }
    EXPECT_EQ(Cli({"--help"}).status, 0);
    const QString version = Cli({"--version"}).out;
    EXPECT_EQ(version.section(u'\n', 0, 0).toStdString(), "metronel-cli " METRONEL_PROJECT_VERSION);
    EXPECT_TRUE(version.contains("General Public License, version 2 or later"));

    // info reads what it can, nested records included, and stops on an empty file.
    run = Cli({"info", "--json", WriteFile(dir, "tagged.wav", TaggedWave(100)), inputs[3]});
    EXPECT_EQ(run.status, 1);
    const QJsonObject first = QJsonDocument::fromJson(run.out.toUtf8())["files"][0].toObject();
    EXPECT_EQ(first["frames"].toInt(), 100);
    EXPECT_EQ(first["records"][1]["type"].toString(), "INFO");
    EXPECT_EQ(first["records"][1]["records"][0]["id"].toString(), "INAM");
}

// One front door: info, tempo and split give the same file the same reason, on one line.
TEST(CliReasons, EveryCommandNamesTheSameFailureOnOneLine) {
    QTemporaryDir dir;
    const Format f;
    QByteArray bw64 = Wave(f, Ramp(400));
    bw64.replace(0, 4, "BW64");
    QByteArray cut = Wave(f, Ramp(4 * 4410));
    cut.chop(4 * (4410 - 236)); // the sound stops after 236 frames
    // Big-endian: the container's size field reads 0x2C000000 little-endian.
    QByteArray rifx = Wave(f, Ramp(8));
    rifx.replace(0, 8, QByteArray("RIFX") + QByteArray::fromHex("0000002C"));
    QByteArray huge = Wave(f, Ramp(8));
    huge.replace(4, 4, Le32(0x7FFFFFFC));
    // 2.25 GiB of sound, sparse on the disk.
    QByteArray longSound = Wave(f, {});
    longSound.replace(4, 4, Le32(36 + 0x90000000u));
    longSound.replace(40, 4, Le32(0x90000000u));
    const QString longFile = WriteFile(dir, "long.wav", longSound);
    ASSERT_TRUE(QFile(longFile).resize(44 + 0x90000000ll));
    struct Row {
        QString file;
        const char* reason;
    };
    const Row rows[] = {
        {WriteFile(dir, "bw.wav", bw64), "BW64 files are not supported"},
        {WriteFile(dir, "cut.wav", cut),
         "the \"data\" record is cut short: the file ends 16696 bytes before it does"},
        {dir.filePath("missing.wav"), "cannot open: No such file or directory"},
        {WriteFile(dir, "short.wav", Wave(f, Ramp(40)).left(13)), "file too short"},
        {WriteFile(dir, "huge.wav", huge), "the container's size is over 2 GiB: not supported"},
        {longFile, "sound data over 2 GiB is not supported"},
        {WriteFile(dir, "rifx.wav", rifx), "big-endian (RIFX) files are not supported"},
        {WriteFile(dir, "3ch.wav", Wave({1, 3, 8000, 8000 * 4, 4, 24}, Ramp(400))),
         "the block align (4 bytes) does not fit 3 channels of 24 bits (9 bytes)"},
        {WriteFile(dir, "36.wav", Wave({1, 1, 8000, 8000 * 5, 5, 36}, Ramp(400))),
         "integer samples of 36 bits are not supported (at most 32)"},
        {WriteFile(dir, "64.wav", Wave({1, 2, 8000, 8000 * 16, 16, 64}, Ramp(400))),
         "integer samples of 64 bits are not supported (at most 32)"},
        {WriteFile(dir, "f16.wav", Wave({3, 1, 8000, 8000 * 2, 2, 16}, Ramp(400))),
         "floating-point samples of 16 bits are not supported (32 or 64)"},
    };
    for (const Row& row : rows)
        for (const QStringList& command :
             {QStringList{"info"}, QStringList{"tempo", "--bpm", "120", "-o", dir.filePath("t/")},
              QStringList{"split", "--parts", "2", "-o", dir.filePath("s/")}}) {
            const Outcome run = Cli(command + QStringList{row.file});
            EXPECT_EQ(run.status, 1) << command[0].toStdString();
            EXPECT_EQ(run.err.split(u'\n', Qt::SkipEmptyParts),
                      QStringList{"metronel-cli: " + row.file + ": " + row.reason})
                << command[0].toStdString();
        }
    EXPECT_TRUE(Cli({"info", dir.filePath("rifx.wav")}).out.contains("RIFX  size 44"));
}

// A small file system mounted for one test (root only), unmounted when done.
class Mount {
public:
    Mount(const QString& at, const char* options) : m_At(QFile::encodeName(at)) {
        m_Mounted = ::mount("metronel-test", m_At.constData(), "tmpfs", 0, options) == 0;
    }
    ~Mount() {
        if (m_Mounted)
            ::umount(m_At.constData());
    }
    bool Mounted() const { return m_Mounted; }

private:
    QByteArray m_At;
    bool m_Mounted = false;
};

// Each cause of a failed write or read named on one line, from what the system said.
TEST(CliReasons, TheSystemsReasonOnOneLine) {
    QTemporaryDir dir;
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const Format f;
    const QString in = WriteFile(dir, "in.wav", Wave(f, Ramp(64 * 1024)));
    QDir(dir.path()).mkpath("locked");
    QDir(dir.path()).mkpath("readonly");
    ASSERT_EQ(::chmod(QFile::encodeName(dir.filePath("readonly")).constData(), 0555), 0);
    QDir(dir.path()).mkpath("folders/in.wav");
    QDir(dir.path()).mkpath("full");
    QDir(dir.path()).mkpath("rofs");
    const Mount full(dir.filePath("full"), "size=64k");
    const Mount rofs(dir.filePath("rofs"), "size=64k,ro");
    const QString held = WriteFile(dir, "locked/in.wav", "old");
    const int fd = ::open(QFile::encodeName(held).constData(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0); // as the window holds its file
    struct Row {
        const char* name;
        QString input;
        QString output;
        QStringList more;
        QString line; // after "metronel-cli: "
        bool run = true;
        bool asNobody = false; // root may write anywhere
    };
    const QString missing = dir.filePath("nowhere/out.wav");
    const Row rows[] = {
        {"a file where a folder goes",
         in,
         dir.filePath("in.wav/sub/"),
         {},
         dir.filePath("in.wav/sub/") + ": cannot make the folder: Not a directory"},
        {"a new folder in a read-only folder",
         in,
         dir.filePath("readonly/new/"),
         {},
         dir.filePath("readonly/new/") + ": cannot make the folder: Permission denied",
         true,
         true},
        {"a new folder on a read-only file system",
         in,
         dir.filePath("rofs/new/"),
         {},
         dir.filePath("rofs/new/") + ": cannot make the folder: Read-only file system",
         rofs.Mounted()},
        {"missing folder",
         in,
         missing,
         {},
         in + ": " + missing + ": cannot be written: No such file or directory"},
        {"read-only folder",
         in,
         dir.filePath("readonly/"),
         {},
         in + ": " + dir.filePath("readonly/in.wav") + ": cannot be written: Permission denied",
         true,
         true},
        {"a folder's name",
         in,
         dir.filePath("folders/"),
         {},
         in + ": " + dir.filePath("folders/in.wav") + ": is a directory"},
        {"a folder's name, forced",
         in,
         dir.filePath("folders/"),
         {"--force"},
         in + ": " + dir.filePath("folders/in.wav") + ": is a directory"},
        {"disk full",
         in,
         dir.filePath("full/"),
         {},
         in + ": " + dir.filePath("full/in.wav") + ": cannot be written: No space left on device",
         full.Mounted()},
        {"read-only file system",
         in,
         dir.filePath("rofs/"),
         {},
         in + ": " + dir.filePath("rofs/in.wav") + ": cannot be written: Read-only file system",
         rofs.Mounted()},
        {"input held",
         held,
         dir.filePath("t/"),
         {},
         held + ": cannot open: in use by another program"},
        {"output held",
         in,
         dir.filePath("locked/"),
         {"--force"},
         in + ": " + held + ": cannot be written: in use by another program"},
    };
    // Root is refused nothing, so those rows run as nobody; a build inside a folder nobody may
    // enter (a private temporary folder) cannot be started that way, and they are left out.
    const auto asNobody = [](const QStringList& args) {
        return RunProgram(
            "setpriv",
            QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", METRONEL_CLI} + args);
    };
    const bool root = ::geteuid() == 0;
    const bool nobodyRuns = root && asNobody({"--version"}).status == 0;
    if (root && !nobodyRuns)
        std::printf("the build cannot be started as nobody: its rows are left out\n");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (!row.run)
            continue; // mounting needs root
        if (row.asNobody && root && !nobodyRuns)
            continue;
        QStringList args =
            QStringList{"tempo", row.input, "--bpm", "100", "-o", row.output} + row.more;
        const Outcome run = row.asNobody && root ? asNobody(args) : Cli(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err.toStdString(), ("metronel-cli: " + row.line + "\n").toStdString());
    }
    ::close(fd);
}

// Runs the program with arguments as bytes, as a shell passes them: QProcess takes only text.
struct BytesOutcome {
    int status = -1;
    QByteArray out;
    QByteArray err;
};
BytesOutcome CliBytes(const QTemporaryDir& logs, const std::vector<QByteArray>& arguments) {
    std::vector<char*> argv{const_cast<char*>(METRONEL_CLI)};
    for (const QByteArray& argument : arguments)
        argv.push_back(const_cast<char*>(argument.constData()));
    argv.push_back(nullptr);
    const QString out = logs.filePath("out.txt");
    const QString err = logs.filePath("err.txt");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (const auto& [fd, file] : {std::pair{1, out}, std::pair{2, err}})
        posix_spawn_file_actions_addopen(&actions, fd, QFile::encodeName(file).constData(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    BytesOutcome run;
    pid_t pid = 0;
    int status = 0;
    if (::posix_spawn(&pid, METRONEL_CLI, &actions, nullptr, argv.data(), environ) == 0 &&
        ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    posix_spawn_file_actions_destroy(&actions);
    run.out = ReadFile(out);
    run.err = ReadFile(err);
    return run;
}

// The names in folder as the system lists them, bytes and all.
std::set<QByteArray> Listed(const QByteArray& folder) {
    std::set<QByteArray> names;
    if (DIR* dir = ::opendir(folder.constData())) {
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.')
                names.insert(entry->d_name);
        ::closedir(dir);
    }
    return names;
}

// Names are bytes: one that is not UTF-8 opens, is written as given, lends its bytes to the
// outputs named after it, and is printed as given.
TEST(CliNames, AnyBytesOpenAndAreWrittenAsGiven) {
    QTemporaryDir dir;
    QTemporaryDir logs;
    const QByteArray top = QFile::encodeName(dir.path());
    const QByteArray wave = Wave(Format(), Ramp(4000));
    struct Row {
        const char* what;
        std::vector<QByteArray> arguments;
        QByteArray folder; // listed after the run, when not empty
        std::set<QByteArray> names;
        QByteArray out; // the start of what is printed
        QByteArray err;
        int status = 0;
    };
    std::vector<Row> rows;
    for (const QByteArray& stem : {QByteArray("\xe9"), QByteArray("\xff\xfe")}) {
        const QByteArray in = top + "/in/" + stem + ".wav";
        const QByteArray work = top + "/" + stem.toHex();
        rows.push_back({"info", {"info", in}, {}, {}, in + "\n", {}});
        rows.push_back({"tempo into a new folder of such a name",
                        {"tempo", "--bpm", "100", "-o", work + "/t\xe9/", in},
                        work + "/t\xe9",
                        {stem + ".wav"},
                        in + ": wrote " + work + "/t\xe9/" + stem + ".wav (",
                        {}});
        rows.push_back({"tempo to such a name",
                        {"tempo", "--bpm", "100", "-o", work + "/x\xe9.wav", in},
                        work,
                        {"t\xe9", "x\xe9.wav"},
                        in + ": wrote " + work + "/x\xe9.wav (",
                        {}});
        rows.push_back({"split into a folder",
                        {"split", "--parts", "2", "-o", work + "/s/", in},
                        work + "/s",
                        {stem + "[1].wav", stem + "[2].wav"},
                        in + ": wrote 2 pieces",
                        {}});
        rows.push_back({"split to such a name",
                        {"split", "--parts", "2", "-o", work + "/p\xe9.wav", in},
                        work,
                        {"t\xe9", "x\xe9.wav", "s", "p\xe9[1].wav", "p\xe9[2].wav"},
                        in + ": wrote 2 pieces",
                        {}});
    }
    rows.push_back({"a folder of them",
                    {"tempo", "--bpm", "100", "-o", top + "/all", top + "/in"},
                    top + "/all",
                    {"\xe9.wav", "\xff\xfe.wav"},
                    {},
                    {}});
    rows.push_back(
        {"a missing one",
         {"info", top + "/in/\xe9\xe9.wav"},
         {},
         {},
         {},
         "metronel-cli: " + top + "/in/\xe9\xe9.wav: cannot open: No such file or directory\n",
         1});
    ASSERT_EQ(::mkdir((top + "/in").constData(), 0755), 0);
    for (const QByteArray& name : {QByteArray("\xe9.wav"), QByteArray("\xff\xfe.wav")}) {
        QFile file;
        const int fd = ::open((top + "/in/" + name).constData(), O_WRONLY | O_CREAT, 0644);
        ASSERT_TRUE(file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
        ASSERT_EQ(file.write(wave), wave.size());
        file.close();
        ASSERT_EQ(::mkdir((top + "/" + name.chopped(4).toHex()).constData(), 0755), 0);
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what + (" " + row.arguments.back().toHex()).toStdString());
        const BytesOutcome run = CliBytes(logs, row.arguments);
        EXPECT_EQ(run.status, row.status);
        EXPECT_TRUE(run.out.startsWith(row.out)) << run.out.toStdString();
        EXPECT_EQ(run.err, row.err);
        if (!row.folder.isEmpty()) {
            EXPECT_EQ(Listed(row.folder), row.names);
        }
    }
    std::filesystem::remove_all(top.constData()); // names Qt would not find to remove
}

// Inputs are read without keeping other readers out: twelve names of one file in one batch.
TEST(CliBatch, HardLinksOfOneInputAllRead) {
    QTemporaryDir dir;
    const QString in = WriteFile(dir, "in.wav", Wave(Format(), Ramp(40000)));
    QStringList inputs = {in};
    for (int k = 1; k < 12; ++k) {
        inputs << dir.filePath(QStringLiteral("link%1.wav").arg(k));
        ASSERT_EQ(
            ::link(QFile::encodeName(in).constData(), QFile::encodeName(inputs.back()).constData()),
            0);
    }
    const Outcome run = Cli(QStringList{"tempo"} + inputs +
                            QStringList{"--bpm", "90", "-j", "12", "-o", dir.filePath("out")});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("12 files: 12 written, 0 failed")) << run.out.toStdString();
}

// A run stopped by a signal removes its temporaries and says how it ended; one killed outright
// leaves its temporary to the next run, which removes it at once.
TEST(CliSignals, NoTemporaryLeftBehind) {
    QTemporaryDir dir;
    const QString in = WriteFile(dir, "in.wav", Wave({1, 1, 22050, 22050, 1, 8}, Ramp(1000)));
    const QString out = dir.filePath("out");
    ASSERT_TRUE(QDir(dir.path()).mkpath("out"));
    auto hidden = [&] {
        return QDir(out).entryList(QDir::Files | QDir::Hidden).filter(QRegularExpression("^\\."));
    };
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
        SCOPED_TRACE(signal);
        QProcess p;
        // A long sound, so that it is caught while being written.
        p.start(METRONEL_CLI,
                {"tempo", in, "--samples", "120000000", "--force", "-o", out + "/long.wav"});
        ASSERT_TRUE(p.waitForStarted());
        while (hidden().isEmpty() && p.state() == QProcess::Running)
            ::usleep(500);
        ASSERT_FALSE(hidden().isEmpty()) << "finished before it could be stopped";
        ::kill(static_cast<pid_t>(p.processId()), signal);
        ASSERT_TRUE(p.waitForFinished(60000));
        if (signal == SIGKILL) {
            EXPECT_EQ(hidden().size(), 1);
            const Outcome rerun =
                Cli({"tempo", in, "--samples", "10", "--force", "-o", out + "/long.wav"});
            EXPECT_EQ(rerun.status, 0);
        } else {
            EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(p.exitCode(), 128 + signal);
        }
        EXPECT_EQ(hidden(), QStringList());
    }
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList{"long.wav"});
}

// What a person reads about bars and beats: where they came from, the record's tempo beside
// the sound's, tempos to three decimals (exact in JSON), the pieces a split wrote, folders.
TEST(CliMeter, SaysWhatBarsAndBeatsWereUsedAndWhy) {
    QTemporaryDir dir;
    chunkwell::MediaSystemLicence msl;
    const std::vector<std::string> breaks = {"KX.........X.....", "S....X.......X...",
                                             "HX.X.X.X.X.X.X.X."};
    WaveFile loop = DrumLoop(174, 2, 4, breaks);
    ASSERT_TRUE(QDir(dir.path()).mkpath("loops/tagged"));
    ASSERT_TRUE(WriteWave(msl, dir.filePath("loops/dnb.wav"), loop, false).Written());
    WaveFile tagged = loop;
    tagged.records.insert(tagged.records.begin() + 1, Acid(0, 8, 4, 174.0f));
    tagged.dataIndex = 2;
    ASSERT_TRUE(WriteWave(msl, dir.filePath("loops/tagged/dnb.wav"), tagged, false).Written());
    const double exact = BpmFromSamples(loop.Frames(), kRate, 2, 4); // 174.000244...

    struct Row {
        QStringList args;
        QString shown; // in the output, for every file named
    };
    const Row rows[] = {
        {{"info", dir.filePath("loops/dnb.wav")}, "bpm: 87 (1 bar of 4 beats, given)"},
        {{"info", "--guess-bars", dir.filePath("loops/dnb.wav")},
         "bpm: 174 (2 bars of 4 beats, guessed from the sound)"},
        {{"info", "--guess-bars", "--guess-range", "60", "100", dir.filePath("loops/dnb.wav")},
         "bpm: 87 (1 bar of 4 beats, guessed from the sound)"},
        {{"info", dir.filePath("loops/tagged/dnb.wav")},
         "bpm: 174 (2 bars of 4 beats, tempo record; the tempo record says 174 bpm)"},
        {{"info", "--bars", "4", dir.filePath("loops/tagged/dnb.wav")},
         "bpm: 348 (4 bars of 4 beats, tempo record; the tempo record says 174 bpm)"},
        {{"tempo", dir.filePath("loops/tagged/dnb.wav"), "--bpm", "170", "-o",
          dir.filePath("out.wav")},
         QStringLiteral("(%1 frames, 170 bpm); 2 bars of 4 beats, tempo record; the tempo "
                        "record says 174 bpm")
             .arg(SamplesFromBpm(170, kRate, 2, 4))},
        {{"split", dir.filePath("loops/dnb.wav"), "--guess-bars", "--parts", "16", "-o",
          dir.filePath("piece.wav")},
         "(174 bpm); 2 bars of 4 beats, guessed from the sound"},
        {{"split", dir.filePath("loops/dnb.wav"), "--samples", "227613", "--parts", "16", "-o",
          dir.filePath("p.wav")},
         "wrote 16 pieces: 15 of 14226 frames and one of 14223 ("},
    };
    for (const Row& row : rows) {
        const Outcome run = Cli(row.args);
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
        EXPECT_TRUE(run.out.contains(row.shown)) << row.args.join(' ').toStdString() << "\n"
                                                 << run.out.toStdString();
    }

    // JSON keeps the exact tempo; a folder means its wave files, -r those below it too.
    Outcome run = Cli({"info", "--json", "--guess-bars", dir.filePath("loops")});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    QJsonArray files = QJsonDocument::fromJson(run.out.toUtf8())["files"].toArray();
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(files[0].toObject()["bpm"].toDouble(), exact);
    EXPECT_EQ(files[0].toObject()["bars"].toDouble(), 2);
    EXPECT_EQ(files[0].toObject()["barsFrom"].toString(), "sound");
    run = Cli({"info", "--json", "-r", dir.filePath("loops")});
    files = QJsonDocument::fromJson(run.out.toUtf8())["files"].toArray();
    ASSERT_EQ(files.size(), 2);
    EXPECT_EQ(files[1].toObject()["barsFrom"].toString(), "record");
    EXPECT_EQ(files[1].toObject()["recordBpm"].toDouble(), 174.0);
    run = Cli({"info", dir.filePath("loops/tagged"), dir.path() + "/nothing-here"});
    EXPECT_EQ(run.status, 1);
    QDir(dir.path()).mkpath("empty");
    run = Cli({"info", dir.filePath("empty")});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains("empty: no wave files in the folder")) << run.err.toStdString();
}

} // namespace
} // namespace metronel::cli
