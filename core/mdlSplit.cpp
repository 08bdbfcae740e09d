// SPDX-License-Identifier: MIT
// Split As: cutting a sound into numbered pieces of equal length.
#include "mdlWaveOut.h"

#include "mdlSafeWrite.h"

#include <algorithm>

namespace metronel {

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
