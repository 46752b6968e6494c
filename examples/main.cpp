// robot-demo: a host program for both libraries. With no arguments it runs the
// embedded following scenario (demo_run.cpp); with --scans it replays recorded
// scans (replay.cpp).
#include <new>

#include "cli.h"
#include "demo_run.h"
#include "output_set.h"
#include "replay.h"

int main(int argc, char** argv) {
  if (!CheckStandardStreams()) return Fail(kExitCannotWrite, "standard output is closed");
  try {
    Options o;
    std::optional<int> early = ParseOptions(argc, argv, o);
    const int status = early ? *early : o.scans.empty() ? RunDemo(o) : RunReplay(o);
    // A failed run has said why already; a good one must not hide lost output.
    std::string why;
    if (status == kExitOk && !FlushStdout(why)) return Fail(kExitCannotWrite, "standard output: " + why);
    return status;
  } catch (const std::bad_alloc&) {
    return Fail(kExitBadInput, "out of memory");
  }
}
