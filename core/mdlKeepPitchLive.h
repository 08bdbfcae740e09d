// SPDX-License-Identifier: MIT
#pragma once

// A quick first hearing of a pitch-keeping stretch: the stretcher's real-time mode, handing
// the result over from its first frame while the rest is made, for playing a loop at once
// while StretchKeepPitch (mdlKeepPitch.h) makes the result that is saved.
//
//   StretchKeepPitchLive(x, channels, rate, n, [&](std::span<const double> frames) {
//       Play(frames);   // in order, from frame 0, n frames in all
//   });

#include <cstdint>
#include <functional>
#include <span>

namespace metronel {

// Stretches an interleaved loop to exactly targetFrames frames without changing its pitch,
// with the stretcher's real-time mode and its short window, and hands the result to put in
// order, a piece of whole frames at a time, the first as soon as it is made. The loop is a
// circle: the stretcher hears its tail before its frame 0 and its head after its end. It
// sounds close to StretchKeepPitch's result but not the same (less clean, the seam not
// blended). rate is the sound's frame rate (taken within 8 to 192 kHz). Nothing for
// targetFrames below 1; silence from no whole frame. Raises std::invalid_argument for
// channels below 1, and std::bad_alloc; what put raises ends the stretch.
void StretchKeepPitchLive(std::span<const double> interleaved, int channels, std::int64_t rate,
                          std::int64_t targetFrames,
                          const std::function<void(std::span<const double>)>& put);

} // namespace metronel
