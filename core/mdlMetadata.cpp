// SPDX-License-Identifier: MIT
// Adjusting "acid", "smpl" and "cue " records to a sound brought to a new length.
#include "mdlMetadata.h"

#include <bit>
#include <cmath>
#include <optional>

namespace metronel {

namespace {

std::uint32_t GetU32(const std::vector<std::byte>& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | std::to_integer<std::uint32_t>(b[at + static_cast<std::size_t>(i)]);
    return v;
}

void PutU32(std::vector<std::byte>& b, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::byte>(v >> (8 * i));
}

// Maps a source position to one of the output, or nothing when it falls outside a piece.
std::optional<std::uint32_t> MapPosition(const FrameMap& map, std::uint32_t position) {
    if (map.sourceFrames < 1 || map.count < 1)
        return std::nullopt;
    const double scaled = static_cast<double>(position) * static_cast<double>(map.frames) /
                          static_cast<double>(map.sourceFrames);
    const auto q = static_cast<std::int64_t>(std::nearbyint(scaled)) - map.first; // to even
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
    const std::uint32_t declared = GetU32(b, 28);
    const std::size_t fit = (b.size() - kHeader) / kLoop;
    const std::size_t loops = declared < fit ? declared : fit;
    std::vector<std::byte> kept(b.begin(), b.begin() + kHeader);
    std::uint32_t count = 0;
    for (std::size_t i = 0; i < loops; ++i) {
        const std::size_t at = kHeader + i * kLoop;
        const auto start = MapPosition(map, GetU32(b, at + 8));
        const auto end = MapPosition(map, GetU32(b, at + 12));
        if (!start || !end)
            continue;
        kept.insert(kept.end(), b.begin() + static_cast<std::ptrdiff_t>(at),
                    b.begin() + static_cast<std::ptrdiff_t>(at + kLoop));
        PutU32(kept, kept.size() - kLoop + 8, *start);
        PutU32(kept, kept.size() - kLoop + 12, *end);
        ++count;
    }
    // The sampler's own data after the loops goes along unchanged.
    kept.insert(kept.end(), b.begin() + static_cast<std::ptrdiff_t>(kHeader + loops * kLoop),
                b.end());
    PutU32(kept, 28, count);
    b = std::move(kept);
}

void AdjustCue(std::vector<std::byte>& b, const FrameMap& map) {
    constexpr std::size_t kHeader = 4, kPoint = 24;
    if (b.size() < kHeader)
        return;
    const std::uint32_t declared = GetU32(b, 0);
    const std::size_t fit = (b.size() - kHeader) / kPoint;
    const std::size_t points = declared < fit ? declared : fit;
    std::vector<std::byte> kept(b.begin(), b.begin() + kHeader);
    std::uint32_t count = 0;
    for (std::size_t i = 0; i < points; ++i) {
        const std::size_t at = kHeader + i * kPoint;
        const auto offset = MapPosition(map, GetU32(b, at + 20));
        if (!offset)
            continue;
        kept.insert(kept.end(), b.begin() + static_cast<std::ptrdiff_t>(at),
                    b.begin() + static_cast<std::ptrdiff_t>(at + kPoint));
        const std::size_t put = kept.size() - kPoint;
        if (const auto position = MapPosition(map, GetU32(b, at + 4)))
            PutU32(kept, put + 4, *position);
        PutU32(kept, put + 20, *offset);
        ++count;
    }
    kept.insert(kept.end(), b.begin() + static_cast<std::ptrdiff_t>(kHeader + points * kPoint),
                b.end());
    PutU32(kept, 0, count);
    b = std::move(kept);
}

void AdjustAcid(std::vector<std::byte>& b, double bpm, double beats) {
    if (b.size() < 24)
        return;
    const double rounded = std::nearbyint(beats);
    PutU32(b, 12, rounded < 0 ? 0 : static_cast<std::uint32_t>(rounded));
    PutU32(b, 20, std::bit_cast<std::uint32_t>(static_cast<float>(bpm)));
}

} // namespace

void AdjustMetadata(std::vector<WaveRecord>& records, const FrameMap& map, double bpm,
                    double beats) {
    for (WaveRecord& record : records) {
        if (record.id == FourCC("acid"))
            AdjustAcid(record.bytes, bpm, beats);
        else if (record.id == FourCC("smpl"))
            AdjustSmpl(record.bytes, map);
        else if (record.id == FourCC("cue "))
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
