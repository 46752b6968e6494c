// SPDX-License-Identifier: BSD-3-Clause
// Times Pilot::Step on one scan and GetHelperNum from C++, the baseline for
// the same calls through the Python module (python/bench/overhead.py).
//   pilot_call_loop ITERATIONS [ROUNDS [step|helper]] < scan   (360 readings; goal mode, defaults)
// Prints the best of ROUNDS (default 5) rounds in ns per call; under
// callgrind, one round of one kind gives instructions per call by difference.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pathgrid.h"
#include "scanpilot.h"

namespace {

template <typename F>
double BestNs(long n, long rounds, F f) {
  double best = 1e300;
  for (long round = 0; round < rounds; ++round) {
    const auto t0 = std::chrono::steady_clock::now();
    for (long i = 0; i < n; ++i) f();
    const std::chrono::duration<double, std::nano> d = std::chrono::steady_clock::now() - t0;
    best = std::min(best, d.count() / static_cast<double>(n > 0 ? n : 1));
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const long n = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 20000;
  const long rounds = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 5;
  const char* which = argc > 3 ? argv[3] : "both";
  float scan[kPilotReadings];
  for (float& r : scan)
    if (n < 0 || rounds < 1 || std::scanf("%f", &r) != 1) {
      std::fprintf(stderr, "pilot_call_loop: usage: pilot_call_loop ITERATIONS [ROUNDS [step|helper]] < scan\n");
      return 2;
    }
  Pilot pilot;
  if (PilotError e = pilot.Start(PilotConfig{}); e != PilotError::kNone) {
    std::fprintf(stderr, "pilot_call_loop: %s\n", PilotErrorText(e));
    return 1;
  }
  PilotStep step{};
  pilot.Step(scan, nullptr, step);
  if (std::strcmp(which, "helper") != 0)
    std::printf("step_ns %.1f\n", BestNs(n, rounds, [&] { pilot.Step(scan, nullptr, step); }));
  pilot.Stop();
  volatile int sink = 0;
  if (std::strcmp(which, "step") != 0)
    std::printf("get_helper_num_ns %.2f\n", BestNs(n, rounds, [&] { sink = GetHelperNum(); }));
  std::printf("path_cells %d\n", step.path_cells);
  return 0;
}
