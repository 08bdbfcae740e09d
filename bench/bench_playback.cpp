// SPDX-License-Identifier: MIT
// Measures the time from Play to the first bytes handed to the sound output, for a loop of
// noise (44.1 kHz, 16-bit stereo) brought to 1.28 times its speed by each method, after
// each of the things the window may have done before (see below), and the time the player
// takes to end while a pitch-keeping pass is being made ahead. Needs a
// sound server: scripts/bench-playback starts a private one.
//
//   bench_playback [seconds of loop, default 10] [runs, default 7]
#include "LoopPlayer.h"
#include "mdlLength.h"
#include "mdlWaveFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

using namespace metronel;

namespace {

std::shared_ptr<const WaveFile> NoiseLoop(int seconds) {
    auto wave = std::make_shared<WaveFile>();
    const std::uint8_t fmt[16] = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0};
    WaveRecord format{FourCC("fmt "), {}};
    for (std::uint8_t b : fmt)
        format.bytes.push_back(std::byte{b});
    WaveRecord data{FourCC("data"), std::vector<std::byte>(std::size_t{44100} * 4 * seconds)};
    std::uint32_t x = 2463534242u;
    for (std::byte& b : data.bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::byte>(x >> 24);
    }
    wave->records = {std::move(format), std::move(data)};
    wave->fmtIndex = 0;
    wave->dataIndex = 1;
    return wave;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    if (!LoopPlayer::HasOutput()) {
        std::fprintf(stderr, "no sound output: run scripts/bench-playback\n");
        return 1;
    }
    const auto wave = NoiseLoop(seconds);
    const auto frames = static_cast<std::int32_t>(std::llround(44100.0 * seconds / 1.28));
    std::printf("%d s stereo 44.1 kHz 16-bit loop -> %d frames; Play to the first buffer handed "
                "to the output (%d runs)\n",
                seconds, frames, runs);
    LoopPlayer player;
    auto settle = [](int ms) {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    };
    enum class Before { Nothing, OtherLength, ThisLength };
    const std::pair<Before, const char*> befores[] = {
        {Before::Nothing, "first Play of the sound"},
        {Before::OtherLength, "new length           "},
        {Before::ThisLength, "rendered ahead       "}};
    for (auto [method, name] :
         {std::pair{Resampler::Pick, "pick frames "}, std::pair{Resampler::Hq, "high quality"},
          std::pair{Resampler::KeepPitch, "keep pitch  "}}) {
        // What the window had done before Play: nothing yet with this sound; rendered it
        // ahead at the length before (so it was read and decoded); rendered this very pass.
        const int renderMs = method == Resampler::KeepPitch ? 2000 * seconds / 10 + 1000 : 1000;
        for (auto [before, label] : befores) {
            std::vector<double> ms;
            for (int r = 0; r < runs; ++r) {
                player.Forget();
                if (before != Before::Nothing) {
                    player.Prepare(wave, before == Before::ThisLength ? frames : frames + 1,
                                   method);
                    settle(renderMs);
                }
                if (!player.Play(wave, frames, method)) {
                    std::fprintf(stderr, "%s\n", qPrintable(player.Reason()));
                    return 1;
                }
                QElapsedTimer waited;
                waited.start();
                while (!player.FirstBufferDelay() && waited.elapsed() < 30000)
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
                if (const auto delay = player.FirstBufferDelay())
                    ms.push_back(std::chrono::duration<double, std::milli>(*delay).count());
                player.Stop();
                settle(300); // the stopped stream goes before the next run
            }
            if (ms.empty()) {
                std::printf("  %s, %s: nothing reached the output\n", name, label);
                continue;
            }
            std::sort(ms.begin(), ms.end());
            std::printf("  %s, %s: best %7.1f ms, median %7.1f ms, worst %7.1f ms\n", name, label,
                        ms.front(), ms[ms.size() / 2], ms.back());
            std::fflush(stdout);
        }
    }
    // The window closing while a pitch-keeping pass of seconds is being made ahead: the player
    // must end at once, not when the pass is done.
    std::vector<double> ends;
    for (int r = 0; r < runs; ++r) {
        auto closing = std::make_unique<LoopPlayer>();
        closing->Prepare(wave, frames - 1 - r, Resampler::KeepPitch);
        settle(300);
        QElapsedTimer ending;
        ending.start();
        closing.reset();
        ends.push_back(static_cast<double>(ending.nsecsElapsed()) / 1e6);
    }
    std::sort(ends.begin(), ends.end());
    std::printf("  player's end while keep pitch is made ahead: best %7.1f ms, median %7.1f ms, "
                "worst %7.1f ms\n",
                ends.front(), ends[ends.size() / 2], ends.back());
    return 0;
}
