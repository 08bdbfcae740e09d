// SPDX-License-Identifier: MIT
#include "mdlWaveOut.h"

#include "mdlSafeWrite.h"

#include <QFile>

#include <sys/mman.h>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>
#include <semaphore>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

namespace metronel {

// ---- SoundBuffer ----

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t RoundUp(std::size_t value, std::size_t unit) {
    return (value + unit - 1) / unit * unit;
}
} // namespace

SoundBuffer::SoundBuffer(std::size_t size) {
    if (size == 0)
        return;
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    if (size < kHugePage) {
        const std::size_t length = RoundUp(size, page);
        void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            throw std::bad_alloc();
        m_Map = p;
        m_MapLength = length;
    } else {
        // Huge pages need 2 MiB alignment: map one huge page more and trim both ends.
        if (size > SIZE_MAX - 2 * kHugePage)
            throw std::bad_alloc();
        const std::size_t length = RoundUp(size, kHugePage);
        const std::size_t mapped = length + kHugePage;
        void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            throw std::bad_alloc();
        const auto start = reinterpret_cast<std::uintptr_t>(p);
        const std::uintptr_t aligned = RoundUp(start, kHugePage);
        const std::size_t head = aligned - start;
        const std::size_t tail = mapped - head - length;
        if (head)
            munmap(p, head);
        if (tail)
            munmap(reinterpret_cast<void*>(aligned + length), tail);
        m_Map = reinterpret_cast<void*>(aligned);
        m_MapLength = length;
        madvise(m_Map, m_MapLength, MADV_HUGEPAGE); // only advice: fine if refused
    }
    m_Data = static_cast<std::byte*>(m_Map);
    m_Size = size;
}

SoundBuffer::~SoundBuffer() {
    Release();
}

SoundBuffer::SoundBuffer(SoundBuffer&& other) noexcept
    : m_Data(std::exchange(other.m_Data, nullptr)), m_Size(std::exchange(other.m_Size, 0)),
      m_Map(std::exchange(other.m_Map, nullptr)), m_MapLength(std::exchange(other.m_MapLength, 0)) {
}

SoundBuffer& SoundBuffer::operator=(SoundBuffer&& other) noexcept {
    if (this != &other) {
        Release();
        m_Data = std::exchange(other.m_Data, nullptr);
        m_Size = std::exchange(other.m_Size, 0);
        m_Map = std::exchange(other.m_Map, nullptr);
        m_MapLength = std::exchange(other.m_MapLength, 0);
    }
    return *this;
}

void SoundBuffer::Release() noexcept {
    if (m_Map)
        munmap(m_Map, m_MapLength);
    m_Map = nullptr;
    m_MapLength = 0;
    m_Data = nullptr;
    m_Size = 0;
}

// ---- ResampleFrames ----

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

// ---- Writing wave files ----

WaveOutResult WaveOutFailure(chunkwell::MediaFileErrorCodes code) {
    WaveOutResult result;
    switch (code) {
    case chunkwell::mfec_ReadDataFailed:
        result.outcome = WaveOutResult::Outcome::ReadFailed;
        break;
    case chunkwell::mfec_CreateFileFailed:
        result.outcome = WaveOutResult::Outcome::CreateFailed;
        break;
    default:
        result.outcome = WaveOutResult::Outcome::WriteFailed;
        break;
    }
    result.errorCode = code;
    result.errorText = chunkwell::ErrorText(code);
    return result;
}

namespace {

// Writes path as "RIFF"/"WAVE" holding "fmt " and a "data" record of dataSize bytes, which
// fill(writer) writes. The file is made under a temporary name and takes path's name only
// once complete and on the disk, so an existing file of that name is never lost. A false
// from fill, a record that cannot be placed, or headers that do not reach the file make a
// write that failed; fill may instead set readFailed, for a sound it could not read whole.
// fill is given the temporary too, to start its writing to the disk early.
template <typename Fill>
WaveOutResult WriteWave(chunkwell::MediaSystemLicence& msl, const QString& path,
                        const WAVEFORMATINFO& format, std::size_t dataSize, bool overwrite,
                        Fill&& fill) {
    SafeWrite out(path);
    // The name is checked as creating it in place would have: a file held open by a reader
    // or writer, or one that may not be replaced, is refused before anything is written.
    if (!out.TargetFree(overwrite))
        return WaveOutFailure(chunkwell::mfec_CreateFileFailed);
    if (dataSize > static_cast<std::size_t>(INT32_MAX))
        return WaveOutFailure(chunkwell::mfec_WriteToDataFailed);
    WaveOutResult result;
    auto writer =
        msl.CreateMediaFile(QFile::encodeName(out.TempPath()).toStdString(), "RIFF", "WAVE");
    if (!writer) {
        result.outcome = WaveOutResult::Outcome::CreateFailed;
        result.errorCode = msl.Error();
        result.errorText = msl.DisplayError();
        return result; // a temporary left by a failed header write goes with out
    }
    bool written = false;
    bool readFailed = false;
    try {
        const auto fmt = format.ToBytes();
        const auto size = static_cast<std::int32_t>(dataSize);
        written = writer->CreateChild("fmt ", WAVEFORMATINFO::kSize) && writer->WriteRecord(fmt) &&
                  writer->CreateChild("data", size) &&
                  (size == 0 || fill(*writer, readFailed, out)) && writer->Finish();
    } catch (const chunkwell::MediaError&) {
        // A record that cannot be placed is a write that failed, not one to skip: skipping
        // would put the sound into the record before it.
        written = false;
    }
    writer.reset(); // closes the file; its headers are written already
    if (readFailed)
        return WaveOutFailure(chunkwell::mfec_ReadDataFailed);
    if (!written)
        return WaveOutFailure(chunkwell::mfec_WriteToDataFailed);
    if (!out.Commit(overwrite))
        return WaveOutFailure(out.Error() == EEXIST ? chunkwell::mfec_CreateFileFailed
                                                    : chunkwell::mfec_WriteToDataFailed);
    return result;
}

constexpr std::size_t kPieceBuffers = 2;

// Starts the disk writing behind a long write, a stretch at a time, so that the flush before
// the file takes its name finds little left: the two then overlap instead of following
// each other.
class WritebackBehind {
public:
    WritebackBehind(SafeWrite& out, const chunkwell::MediaFileWriter& writer)
        : m_Out(out), m_Start(writer.RecordInfo().FileOffset), m_Done(m_Start) {}
    // Tells that the record's bytes up to end (from its start) are written.
    void Written(std::int64_t end) {
        end += m_Start;
        if (end - m_Done < kStretch)
            return;
        m_Out.StartWriteback(m_Done, end - m_Done);
        m_Done = end;
    }

private:
    static constexpr std::int64_t kStretch = std::int64_t{32} << 20;
    SafeWrite& m_Out;
    std::int64_t m_Start;
    std::int64_t m_Done;
};

// What SaveWaveAs needs to write a sound brought to n frames piece by piece.
struct PickedSound {
    std::span<const std::byte> source;
    std::int32_t sourceFrames = 0;
    const WAVEFORMATINFO* format = nullptr;
    std::int32_t n = 0;
    std::int32_t pieceFrames = 0;
    SoundBuffer pieces; // kPieceBuffers buffers of pieceFrames frames
};

// Writes the "data" record of sound, the last record added to writer, a piece at a time:
// a worker thread picks piece k + 1 (memory only) while this thread writes piece k, so
// picking and writing overlap and the new sound is never held whole. The writer stays on
// this thread. Returns false at the first piece that cannot be written.
bool WritePickedPieces(chunkwell::MediaFileWriter& writer, PickedSound& sound, SafeWrite& out) {
    const WAVEFORMATINFO& format = *sound.format;
    const auto frameSize = static_cast<std::size_t>(format.BlockAlign);
    const std::int64_t pieces = (std::int64_t{sound.n} + sound.pieceFrames - 1) / sound.pieceFrames;
    const std::byte silence = SilenceByte(format);
    auto piece = [&](std::int64_t k) {
        const auto first = static_cast<std::int32_t>(k * sound.pieceFrames);
        const std::int32_t count = std::min(sound.pieceFrames, sound.n - first);
        const std::size_t slot = static_cast<std::size_t>(k) % kPieceBuffers;
        return std::pair{first, sound.pieces.span().subspan(slot * sound.pieceFrames * frameSize,
                                                            count * frameSize)};
    };
    auto pick = [&](std::int64_t k) {
        const auto [first, bytes] = piece(k);
        ResampleFrameRange(bytes, sound.source, sound.sourceFrames, format.BlockAlign, sound.n,
                           first, static_cast<std::int32_t>(bytes.size() / frameSize), silence);
    };
    WritebackBehind writeback(out, writer);
    auto write = [&](std::int64_t k) {
        const auto [first, bytes] = piece(k);
        if (!writer.WriteRecord(bytes, static_cast<std::int32_t>(first * frameSize),
                                static_cast<std::int32_t>(bytes.size())))
            return false;
        writeback.Written(static_cast<std::int64_t>(first * frameSize + bytes.size()));
        return true;
    };

    std::counting_semaphore<> vacant(kPieceBuffers), picked(0);
    std::atomic<bool> stop{false};
    std::thread worker;
    try {
        worker = std::thread([&] {
            for (std::int64_t k = 0; k < pieces; ++k) {
                vacant.acquire();
                if (stop.load(std::memory_order_relaxed))
                    return;
                pick(k);
                picked.release();
            }
        });
    } catch (const std::system_error&) {
        // No thread to be had: the same pieces, one after the other.
        for (std::int64_t k = 0; k < pieces; ++k) {
            pick(k);
            if (!write(k))
                return false;
        }
        return true;
    }
    // Lets the worker go and waits for it however this ends, a raised error included.
    struct Join {
        std::thread& worker;
        std::atomic<bool>& stop;
        std::counting_semaphore<>& vacant;
        ~Join() {
            stop.store(true, std::memory_order_relaxed);
            vacant.release(); // after stop: the worker sees it once it wakes
            worker.join();
        }
    } join{worker, stop, vacant};
    for (std::int64_t k = 0; k < pieces; ++k) {
        picked.acquire();
        if (!write(k))
            return false;
        vacant.release();
    }
    return true;
}

} // namespace

WaveOutResult WriteWaveFile(chunkwell::MediaSystemLicence& msl, const QString& path,
                            const WAVEFORMATINFO& format, std::span<const std::byte> data,
                            bool overwrite) {
    return WriteWave(msl, path, format, data.size(), overwrite,
                     [&](chunkwell::MediaFileWriter& writer, bool&, SafeWrite&) {
                         return writer.WriteRecord(data);
                     });
}

namespace {

// Faults in the pages of a fresh buffer from its end backwards on a second thread while
// this one fills it from the start: first touch (zeroing, and on a virtual machine the
// host's own faults) costs more than the copy, and so the two overlap. Populating never
// writes to a page already there, so what the filling put in stays.
class PopulateFromTheEnd {
public:
    explicit PopulateFromTheEnd(SoundBuffer& buffer) {
        if (buffer.size() < kMinimum)
            return;
        try {
            m_Thread = std::thread([this, data = buffer.data(), size = buffer.size()] {
                const std::size_t end = RoundUp(size, kHugePage);
                for (std::size_t at = end; at > 0 && !m_Done.load(std::memory_order_relaxed);) {
                    const std::size_t from = at > kStep ? at - kStep : 0;
                    if (madvise(data + from, at - from, MADV_POPULATE_WRITE) != 0)
                        return; // an older kernel: the filling faults the pages in itself
                    at = from;
                }
            });
        } catch (const std::system_error&) {
        }
    }
    ~PopulateFromTheEnd() {
        m_Done.store(true, std::memory_order_relaxed);
        if (m_Thread.joinable())
            m_Thread.join();
    }
    PopulateFromTheEnd(const PopulateFromTheEnd&) = delete;
    PopulateFromTheEnd& operator=(const PopulateFromTheEnd&) = delete;

private:
    static constexpr std::size_t kMinimum = std::size_t{64} << 20;
    static constexpr std::size_t kStep = std::size_t{16} << 20;
    std::atomic<bool> m_Done{false};
    std::thread m_Thread;
};

} // namespace

bool SoundIsWhole(chunkwell::MediaFileReader& reader, std::int32_t dataSize) {
    if (dataSize <= 0)
        return dataSize == 0;
    // A read past the end of the file succeeds but delivers nothing.
    try {
        std::array<std::byte, 1> last{};
        return reader.ReadRecordDelivered(last, dataSize - 1, 1) == 1;
    } catch (const chunkwell::MediaError&) {
        // A record ending past what 32-bit offsets reach cannot be read whole either.
    }
    return false;
}

bool ReadSound(chunkwell::MediaFileReader& reader, std::int32_t dataSize, SoundBuffer& source) {
    source = SoundBuffer();
    // Checked before the buffer is sized: a short file declaring gigabytes has none of them.
    if (!SoundIsWhole(reader, dataSize))
        return false;
    SoundBuffer buffer(static_cast<std::size_t>(dataSize));
    {
        PopulateFromTheEnd populate(buffer);
        if (dataSize > 0 && !reader.ReadRecord(buffer.span()))
            return false;
    }
    // The file may have been cut short while it was read.
    if (!SoundIsWhole(reader, dataSize))
        return false;
    source = std::move(buffer);
    return true;
}

WaveOutResult SaveWaveAs(chunkwell::MediaSystemLicence& msl, const QString& path,
                         const WAVEFORMATINFO& format, std::span<const std::byte> source,
                         std::int32_t dataSize, std::int32_t n) {
    // Picking from a sound that is not all there would write silence as if it were music.
    if (dataSize < 0 || source.size() < static_cast<std::size_t>(dataSize))
        return WaveOutFailure(chunkwell::mfec_ReadDataFailed);
    source = source.first(static_cast<std::size_t>(dataSize));
    if (IsOwnLength(dataSize, format, n))
        return WriteWaveFile(msl, path, format, source, true);
    // The checks and the rounding of PickFrames; no frames to pick leaves "data" empty.
    if (n < 1 || format.BlockAlign < 1)
        return WriteWaveFile(msl, path, format, {}, true);
    const std::int64_t bytes = std::int64_t{format.BlockAlign} * n;
    PickedSound sound;
    const auto frameSize = static_cast<std::size_t>(format.BlockAlign);
    sound.pieceFrames = static_cast<std::int32_t>(
        std::min(kSavePieceBytes / frameSize, static_cast<std::size_t>(n))); // frames < 32 KiB
    try {
        sound.pieces = SoundBuffer(kPieceBuffers * frameSize * sound.pieceFrames);
    } catch (const std::bad_alloc&) {
        return WaveOutFailure(chunkwell::mfec_WriteToDataFailed);
    }
    sound.source = source;
    sound.sourceFrames =
        RoundToInt32(static_cast<double>(dataSize) / static_cast<double>(format.BlockAlign));
    sound.format = &format;
    sound.n = n;
    // A length past 32 bits is refused by WriteWave before anything is written.
    return WriteWave(msl, path, format, static_cast<std::size_t>(bytes), true,
                     [&](chunkwell::MediaFileWriter& writer, bool&, SafeWrite& out) {
                         return WritePickedPieces(writer, sound, out);
                     });
}

namespace {

// Copies the current record of source (dataSize bytes) into the "data" record last added to
// writer, in the kernel where it can. Sets readFailed when the file no longer holds them all.
bool CopySound(chunkwell::MediaFileWriter& writer, chunkwell::MediaFileReader& source,
               std::int32_t dataSize, bool& readFailed, SafeWrite& out) {
    // A stretch at a time, so the disk writes the copy while the rest is being copied.
    constexpr std::int32_t kStretch = std::int32_t{32} << 20;
    WritebackBehind writeback(out, writer);
    bool copied = true;
    for (std::int32_t at = 0; copied && at < dataSize;) {
        const std::int32_t size = std::min(kStretch, dataSize - at);
        copied = writer.WriteRecordFrom(source, at, at, size);
        at += size;
        writeback.Written(at);
    }
    // The file may have been cut short meanwhile: then it was the reading that failed.
    readFailed = !SoundIsWhole(source, dataSize);
    return copied && !readFailed;
}

} // namespace

namespace {

// Writes the "data" record last added to writer: the sound of source's current record brought
// to n frames, read from the file a window at a time instead of whole. This thread reads the
// window of piece k + 1 and writes piece k while a worker picks piece k + 1 (memory only); the
// library's objects stay on this thread. Sets readFailed when the file does not hold the sound.
bool WriteStreamedPieces(chunkwell::MediaFileWriter& writer, chunkwell::MediaFileReader& source,
                         std::int32_t dataSize, const WAVEFORMATINFO& format, std::int32_t n,
                         bool& readFailed, SafeWrite& out) {
    const auto frameSize = static_cast<std::size_t>(format.BlockAlign);
    const std::int32_t sourceFrames =
        RoundToInt32(static_cast<double>(dataSize) / static_cast<double>(format.BlockAlign));
    const auto wholeFrames = static_cast<std::int32_t>(
        std::min<std::int64_t>(dataSize / format.BlockAlign, sourceFrames));
    const auto pieceFrames =
        static_cast<std::int32_t>(std::min<std::size_t>(kSavePieceBytes / frameSize, n));
    const std::int64_t pieces = (std::int64_t{n} + pieceFrames - 1) / pieceFrames;
    auto destinationOf = [&](std::int64_t k) {
        const auto first = static_cast<std::int32_t>(k * pieceFrames);
        return std::pair{first, std::min(pieceFrames, n - first)};
    };
    auto windowOf = [&](std::int64_t k) {
        const auto [first, count] = destinationOf(k);
        return SourceFramesOf(sourceFrames, wholeFrames, n, first, count);
    };
    std::size_t windowFrames = 1;
    for (std::int64_t k = 0; k < pieces; ++k) {
        const auto [from, to] = windowOf(k);
        windowFrames = std::max(windowFrames, static_cast<std::size_t>(to - from) + 1);
    }
    const std::size_t windowBytes = windowFrames * frameSize;
    const std::size_t pieceBytes = static_cast<std::size_t>(pieceFrames) * frameSize;
    SoundBuffer windows(kPieceBuffers * windowBytes);
    SoundBuffer picked(kPieceBuffers * pieceBytes);
    std::array<std::int32_t, kPieceBuffers> windowFirst{};

    auto read = [&](std::int64_t k) {
        const auto [from, to] = windowOf(k);
        const std::size_t slot = static_cast<std::size_t>(k) % kPieceBuffers;
        const auto bytes = static_cast<std::int32_t>((to - from + 1) * frameSize);
        windowFirst[slot] = from;
        return source.ReadRecord(windows.span().subspan(slot * windowBytes, bytes),
                                 static_cast<std::int32_t>(from * frameSize), bytes);
    };
    auto pick = [&](std::int64_t k) {
        const auto [first, count] = destinationOf(k);
        const std::size_t slot = static_cast<std::size_t>(k) % kPieceBuffers;
        ResampleFrameWindow(picked.span().subspan(slot * pieceBytes, pieceBytes),
                            windows.span().subspan(slot * windowBytes, windowBytes),
                            windowFirst[slot], sourceFrames, wholeFrames, format.BlockAlign, n,
                            first, count);
    };
    WritebackBehind writeback(out, writer);
    auto write = [&](std::int64_t k) {
        const auto [first, count] = destinationOf(k);
        const std::size_t slot = static_cast<std::size_t>(k) % kPieceBuffers;
        if (!writer.WriteRecord(picked.span().subspan(slot * pieceBytes, count * frameSize),
                                static_cast<std::int32_t>(first * frameSize),
                                static_cast<std::int32_t>(count * frameSize)))
            return false;
        writeback.Written((std::int64_t{first} + count) * static_cast<std::int64_t>(frameSize));
        return true;
    };
    auto fail = [&](bool reading) {
        readFailed = reading || !SoundIsWhole(source, dataSize);
        return false;
    };

    if (!read(0))
        return fail(true);
    std::counting_semaphore<> ready(0), done(0);
    std::atomic<bool> stop{false};
    std::atomic<bool> pickFailed{false};
    std::thread worker;
    try {
        worker = std::thread([&] {
            for (std::int64_t k = 0; k < pieces; ++k) {
                ready.acquire();
                if (stop.load(std::memory_order_relaxed))
                    return;
                try {
                    pick(k);
                } catch (...) { // nothing may leave a thread; the writing side tells
                    pickFailed.store(true);
                }
                done.release();
            }
        });
    } catch (const std::system_error&) {
        // No thread to be had: the same pieces, one after the other.
        for (std::int64_t k = 0; k < pieces; ++k) {
            if (k > 0 && !read(k))
                return fail(true);
            pick(k);
            if (!write(k))
                return fail(false);
        }
        readFailed = !SoundIsWhole(source, dataSize);
        return !readFailed;
    }
    struct Join {
        std::thread& worker;
        std::atomic<bool>& stop;
        std::counting_semaphore<>& ready;
        ~Join() {
            stop.store(true, std::memory_order_relaxed);
            ready.release(); // after stop: the worker sees it once it wakes
            worker.join();
        }
    } join{worker, stop, ready};
    ready.release();
    for (std::int64_t k = 0; k < pieces; ++k) {
        // The window after this one is read while the worker picks this one: its slot held
        // the piece written last, which the worker is done with.
        if (k + 1 < pieces) {
            if (!read(k + 1))
                return fail(true);
            ready.release();
        }
        done.acquire();
        if (pickFailed.load() || !write(k))
            return fail(false);
    }
    // The file may have been cut short while it was read.
    readFailed = !SoundIsWhole(source, dataSize);
    return !readFailed;
}

} // namespace

WaveOutResult SaveSoundAs(chunkwell::MediaSystemLicence& msl, const QString& path,
                          const WAVEFORMATINFO& format, chunkwell::MediaFileReader& reader,
                          std::int32_t dataSize, std::int32_t n) {
    RemoveStaleTemporaries(GetFolder(path));
    try {
        if (!SoundIsWhole(reader, dataSize))
            return WaveOutFailure(chunkwell::mfec_ReadDataFailed);
        if (IsOwnLength(dataSize, format, n))
            return WriteWave(
                msl, path, format, static_cast<std::size_t>(dataSize), true,
                [&](chunkwell::MediaFileWriter& writer, bool& readFailed, SafeWrite& out) {
                    return CopySound(writer, reader, dataSize, readFailed, out);
                });
        if (n < 1 || format.BlockAlign < 1)
            return WriteWaveFile(msl, path, format, {}, true);
        if (std::int64_t{format.BlockAlign} * n > INT32_MAX)
            return WaveOutFailure(chunkwell::mfec_WriteToDataFailed);
        // Stretched or shrunk up to a half, each piece's frames lie in a window of the sound
        // at most about twice its size: read those windows, never the whole sound. Shrunk
        // further, windows would outgrow the pieces, and the sound is read whole.
        if (dataSize >= format.BlockAlign && n >= 2 &&
            static_cast<double>(dataSize / format.BlockAlign) <= 2.0 * (n - 1))
            return WriteWave(
                msl, path, format, static_cast<std::size_t>(std::int64_t{format.BlockAlign} * n),
                true, [&](chunkwell::MediaFileWriter& writer, bool& readFailed, SafeWrite& out) {
                    return WriteStreamedPieces(writer, reader, dataSize, format, n, readFailed,
                                               out);
                });
        SoundBuffer source;
        if (!ReadSound(reader, dataSize, source))
            return WaveOutFailure(chunkwell::mfec_ReadDataFailed);
        return SaveWaveAs(msl, path, format, source.span(), dataSize, n);
    } catch (const std::bad_alloc&) {
        return WaveOutFailure(chunkwell::mfec_WriteToDataFailed);
    }
}

// ---- Split ----

QString SplitPieceName(const QString& baseName, int k) {
    return baseName + u'[' + QString::number(k) + QStringLiteral("].wav");
}

std::int32_t FramesPerPart(std::int32_t totalFrames, std::uint8_t parts) {
    if (parts == 0)
        throw CalcError("division by zero");
    return RoundToInt32(static_cast<double>(totalFrames) / static_cast<double>(parts));
}

SplitResult WriteSplitFiles(std::span<const std::byte> frames, const WAVEFORMATINFO& formatRecord,
                            std::uint8_t parts, const QString& baseName,
                            chunkwell::MediaSystemLicence& msl, SplitProgress& progress) {
    const std::int16_t blockAlign = formatRecord.BlockAlign;
    if (blockAlign < 1)
        throw CalcError("no frames: block align below 1");
    std::int32_t totalFrames =
        RoundToInt32(static_cast<double>(frames.size()) / static_cast<double>(blockAlign));
    // Rounding up must not count an incomplete frame at the end: it is not there to write.
    totalFrames = std::min<std::int64_t>(totalFrames, frames.size() / blockAlign);
    const std::int32_t framesPerPart = FramesPerPart(totalFrames, parts);
    RemoveStaleTemporaries(GetFolder(baseName));

    // A range of one value shows nothing; with one piece, 0..1 lets the bar fill.
    const int minimum = parts == 1 ? 0 : 1;
    progress.SetRange(minimum, parts);
    progress.SetValue(minimum);

    std::int32_t remaining = totalFrames;
    std::size_t position = 0;
    SplitResult split;
    for (int k = 1; k <= parts; ++k) {
        const std::int32_t count = remaining <= framesPerPart ? remaining : framesPerPart;
        const auto bytes = static_cast<std::size_t>(blockAlign) * static_cast<std::size_t>(count);
        const WaveOutResult result = WriteWaveFile(msl, SplitPieceName(baseName, k), formatRecord,
                                                   frames.subspan(position, bytes), false);
        if (!result.Written()) {
            split.failure = result;
            break;
        }
        ++split.complete;
        position += bytes;
        remaining -= count;
        progress.SetValue(k);
        progress.ProcessEvents();
    }
    progress.SetValue(minimum);
    return split;
}

} // namespace metronel
