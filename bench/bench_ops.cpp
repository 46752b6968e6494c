// SPDX-License-Identifier: BSD-3-Clause
// Wall time per call of the operations a control loop pays for on every scan.
// Run by hand: ./build/bench/bench_ops (figures are ns per call; the machine
// is shared, so compare runs made side by side, or use cycle_count).
#include <benchmark/benchmark.h>

#include <vector>

#include "cycle.h"
#include "pathgrid.h"
#include "scanfollow.h"
#include "scenes.h"
#include "workload.h"

static void BM_SetRanges(benchmark::State& state, Scan scan) {
  InitHelper();
  for (auto _ : state) SetRanges(scan.data());
}
BENCHMARK_CAPTURE(BM_SetRanges, room, RoomScan());
BENCHMARK_CAPTURE(BM_SetRanges, all_zero, FilledScan(0.0f));
BENCHMARK_CAPTURE(BM_SetRanges, all_inf, FilledScan(std::numeric_limits<float>::infinity()));

static void BM_SetTarget(benchmark::State& state, int x, int y) {
  InitHelper();
  for (auto _ : state) SetTarget(x, y);
}
BENCHMARK_CAPTURE(BM_SetTarget, centre, 50, 60);
BENCHMARK_CAPTURE(BM_SetTarget, corner, 0, 0);

static void BM_OutLine_Short(benchmark::State& state) {
  SetupShortWalk();
  for (auto _ : state) benchmark::DoNotOptimize(OutLine());
  state.counters["entries"] = GetHelperNum();
}
BENCHMARK(BM_OutLine_Short);

static void BM_OutLine_NoTarget(benchmark::State& state) {
  SetupNoTargetWalk();
  for (auto _ : state) benchmark::DoNotOptimize(OutLine());
  state.counters["entries"] = GetHelperNum();
}
BENCHMARK(BM_OutLine_NoTarget);

static void BM_OutLine_Serpentine(benchmark::State& state) {
  SetupSerpentineWalk();
  for (auto _ : state) benchmark::DoNotOptimize(OutLine());
  state.counters["entries"] = GetHelperNum();
}
BENCHMARK(BM_OutLine_Serpentine);

static void BM_Filter_FrontHalf(benchmark::State& state) {
  Scan scan = FrontHalfScan();
  thredhold(1.0f);
  float x = 0.0f;
  float y = 0.0f;
  for (auto _ : state) {
    filter(1.02f, 0.0f, scan.data(), scan.data(), x, y);
    benchmark::DoNotOptimize(x);
  }
}
BENCHMARK(BM_Filter_FrontHalf);

static void BM_WholeCycle(benchmark::State& state) {
  std::vector<WorkloadTick> ticks = CycleWorkload();
  InitHelper();
  thredhold(1.0f);
  size_t i = 0;
  for (auto _ : state) {
    WorkloadTick& t = ticks[i];
    benchmark::DoNotOptimize(RunCycle(t));
    i = i + 1 == ticks.size() ? 0 : i + 1;
  }
  state.counters["scans"] = static_cast<double>(ticks.size());
}
BENCHMARK(BM_WholeCycle);

BENCHMARK_MAIN();
