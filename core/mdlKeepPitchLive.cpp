// SPDX-License-Identifier: MIT
#include "mdlKeepPitchLive.h"

#include "mdlHqResample.h"

#include "mdlPlanar.h"

#include <rubberband/RubberBandStretcher.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace metronel {

void StretchKeepPitchLive(std::span<const double> interleaved, int channels, std::int64_t rate,
                          std::int64_t targetFrames,
                          const std::function<void(std::span<const double>)>& put) {
    using RubberBand::RubberBandStretcher;
    if (std::optional<std::vector<double>> done =
            ResampleWithoutWork(interleaved, channels, targetFrames)) {
        if (!done->empty())
            put(*done);
        return;
    }
    const auto ch = static_cast<std::size_t>(channels);
    const auto n = static_cast<std::int64_t>(interleaved.size() / ch);
    const std::int64_t m = targetFrames;
    RubberBandStretcher stretcher(
        static_cast<std::size_t>(std::clamp<std::int64_t>(rate, 8000, 192000)), ch,
        RubberBandStretcher::OptionProcessRealTime | RubberBandStretcher::OptionEngineFiner |
            RubberBandStretcher::OptionWindowShort | RubberBandStretcher::OptionThreadingNever |
            RubberBandStretcher::OptionChannelsTogether,
        static_cast<double>(m) / static_cast<double>(n));
    constexpr std::size_t kBlock = 1024;
    stretcher.setMaxProcessSize(kBlock);

    Planar block(ch, kBlock);
    // The stretcher's start pad is the loop's tail, so frame 0 is heard as it follows the
    // tail; the output's first getStartDelay() frames come before frame 0 and are dropped.
    const auto pad = static_cast<std::int64_t>(stretcher.getPreferredStartPad());
    auto toDrop = static_cast<std::int64_t>(stretcher.getStartDelay());
    std::int64_t next = ((-pad) % n + n) % n; // the loop's frame fed next

    Planar got(ch, kBlock);
    // Handed over in pieces: a small first one, then larger.
    std::vector<double> piece;
    std::size_t pieceFrames = 2048;
    std::int64_t handed = 0;
    auto flush = [&] {
        if (piece.empty())
            return;
        put(piece);
        handed += static_cast<std::int64_t>(piece.size() / ch);
        piece.clear();
        pieceFrames = 16384;
    };
    // The stretcher takes in frames until it has output to give; each turn feeds one block.
    for (int idle = 0; handed + static_cast<std::int64_t>(piece.size() / ch) < m;) {
        const std::size_t frames =
            std::max<std::size_t>(1, std::min<std::size_t>(kBlock, stretcher.getSamplesRequired()));
        for (std::size_t c = 0; c < ch; ++c)
            for (std::size_t i = 0; i < frames; ++i)
                block[c][i] = static_cast<float>(Finite(
                    interleaved
                        [static_cast<std::size_t>((next + static_cast<std::int64_t>(i)) % n) * ch +
                         c]));
        next = (next + static_cast<std::int64_t>(frames)) % n;
        stretcher.process(block.Pointers(), frames, false);
        bool any = false;
        for (int available; (available = stretcher.available()) > 0;) {
            const std::size_t count = stretcher.retrieve(
                got.Pointers(), std::min<std::size_t>(kBlock, static_cast<std::size_t>(available)));
            any = any || count > 0;
            for (std::size_t i = 0; i < count; ++i) {
                if (toDrop > 0) {
                    --toDrop;
                    continue;
                }
                if (handed + static_cast<std::int64_t>(piece.size() / ch) == m)
                    break;
                for (std::size_t c = 0; c < ch; ++c)
                    piece.push_back(static_cast<double>(got[c][i]));
            }
            if (piece.size() / ch >= pieceFrames)
                flush();
            if (count == 0)
                break;
        }
        // A stretcher that takes frames and never gives any would feed for ever.
        idle = any ? 0 : idle + 1;
        if (idle > 4096)
            throw std::runtime_error("stretcher: no output");
    }
    flush();
}

} // namespace metronel
