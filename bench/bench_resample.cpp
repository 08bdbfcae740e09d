// SPDX-License-Identifier: MIT
// Measures ResampleFrames on 4-byte frames (stretching and shrinking) against memcpy of the
// same number of bytes in the same run, and prints GB/s and the ratio. Buffers are touched
// before timing so page faults are not counted. Best of several runs.
//
//   bench_resample [source MiB, default 256]
#include "mdlWaveOut.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

using metronel::ResampleFrames;
using metronel::SoundBuffer;

namespace {

constexpr int kRuns = 5;
constexpr std::int16_t kBlockAlign = 4;

double BestSeconds(const std::function<void()>& run) {
    double best = 1e30;
    for (int r = 0; r < kRuns; ++r) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const auto stop = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(stop - start).count());
    }
    return best;
}

// The index formula as a plain loop, for comparison: two divisions and a rounding per frame.
void Straightforward(std::byte* dst, const std::byte* src, std::int32_t sourceFrames,
                     std::int32_t destinationFrames) {
    for (std::int64_t i = 0; i < destinationFrames; ++i) {
        std::int64_t s = 0;
        if (i > 0)
            s = std::llrint(static_cast<double>(sourceFrames) /
                            (static_cast<double>(destinationFrames - 1) / static_cast<double>(i)));
        s = std::min<std::int64_t>(s, sourceFrames - 1);
        std::memcpy(dst + i * kBlockAlign, src + s * kBlockAlign, kBlockAlign);
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::int64_t sourceMiB = argc > 1 ? std::atoll(argv[1]) : 256;
    const auto sourceFrames = static_cast<std::int32_t>(sourceMiB * 1024 * 1024 / kBlockAlign);

    struct Case {
        const char* name;
        std::int32_t destinationFrames;
    };
    const Case cases[] = {
        {"stretch x1.5", static_cast<std::int32_t>(sourceFrames * 1.5)},
        {"shrink x0.67", static_cast<std::int32_t>(sourceFrames / 1.5)},
        {"stretch x2 + 1 (every other index an exact half)", sourceFrames * 2 + 1},
    };

    SoundBuffer source(static_cast<std::size_t>(sourceFrames) * kBlockAlign);
    for (std::size_t i = 0; i < source.size(); ++i)
        source.data()[i] = static_cast<std::byte>(i * 7 + i / 4093);

    std::printf("source: %d frames of %d bytes (%lld MiB)\n", sourceFrames, kBlockAlign,
                static_cast<long long>(sourceMiB));
    double worstRatio = 1e30;
    for (const Case& c : cases) {
        const std::size_t bytes = static_cast<std::size_t>(c.destinationFrames) * kBlockAlign;
        SoundBuffer destination(bytes);
        SoundBuffer copy(std::max(bytes, source.size()));
        std::memset(destination.data(), 1, bytes);
        std::memset(copy.data(), 1, copy.size());

        const double resample = BestSeconds([&] {
            ResampleFrames(destination.span(), source.span(), sourceFrames, kBlockAlign,
                           c.destinationFrames);
        });
        // memcpy of the same byte count, from a source of the same size where it fits.
        const double memcpySeconds = BestSeconds([&] {
            for (std::size_t done = 0; done < bytes;) {
                const std::size_t chunk = std::min(bytes - done, source.size());
                std::memcpy(copy.data() + done, source.data(), chunk);
                done += chunk;
            }
        });
        const double plain = BestSeconds([&] {
            Straightforward(destination.data(), source.data(), sourceFrames, c.destinationFrames);
        });

        const double gbResample = static_cast<double>(bytes) / resample / 1e9;
        const double gbMemcpy = static_cast<double>(bytes) / memcpySeconds / 1e9;
        const double gbPlain = static_cast<double>(bytes) / plain / 1e9;
        const double ratio = gbResample / gbMemcpy;
        std::printf("%-50s  ResampleFrames %6.2f GB/s  memcpy %6.2f GB/s  ratio %.2f"
                    "  (straightforward %5.2f GB/s, ratio %.2f)\n",
                    c.name, gbResample, gbMemcpy, ratio, gbPlain, gbPlain / gbMemcpy);
        if (c.destinationFrames != sourceFrames * 2 + 1)
            worstRatio = std::min(worstRatio, ratio);
    }
    std::printf("worst ratio of stretch x1.5 and shrink x0.67: %.2f (target >= 0.33): %s\n",
                worstRatio, worstRatio >= 0.33 ? "met" : "NOT met");
    return 0;
}
