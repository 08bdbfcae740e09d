// SPDX-License-Identifier: MIT
// The sampler's unity note and the "fact" length after a change of length.
#include "mdlMetadata.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace metronel {
namespace {

std::vector<std::byte> Le32s(std::initializer_list<std::uint32_t> values) {
    std::vector<std::byte> out;
    for (const std::uint32_t v : values)
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<std::byte>(v >> (8 * i)));
    return out;
}

std::uint32_t U32(const std::vector<std::byte>& b, std::size_t at) {
    std::uint32_t v = 0;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

TEST(AdjustMetadata, UnityNoteFollowsATapeAndStaysWhenThePitchIsKept) {
    struct Row {
        std::uint32_t note, fraction;
        std::int64_t sourceFrames, frames;
        bool keepPitch;
        double expected; // in semitones, the fraction included
    } rows[] = {
        {60, 0, 2000, 1000, false, 72},                     // an octave up
        {60, 0x40000000, 1000, 4000, false, 36.25},         // two octaves down, 25 cents kept
        {60, 0, 2000, 1000, true, 60},                      // the same key
        {60, 0xC0000000, 113806, 82688, false, 66.27992},   // 93 to 128 bpm: the fraction carries
        {120, 0, 1000, 250, false, 128 - 1 / 4294967296.0}, // not above note 127
        {10, 0x80000000, 1000, 4000, false, 0},             // not below note 0
    };
    for (const Row& row : rows) {
        std::vector<WaveRecord> records = {
            {FourCC("smpl"), Le32s({0, 0, 22676, row.note, row.fraction, 0, 0, 0, 0})},
            {FourCC("fact"), Le32s({static_cast<std::uint32_t>(row.sourceFrames)})}};
        AdjustMetadata(records, {row.sourceFrames, row.frames, 0, row.frames}, 120, 4,
                       row.keepPitch);
        const double note = U32(records[0].bytes, 12) + U32(records[0].bytes, 16) / 4294967296.0;
        EXPECT_NEAR(note, row.expected, 1e-4) << row.note << " " << row.frames;
        EXPECT_LE(U32(records[0].bytes, 12), 127u);
        EXPECT_EQ(U32(records[0].bytes, 8), 22676u); // the sample period stays
        EXPECT_EQ(U32(records[1].bytes, 0), static_cast<std::uint32_t>(row.frames));
    }
}

} // namespace
} // namespace metronel
