// SPDX-License-Identifier: MIT
// Adjusting "acid", "smpl" and "cue " records to a sound brought to a new length.
#include "mdlMetadata.h"

#include "mdlBytes.h"
#include "mdlMain.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <optional>

namespace metronel {

namespace {

// Maps a source position to one of the output, or nothing when it falls outside a piece.
std::optional<std::uint32_t> MapPosition(const FrameMap& map, std::uint32_t position) {
    if (map.sourceFrames < 1 || map.count < 1)
        return std::nullopt;
    const double scaled = static_cast<double>(position) * static_cast<double>(map.frames) /
                          static_cast<double>(map.sourceFrames);
    const auto q = static_cast<std::int64_t>(RoundHalfEven(scaled)) - map.first;
    const bool piece = map.first != 0 || map.count != map.frames;
    if (piece && (q < 0 || q >= map.count))
        return std::nullopt;
    const std::int64_t last = map.count - 1;
    return static_cast<std::uint32_t>(q < 0 ? 0 : q > last ? last : q);
}

void AdjustSmpl(std::vector<std::byte>& b, const FrameMap& map) {
    constexpr std::size_t kHeader = 36, kLoop = 24;
    if (b.size() < kHeader)
        return;
    const std::uint32_t declared = static_cast<std::uint32_t>(GetLE(b, 28, 4));
    const std::size_t fit = (b.size() - kHeader) / kLoop;
    const std::size_t loops = declared < fit ? declared : fit;
    std::vector<std::byte> kept(b.begin(), b.begin() + kHeader);
    std::uint32_t count = 0;
    for (std::size_t i = 0; i < loops; ++i) {
        const std::size_t at = kHeader + i * kLoop;
        const auto start = MapPosition(map, static_cast<std::uint32_t>(GetLE(b, at + 8, 4)));
        const auto end = MapPosition(map, static_cast<std::uint32_t>(GetLE(b, at + 12, 4)));
        if (!start || !end)
            continue;
        kept.insert(kept.end(), b.begin() + static_cast<std::ptrdiff_t>(at),
                    b.begin() + static_cast<std::ptrdiff_t>(at + kLoop));
        PutLE(kept, kept.size() - kLoop + 8, *start, 4);
        PutLE(kept, kept.size() - kLoop + 12, *end, 4);
        ++count;
    }
    // The sampler's own data after the loops goes along unchanged.
    kept.insert(kept.end(), b.begin() + static_cast<std::ptrdiff_t>(kHeader + loops * kLoop),
                b.end());
    PutLE(kept, 28, count, 4);
    b = std::move(kept);
}

void AdjustCue(std::vector<std::byte>& b, const FrameMap& map) {
    constexpr std::size_t kHeader = 4, kPoint = 24;
    if (b.size() < kHeader)
        return;
    const std::uint32_t declared = static_cast<std::uint32_t>(GetLE(b, 0, 4));
    const std::size_t fit = (b.size() - kHeader) / kPoint;
    const std::size_t points = declared < fit ? declared : fit;
    std::vector<std::byte> kept(b.begin(), b.begin() + kHeader);
    std::uint32_t count = 0;
    for (std::size_t i = 0; i < points; ++i) {
        const std::size_t at = kHeader + i * kPoint;
        const auto offset = MapPosition(map, static_cast<std::uint32_t>(GetLE(b, at + 20, 4)));
        if (!offset)
            continue;
        kept.insert(kept.end(), b.begin() + static_cast<std::ptrdiff_t>(at),
                    b.begin() + static_cast<std::ptrdiff_t>(at + kPoint));
        const std::size_t put = kept.size() - kPoint;
        if (const auto position = MapPosition(map, static_cast<std::uint32_t>(GetLE(b, at + 4, 4))))
            PutLE(kept, put + 4, *position, 4);
        PutLE(kept, put + 20, *offset, 4);
        ++count;
    }
    kept.insert(kept.end(), b.begin() + static_cast<std::ptrdiff_t>(kHeader + points * kPoint),
                b.end());
    PutLE(kept, 0, count, 4);
    b = std::move(kept);
}

// A tape-style change of length moves the pitch by 12 log2(source / new length) semitones:
// the unity note (offset 12) and its fraction of a semitone upward (offset 16, in 2^-32)
// move with it, so a sampler still plays the sound in tune; kept within notes 0 to 127.
void MoveUnityNote(std::vector<std::byte>& b, const FrameMap& map) {
    if (b.size() < 20 || map.sourceFrames < 1 || map.frames < 1)
        return;
    constexpr double kOne = 4294967296.0;
    const double note =
        static_cast<double>(GetLE(b, 12, 4)) + static_cast<double>(GetLE(b, 16, 4)) / kOne +
        12 * std::log2(static_cast<double>(map.sourceFrames) / static_cast<double>(map.frames));
    // In 2^-32 semitones, rounded to the nearest; the fraction carries into the note.
    const double steps = std::nearbyint(std::clamp(note, 0.0, 128.0 - 1 / kOne) * kOne);
    const auto whole = static_cast<std::uint64_t>(steps);
    PutLE(b, 12, whole >> 32, 4);
    PutLE(b, 16, whole & 0xFFFFFFFFu, 4);
}

void AdjustAcid(std::vector<std::byte>& b, double bpm, double beats) {
    // A one-shot (flag bit 0) is a hit, not a loop: it has no tempo to follow.
    if (b.size() < 24 || (static_cast<std::uint8_t>(b[0]) & 1) != 0)
        return;
    const double rounded = RoundHalfEven(beats);
    PutLE(b, 12,
          rounded < 0            ? 0
          : rounded > UINT32_MAX ? UINT32_MAX
                                 : static_cast<std::uint32_t>(rounded),
          4);
    PutLE(b, 20, std::bit_cast<std::uint32_t>(static_cast<float>(bpm)), 4);
}

} // namespace

void AdjustMetadata(std::vector<WaveRecord>& records, const FrameMap& map, double bpm, double beats,
                    bool keepPitch) {
    for (WaveRecord& record : records) {
        if (record.id == FourCC("acid")) {
            AdjustAcid(record.bytes, bpm, beats);
        } else if (record.id == FourCC("smpl")) {
            if (!keepPitch)
                MoveUnityNote(record.bytes, map);
            AdjustSmpl(record.bytes, map);
        } else if (record.id == FourCC("fact")) {
            if (record.bytes.size() >= 4)
                PutLE(record.bytes, 0, static_cast<std::uint32_t>(map.count), 4);
        } else if (record.id == FourCC("cue "))
            AdjustCue(record.bytes, map);
    }
}

void StripMetadata(WaveFile& wave) {
    WaveRecord fmt = std::move(wave.records[wave.fmtIndex]);
    WaveRecord data = std::move(wave.records[wave.dataIndex]);
    const bool fmtFirst = wave.fmtIndex < wave.dataIndex;
    wave.records.clear();
    wave.records.push_back(std::move(fmtFirst ? fmt : data));
    wave.records.push_back(std::move(fmtFirst ? data : fmt));
    wave.fmtIndex = fmtFirst ? 0 : 1;
    wave.dataIndex = fmtFirst ? 1 : 0;
}

} // namespace metronel
