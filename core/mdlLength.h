// SPDX-License-Identifier: MIT
#pragma once

// Bringing a sound to a new length: the one routine behind the window's Save As and Split
// As and the command line's tempo and split, so that a method gives the same bytes in both.
//
//   wave.Data() = BringToLength(wave, frames, Resampler::Hq);
//   wave.Data() = BringToLength(wave, frames, Resampler::KeepPitch, false); // a one-shot

#include "mdlWaveFile.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace metronel {

// How a sound is brought to its new length.
enum class Resampler {
    Pick,      // whole frames picked by index, as Save As and Split As have always done
    Hq,        // band-limited, the loop taken as a circle
    KeepPitch, // time-stretched in the same key, the loop taken as a circle
};

// Returns wave's "data" brought to frames frames. Pick gives the bytes that Save As writes
// for the same sound and length; Hq and KeepPitch need a format SampleFormatFromFmt reads
// (ReadWave has checked it), and take the sound as a loop unless loop is false (a one-shot:
// neither end is heard in the other); Pick has no use for it. At the sound's own length
// "data" comes back unchanged. Raises std::bad_alloc.
std::vector<std::byte> BringToLength(const WaveFile& wave, std::int32_t frames, Resampler resampler,
                                     bool loop = true);

// Returns the number of bytes BringToLength gives.
std::int64_t LengthBytes(const WaveFile& wave, std::int32_t frames, Resampler resampler);

// Returns what writes the bytes from firstByte on (count of them; -1: all the rest) that
// BringToLength gives for wave, the very same, without holding either sound: the sound is
// read from the file a stretch at a time (a small one once), so a file of any size takes a
// few MiB. For Pick and Hq; a part of the result (firstByte above 0, or count short of the
// rest) for Pick only, in whole frames. wave.soundInFile must be set, and must outlive
// the maker's writing. Raises std::invalid_argument otherwise; the writing raises what
// BringToLength does and what SoundInFile::Read raises.
SoundMaker MakeLength(const WaveFile& wave, std::int32_t frames, Resampler resampler, bool loop,
                      std::int64_t firstByte = 0, std::int64_t count = -1);

// Returns samples (wave's "data" as DecodeSamples reads it) brought to frames frames by Hq or
// KeepPitch, before encoding: EncodeSamples of the result in wave's format gives what
// BringToLength returns away from the sound's own length, so a caller can encode and use the
// first part before the rest. checkpoint is handed to KeepPitch's stretch (which takes
// seconds), to end it by raising. Raises as BringToLength does.
std::vector<double> BringSamplesToLength(const WaveFile& wave, std::span<const double> samples,
                                         std::int32_t frames, Resampler resampler, bool loop = true,
                                         const std::function<void()>& checkpoint = {});

} // namespace metronel
