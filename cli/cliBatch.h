// SPDX-License-Identifier: MIT
#pragma once

// Runs one piece of work per file on every core, reporting as the files finish: a progress
// bar on a terminal, one plain line per file otherwise, and a summary at the end.

#include "mdlFailure.h"

#include <chunkwell/MediaSystemLicence.h>

#include <QString>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace metronel::cli {

// What became of one file: error is empty on success, done says what was written.
struct FileOutcome {
    std::string error;
    std::string done;
    std::string warning; // said on its own line beside either
};

// One file's work. It runs whole on one worker thread, with that thread's licence, since
// Chunkwell's objects and last error belong to the thread that made them.
struct BatchItem {
    QString input;
    std::function<FileOutcome(chunkwell::MediaSystemLicence&)> work;
    std::int64_t memory = 0; // about what the work holds at its peak, in bytes
};

// Runs the items on jobs threads (0: four per core, since each output waits for the disk
// before it takes its name) and prints the outcome of each and the summary. Items run
// together only while their memory fits in a quarter of the machine's; one runs alone
// whatever it needs. Returns 0 when every item succeeded, 1 otherwise.
int RunBatch(const std::vector<BatchItem>& items, int jobs, const char* verb);

// Prints "metronel-cli: " + text to the error stream, on one line.
void PrintError(const std::string& text);

// Returns a file's name as printed: the system's bytes for it, whatever they are.
std::string NameBytes(const QString& name);

// Makes SIGINT, SIGTERM and SIGHUP remove this run's temporaries and end it with 128 plus the
// signal's number. Call first in main, before any other thread starts.
void RemoveTemporariesOnSignals();

// Returns the one-line reason the command line gives for failure.
std::string Reason(const WaveOutResult& failure);

} // namespace metronel::cli
