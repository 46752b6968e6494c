// SPDX-License-Identifier: BSD-3-Clause
// The loop every replay and live run shares: each record of a source
// through the run's Replay, and how the loop ended.
#ifndef SCANPILOT_RUNS_PLAY_LOOP_H
#define SCANPILOT_RUNS_PLAY_LOOP_H

#include <functional>
#include <optional>
#include <string>

#include "cli/options.h"
#include "input/turn_source.h"
#include "output/run_report.h"
#include "runs/replay.h"
#include "scanpilot.h"

// What ended a run's loop.
enum class RunEnd {
  kInput,   // the input ended
  kTurns,   // --turns planned turns were reached
  kSignal,  // a stop signal arrived
  kError,   // the source failed (its Error()) or a candidate line did (status given)
};

struct PlayHooks {
  std::string header;  // printed (with its line end) before the first record, unless empty
  // A detector's candidate for scan n: sets `present` and `p`; the exit
  // status (already reported) when the run must stop.
  std::function<std::optional<int>(long long n, PilotPoint& p, bool& present)> candidate;
  std::function<void(long long scans)> tick;  // after each scan: progress
};

// Each record of `src` through `replay` until the input ends, --turns is
// reached, a stop signal arrives or something fails. `status` is set when a
// candidate line failed.
RunEnd PlayTurns(const Options& o, TurnSource& src, Replay& replay, const PlayHooks& hooks, std::optional<int>& status);

// "NAME:LINE: MESSAGE" or "NAME: MESSAGE" for a failed source.
std::string SourceError(const std::string& name, const TurnSource& src);
// "scans 0..N-1", or "no scans".
std::string ScanRange(long long count);
// A warning for each --snapshot beyond the `scans` of a run that ended
// before its input did.
void WarnUnreachedSnapshots(const Options& o, long long scans, RunWarnings& warnings);
// The summary's name for how a run ended: "input", "turns", "signal" or "device".
const char* RunEndName(RunEnd end);

#endif
