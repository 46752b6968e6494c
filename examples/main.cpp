// robot-demo: a host program for both libraries. With no arguments it runs the
// embedded following scenario (demo_run.cpp); with --scans it replays recorded
// scans (replay.cpp).
#include <new>

#include "cli.h"
#include "demo_run.h"
#include "replay.h"

int main(int argc, char** argv) {
  try {
    Options o;
    if (const auto status = ParseOptions(argc, argv, o)) return *status;
    return o.scans.empty() ? RunDemo(o) : RunReplay(o);
  } catch (const std::bad_alloc&) {
    return Fail(kExitBadInput, "out of memory");
  }
}
