// SPDX-License-Identifier: MIT
#include "mdlCalc.h"

#include <cmath>
#include <limits>

namespace metronel {

namespace {

double Finite(double value) {
    if (!std::isfinite(value))
        throw CalcError("overflow");
    return value;
}

} // namespace

double CalcTimes(double value, const QString& entry) {
    return Finite(ToDouble(entry) * value);
}

double CalcDivide(double value, const QString& entry) {
    const double divisor = ToDouble(entry);
    if (divisor == 0.0)
        throw CalcError("division by zero");
    return Finite(value / divisor);
}

double CalcDivideRnd(double value, const QString& entry) {
    const std::int32_t dividend = RoundToInt32(value);
    const std::int32_t divisor = ToInt32(entry);
    if (divisor == 0)
        throw CalcError("division by zero");
    if (dividend == std::numeric_limits<std::int32_t>::min() && divisor == -1)
        throw CalcError("overflow");
    return static_cast<double>(dividend / divisor);
}

double CalcIncDec(double value, const QString& entry) {
    return Finite(ToDouble(entry) + value);
}

double CalcSemitone(const QString& samples, const QString& entry) {
    return static_cast<double>(ShiftBySemitones(ToInt32(samples), ToInt32(entry)));
}

double CalcSemitoneBpm(const QString& samples, const QString& entry, std::int32_t rate,
                       const QString& bars, const QString& beats) {
    const std::int32_t shifted = ShiftBySemitones(ToInt32(samples), ToInt32(entry));
    return BpmFromSamples(shifted, rate, ToSingle(bars), ToSingle(beats));
}

QString CalcValueText(double value, bool wholeNumber) {
    return wholeNumber ? Int32Text(RoundToInt32(value)) : DoubleText(value);
}

} // namespace metronel
