// SPDX-License-Identifier: BSD-3-Clause
// robot-demo: a host program for the libraries. With no arguments it runs the
// embedded following scenario (runs/demo_run.cpp); with --scans it replays
// recorded scans (runs/replay_run.cpp), with --device it runs live from a
// scanner (runs/live.cpp), and with --map, --suite or --merge it runs on a map
// (sim_runs/).
#include <csignal>
#include <new>

#include "base/messages.h"
#include "base/std_streams.h"
#include "base/stop_signal.h"
#include "cli/options.h"
#include "runs/demo_run.h"
#include "runs/live.h"
#include "runs/replay_run.h"
#ifdef SCANPILOT_HAVE_SCANSIM
#include "sim_runs/sim_cli.h"
#endif

namespace {

// The run the options ask for: live from a device, a replay, or the demo.
int RunOf(const Options& o) {
  if (!o.device.empty()) return RunLive(o);
  if (!o.scans.empty()) return RunReplay(o);
  return RunDemo(o);
}

int Run(int argc, char** argv) {
#ifdef SCANPILOT_HAVE_SCANSIM
  if (WantsSimRun(argc, argv)) {
    const int status = RunSim(argc, argv);
    std::string why;
    if ((status == kExitOk || status == kExitBelowMinSuccess) && !FlushStdout(why))
      return Fail(kExitCannotWrite, "standard output: " + why);
    return status;
  }
#endif
  Options o;
  std::optional<int> early = ParseOptions(argc, argv, o);
  const int status = early ? *early : RunOf(o);
  // A failed run has said why already; a good one must not hide lost output.
  std::string why;
  if (status == kExitOk && !FlushStdout(why)) return Fail(kExitCannotWrite, "standard output: " + why);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (!CheckStandardStreams()) return Fail(kExitCannotWrite, "standard output is closed");
  InstallStopSignals();
  // A reader that went away shows as EPIPE on the next write, so the run can
  // clean up before it ends.
  std::signal(SIGPIPE, SIG_IGN);
  int status = kExitBadInput;
  try {
    status = Run(argc, argv);
  } catch (const std::bad_alloc&) {
    status = Fail(kExitBadInput, "out of memory");
  }
  // Everything the run made is cleaned up by now. A failure that came of a
  // stop signal (an interrupted read or write) is the interruption.
  if (status != kExitOk && StopSignal() != 0 && status != 128 + StopSignal()) status = Interrupted();
  if (StdoutPipeClosed() && status != 128 + StopSignal()) {
    // End as a Unix tool in a pipeline does: quietly, by the signal.
    std::signal(SIGPIPE, SIG_DFL);
    std::raise(SIGPIPE);
    return 128 + SIGPIPE;
  }
  return status;
}
