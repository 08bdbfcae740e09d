// SPDX-License-Identifier: MIT
#pragma once

// How many bars and beats a loop holds, which the tempo arithmetic rests on: read from the
// file's "acid" tempo record, or heard from the sound.
//
//   MeterChoice choice = ChooseMeter(wave, {.guess = true});   // all of the below, in order
//
//   if (auto acid = ReadAcidRecord(acidBytes); acid && HoldsTempo(*acid))
//       meter = {acid->Bars(), acid->BeatsPerBar(), MeterSource::TempoRecord};
//   else if (auto heard = GuessMeterFromSound(mono, rate, {}))  // mono: one float a frame
//       meter = {float(heard->bars), float(heard->beatsPerBar), MeterSource::Sound};
//
// The guess from the sound takes the loop as a circle: an onset-strength envelope (spectral
// flux) over exactly the loop, its circular autocorrelation read at every beat of each
// candidate grid (1 to 64 bars of 3 or 4 beats), and for near-ties a broad preference for
// common tempos and for about two strong onsets a beat.

#include "mdlWaveFile.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace metronel {

// Where the bars and beats a command works with came from.
enum class MeterSource {
    Given,       // the user's --bars / --beats, or the defaults
    TempoRecord, // the file's "acid" record
    Sound,       // heard from the sound
    Range,       // the power of two that puts the tempo in the guess range
};

// Returns the words a person reads for source ("given", "tempo record", "guessed from the
// sound", "guessed from the range").
const char* MeterSourceText(MeterSource source);

// Returns the short name --json uses for source ("given", "record", "sound", "range").
const char* MeterSourceKey(MeterSource source);

// Bars and beats a bar, and where they came from.
struct Meter {
    float bars = 1;
    float beatsPerBar = 4;
    MeterSource source = MeterSource::Given;
};

// The fields of an "acid" record that say what tempo the sound has.
struct AcidRecord {
    std::uint32_t flags = 0;
    std::uint32_t beats = 0;      // beats in the whole sound
    std::uint16_t meterBelow = 0; // the meter's denominator
    std::uint16_t meterAbove = 0; // the meter's numerator: beats a bar
    float tempo = 0;              // as the record states it, in bpm

    // Tells whether the record marks the sound as a one-shot (flag bit 0).
    bool OneShot() const { return (flags & 1u) != 0; }
    // Returns the beats a bar: the meter's numerator, 4 when the record leaves it 0.
    float BeatsPerBar() const { return meterAbove > 0 ? meterAbove : 4.0f; }
    // Returns the bars: beats / BeatsPerBar().
    float Bars() const { return static_cast<float>(beats) / BeatsPerBar(); }
};

// Reads the fields of an "acid" record's bytes; nothing when they are fewer than 24.
std::optional<AcidRecord> ReadAcidRecord(std::span<const std::byte> bytes);

// Tells whether record states a tempo: not a one-shot, at least one beat, a meter of at most
// 64 beats a bar and bars within 1/10 to 64 (what --bars and --beats accept).
bool HoldsTempo(const AcidRecord& record);

// How much each clue counts in the guess from the sound. The defaults were chosen on
// synthesized loops of nine styles (bench/bench_tempoguess); callers keep them.
struct GuessWeights {
    double tempoCentre = 129;    // the tempo the broad preference centres on, in bpm
    double tempoWidth = 1.6;     // its width, in octaves
    double tempo = 0.235;        // its weight
    double densityCentre = 1.87; // strong onsets a beat the density preference centres on
    double densityWidth = 1.31;  // its width, in octaves
    double density = 0.1;        // its weight
    double strong = 0.434;       // an onset is strong from this share of the loudest on
    double meter = 0.002;        // weight of the bar's repetition against the other meter's
    double oddBars = 0.105;      // cost of a bar count that is not a power of two
    double threeBeats = 0.002;   // cost of three beats a bar
};

// What the guess from the sound looks for.
struct GuessOptions {
    double low = 70;     // the slowest tempo a candidate may have, in bpm
    double high = 180;   // the fastest
    int beatsPerBar = 0; // 0: 3 or 4; otherwise only this many
    GuessWeights weights;
};

// The grid the sound supports best.
struct SoundGuess {
    int bars = 1;
    int beatsPerBar = 4;
    double bpm = 0;
};

// Returns the bars and beats a bar that mono (one sample a frame, the loop whole) supports
// best among 1 to 64 bars of GuessOptions::beatsPerBar beats whose tempo lies within
// [low, high], each candidate scored by the onset envelope's circular autocorrelation at
// its beats, with a broad tempo preference and an onset-density preference to break
// near-ties. Nothing comes back when no candidate's tempo is within the range, for a sound
// shorter than about 50 ms, for rate below 8000 or above 768000 and for silence or a sound
// without onsets.
// Raises std::bad_alloc. Thread-safe.
std::optional<SoundGuess> GuessMeterFromSound(std::span<const float> mono, std::int32_t rate,
                                              const GuessOptions& options);

// Returns the smallest power of two from 1 to 64 bars of beatsPerBar beats that puts the
// tempo of frames frames at rate within [low, high], or nothing.
std::optional<int> GuessBarsFromRange(std::int64_t frames, std::int32_t rate, float beatsPerBar,
                                      double low, double high);

// Returns the frames of wave's "data" as one sample each, the channels' mean; silence for
// samples that are not finite, nothing for a format SampleFormatFromFmt cannot read.
// Raises std::bad_alloc.
std::vector<float> MonoFrames(const WaveFile& wave);

// What a command was asked: the bars and beats given, and whether to guess the rest.
struct MeterRequest {
    std::optional<float> bars;
    std::optional<float> beats;
    bool guess = false;
    double low = 70;
    double high = 180;
};

// The bars and beats to work with, and the tempo an "acid" record states, if any.
struct MeterChoice {
    Meter meter;
    std::optional<float> recordTempo;
};

// Returns the bars and beats for wave: both given; else from an "acid" record that holds a
// tempo (given bars keep the record's meter, given beats a bar regroup its beats); else, when asked to guess,
// from the sound and failing that from the range (GuessBarsFromRange, beats given or 4);
// else what is given, 1 bar and 4 beats by default. The tempo of a record that holds one
// comes with it whatever was chosen. Nothing when a guess finds no bar count within the
// range. Raises std::bad_alloc.
std::optional<MeterChoice> ChooseMeter(const WaveFile& wave, const MeterRequest& request);

} // namespace metronel
