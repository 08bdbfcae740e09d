// SPDX-License-Identifier: MIT
// tempo, split and info: each reads its files through Chunkwell, works out the new length
// with the window's formulas, and writes through the safe-write routine.
#include "cliCommands.h"

#include "cliBatch.h"
#include "cliMeter.h"
#include "mdlFileName.h"
#include "mdlLength.h"
#include "mdlMain.h"
#include "mdlMetadata.h"
#include "mdlSafeWrite.h"
#include "mdlWaveOut.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <memory>
#include <optional>
#include <set>
#include <system_error>

namespace metronel::cli {

namespace {

// Makes the output folder out, or says why it cannot.
bool MakeOutputFolder(const QString& out) {
    if (const int error = MakeFolders(out); error != 0) {
        PrintError(NameBytes(out) + ": cannot make the folder: " +
                   std::error_code(error, std::generic_category()).message());
        return false;
    }
    return true;
}

std::string Number(double value) {
    return DoubleText(value).toStdString();
}

// Whether out names a folder: more than one input, an existing folder, or a trailing "/".
bool IsFolderOut(const QStringList& files, const QString& out) {
    return files.size() > 1 || IsFolder(out) || out.endsWith(u'/');
}

// About the most one file's work holds. Pick and hq stream the sound through a few MiB, plus
// the records other than "data" (a small file's sound is held once); keep-pitch holds the
// samples as doubles before and after (up to eight times an 8-bit sample each) and the
// stretcher's output in single precision.
std::int64_t Memory(const QString& file, Resampler resampler) {
    const std::int64_t size = FileSize(file);
    if (resampler == Resampler::KeepPitch)
        return size * 28;
    return std::min<std::int64_t>(size * 3, std::int64_t{64} << 20);
}

} // namespace

MeterRequest RequestOf(const TempoOptions& options) {
    MeterRequest request;
    if (options.barsGiven)
        request.bars = options.bars;
    if (options.beatsGiven)
        request.beats = options.beats;
    request.guess = options.guessBars;
    request.low = options.guessLow;
    request.high = options.guessHigh;
    return request;
}

std::optional<TempoPlan> PlanTempo(const WaveFile& wave, const TempoOptions& options,
                                   std::string& error) {
    TempoPlan plan;
    const std::int32_t rate = wave.Rate();
    try {
        plan.sourceFrames = RoundToInt32(static_cast<double>(wave.DataSize()) /
                                         static_cast<double>(wave.BlockAlign()));
        const auto choice = ChooseMeter(wave, RequestOf(options));
        if (!choice) {
            error = "no bar count from 1 to 64 puts the tempo between " + Number(options.guessLow) +
                    " and " + Number(options.guessHigh) + " bpm";
            return std::nullopt;
        }
        plan.bars = choice->meter.bars;
        plan.beats = choice->meter.beatsPerBar;
        plan.source = choice->meter.source;
        plan.recordTempo = choice->recordTempo;
        const double value = options.target.value;
        switch (options.target.kind) {
        case Target::Kind::None:
            plan.frames = plan.sourceFrames;
            break;
        case Target::Kind::Bpm:
            plan.frames = SamplesFromBpm(value, rate, plan.bars, plan.beats);
            break;
        case Target::Kind::Samples:
            plan.frames = RoundToInt32(value);
            break;
        case Target::Kind::Semitones:
            plan.frames = ShiftBySemitones(plan.sourceFrames, RoundToInt32(value));
            break;
        case Target::Kind::Factor:
            if (!(value > 0))
                throw CalcError("the factor must be above 0");
            plan.frames = RoundToInt32(static_cast<double>(plan.sourceFrames) / value);
            break;
        }
        if (plan.frames < 1) {
            error = "the new length is below one frame";
            return std::nullopt;
        }
        // The whole file's size: what cannot be written is refused before the sound is read.
        std::int64_t container =
            4 + 8 + (std::int64_t{plan.frames} * wave.BlockAlign() + 1) / 2 * 2;
        for (std::size_t i = 0; i < wave.records.size(); ++i)
            if (i != wave.dataIndex && (!options.stripMetadata || i == wave.fmtIndex))
                container +=
                    8 + (static_cast<std::int64_t>(wave.records[i].bytes.size()) + 1) / 2 * 2;
        if (container > INT32_MAX) {
            error = "the new sound would not fit in a wave file (2 GiB)";
            return std::nullopt;
        }
        plan.bpm = BpmFromSamples(plan.frames, rate, plan.bars, plan.beats);
    } catch (const CalcError& fault) {
        error = std::string("the tempo cannot be worked out: ") + fault.what();
        return std::nullopt;
    }
    return plan;
}

namespace {

// Reads file into wave and works out its target; nothing, with error set, when either fails.
std::optional<TempoPlan> ReadAndPlan(chunkwell::MediaSystemLicence& msl, const QString& file,
                                     const TempoOptions& options, WaveFile& wave,
                                     std::string& error) {
    // The sound stays in the file until the plan is made: a length that cannot be written is
    // refused before it is read.
    if (const WaveOutResult read = ReadWave(msl, file, wave, SoundRead::Later); !read.Written()) {
        error = Reason(read);
        return std::nullopt;
    }
    auto plan = PlanTempo(wave, options, error);
    // Keep-pitch hears the whole sound at once.
    if (plan && options.resampler == Resampler::KeepPitch)
        HoldSound(wave);
    return plan;
}

} // namespace

int RunTempo(const QStringList& files, const QString& out, const TempoOptions& options) {
    const bool folder = IsFolderOut(files, out);
    if (folder && !MakeOutputFolder(out))
        return 1;
    std::vector<BatchItem> items;
    std::set<QString> outputs;
    for (const QString& file : files) {
        const QString output = folder ? QDir(out).filePath(QFileInfo(file).fileName()) : out;
        const bool duplicate = !outputs.insert(AbsoluteName(output)).second;
        items.push_back(
            {file,
             [=](chunkwell::MediaSystemLicence& msl) -> FileOutcome {
                 if (duplicate)
                     return {"another input is written to " + NameBytes(output), {}, {}};
                 WaveFile wave;
                 std::string error;
                 const auto plan = ReadAndPlan(msl, file, options, wave, error);
                 if (!plan)
                     return {error, {}, {}};
                 if (wave.soundInFile)
                     wave.maker = std::make_shared<SoundMaker>(
                         MakeLength(wave, plan->frames, options.resampler, !options.oneShot));
                 else
                     wave.Data() =
                         BringToLength(wave, plan->frames, options.resampler, !options.oneShot);
                 if (options.stripMetadata)
                     StripMetadata(wave);
                 else
                     AdjustMetadata(wave.records,
                                    {plan->sourceFrames, plan->frames, 0, plan->frames}, plan->bpm,
                                    double{plan->bars} * plan->beats,
                                    options.resampler == Resampler::KeepPitch);
                 if (const WaveOutResult written = WriteWave(msl, output, wave, options.force);
                     !written.Written())
                     return {NameBytes(output) + ": " + Reason(written), {}, {}};
                 return {{},
                         "wrote " + NameBytes(output) + " (" + std::to_string(plan->frames) +
                             " frames, " + ShortNumber(plan->bpm) + " bpm); " +
                             MeterText({plan->bars, plan->beats, plan->source}, plan->recordTempo),
                         wave.warning};
             },
             Memory(file, options.resampler)});
    }
    // Leftovers of an earlier run that was killed; recent ones may be another run's.
    RemoveStaleTemporaries(folder ? out : FolderOf(out));
    return RunBatch(items, options.jobs, "written");
}

int RunSplit(const QStringList& files, const QString& out, int parts, int digits,
             const TempoOptions& options) {
    const bool folder = IsFolderOut(files, out);
    if (folder && !MakeOutputFolder(out))
        return 1;
    std::vector<BatchItem> items;
    for (const QString& file : files) {
        const QString baseName = folder
                                     ? QDir(out).filePath(SplitBaseName(QFileInfo(file).fileName()))
                                     : SplitBaseName(out);
        items.push_back(
            {file,
             [=](chunkwell::MediaSystemLicence& msl) -> FileOutcome {
                 WaveFile wave;
                 std::string error;
                 const auto plan = ReadAndPlan(msl, file, options, wave, error);
                 if (!plan)
                     return {error, {}, {}};
                 // Picked pieces come straight from the file. The hq sound is made once into a
                 // hidden file beside the pieces and cut from there, never held whole; only
                 // keep-pitch works in memory.
                 const bool streamed = options.resampler != Resampler::KeepPitch;
                 std::vector<std::byte> frames;
                 std::optional<SafeWrite> made;
                 WaveFile source; // where the pieces' sound comes from
                 Resampler cut = options.resampler;
                 std::int32_t sourceLength = plan->frames;
                 if (!streamed) {
                     frames =
                         BringToLength(wave, plan->frames, options.resampler, !options.oneShot);
                     wave.Data().clear();
                     wave.Data().shrink_to_fit();
                 } else if (options.resampler == Resampler::Hq) {
                     made.emplace(baseName + ".wav");
                     WaveFile whole = wave;
                     StripMetadata(whole);
                     whole.maker = std::make_shared<SoundMaker>(
                         MakeLength(wave, plan->frames, Resampler::Hq, !options.oneShot));
                     if (WaveOutResult written = WriteWaveTemporary(msl, *made, whole);
                         !written.Written())
                         return {NameBytes(baseName) + ": " + Reason(written), {}, {}};
                     if (WaveOutResult read =
                             ReadWave(msl, made->TempPath(), source, SoundRead::Later);
                         !read.Written())
                         return {NameBytes(baseName) + ": " + Reason(read), {}, {}};
                     cut = Resampler::Pick; // at its own length: the bytes as they are
                     sourceLength = source.Frames();
                 } else {
                     source = wave;
                 }
                 const auto align = static_cast<std::size_t>(wave.BlockAlign());
                 const SplitPlan split = PlanSplit(
                     streamed ? static_cast<std::size_t>(LengthBytes(source, sourceLength, cut))
                              : frames.size(),
                     wave.BlockAlign(), static_cast<std::uint8_t>(parts), baseName, digits);
                 // A file half split leaves no piece, and replaces nothing.
                 const SplitResult written = WriteSplitPieces(
                     msl, split, SplitCommit::AllOrNone, options.force, [&](std::size_t k) {
                         const SplitPlan::Piece& at = split.pieces[k];
                         WaveFile piece = wave;
                         if (streamed) {
                             piece.maker = std::make_shared<SoundMaker>(
                                 MakeLength(source, sourceLength, cut, !options.oneShot,
                                            static_cast<std::int64_t>(at.first * align),
                                            static_cast<std::int64_t>(at.count * align)));
                         } else {
                             const auto start =
                                 frames.begin() + static_cast<std::ptrdiff_t>(at.first * align);
                             piece.Data().assign(
                                 start, start + static_cast<std::ptrdiff_t>(at.count * align));
                         }
                         if (options.stripMetadata)
                             StripMetadata(piece);
                         else
                             AdjustMetadata(
                                 piece.records,
                                 {plan->sourceFrames, split.totalFrames, at.first, at.count},
                                 plan->bpm,
                                 double{plan->bars} * plan->beats * at.count /
                                     std::max<std::int32_t>(split.totalFrames, 1),
                                 options.resampler == Resampler::KeepPitch);
                         return piece;
                     });
                 if (!written.failure.Written())
                     return {
                         NameBytes(written.failedName) + ": " + Reason(written.failure), {}, {}};
                 std::vector<std::int32_t> counts;
                 for (const SplitPlan::Piece& at : split.pieces)
                     counts.push_back(at.count);
                 return {{},
                         "wrote " + PiecesText(counts) + " (" + ShortNumber(plan->bpm) + " bpm); " +
                             MeterText({plan->bars, plan->beats, plan->source}, plan->recordTempo),
                         wave.warning};
             },
             Memory(file, options.resampler)});
    }
    RemoveStaleTemporaries(folder ? out : FolderOf(out));
    return RunBatch(items, options.jobs, "split");
}

} // namespace metronel::cli
