// SPDX-License-Identifier: BSD-3-Clause
// A recording as a replay reads it: the source for its format, the first
// pass that checks a regular file whole, and what is wrong with an empty one.
#ifndef SCANPILOT_RUNS_FILE_INPUT_H
#define SCANPILOT_RUNS_FILE_INPUT_H

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "cli/options.h"
#include "input/lds_source.h"
#include "input/turn_source.h"
#include "output/run_report.h"

// A recording as records: its bytes (a scanner's stream) and its source.
struct FileInput {
  std::unique_ptr<FileBytes> bytes;
  std::unique_ptr<TurnSource> src;
};

// The source of o.format over `in` (a bag is opened by its path, o.scans);
// `raw`: where a scanner's stream's bytes are recorded, or null. An input
// that cannot be opened gives its one error line as its first record.
FileInput OpenFileInput(const Options& o, std::FILE* in, const std::string& name, RunWarnings& warnings, RawSink* raw);

// A recording with nothing to replay: no scan at all, or for a scanner's
// stream not one complete turn. The error line, or nothing.
std::optional<std::string> Emptiness(const std::string& name, long long scans, const TurnSource& src);

// The first pass over a regular file: checks every line, so that a bad one
// stops the run before any output, counts the scans for the default pictures,
// and rewinds to where it started (standard input may be a file read
// part-way). The exit status when the run must stop.
std::optional<int> CheckWholeFile(const Options& o, const std::string& name, std::FILE* in, bool progress_on,
                                  RunWarnings& warnings, long long& count);

#endif
