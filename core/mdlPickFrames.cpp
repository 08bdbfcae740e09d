// SPDX-License-Identifier: MIT
// Frame picking: bringing a sound to a length by taking whole frames by index.
#include "mdlWaveOut.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace metronel {

std::byte SilenceByte(const WAVEFORMATINFO& format) {
    return format.BitsPerSample == 8 ? std::byte{0x80} : std::byte{0};
}

namespace {

// The index formula as written: two double divisions, then nearest, halves to even
// (independent of the floating rounding mode). s >= 0 here.
std::uint64_t FormulaIndex(std::uint64_t i, std::int32_t sourceFrames,
                           std::int32_t destinationFrames) {
    const double d = static_cast<double>(destinationFrames - 1) / static_cast<double>(i);
    const double s = static_cast<double>(sourceFrames) / d;
    auto whole = static_cast<std::uint64_t>(s);
    const double fraction = s - static_cast<double>(whole);
    if (fraction > 0.5 || (fraction == 0.5 && (whole & 1) != 0))
        ++whole;
    return whole;
}

std::atomic<bool> g_VectorInstructions{true};

// Why a cheaper index is the same index. Let x = i * S / N exactly (S source frames,
// N = destinationFrames - 1, i <= N, so x <= S < 2^31). The formula's two divisions leave
// it within a relative 2^-52 of x, that is within 2^-21. The estimate e = fl(fl(i * fl(S/N))
// + 0.5) lies within 2^-21 + 2^-22 < 2^-20 of x + 0.5. So when e is at least 2^-19 away
// from a whole number, x is more than 2^-20 away from a half, the formula's value lies on
// the same side of that half, and both round to floor(e). Frames whose estimate falls
// closer (exact halves among them, where the formula's own errors decide) take the formula.
constexpr double kNear = 0x1p-19;

struct IndexRule {
    double ratio;
    std::int32_t sourceFrames;
    std::int32_t destinationFrames;

    std::uint64_t operator()(std::uint64_t i) const {
        const double e = static_cast<double>(i) * ratio + 0.5;
        const auto k = static_cast<std::uint64_t>(e);
        const double fraction = e - static_cast<double>(k);
        if (fraction >= kNear && fraction <= 1.0 - kNear) [[likely]]
            return k;
        return FormulaIndex(i, sourceFrames, destinationFrames);
    }
};

template <std::size_t BlockAlign> struct Frame {
    static void Copy(std::byte* out, const std::byte* src, std::uint64_t s, std::size_t) {
        std::memcpy(out, src + s * BlockAlign, BlockAlign);
    }
};

template <> struct Frame<0> { // any other size
    static void Copy(std::byte* out, const std::byte* src, std::uint64_t s, std::size_t size) {
        std::memcpy(out, src + s * size, size);
    }
};

// Where the frames from..to-1 go: dst holds frame `from` first. The source buffer holds
// source frames from sourceFirst on.
struct Range {
    std::byte* dst;
    std::uint64_t from;
    std::uint64_t to;
    std::uint64_t sourceFirst = 0;
};

// Copies frames i..to-1 of range, one index at a time.
template <std::size_t BlockAlign>
void PickScalar(const Range& range, const std::byte* src, const IndexRule& rule, std::uint64_t i,
                std::uint64_t last, std::size_t size) {
    const std::size_t step = BlockAlign != 0 ? BlockAlign : size;
    for (; i < range.to; ++i)
        Frame<BlockAlign>::Copy(range.dst + (i - range.from) * step, src,
                                std::min(rule(i), last) - range.sourceFirst, size);
}

#if defined(__x86_64__)
// The formula itself for four frames: the same correctly rounded divisions, then the
// nearest whole number, halves to even.
__attribute__((target("avx2"), always_inline)) inline __m128i
FormulaAvx2(__m256d i, __m256d destinationFramesLess1, __m256d sourceFrames) {
    const __m256d y = _mm256_div_pd(sourceFrames, _mm256_div_pd(destinationFramesLess1, i));
    return _mm256_cvttpd_epi32(_mm256_round_pd(y, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
}

// Eight indexes at once with AVX2, then eight frame copies. For 4-byte frames, when the
// eight source frames lie within 16 of the first, two loads and two permutes replace the
// copies (gathers were slower than this on the machines measured). Each index depends on
// its absolute frame number only, so any range gives the frames of the whole.
template <std::size_t BlockAlign>
__attribute__((target("avx2"))) void PickAvx2(const Range& range, const std::byte* src,
                                              const IndexRule& rule, std::uint64_t i,
                                              std::uint64_t last, std::size_t size) {
    const __m256d ratio = _mm256_set1_pd(rule.ratio);
    const __m256d half = _mm256_set1_pd(0.5);
    const __m256d low = _mm256_set1_pd(kNear);
    const __m256d high = _mm256_set1_pd(1.0 - kNear);
    const __m256d eight = _mm256_set1_pd(8.0);
    const __m256i lastIndex = _mm256_set1_epi32(static_cast<std::int32_t>(last));
    const __m256i seven = _mm256_set1_epi32(7);
    const auto first = static_cast<double>(i); // below 2^31: exact, and so are the sums
    __m256d i0 = _mm256_add_pd(_mm256_set1_pd(first), _mm256_setr_pd(0.0, 1.0, 2.0, 3.0));
    __m256d i1 = _mm256_add_pd(_mm256_set1_pd(first), _mm256_setr_pd(4.0, 5.0, 6.0, 7.0));
    const __m256d dividend = _mm256_set1_pd(static_cast<double>(rule.destinationFrames - 1));
    const __m256d sourceFrames = _mm256_set1_pd(static_cast<double>(rule.sourceFrames));
    const std::size_t step = BlockAlign != 0 ? BlockAlign : size;
    alignas(32) std::int32_t index[8];
    for (; i + 8 <= range.to;
         i += 8, i0 = _mm256_add_pd(i0, eight), i1 = _mm256_add_pd(i1, eight)) {
        std::byte* out = range.dst + (i - range.from) * step;
        const __m256d e0 = _mm256_add_pd(_mm256_mul_pd(i0, ratio), half);
        const __m256d e1 = _mm256_add_pd(_mm256_mul_pd(i1, ratio), half);
        const __m128i k0 = _mm256_cvttpd_epi32(e0); // e < 2^31: fits
        const __m128i k1 = _mm256_cvttpd_epi32(e1);
        const __m256d f0 = _mm256_sub_pd(e0, _mm256_cvtepi32_pd(k0));
        const __m256d f1 = _mm256_sub_pd(e1, _mm256_cvtepi32_pd(k1));
        const __m256d ok0 =
            _mm256_and_pd(_mm256_cmp_pd(f0, low, _CMP_GE_OQ), _mm256_cmp_pd(f0, high, _CMP_LE_OQ));
        const __m256d ok1 =
            _mm256_and_pd(_mm256_cmp_pd(f1, low, _CMP_GE_OQ), _mm256_cmp_pd(f1, high, _CMP_LE_OQ));
        __m256i k = _mm256_set_m128i(k1, k0);
        if (_mm256_movemask_pd(_mm256_and_pd(ok0, ok1)) != 0xF) [[unlikely]]
            k = _mm256_set_m128i(FormulaAvx2(i1, dividend, sourceFrames),
                                 FormulaAvx2(i0, dividend, sourceFrames));
        k = _mm256_min_epi32(k, lastIndex);
        if constexpr (BlockAlign == 4) {
            const auto base = static_cast<std::uint32_t>(_mm256_cvtsi256_si32(k));
            const __m256i offset = _mm256_sub_epi32(k, _mm256_set1_epi32(static_cast<int>(base)));
            const __m256i beyond =
                _mm256_or_si256(_mm256_cmpgt_epi32(offset, _mm256_set1_epi32(15)),
                                _mm256_cmpgt_epi32(_mm256_setzero_si256(), offset));
            if (base + std::uint64_t{16} <= last + 1 && _mm256_testz_si256(beyond, beyond)) {
                const std::byte* window = src + (std::uint64_t{base} - range.sourceFirst) * 4;
                const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window));
                const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window + 32));
                const __m256i pa = _mm256_permutevar8x32_epi32(a, offset);
                const __m256i pb = _mm256_permutevar8x32_epi32(b, offset);
                const __m256i frames =
                    _mm256_blendv_epi8(pa, pb, _mm256_cmpgt_epi32(offset, seven));
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), frames);
                continue;
            }
        }
        _mm256_store_si256(reinterpret_cast<__m256i*>(index), k);
        for (int j = 0; j < 8; ++j)
            Frame<BlockAlign>::Copy(out + j * step, src,
                                    static_cast<std::uint32_t>(index[j]) - range.sourceFirst, size);
    }
    PickScalar<BlockAlign>(range, src, rule, i, last, size);
}
#endif

template <std::size_t BlockAlign>
void PickFixed(const Range& range, const std::byte* src, std::int32_t sourceFrames,
               std::int32_t destinationFrames, std::uint64_t last, std::size_t size) {
    std::uint64_t i = range.from;
    if (i == 0 && i < range.to) { // frame 0 takes frame 0, whatever the ratio
        Frame<BlockAlign>::Copy(range.dst, src, 0, size);
        ++i;
    }
    const auto D = static_cast<std::uint64_t>(destinationFrames);
    if (i >= range.to)
        return;
    const IndexRule rule{static_cast<double>(sourceFrames) / static_cast<double>(D - 1),
                         sourceFrames, destinationFrames};
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2 && g_VectorInstructions.load(std::memory_order_relaxed))
        return PickAvx2<BlockAlign>(range, src, rule, i, last, size);
#endif
    PickScalar<BlockAlign>(range, src, rule, i, last, size);
}

// Picks range's frames from src with the copy for blockAlign, clamping indices to last.
void Pick(const Range& range, const std::byte* src, std::int16_t blockAlign,
          std::int32_t sourceFrames, std::int32_t destinationFrames, std::uint64_t last) {
    const auto frameSize = static_cast<std::size_t>(blockAlign);
    switch (blockAlign) {
    case 1:
        return PickFixed<1>(range, src, sourceFrames, destinationFrames, last, frameSize);
    case 2:
        return PickFixed<2>(range, src, sourceFrames, destinationFrames, last, frameSize);
    case 3:
        return PickFixed<3>(range, src, sourceFrames, destinationFrames, last, frameSize);
    case 4:
        return PickFixed<4>(range, src, sourceFrames, destinationFrames, last, frameSize);
    case 5:
        return PickFixed<5>(range, src, sourceFrames, destinationFrames, last, frameSize);
    case 6:
        return PickFixed<6>(range, src, sourceFrames, destinationFrames, last, frameSize);
    case 7:
        return PickFixed<7>(range, src, sourceFrames, destinationFrames, last, frameSize);
    case 8:
        return PickFixed<8>(range, src, sourceFrames, destinationFrames, last, frameSize);
    default:
        return PickFixed<0>(range, src, sourceFrames, destinationFrames, last, frameSize);
    }
}

} // namespace

void UseVectorInstructions(bool allowed) {
    g_VectorInstructions.store(allowed, std::memory_order_relaxed);
}

void ResampleFrameRange(std::span<std::byte> destination, std::span<const std::byte> source,
                        std::int32_t sourceFrames, std::int16_t blockAlign,
                        std::int32_t destinationFrames, std::int32_t first, std::int32_t count,
                        std::byte silence) {
    if (blockAlign < 1 || destinationFrames < 1 || count < 1)
        return;
    if (first < 0 || first > destinationFrames - count)
        throw std::out_of_range("ResampleFrameRange: frames outside the new sound");
    const auto frameSize = static_cast<std::size_t>(blockAlign);
    const std::size_t bytes = frameSize * static_cast<std::size_t>(count);
    if (destination.size() < bytes)
        throw std::length_error("ResampleFrames: the destination is too small");
    const std::uint64_t wholeFrames = std::min<std::uint64_t>(
        source.size() / frameSize, static_cast<std::uint64_t>(std::max(sourceFrames, 0)));
    if (wholeFrames == 0) {
        std::memset(destination.data(), std::to_integer<int>(silence), bytes);
        return;
    }
    const Range range{destination.data(), static_cast<std::uint64_t>(first),
                      static_cast<std::uint64_t>(first) + static_cast<std::uint64_t>(count)};
    Pick(range, source.data(), blockAlign, sourceFrames, destinationFrames, wholeFrames - 1);
}

std::pair<std::int32_t, std::int32_t> SourceFramesOf(std::int32_t sourceFrames,
                                                     std::int32_t wholeFrames,
                                                     std::int32_t destinationFrames,
                                                     std::int32_t first, std::int32_t count) {
    if (wholeFrames < 1 || destinationFrames < 1 || count < 1 || first < 0 ||
        first > destinationFrames - count)
        throw std::out_of_range("SourceFramesOf: no frames");
    const auto last = static_cast<std::uint64_t>(wholeFrames - 1);
    // The index only grows with the frame number, so the first and last frames bound it.
    auto index = [&](std::int32_t i) -> std::int32_t {
        if (i == 0)
            return 0;
        return static_cast<std::int32_t>(std::min(
            FormulaIndex(static_cast<std::uint64_t>(i), sourceFrames, destinationFrames), last));
    };
    return {index(first), index(first + count - 1)};
}

void ResampleFrameWindow(std::span<std::byte> destination, std::span<const std::byte> window,
                         std::int32_t windowFirst, std::int32_t sourceFrames,
                         std::int32_t wholeFrames, std::int16_t blockAlign,
                         std::int32_t destinationFrames, std::int32_t first, std::int32_t count) {
    if (blockAlign < 1 || count < 1)
        return;
    const auto [from, to] =
        SourceFramesOf(sourceFrames, wholeFrames, destinationFrames, first, count);
    const auto frameSize = static_cast<std::size_t>(blockAlign);
    if (windowFirst < 0 || windowFirst > from ||
        window.size() / frameSize < static_cast<std::size_t>(to - windowFirst) + 1)
        throw std::length_error("ResampleFrameWindow: the window misses frames");
    if (destination.size() < frameSize * static_cast<std::size_t>(count))
        throw std::length_error("ResampleFrames: the destination is too small");
    const Range range{destination.data(), static_cast<std::uint64_t>(first),
                      static_cast<std::uint64_t>(first) + static_cast<std::uint64_t>(count),
                      static_cast<std::uint64_t>(windowFirst)};
    // Clamping to the window's last frame is clamping to the sound's: no index of these
    // frames lies past the window unless the window ends at the sound's last frame.
    Pick(range, window.data(), blockAlign, sourceFrames, destinationFrames,
         static_cast<std::uint64_t>(to));
}

void ResampleFrames(std::span<std::byte> destination, std::span<const std::byte> source,
                    std::int32_t sourceFrames, std::int16_t blockAlign,
                    std::int32_t destinationFrames, std::byte silence) {
    ResampleFrameRange(destination, source, sourceFrames, blockAlign, destinationFrames, 0,
                       destinationFrames, silence);
}

// ---- Bringing a sound to a length ----

bool IsOwnLength(std::int32_t dataSize, const WAVEFORMATINFO& format, std::int32_t n) {
    const double q = static_cast<double>(dataSize) / static_cast<double>(format.BlockAlign);
    return q == static_cast<double>(n);
}

SoundBuffer PickFrames(std::span<const std::byte> source, std::int32_t dataSize,
                       const WAVEFORMATINFO& format, std::int32_t n) {
    if (n < 1 || format.BlockAlign < 1)
        throw std::length_error("PickFrames: no frames to pick");
    const std::int64_t bytes = std::int64_t{format.BlockAlign} * n;
    if (bytes > INT32_MAX)
        throw chunkwell::OverflowError("Overflow: the new sound leaves 32 bits");
    const std::int32_t m =
        RoundToInt32(static_cast<double>(dataSize) / static_cast<double>(format.BlockAlign));
    SoundBuffer destination(static_cast<std::size_t>(bytes));
    ResampleFrames(destination.span(), source, m, format.BlockAlign, n, SilenceByte(format));
    return destination;
}

} // namespace metronel
