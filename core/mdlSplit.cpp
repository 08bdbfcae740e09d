// SPDX-License-Identifier: MIT
// Split As: cutting a sound into numbered pieces of equal length, the plan and the writing
// shared by the window and the command line.
#include "mdlWaveOut.h"

#include "mdlFileName.h"
#include "mdlSafeWrite.h"

#include <unistd.h>

#include <algorithm>
#include <memory>

namespace metronel {

QString SplitPieceName(const QString& baseName, int k, int digits) {
    return baseName + u'[' + QStringLiteral("%1").arg(k, digits, 10, QChar(u'0')) +
           QStringLiteral("].wav");
}

std::int32_t FramesPerPart(std::int32_t totalFrames, std::uint8_t parts) {
    if (parts == 0)
        throw CalcError("division by zero");
    return RoundToInt32(static_cast<double>(totalFrames) / static_cast<double>(parts));
}

SplitPlan PlanSplit(std::size_t bytes, std::int32_t blockAlign, std::uint8_t parts,
                    const QString& baseName, int digits) {
    if (blockAlign < 1)
        throw CalcError("no frames: block align below 1");
    SplitPlan plan;
    plan.totalFrames = RoundToInt32(static_cast<double>(bytes) / static_cast<double>(blockAlign));
    // Rounding up must not count an incomplete frame at the end: it is not there to write.
    plan.totalFrames = static_cast<std::int32_t>(
        std::min<std::int64_t>(plan.totalFrames, bytes / static_cast<std::size_t>(blockAlign)));
    plan.framesPerPart = FramesPerPart(plan.totalFrames, parts);
    std::int32_t remaining = plan.totalFrames;
    for (int k = 1; k <= parts; ++k) {
        const std::int32_t count = std::min(remaining, plan.framesPerPart);
        plan.pieces.push_back(
            {plan.totalFrames - remaining, count, SplitPieceName(baseName, k, digits)});
        remaining -= count;
    }
    return plan;
}

SplitResult WriteSplitPieces(chunkwell::MediaSystemLicence& msl, const SplitPlan& plan,
                             SplitCommit commit, bool replace,
                             const std::function<WaveFile(std::size_t k)>& makePiece,
                             SplitProgress* progress) {
    SplitResult split;
    std::vector<std::unique_ptr<SafeWrite>> safes;
    // All or none: a name that is taken is refused before anything is written.
    if (commit == SplitCommit::AllOrNone)
        for (const SplitPlan::Piece& piece : plan.pieces) {
            safes.push_back(std::make_unique<SafeWrite>(piece.name));
            if (!safes.back()->TargetFree(replace)) {
                split.failure = TargetRefusal(*safes.back());
                split.failedName = piece.name;
                return split;
            }
        }
    for (std::size_t k = 0; k < plan.pieces.size(); ++k) {
        split.failedName = plan.pieces[k].name;
        if (commit == SplitCommit::EachPiece) {
            SafeWrite safe(plan.pieces[k].name);
            if (!safe.TargetFree(replace)) {
                split.failure = TargetRefusal(safe);
                return split;
            }
            if (WaveOutResult written = WriteWaveTemporary(msl, safe, makePiece(k));
                !written.Written()) {
                split.failure = written;
                return split;
            }
            if (!safe.Commit(replace)) {
                split.failure = SafeWriteFailure(safe);
                return split;
            }
            ++split.complete;
        } else if (WaveOutResult written = WriteWaveTemporary(msl, *safes[k], makePiece(k));
                   !written.Written()) {
            split.failure = written;
            return split;
        }
        split.failedName.clear();
        if (progress) {
            progress->SetValue(static_cast<int>(k) + 1);
            progress->ProcessEvents();
        }
    }
    if (commit == SplitCommit::AllOrNone)
        for (std::size_t k = 0; k < safes.size(); ++k) {
            if (!safes[k]->Commit(replace)) {
                // Only a name taken since the check, or a failing disk. Without replacing,
                // the pieces already named were new, and go; replacing, they took the place
                // of older ones and are kept.
                for (std::size_t named = 0; named < k && !replace; ++named)
                    ::unlink(NativeName(plan.pieces[named].name).constData());
                split.failure = SafeWriteFailure(*safes[k]);
                split.failedName = plan.pieces[k].name;
                split.complete = replace ? static_cast<int>(k) : 0;
                return split;
            }
            ++split.complete;
        }
    return split;
}

SplitResult WriteSplitFiles(std::span<const std::byte> frames, const WAVEFORMATINFO& formatRecord,
                            std::uint8_t parts, const QString& baseName,
                            chunkwell::MediaSystemLicence& msl, SplitProgress& progress) {
    const std::int16_t blockAlign = formatRecord.BlockAlign;
    const SplitPlan plan = PlanSplit(frames.size(), blockAlign, parts, baseName);
    RemoveStaleTemporaries(GetFolder(baseName));

    // A range of one value shows nothing; with one piece, 0..1 lets the bar fill.
    const int minimum = parts == 1 ? 0 : 1;
    progress.SetRange(minimum, parts);
    progress.SetValue(minimum);
    const auto fmt = formatRecord.ToBytes();
    const SplitResult split = WriteSplitPieces(
        msl, plan, SplitCommit::EachPiece, false,
        [&](std::size_t k) {
            const SplitPlan::Piece& piece = plan.pieces[k];
            const auto frameBytes = static_cast<std::size_t>(blockAlign);
            const auto start =
                frames.begin() + static_cast<std::ptrdiff_t>(piece.first * frameBytes);
            WaveFile wave;
            wave.records.push_back({FourCC("fmt "), {fmt.begin(), fmt.end()}});
            wave.records.push_back(
                {FourCC("data"),
                 {start, start + static_cast<std::ptrdiff_t>(piece.count * frameBytes)}});
            wave.fmtIndex = 0;
            wave.dataIndex = 1;
            return wave;
        },
        &progress);
    progress.SetValue(minimum);
    return split;
}

} // namespace metronel
