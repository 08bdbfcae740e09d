// SPDX-License-Identifier: MIT
// Measures ResampleLoopHq on two-bar stereo loops (44.1 kHz, 16-bit) brought to 128 BPM from
// several tempos, with the decoding and encoding around it, and prints source frames per
// second. Best of several runs.
//
//   bench_hqresample [runs, default 5]
#include "mdlHqResample.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <vector>

using namespace metronel;

namespace {

constexpr double kRate = 44100;
constexpr double kTargetBpm = 128;
constexpr int kBeats = 8; // two bars of four

template <typename Run> double BestSeconds(int runs, Run run) {
    double best = 1e30;
    for (int r = 0; r < runs; ++r) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const auto stop = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(stop - start).count());
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const SampleFormat format{SampleFormat::Kind::Pcm, 16, 2, 4};
    std::printf("two-bar stereo loops, 16-bit, 44.1 kHz, to %g BPM (best of %d)\n", kTargetBpm,
                runs);
    for (double bpm : {90.0, 120.0, 127.0, 140.0, 174.0}) {
        const auto frames = std::llround(kBeats * 60.0 / bpm * kRate);
        const auto target = std::llround(kBeats * 60.0 / kTargetBpm * kRate);
        std::vector<double> loop;
        for (std::int64_t k = 0; k < frames; ++k) {
            const double t = static_cast<double>(k) / kRate;
            loop.push_back(0.4 * std::sin(2 * std::numbers::pi * 440 * t));
            loop.push_back(0.4 * std::sin(2 * std::numbers::pi * 660 * t));
        }
        const auto bytes = EncodeSamples(loop, format);

        std::size_t sink = 0;
        const double resample =
            BestSeconds(runs, [&] { sink += ResampleLoopHq(loop, 2, target).size(); });
        const double whole = BestSeconds(runs, [&] {
            const auto x = DecodeSamples(bytes, format);
            sink += EncodeSamples(ResampleLoopHq(x, 2, target), format).size();
        });
        std::printf("%6.1f BPM, %7lld -> %7lld frames: resample %6.2f M frames/s (%.1f ms), "
                    "with decode and encode %6.2f M frames/s (%.1f ms)%s\n",
                    bpm, static_cast<long long>(frames), static_cast<long long>(target),
                    static_cast<double>(frames) / resample / 1e6, resample * 1e3,
                    static_cast<double>(frames) / whole / 1e6, whole * 1e3, sink ? "" : " ");
    }
    return 0;
}
