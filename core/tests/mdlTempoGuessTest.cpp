// SPDX-License-Identifier: MIT
// Bars and beats from a loop's sound and from its "acid" record, on loops built here from
// synthesized hits at exact positions.
#include "mdlTempoGuess.h"
#include "DrumLoops.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace metronel {
namespace {

using namespace metronel::testing;

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
        {"--bars keeps the record's meter",
         {Acid(0, 16, 4, 87.0f)},
         2.0f,
         {},
         false,
         2,
         4,
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
