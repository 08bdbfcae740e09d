// SPDX-License-Identifier: MIT
#pragma once

// What the commands tell a person about a file's bars, beats and tempo, and which files a
// folder given as input stands for.

#include "mdlTempoGuess.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace metronel::cli {

// Returns value with at most three decimals, trailing zeros dropped (174.000244 -> "174").
std::string ShortNumber(double value);

// Returns "2 bars of 4 beats, guessed from the sound", with "; the tempo record says 174
// bpm" when the file's record states a tempo.
std::string MeterText(const Meter& meter, std::optional<float> recordTempo);

// Returns what a split wrote, piece lengths in order: "16 pieces: 15 of 14226 frames and
// one of 14223", or "4 pieces of 5 frames" when all are alike.
std::string PiecesText(const std::vector<std::int32_t>& frames);

// Returns the inputs with every folder replaced by the wave files in it (".wav", any case,
// in name order), and those of its subfolders when recursive. A folder without any is
// added to empty.
QStringList ExpandInputs(const QStringList& inputs, bool recursive, QStringList& empty);

} // namespace metronel::cli
