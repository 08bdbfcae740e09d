// SPDX-License-Identifier: MIT
// Bars and beats from a loop's sound and from its "acid" record, on loops built here from
// synthesized hits at exact positions.
#include "mdlTempoGuess.h"
#include "mdlHqResample.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace metronel {
namespace {

constexpr int kRate = 44100;

// A repeatable noise source, the same on every machine.
class Noise {
public:
    double Next() {
        m_State = m_State * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(m_State >> 11) / static_cast<double>(1ull << 53) * 2 - 1;
    }

private:
    std::uint64_t m_State = 22;
};

// Returns a hit: 'K' a falling sine, 'S' a tone under noise, 'H' a short bright noise,
// 'P' a plucked note of hz.
std::vector<double> Hit(char kind, Noise& noise, double hz = 220) {
    std::vector<double> hit(static_cast<std::size_t>(kRate * 0.35));
    double phase = 0, previous = 0;
    for (std::size_t i = 0; i < hit.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double n = noise.Next();
        switch (kind) {
        case 'K':
            phase += 2 * std::numbers::pi * (50 + 120 * std::exp(-t * 30)) / kRate;
            hit[i] = std::sin(phase) * std::exp(-t * 12);
            break;
        case 'S':
            phase += 2 * std::numbers::pi * 190 / kRate;
            hit[i] = (0.4 * std::sin(phase) + 0.5 * n) * std::exp(-t * 20);
            break;
        case 'H':
            hit[i] = 0.3 * (n - previous) * std::exp(-t * 50);
            break;
        default:
            for (int h = 1; h <= 4; ++h)
                hit[i] += std::sin(2 * std::numbers::pi * hz * h * t) * std::exp(-t * 4 * h) / h;
            hit[i] *= 0.4 * std::min(1.0, t * 400);
        }
        previous = n;
    }
    return hit;
}

// A loop of bars bars at bpm: each pattern line is an instrument letter and one mark a
// sixteenth ('X' loud, 'x' soft) for a bar of `beats` beats; swing delays the off
// sixteenths by that share of a sixteenth. Hits that run past the end sound at the start,
// as a loop does. Stereo, 16-bit.
WaveFile DrumLoop(double bpm, int bars, int beats, const std::vector<std::string>& pattern,
                  double swing = 0) {
    const auto frames = static_cast<std::int64_t>(std::llround(60.0 * kRate * bars * beats / bpm));
    std::vector<double> stereo(static_cast<std::size_t>(frames) * 2);
    Noise noise;
    const double sixteenth = static_cast<double>(frames) / (bars * beats * 4);
    for (int bar = 0; bar < bars; ++bar)
        for (const std::string& line : pattern)
            for (std::size_t step = 1; step < line.size(); ++step) {
                if (line[step] == '.')
                    continue;
                const auto s = static_cast<double>(bar * beats * 4) + static_cast<double>(step - 1);
                const double late = (step - 1) % 2 == 1 ? swing : 0;
                const auto at = static_cast<std::int64_t>((s + late) * sixteenth);
                const double gain = line[step] == 'X' ? 0.5 : 0.2;
                const std::vector<double> hit = Hit(line[0], noise, 110.0 * (1 + (step - 1) % 3));
                for (std::size_t i = 0; i < hit.size(); ++i) {
                    const auto f =
                        static_cast<std::size_t>((at + static_cast<std::int64_t>(i)) % frames);
                    stereo[2 * f] += gain * hit[i];
                    stereo[2 * f + 1] += gain * hit[i];
                }
            }
    WaveFile wave;
    std::vector<std::byte> fmt;
    for (auto [value, bytes] :
         {std::pair<std::uint32_t, int>{1, 2}, {2, 2}, {kRate, 4}, {kRate * 4, 4}, {4, 2}, {16, 2}})
        for (int i = 0; i < bytes; ++i)
            fmt.push_back(static_cast<std::byte>(value >> (8 * i)));
    wave.records.push_back({FourCC("fmt "), fmt});
    wave.records.push_back(
        {FourCC("data"), EncodeSamples(stereo, SampleFormat{SampleFormat::Kind::Pcm, 16, 2, 4})});
    wave.dataIndex = 1;
    return wave;
}

// An "acid" record: flags, beats in the sound, the meter's numerator, tempo.
WaveRecord Acid(std::uint32_t flags, std::uint32_t beats, std::uint16_t above, float tempo) {
    std::vector<std::byte> b(24);
    auto put = [&](std::size_t at, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            b[at + static_cast<std::size_t>(i)] = static_cast<std::byte>(v >> (8 * i));
    };
    put(0, flags, 4);
    put(12, beats, 4);
    put(16, 4, 2);
    put(18, above, 2);
    put(20, std::bit_cast<std::uint32_t>(tempo), 4);
    return {FourCC("acid"), b};
}

const std::vector<std::string> kRock = {"KX.......X.X.....", "S....X.......X...",
                                        "HX.x.X.x.X.x.X.x."};
const std::vector<std::string> kHouse = {"KX...X...X...X...", "S....X.......X...",
                                         "H..X...X...X...X."};
const std::vector<std::string> kBreaks = {"KX.........X.....", "S....X.......X...",
                                          "HX.X.X.X.X.X.X.X."};
const std::vector<std::string> kWaltz = {"KX...........", "S....X...X...", "HX.x.X.x.X.x."};
const std::vector<std::string> kTonal = {"PX.x.X.x.X.x.X.x."};

struct SoundRow {
    const char* name;
    double bpm;
    int bars;
    int beats;
    std::vector<std::string> pattern;
    double swing;
};

TEST(GuessMeterFromSound, FindsTheBarsOfLoopsAtKnownTempos) {
    const std::vector<SoundRow> rows = {
        {"hip-hop 85", 85, 1, 4, kRock, 0},           {"hip-hop 85", 85, 2, 4, kRock, 0},
        {"hip-hop 85", 85, 4, 4, kRock, 0},           {"house 120", 120, 1, 4, kHouse, 0},
        {"house 120", 120, 2, 4, kHouse, 0},          {"house 120", 120, 4, 4, kHouse, 0},
        {"breaks 140", 140, 1, 4, kBreaks, 0},        {"breaks 140", 140, 2, 4, kBreaks, 0},
        {"breaks 140", 140, 4, 4, kBreaks, 0},        {"drum-and-bass 174", 174, 1, 4, kBreaks, 0},
        {"drum-and-bass 174", 174, 2, 4, kBreaks, 0}, {"drum-and-bass 174", 174, 4, 4, kBreaks, 0},
        {"waltz 100", 100, 2, 3, kWaltz, 0},          {"waltz 132", 132, 4, 3, kWaltz, 0},
        {"swung 92", 92, 2, 4, kRock, 0.6},           {"tonal 110", 110, 2, 4, kTonal, 0},
    };
    MeterRequest guess;
    guess.guess = true;
    for (const SoundRow& row : rows) {
        const auto choice =
            ChooseMeter(DrumLoop(row.bpm, row.bars, row.beats, row.pattern, row.swing), guess);
        ASSERT_TRUE(choice) << row.name;
        EXPECT_EQ(choice->meter.source, MeterSource::Sound) << row.name;
        EXPECT_EQ(choice->meter.bars, row.bars) << row.name << ", " << row.bars << " bars";
        EXPECT_EQ(choice->meter.beatsPerBar, row.beats) << row.name << ", " << row.bars << " bars";
    }
}

TEST(ChooseMeter, TakesTheRecordFirstThenTheSoundThenTheRange) {
    struct Row {
        const char* name;
        std::vector<WaveRecord> acid;
        std::optional<float> bars, beats;
        bool guess;
        float wantBars, wantBeats;
        MeterSource wantSource;
        std::optional<float> wantTempo;
    };
    const std::vector<Row> rows = {
        {"record of 8 beats in 4/4",
         {Acid(2, 8, 4, 174.0f)},
         {},
         {},
         false,
         2,
         4,
         MeterSource::TempoRecord,
         174.0f},
        {"record of 12 beats in 3/4",
         {Acid(0, 12, 3, 87.0f)},
         {},
         {},
         true,
         4,
         3,
         MeterSource::TempoRecord,
         87.0f},
        {"record's beats regrouped by --beats",
         {Acid(0, 12, 4, 87.0f)},
         {},
         3.0f,
         false,
         4,
         3,
         MeterSource::TempoRecord,
         87.0f},
        {"record's beats regrouped by --bars",
         {Acid(0, 16, 4, 87.0f)},
         2.0f,
         {},
         false,
         2,
         8,
         MeterSource::TempoRecord,
         87.0f},
        {"both given beat the record",
         {Acid(0, 8, 4, 174.0f)},
         1.0f,
         4.0f,
         false,
         1,
         4,
         MeterSource::Given,
         174.0f},
        {"a one-shot is not a tempo",
         {Acid(1, 8, 4, 174.0f)},
         {},
         {},
         true,
         2,
         4,
         MeterSource::Sound,
         {}},
        {"no beats is not a tempo",
         {Acid(0, 0, 4, 174.0f)},
         {},
         {},
         true,
         2,
         4,
         MeterSource::Sound,
         {}},
        {"without a record or a guess, the defaults",
         {},
         {},
         {},
         false,
         1,
         4,
         MeterSource::Given,
         {}},
    };
    for (const Row& row : rows) {
        WaveFile wave = DrumLoop(174, 2, 4, kBreaks);
        wave.records.insert(wave.records.begin() + 1, row.acid.begin(), row.acid.end());
        wave.dataIndex = wave.records.size() - 1;
        MeterRequest request;
        request.bars = row.bars;
        request.beats = row.beats;
        request.guess = row.guess;
        const auto choice = ChooseMeter(wave, request);
        ASSERT_TRUE(choice) << row.name;
        EXPECT_EQ(choice->meter.bars, row.wantBars) << row.name;
        EXPECT_EQ(choice->meter.beatsPerBar, row.wantBeats) << row.name;
        EXPECT_EQ(choice->meter.source, row.wantSource) << row.name;
        EXPECT_EQ(choice->recordTempo, row.wantTempo) << row.name;
    }

    // Silence tells nothing: the range decides, and within it only.
    WaveFile silence = DrumLoop(120, 4, 4, {});
    MeterRequest guess;
    guess.guess = true;
    const auto range = ChooseMeter(silence, guess);
    ASSERT_TRUE(range);
    EXPECT_EQ(range->meter.source, MeterSource::Range);
    EXPECT_EQ(range->meter.bars, 4); // 30 bpm for one bar, 120 for four
    guess.low = 300;
    guess.high = 400;
    EXPECT_FALSE(ChooseMeter(silence, guess));
}

} // namespace
} // namespace metronel
