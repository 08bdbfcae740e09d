// SPDX-License-Identifier: MIT
#pragma once

// Time-stretching that keeps the pitch, to an exact frame count: the third way to change
// a sound's length, beside frame picking and band-limited resampling (mdlHqResample.h).
//
//   auto x = DecodeSamples(dataBytes, *f);                        // interleaved doubles
//   auto y = StretchKeepPitch(x, f->channels, rate, n);            // n frames, same key
//   auto z = StretchKeepPitch(x, f->channels, rate, n, false);     // a one-shot: no wrap
//   auto bytes = EncodeSamples(y, *f);

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace metronel {

// Stretches an interleaved sound to exactly targetFrames frames without changing its
// pitch (Rubber Band's R3 engine, offline, in single precision, with a noise floor at
// -106 dBFS). As a loop (the default), the sound is taken as a circle: the stretcher hears
// a quarter second of the loop's tail before its head and of its head after its tail, the
// source's frames 0 and N are pinned to the result's 0 and targetFrames, and the result's
// two ends meet through a 10 ms raised-cosine blend, so it repeats without a click (a tone
// whose cycles do not fit the new length a whole number of times dips there for those
// milliseconds). Each hit's opening (its first 15 to 25 ms, and the 5 ms before it) is then
// laid over the result as the source has it, where the stretcher put the hit, so that
// slowing down does not soften attacks. As a one-shot nothing wraps: silence lies beyond
// either end. rate is the sound's frame rate, which sets the stretcher's window (taken
// within 8 to 192 kHz). The sound's own length comes back unchanged; no source frame gives
// silence; an incomplete trailing frame is left out. Nothing comes back for targetFrames below 1.
// checkpoint, when given, is called every few thousand frames: what it raises ends the stretch (a
// player that no longer needs it). Raises std::invalid_argument for channels below 1 and
// std::bad_alloc.
std::vector<double> StretchKeepPitch(std::span<const double> interleaved, int channels,
                                     std::int64_t rate, std::int64_t targetFrames, bool loop = true,
                                     const std::function<void()>& checkpoint = {});

} // namespace metronel
