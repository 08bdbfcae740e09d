// SPDX-License-Identifier: MIT
#pragma once

// The commands of metronel-cli over the widget-free core: the arithmetic is the window's
// own (SamplesFromBpm, the semitone shift, PickFrames, FramesPerPart, SplitPieceName), so
// a length, a tempo or a piece comes out here to the frame as it does there.

#include "mdlLength.h"
#include "mdlTempoGuess.h"
#include "mdlWaveFile.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <string>

namespace metronel::cli {

// What a sound is brought to; None keeps its length.
struct Target {
    enum class Kind { None, Bpm, Samples, Semitones, Factor };
    Kind kind = Kind::None;
    double value = 0;
};

// The options the tempo and split commands share.
struct TempoOptions {
    Target target;
    float beats = 4;
    float bars = 1;
    bool beatsGiven = false; // otherwise from an "acid" record, the guess or the default
    bool barsGiven = false;
    bool guessBars = false;
    double guessLow = 70;
    double guessHigh = 180;
    Resampler resampler = Resampler::Pick;
    bool oneShot = false; // hq and keep-pitch: not a loop, so nothing wraps around
    bool stripMetadata = false;
    bool force = false;
    int jobs = 0; // 0: four per core
};

// The bars and beats a sound holds and the frame count it is brought to.
struct TempoPlan {
    float bars = 1;
    float beats = 4;
    MeterSource source = MeterSource::Given;
    std::optional<float> recordTempo; // what the "acid" record says

    std::int32_t sourceFrames = 0;
    std::int32_t frames = 0;
    double bpm = 0; // the tempo at frames
};

// Returns what options ask the bars and beats to be taken from.
MeterRequest RequestOf(const TempoOptions& options);

// Returns the plan for wave under options, or the reason there is none (no bars that
// give a tempo in the guess range, a target below one frame, a formula fault). Bars and
// beats not given come from the file's "acid" record, or with guessBars from its sound.
std::optional<TempoPlan> PlanTempo(const WaveFile& wave, const TempoOptions& options,
                                   std::string& error);

// Writes each file brought to the target, to out: a folder (one output of the same name
// per input), or for one input, a file name. Returns the exit status: 0 when every file
// was written, 1 when some failed.
int RunTempo(const QStringList& files, const QString& out, const TempoOptions& options);

// Cuts each file, brought to the target if one is given, into parts pieces named as Split
// As names them (or with digits zero-padded numbers), from out: a folder, or for one input
// a file name less a final ".wav" (any case). All of a file's pieces are written, or none.
// Returns the exit status.
int RunSplit(const QStringList& files, const QString& out, int parts, int digits,
             const TempoOptions& options);

// Prints each file's format, length, tempo (bars and beats chosen as PlanTempo does) and
// record tree, as text or one JSON document. Returns the exit status.
int RunInfo(const QStringList& files, bool json, const TempoOptions& options);

} // namespace metronel::cli
