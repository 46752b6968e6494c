// SPDX-License-Identifier: BSD-3-Clause
#include "runs/live.h"

#include <csignal>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/std_streams.h"
#include "base/stop_signal.h"
#include "input/lds_source.h"
#include "input/scanner_link.h"
#include "input/serial_port.h"
#include "output/output_set.h"
#include "output/pictures.h"
#include "output/run_report.h"
#include "output/turn_report.h"
#include "runs/play_loop.h"
#include "runs/replay.h"
#include "runs/saved_files.h"

namespace {

// The stop signals are blocked while the run works and let in only while it
// waits for bytes (ppoll), so that none cuts a write to standard output
// short and none slips in between a check and the next wait.
class StopSignalBlock {
 public:
  StopSignalBlock() {
    InstallStopSignals();
    sigset_t stop;
    sigemptyset(&stop);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stop, s);
    sigprocmask(SIG_BLOCK, &stop, &old_);
    wait_ = old_;
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigdelset(&wait_, s);
  }
  ~StopSignalBlock() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
  StopSignalBlock(const StopSignalBlock&) = delete;
  StopSignalBlock& operator=(const StopSignalBlock&) = delete;
  const sigset_t* WaitMask() const { return &wait_; }

 private:
  sigset_t old_{}, wait_{};
};

// The summary's "ended: ..." line.
std::string EndText(const Options& o, RunEnd end) {
  switch (end) {
    case RunEnd::kTurns: return "--turns " + std::to_string(o.turns) + " planned turns reached";
    case RunEnd::kSignal: return std::string("stopped by ") + SignalName(StopSignal());
    case RunEnd::kInput:
    case RunEnd::kError: break;
  }
  return "the device went away";
}

// After the loop: the files, the summary, then the line for a device that went away.
int EndLive(const Options& o, SavedFiles& files, RunEnd end, const LdsTurnSource& src, Replay& replay,
            RunWarnings& warnings) {
  // The recording first: the bytes of a live session cannot be had again.
  if (const int status = files.CommitRaw(); status != kExitOk) return status;
  std::string lost;
  if (!FlushStdout(lost)) return Fail(kExitCannotWrite, "standard output: " + lost);
  WarnUnreachedSnapshots(o, replay.Scans(), warnings);
  replay.DrawLast();
  if (const int status = files.CommitScans(); status != kExitOk) return status;
  const bool failed = end == RunEnd::kError || end == RunEnd::kInput;
  const int status = replay.Finish(StreamSummaryJson(*src.Stats(), RunEndName(failed ? RunEnd::kError : end)),
                                   StreamSummaryLines(*src.Stats(), LdsGateOf(o), true, EndText(o, end)));
  if (!failed) return status;
  FlushStdout(lost);  // the summary comes before the closing error line
  if (src.Error().empty()) return Fail(kExitDevice, o.device + ": the device went away");
  return Fail(src.Kind() == TurnSource::ErrorKind::kDevice ? kExitDevice : kExitBadInput, SourceError(o.device, src));
}

}  // namespace

int RunLive(const Options& o) {
  RunWarnings warnings;
  OutputSet out;
  SavedFiles files(o);
  if (const auto status = OpenOutput(o.out, out)) return *status;
  if (const auto status = files.Open()) return *status;
  const std::vector<long long> draw =
      o.snapshots_given ? std::vector<long long>(o.snapshots.begin(), o.snapshots.end()) : std::vector<long long>{0};
  Replay replay(o, o.device, draw, files.Scans(), !o.snapshots_given, out, warnings);
  if (const auto status = replay.Start()) return *status;
  const StopSignalBlock signals;
  SerialPort port;
  std::string why;
  if (!port.Open(o.device, o.baud, why)) return Fail(kExitBadInput, o.device + ": " + why);
  port.WaitMask(signals.WaitMask());
  // Each record goes out as it happens, whatever standard output is.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (!o.quiet && !o.json)
    std::fputs(HeaderLine(o, "live from " + o.device + " (" + StreamKindName(o.stream) + ") at " +
                                 std::to_string(o.baud) + " baud")
                   .c_str(),
               stdout);
  // A scanner that waits to be asked is started here, and stopped on every way out.
  ScannerLink link(port, o.control);
  if (!link.Start(why)) {
    TurnInfo info;
    info.scanner = true;
    info.skip = link.WrongAnswer() ? SkipReason::kDescriptor : SkipReason::kTimeout;
    info.limit = 2.0;  // the wait for an answer, s
    replay.StopRecord(info);
    link.Stop();
    port.Close();
    FlushStdout(why);
    return Fail(kExitDevice, o.device + ": " + why);
  }
  LdsTurnSource src(port, o.stream, MountedLayout(o), LdsGateOf(o), files.Raw(), link.Active() ? &link : nullptr);
  std::optional<int> status;
  const RunEnd end = PlayTurns(o, src, replay, PlayHooks{}, status);
  // However the run ends, the last command it gives is a stop.
  TurnInfo last;
  last.scanner = true;
  last.skip = SkipReason::kEnd;
  replay.StopRecord(last);
  link.Stop();
  port.Close();
  return EndLive(o, files, end, src, replay, warnings);
}
