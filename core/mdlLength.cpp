// SPDX-License-Identifier: MIT
#include "mdlLength.h"

#include "mdlHqResample.h"
#include "mdlKeepPitch.h"
#include "mdlMain.h"
#include "mdlWaveOut.h"

namespace metronel {

std::vector<std::byte> BringToLength(const WaveFile& wave, std::int32_t frames, Resampler resampler,
                                     bool loop) {
    const std::vector<std::byte>& data = wave.Data();
    if (resampler == Resampler::Pick) {
        const WAVEFORMATINFO format = WAVEFORMATINFO::FromBytes(wave.Fmt());
        const auto dataSize = static_cast<std::int32_t>(data.size());
        if (IsOwnLength(dataSize, format, frames))
            return data;
        // PickFrames' own rounding and silence, picked straight into the record's buffer:
        // for a batch of small loops, a mapping per file costs more than the picking.
        const std::int32_t sourceFrames =
            RoundToInt32(static_cast<double>(dataSize) / static_cast<double>(format.BlockAlign));
        std::vector<std::byte> picked(static_cast<std::size_t>(frames) *
                                      static_cast<std::size_t>(format.BlockAlign));
        ResampleFrames(picked, data, sourceFrames, format.BlockAlign, frames, SilenceByte(format));
        return picked;
    }
    const SampleFormat format = *SampleFormatFromFmt(wave.Fmt());
    if (frames == wave.Frames() && data.size() % static_cast<std::size_t>(format.blockAlign) == 0)
        return data;
    const std::vector<double> samples = DecodeSamples(data, format);
    const std::vector<double> resampled =
        resampler == Resampler::KeepPitch
            ? StretchKeepPitch(samples, format.channels, wave.Rate(), frames, loop)
            : ResampleLoopHq(samples, format.channels, frames, loop);
    return EncodeSamples(resampled, format);
}

} // namespace metronel
