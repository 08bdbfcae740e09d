// SPDX-License-Identifier: MIT
#include "mdlLength.h"

#include "mdlHqResample.h"
#include "mdlKeepPitch.h"
#include "mdlMain.h"
#include "mdlWaveOut.h"

#include <algorithm>
#include <stdexcept>

namespace metronel {

namespace {

// Tells whether BringToLength gives "data" back as it is.
bool KeepsData(const WaveFile& wave, std::int32_t frames, Resampler resampler) {
    const std::int32_t align = wave.BlockAlign();
    return resampler == Resampler::Pick
               ? IsOwnLength(wave.DataSize(), WAVEFORMATINFO::FromBytes(wave.Fmt()), frames)
               : frames == wave.Frames() && align > 0 && wave.DataSize() % align == 0;
}

} // namespace

std::vector<std::byte> BringToLength(const WaveFile& wave, std::int32_t frames, Resampler resampler,
                                     bool loop) {
    const std::vector<std::byte>& data = wave.Data();
    if (KeepsData(wave, frames, resampler))
        return data;
    if (resampler == Resampler::Pick) {
        const WAVEFORMATINFO format = WAVEFORMATINFO::FromBytes(wave.Fmt());
        const auto dataSize = static_cast<std::int32_t>(data.size());
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
    const std::vector<double> samples = DecodeSamples(data, format);
    return EncodeSamples(BringSamplesToLength(wave, samples, frames, resampler, loop), format);
}

std::vector<double> BringSamplesToLength(const WaveFile& wave, std::span<const double> samples,
                                         std::int32_t frames, Resampler resampler, bool loop,
                                         const std::function<void()>& checkpoint) {
    return resampler == Resampler::KeepPitch
               ? StretchKeepPitch(samples, wave.Channels(), wave.Rate(), frames, loop, checkpoint)
               : ResampleLoopHq(samples, wave.Channels(), frames, loop);
}

std::int64_t LengthBytes(const WaveFile& wave, std::int32_t frames, Resampler resampler) {
    return KeepsData(wave, frames, resampler)
               ? wave.DataSize()
               : std::int64_t{frames} * std::max(wave.BlockAlign(), 0);
}

namespace {

// A sound this small is read once and held: a loop's wrap reads some of it twice.
constexpr std::int64_t kHoldBytes = std::int64_t{16} << 20;
// The most of the sound read at a time for one piece of frames picked.
constexpr std::int64_t kWindowBytes = std::int64_t{8} << 20;

// The sound of a file, read where it lies, or once whole when it is small.
class SoundReader {
public:
    explicit SoundReader(const SoundInFile& sound) : m_Sound(sound) {
        if (sound.size <= kHoldBytes) {
            m_Held.resize(static_cast<std::size_t>(sound.size));
            sound.Read(0, m_Held);
        }
    }
    void Read(std::int64_t offset, std::span<std::byte> bytes) const {
        if (m_Held.empty())
            m_Sound.Read(offset, bytes);
        else
            std::copy_n(m_Held.begin() + static_cast<std::ptrdiff_t>(offset), bytes.size(),
                        bytes.begin());
    }

private:
    const SoundInFile& m_Sound;
    std::vector<std::byte> m_Held;
};

// Copies count bytes of the sound from first on to put, a stretch at a time.
bool CopyBytes(const SoundReader& sound, std::int64_t first, std::int64_t count,
               const PutBytes& put) {
    std::vector<std::byte> buffer(static_cast<std::size_t>(std::min(count, kWindowBytes)));
    for (std::int64_t at = 0; at < count;) {
        const auto part = std::span(buffer).first(
            static_cast<std::size_t>(std::min<std::int64_t>(count - at, buffer.size())));
        sound.Read(first + at, part);
        if (!put(at, part))
            return false;
        at += static_cast<std::int64_t>(part.size());
    }
    return true;
}

// Writes frames first..first + count - 1 of the pick of n frames, at put's offset 0 on.
bool PutPicked(const SoundReader& sound, const WAVEFORMATINFO& format, std::int32_t dataSize,
               std::int32_t n, std::int32_t first, std::int32_t count, const PutBytes& put) {
    const std::int32_t align = format.BlockAlign;
    const std::int32_t sourceFrames =
        RoundToInt32(static_cast<double>(dataSize) / static_cast<double>(align));
    const std::int32_t wholeFrames = std::min(dataSize / align, sourceFrames);
    const std::int32_t pieceFrames =
        std::max<std::int32_t>(1, static_cast<std::int32_t>(kSavePieceBytes) / align);
    std::vector<std::byte> picked;
    if (wholeFrames < 1) { // nothing to pick from: silence, as PickFrames gives
        picked.assign(static_cast<std::size_t>(std::min(count, pieceFrames)) * align,
                      SilenceByte(format));
        for (std::int32_t at = 0; at < count; at += pieceFrames)
            if (!put(std::int64_t{at} * align,
                     std::span(picked).first(
                         static_cast<std::size_t>(std::min(pieceFrames, count - at)) * align)))
                return false;
        return true;
    }
    std::vector<std::byte> window;
    // A piece whose frames lie too far apart in the sound is halved until they do not (or
    // it is one frame): shrinking a long sound a lot never reads much of it at once.
    std::vector<std::pair<std::int32_t, std::int32_t>> todo;
    for (std::int32_t at = count; at > 0;) {
        const std::int32_t part = std::min(pieceFrames, at);
        at -= part;
        todo.emplace_back(first + at, part);
    }
    while (!todo.empty()) {
        const auto [from, frames] = todo.back();
        todo.pop_back();
        const auto [low, high] = SourceFramesOf(sourceFrames, wholeFrames, n, from, frames);
        const std::int64_t windowBytes = (std::int64_t{high} - low + 1) * align;
        if (windowBytes > kWindowBytes && frames > 1) {
            const std::int32_t half = frames / 2;
            todo.emplace_back(from + half, frames - half);
            todo.emplace_back(from, half);
            continue;
        }
        window.resize(static_cast<std::size_t>(windowBytes));
        sound.Read(std::int64_t{low} * align, window);
        picked.resize(static_cast<std::size_t>(frames) * align);
        ResampleFrameWindow(picked, window, low, sourceFrames, wholeFrames,
                            static_cast<std::int16_t>(align), n, from, frames);
        if (!put((std::int64_t{from} - first) * align, picked))
            return false;
    }
    return true;
}

// Raised through the resampler to stop it when a write fails.
struct PutFailed {};

// Writes the hq result whole at put's offset 0 on.
bool PutHq(const SoundReader& sound, const SampleFormat& format, std::int32_t dataSize,
           std::int32_t n, bool loop, const PutBytes& put) {
    const auto align = static_cast<std::size_t>(format.blockAlign);
    const std::int64_t sourceFrames = dataSize / format.blockAlign;
    std::vector<std::byte> bytes;
    try {
        ResampleLoopHq(
            [&](std::int64_t first, std::int64_t count, double* out) {
                bytes.resize(static_cast<std::size_t>(count) * align);
                sound.Read(first * static_cast<std::int64_t>(align), bytes);
                const std::vector<double> samples = DecodeSamples(bytes, format);
                std::copy(samples.begin(), samples.end(), out);
            },
            sourceFrames, format.channels, n, loop,
            [&](std::int64_t first, std::span<const double> frames) {
                if (!put(first * static_cast<std::int64_t>(align), EncodeSamples(frames, format)))
                    throw PutFailed();
            });
    } catch (const PutFailed&) {
        return false;
    }
    return true;
}

} // namespace

SoundMaker MakeLength(const WaveFile& wave, std::int32_t frames, Resampler resampler, bool loop,
                      std::int64_t firstByte, std::int64_t count) {
    if (!wave.soundInFile)
        throw std::invalid_argument("MakeLength: the sound is not left in its file");
    if (resampler == Resampler::KeepPitch)
        throw std::invalid_argument("MakeLength: keep-pitch needs the whole sound");
    const std::int64_t total = LengthBytes(wave, frames, resampler);
    if (count < 0)
        count = total - firstByte;
    const std::int32_t align = wave.BlockAlign();
    const bool whole = firstByte == 0 && count == total;
    if (firstByte < 0 || count < 0 || firstByte + count > total ||
        (!whole && (resampler != Resampler::Pick || firstByte % align != 0 || count % align != 0)))
        throw std::invalid_argument("MakeLength: not a part of the result");
    const SoundInFile file = *wave.soundInFile;
    const std::int32_t dataSize = file.size;
    SoundMaker maker;
    maker.size = count;
    if (KeepsData(wave, frames, resampler)) {
        // The sound's own length: its bytes as they are.
        maker.write = [file, firstByte, count](const PutBytes& put) {
            return CopyBytes(SoundReader(file), firstByte, count, put);
        };
    } else if (resampler == Resampler::Pick) {
        const WAVEFORMATINFO format = WAVEFORMATINFO::FromBytes(wave.Fmt());
        maker.write = [file, format, dataSize, frames, firstByte, count](const PutBytes& put) {
            return PutPicked(SoundReader(file), format, dataSize, frames,
                             static_cast<std::int32_t>(firstByte / format.BlockAlign),
                             static_cast<std::int32_t>(count / format.BlockAlign), put);
        };
    } else {
        const SampleFormat format = *SampleFormatFromFmt(wave.Fmt());
        maker.write = [file, format, dataSize, frames, loop](const PutBytes& put) {
            return PutHq(SoundReader(file), format, dataSize, frames, loop, put);
        };
    }
    return maker;
}

} // namespace metronel
