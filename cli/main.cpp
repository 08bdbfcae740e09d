// SPDX-License-Identifier: MIT
// metronel-cli: brings whole folders of loops to a tempo, or cuts them into pieces, with
// the window's own arithmetic.
#include "cliBatch.h"
#include "cliCommands.h"
#include "cliMeter.h"
#include "mdlFileName.h"
#include "mdlMain.h"
#include "mdlVersion.h"

#include <CLI/CLI.hpp>

#include <QCoreApplication>

#include <malloc.h>
#include <string>
#include <vector>

namespace {

using metronel::Resampler;
using metronel::cli::Target;
using metronel::cli::TempoOptions;

struct TargetArgs {
    double bpm = 0;
    double samples = 0;
    int semitones = 0;
    double factor = 0;
    CLI::Option* bpmOption = nullptr;
    CLI::Option* samplesOption = nullptr;
    CLI::Option* semitonesOption = nullptr;
    CLI::Option* factorOption = nullptr;

    Target Chosen() const {
        if (*bpmOption)
            return {Target::Kind::Bpm, bpm};
        if (*samplesOption)
            return {Target::Kind::Samples, samples};
        if (*semitonesOption)
            return {Target::Kind::Semitones, static_cast<double>(semitones)};
        if (*factorOption)
            return {Target::Kind::Factor, factor};
        return {};
    }
};

// The options every command takes: bars and beats, the guess, folders.
void AddMeterOptions(CLI::App& command, TempoOptions& options, std::vector<double>& guessRange) {
    command
        .add_option("--beats", options.beats,
                    "beats per bar (default: the file's tempo record, or 4)")
        ->check(CLI::Range(0.1, 64.0));
    auto* bars = command
                     .add_option("--bars", options.bars,
                                 "bars in the whole sound (default: the file's tempo record, or 1)")
                     ->check(CLI::Range(0.1, 64.0));
    auto* guess = command.add_flag("--guess-bars", options.guessBars,
                                   "without a tempo record, hear the bars (1 to 64) and beats "
                                   "(3 or 4) from the sound");
    guess->excludes(bars);
    command
        .add_option("--guess-range", guessRange,
                    "the tempos a guess may give, in bpm (default 70 180)")
        ->expected(2)
        ->needs(guess);
}

// The options tempo and split share: the target, bars and beats, the resampler, writing.
void AddTempoOptions(CLI::App& command, TempoOptions& options, TargetArgs& target,
                     std::vector<double>& guessRange, bool targetRequired) {
    CLI::Option_group* group = command.add_option_group("target", "the new length (one of)");
    target.bpmOption = group->add_option("--bpm", target.bpm, "tempo in beats per minute")
                           ->check(CLI::PositiveNumber);
    target.samplesOption = group->add_option("--samples", target.samples, "length in sample frames")
                               ->check(CLI::Range(1.0, 2147483647.0));
    target.semitonesOption = group->add_option("--semitones", target.semitones,
                                               "shift by whole semitones (12 halves the length)");
    target.factorOption = group
                              ->add_option("--factor", target.factor,
                                           "play F times as fast (the length divided by F)")
                              ->check(CLI::PositiveNumber);
    if (targetRequired)
        group->require_option(1);
    else
        group->require_option(0, 1);

    AddMeterOptions(command, options, guessRange);
    command
        .add_option_function<std::string>(
            "--resampler",
            [&options](const std::string& name) {
                options.resampler = name == "hq"           ? Resampler::Hq
                                    : name == "keep-pitch" ? Resampler::KeepPitch
                                                           : Resampler::Pick;
            },
            "pick: whole frames, as the window does; hq: band-limited; keep-pitch: "
            "time-stretched in the same key (default pick)")
        ->check(CLI::IsMember({"pick", "hq", "keep-pitch"}));
    command.add_flag("--one-shot", options.oneShot,
                     "the sound is not a loop: neither end is heard in the other");
    command.add_flag("--strip-metadata", options.stripMetadata, "write \"fmt \" and \"data\" only");
    command.add_flag("-f,--force", options.force, "replace existing outputs");
    command.add_option("-j,--jobs", options.jobs, "files at a time (default: four per core)")
        ->check(CLI::NonNegativeNumber);
}

} // namespace

int main(int argc, char** argv) {
    metronel::cli::RemoveTemporariesOnSignals();
    QCoreApplication application(argc, argv);
    // Sounds of a batch come and go file after file: keep freed memory for the next one
    // rather than handing it back and faulting it in again.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);

    CLI::App app{"Brings wave loops to a tempo, or cuts them into pieces, with the window's "
                 "own arithmetic.",
                 "metronel-cli"};
    // Rubber Band (keep-pitch) and FFTW (the tempo guess) are GPL-2+: so is the program as built.
    app.set_version_flag("--version",
                         std::string("metronel-cli ") + metronel::kVersion +
                             "\nThis program links the Rubber Band Library and FFTW (GPL version 2 "
                             "or later), so as\nbuilt it is distributed under the GNU General "
                             "Public License, version 2 or later.\nMetronel's own code is under "
                             "the MIT licence.");
    app.require_subcommand(1);

    std::vector<std::string> files;
    std::string out;
    bool json = false;
    int parts = 0;
    int digits = 0;
    TempoOptions options;
    TargetArgs tempoTarget;
    TargetArgs splitTarget;
    std::vector<double> guessRange;
    bool recursive = false;

    CLI::App* info = app.add_subcommand("info", "show format, length, tempo and records");
    info->add_option("FILE", files, "wave files, or folders of them")->required();
    info->add_flag("--json", json, "one JSON document for all files");
    AddMeterOptions(*info, options, guessRange);

    CLI::App* tempo = app.add_subcommand("tempo", "bring files to a new tempo or length");
    tempo->add_option("FILE", files, "wave files, or folders of them")->required();
    tempo->add_option("-o,--output", out, "a folder, or for one file a file name")->required();
    AddTempoOptions(*tempo, options, tempoTarget, guessRange, true);

    CLI::App* split = app.add_subcommand("split", "cut files into numbered pieces");
    split->add_option("FILE", files, "wave files, or folders of them")->required();
    split
        ->add_option("-o,--output", out,
                     "a folder, or for one file a name whose final \".wav\" is "
                     "dropped, as Split As does")
        ->required();
    split->add_option("--parts", parts, "number of pieces, 1 to 255")
        ->required()
        ->check(CLI::Range(1, 255));
    split->add_option("--digits", digits, "zero-pad piece numbers to D digits")
        ->check(CLI::Range(1, 3));
    AddTempoOptions(*split, options, splitTarget, guessRange, false);

    for (CLI::App* command : {info, tempo, split}) {
        command->add_flag("-r,--recursive", recursive,
                          "for a folder given as input, the wave files of its subfolders too");
    }

    try {
        app.parse(argc, argv);
        if (guessRange.size() == 2 && !(guessRange[0] > 0 && guessRange[0] <= guessRange[1]))
            throw CLI::ValidationError("--guess-range", "needs LOW HIGH with 0 < LOW <= HIGH");
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? 0 : 2;
    }
    if (guessRange.size() == 2) {
        options.guessLow = guessRange[0];
        options.guessHigh = guessRange[1];
    }
    options.target = *tempo ? tempoTarget.Chosen() : splitTarget.Chosen();
    CLI::App* chosen = *info ? info : *tempo ? tempo : split;
    options.barsGiven = chosen->count("--bars") > 0;
    options.beatsGiven = chosen->count("--beats") > 0;

    QStringList inputs;
    for (const std::string& file : files)
        inputs << metronel::NameFromNative(file); // any bytes, as the system takes them
    // A folder stands for the wave files in it.
    QStringList empty;
    const QStringList names = metronel::cli::ExpandInputs(inputs, recursive, empty);
    for (const QString& folder : empty)
        metronel::cli::PrintError(metronel::cli::NameBytes(folder) +
                                  ": no wave files in the folder");
    if (names.isEmpty())
        return 1;
    const QString output = metronel::NameFromNative(out);
    int status = 0;
    if (*info)
        status = metronel::cli::RunInfo(names, json, options);
    else if (*tempo)
        status = metronel::cli::RunTempo(names, output, options);
    else
        status = metronel::cli::RunSplit(names, output, parts, digits, options);
    return empty.isEmpty() ? status : 1;
}
