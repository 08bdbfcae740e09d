// SPDX-License-Identifier: MIT
#pragma once

// Measures how clean a looped tone is, for the tests of the core and of the window.

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace metronel::testing {

// How far (dB) everything but a tone of `cycles` whole cycles lies below the tone in channel
// `channel`: the tone is fitted by least squares over the whole circle and subtracted.
// With seamWindow > 0 only the residual within that many frames of the seam counts, the
// loop being played twice. startPhase receives the fitted tone's phase at frame 0.
inline double ToneClearance(const std::vector<double>& y, int channels, int channel, int cycles,
                            std::int64_t seamWindow = 0, double* startPhase = nullptr) {
    const auto frames = static_cast<std::int64_t>(y.size()) / channels;
    auto at = [&](std::int64_t k) { return y[static_cast<std::size_t>(k * channels + channel)]; };
    auto phase = [&](std::int64_t k) {
        return 2 * std::numbers::pi * cycles * static_cast<double>(k) / static_cast<double>(frames);
    };
    double a = 0, b = 0;
    for (std::int64_t k = 0; k < frames; ++k) {
        a += at(k) * std::cos(phase(k));
        b += at(k) * std::sin(phase(k));
    }
    a *= 2.0 / static_cast<double>(frames);
    b *= 2.0 / static_cast<double>(frames);
    if (startPhase)
        *startPhase = std::atan2(a, b);
    double residual = 0;
    std::int64_t counted = 0;
    for (std::int64_t k = 0; k < frames; ++k) {
        if (seamWindow > 0 && k >= seamWindow && k < frames - seamWindow)
            continue;
        const double r = at(k) - a * std::cos(phase(k)) - b * std::sin(phase(k));
        residual += r * r;
        ++counted;
    }
    const double tone = (a * a + b * b) / 2;
    return 10 * std::log10(tone / (residual / static_cast<double>(counted)));
}

} // namespace metronel::testing
