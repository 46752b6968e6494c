// robot-demo: a host program for both libraries. With no arguments it runs the
// embedded following scenario (runs/demo_run.cpp); with --scans it replays
// recorded scans (runs/replay.cpp).
#include <new>

#include "cli/options.h"
#include "output/output_set.h"
#include "runs/demo_run.h"
#include "runs/replay.h"

int main(int argc, char** argv) {
  if (!CheckStandardStreams()) return Fail(kExitCannotWrite, "standard output is closed");
  try {
    Options o;
    std::optional<int> early = ParseOptions(argc, argv, o);
    const int status = early ? *early : o.scans.empty() && o.device.empty() ? RunDemo(o) : RunReplay(o);
    // A failed run has said why already; a good one must not hide lost output.
    std::string why;
    if (status == kExitOk && !FlushStdout(why)) return Fail(kExitCannotWrite, "standard output: " + why);
    return status;
  } catch (const std::bad_alloc&) {
    return Fail(kExitBadInput, "out of memory");
  }
}
