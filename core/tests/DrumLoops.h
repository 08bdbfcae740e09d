// SPDX-License-Identifier: MIT
#pragma once

// Drum and tonal loops made of synthesized hits at exact positions, and "acid" records,
// for tests of the bars and beats a loop holds.

#include "mdlHqResample.h"
#include "mdlWaveFile.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

namespace metronel::testing {

inline constexpr int kRate = 44100;

// A repeatable noise source, the same on every machine.
class Noise {
public:
    double Next() {
        m_State = m_State * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(m_State >> 11) / static_cast<double>(1ull << 53) * 2 - 1;
    }

private:
    std::uint64_t m_State = 22;
};

// Returns a hit: 'K' a falling sine, 'S' a tone under noise, 'H' a short bright noise,
// 'P' a plucked note of hz.
inline std::vector<double> Hit(char kind, Noise& noise, double hz = 220) {
    std::vector<double> hit(static_cast<std::size_t>(kRate * 0.35));
    double phase = 0, previous = 0;
    for (std::size_t i = 0; i < hit.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double n = noise.Next();
        switch (kind) {
        case 'K':
            phase += 2 * std::numbers::pi * (50 + 120 * std::exp(-t * 30)) / kRate;
            hit[i] = std::sin(phase) * std::exp(-t * 12);
            break;
        case 'S':
            phase += 2 * std::numbers::pi * 190 / kRate;
            hit[i] = (0.4 * std::sin(phase) + 0.5 * n) * std::exp(-t * 20);
            break;
        case 'H':
            hit[i] = 0.3 * (n - previous) * std::exp(-t * 50);
            break;
        default:
            for (int h = 1; h <= 4; ++h)
                hit[i] += std::sin(2 * std::numbers::pi * hz * h * t) * std::exp(-t * 4 * h) / h;
            hit[i] *= 0.4 * std::min(1.0, t * 400);
        }
        previous = n;
    }
    return hit;
}

// A loop of bars bars at bpm: each pattern line is an instrument letter and one mark a
// sixteenth ('X' loud, 'x' soft) for a bar of `beats` beats; swing delays the off
// sixteenths by that share of a sixteenth. Hits that run past the end sound at the start,
// as a loop does. Stereo, 16-bit.
inline WaveFile DrumLoop(double bpm, int bars, int beats, const std::vector<std::string>& pattern,
                         double swing = 0) {
    const auto frames = static_cast<std::int64_t>(std::llround(60.0 * kRate * bars * beats / bpm));
    std::vector<double> stereo(static_cast<std::size_t>(frames) * 2);
    Noise noise;
    const double sixteenth = static_cast<double>(frames) / (bars * beats * 4);
    for (int bar = 0; bar < bars; ++bar)
        for (const std::string& line : pattern)
            for (std::size_t step = 1; step < line.size(); ++step) {
                if (line[step] == '.')
                    continue;
                const auto s = static_cast<double>(bar * beats * 4) + static_cast<double>(step - 1);
                const double late = (step - 1) % 2 == 1 ? swing : 0;
                const auto at = static_cast<std::int64_t>((s + late) * sixteenth);
                const double gain = line[step] == 'X' ? 0.5 : 0.2;
                const std::vector<double> hit = Hit(line[0], noise, 110.0 * (1 + (step - 1) % 3));
                for (std::size_t i = 0; i < hit.size(); ++i) {
                    const auto f =
                        static_cast<std::size_t>((at + static_cast<std::int64_t>(i)) % frames);
                    stereo[2 * f] += gain * hit[i];
                    stereo[2 * f + 1] += gain * hit[i];
                }
            }
    WaveFile wave;
    std::vector<std::byte> fmt;
    for (auto [value, bytes] :
         {std::pair<std::uint32_t, int>{1, 2}, {2, 2}, {kRate, 4}, {kRate * 4, 4}, {4, 2}, {16, 2}})
        for (int i = 0; i < bytes; ++i)
            fmt.push_back(static_cast<std::byte>(value >> (8 * i)));
    wave.records.push_back({FourCC("fmt "), fmt});
    wave.records.push_back(
        {FourCC("data"), EncodeSamples(stereo, SampleFormat{SampleFormat::Kind::Pcm, 16, 2, 4})});
    wave.dataIndex = 1;
    return wave;
}

// An "acid" record: flags, beats in the sound, the meter's numerator, tempo.
inline WaveRecord Acid(std::uint32_t flags, std::uint32_t beats, std::uint16_t above, float tempo) {
    std::vector<std::byte> b(24);
    auto put = [&](std::size_t at, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            b[at + static_cast<std::size_t>(i)] = static_cast<std::byte>(v >> (8 * i));
    };
    put(0, flags, 4);
    put(12, beats, 4);
    put(16, 4, 2);
    put(18, above, 2);
    put(20, std::bit_cast<std::uint32_t>(tempo), 4);
    return {FourCC("acid"), b};
}

} // namespace metronel::testing
