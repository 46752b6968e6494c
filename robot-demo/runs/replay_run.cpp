// SPDX-License-Identifier: BSD-3-Clause
#include "runs/replay_run.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include "base/messages.h"
#include "base/safe_text.h"
#include "base/std_streams.h"
#include "input/candidate_feed.h"
#include "input/file_kind.h"
#include "input/goal_feed.h"
#include "output/output_set.h"
#include "output/pictures.h"
#include "output/progress.h"
#include "output/turn_report.h"
#include "runs/file_input.h"
#include "runs/play_loop.h"
#include "runs/replay.h"
#include "runs/saved_files.h"

namespace {

// First, quarter, half, three quarters and last of `count` scans.
std::vector<long long> DefaultScanSnapshots(long long count) {
  std::vector<long long> out;
  if (count <= 0) return out;
  for (long long p : {0LL, count / 4, count / 2, (3 * count) / 4, count - 1})
    if (std::find(out.begin(), out.end(), p) == out.end()) out.push_back(p);
  return out;
}

// The scans to draw: those asked for; else, of a file of `count` scans,
// DefaultScanSnapshots; else (a pipe) the first, and the last at the end.
std::vector<long long> ScansToDraw(const Options& o, bool regular, long long count) {
  if (o.snapshots_given) return {o.snapshots.begin(), o.snapshots.end()};
  if (regular) return DefaultScanSnapshots(count);
  return {0};
}

// "replaying N scans from NAME" (N when known).
std::string ReplayLead(const std::string& name, long long count) {
  return "replaying " + (count >= 0 ? std::to_string(count) + " " : std::string()) + "scans from " + TerminalText(name);
}

// What is wrong once the input has ended, if anything.
std::optional<int> CheckRunEnd(const Options& o, const std::string& name, bool regular, long long count,
                               long long scans, CandidateFeed& candidates, const TurnSource& src) {
  if (const auto empty = Emptiness(name, scans, src)) return Fail(kExitBadInput, *empty);
  if (regular && scans != count) return Fail(kExitBadInput, name + ": changed while it was replayed");
  for (int n : o.snapshots)
    if (n >= scans)
      return Fail(kExitBadInput, "--snapshot " + std::to_string(n) + ": the input had " + ScanRange(scans));
  return candidates.Finish();
}

struct FileCloser {
  std::FILE* f;  // null: not ours to close
  ~FileCloser() {
    if (f != nullptr) std::fclose(f);
  }
};

// A replay of a recording: its input and what it writes besides the run's outputs.
struct FileRun {
  std::string name;
  bool regular = false;
  long long count = -1;  // scans, when a first pass counted them
  CandidateFeed candidates;
  GoalFeed goals;
  SavedFiles saved;
  explicit FileRun(const Options& o) : saved(o) {}
};

// After the loop: errors first, then the files and the closing lines. A
// replay cut short by a signal (or a closed pipe) keeps nothing.
int EndReplay(const Options& o, FileRun& run, RunEnd end, const std::optional<int>& status, const TurnSource& src,
              Replay& replay, RunWarnings& warnings) {
  if (const auto stopped = StopStatus()) {
    replay.EndStop();  // no summary, but the last command read is a stop
    return *stopped;
  }
  std::string lost;
  const bool stdout_ok = FlushStdout(lost);  // before any error line, so the two keep their order
  if (status) return *status;
  if (end == RunEnd::kError)
    return Fail(src.Kind() == TurnSource::ErrorKind::kDevice ? kExitDevice : kExitBadInput, SourceError(run.name, src));
  if (!stdout_ok) return Fail(kExitCannotWrite, "standard output: " + lost);
  if (end == RunEnd::kInput) {
    if (const auto bad = CheckRunEnd(o, run.name, run.regular, run.count, replay.Scans(), run.candidates, src))
      return *bad;
    if (run.goals.IsOpen() && !run.goals.AtEnd())
      return Fail(kExitBadInput, run.goals.Path() + ": has more lines than the recording has scans");
  } else {
    WarnUnreachedSnapshots(o, replay.Scans(), warnings);
  }
  replay.DrawLast();
  // The saved scans and bytes are replaced once the pictures are in.
  const auto commit = [&run] { return run.saved.Commit(); };
  const LdsStats* stats = src.Stats();
  if (stats == nullptr) return replay.Finish("", "", commit);
  return replay.Finish(StreamSummaryJson(*stats, RunEndName(end)), StreamSummaryLines(*stats, LdsGateOf(o), false, ""),
                       commit);
}

}  // namespace

int RunReplay(const Options& o) {
  FileRun run(o);
  if (const auto status = run.saved.Open()) return *status;
  const bool from_stdin = o.scans == "-";
  run.name = from_stdin ? "standard input" : o.scans;
  std::FILE* in = from_stdin ? stdin : std::fopen(o.scans.c_str(), "rb");
  if (in == nullptr) return Fail(kExitBadInput, run.name + ": cannot open: " + std::strerror(errno));
  const FileCloser closer{from_stdin ? nullptr : in};
  // A ROS 2 bag's folder is read whole twice, as a file is.
  run.regular = IsRegular(in) || (o.format == ScanFormat::kRosbag2 && IsFolder(in));
  // Scans that arrive as they are made are shown as they are planned.
  if (!run.regular) std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const bool progress_on = ::isatty(STDERR_FILENO) == 1 && (o.quiet || ::isatty(STDOUT_FILENO) != 1);
  RunWarnings warnings;
  if (run.regular) {
    if (const auto status = CheckWholeFile(o, run.name, in, progress_on, warnings, run.count)) return *status;
  }
  if (const auto status = run.candidates.Open(o.candidates, run.count)) return *status;
  OutputSet out;
  if (const auto status = OpenOutput(o.out, out)) return *status;
  Replay replay(o, run.name, ScansToDraw(o, run.regular, run.count), run.saved.Scans(),
                !run.regular && !o.snapshots_given, out, warnings);
  if (const auto status = replay.Start()) return *status;
  FileInput input = OpenFileInput(o, in, run.name, warnings, run.saved.Raw());
  Progress progress(progress_on, run.count);
  PlayHooks hooks;
  if (!o.quiet && !o.json) hooks.header = HeaderLine(o, ReplayLead(run.name, run.count));
  std::string goals_why;
  if (!run.goals.Open(o.goals, goals_why)) return Fail(kExitBadInput, goals_why);
  hooks.candidate = [&run, &replay](long long n, PilotPoint& p, bool& present) -> std::optional<int> {
    if (run.goals.IsOpen()) {
      double x = 0, y = 0;
      std::string why;
      if (!run.goals.Next(x, y, why)) return Fail(kExitBadInput, why);
      replay.SetGoal(x, y);
    }
    return run.candidates.Next(n, p, present);
  };
  hooks.tick = [&progress](long long n) { progress.Tick(n); };
  std::optional<int> status;
  const RunEnd end = PlayTurns(o, *input.src, replay, hooks, status);
  progress.Done();
  return EndReplay(o, run, end, status, *input.src, replay, warnings);
}
