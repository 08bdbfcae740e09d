// SPDX-License-Identifier: MIT
// Save As: writing one wave file, safely, at the sound's own length or brought to a new one.
#include "mdlWaveOut.h"

#include "mdlFileName.h"
#include "mdlPiecePipeline.h"
#include "mdlSafeWrite.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <new>
#include <utility>

namespace metronel {

namespace {

// Writes path as "RIFF"/"WAVE" holding "fmt " and a "data" record of dataSize bytes, which
// fill(writer) writes. The file is made under a temporary name and takes path's name only
// once complete and on the disk, so an existing file of that name is never lost. A false
// from fill, a record that cannot be placed, or headers that do not reach the file make a
// write that failed; fill may instead set readFailed, for a sound it could not read whole.
// fill is given the temporary too, to start its writing to the disk early.
template <typename Fill>
WaveOutResult WriteWave(chunkwell::MediaSystemLicence& msl, const QString& path,
                        const WAVEFORMATINFO& format, std::size_t dataSize, bool overwrite,
                        Fill&& fill) {
    SafeWrite out(path);
    // The name is checked as creating it in place would have: a file held open by a reader
    // or writer, or one that may not be replaced, is refused before anything is written.
    if (!out.TargetFree(overwrite))
        return SystemFailure(chunkwell::mfec_CreateFileFailed, out.Error());
    if (dataSize > static_cast<std::size_t>(INT32_MAX))
        return WaveOutFailure(chunkwell::mfec_WriteToDataFailed);
    errno = 0;
    auto writer = msl.CreateMediaFile(NativeName(out.TempPath()).toStdString(), "RIFF", "WAVE");
    if (!writer) {
        WaveOutResult result = SystemFailure(chunkwell::mfec_CreateFileFailed, errno);
        result.errorCode = msl.Error();
        result.errorText = msl.DisplayError();
        return result; // a temporary left by a failed header write goes with out
    }
    bool written = false;
    bool readFailed = false;
    errno = 0;
    try {
        const auto fmt = format.ToBytes();
        const auto size = static_cast<std::int32_t>(dataSize);
        written = writer->CreateChild("fmt ", WAVEFORMATINFO::kSize) && writer->WriteRecord(fmt) &&
                  writer->CreateChild("data", size) &&
                  (size == 0 || fill(*writer, readFailed, out)) && writer->Finish();
    } catch (const chunkwell::MediaError&) {
        // A record that cannot be placed is a write that failed, not one to skip: skipping
        // would put the sound into the record before it.
        written = false;
    }
    const int writeError = errno;
    writer.reset(); // closes the file; its headers are written already
    if (readFailed)
        return WaveOutFailure(chunkwell::mfec_ReadDataFailed);
    if (!written)
        return SystemFailure(chunkwell::mfec_WriteToDataFailed, writeError);
    if (!out.Commit(overwrite))
        return SafeWriteFailure(out);
    return {};
}

// Starts the disk writing behind a long write, a stretch at a time, so that the flush before
// the file takes its name finds little left: the two then overlap instead of following
// each other.
class WritebackBehind {
public:
    WritebackBehind(SafeWrite& out, const chunkwell::MediaFileWriter& writer)
        : m_Out(out), m_Start(writer.RecordInfo().FileOffset), m_Done(m_Start) {}
    // Tells that the record's bytes up to end (from its start) are written.
    void Written(std::int64_t end) {
        end += m_Start;
        if (end - m_Done < kStretch)
            return;
        m_Out.StartWriteback(m_Done, end - m_Done);
        m_Done = end;
    }

private:
    static constexpr std::int64_t kStretch = std::int64_t{32} << 20;
    SafeWrite& m_Out;
    std::int64_t m_Start;
    std::int64_t m_Done;
};

// What SaveWaveAs needs to write a sound brought to n frames piece by piece.
struct PickedSound {
    std::span<const std::byte> source;
    std::int32_t sourceFrames = 0;
    const WAVEFORMATINFO* format = nullptr;
    std::int32_t n = 0;
    std::int32_t pieceFrames = 0;
    SoundBuffer pieces; // kPipelineSlots buffers of pieceFrames frames
};

// Writes the "data" record of sound, the last record added to writer, a piece at a time
// through the piece pipeline: picking (memory only) overlaps writing, and the new sound is
// never held whole. Returns false at the first piece that cannot be picked or written.
bool WritePickedPieces(chunkwell::MediaFileWriter& writer, PickedSound& sound, SafeWrite& out) {
    const WAVEFORMATINFO& format = *sound.format;
    const auto frameSize = static_cast<std::size_t>(format.BlockAlign);
    const std::int64_t pieces = (std::int64_t{sound.n} + sound.pieceFrames - 1) / sound.pieceFrames;
    const std::byte silence = SilenceByte(format);
    auto piece = [&](std::int64_t k) {
        const auto first = static_cast<std::int32_t>(k * sound.pieceFrames);
        const std::int32_t count = std::min(sound.pieceFrames, sound.n - first);
        const auto slot = static_cast<std::size_t>(k) % kPipelineSlots;
        return std::pair{first, sound.pieces.span().subspan(slot * sound.pieceFrames * frameSize,
                                                            count * frameSize)};
    };
    WritebackBehind writeback(out, writer);
    return RunPiecePipeline(
               pieces, [](std::int64_t) { return true; },
               [&](std::int64_t k) {
                   const auto [first, bytes] = piece(k);
                   ResampleFrameRange(bytes, sound.source, sound.sourceFrames, format.BlockAlign,
                                      sound.n, first,
                                      static_cast<std::int32_t>(bytes.size() / frameSize), silence);
               },
               [&](std::int64_t k) {
                   const auto [first, bytes] = piece(k);
                   if (!writer.WriteRecord(bytes, static_cast<std::int32_t>(first * frameSize),
                                           static_cast<std::int32_t>(bytes.size())))
                       return false;
                   writeback.Written(static_cast<std::int64_t>(first * frameSize + bytes.size()));
                   return true;
               }) == PipelineEnd::Done;
}

} // namespace

WaveOutResult WriteWaveFile(chunkwell::MediaSystemLicence& msl, const QString& path,
                            const WAVEFORMATINFO& format, std::span<const std::byte> data,
                            bool overwrite) {
    return WriteWave(msl, path, format, data.size(), overwrite,
                     [&](chunkwell::MediaFileWriter& writer, bool&, SafeWrite&) {
                         return writer.WriteRecord(data);
                     });
}

WaveOutResult SaveWaveAs(chunkwell::MediaSystemLicence& msl, const QString& path,
                         const WAVEFORMATINFO& format, std::span<const std::byte> source,
                         std::int32_t dataSize, std::int32_t n) {
    // Picking from a sound that is not all there would write silence as if it were music.
    if (dataSize < 0 || source.size() < static_cast<std::size_t>(dataSize))
        return WaveOutFailure(chunkwell::mfec_ReadDataFailed);
    source = source.first(static_cast<std::size_t>(dataSize));
    if (IsOwnLength(dataSize, format, n))
        return WriteWaveFile(msl, path, format, source, true);
    // The checks and the rounding of PickFrames; no frames to pick leaves "data" empty.
    if (n < 1 || format.BlockAlign < 1)
        return WriteWaveFile(msl, path, format, {}, true);
    const std::int64_t bytes = std::int64_t{format.BlockAlign} * n;
    PickedSound sound;
    const auto frameSize = static_cast<std::size_t>(format.BlockAlign);
    sound.pieceFrames = static_cast<std::int32_t>(
        std::min(kSavePieceBytes / frameSize, static_cast<std::size_t>(n))); // frames < 32 KiB
    try {
        sound.pieces = SoundBuffer(kPipelineSlots * frameSize * sound.pieceFrames);
    } catch (const std::bad_alloc&) {
        return WaveOutFailure(chunkwell::mfec_WriteToDataFailed);
    }
    sound.source = source;
    sound.sourceFrames =
        RoundToInt32(static_cast<double>(dataSize) / static_cast<double>(format.BlockAlign));
    sound.format = &format;
    sound.n = n;
    // A length past 32 bits is refused by WriteWave before anything is written.
    return WriteWave(msl, path, format, static_cast<std::size_t>(bytes), true,
                     [&](chunkwell::MediaFileWriter& writer, bool&, SafeWrite& out) {
                         return WritePickedPieces(writer, sound, out);
                     });
}

namespace {

// Copies the current record of source (dataSize bytes) into the "data" record last added to
// writer, in the kernel where it can. Sets readFailed when the file no longer holds them all.
bool CopySound(chunkwell::MediaFileWriter& writer, chunkwell::MediaFileReader& source,
               std::int32_t dataSize, bool& readFailed, SafeWrite& out) {
    // A stretch at a time, so the disk writes the copy while the rest is being copied.
    constexpr std::int32_t kStretch = std::int32_t{32} << 20;
    WritebackBehind writeback(out, writer);
    bool copied = true;
    for (std::int32_t at = 0; copied && at < dataSize;) {
        const std::int32_t size = std::min(kStretch, dataSize - at);
        copied = writer.WriteRecordFrom(source, at, at, size);
        at += size;
        writeback.Written(at);
    }
    // The file may have been cut short meanwhile: then it was the reading that failed.
    readFailed = !SoundIsWhole(source, dataSize);
    return copied && !readFailed;
}

} // namespace

namespace {

// Writes the "data" record last added to writer: the sound of source's current record brought
// to n frames, read from the file a window at a time instead of whole, through the piece
// pipeline (this thread reads and writes, the worker picks). Sets readFailed when the file
// does not hold the sound.
bool WriteStreamedPieces(chunkwell::MediaFileWriter& writer, chunkwell::MediaFileReader& source,
                         std::int32_t dataSize, const WAVEFORMATINFO& format, std::int32_t n,
                         bool& readFailed, SafeWrite& out) {
    const auto frameSize = static_cast<std::size_t>(format.BlockAlign);
    const std::int32_t sourceFrames =
        RoundToInt32(static_cast<double>(dataSize) / static_cast<double>(format.BlockAlign));
    const auto wholeFrames = static_cast<std::int32_t>(
        std::min<std::int64_t>(dataSize / format.BlockAlign, sourceFrames));
    const auto pieceFrames =
        static_cast<std::int32_t>(std::min<std::size_t>(kSavePieceBytes / frameSize, n));
    const std::int64_t pieces = (std::int64_t{n} + pieceFrames - 1) / pieceFrames;
    auto destinationOf = [&](std::int64_t k) {
        const auto first = static_cast<std::int32_t>(k * pieceFrames);
        return std::pair{first, std::min(pieceFrames, n - first)};
    };
    auto windowOf = [&](std::int64_t k) {
        const auto [first, count] = destinationOf(k);
        return SourceFramesOf(sourceFrames, wholeFrames, n, first, count);
    };
    std::size_t windowFrames = 1;
    for (std::int64_t k = 0; k < pieces; ++k) {
        const auto [from, to] = windowOf(k);
        windowFrames = std::max(windowFrames, static_cast<std::size_t>(to - from) + 1);
    }
    const std::size_t windowBytes = windowFrames * frameSize;
    const std::size_t pieceBytes = static_cast<std::size_t>(pieceFrames) * frameSize;
    SoundBuffer windows(kPipelineSlots * windowBytes);
    SoundBuffer picked(kPipelineSlots * pieceBytes);
    std::array<std::int32_t, kPipelineSlots> windowFirst{};

    auto read = [&](std::int64_t k) {
        const auto [from, to] = windowOf(k);
        const std::size_t slot = static_cast<std::size_t>(k) % kPipelineSlots;
        const auto bytes = static_cast<std::int32_t>((to - from + 1) * frameSize);
        windowFirst[slot] = from;
        return source.ReadRecord(windows.span().subspan(slot * windowBytes, bytes),
                                 static_cast<std::int32_t>(from * frameSize), bytes);
    };
    auto pick = [&](std::int64_t k) {
        const auto [first, count] = destinationOf(k);
        const std::size_t slot = static_cast<std::size_t>(k) % kPipelineSlots;
        ResampleFrameWindow(picked.span().subspan(slot * pieceBytes, pieceBytes),
                            windows.span().subspan(slot * windowBytes, windowBytes),
                            windowFirst[slot], sourceFrames, wholeFrames, format.BlockAlign, n,
                            first, count);
    };
    WritebackBehind writeback(out, writer);
    auto write = [&](std::int64_t k) {
        const auto [first, count] = destinationOf(k);
        const std::size_t slot = static_cast<std::size_t>(k) % kPipelineSlots;
        if (!writer.WriteRecord(picked.span().subspan(slot * pieceBytes, count * frameSize),
                                static_cast<std::int32_t>(first * frameSize),
                                static_cast<std::int32_t>(count * frameSize)))
            return false;
        writeback.Written((std::int64_t{first} + count) * static_cast<std::int64_t>(frameSize));
        return true;
    };
    auto fail = [&](bool reading) {
        readFailed = reading || !SoundIsWhole(source, dataSize);
        return false;
    };

    switch (RunPiecePipeline(pieces, read, pick, write)) {
    case PipelineEnd::Done:
        break;
    case PipelineEnd::PrepareFailed:
        return fail(true);
    case PipelineEnd::WorkFailed:
    case PipelineEnd::DeliverFailed:
        return fail(false);
    }
    // The file may have been cut short while it was read.
    readFailed = !SoundIsWhole(source, dataSize);
    return !readFailed;
}

} // namespace

WaveOutResult SaveSoundAs(chunkwell::MediaSystemLicence& msl, const QString& path,
                          const WAVEFORMATINFO& format, chunkwell::MediaFileReader& reader,
                          std::int32_t dataSize, std::int32_t n) {
    RemoveStaleTemporaries(GetFolder(path));
    try {
        if (!SoundIsWhole(reader, dataSize))
            return WaveOutFailure(chunkwell::mfec_ReadDataFailed);
        if (IsOwnLength(dataSize, format, n))
            return WriteWave(
                msl, path, format, static_cast<std::size_t>(dataSize), true,
                [&](chunkwell::MediaFileWriter& writer, bool& readFailed, SafeWrite& out) {
                    return CopySound(writer, reader, dataSize, readFailed, out);
                });
        if (n < 1 || format.BlockAlign < 1)
            return WriteWaveFile(msl, path, format, {}, true);
        if (std::int64_t{format.BlockAlign} * n > INT32_MAX)
            return WaveOutFailure(chunkwell::mfec_WriteToDataFailed);
        // Stretched or shrunk up to a half, each piece's frames lie in a window of the sound
        // at most about twice its size: read those windows, never the whole sound. Shrunk
        // further, windows would outgrow the pieces, and the sound is read whole.
        if (dataSize >= format.BlockAlign && n >= 2 &&
            static_cast<double>(dataSize / format.BlockAlign) <= 2.0 * (n - 1))
            return WriteWave(
                msl, path, format, static_cast<std::size_t>(std::int64_t{format.BlockAlign} * n),
                true, [&](chunkwell::MediaFileWriter& writer, bool& readFailed, SafeWrite& out) {
                    return WriteStreamedPieces(writer, reader, dataSize, format, n, readFailed,
                                               out);
                });
        SoundBuffer source;
        if (!ReadSound(reader, dataSize, source))
            return WaveOutFailure(chunkwell::mfec_ReadDataFailed);
        return SaveWaveAs(msl, path, format, source.span(), dataSize, n);
    } catch (const std::bad_alloc&) {
        return WaveOutFailure(chunkwell::mfec_WriteToDataFailed);
    }
}

} // namespace metronel
