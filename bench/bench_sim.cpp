// SPDX-License-Identifier: BSD-3-Clause
// The map simulator's costs: one scan, one move, and whole 100 s goal runs
// (1,000 periods of scanner, pilot and motion) on BARN worlds, as robot-demo
// runs them. Run by hand: ./build/bench/bench_sim
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "scanpilot.h"
#include "scansim.h"
#include "sim_runs/map_episode.h"

namespace {

const std::string kBarn = std::string(SCANPILOT_SOURCE_DIR) + "/examples/maps/barn/";

const SimMap& Barn(int n) {
  static SimMap maps[300];
  SimMap& m = maps[n];
  if (!m.Loaded()) {
    char why[256];
    if (!m.Load((kBarn + "barn_" + std::to_string(n) + ".yaml").c_str(), SimMapOptions{}, why, sizeof why))
      std::fprintf(stderr, "%s\n", why);
  }
  return m;
}

void BM_Scan(benchmark::State& state) {
  SimWorld w;
  SimConfig c;
  c.range_noise = state.range(0) ? 0.01 : 0.0;
  char why[256];
  if (!w.Start(Barn(1), c, {-2.25, 5.75, 1.2}, 7, why, sizeof why)) state.SkipWithError(why);
  float scan[kSimReadings];
  for (auto _ : state) {
    w.Scan(scan);
    benchmark::DoNotOptimize(scan);
  }
}
BENCHMARK(BM_Scan)->Arg(0)->Arg(1);

void BM_Move(benchmark::State& state) {
  SimConfig c;
  c.robot_radius = 0.215;
  char why[256];
  for (auto _ : state) {
    state.PauseTiming();
    SimWorld w;
    w.Start(Barn(1), c, {-2.25, 3.0, 1.5707963267948966}, 7, why, sizeof why);
    state.ResumeTiming();
    benchmark::DoNotOptimize(w.Move(0.5, 0.3, 0.1));
  }
}
BENCHMARK(BM_Move);

// A whole goal run with the benchmark's rules; timeouts run all 1,000 periods.
void BM_GoalRun(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  MapRunPlan s;
  s.start = {-2.25, 3.0, 1.5707963267948966};
  s.has_goal = true;
  s.goal = {-2.25, 13.0};
  s.goal_tolerance = 1.0;
  s.time_limit = 100.0;
  s.robot_radius = 0.215;
  s.margin = 0.1;
  long long periods = 0;
  for (auto _ : state) {
    MapResult r;
    std::string why;
    if (!RunEpisode(s, Barn(n), false, {}, r, why)) state.SkipWithError(why.c_str());
    periods += r.periods;
  }
  state.counters["periods"] = benchmark::Counter(static_cast<double>(periods), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_GoalRun)->Arg(1)->Arg(7)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
