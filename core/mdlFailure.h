// SPDX-License-Identifier: MIT
#pragma once

// The one failure type: what became of reading or writing a file, carried from where it
// happened to whoever tells the user. The window's box is made from the library's code and
// text; the command line's one-line reason from the core's own reason or the system's.
//
//   WaveOutResult result = ReadWave(msl, path, wave);
//   if (!result.Written()) PrintError(result.OneLine());        // command line
//   desktop.MsgBox(result.errorText, ..., "Error: " + code);    // window

#include <chunkwell/MediaTypes.h>

#include <cstdint>
#include <string>

namespace metronel {

// The outcome of reading or writing one wave file.
struct WaveOutResult {
    enum class Outcome {
        Written,      // complete, on the disk and under its name (or read whole)
        CreateFailed, // the file could not be created (code 2, or the library's own)
        WriteFailed,  // the file could not be written or finished (code 4); nothing changed
        ReadFailed,   // the sound could not be read whole (code 3); nothing was written
        OpenFailed,   // the file could not be opened (code 1)
        Refused,      // the file was read but cannot be used: reason says why
    };
    Outcome outcome = Outcome::Written;
    std::int32_t errorCode = 0; // the library's code, 0 for none
    std::string errorText;      // the library's text for errorCode, as its box shows it
    int systemError = 0;        // the system's error number where it said why, else 0
    std::string reason;         // the core's own one-line reason, where it has one

    bool Written() const { return outcome == Outcome::Written; }

    // Returns one line without line breaks: the core's reason, else the system's (prefixed
    // by what failed), else the library's text with its line breaks made spaces.
    std::string OneLine() const;
};

// Returns the outcome of a failure with the library's code and text.
WaveOutResult WaveOutFailure(chunkwell::MediaFileErrorCodes code);

// Returns the outcome of a failure with the library's code and text and the system's error
// number (0 when the system said nothing).
WaveOutResult SystemFailure(chunkwell::MediaFileErrorCodes code, int systemError);

// Returns the refusal of a file that was read but cannot be used, with its reason.
WaveOutResult Refusal(std::string reason);

} // namespace metronel
