// SPDX-License-Identifier: MIT
// Bars, beats, tempos and pieces as the commands print them; folders as inputs.
#include "cliMeter.h"

#include "mdlFileName.h"

#include <sys/stat.h>

#include <charconv>
#include <cmath>

namespace metronel::cli {

namespace {

// Adds the wave files in folder to found: the files, or links to files, that are not hidden
// and whose names end in ".wav" in any case; with recursive, those of the subfolders that are
// not hidden too, never through a link. Names are the system's bytes, whatever they are.
void FindWaves(const QString& folder, bool recursive, QStringList& found) {
    const QString prefix = folder.endsWith(u'/') ? folder : folder + u'/';
    for (const QString& name : FolderNames(folder)) {
        if (name.startsWith(u'.'))
            continue;
        const QString path = prefix + name;
        const QByteArray native = NativeName(path);
        struct stat st {};
        if (::stat(native.constData(), &st) != 0)
            continue; // a link leading nowhere
        if (S_ISDIR(st.st_mode)) {
            if (recursive && ::lstat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode))
                FindWaves(path, recursive, found);
        } else if (S_ISREG(st.st_mode) &&
                   name.endsWith(QStringLiteral(".wav"), Qt::CaseInsensitive)) {
            found << path;
        }
    }
}

} // namespace

std::string ShortNumber(double value) {
    if (!std::isfinite(value))
        return value > 0 ? "inf" : value < 0 ? "-inf" : "nan";
    const double rounded = std::round(value * 1000) / 1000;
    char buffer[64];
    const auto written =
        std::to_chars(buffer, buffer + sizeof buffer, rounded, std::chars_format::fixed, 3);
    std::string text(buffer, written.ptr);
    while (text.back() == '0')
        text.pop_back();
    if (text.back() == '.')
        text.pop_back();
    return text == "-0" ? "0" : text;
}

std::string MeterText(const Meter& meter, std::optional<float> recordTempo) {
    std::string text = ShortNumber(meter.bars) + (meter.bars == 1 ? " bar of " : " bars of ") +
                       ShortNumber(meter.beatsPerBar) +
                       (meter.beatsPerBar == 1 ? " beat, " : " beats, ") +
                       MeterSourceText(meter.source);
    if (recordTempo)
        text += "; the tempo record says " + ShortNumber(*recordTempo) + " bpm";
    return text;
}

std::string PiecesText(const std::vector<std::int32_t>& frames) {
    const std::string pieces =
        std::to_string(frames.size()) + (frames.size() == 1 ? " piece" : " pieces");
    if (frames.empty())
        return pieces;
    // Runs of equal lengths, in order.
    std::vector<std::pair<std::size_t, std::int32_t>> runs;
    for (std::int32_t n : frames)
        if (!runs.empty() && runs.back().second == n)
            ++runs.back().first;
        else
            runs.emplace_back(1, n);
    auto frameText = [](std::int32_t n) {
        return std::to_string(n) + (n == 1 ? " frame" : " frames");
    };
    if (runs.size() == 1)
        return pieces + " of " + frameText(runs[0].second);
    std::string text = pieces + ": ";
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (i > 0)
            text += i + 1 == runs.size() ? " and " : ", ";
        text += (runs[i].first == 1 ? std::string("one") : std::to_string(runs[i].first)) + " of " +
                (i == 0 ? frameText(runs[i].second) : std::to_string(runs[i].second));
    }
    return text;
}

QStringList ExpandInputs(const QStringList& inputs, bool recursive, QStringList& empty) {
    QStringList files;
    for (const QString& input : inputs) {
        if (!IsFolder(input)) {
            files << input;
            continue;
        }
        QStringList found;
        FindWaves(input, recursive, found);
        if (found.isEmpty())
            empty << input;
        found.sort();
        files << found;
    }
    return files;
}

} // namespace metronel::cli
