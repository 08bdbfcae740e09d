// SPDX-License-Identifier: MIT
// Bars and beats from a loop's "acid" record or from its sound.
#include "mdlTempoGuess.h"

#include "mdlHqResample.h"
#include "mdlMain.h"

#include <fftw3.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <memory>
#include <mutex>
#include <new>
#include <numbers>
#include <vector>

namespace metronel {

namespace {

// FFTW's planner keeps global state: plans are made and destroyed one at a time, while
// running a plan is safe from any thread.
std::mutex g_PlannerMutex;

struct FftwFree {
    void operator()(void* memory) const { fftw_free(memory); }
};
template <typename T> using FftwBuffer = std::unique_ptr<T[], FftwFree>;

template <typename T> FftwBuffer<T> FftwAlloc(std::size_t count) {
    auto* memory = static_cast<T*>(fftw_malloc(sizeof(T) * std::max<std::size_t>(count, 1)));
    if (memory == nullptr)
        throw std::bad_alloc();
    return FftwBuffer<T>(memory);
}

class Plan {
public:
    // Plans a real-to-complex transform of n points (inverse: complex-to-real).
    Plan(int n, double* real, fftw_complex* complex, bool inverse) {
        std::lock_guard lock(g_PlannerMutex);
        m_Plan = inverse ? fftw_plan_dft_c2r_1d(n, complex, real, FFTW_ESTIMATE)
                         : fftw_plan_dft_r2c_1d(n, real, complex, FFTW_ESTIMATE);
        if (m_Plan == nullptr)
            throw std::bad_alloc();
    }
    ~Plan() {
        std::lock_guard lock(g_PlannerMutex);
        fftw_destroy_plan(m_Plan);
    }
    Plan(const Plan&) = delete;
    Plan& operator=(const Plan&) = delete;
    void Run() const { fftw_execute(m_Plan); }

private:
    fftw_plan m_Plan = nullptr;
};

// The spectra are single precision: plenty for an onset envelope, and twice as fast.
class FloatPlan {
public:
    FloatPlan(int n, float* real, fftwf_complex* complex) {
        std::lock_guard lock(g_PlannerMutex);
        m_Plan = fftwf_plan_dft_r2c_1d(n, real, complex, FFTW_ESTIMATE);
        if (m_Plan == nullptr)
            throw std::bad_alloc();
    }
    ~FloatPlan() {
        std::lock_guard lock(g_PlannerMutex);
        fftwf_destroy_plan(m_Plan);
    }
    FloatPlan(const FloatPlan&) = delete;
    FloatPlan& operator=(const FloatPlan&) = delete;
    void Run() const { fftwf_execute(m_Plan); }

private:
    fftwf_plan m_Plan = nullptr;
};

// Returns the smallest n' >= n whose prime factors are 2, 3 and 5, which FFTW handles fastest.
std::size_t NiceSize(std::size_t n) {
    for (;; ++n) {
        std::size_t m = n;
        for (std::size_t f : {2u, 3u, 5u})
            while (m % f == 0)
                m /= f;
        if (m == 1)
            return n;
    }
}

// The onset envelope of a loop: spectral flux of log magnitudes at `size` points spread
// evenly over the loop, taken as a circle so that the envelope repeats exactly as the
// sound does and its autocorrelation at any fraction of the loop is exact.
std::vector<double> OnsetEnvelope(std::span<const float> mono, std::int32_t rate,
                                  std::size_t size) {
    const auto frames = static_cast<std::int64_t>(mono.size());
    int window = 256;
    while (window * 2 <= rate / 40)
        window *= 2; // about 25 ms: 1024 at 44.1 and 48 kHz
    const auto bins = static_cast<std::size_t>(window / 2 + 1);
    auto in = FftwAlloc<float>(static_cast<std::size_t>(window));
    auto out = FftwAlloc<fftwf_complex>(bins);
    const FloatPlan plan(window, in.get(), out.get());
    std::vector<float> hann(static_cast<std::size_t>(window));
    for (std::size_t i = 0; i < hann.size(); ++i)
        hann[i] = static_cast<float>(
            0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) / window));
    // Magnitudes relative to a full-scale sine; the compression lets quiet hats count
    // beside loud kicks, as a listener hears them.
    const double scale = 1000.0 * 4.0 / window;
    const auto scale2 = static_cast<float>(scale * scale);
    std::vector<float> previous(bins), current(bins);
    auto spectrum = [&](std::size_t k, std::vector<float>& into) {
        const std::int64_t centre =
            static_cast<std::int64_t>(k) * frames / static_cast<std::int64_t>(size);
        std::int64_t at = ((centre - window / 2) % frames + frames) % frames;
        for (std::size_t i = 0; i < hann.size(); ++i) {
            in[i] = hann[i] * mono[static_cast<std::size_t>(at)];
            if (++at == frames)
                at = 0;
        }
        plan.Run();
        // Half the log of 1 + (scale x magnitude)^2: the same compression without a root.
        for (std::size_t b = 0; b < bins; ++b) {
            const float power = out[b][0] * out[b][0] + out[b][1] * out[b][1];
            into[b] = 0.5f * std::log1p(scale2 * power);
        }
    };
    std::vector<double> flux(size);
    spectrum(size - 1, previous);
    for (std::size_t k = 0; k < size; ++k) {
        spectrum(k, current);
        float sum = 0;
        for (std::size_t b = 0; b < bins; ++b)
            sum += std::max(0.0f, current[b] - previous[b]);
        flux[k] = sum;
        std::swap(previous, current);
    }
    // Less a moving average (about 0.1 s either side), so that what stands out is onsets,
    // not a swell.
    const double hop = static_cast<double>(frames) / static_cast<double>(size);
    const auto reach =
        std::max<std::size_t>(1, std::min(size / 2, static_cast<std::size_t>(0.1 * rate / hop)));
    std::vector<double> envelope(size);
    double running = 0;
    for (std::size_t d = 0; d <= 2 * reach; ++d)
        running += flux[(d + size - reach) % size];
    const double count = static_cast<double>(2 * reach + 1);
    for (std::size_t k = 0; k < size; ++k) {
        envelope[k] = std::max(0.0, flux[k] - running / count);
        running += flux[(k + reach + 1) % size] - flux[(k + size - reach) % size];
    }
    return envelope;
}

// Returns the circular autocorrelation of x less its mean, divided by its value at lag 0;
// empty for a constant x.
std::vector<double> CircularAutocorrelation(const std::vector<double>& x) {
    const std::size_t n = x.size();
    double mean = 0;
    for (double v : x)
        mean += v;
    mean /= static_cast<double>(n);
    auto real = FftwAlloc<double>(n);
    auto complex = FftwAlloc<fftw_complex>(n / 2 + 1);
    const Plan forward(static_cast<int>(n), real.get(), complex.get(), false);
    const Plan inverse(static_cast<int>(n), real.get(), complex.get(), true);
    for (std::size_t i = 0; i < n; ++i)
        real[i] = x[i] - mean;
    forward.Run();
    for (std::size_t b = 0; b < n / 2 + 1; ++b) {
        complex[b][0] = complex[b][0] * complex[b][0] + complex[b][1] * complex[b][1];
        complex[b][1] = 0;
    }
    inverse.Run();
    if (!(real[0] > 1e-12 * static_cast<double>(n)))
        return {};
    std::vector<double> r(n);
    for (std::size_t i = 0; i < n; ++i)
        r[i] = real[i] / real[0];
    return r;
}

// Returns the onsets that stand out: local maxima over about 30 ms either side that reach
// share of the loudest.
int StrongOnsets(const std::vector<double>& envelope, double hopSeconds, double share) {
    const std::size_t n = envelope.size();
    const auto reach =
        std::clamp<std::size_t>(static_cast<std::size_t>(0.03 / hopSeconds), 1, n / 2);
    const double loudest = *std::max_element(envelope.begin(), envelope.end());
    int count = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const double v = envelope[k];
        if (!(v > 0) || v < share * loudest)
            continue;
        bool peak = true;
        for (std::size_t d = 1; d <= reach && peak; ++d)
            peak = v >= envelope[(k + d) % n] && v > envelope[(k + n - d) % n];
        count += peak ? 1 : 0;
    }
    return count;
}

} // namespace

namespace {

// Beyond any rate sound is recorded at: a "fmt " that says more is not heard.
constexpr std::int32_t kMaxRate = 768000;
// Points of the onset envelope at most: bounds the work on a long sound.
constexpr double kMaxPoints = 1 << 18;

} // namespace

std::optional<SoundGuess> GuessMeterFromSound(std::span<const float> mono, std::int32_t rate,
                                              const GuessOptions& options) {
    const auto frames = static_cast<double>(mono.size());
    if (rate < 8000 || rate > kMaxRate || frames < rate / 20.0)
        return std::nullopt;
    // The candidates in range, before any work on the sound: a long sound may have none.
    struct Candidate {
        int bars, beats;
        double bpm;
    };
    std::vector<Candidate> candidates;
    for (int beats : {3, 4}) {
        if (options.beatsPerBar > 0)
            beats = options.beatsPerBar;
        for (int bars = 1; bars <= 64; ++bars) {
            const double bpm = 60.0 * bars * beats * rate / frames;
            if (bpm >= options.low && bpm <= options.high)
                candidates.push_back({bars, beats, bpm});
        }
        if (options.beatsPerBar > 0)
            break;
    }
    if (candidates.empty())
        return std::nullopt;

    // About 5 ms a point (fewer for a sound of over 20 minutes, which a wide range allows),
    // and never fewer than 4 points a beat of the fastest candidate.
    double points = std::min(frames / (rate / 200.0), kMaxPoints);
    for (const Candidate& c : candidates)
        points = std::max(points, 4.0 * c.bars * c.beats);
    const std::size_t size = NiceSize(static_cast<std::size_t>(points));
    const std::vector<double> envelope = OnsetEnvelope(mono, rate, size);
    const std::vector<double> r = CircularAutocorrelation(envelope);
    if (r.empty())
        return std::nullopt;
    const double hopSeconds = frames / static_cast<double>(size) / rate;
    const GuessWeights& w = options.weights;
    const int strong = StrongOnsets(envelope, hopSeconds, w.strong);
    if (strong == 0)
        return std::nullopt;

    const auto n = static_cast<double>(size);
    // The autocorrelation at a lag of lag points, linearly between points, best within one
    // point either side: a played beat is not exactly on the grid.
    auto at = [&](double lag) {
        double best = -1;
        for (double d : {-1.0, 0.0, 1.0}) {
            double x = std::fmod(lag + d, n);
            if (x < 0)
                x += n;
            const auto i = static_cast<std::size_t>(x);
            const double f = x - static_cast<double>(i);
            best = std::max(best, r[i] * (1 - f) + r[(i + 1) % size] * f);
        }
        return best;
    };
    auto preference = [](double value, double centre, double width) {
        const double octaves = std::log2(value / centre) / width;
        return -0.5 * octaves * octaves;
    };

    std::optional<SoundGuess> best;
    double bestScore = 0;
    for (const Candidate& c : candidates) {
        const int total = c.bars * c.beats;
        const double beat = n / total;
        // How alike the sound is a whole number of this grid's beats apart, over the circle.
        double comb = 0;
        for (int j = 1; j < total; ++j)
            comb += at(j * beat);
        comb = total > 1 ? comb / (total - 1) : 0;
        double score = comb;
        score += w.tempo * preference(c.bpm, w.tempoCentre, w.tempoWidth);
        score += w.density *
                 preference(static_cast<double>(strong) / total, w.densityCentre, w.densityWidth);
        // Three or four beats: which bar length the sound repeats at.
        const int other = c.beats == 4 ? 3 : c.beats == 3 ? 4 : 0;
        if (options.beatsPerBar == 0 && other > 0 && total > 4)
            score += w.meter * (at(c.beats * beat) - at(other * beat));
        if (!std::has_single_bit(static_cast<unsigned>(c.bars)))
            score -= w.oddBars;
        if (c.beats == 3)
            score -= w.threeBeats;
        if (!best || score > bestScore) {
            best = SoundGuess{c.bars, c.beats, c.bpm};
            bestScore = score;
        }
    }
    return best;
}

} // namespace metronel
