// SPDX-License-Identifier: BSD-3-Clause
#include "runs/play_loop.h"

#include "base/std_streams.h"
#include "base/stop_signal.h"

std::string SourceError(const std::string& name, const TurnSource& src) {
  if (src.ErrorLine() > 0) return name + ":" + std::to_string(src.ErrorLine()) + ": " + src.Error();
  return name + ": " + src.Error();
}

std::string ScanRange(long long count) {
  return count > 0 ? "scans 0.." + std::to_string(count - 1) : std::string("no scans");
}

void WarnUnreachedSnapshots(const Options& o, long long scans, RunWarnings& warnings) {
  for (int n : o.snapshots)
    if (n >= scans)
      warnings.Warn("snapshot_not_reached", "--snapshot " + std::to_string(n) + ": the run ended with " +
                                                ScanRange(scans) + ", so it is not drawn");
}

const char* RunEndName(RunEnd end) {
  switch (end) {
    case RunEnd::kInput: return "input";
    case RunEnd::kTurns: return "turns";
    case RunEnd::kSignal: return "signal";
    case RunEnd::kError: break;
  }
  return "device";
}

RunEnd PlayTurns(const Options& o, TurnSource& src, Replay& replay, const PlayHooks& hooks,
                 std::optional<int>& status) {
  bool first = true;
  Scan scan{};
  TurnInfo info;
  for (;;) {
    // A stop signal, or a reader of standard output that went away.
    if (StopSignal() != 0 || StdoutPipeClosed()) return RunEnd::kSignal;
    const TurnSource::Result r = src.Next(scan, info);
    if (r == TurnSource::kEnd) return RunEnd::kInput;
    if (r == TurnSource::kError) return RunEnd::kError;
    if (r == TurnSource::kStopped) continue;  // the check above tells a stop signal from any other
    if (first && !hooks.header.empty()) Print("%s", hooks.header.c_str());
    first = false;
    if (r == TurnSource::kStop) {
      replay.StopRecord(info);
      continue;
    }
    PilotPoint candidate{};
    bool present = false;
    if (hooks.candidate && (status = hooks.candidate(replay.Scans(), candidate, present))) return RunEnd::kError;
    replay.Step(scan, present ? &candidate : nullptr, info.scanner ? &info : nullptr);
    if (hooks.tick) hooks.tick(replay.Scans());
    if (o.turns > 0 && replay.Scans() >= o.turns) return RunEnd::kTurns;
  }
}
