// SPDX-License-Identifier: MIT
// File names and the format record, without any window.
#include "mdlMain.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <vector>

using namespace metronel;

TEST(mdlMainFileNames, TitleAndFolderSplitAtLastSlash) {
    struct Row {
        const char* path;
        const char* folder;
        const char* title;
    };
    const Row rows[] = {
        {"/a/b/loop.wav", "/a/b/", "loop.wav"},
        {"loop.wav", "", "loop.wav"},
        {"/loop.wav", "/", "loop.wav"},
        {"/a/b/", "/a/b/", ""},
        {"", "", ""},
        {"/my loops/a b.wav", "/my loops/", "a b.wav"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(GetFolder(r.path), r.folder) << r.path;
        EXPECT_EQ(GetFileTitle(r.path), r.title) << r.path;
        EXPECT_EQ(GetFolder(r.path) + GetFileTitle(r.path), r.path);
    }
}

TEST(mdlMainFileNames, CommandLineIsOneNameWithoutQuotes) {
    EXPECT_EQ(CommandLineFileName({}), "");
    EXPECT_EQ(CommandLineFileName({"\"/my loops/a.wav\""}), "/my loops/a.wav");
    // A shell that split the quoted name still gives it back whole.
    EXPECT_EQ(CommandLineFileName({"\"/my", "loops/a.wav\""}), "/my loops/a.wav");
    EXPECT_EQ(CommandLineFileName({"a.wav", "b.wav"}), "a.wav b.wav");
    EXPECT_EQ(CommandLineFileName({"a\"\"b.wav"}), "ab.wav");
}

namespace {
std::vector<std::byte> Bytes(std::initializer_list<int> values) {
    std::vector<std::byte> out;
    for (int v : values)
        out.push_back(static_cast<std::byte>(v));
    return out;
}
} // namespace

TEST(WAVEFORMATINFO, DecodesLittleEndianAndEncodesBack) {
    const auto bytes = Bytes({0x01, 0x00, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x10, 0xB1, 0x02,
                              0x00, 0x04, 0x00, 0x10, 0x00});
    const auto f = WAVEFORMATINFO::FromBytes(bytes);
    EXPECT_EQ(f.FormatTag, 1);
    EXPECT_EQ(f.Channels, 2);
    EXPECT_EQ(f.SamplesPerSec, 44100);
    EXPECT_EQ(f.AvgBytesPerSec, 176400);
    EXPECT_EQ(f.BlockAlign, 4);
    EXPECT_EQ(f.BitsPerSample, 16);
    const auto back = f.ToBytes();
    EXPECT_TRUE(std::equal(back.begin(), back.end(), bytes.begin(), bytes.end()));
}

TEST(WAVEFORMATINFO, SignedFieldsKeepTheirBits) {
    const auto bytes = Bytes({0xFE, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF,
                              0x7F, 0x00, 0x80, 0xFF, 0x7F});
    const auto f = WAVEFORMATINFO::FromBytes(bytes);
    EXPECT_EQ(f.FormatTag, -2);
    EXPECT_EQ(f.Channels, -1);
    EXPECT_EQ(f.SamplesPerSec, std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(f.AvgBytesPerSec, std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(f.BlockAlign, std::numeric_limits<std::int16_t>::min());
    EXPECT_EQ(f.BitsPerSample, std::numeric_limits<std::int16_t>::max());
    const auto back = f.ToBytes();
    EXPECT_TRUE(std::equal(back.begin(), back.end(), bytes.begin(), bytes.end()));
}

TEST(WAVEFORMATINFO, ShortRecordIsZeroFilledLongOneCut) {
    const auto shortRecord = WAVEFORMATINFO::FromBytes(Bytes({0x01, 0x00, 0x02, 0x00, 0x44}));
    EXPECT_EQ(shortRecord.FormatTag, 1);
    EXPECT_EQ(shortRecord.Channels, 2);
    EXPECT_EQ(shortRecord.SamplesPerSec, 0x44);
    EXPECT_EQ(shortRecord.AvgBytesPerSec, 0);
    EXPECT_EQ(shortRecord.BitsPerSample, 0);

    auto longBytes = Bytes({0x01, 0x00, 0x01, 0x00, 0x22, 0x56, 0x00, 0x00, 0x22, 0x56, 0x00, 0x00,
                            0x01, 0x00, 0x08, 0x00, 0xFF, 0xFF});
    const auto longRecord = WAVEFORMATINFO::FromBytes(longBytes);
    EXPECT_EQ(longRecord.BitsPerSample, 8);
    EXPECT_EQ(longRecord.SamplesPerSec, 22050);
}

TEST(CheckFormat, AcceptsOnlyConsistentPcm) {
    struct Row {
        const char* name;
        std::int16_t tag;
        std::int16_t channels;
        std::int32_t rate;
        std::int32_t avg;
        std::int16_t align;
        FormatCheck expected;
    };
    const Row rows[] = {
        {"stereo 16-bit", 1, 2, 44100, 176400, 4, FormatCheck::Accepted},
        {"mono 8-bit", 1, 1, 22050, 22050, 1, FormatCheck::Accepted},
        {"align disagrees with channels", 1, 2, 44100, 44100 * 3, 3, FormatCheck::Accepted},
        {"any rate", 1, 1, 7, 7, 1, FormatCheck::Accepted},
        {"float", 3, 2, 44100, 352800, 8, FormatCheck::NotPcm},
        {"extensible", -2, 2, 44100, 176400, 4, FormatCheck::NotPcm},
        {"tag zero", 0, 2, 44100, 176400, 4, FormatCheck::NotPcm},
        {"byte rate off by one", 1, 2, 44100, 176401, 4, FormatCheck::Inconsistent},
        {"no frame bytes", 1, 2, 44100, 0, 0, FormatCheck::Inconsistent},
        {"negative frame", 1, 2, -44100, 176400, -4, FormatCheck::Inconsistent},
    };
    for (const Row& r : rows) {
        WAVEFORMATINFO f;
        f.FormatTag = r.tag;
        f.Channels = r.channels;
        f.SamplesPerSec = r.rate;
        f.AvgBytesPerSec = r.avg;
        f.BlockAlign = r.align;
        EXPECT_EQ(CheckFormat(f), r.expected) << r.name;
    }
}

TEST(CheckFormat, OverflowingProductRaises) {
    WAVEFORMATINFO f;
    f.FormatTag = 1;
    f.BlockAlign = 2;
    f.SamplesPerSec = 1 << 30;
    f.AvgBytesPerSec = 0;
    EXPECT_THROW(CheckFormat(f), chunkwell::OverflowError);
    f.BlockAlign = -2;
    f.SamplesPerSec = (1 << 30) + 1;
    EXPECT_THROW(CheckFormat(f), chunkwell::OverflowError);
    // The edge itself still fits: -2 x 2^30 is the lowest int32.
    f.SamplesPerSec = 1 << 30;
    EXPECT_EQ(CheckFormat(f), FormatCheck::Inconsistent);
}

TEST(mdlMainErrors, SkipOnErrorEndsTheStepForEveryDocumentedError) {
    const std::vector<std::function<void()>> raisers = {
        [] { throw chunkwell::RangeError("no current record"); },
        [] { throw chunkwell::OverflowError("leaves 32 bits"); },
        [] { throw CalcError("division by zero"); },
        [] { throw std::bad_alloc(); },
        [] { throw std::length_error("destination too small"); },
        [] { throw std::out_of_range("frames outside the sound"); },
        [] { throw std::invalid_argument("no channels"); },
        [] { throw std::runtime_error("the resampler failed"); },
    };
    for (const auto& raise : raisers)
        EXPECT_FALSE(SkipOnError(raise));
    EXPECT_TRUE(SkipOnError([] {}));
}
