// SPDX-License-Identifier: MIT
#pragma once

// The arithmetic of the Maths menu's five operations, without widgets. Each takes the
// working value and the entry that the operation's prompt returned, as text read the way
// the tempo fields are read (IsNumber, ToDouble, ToInt32), and returns the new working
// value. A fault (an entry that is not a number, a division by zero, a result that is not
// finite or leaves the whole-number range) raises CalcError and returns nothing: the
// caller keeps its working value and writes nothing back.

#include "mdlMain.h"

#include <QString>

#include <cstdint>

namespace metronel {

// Returns entry x value.
double CalcTimes(double value, const QString& entry);
// Returns value / entry; an entry of 0 raises CalcError.
double CalcDivide(double value, const QString& entry);
// Divides the whole numbers of value and entry (each rounded, halves to even) with the
// quotient truncated toward zero. A divisor of 0, a value beyond int32 and the one quotient
// beyond it (the least int32 / -1) raise CalcError.
double CalcDivideRnd(double value, const QString& entry);
// Returns entry + value; a negative entry subtracts.
double CalcIncDec(double value, const QString& entry);
// Returns the frame count in the samples text shifted by the entry's whole semitones
// (ShiftBySemitones: 12 halves it). The working value plays no part: the shift always
// starts from the Samples field.
double CalcSemitone(const QString& samples, const QString& entry);
// Returns the tempo of that shifted count at rate with the bars and beats texts, for a
// shift started from the Bpm field.
double CalcSemitoneBpm(const QString& samples, const QString& entry, std::int32_t rate,
                       const QString& bars, const QString& beats);

// Returns the text a field shows for a working value: a whole number (halves to even) for
// the Samples field, the double's text for the others. Raises CalcError for a value the
// field cannot show (beyond int32 for Samples, not finite for any), which then keeps its text.
QString CalcValueText(double value, bool wholeNumber);

} // namespace metronel
