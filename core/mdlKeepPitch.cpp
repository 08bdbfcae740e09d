// SPDX-License-Identifier: MIT
#include "mdlKeepPitch.h"

#include "mdlHqResample.h"

#include "mdlPlanar.h"

#include <rubberband/RubberBandStretcher.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>
#include <limits>
#include <map>
#include <new>
#include <numbers>
#include <span>
#include <stdexcept>
#include <utility>
#include <vector>

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
                block[c][i] = static_cast<float>(
                    Finite(source(c, from + static_cast<std::int64_t>(i))) + noise);
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

// A sound read as a circle (a loop) or with silence beyond its ends (a one-shot).
class Frames {
public:
    Frames(std::span<const double> x, std::size_t channels, bool loop)
        : m_X(x), m_Channels(channels), m_N(static_cast<std::int64_t>(x.size() / channels)),
          m_Loop(loop) {}
    std::int64_t Count() const { return m_N; }
    std::size_t Channels() const { return m_Channels; }
    bool Loop() const { return m_Loop; }
    // Where sample c of frame i lies in the interleaved samples, or -1 beyond a one-shot.
    std::ptrdiff_t Where(std::int64_t i, std::size_t c) const {
        if (m_Loop)
            i = (i % m_N + m_N) % m_N;
        return i < 0 || i >= m_N
                   ? -1
                   : static_cast<std::ptrdiff_t>(static_cast<std::size_t>(i) * m_Channels + c);
    }
    double operator()(std::int64_t i, std::size_t c = 0) const {
        const std::ptrdiff_t at = Where(i, c);
        return at < 0 ? 0.0 : Finite(m_X[static_cast<std::size_t>(at)]);
    }

private:
    std::span<const double> m_X;
    std::size_t m_Channels;
    std::int64_t m_N;
    bool m_Loop;
};

// Where hits begin: 1 ms blocks whose next 2 ms hold five times the energy of the 20 ms
// before them and are no quieter than 30 dB under the loudest block; each then the first
// frame of the next 3 ms to reach a fifth of their peak, at least gap frames after the last.
// The energy is that of the sound's slope, so that a hat or a snare over a kick's long decay
// stands out.
std::vector<std::int64_t> FindAttacks(const Frames& x, std::int64_t rate, std::int64_t gap) {
    const std::int64_t n = x.Count(), b = std::max<std::int64_t>(1, rate / 1000), blocks = n / b;
    const std::size_t ch = x.Channels();
    std::vector<std::int64_t> found;
    if (blocks < 30)
        return found;
    std::vector<double> e(static_cast<std::size_t>(blocks));
    for (std::int64_t k = 0; k < blocks; ++k)
        for (std::int64_t i = k * b; i < (k + 1) * b; ++i)
            for (std::size_t c = 0; c < ch; ++c)
                e[static_cast<std::size_t>(k)] += std::pow(x(i, c) - x(i - 1, c), 2);
    const double loudest = *std::max_element(e.begin(), e.end());
    if (!std::isfinite(loudest))
        return found;
    const Frames energy(e, 1, x.Loop());
    std::int64_t last = std::numeric_limits<std::int64_t>::min() / 2;
    for (std::int64_t k = 0; k < blocks; ++k) {
        const double after = (energy(k) + energy(k + 1)) / 2;
        double before = 0;
        for (int j = 1; j <= 20; ++j)
            before += energy(k - j) / 20;
        if (after <= 1e-3 * loudest || after < 5 * before)
            continue;
        double peak = 0;
        for (std::int64_t i = (k - 1) * b; i < (k + 3) * b; ++i)
            for (std::size_t c = 0; c < ch; ++c)
                peak = std::max(peak, std::abs(x(i, c)));
        std::int64_t at = (k - 1) * b;
        for (bool reached = false; !reached && at < (k + 3) * b; ++at)
            for (std::size_t c = 0; c < ch && !reached; ++c)
                reached = std::abs(x(at, c)) >= 0.2 * peak;
        if (--at - last >= gap)
            found.push_back(last = at);
    }
    if (x.Loop() && found.size() > 1 && found.front() + n - found.back() < gap)
        found.pop_back();
    return found;
}

// Lays each hit's opening, as the source has it, over the stretched result where the
// stretcher put that hit: the stretcher keeps a hit's place but, slowing down, draws its
// opening out. The source fades in over the 5 ms before the hit, is kept for 15 to 25 ms,
// and fades back into the stretched sound over 10 ms. It goes where it matches the
// stretched sound best within 2 ms of the hit's place and ends where the two match best;
// both fades keep the level of two sounds that match only in part.
void KeepAttacks(std::span<const double> source, std::size_t ch, std::int64_t rate, bool loop,
                 std::vector<double>& result, const std::function<void()>& checkpoint) {
    const Frames x(source, ch, loop), y(result, ch, loop);
    const std::int64_t n = x.Count(), m = y.Count();
    const auto ms = [&](double v) {
        return std::max<std::int64_t>(1, std::llround(v * static_cast<double>(rate) / 1000));
    };
    const std::int64_t pre = ms(5), keep = ms(15), longest = ms(25), fade = ms(10), slack = ms(2);
    const double r = static_cast<double>(m) / static_cast<double>(n);
    // Hits closer than one opening and its fades, in the source or the result, are left as
    // the stretcher made them, and so is a sound shorter than two of them.
    const auto gap = static_cast<std::int64_t>(
        std::ceil(static_cast<double>(pre + longest + fade + 2 * slack) * std::max(1.0, 1.0 / r)));
    if (m < 2 * gap || n < 2 * gap)
        return;
    // How much of the result from frame t the source from frame s gives over count frames,
    // and how alike the two are (their correlation).
    auto likeness = [&](std::int64_t s, std::int64_t t, std::int64_t count) {
        double xy = 0, xx = 1e-30, yy = 1e-30;
        for (std::int64_t j = 0; j < count; ++j)
            for (std::size_t c = 0; c < ch; ++c) {
                const double a = x(s + j, c), b = y(t + j, c);
                xy += a * b, xx += a * a, yy += b * b;
            }
        return std::pair{xy / std::sqrt(yy), std::clamp(xy / std::sqrt(xx * yy), 0.0, 1.0)};
    };
    for (const std::int64_t s : FindAttacks(x, rate, gap)) {
        if (checkpoint)
            checkpoint();
        const std::int64_t t0 = std::llround(static_cast<double>(s) * r);
        std::int64_t t = t0;
        double best = -INFINITY;
        for (std::int64_t d = -slack; d <= slack; ++d)
            if (const double score = likeness(s - pre, t0 + d - pre, pre + keep).first;
                score > best)
                best = score, t = t0 + d;
        std::int64_t end = keep;
        double rhoOut = -1;
        for (std::int64_t e = keep; e <= longest; e += ms(0.5))
            if (const double c = likeness(s + e, t + e, fade).second; c > rhoOut)
                rhoOut = c, end = e;
        const double rhoIn = likeness(s - pre, t - pre, pre).second;
        for (std::int64_t j = -pre; j < end + fade; ++j) {
            const double u = j < 0 ? static_cast<double>(j + pre) / static_cast<double>(pre)
                             : j < end
                                 ? 1.0
                                 : 1 - static_cast<double>(j - end) / static_cast<double>(fade);
            const double w = 0.5 - 0.5 * std::cos(std::numbers::pi * u),
                         rho = j < 0 ? rhoIn : rhoOut;
            // Two sounds alike by rho, mixed w to 1 - w, keep their level when scaled so.
            const double g = 1 / std::sqrt(w * w + (1 - w) * (1 - w) + 2 * rho * w * (1 - w));
            for (std::size_t c = 0; c < ch; ++c)
                if (const std::ptrdiff_t at = y.Where(t + j, c); at >= 0) {
                    double& v = result[static_cast<std::size_t>(at)];
                    v = g * ((1 - w) * v + w * x(s + j, c));
                }
        }
    }
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
        KeepAttacks(interleaved.first(static_cast<std::size_t>(n) * ch), ch, rate, false, result,
                    checkpoint);
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
    KeepAttacks(interleaved.first(static_cast<std::size_t>(n) * ch), ch, rate, true, result,
                checkpoint);
    return result;
}

} // namespace metronel
