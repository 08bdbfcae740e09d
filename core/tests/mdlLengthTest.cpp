// SPDX-License-Identifier: MIT
// A sound brought to a new length straight from its file, never held whole, must give the
// very bytes of the one held in memory.
#include "mdlLength.h"
#include "WaveFiles.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <cstring>

namespace metronel {
namespace {

using testing::Format;

struct Case {
    const char* name;
    Format format;
    int dataBytes;
    std::int32_t frames;
    Resampler resampler;
    bool loop = true;
};

// Collects what a maker writes, at the offsets it gives.
std::vector<std::byte> Made(const SoundMaker& maker) {
    std::vector<std::byte> out(static_cast<std::size_t>(maker.size));
    std::vector<bool> seen(out.size());
    EXPECT_TRUE(maker.write([&](std::int64_t offset, std::span<const std::byte> bytes) {
        EXPECT_LE(offset + static_cast<std::int64_t>(bytes.size()), maker.size);
        std::copy(bytes.begin(), bytes.end(), out.begin() + offset);
        std::fill_n(seen.begin() + offset, bytes.size(), true);
        return true;
    }));
    EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](bool b) { return b; }));
    return out;
}

TEST(StreamedLength, GivesTheBytesOfTheSoundHeldWhole) {
    // Over the size a sound is held at (16 MiB), so that it is read from the file.
    constexpr int kLong = (17 << 20) / 4 * 4;
    const Format stereo16;
    const Format mono8{1, 1, 22050, 22050, 1, 8};
    const Format stereo24{1, 2, 48000, 288000, 6, 24};
    const Case cases[] = {
        {"long, picked longer", stereo16, kLong, kLong / 4 * 5 / 4, Resampler::Pick},
        {"long, picked to 1/5000", stereo16, kLong, kLong / 4 / 5000, Resampler::Pick},
        {"long, picked to 3 frames", stereo16, kLong, 3, Resampler::Pick},
        {"long, own length", stereo16, kLong, kLong / 4, Resampler::Hq},
        {"long, hq shorter", stereo16, kLong, kLong / 4 / 3, Resampler::Hq},
        {"8-bit, hq much longer", mono8, 3001, 400000, Resampler::Hq},
        {"8-bit one-shot, hq", mono8, 3001, 2000, Resampler::Hq, false},
        {"24-bit, a trailing part frame, picked", stereo24, 6 * 1000 + 4, 1234, Resampler::Pick},
        {"24-bit, a trailing part frame, own length", stereo24, 6 * 1000 + 4, 1000,
         Resampler::Pick},
        {"24-bit, a trailing part frame, hq", stereo24, 6 * 1000 + 4, 1000, Resampler::Hq},
        {"less than a frame, picked", stereo24, 5, 10, Resampler::Pick},
        {"less than a frame, hq", stereo24, 5, 10, Resampler::Hq},
    };
    QTemporaryDir dir;
    chunkwell::MediaSystemLicence msl;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path =
            testing::WriteFile(dir, "in.wav", testing::Wave(c.format, testing::Ramp(c.dataBytes)));
        WaveFile held, left;
        ASSERT_TRUE(ReadWave(msl, path, held).Written());
        ASSERT_TRUE(ReadWave(msl, path, left, SoundRead::Later).Written());
        ASSERT_TRUE(left.Data().empty());
        const std::vector<std::byte> expected = BringToLength(held, c.frames, c.resampler, c.loop);
        EXPECT_EQ(LengthBytes(left, c.frames, c.resampler),
                  static_cast<std::int64_t>(expected.size()));
        EXPECT_TRUE(Made(MakeLength(left, c.frames, c.resampler, c.loop)) == expected);
        const auto align = static_cast<std::int64_t>(c.format.blockAlign);
        const auto size = static_cast<std::int64_t>(expected.size());
        if (c.resampler == Resampler::Pick && align * 3 < size) {
            // A split's pieces, each picked on its own.
            const std::int64_t piece = size / 3 / align * align;
            const std::vector<std::byte> middle =
                Made(MakeLength(left, c.frames, c.resampler, c.loop, piece, piece));
            EXPECT_TRUE(std::equal(middle.begin(), middle.end(), expected.begin() + piece));
        }
    }
}

TEST(StreamedLength, StopsAtAFailedWrite) {
    QTemporaryDir dir;
    chunkwell::MediaSystemLicence msl;
    const QString path = testing::WriteFile(dir, "in.wav", testing::Wave({}, testing::Ramp(40000)));
    WaveFile wave;
    ASSERT_TRUE(ReadWave(msl, path, wave, SoundRead::Later).Written());
    for (const Resampler resampler : {Resampler::Pick, Resampler::Hq}) {
        int calls = 0;
        EXPECT_FALSE(MakeLength(wave, 2000000, resampler, true).write([&](auto, auto) {
            ++calls;
            return false;
        }));
        EXPECT_EQ(calls, 1);
    }
}

} // namespace
} // namespace metronel
