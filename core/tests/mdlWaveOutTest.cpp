// SPDX-License-Identifier: MIT
// Frame picking, sound buffers and the writing routines of wave output, on real files.
#include "mdlWaveOut.h"

#include "WaveFiles.h"
#include "WaveOutTestTools.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace metronel {
namespace {

using namespace metronel::testing;

std::span<const std::byte> Bytes(const QByteArray& a) {
    return {reinterpret_cast<const std::byte*>(a.constData()), static_cast<std::size_t>(a.size())};
}

// The index rule written out plainly, as the reference for the fast one.
std::vector<std::byte> Reference(const std::vector<std::byte>& source, std::int32_t sourceFrames,
                                 int blockAlign, std::int32_t destinationFrames) {
    std::vector<std::byte> out(static_cast<std::size_t>(blockAlign) * destinationFrames);
    const std::int64_t whole = std::min<std::int64_t>(source.size() / blockAlign, sourceFrames);
    for (std::int64_t i = 0; i < destinationFrames; ++i) {
        std::int64_t s = 0;
        if (i >= 1) {
            const double d = static_cast<double>(destinationFrames - 1) / static_cast<double>(i);
            s = static_cast<std::int64_t>(std::nearbyint(static_cast<double>(sourceFrames) / d));
        }
        s = std::min(s, whole - 1);
        std::memcpy(out.data() + i * blockAlign, source.data() + s * blockAlign, blockAlign);
    }
    return out;
}

std::vector<std::byte> Pattern(std::size_t bytes, unsigned seed) {
    std::vector<std::byte> v(bytes);
    std::uint32_t x = seed;
    for (auto& b : v) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<std::byte>(x >> 24);
    }
    return v;
}

void ExpectSameAsReference(std::int32_t sourceFrames, int blockAlign,
                           std::int32_t destinationFrames) {
    const auto source = Pattern(static_cast<std::size_t>(sourceFrames) * blockAlign,
                                static_cast<unsigned>(sourceFrames * 31 + destinationFrames));
    std::vector<std::byte> out(static_cast<std::size_t>(blockAlign) * destinationFrames);
    ResampleFrames(out, source, sourceFrames, static_cast<std::int16_t>(blockAlign),
                   destinationFrames);
    ASSERT_TRUE(out == Reference(source, sourceFrames, blockAlign, destinationFrames))
        << sourceFrames << " -> " << destinationFrames << " frames of " << blockAlign;
}

// Picks by index from a source whose frame k holds the byte k.
std::vector<int> PickedIndexes(std::int32_t sourceFrames, std::int32_t destinationFrames) {
    std::vector<std::byte> source(sourceFrames);
    for (int k = 0; k < sourceFrames; ++k)
        source[k] = static_cast<std::byte>(k);
    std::vector<std::byte> out(destinationFrames);
    ResampleFrames(out, source, sourceFrames, 1, destinationFrames);
    std::vector<int> picked;
    for (std::byte b : out)
        picked.push_back(std::to_integer<int>(b));
    return picked;
}

TEST(ResampleFrames, MatchesTheFormulaForSmallSizesAndEveryBlockAlign) {
    for (int blockAlign : {1, 2, 3, 4, 5, 6, 7, 8, 12})
        for (std::int32_t s = 1; s <= 40; ++s)
            for (std::int32_t d = 1; d <= 90; ++d)
                ExpectSameAsReference(s, blockAlign, d);
}

TEST(ResampleFrames, MatchesTheFormulaStretchingAndShrinkingLargeSounds) {
    const std::pair<std::int32_t, std::int32_t> sizes[] = {
        {48000, 96001}, // every other index an exact half
        {48000, 96000},     {48000, 72000},   {48000, 32000},   {44100, 48000}, {96000, 44101},
        {100003, 299999},   {299999, 100003}, {65536, 65537},   {65537, 65536}, {1 << 20, 3 << 19},
        {3 << 19, 1 << 20}, {12345, 1000000}, {1000000, 12345}, {1, 100000},    {2, 1000001},
    };
    for (int blockAlign : {1, 2, 3, 4, 6, 8})
        for (auto [s, d] : sizes)
            ExpectSameAsReference(s, blockAlign, d);
}

TEST(ResampleFrames, MatchesTheFormulaOnLongSoundsWhereIndexesAreLarge) {
    // Indexes in the tens of millions, where the doubles carry the fewest fraction bits;
    // with and without vector instructions.
    for (bool vector : {true, false}) {
        UseVectorInstructions(vector);
        ExpectSameAsReference(20'000'003, 1, 33'333'333);
        ExpectSameAsReference(30'000'001, 1, 19'999'999);
        ExpectSameAsReference(16'777'216, 1, 33'554'433); // exact halves near 2^24
        ExpectSameAsReference(1'000'003, 3, 1'999'999);
        ExpectSameAsReference(1'000'003, 4, 666'667);
    }
    UseVectorInstructions(true);
}

TEST(ResampleFrames, PicksTheIndexesOfTheExamplesWithinTheSource) {
    // The formula's own index sourceFrames (one past the end) takes the last frame.
    EXPECT_EQ(PickedIndexes(10, 4), (std::vector<int>{0, 3, 7, 9}));
    EXPECT_EQ(PickedIndexes(4, 7), (std::vector<int>{0, 1, 1, 2, 3, 3, 3}));
    EXPECT_EQ(PickedIndexes(3, 5), (std::vector<int>{0, 1, 2, 2, 2})); // 1.5 rounds to 2
    EXPECT_EQ(PickedIndexes(5, 3), (std::vector<int>{0, 2, 4}));       // 2.5 rounds to 2
    EXPECT_EQ(PickedIndexes(7, 1), (std::vector<int>{0}));
}

TEST(ResampleFrames, NeverReadsAnIncompleteTrailingFrame) {
    // 10 bytes of 4-byte frames: two whole frames and two bytes that must never appear.
    std::vector<std::byte> source(10, std::byte{0x11});
    std::fill(source.begin() + 4, source.end(), std::byte{0x22});
    source[8] = source[9] = std::byte{0xEE};
    std::vector<std::byte> out(4 * 9, std::byte{0});
    // Three frames claimed (10 / 4 rounds up), and more than the source holds.
    for (std::int32_t claimed : {3, 1000}) {
        ResampleFrames(out, source, claimed, 4, 9);
        for (std::byte b : out)
            ASSERT_NE(b, std::byte{0xEE});
        EXPECT_EQ(out.back(), std::byte{0x22}); // the last whole frame
    }
}

TEST(ResampleFrames, FillsSilenceWithoutAWholeSourceFrame) {
    std::vector<std::byte> out(4 * 5 + 3, std::byte{0x55});
    ResampleFrames(out, {}, 0, 4, 5);
    EXPECT_TRUE(
        std::all_of(out.begin(), out.begin() + 20, [](std::byte b) { return b == std::byte{0}; }));
    EXPECT_EQ(out[20], std::byte{0x55}); // nothing past the asked frames

    const std::vector<std::byte> shortSource(3, std::byte{0x11});
    std::vector<std::byte> eightBit(6, std::byte{0});
    ResampleFrames(eightBit, shortSource, 1, 4, 1,
                   SilenceByte(WAVEFORMATINFO{1, 4, 8000, 32000, 4, 8}));
    EXPECT_EQ(eightBit[0], std::byte{0x80});
    EXPECT_EQ(eightBit[3], std::byte{0x80});
    EXPECT_EQ(eightBit[4], std::byte{0});
}

TEST(ResampleFrames, RefusesADestinationTooSmall) {
    std::vector<std::byte> source(40), out(15);
    EXPECT_THROW(ResampleFrames(out, source, 10, 4, 4), std::length_error);
    EXPECT_NO_THROW(ResampleFrames(out, source, 10, 4, 0));
}

TEST(ResampleFrames, PickedPieceByPieceGivesTheFramesOfTheWhole) {
    // Piece sizes that divide none of the frame counts, so pieces start at every phase of
    // the vector loop and the last one is short; with and without vector instructions.
    const std::pair<std::int32_t, std::int32_t> sizes[] = {
        {40, 97}, {1000, 1501}, {1501, 1000}, {48000, 96001}, {7, 4099}, {1, 50},
    };
    for (bool vector : {true, false}) {
        UseVectorInstructions(vector);
        for (int blockAlign : {1, 2, 3, 4, 6, 8, 12})
            for (auto [s, d] : sizes) {
                const auto source = Pattern(static_cast<std::size_t>(s) * blockAlign, s + d);
                const auto frameSize = static_cast<std::size_t>(blockAlign);
                std::vector<std::byte> whole(frameSize * d);
                ResampleFrames(whole, source, s, static_cast<std::int16_t>(blockAlign), d);
                for (std::int32_t piece : {1, 3, 13, 61, 1000}) {
                    std::vector<std::byte> pieces(whole.size(), std::byte{0xAA});
                    for (std::int32_t first = 0; first < d; first += piece) {
                        const std::int32_t count = std::min(piece, d - first);
                        ResampleFrameRange(
                            std::span(pieces).subspan(first * frameSize, count * frameSize), source,
                            s, static_cast<std::int16_t>(blockAlign), d, first, count);
                    }
                    ASSERT_TRUE(pieces == whole)
                        << s << " -> " << d << " frames of " << blockAlign << " in pieces of "
                        << piece << (vector ? " (vector)" : "");
                }
            }
    }
    UseVectorInstructions(true);

    std::vector<std::byte> out(4 * 10);
    const auto source = Pattern(400, 1);
    EXPECT_THROW(ResampleFrameRange(out, source, 100, 4, 50, 45, 6), std::out_of_range);
    EXPECT_THROW(ResampleFrameRange(out, source, 100, 4, 50, -1, 2), std::out_of_range);
    EXPECT_THROW(ResampleFrameRange(out, source, 100, 4, 50, 0, 11), std::length_error);
    // Without a whole source frame a piece is silence too.
    std::vector<std::byte> silent(8, std::byte{0});
    ResampleFrameRange(silent, {}, 0, 1, 100, 92, 8, std::byte{0x80});
    EXPECT_TRUE(std::all_of(silent.begin(), silent.end(),
                            [](std::byte b) { return b == std::byte{0x80}; }));
}

TEST(ResampleFrames, PickedFromTheSmallestWindowsGivesTheFramesOfTheWhole) {
    struct Row {
        std::int32_t sourceFrames, destinationFrames;
        int blockAlign, piece;
    };
    for (bool vector : {true, false}) {
        UseVectorInstructions(vector);
        for (const Row& r : {Row{1000, 1500, 4, 37}, Row{1000, 501, 4, 64}, Row{777, 2000, 3, 100},
                             Row{5000, 5001, 2, 333}, Row{1, 9, 4, 2}, Row{4096, 3000, 1, 999}}) {
            // One byte past the frames: an incomplete trailing frame is never picked.
            const auto source = Pattern(static_cast<std::size_t>(r.sourceFrames) * r.blockAlign + 1,
                                        static_cast<unsigned>(r.piece));
            const auto align = static_cast<std::int16_t>(r.blockAlign);
            const auto frameSize = static_cast<std::size_t>(r.blockAlign);
            std::vector<std::byte> whole(frameSize * r.destinationFrames);
            ResampleFrames(whole, source, r.sourceFrames, align, r.destinationFrames);
            std::vector<std::byte> pieces(whole.size());
            for (std::int32_t first = 0; first < r.destinationFrames; first += r.piece) {
                const std::int32_t count = std::min(r.piece, r.destinationFrames - first);
                const auto [from, to] = SourceFramesOf(r.sourceFrames, r.sourceFrames,
                                                       r.destinationFrames, first, count);
                // Only the window, copied, so that reading outside it is caught.
                const std::vector<std::byte> window(source.begin() + from * frameSize,
                                                    source.begin() + (to + 1) * frameSize);
                ResampleFrameWindow(std::span(pieces).subspan(first * frameSize, count * frameSize),
                                    window, from, r.sourceFrames, r.sourceFrames, align,
                                    r.destinationFrames, first, count);
                if (first > 0 && from > 0) { // a window starting one frame late misses one
                    EXPECT_THROW(ResampleFrameWindow(
                                     std::span(pieces).subspan(0, count * frameSize),
                                     std::span(window).subspan(frameSize), from + 1, r.sourceFrames,
                                     r.sourceFrames, align, r.destinationFrames, first, count),
                                 std::length_error);
                }
            }
            EXPECT_TRUE(pieces == whole) << r.sourceFrames << " -> " << r.destinationFrames;
        }
    }
    UseVectorInstructions(true);
}

TEST(SoundBuffer, IsZeroFilledMovableAndAlignedForHugePages) {
    SoundBuffer big(5 << 20);
    ASSERT_EQ(big.size(), std::size_t{5} << 20);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(big.data()) % (2 << 20), 0u);
    EXPECT_EQ(big.data()[big.size() - 1], std::byte{0});
    big.data()[big.size() - 1] = std::byte{7};

    SoundBuffer moved(std::move(big));
    EXPECT_TRUE(big.empty());
    EXPECT_EQ(moved.span().back(), std::byte{7});
    SoundBuffer small(100);
    small = std::move(moved);
    EXPECT_EQ(small.size(), std::size_t{5} << 20);
    EXPECT_TRUE(SoundBuffer(0).span().empty());
    EXPECT_THROW(SoundBuffer(std::size_t{1} << 62), std::bad_alloc);
}

TEST(PickFrames, RefusesCountsThatGiveNoBuffer) {
    const WAVEFORMATINFO format{1, 2, 44100, 176400, 4, 16};
    const std::vector<std::byte> source(400);
    EXPECT_THROW(PickFrames(source, 400, format, 0), std::length_error);
    EXPECT_THROW(PickFrames(source, 400, format, -5), std::length_error);
    EXPECT_THROW(PickFrames(source, 400, format, 600'000'000), chunkwell::OverflowError);
    EXPECT_EQ(PickFrames(source, 400, format, 150).size(), 600u);
}

class WaveOutFiles : public ::testing::Test {
protected:
    QTemporaryDir dir;
    chunkwell::MediaSystemLicence msl;
    const WAVEFORMATINFO format{1, 2, 44100, 176400, 4, 16};

    QString Path(const QString& name) const { return dir.filePath(name); }

    // The "data" bytes of a wave file written by the routines (44-byte header).
    QByteArray DataOf(const QString& path) const { return ReadFile(path).mid(44); }

    void ExpectSox(const QString& path, long frames) const {
        const SoxInfo info = ReadWithSox(path);
        EXPECT_EQ(info.rate, 44100) << path.toStdString();
        EXPECT_EQ(info.channels, 2) << path.toStdString();
        EXPECT_EQ(info.frames, frames) << path.toStdString();
    }
};

TEST_F(WaveOutFiles, SaveWaveAsWritesTheSoundAtItsOwnOrANewLength) {
    const QByteArray sound = Ramp(4 * 1000);
    ASSERT_TRUE(SaveWaveAs(msl, Path("same.wav"), format, Bytes(sound), 4000, 1000).Written());
    EXPECT_EQ(ReadFile(Path("same.wav")), Wave(Format{}, sound)); // byte for byte
    ExpectSox(Path("same.wav"), 1000);

    ASSERT_TRUE(SaveWaveAs(msl, Path("long.wav"), format, Bytes(sound), 4000, 2500).Written());
    ExpectSox(Path("long.wav"), 2500);

    // No frames can be picked: "fmt " and an empty "data" all the same.
    ASSERT_TRUE(SaveWaveAs(msl, Path("none.wav"), format, Bytes(sound), 4000, 0).Written());
    EXPECT_EQ(ReadFile(Path("none.wav")).size(), 44);
    ExpectSox(Path("none.wav"), 0);
}

// A sound whose new length takes several pieces of kSavePieceBytes, the last one short.
QByteArray LongSound() {
    const std::int32_t frames = static_cast<std::int32_t>(kSavePieceBytes / 4 * 3 / 2 + 777);
    const auto pattern = Pattern(static_cast<std::size_t>(frames) * 4, 99);
    return QByteArray(reinterpret_cast<const char*>(pattern.data()),
                      static_cast<qsizetype>(pattern.size()));
}

TEST_F(WaveOutFiles, SaveWaveAsWritesALongNewLengthAsOnePickWould) {
    const QByteArray sound = LongSound();
    const auto frames = static_cast<std::int32_t>(sound.size() / 4);
    for (std::int32_t n : {frames * 3 + 5, frames / 3}) { // many pieces; fewer than one
        ASSERT_TRUE(SaveWaveAs(msl, Path("long.wav"), format, Bytes(sound),
                               static_cast<std::int32_t>(sound.size()), n)
                        .Written());
        const SoundBuffer picked =
            PickFrames(Bytes(sound), static_cast<std::int32_t>(sound.size()), format, n);
        EXPECT_EQ(ReadFile(Path("long.wav")),
                  Wave(Format{}, QByteArray(reinterpret_cast<const char*>(picked.data()),
                                            static_cast<qsizetype>(picked.size()))))
            << n << " frames";
    }
}

TEST_F(WaveOutFiles, SaveSoundAsWritesEveryNewLengthAsOnePickWould) {
    const QByteArray sound = LongSound();
    const auto frames = static_cast<std::int32_t>(sound.size() / 4);
    const QString source = WriteFile(dir, "source.wav", Wave(Format{}, sound));
    auto reader = msl.OpenMediaFile(QFile::encodeName(source).toStdString());
    ASSERT_TRUE(reader);
    reader->MoveFirst();
    reader->MoveNext(); // "data"
    const auto size = static_cast<std::int32_t>(sound.size());
    // Stretched and mildly shrunk (read in windows), shrunk further (read whole).
    for (std::int32_t n :
         {frames * 3 + 5, frames * 3 / 2, frames - 1, frames / 2 + 1, frames / 3, 7}) {
        ASSERT_TRUE(SaveSoundAs(msl, Path("new.wav"), format, *reader, size, n).Written()) << n;
        const SoundBuffer picked = PickFrames(Bytes(sound), size, format, n);
        EXPECT_TRUE(ReadFile(Path("new.wav")) ==
                    Wave(Format{}, QByteArray(reinterpret_cast<const char*>(picked.data()),
                                              static_cast<qsizetype>(picked.size()))))
            << n << " frames";
    }
}

TEST_F(WaveOutFiles, SaveWaveAsRemovesTheFileWhenAPieceFailsToWrite) {
    const QByteArray sound = LongSound();
    const auto frames = static_cast<std::int32_t>(sound.size() / 4);
    // The disk "fills up" in the first piece, then in a later one while the next is picked.
    for (rlim_t limit : {rlim_t{64 * 1024}, static_cast<rlim_t>(kSavePieceBytes * 5 / 2)}) {
        WaveOutResult result;
        {
            FileSizeLimit full(limit);
            result = SaveWaveAs(msl, Path("full.wav"), format, Bytes(sound),
                                static_cast<std::int32_t>(sound.size()), frames * 3);
        }
        EXPECT_EQ(result.outcome, WaveOutResult::Outcome::WriteFailed) << limit;
        EXPECT_EQ(result.errorCode, 4);
        EXPECT_EQ(result.errorText, "An error occurred trying to write to this file.");
        EXPECT_FALSE(QFile::exists(Path("full.wav")));
    }
}

TEST_F(WaveOutFiles, SaveWaveAsRefusesASoundThatWasNotReadWhole) {
    const QByteArray sound = Ramp(400);
    const WaveOutResult result = SaveWaveAs(msl, Path("x.wav"), format, Bytes(sound), 800, 300);
    EXPECT_EQ(result.outcome, WaveOutResult::Outcome::ReadFailed);
    EXPECT_EQ(result.errorCode, 3);
    EXPECT_FALSE(QFile::exists(Path("x.wav")));
}

TEST_F(WaveOutFiles, AFailedWriteRemovesTheFileAndReportsErrorFour) {
    const QByteArray sound = Ramp(4 * 100000);
    WaveOutResult result;
    {
        FileSizeLimit limit(64 * 1024); // the disk is "full" after 64 KiB
        result = WriteWaveFile(msl, Path("full.wav"), format, Bytes(sound), true);
    }
    EXPECT_EQ(result.outcome, WaveOutResult::Outcome::WriteFailed);
    EXPECT_EQ(result.errorCode, 4);
    EXPECT_EQ(result.errorText, "An error occurred trying to write to this file.");
    EXPECT_FALSE(QFile::exists(Path("full.wav")));
}

TEST_F(WaveOutFiles, AFileInUseIsNotCreatedAndKeepsItsBytes) {
    const QByteArray original = Wave(Format{}, Ramp(400));
    const QString path = WriteFile(dir, "open.wav", original);
    auto reader = msl.OpenMediaFile(path.toStdString());
    ASSERT_TRUE(reader);
    const WaveOutResult result = WriteWaveFile(msl, path, format, Bytes(Ramp(40)), true);
    EXPECT_EQ(result.outcome, WaveOutResult::Outcome::CreateFailed);
    EXPECT_EQ(result.errorCode, 2);
    EXPECT_EQ(result.errorText, chunkwell::ErrorText(2));
    reader.reset();
    EXPECT_EQ(ReadFile(path), original);
}

class RecordedProgress : public SplitProgress {
public:
    int minimum = -1, maximum = -1, events = 0;
    std::vector<int> values;
    void SetRange(int lo, int hi) override { minimum = lo, maximum = hi; }
    void SetValue(int value) override { values.push_back(value); }
    void ProcessEvents() override { ++events; }
};

struct PiecesRow {
    int totalFrames;
    int parts;
    std::vector<int> frames;
};

TEST_F(WaveOutFiles, WriteSplitFilesCutsEveryRowOfThePiecesTable) {
    const PiecesRow rows[] = {
        {12, 4, {3, 3, 3, 3}}, {10, 4, {2, 2, 2, 2}}, {14, 4, {4, 4, 4, 2}},
        {11, 4, {3, 3, 3, 2}}, {3, 4, {1, 1, 1, 0}},  {7, 1, {7}},
    };
    for (const PiecesRow& row : rows) {
        const QByteArray sound = Ramp(4 * row.totalFrames);
        const QString base = Path(QStringLiteral("t%1p%2").arg(row.totalFrames).arg(row.parts));
        RecordedProgress progress;
        const SplitResult split = WriteSplitFiles(
            Bytes(sound), format, static_cast<std::uint8_t>(row.parts), base, msl, progress);
        EXPECT_EQ(split.complete, row.parts);
        EXPECT_TRUE(split.failure.Written());
        int offset = 0;
        for (int k = 1; k <= row.parts; ++k) {
            const QString piece = SplitPieceName(base, k);
            const int bytes = 4 * row.frames[k - 1];
            EXPECT_EQ(DataOf(piece), sound.mid(offset, bytes)) << piece.toStdString();
            ExpectSox(piece, row.frames[k - 1]);
            offset += bytes;
        }
        EXPECT_FALSE(QFile::exists(SplitPieceName(base, row.parts + 1)));
        EXPECT_EQ(progress.events, row.parts);
        EXPECT_EQ(progress.maximum, row.parts);
        EXPECT_EQ(progress.values.back(), progress.minimum); // back at the start
        EXPECT_EQ(progress.values[progress.values.size() - 2], progress.maximum); // full
    }
}

TEST_F(WaveOutFiles, WriteSplitFilesRefusesZeroPartsBeforeWritingAnything) {
    RecordedProgress progress;
    EXPECT_THROW(
        static_cast<void>(WriteSplitFiles(Bytes(Ramp(40)), format, 0, Path("z"), msl, progress)),
        CalcError);
    EXPECT_TRUE(progress.values.empty());
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

TEST_F(WaveOutFiles, WriteSplitFilesStopsAtAPieceThatFailsToWrite) {
    const QByteArray sound = Ramp(4 * 30000); // pieces of 40 044 bytes
    // The disk "fills up" after the first piece.
    struct FillingDisk : RecordedProgress {
        std::unique_ptr<FileSizeLimit> limit;
        void ProcessEvents() override {
            RecordedProgress::ProcessEvents();
            limit = std::make_unique<FileSizeLimit>(16 * 1024);
        }
    } progress;
    const SplitResult split = WriteSplitFiles(Bytes(sound), format, 3, Path("f"), msl, progress);
    progress.limit.reset();
    EXPECT_EQ(split.complete, 1);
    EXPECT_EQ(DataOf(Path("f[1].wav")), sound.left(40000));
    ExpectSox(Path("f[1].wav"), 10000);
    EXPECT_FALSE(QFile::exists(Path("f[2].wav"))); // the incomplete piece is removed
    EXPECT_FALSE(QFile::exists(Path("f[3].wav"))); // and no more are attempted
    EXPECT_EQ(split.failure.outcome, WaveOutResult::Outcome::WriteFailed);
    EXPECT_EQ(split.failure.errorText, "An error occurred trying to write to this file.");
    EXPECT_EQ(split.failure.errorCode, 4);
    EXPECT_EQ(progress.values.back(), progress.minimum);
}

TEST(SplitPieceName, AppendsTheNumberInBracketsAndTheExtension) {
    EXPECT_EQ(SplitPieceName("/music/drum", 1), "/music/drum[1].wav");
    EXPECT_EQ(SplitPieceName("/music/", 255), "/music/[255].wav");
}

} // namespace
} // namespace metronel
