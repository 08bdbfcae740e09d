// SPDX-License-Identifier: MIT
#pragma once

// Carrying a loop's metadata to a new length: the tempo record "acid" gets the new tempo
// and beat count, "smpl" loop points and "cue " positions move with the sound (and for a
// tape-style change, the unity note), "fact" gets the new length; every other record
// stays as it was.

#include "mdlWaveFile.h"

#include <cstdint>
#include <vector>

namespace metronel {

// Where the output's frames come from: the sound of sourceFrames frames brought to frames
// frames, of which the output holds count frames from first on (all of them, or a piece).
struct FrameMap {
    std::int64_t sourceFrames = 0;
    std::int64_t frames = 0;
    std::int64_t first = 0;
    std::int64_t count = 0;
};

// Rewrites, in records, "acid" with bpm and beats (rounded), and moves the "smpl" loop
// points and "cue " positions by map: scaled, rounded to whole frames (halves to even) and
// kept within the output. For a piece, points that fall outside it are dropped (a loop
// when either end does) and the counts written to match. Unless keepPitch (the sound was
// time-stretched in its own key), the "smpl" unity note and pitch fraction move by
// 12 log2(map.sourceFrames / map.frames) semitones, as a tape's pitch does, kept within
// notes 0 to 127. A "fact" record's sample count becomes map.count. Records too short for
// their fields are left as they are.
void AdjustMetadata(std::vector<WaveRecord>& records, const FrameMap& map, double bpm, double beats,
                    bool keepPitch = false);

// Keeps only "fmt " and "data".
void StripMetadata(WaveFile& wave);

} // namespace metronel
