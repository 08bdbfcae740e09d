// SPDX-License-Identifier: MIT
#pragma once

// Program-wide procedures without widgets: file names, the wave format record, number texts
// and the tempo formulas.

#include <QString>
#include <QStringList>

#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <stdexcept>
#include <utility>

#include <chunkwell/MediaTypes.h>

namespace metronel {

inline constexpr const char* kAppTitle = "Metronel";

// ---- File names (mdlMain.cpp) ----

// Returns the part of path after its last "/", or the whole path.
QString GetFileTitle(const QString& path);
// Returns path up to and including its last "/", or empty text.
QString GetFolder(const QString& path);
// Returns the name that split pieces are numbered after: chosenName less a final ".wav" (any
// case), or the whole name when it has none, so a piece always lands beside chosenName.
QString SplitBaseName(const QString& chosenName);
// Joins the program's arguments by single spaces and removes every double quote.
QString CommandLineFileName(const QStringList& arguments);

// The 16-byte PCM format record, as it stands in a "fmt " record.
struct WAVEFORMATINFO {
    std::int16_t FormatTag = 0;
    std::int16_t Channels = 0;
    std::int32_t SamplesPerSec = 0;
    std::int32_t AvgBytesPerSec = 0;
    std::int16_t BlockAlign = 0;
    std::int16_t BitsPerSample = 0;

    static constexpr std::size_t kSize = 16;
    // Decodes the little-endian record; missing bytes count as zero, extra ones are ignored.
    static WAVEFORMATINFO FromBytes(std::span<const std::byte> bytes);
    // Encodes the record little-endian.
    std::array<std::byte, kSize> ToBytes() const;
};

// Why a format record is refused.
enum class FormatCheck { Accepted = 0, NotPcm = 1, Inconsistent = 2 };
// Checks a format record; raises chunkwell::OverflowError when BlockAlign x SamplesPerSec
// leaves the signed 32-bit range.
FormatCheck CheckFormat(const WAVEFORMATINFO& format);

// ---- Number texts and tempo formulas (mdlTempo.cpp) ----

// Raised by the number texts and formulas for text that is not a number, a value out of
// range, a division by zero or any other floating fault.
class CalcError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Tells whether text is a decimal number in the user's notation.
bool IsNumber(const QString& text);
// Parses text; raises CalcError when it is not a number.
double ToDouble(const QString& text);
// Parses text and rounds it to the nearest float32.
float ToSingle(const QString& text);
// Parses text and rounds it to the nearest int32, halves to even.
std::int32_t ToInt32(const QString& text);
// Rounds to the nearest whole number, halves to even, whatever the floating rounding mode.
double RoundHalfEven(double value);
// Rounds to the nearest int32, halves to even; raises CalcError out of range.
std::int32_t RoundToInt32(double value);
// Writes a double with at most 15 significant digits in the user's notation.
QString DoubleText(double value);
// Writes an int32 as plain digits.
QString Int32Text(std::int32_t value);

// Returns the tempo that bars x beats beats give over samples frames at rate.
double BpmFromSamples(std::int32_t samples, std::int32_t rate, float bars, float beats);
// Returns the frame count that bars x beats beats take at bpm and rate.
std::int32_t SamplesFromBpm(double bpm, std::int32_t rate, float bars, float beats);
// Removes every "*", "/", "\", "+", "-", "#" and "'".
QString StripOperatorChars(const QString& text);
// Returns samples shifted by whole semitones (12 halves the count).
std::int32_t ShiftBySemitones(std::int32_t samples, std::int32_t semitones);

// ---- Errors ----

// Runs one step of a routine that goes on after a failed step: every error the core and the
// library document ends the step, not the routine: the library's raised errors and failed
// conversions (both runtime errors, as are a resampler's and the system's), failed
// allocations, and the range, length and argument errors of the sound routines. Returns
// whether the step completed.
template <typename Step> bool SkipOnError(Step&& step) {
    try {
        std::forward<Step>(step)();
        return true;
    } catch (const std::runtime_error&) { // chunkwell::MediaError, CalcError among them
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    } catch (const std::out_of_range&) {
    } catch (const std::invalid_argument&) {
    }
    return false;
}

} // namespace metronel
