// SPDX-License-Identifier: MIT
// Number texts and the tempo and semitone formulas. The shared test main pins the locale
// to en_US; the comma-locale cases switch it for their own scope.
#include "mdlMain.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <cfloat>
#include <cstdint>
#include <limits>
#include <ostream>

namespace metronel {
namespace {

class ScopedLocale {
public:
    explicit ScopedLocale(const QLocale& locale) { QLocale::setDefault(locale); }
    ~ScopedLocale() { QLocale::setDefault(m_Saved); }

private:
    QLocale m_Saved;
};

TEST(mdlTempoNumbers, AcceptsDecimalNotation) {
    for (const char* text : {"0", "12", " 12 ", "\t+12", "-12", "12.5", ".5", "5.", "1e3", "1E+3",
                             "2.5e-3", "  -0.75e2  ", "000120"})
        EXPECT_TRUE(IsNumber(QString::fromLatin1(text))) << text;
    EXPECT_DOUBLE_EQ(ToDouble(" -0.75e2 "), -75.0);
    EXPECT_DOUBLE_EQ(ToDouble("2.5e-3"), 0.0025);
    EXPECT_DOUBLE_EQ(ToDouble(".5"), 0.5);
}

TEST(mdlTempoNumbers, RefusesEverythingElse) {
    for (const char* text : {"", " ", "+", "-", ".", "e3", "1e", "1e+", "1.2.3", "12*3", "abc",
                             "12a", "1,000", "1 000", "--1", "0x10", "1e999", "inf", "nan"})
        EXPECT_FALSE(IsNumber(QString::fromLatin1(text))) << text;
    EXPECT_THROW(ToDouble(""), CalcError);
    EXPECT_THROW(ToDouble("abc"), CalcError);
    EXPECT_THROW(ToInt32("1,5"), CalcError);
}

TEST(mdlTempoNumbers, FollowsTheUsersDecimalSeparator) {
    ScopedLocale german(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_DOUBLE_EQ(ToDouble("12,5"), 12.5);
    EXPECT_FALSE(IsNumber("12.5")); // "." groups digits here, and grouping is refused
    EXPECT_EQ(DoubleText(105.84000396728516), "105,840003967285");
    EXPECT_DOUBLE_EQ(ToDouble(DoubleText(0.000001234)), 0.000001234);
}

TEST(mdlTempoNumbers, RoundsHalvesToEvenWithinInt32) {
    EXPECT_EQ(ToInt32("12345.5"), 12346);
    EXPECT_EQ(ToInt32("12344.5"), 12344);
    EXPECT_EQ(RoundToInt32(2.5), 2);
    EXPECT_EQ(RoundToInt32(3.5), 4);
    EXPECT_EQ(RoundToInt32(-2.5), -2);
    EXPECT_EQ(RoundToInt32(-3.5), -4);
    EXPECT_EQ(RoundToInt32(0.49999999999999994), 0);
    EXPECT_EQ(RoundToInt32(2.5000000001), 3);
    EXPECT_EQ(RoundToInt32(-0.4), 0);
    // Whatever leaves int32 is refused.
    EXPECT_EQ(RoundToInt32(2147483647.0), 2147483647);
    EXPECT_EQ(RoundToInt32(2147483647.4), 2147483647);
    EXPECT_THROW(RoundToInt32(2147483647.5), CalcError);
    EXPECT_EQ(RoundToInt32(-2147483648.5), std::numeric_limits<std::int32_t>::min());
    EXPECT_THROW(RoundToInt32(-2147483649.0), CalcError);
    EXPECT_THROW(RoundToInt32(std::numeric_limits<double>::quiet_NaN()), CalcError);
    EXPECT_THROW(ToInt32("1e10"), CalcError);
}

TEST(mdlTempoNumbers, ToSingleRoundsToFloat) {
    EXPECT_EQ(ToSingle("0.1"), 0.1f);
    EXPECT_EQ(ToSingle("16777217"), 16777216.0f);
    EXPECT_THROW(ToSingle("1e39"), CalcError);
}

TEST(mdlTempoNumbers, WritesDoublesWithFifteenDigits) {
    EXPECT_EQ(DoubleText(120.0), "120");
    EXPECT_EQ(DoubleText(120.5), "120.5");
    EXPECT_EQ(DoubleText(105.84000396728516), "105.840003967285");
    EXPECT_EQ(DoubleText(1.0 / 3.0), "0.333333333333333");
    EXPECT_EQ(DoubleText(-2.0), "-2");
    EXPECT_EQ(DoubleText(-0.0), "0");
    EXPECT_EQ(DoubleText(123456789.0), "123456789");
    EXPECT_EQ(DoubleText(1e15), "1e+15");
    EXPECT_THROW(DoubleText(std::numeric_limits<double>::infinity()), CalcError);

    // Small numbers without an exponent: a field strips "-", so "1e-07" would come back
    // as 1e07.
    EXPECT_EQ(DoubleText(1e-7), "0.0000001");
    EXPECT_EQ(DoubleText(-1.5e-5), "-0.000015");
    EXPECT_EQ(DoubleText(0.0001), "0.0001");
    const double tiny = 1.23456789012345678e-30;
    EXPECT_EQ(ToDouble(DoubleText(tiny)), ToDouble("1.23456789012346e-30"));
    EXPECT_EQ(DoubleText(tiny).indexOf('-'), -1);
    for (double v : {105.840003967285, 85.7302551269531, 0.1, 64.0, 2147483647.0})
        EXPECT_EQ(ToDouble(DoubleText(v)), v);

    EXPECT_EQ(Int32Text(105840), "105840");
    EXPECT_EQ(Int32Text(-5), "-5");
    EXPECT_EQ(Int32Text(std::numeric_limits<std::int32_t>::min()), "-2147483648");
}

struct BpmRow {
    std::int32_t samples;
    const char* bpmText;
};

// Names the rows in test listings and failures.
void PrintTo(const BpmRow& row, std::ostream* os) {
    *os << row.samples << "_frames";
}

class mdlTempoBpmFromSamples : public ::testing::TestWithParam<BpmRow> {};

// Each figure of the table, and back from its text to the same sample count.
TEST_P(mdlTempoBpmFromSamples, WritesTheTableFigureAndGoesBack) {
    EXPECT_EQ(DoubleText(BpmFromSamples(GetParam().samples, 44100, 1.0f, 4.0f)),
              GetParam().bpmText);
    EXPECT_EQ(SamplesFromBpm(ToDouble(GetParam().bpmText), 44100, 1.0f, 4.0f), GetParam().samples);
}

INSTANTIATE_TEST_SUITE_P(Rate44100, mdlTempoBpmFromSamples,
                         ::testing::Values(BpmRow{88200, "120"}, BpmRow{44100, "240"},
                                           BpmRow{100000, "105.840003967285"},
                                           BpmRow{123457, "85.7302551269531"},
                                           BpmRow{105840, "100"}));

TEST(mdlTempoFormulas, BeatsScaleTheTempo) {
    EXPECT_EQ(DoubleText(BpmFromSamples(88200, 44100, 1.0f, 8.0f)), "240");
}

TEST(mdlTempoFormulas, SamplesFromBpmRoundsThroughFloat32) {
    // 60 x 4 x 44100 / 0.6 = 17640000, which float32 holds exactly; one frame more is not.
    EXPECT_EQ(SamplesFromBpm(0.6, 44100, 1.0f, 4.0f), 17640000);
    // 10584000 / 107 = 98915.887...: the nearest whole number, not the truncated one.
    EXPECT_EQ(SamplesFromBpm(107.0, 44100, 1.0f, 4.0f), 98916);
    EXPECT_EQ(SamplesFromBpm(60.0 * 4 * 44100 / 16777217.0, 44100, 1.0f, 4.0f), 16777216);
}

TEST(mdlTempoFormulas, FaultsAreCalcErrors) {
    EXPECT_THROW(BpmFromSamples(88200, 0, 1.0f, 4.0f), CalcError);
    EXPECT_THROW(BpmFromSamples(88200, 44100, 0.0f, 4.0f), CalcError);
    EXPECT_THROW(BpmFromSamples(88200, 44100, 1.0f, 0.0f), CalcError);
    EXPECT_THROW(BpmFromSamples(0, 44100, 1.0f, 4.0f), CalcError);
    EXPECT_THROW(BpmFromSamples(1, 2147483647, FLT_MAX, FLT_MAX), CalcError);
    EXPECT_THROW(SamplesFromBpm(0.0, 44100, 1.0f, 4.0f), CalcError);
    EXPECT_THROW(SamplesFromBpm(100.0, 44100, FLT_MAX, FLT_MAX), CalcError);
    EXPECT_THROW(SamplesFromBpm(1.0, 2147483647, 64.0f, 64.0f), CalcError); // beyond int32
    EXPECT_THROW(SamplesFromBpm(std::numeric_limits<double>::quiet_NaN(), 44100, 1.0f, 4.0f),
                 CalcError);
    EXPECT_EQ(SamplesFromBpm(1e12, 44100, 1.0f, 4.0f), 0);
}

TEST(mdlTempoFormulas, StripOperatorChars) {
    EXPECT_EQ(StripOperatorChars("12*3"), "123");
    EXPECT_EQ(StripOperatorChars("*/\\+-#'"), "");
    EXPECT_EQ(StripOperatorChars("-1e+5#x"), "1e5x");
    EXPECT_EQ(StripOperatorChars("a.b,c%"), "a.b,c%");
    EXPECT_EQ(StripOperatorChars(QString::fromUtf8("1\u22122")), QString::fromUtf8("1\u22122"));
}

struct ShiftRow {
    std::int32_t semitones;
    std::int32_t samples;
};

void PrintTo(const ShiftRow& row, std::ostream* os) {
    *os << row.semitones << "_semitones";
}

class mdlTempoShiftBySemitones : public ::testing::TestWithParam<ShiftRow> {};

TEST_P(mdlTempoShiftBySemitones, At88200) {
    EXPECT_EQ(ShiftBySemitones(88200, GetParam().semitones), GetParam().samples);
}

INSTANTIATE_TEST_SUITE_P(Table, mdlTempoShiftBySemitones,
                         ::testing::Values(ShiftRow{0, 88200}, ShiftRow{1, 83250},
                                           ShiftRow{2, 78577}, ShiftRow{7, 58866},
                                           ShiftRow{12, 44100}, ShiftRow{-12, 176400}));

TEST(mdlTempoFormulas, ShiftBySemitonesFaults) {
    EXPECT_THROW(ShiftBySemitones(2000000000, -24), CalcError); // beyond int32
    EXPECT_THROW(ShiftBySemitones(88200, std::numeric_limits<std::int32_t>::min()),
                 CalcError); // 2^-178956970 is 0
    EXPECT_THROW(ShiftBySemitones(88200, std::numeric_limits<std::int32_t>::max()),
                 CalcError); // 2^178956970 overflows
}

} // namespace
} // namespace metronel
