// SPDX-License-Identifier: MIT
// Writes the demo loop the run script opens: two bars of 4/4 clicks at 120 bpm, 44100 Hz,
// 16-bit stereo, so the program shows Samples 176400 and Bpm 120 for 2 bars.
#include "mdlMain.h"

#include <chunkwell/MediaSystemLicence.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

namespace {
constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr int kBeats = 4;
constexpr int kBars = 2;
constexpr int kBpm = 120;
constexpr int kFramesPerBeat = kRate * 60 / kBpm;

// One beat: a short decaying tone, higher on the first beat of a bar.
void AddClick(std::vector<std::int16_t>& samples, int beat) {
    const double pitch = beat % kBeats == 0 ? 1760.0 : 880.0;
    const int length = kRate / 25;
    for (int i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double value =
            0.6 * std::exp(-t * 90.0) * std::sin(2.0 * std::numbers::pi * pitch * t);
        const auto sample = static_cast<std::int16_t>(std::lround(value * 32767.0));
        const std::size_t frame = static_cast<std::size_t>(beat) * kFramesPerBeat + i;
        for (int c = 0; c < kChannels; ++c)
            samples[frame * kChannels + c] = sample;
    }
}
} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.wav\n", argv[0]);
        return 2;
    }
    std::vector<std::int16_t> samples(std::size_t{kFramesPerBeat} * kBeats * kBars * kChannels);
    for (int beat = 0; beat < kBeats * kBars; ++beat)
        AddClick(samples, beat);
    std::vector<std::byte> data;
    data.reserve(samples.size() * 2);
    for (std::int16_t s : samples) {
        const auto u = static_cast<std::uint16_t>(s);
        data.push_back(static_cast<std::byte>(u & 0xFF));
        data.push_back(static_cast<std::byte>(u >> 8));
    }

    metronel::WAVEFORMATINFO format;
    format.FormatTag = 1;
    format.Channels = kChannels;
    format.SamplesPerSec = kRate;
    format.BlockAlign = kChannels * 2;
    format.AvgBytesPerSec = kRate * format.BlockAlign;
    format.BitsPerSample = 16;
    const auto fmt = format.ToBytes();

    chunkwell::MediaSystemLicence msl;
    auto writer = msl.CreateMediaFile(argv[1], "RIFF", "WAVE", true);
    if (!writer) {
        std::fprintf(stderr, "%s: %s\n", argv[1], msl.DisplayError().c_str());
        return 1;
    }
    const bool written = writer->CreateChild("fmt ", static_cast<std::int32_t>(fmt.size())) &&
                         writer->WriteRecord(fmt) &&
                         writer->CreateChild("data", static_cast<std::int32_t>(data.size())) &&
                         writer->WriteRecord(data);
    writer.reset(); // writes the container size back and closes the file
    if (!written) {
        std::fprintf(stderr, "%s: writing failed\n", argv[1]);
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
