// SPDX-License-Identifier: MIT
// The Maths menu's arithmetic, one table per operation: the working value, the entry as the
// prompt returns it, and the new working value or a refusal.
#include "mdlCalc.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <optional>

namespace metronel {
namespace {

constexpr std::nullopt_t kRefused = std::nullopt;

struct CalcRow {
    double value;
    const char* entry;
    std::optional<double> result; // nothing: raises CalcError
};

void ExpectTable(const std::function<double(double, const QString&)>& operation,
                 std::initializer_list<CalcRow> rows) {
    for (const CalcRow& row : rows) {
        SCOPED_TRACE(testing::Message() << row.value << " with " << row.entry);
        if (row.result)
            EXPECT_EQ(operation(row.value, QString::fromLatin1(row.entry)), *row.result);
        else
            EXPECT_THROW(operation(row.value, QString::fromLatin1(row.entry)), CalcError);
    }
}

TEST(mdlCalc, Times) {
    ExpectTable(CalcTimes, {{4, "2", 8},
                            {1.5, "-2", -3},
                            {0.1, "3", 0.30000000000000004},
                            {1e300, "1e308", kRefused}, // overflow
                            {2, "abc", kRefused},
                            {2, "", kRefused}});
}

TEST(mdlCalc, Divide) {
    ExpectTable(CalcDivide, {{120, "3", 40},
                             {-7, "2", -3.5},
                             {1, "3", 1.0 / 3.0},
                             {120, "0", kRefused},
                             {120, "-0.0", kRefused},
                             {1e300, "1e-300", kRefused}, // overflow
                             {120, "x", kRefused}});
}

TEST(mdlCalc, DivideRnd) {
    ExpectTable(CalcDivideRnd, {{88200, "7", 12600},
                                {7, "2", 3},   // truncated toward zero
                                {-7, "2", -3}, // likewise, not floored
                                {2.5, "1", 2}, // halves to even, the value ...
                                {3.5, "1", 4},
                                {7, "2.5", 3}, // ... and the entry
                                {7, "3.5", 1},
                                {-2147483648.0, "1", -2147483648.0},
                                {88200, "0.4", kRefused}, // a divisor rounded to 0
                                {88200, "0", kRefused},
                                {-2147483648.0, "-1", kRefused}, // quotient beyond int32
                                {2147483647.5, "1", kRefused},   // value beyond int32
                                {88200, "3e9", kRefused}});      // entry beyond int32
}

TEST(mdlCalc, IncDec) {
    ExpectTable(CalcIncDec, {{88200, "-2", 88198},
                             {4, "-1000", -996},
                             {0.1, "0.2", 0.30000000000000004},
                             {1.7e308, "1.7e308", kRefused}, // overflow
                             {1, "+", kRefused}});
}

TEST(mdlCalc, Semitone) {
    // The working value plays no part: the shift starts from the Samples text.
    const auto fromSamples = [](const char* samples) {
        return [samples](double, const QString& entry) {
            return CalcSemitone(QString::fromLatin1(samples), entry);
        };
    };
    ExpectTable(fromSamples("88200"), {{0, "12", 44100},
                                       {0, "-12", 176400},
                                       {0, "7", 58866},
                                       {0, "1.5", 78577}, // whole semitones, halves to even
                                       {0, "2.5", 78577},
                                       {0, "0", 88200},
                                       {0, "y", kRefused}});
    ExpectTable(fromSamples("88200.5"), {{0, "0", 88200}});
    ExpectTable(fromSamples("2000000000"), {{0, "-24", kRefused}}); // beyond int32
    ExpectTable(fromSamples(""), {{0, "12", kRefused}});

    // From the Bpm field: the tempo of the shifted count, one bar of four beats at 44100.
    const auto bpm = [](const char* samples, const char* entry) {
        return CalcSemitoneBpm(QString::fromLatin1(samples), QString::fromLatin1(entry), 44100,
                               QStringLiteral("1"), QStringLiteral("4"));
    };
    EXPECT_EQ(bpm("88200", "12"), 240);
    EXPECT_EQ(bpm("88200", "-12"), 60);
    EXPECT_THROW(bpm("88200", "-1e9"), CalcError);
}

TEST(mdlCalc, ValueText) {
    EXPECT_EQ(CalcValueText(88200.5, true), "88200"); // halves to even
    EXPECT_EQ(CalcValueText(88201.5, true), "88202");
    EXPECT_EQ(CalcValueText(-3, true), "-3");
    EXPECT_EQ(CalcValueText(1.5, false), "1.5");
    EXPECT_EQ(CalcValueText(0.30000000000000004, false), "0.3");
    EXPECT_THROW(CalcValueText(3e9, true), CalcError);
    EXPECT_THROW(CalcValueText(std::numeric_limits<double>::infinity(), false), CalcError);
}

} // namespace
} // namespace metronel
