// Times Pilot::Step on one scan and GetHelperNum from C++, the baseline for
// the same calls through the Python module (python/bench_overhead.py).
//   pilot_call_loop ITERATIONS < scan        (360 readings; goal mode, defaults)
// Prints the best of 5 rounds in ns per call.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "pathgrid.h"
#include "scanpilot.h"

namespace {

template <typename F>
double BestNs(long n, F f) {
  double best = 1e300;
  for (int round = 0; round < 5; ++round) {
    const auto t0 = std::chrono::steady_clock::now();
    for (long i = 0; i < n; ++i) f();
    const std::chrono::duration<double, std::nano> d = std::chrono::steady_clock::now() - t0;
    best = std::min(best, d.count() / static_cast<double>(n));
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const long n = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 20000;
  float scan[kPilotReadings];
  for (float& r : scan)
    if (n <= 0 || std::scanf("%f", &r) != 1) {
      std::fprintf(stderr, "pilot_call_loop: usage: pilot_call_loop ITERATIONS < scan (360 readings)\n");
      return 2;
    }
  Pilot pilot;
  if (PilotError e = pilot.Start(PilotConfig{}); e != PilotError::kNone) {
    std::fprintf(stderr, "pilot_call_loop: %s\n", PilotErrorText(e));
    return 1;
  }
  PilotStep step{};
  const double step_ns = BestNs(n, [&] { pilot.Step(scan, nullptr, step); });
  pilot.Stop();
  volatile int sink = 0;
  const double helper_ns = BestNs(n * 100, [&] { sink = GetHelperNum(); });
  std::printf("step_ns %.1f\nget_helper_num_ns %.2f\npath_cells %d\n", step_ns, helper_ns, step.path_cells);
  return 0;
}
