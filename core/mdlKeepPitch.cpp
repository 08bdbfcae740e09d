// SPDX-License-Identifier: MIT
#include "mdlKeepPitch.h"

#include "mdlHqResample.h"

#include "mdlPlanar.h"

#include <rubberband/RubberBandStretcher.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <new>
#include <numbers>
#include <stdexcept>

namespace metronel {

namespace {

using RubberBand::RubberBandStretcher;

// The noise floor fed with the sound, peak to peak.
constexpr double kFloor = 1e-5;

// The cross-fade at a loop's seam.
constexpr double kBlendSeconds = 0.010;

// Frames of the loop heard before its start and after its end: enough for the stretcher's
// longest window and its transient look-ahead either side of the kept span.
constexpr double kContextSeconds = 0.25;
std::int64_t ContextFrames(std::int64_t rate) {
    return std::max<std::int64_t>(
        4096, std::llround(kContextSeconds *
                           static_cast<double>(std::clamp<std::int64_t>(rate, 8000, 192000))));
}

// Returns, channel by channel, the inFrames frames that source(channel, frame) gives
// stretched to outFrames frames in the same key, the input frames of keys landing on their
// output frames.
template <class Source>
std::vector<std::vector<float>> Stretch(int channels, std::int64_t rate, std::int64_t inFrames,
                                        std::int64_t outFrames, const Source& source,
                                        const std::map<std::size_t, std::size_t>& keys,
                                        const std::function<void()>& checkpoint) {
    const auto ch = static_cast<std::size_t>(channels);
    // One thread: callers stretch many files side by side.
    const RubberBandStretcher::Options options =
        RubberBandStretcher::OptionProcessOffline | RubberBandStretcher::OptionEngineFiner |
        RubberBandStretcher::OptionThreadingNever | RubberBandStretcher::OptionChannelsTogether;
    RubberBandStretcher stretcher(
        static_cast<std::size_t>(std::clamp<std::int64_t>(rate, 8000, 192000)), ch, options,
        static_cast<double>(outFrames) / static_cast<double>(inFrames));
    stretcher.setExpectedInputDuration(static_cast<std::size_t>(inFrames));
    constexpr std::size_t kBlock = 4096;
    stretcher.setMaxProcessSize(kBlock);

    Planar block(ch, kBlock);
    // A floor of noise about as loud as 16-bit rounding (peaks at -106 dBFS): on perfectly
    // clean synthesized tones the engine otherwise garbles some notes (a bass note of 82 Hz
    // with its octave came out only 4 dB above the damage), while rounded samples it keeps
    // 70 dB clean. The noise is the same on every run.
    auto fill = [&](std::int64_t from, std::size_t frames) {
        for (std::size_t c = 0; c < ch; ++c) {
            auto state =
                static_cast<std::uint32_t>(from) * 2654435761u + static_cast<std::uint32_t>(c);
            for (std::size_t i = 0; i < frames; ++i) {
                state = state * 1664525u + 1013904223u;
                const double noise = kFloor * (static_cast<double>(state) / 4294967296.0 - 0.5);
                block[c][i] =
                    static_cast<float>(source(c, from + static_cast<std::int64_t>(i)) + noise);
            }
        }
    };
    for (std::int64_t at = 0; at < inFrames; at += kBlock) {
        const auto frames = static_cast<std::size_t>(std::min<std::int64_t>(kBlock, inFrames - at));
        if (checkpoint)
            checkpoint();
        fill(at, frames);
        stretcher.study(block.Pointers(), frames,
                        at + static_cast<std::int64_t>(frames) == inFrames);
    }
    if (!keys.empty())
        stretcher.setKeyFrameMap(keys);

    std::vector<std::vector<float>> out(ch);
    for (auto& channel : out)
        channel.reserve(static_cast<std::size_t>(outFrames) + kBlock);
    Planar got(ch, kBlock);
    auto drain = [&] {
        for (int available; (available = stretcher.available()) > 0;) {
            const std::size_t frames = stretcher.retrieve(
                got.Pointers(), std::min<std::size_t>(kBlock, static_cast<std::size_t>(available)));
            for (std::size_t c = 0; c < ch; ++c)
                out[c].insert(out[c].end(), got[c].begin(),
                              got[c].begin() + static_cast<std::ptrdiff_t>(frames));
        }
    };
    for (std::int64_t at = 0; at < inFrames; at += kBlock) {
        const auto frames = static_cast<std::size_t>(std::min<std::int64_t>(kBlock, inFrames - at));
        if (checkpoint)
            checkpoint();
        fill(at, frames);
        stretcher.process(block.Pointers(), frames,
                          at + static_cast<std::int64_t>(frames) == inFrames);
        drain();
    }
    // Offline, everything is out once available() says -1; a few empty final calls at most
    // push the last of it through, so a stretcher that stalls cannot hang the caller.
    for (int idle = 0; stretcher.available() >= 0 && idle < 64; ++idle) {
        drain();
        if (stretcher.available() == 0)
            stretcher.process(block.Pointers(), 0, true);
    }
    // The stretcher's count may differ from the asked one by a frame or two.
    for (auto& channel : out)
        channel.resize(static_cast<std::size_t>(outFrames), 0.0f);
    return out;
}

} // namespace

std::vector<double> StretchKeepPitch(std::span<const double> interleaved, int channels,
                                     std::int64_t rate, std::int64_t targetFrames, bool loop,
                                     const std::function<void()>& checkpoint) {
    if (auto done = ResampleWithoutWork(interleaved, channels, targetFrames))
        return std::move(*done);
    const auto ch = static_cast<std::size_t>(channels);
    const auto n = static_cast<std::int64_t>(interleaved.size() / ch);
    const std::int64_t m = targetFrames;
    std::vector<double> result(static_cast<std::size_t>(m) * ch);
    auto at = [&](std::size_t c, std::int64_t frame) {
        return interleaved[static_cast<std::size_t>(frame) * ch + c];
    };

    if (!loop) {
        const auto stretched = Stretch(channels, rate, n, m, at, {}, checkpoint);
        for (std::size_t i = 0; i < static_cast<std::size_t>(m); ++i)
            for (std::size_t c = 0; c < ch; ++c)
                result[i * ch + c] = stretched[c][i];
        return result;
    }

    // The loop is fed with `context` frames of its tail before it and of its head after it
    // (repeated for a short loop), so the stretcher hears it as it repeats; key frames pin
    // the loop's start and end to output frames `lead` and lead + m. The result is the span
    // between them, its ends blended with what the stretcher made beyond them.
    // A sound stretched many times over hears less of itself around: the extra output
    // stays within four times the context.
    const std::int64_t context = std::max<std::int64_t>(
        1, std::min<std::int64_t>(ContextFrames(rate), 4 * ContextFrames(rate) * n / m + 1));
    const std::int64_t lead =
        std::max<std::int64_t>(1, std::llround(static_cast<double>(context) *
                                               static_cast<double>(m) / static_cast<double>(n)));
    const auto stretched = Stretch(
        channels, rate, n + 2 * context, m + 2 * lead,
        [&](std::size_t c, std::int64_t frame) { return at(c, ((frame - context) % n + n) % n); },
        {{static_cast<std::size_t>(context), static_cast<std::size_t>(lead)},
         {static_cast<std::size_t>(context + n), static_cast<std::size_t>(lead + m)}},
        checkpoint);
    for (std::size_t i = 0; i < static_cast<std::size_t>(m); ++i)
        for (std::size_t c = 0; c < ch; ++c)
            result[i * ch + c] = stretched[c][static_cast<std::size_t>(lead) + i];
    // Across the seam, the turn that ends fades into the turn that begins: t frames from the
    // seam, (1 - w) of frame lead + m + t and w of frame lead + t. A tone whose cycles do not
    // fit the new length a whole number of times meets itself out of phase there and dips
    // for those few milliseconds: keeping its pitch exact leaves no smoother join.
    const double frameRate = static_cast<double>(std::clamp<std::int64_t>(rate, 1, 1 << 30));
    const std::int64_t half =
        std::min<std::int64_t>({std::llround(kBlendSeconds / 2 * frameRate), m / 2, lead});
    for (std::int64_t t = -half; t < half; ++t) {
        const double w =
            0.5 - 0.5 * std::cos(std::numbers::pi * (static_cast<double>(t + half) + 0.5) /
                                 static_cast<double>(2 * half));
        const auto to = static_cast<std::size_t>(t < 0 ? m + t : t);
        for (std::size_t c = 0; c < ch; ++c)
            result[to * ch + c] = (1 - w) * stretched[c][static_cast<std::size_t>(lead + m + t)] +
                                  w * stretched[c][static_cast<std::size_t>(lead + t)];
    }
    return result;
}

} // namespace metronel
