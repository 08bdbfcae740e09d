// SPDX-License-Identifier: MIT
// Pitch-keeping stretch measured on seamless loops built here: a two-bar drum beat and a
// one-bar break from real drum hits, a held two-tone chord and a four-note bass line, each
// taken to a faster and a slower tempo.
#include "mdlKeepPitch.h"
#include "mdlHqResample.h"
#include "mdlKeepPitchLive.h"
#include "mdlWaveFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <numbers>
#include <span>
#include <string>
#include <vector>

namespace metronel {
namespace {

constexpr std::int64_t kRate = 44100;
constexpr double kPi = std::numbers::pi;

struct Loop {
    int channels = 1;
    std::vector<double> x; // interleaved
    std::int64_t Frames() const { return static_cast<std::int64_t>(x.size()) / channels; }
    // The channels' mean at frame i of the circle.
    double Mono(std::int64_t i) const {
        const std::int64_t n = Frames();
        i = (i % n + n) % n;
        double sum = 0;
        for (int c = 0; c < channels; ++c)
            sum += x[static_cast<std::size_t>(i * channels + c)];
        return sum / channels;
    }
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n == 0 ? NAN : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::int64_t LoopFrames(double bpm, double beats) {
    return std::llround(beats * 60.0 / bpm * kRate);
}

// ---- Loops ----

// A drum hit of Debian's hydrogen-drumkits (16-bit mono, 44.1 kHz), read as the programs
// read a file.
std::vector<double> Hit(const char* name) {
    const QString path =
        QStringLiteral("/usr/share/hydrogen/data/drumkits/The Black Pearl 1.0/%1.wav").arg(name);
    chunkwell::MediaSystemLicence msl;
    WaveFile wave;
    const WaveOutResult read = ReadWave(msl, path, wave);
    EXPECT_TRUE(read.Written()) << read.OneLine() << ": install hydrogen-drumkits";
    if (!read.Written() || wave.Channels() != 1 || wave.Rate() != kRate)
        return std::vector<double>(100, 0.0);
    return DecodeSamples(wave.Data(), *SampleFormatFromFmt(wave.Fmt()));
}

struct Drums {
    Loop loop;
    std::vector<std::int64_t> hits; // where each hit starts
};

// Lays hits on a circle of beats beats at bpm; pattern: beat position, hit, gain, pan.
struct Stroke {
    double beat;
    int hit; // 0 kick, 1 snare, 2 hat
    double gain;
};

Drums MakeDrums(double bpm, double beats, const std::vector<Stroke>& strokes) {
    const std::vector<std::vector<double>> hits = {Hit("PearlKick-Hard"), Hit("PearlSnare-Hard"),
                                                   Hit("SabianHatClosed-Med")};
    // Kick and snare in the middle, the hat to the right.
    const double pans[3][2] = {{0.8, 0.8}, {0.75, 0.85}, {0.45, 0.9}};
    Drums d;
    d.loop.channels = 2;
    const std::int64_t n = LoopFrames(bpm, beats);
    d.loop.x.assign(static_cast<std::size_t>(2 * n), 0.0);
    for (const Stroke& s : strokes) {
        const std::int64_t at = std::llround(s.beat * static_cast<double>(n) / beats);
        d.hits.push_back(at);
        const auto& h = hits[static_cast<std::size_t>(s.hit)];
        for (std::size_t i = 0; i < h.size(); ++i)
            for (int c = 0; c < 2; ++c)
                d.loop.x[static_cast<std::size_t>(((at + static_cast<std::int64_t>(i)) % n) * 2 +
                                                  c)] += h[i] * s.gain * pans[s.hit][c];
    }
    return d;
}

Drums TwoBarBeat() {
    std::vector<Stroke> s;
    for (int bar = 0; bar < 2; ++bar) {
        const double b = 4.0 * bar;
        s.push_back({b + 0, 0, 1.0});
        s.push_back({b + 2, 0, 0.9});
        s.push_back({b + 1, 1, 0.9});
        s.push_back({b + 3, 1, 0.9});
        for (int e = 0; e < 8; ++e)
            if (e % 2 == 1)
                s.push_back({b + e / 2.0, 2, 0.6});
    }
    s.push_back({6.5, 0, 0.7});
    return MakeDrums(93, 8, s);
}

Drums OneBarBreak() {
    return MakeDrums(100, 4,
                     {{0, 0, 1.0},
                      {1, 1, 0.9},
                      {1.75, 1, 0.5},
                      {2.5, 0, 0.9},
                      {3, 1, 0.9},
                      {3.5, 2, 0.6},
                      {0.5, 2, 0.6},
                      {2.25, 2, 0.5}});
}

// Two tones held for one bar, each a whole number of cycles around the loop.
constexpr double kChord[2] = {200.0, 300.0};
Loop HeldChord() {
    Loop l;
    const std::int64_t n = LoopFrames(120, 4); // two seconds
    for (std::int64_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        l.x.push_back(0.3 * std::sin(2 * kPi * kChord[0] * t) +
                      0.2 * std::sin(2 * kPi * kChord[1] * t + 1.0));
    }
    return l;
}

// Four notes of a beat each, the second to fifth harmonics of 25 Hz (a fundamental and its
// third harmonic, so that whole half-cycles of every part fill a 20 ms window), 5 ms fades.
constexpr double kBass[4] = {50, 75, 100, 125};
Loop BassLine() {
    Loop l;
    const std::int64_t n = LoopFrames(93, 4), note = n / 4;
    const double fade = 0.005 * kRate;
    for (std::int64_t i = 0; i < n; ++i) {
        const std::int64_t k = std::min<std::int64_t>(i / note, 3), j = i - k * note;
        const std::int64_t length = k == 3 ? n - 3 * note : note;
        const double t = static_cast<double>(j) / kRate, f = kBass[k];
        const double gain = std::min(
            {1.0, static_cast<double>(j) / fade, static_cast<double>(length - 1 - j) / fade});
        l.x.push_back(0.4 * gain *
                      (std::sin(2 * kPi * f * t) + 0.3 * std::sin(2 * kPi * 3 * f * t)));
    }
    return l;
}

// ---- Measures ----

Loop Stretched(const Loop& source, std::int64_t frames, bool loop = true) {
    return {source.channels, StretchKeepPitch(source.x, source.channels, kRate, frames, loop)};
}

// The largest jump between neighbouring frames across the seam, against elsewhere.
double SeamJumpRatio(const Loop& l) {
    const std::int64_t n = l.Frames();
    double seam = 0, elsewhere = 0;
    for (std::int64_t i = 0; i < n; ++i)
        for (int c = 0; c < l.channels; ++c) {
            const auto a = static_cast<std::size_t>(i * l.channels + c);
            const auto b = static_cast<std::size_t>(((i + 1) % n) * l.channels + c);
            const double jump = std::abs(l.x[b] - l.x[a]);
            (i == n - 1 ? seam : elsewhere) = std::max(i == n - 1 ? seam : elsewhere, jump);
        }
    return seam / elsewhere;
}

// A hit as measured on the envelope (the largest |x| of the last 2 ms): where it crosses half
// its peak, its 10 %->90 % rise, and the energy of the 10 ms before against the 10 ms after.
struct Onset {
    double at = 0, rise = 0, preEcho = 0; // frames, frames, dB
    bool clear = false;                   // the envelope before is well below the peak
};

Onset MeasureOnset(const Loop& l, double expected) {
    const auto ms = [](double m) { return static_cast<std::int64_t>(m * kRate / 1000); };
    const std::int64_t from = std::llround(expected) - ms(15), to = std::llround(expected) + ms(25);
    std::vector<double> env;
    for (std::int64_t i = from; i < to; ++i) {
        double e = 0;
        for (std::int64_t k = i - ms(2); k <= i; ++k)
            e = std::max(e, std::abs(l.Mono(k)));
        env.push_back(e);
    }
    const double peak = *std::max_element(env.begin(), env.end());
    Onset o;
    o.clear = env.front() < 0.2 * peak;
    std::size_t half = 0, high = 0;
    while (env[half] < 0.5 * peak)
        ++half;
    while (env[high] < 0.9 * peak)
        ++high;
    std::size_t low = high;
    while (low > 0 && env[low] >= 0.1 * peak)
        --low;
    o.at = static_cast<double>(from) + static_cast<double>(half);
    o.rise = static_cast<double>(high - low);
    double before = 1e-30, after = 1e-30;
    const auto at = static_cast<std::int64_t>(o.at);
    for (std::int64_t k = 0; k < ms(10); ++k) {
        before += std::pow(l.Mono(at - 1 - k), 2);
        after += std::pow(l.Mono(at + k), 2);
    }
    o.preEcho = 10 * std::log10(before / after);
    return o;
}

struct DrumScore {
    double onsetMs, riseGrowthMs, preEchoGrowthDb;
};

DrumScore ScoreDrums(const Drums& d, const Loop& out) {
    const double scale = static_cast<double>(out.Frames()) / static_cast<double>(d.loop.Frames());
    std::vector<double> onset, rise, pre;
    for (const std::int64_t hit : d.hits) {
        const Onset a = MeasureOnset(d.loop, static_cast<double>(hit));
        if (!a.clear)
            continue;
        const Onset b = MeasureOnset(out, a.at * scale);
        onset.push_back(std::abs(b.at - a.at * scale) * 1000 / kRate);
        rise.push_back((b.rise - a.rise) * 1000 / kRate);
        pre.push_back(b.preEcho - a.preEcho);
    }
    return {Median(onset), Median(rise), Median(pre)};
}

// Where the Blackman-Harris-windowed spectrum of x[from, from + length) peaks within 1 % of
// f, in cents from f (golden-section search).
double PitchCents(const Loop& l, std::int64_t from, std::int64_t length, double f) {
    std::vector<double> windowed;
    for (std::int64_t i = 0; i < length; ++i) {
        const double u = 2 * kPi * static_cast<double>(i) / static_cast<double>(length - 1);
        windowed.push_back((0.35875 - 0.48829 * std::cos(u) + 0.14128 * std::cos(2 * u) -
                            0.01168 * std::cos(3 * u)) *
                           l.Mono(from + i));
    }
    auto magnitude = [&](double hz) {
        std::complex<double> sum = 0, turn = 1;
        const std::complex<double> step = std::polar(1.0, -2 * kPi * hz / kRate);
        for (const double v : windowed) {
            sum += v * turn;
            turn *= step;
        }
        return std::abs(sum);
    };
    const double g = (std::sqrt(5.0) - 1) / 2;
    double a = f * 0.99, b = f * 1.01, c = b - g * (b - a), d = a + g * (b - a);
    double mc = magnitude(c), md = magnitude(d);
    for (int i = 0; i < 48; ++i) {
        if (mc > md) {
            b = d, d = c, md = mc;
            c = b - g * (b - a), mc = magnitude(c);
        } else {
            a = c, c = d, mc = md;
            d = a + g * (b - a), md = magnitude(d);
        }
    }
    return 1200 * std::log2((a + b) / 2 / f);
}

// How far below the tones (least-squares fitted in 40 ms blocks) everything else lies, dB.
double ToneToRestDb(const Loop& l, std::int64_t from, std::int64_t length,
                    const std::vector<double>& tones) {
    const std::int64_t block = 40 * kRate / 1000;
    const std::size_t k = 2 * tones.size();
    double tone = 0, rest = 0;
    for (std::int64_t start = from; start + block <= from + length; start += block) {
        // Normal equations of the fit to sines and cosines at the tones.
        std::vector<std::vector<double>> a(k, std::vector<double>(k + 1, 0.0));
        auto basis = [&](std::int64_t i, std::size_t j) {
            const double phase = 2 * kPi * tones[j / 2] * static_cast<double>(i) / kRate;
            return j % 2 ? std::cos(phase) : std::sin(phase);
        };
        for (std::int64_t i = start; i < start + block; ++i)
            for (std::size_t r = 0; r < k; ++r) {
                for (std::size_t c = 0; c < k; ++c)
                    a[r][c] += basis(i, r) * basis(i, c);
                a[r][k] += basis(i, r) * l.Mono(i);
            }
        for (std::size_t p = 0; p < k; ++p)
            for (std::size_t r = 0; r < k; ++r)
                if (r != p) {
                    const double factor = a[r][p] / a[p][p];
                    for (std::size_t c = p; c <= k; ++c)
                        a[r][c] -= factor * a[p][c];
                }
        for (std::int64_t i = start; i < start + block; ++i) {
            double fit = 0;
            for (std::size_t j = 0; j < k; ++j)
                fit += a[j][k] / a[j][j] * basis(i, j);
            tone += fit * fit;
            rest += std::pow(l.Mono(i) - fit, 2);
        }
    }
    return 10 * std::log10(tone / rest);
}

// The largest RMS of 20 ms windows over the smallest.
double Wobble(const Loop& l, std::int64_t from, std::int64_t length) {
    const std::int64_t window = 20 * kRate / 1000;
    double low = INFINITY, high = 0;
    for (std::int64_t start = from; start + window <= from + length; start += window) {
        double sum = 0;
        for (std::int64_t i = start; i < start + window; ++i)
            sum += std::pow(l.Mono(i), 2);
        low = std::min(low, sum);
        high = std::max(high, sum);
    }
    return std::sqrt(high / low);
}

// ---- Tests ----

// The two tempos each loop is taken to, one faster, one slower.
constexpr double kTempos[2] = {128, 80};

TEST(StretchKeepPitch, DrumLoopsKeepTheirHitsAndRepeatWithoutAClick) {
    struct Row {
        const char* name;
        Drums drums;
        double bpm, beats;
    };
    const Row rows[] = {{"two-bar beat", TwoBarBeat(), 93, 8},
                        {"one-bar break", OneBarBreak(), 100, 4}};
    for (const Row& row : rows)
        for (const double tempo : kTempos) {
            const std::int64_t frames = LoopFrames(tempo, row.beats);
            const Loop out = Stretched(row.drums.loop, frames);
            const double seam = SeamJumpRatio(out);
            const DrumScore s = ScoreDrums(row.drums, out);
            std::printf("%-14s %3.0f -> %3.0f bpm: length error %lld, seam %.3f x, onsets %.2f ms, "
                        "rise %+.2f ms, pre-echo %+.2f dB\n",
                        row.name, row.bpm, tempo, static_cast<long long>(out.Frames() - frames),
                        seam, s.onsetMs, s.riseGrowthMs, s.preEchoGrowthDb);
            SCOPED_TRACE(std::string(row.name) + " to " + std::to_string(tempo));
            EXPECT_EQ(out.Frames(), frames);
            EXPECT_LE(seam, 1.0);
            EXPECT_LE(s.onsetMs, 5.0);
            EXPECT_LE(s.riseGrowthMs, 1.0);
            EXPECT_LE(s.preEchoGrowthDb, 3.0);
        }
}

TEST(StretchKeepPitch, TonesKeepTheirPitchPurityAndLevel) {
    const Loop chord = HeldChord(), bass = BassLine();
    for (const double tempo : kTempos) {
        {
            const std::int64_t frames = LoopFrames(tempo, 4);
            const Loop out = Stretched(chord, frames);
            const double cents[2] = {PitchCents(out, 0, frames, kChord[0]),
                                     PitchCents(out, 0, frames, kChord[1])};
            const double purity = ToneToRestDb(out, 0, frames, {kChord[0], kChord[1]});
            const double wobble = Wobble(out, 0, frames);
            const double seam = SeamJumpRatio(out);
            std::printf("chord 120 -> %3.0f bpm: length error %lld, seam %.3f x, tones %+.4f %+.4f "
                        "cents, rest %.1f dB below, wobble %.4f\n",
                        tempo, static_cast<long long>(out.Frames() - frames), seam, cents[0],
                        cents[1], purity, wobble);
            SCOPED_TRACE("chord to " + std::to_string(tempo));
            EXPECT_EQ(out.Frames(), frames);
            EXPECT_LE(seam, 1.0);
            EXPECT_LE(std::abs(cents[0]), 0.1);
            EXPECT_LE(std::abs(cents[1]), 0.1);
            EXPECT_GE(purity, 30.0);
            EXPECT_LE(wobble, 1.05);
        }
        {
            const std::int64_t frames = LoopFrames(tempo, 4);
            const Loop out = Stretched(bass, frames);
            const double seam = SeamJumpRatio(out);
            double worstCents = 0, worstPurity = INFINITY, worstWobble = 0;
            for (int k = 0; k < 4; ++k) {
                // The middle of each note, away from its fades.
                const std::int64_t note = frames / 4, from = k * note + note / 5,
                                   length = note * 3 / 5;
                worstCents =
                    std::max(worstCents, std::abs(PitchCents(out, from, length, kBass[k])));
                worstPurity = std::min(worstPurity,
                                       ToneToRestDb(out, from, length, {kBass[k], 3 * kBass[k]}));
                worstWobble = std::max(worstWobble, Wobble(out, from, length));
            }
            std::printf("bass   93 -> %3.0f bpm: length error %lld, seam %.3f x, worst note %.4f "
                        "cents, rest %.1f dB below, wobble %.4f\n",
                        tempo, static_cast<long long>(out.Frames() - frames), seam, worstCents,
                        worstPurity, worstWobble);
            SCOPED_TRACE("bass to " + std::to_string(tempo));
            EXPECT_EQ(out.Frames(), frames);
            EXPECT_LE(seam, 1.0);
            EXPECT_LE(worstCents, 1.0);
            EXPECT_GE(worstPurity, 55.0);
            EXPECT_LE(worstWobble, 1.12);
        }
    }
}

// A one-shot is not a circle: whatever lies at one end, the 10 ms at the other stay silent,
// where as a loop they hear it.
TEST(StretchKeepPitch, OneShotEndsHearNothingOfTheOtherEnd) {
    // Half a second: a 100 ms burst at one end, silence up to the other.
    std::vector<double> head(static_cast<std::size_t>(kRate / 2), 0.0);
    std::uint32_t state = 1;
    for (std::size_t i = 0; i < static_cast<std::size_t>(kRate / 10); ++i) {
        state = state * 1664525u + 1013904223u;
        head[i] = static_cast<double>(state) / 4294967296.0 - 0.5;
    }
    const std::vector<double> tail(head.rbegin(), head.rend());
    using Method = std::vector<double> (*)(const std::vector<double>&, std::int64_t, bool);
    const struct {
        const char* name;
        Method method;
    } methods[] = {
        {"hq", [](const std::vector<double>& x, std::int64_t m,
                  bool loop) { return ResampleLoopHq(x, 1, m, loop); }},
        {"keep-pitch", [](const std::vector<double>& x, std::int64_t m,
                          bool loop) { return StretchKeepPitch(x, 1, kRate, m, loop); }},
    };
    const std::int64_t ten = kRate / 100;
    for (const auto& method : methods)
        for (const std::int64_t frames : {kRate * 2 / 5, kRate * 3 / 5})
            for (const bool loop : {false, true}) {
                // The loudest of the 10 ms at the silent end, in dB.
                auto quiet = [&](const std::vector<double>& y, std::int64_t from) {
                    double peak = 1e-30;
                    for (std::int64_t i = from; i < from + ten; ++i)
                        peak = std::max(peak, std::abs(y[static_cast<std::size_t>(i)]));
                    return 20 * std::log10(peak);
                };
                const double last = quiet(method.method(head, frames, loop), frames - ten);
                const double first = quiet(method.method(tail, frames, loop), 0);
                SCOPED_TRACE(std::string(method.name) + (loop ? " loop" : " one-shot") + " to " +
                             std::to_string(frames));
                if (loop) {
                    EXPECT_GT(last, -60);
                    EXPECT_GT(first, -60);
                } else {
                    EXPECT_LT(last, -90);
                    EXPECT_LT(first, -90);
                }
            }
}

// Any length to any length, any channel count: exactly the frames asked for, all finite.
TEST(StretchKeepPitch, ExactFrameCountsFromAnyLength) {
    struct Row {
        std::int64_t frames, target;
        int channels;
        bool loop;
    } rows[] = {
        {1, 1000, 1, true},      {1, 1000, 2, false},    {7, 3, 3, true},
        {300, 1, 1, true},       {4410, 44100, 2, true}, {44100, 4410, 6, true},
        {44100, 4410, 1, false}, {0, 500, 2, true},      {1000, 1000, 2, true},
    };
    for (const Row& row : rows) {
        std::vector<double> x(static_cast<std::size_t>(row.frames * row.channels));
        for (std::size_t i = 0; i < x.size(); ++i)
            x[i] = 0.5 * std::sin(0.05 * static_cast<double>(i));
        const auto y = StretchKeepPitch(x, row.channels, kRate, row.target, row.loop);
        ASSERT_EQ(y.size(), static_cast<std::size_t>(row.target * row.channels))
            << row.frames << " to " << row.target;
        EXPECT_TRUE(std::all_of(y.begin(), y.end(), [](double v) { return std::isfinite(v); }));
        if (row.frames == row.target) {
            EXPECT_EQ(y, x);
        }
    }
    // A damaged float sample is heard as a moment's silence, not as the end of the sound.
    std::vector<double> damaged = HeldChord().x;
    damaged[1000] = NAN;
    damaged[2000] = INFINITY;
    const std::int64_t target = LoopFrames(80, 4);
    std::vector<double> live;
    StretchKeepPitchLive(damaged, 1, kRate, target, [&](std::span<const double> piece) {
        live.insert(live.end(), piece.begin(), piece.end());
    });
    for (const auto& y : {StretchKeepPitch(damaged, 1, kRate, target), live}) {
        ASSERT_EQ(y.size(), static_cast<std::size_t>(target));
        EXPECT_TRUE(std::all_of(y.begin(), y.end(), [](double v) { return std::isfinite(v); }));
        double power = 0;
        for (std::size_t i = y.size() / 2; i < y.size(); ++i)
            power += y[i] * y[i] / static_cast<double>(y.size() / 2);
        EXPECT_GT(std::sqrt(power), 0.2) << "the chord (0.25 RMS) goes on";
    }
    EXPECT_TRUE(StretchKeepPitch(std::vector<double>{0.5}, 1, kRate, 0).empty());
    EXPECT_THROW(StretchKeepPitch(std::vector<double>{0.5}, 0, kRate, 3), std::invalid_argument);
    // A player that stops ends a stretch of seconds at its next checkpoint.
    struct Stop {};
    int calls = 0;
    EXPECT_THROW(StretchKeepPitch(std::vector<double>(5 * kRate), 1, kRate, 4 * kRate, true,
                                  [&] {
                                      if (++calls == 3)
                                          throw Stop{};
                                  }),
                 Stop);
}

// Heard at once: the real-time stretch hands its result over in order, a small piece first,
// exactly the frames asked for, with the drum hits where the tempo puts them and the chord in
// tune (it is less clean than the offline stretch, which Save As writes).
TEST(StretchKeepPitch, LiveStretchStartsAtOnceInTimeAndInTune) {
    auto live = [](const Loop& source, std::int64_t frames, std::size_t& first) {
        Loop out{source.channels, {}};
        StretchKeepPitchLive(source.x, source.channels, kRate, frames,
                             [&](std::span<const double> piece) {
                                 if (out.x.empty())
                                     first = piece.size() / static_cast<std::size_t>(out.channels);
                                 out.x.insert(out.x.end(), piece.begin(), piece.end());
                             });
        return out;
    };
    const Drums drums = TwoBarBeat();
    const Loop chord = HeldChord();
    for (const double tempo : kTempos) {
        SCOPED_TRACE("to " + std::to_string(tempo));
        std::size_t first = 0;
        const std::int64_t beatFrames = LoopFrames(tempo, 8);
        const Loop beat = live(drums.loop, beatFrames, first);
        EXPECT_EQ(beat.Frames(), beatFrames);
        EXPECT_LE(first, 4096u);
        const double onsetMs = ScoreDrums(drums, beat).onsetMs;
        const std::int64_t chordFrames = LoopFrames(tempo, 4);
        const Loop held = live(chord, chordFrames, first);
        const double cents[2] = {PitchCents(held, 0, chordFrames, kChord[0]),
                                 PitchCents(held, 0, chordFrames, kChord[1])};
        std::printf("live 93 -> %3.0f bpm: onsets %.2f ms; chord %+.4f %+.4f cents\n", tempo,
                    onsetMs, cents[0], cents[1]);
        EXPECT_LE(onsetMs, 5.0);
        EXPECT_EQ(held.Frames(), chordFrames);
        EXPECT_LE(std::abs(cents[0]), 1.0);
        EXPECT_LE(std::abs(cents[1]), 1.0);
    }
}

} // namespace
} // namespace metronel
