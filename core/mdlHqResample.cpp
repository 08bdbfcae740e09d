// SPDX-License-Identifier: MIT
#include "mdlHqResample.h"

#include "mdlBytes.h"
#include "mdlMain.h"

#include <soxr.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <numeric>
#include <stdexcept>
#include <string>

namespace metronel {

namespace {

constexpr std::uint16_t kTagPcm = 1;
constexpr std::uint16_t kTagFloat = 3;
constexpr std::uint16_t kTagExtensible = 0xFFFE;

// The sub-format GUID after its first four bytes (the format tag): the same for PCM and float.
constexpr std::uint8_t kGuidTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                        0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

void RequireValid(const SampleFormat& f) {
    if (!f.IsValid())
        throw std::invalid_argument("sample format cannot be coded");
}

} // namespace

bool SampleFormat::IsValid() const {
    if (channels < 1 || blockAlign < 1 || blockAlign % channels != 0)
        return false;
    const int container = blockAlign / channels;
    if (kind == Kind::Float)
        return (container == 4 && bits == 32) || (container == 8 && bits == 64);
    return container >= 1 && container <= 4 && bits >= 1 && bits <= 8 * container;
}

std::optional<SampleFormat> SampleFormatFromFmt(std::span<const std::byte> fmt) {
    if (fmt.size() < 16)
        return std::nullopt;
    auto tag = static_cast<std::uint32_t>(GetLE(fmt, 0, 2));
    const auto channels = static_cast<int>(GetLE(fmt, 2, 2));
    const auto blockAlign = static_cast<int>(GetLE(fmt, 12, 2));
    const auto containerBits = static_cast<int>(GetLE(fmt, 14, 2));
    int bits = containerBits;
    bool exactContainer = true;
    if (tag == kTagExtensible) {
        if (fmt.size() < 40 || GetLE(fmt, 16, 2) < 22)
            return std::nullopt;
        if (std::memcmp(fmt.data() + 28, kGuidTail, sizeof kGuidTail) != 0)
            return std::nullopt;
        tag = static_cast<std::uint32_t>(GetLE(fmt, 24, 4));
        if (const auto valid = static_cast<int>(GetLE(fmt, 18, 2)); valid != 0)
            bits = valid;
        // The container is BitsPerSample exactly; padding below the valid bits is allowed.
        if (containerBits % 8 != 0 || channels < 1 ||
            blockAlign != std::int64_t{channels} * containerBits / 8)
            return std::nullopt;
        exactContainer = false;
    }
    SampleFormat f{};
    if (tag == kTagPcm)
        f.kind = SampleFormat::Kind::Pcm;
    else if (tag == kTagFloat)
        f.kind = SampleFormat::Kind::Float;
    else
        return std::nullopt;
    f.bits = bits;
    f.channels = channels;
    f.blockAlign = blockAlign;
    if (!f.IsValid())
        return std::nullopt;
    if (exactContainer && f.ContainerBytes() != (bits + 7) / 8)
        return std::nullopt;
    return f;
}

std::vector<double> DecodeSamples(std::span<const std::byte> data, const SampleFormat& f) {
    RequireValid(f);
    const std::size_t container = static_cast<std::size_t>(f.ContainerBytes());
    const std::size_t frames = data.size() / static_cast<std::size_t>(f.blockAlign);
    const std::size_t count = frames * static_cast<std::size_t>(f.channels);
    std::vector<double> out(count);
    const std::byte* p = data.data();
    if (f.kind == SampleFormat::Kind::Float) {
        for (std::size_t i = 0; i < count; ++i, p += container) {
            if (container == 4) {
                out[i] = std::bit_cast<float>(static_cast<std::uint32_t>(GetLE({p, 4}, 0, 4)));
            } else {
                out[i] = std::bit_cast<double>(GetLE({p, 8}, 0, 8));
            }
        }
        return out;
    }
    // Move the container to the top of 32 bits so every width shares one scale; 8-bit
    // samples are unsigned, so their top bit flips to make them signed.
    const int shift = 8 * (4 - static_cast<int>(container));
    const std::uint32_t flip = container == 1 ? 0x80000000u : 0;
    constexpr double kScale = 1.0 / 2147483648.0;
    for (std::size_t i = 0; i < count; ++i, p += container) {
        const std::uint32_t top =
            (static_cast<std::uint32_t>(GetLE({p, container}, 0, static_cast<int>(container)))
             << shift) ^
            flip;
        out[i] = static_cast<double>(static_cast<std::int32_t>(top)) * kScale;
    }
    return out;
}

std::vector<std::byte> EncodeSamples(std::span<const double> samples, const SampleFormat& f) {
    RequireValid(f);
    const std::size_t container = static_cast<std::size_t>(f.ContainerBytes());
    const std::size_t channels = static_cast<std::size_t>(f.channels);
    const std::size_t count = samples.size() / channels * channels;
    std::vector<std::byte> out(count * container);
    std::byte* p = out.data();
    auto put = [&p](std::uint64_t value, std::size_t bytes) {
        PutLE({p, bytes}, 0, value, static_cast<int>(bytes));
        p += bytes;
    };
    if (f.kind == SampleFormat::Kind::Float) {
        for (std::size_t i = 0; i < count; ++i) {
            double x = samples[i];
            if (std::isnan(x))
                x = 0.0;
            if (container == 4)
                put(std::bit_cast<std::uint32_t>(static_cast<float>(std::clamp(
                        x, static_cast<double>(-FLT_MAX), static_cast<double>(FLT_MAX)))),
                    4);
            else
                put(std::bit_cast<std::uint64_t>(std::clamp(x, -DBL_MAX, DBL_MAX)), 8);
        }
        return out;
    }
    const double scale = std::ldexp(1.0, f.bits - 1);
    const int shift = 32 - f.bits;
    const int drop = 8 * (4 - static_cast<int>(container));
    const std::uint32_t flip = container == 1 ? 0x80000000u : 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double y = samples[i] * scale;
        // Clip before rounding: the limits are whole numbers, so the order does not matter,
        // and the conversion below stays in range. NaN fails both tests and stays silent.
        double q = 0.0;
        if (y >= scale - 1.0)
            q = scale - 1.0;
        else if (y <= -scale)
            q = -scale;
        else if (y == y)
            q = RoundHalfEven(y);
        const auto top = (static_cast<std::uint32_t>(static_cast<std::int32_t>(q)) << shift) ^ flip;
        put(top >> drop, container);
    }
    return out;
}

// ---- Resampling ----

namespace {

struct SoxrDeleter {
    void operator()(soxr_t s) const { soxr_delete(s); }
};

// Input frames either side of an output frame that the very-high-quality filter still
// weighs: its impulse response falls below -180 dB within about 150 frames when
// stretching and 150 / ratio when shrinking; this allows three times that.
std::int64_t FilterReachFrames(std::int64_t sourceFrames, std::int64_t targetFrames) {
    const std::int64_t shrink = (sourceFrames + targetFrames - 1) / targetFrames;
    return 512 * std::max<std::int64_t>(1, shrink) + 64;
}

} // namespace

namespace {

// Frames handed to the resampler at a time, whatever holds the sound: the same calls, so the
// same bits, from memory and from a file.
constexpr std::int64_t kFeedFrames = 16384;

// Resamples the n-frame sound that fetch gives to m frames. fetch(position, frames) returns
// frames frames from position on (never past n, at most kFeedFrames); deliver(first, frames,
// count) takes count frames that belong at frame first of the result, each frame once, not
// in order: a loop's first frames come last.
template <typename Fetch, typename Deliver>
void ResampleCircle(Fetch&& fetch, std::int64_t n, std::size_t ch, std::int64_t m, bool loop,
                    Deliver&& deliver) {
    // Output frame k lies at input time k x N / M from the first frame fed (soxr makes up for
    // its own delay). Fed the circle from frame 0 on, output frame M + j lies at time
    // N + j x N / M, the same point of the circle as frame j: so the first outputs, whose
    // filter reaches back before frame 0, are skipped and taken one turn later instead. The
    // grid stays on the source's frames without any run-in, whatever gcd(N, M) is.
    const std::int64_t g = std::gcd(n, m);
    const std::int64_t need = FilterReachFrames(n, m);
    // A one-shot starts at its own frame 0: soxr's run-in there is silence.
    const std::int64_t skip = loop ? (need * m + n - 1) / n : 0; // first output at or past `need`
    // The last output taken lies before time skip x N / M + N < N + need + N / M + 1.
    const std::int64_t feed = n + 2 * need + n / m + 2;

    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, SOXR_HI_PREC_CLOCK);
    // One thread: callers resample many files side by side.
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    const std::unique_ptr<soxr, SoxrDeleter> resampler(
        soxr_create(static_cast<double>(n / g), static_cast<double>(m / g), ch, &error, &io,
                    &quality, &runtime));
    if (!resampler || error)
        throw std::runtime_error(std::string("resampler: ") + soxr_strerror(error));

    std::int64_t toSkip = skip;
    std::int64_t taken = 0;
    std::int64_t destination = skip % m; // frame of the result for the next output
    constexpr std::size_t kChunkFrames = 8192;
    std::vector<double> chunk(kChunkFrames * ch);
    auto take = [&](std::int64_t frames) {
        std::int64_t from = std::min(toSkip, frames);
        toSkip -= from;
        while (from < frames && taken < m) {
            const std::int64_t run = std::min({frames - from, m - taken, m - destination});
            deliver(destination, chunk.data() + static_cast<std::size_t>(from) * ch, run);
            from += run;
            taken += run;
            destination = (destination + run) % m;
        }
    };
    auto process = [&](const double* in, std::size_t frames) {
        do {
            std::size_t used = 0, produced = 0;
            error = soxr_process(resampler.get(), in, frames, &used, chunk.data(), kChunkFrames,
                                 &produced);
            if (error)
                throw std::runtime_error(std::string("resampler: ") + soxr_strerror(error));
            take(static_cast<std::int64_t>(produced));
            if (taken == m)
                return;
            if (in) {
                in += used * ch;
                frames -= used;
            } else if (produced == 0) {
                return;
            }
        } while (!in || frames > 0);
    };
    auto feedFrom = [&](std::int64_t position, std::int64_t frames) {
        for (std::int64_t end = position + frames; position < end && taken < m;) {
            const std::int64_t count = std::min(end - position, kFeedFrames);
            process(fetch(position, count), static_cast<std::size_t>(count));
            position += count;
        }
    };

    if (!loop) {
        feedFrom(0, n);
        const std::vector<double> silence(static_cast<std::size_t>(kFeedFrames) * ch);
        for (std::int64_t left = need + 2; left > 0 && taken < m; left -= kFeedFrames)
            process(silence.data(), static_cast<std::size_t>(std::min(left, kFeedFrames)));
    }
    for (std::int64_t position = 0, left = loop ? feed : 0; left > 0 && taken < m;) {
        const std::int64_t frames = std::min(left, n - position);
        feedFrom(position, frames);
        left -= frames;
        position = (position + frames) % n;
    }
    if (taken < m)
        process(nullptr, 0);
    if (taken < m)
        throw std::runtime_error("resampler: output ended early");
}

void RequireChannels(int channels) {
    if (channels < 1)
        throw std::invalid_argument("channel count below 1");
}

} // namespace

std::optional<std::vector<double>> ResampleWithoutWork(std::span<const double> interleaved,
                                                       int channels, std::int64_t targetFrames) {
    RequireChannels(channels);
    if (targetFrames < 1)
        return std::vector<double>();
    const auto ch = static_cast<std::size_t>(channels);
    if (static_cast<std::uint64_t>(targetFrames) >
        std::numeric_limits<std::size_t>::max() / sizeof(double) / ch)
        throw std::bad_alloc();
    const std::size_t outCount = static_cast<std::size_t>(targetFrames) * ch;
    const auto sourceFrames = static_cast<std::int64_t>(interleaved.size() / ch);
    if (sourceFrames == targetFrames)
        return std::vector<double>(interleaved.begin(),
                                   interleaved.begin() + static_cast<std::ptrdiff_t>(outCount));
    if (sourceFrames == 0)
        return std::vector<double>(outCount);
    return std::nullopt;
}

std::vector<double> ResampleLoopHq(std::span<const double> interleaved, int channels,
                                   std::int64_t targetFrames, bool loop) {
    if (auto done = ResampleWithoutWork(interleaved, channels, targetFrames))
        return std::move(*done);
    const auto ch = static_cast<std::size_t>(channels);
    const auto sourceFrames = static_cast<std::int64_t>(interleaved.size() / ch);
    std::vector<double> out(static_cast<std::size_t>(targetFrames) * ch);
    ResampleCircle(
        [&](std::int64_t position, std::int64_t) {
            return interleaved.data() + static_cast<std::size_t>(position) * ch;
        },
        sourceFrames, ch, targetFrames, loop,
        [&](std::int64_t first, const double* frames, std::int64_t count) {
            std::copy_n(frames, static_cast<std::size_t>(count) * ch,
                        out.begin() + static_cast<std::ptrdiff_t>(first) * channels);
        });
    return out;
}

void ResampleLoopHq(const FrameSource& source, std::int64_t sourceFrames, int channels,
                    std::int64_t targetFrames, bool loop, const FrameSink& sink) {
    RequireChannels(channels);
    const auto ch = static_cast<std::size_t>(channels);
    if (targetFrames < 1 || sourceFrames < 0)
        return;
    std::vector<double> buffer(static_cast<std::size_t>(kFeedFrames) * ch);
    auto fetch = [&](std::int64_t position, std::int64_t frames) {
        source(position, frames, buffer.data());
        return static_cast<const double*>(buffer.data());
    };
    if (sourceFrames == targetFrames || sourceFrames == 0) {
        std::fill(buffer.begin(), buffer.end(), 0.0);
        for (std::int64_t at = 0; at < targetFrames; at += kFeedFrames) {
            const std::int64_t count = std::min(kFeedFrames, targetFrames - at);
            sink(at, {sourceFrames == 0 ? buffer.data() : fetch(at, count),
                      static_cast<std::size_t>(count) * ch});
        }
        return;
    }
    ResampleCircle(fetch, sourceFrames, ch, targetFrames, loop,
                   [&](std::int64_t first, const double* frames, std::int64_t count) {
                       sink(first, {frames, static_cast<std::size_t>(count) * ch});
                   });
}

} // namespace metronel
