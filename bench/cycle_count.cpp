// SPDX-License-Identifier: BSD-3-Clause
// Instruction counter. Each mode runs its operation `n` times inside
// scanpilot_measure(); bench/callgrind.sh collects instructions only there,
// so the count divided by n is instructions per call, whatever the machine
// is doing meanwhile.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cycle.h"
#include "pathgrid.h"
#include "scanfollow.h"
#include "scenes.h"
#include "workload.h"

static std::vector<WorkloadTick> g_ticks;
static Scan g_scan;
static volatile float g_sink;

enum Mode { kCycle, kSetTarget, kSetRanges, kFilter };

extern "C" __attribute__((noinline)) void scanpilot_measure(Mode mode, int n) {
  for (int k = 0; k < n; ++k) {
    switch (mode) {
      case kCycle: {
        WorkloadTick& t = g_ticks[static_cast<size_t>(k) % g_ticks.size()];
        g_sink = RunCycle(t).fixX;
        break;
      }
      case kSetTarget: SetTarget(50, 60); break;
      case kSetRanges: SetRanges(g_scan.data()); break;
      case kFilter: {
        float x, y;
        filter(1.02f, 0.0f, g_scan.data(), g_scan.data(), x, y);
        g_sink = x;
        break;
      }
    }
  }
}

// FNV-1a over the raw bytes of every cycle's results, so two builds of the
// libraries can be compared bit for bit on the same workload.
static int PrintOutputDigest(int n) {
  std::uint64_t h = 1469598103934665603ull;
  auto mix = [&h](const void* p, std::size_t size) {
    const unsigned char* b = static_cast<const unsigned char*>(p);
    for (std::size_t i = 0; i < size; ++i) h = (h ^ b[i]) * 1099511628211ull;
  };
  for (int k = 0; k < n; ++k) {
    WorkloadTick& t = g_ticks[static_cast<size_t>(k) % g_ticks.size()];
    const CycleResult r = RunCycle(t);
    const int count = GetHelperNum();
    mix(&r.reached, sizeof r.reached);
    mix(&count, sizeof count);
    for (float f : {r.trackX, r.trackY, r.fixX, r.fixY, r.faceX, r.faceY}) mix(&f, sizeof f);
  }
  std::printf("outputs of %d cycles: %016llx\n", n, static_cast<unsigned long long>(h));
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 3 && !std::strcmp(argv[1], "outputs")) {
    InitHelper();
    thredhold(1.0f);
    g_ticks = CycleWorkload();
    InitHelper();
    thredhold(1.0f);
    return PrintOutputDigest(std::atoi(argv[2]));
  }
  if (argc != 3) {
    std::fprintf(stderr, "usage: cycle_count cycle|settarget|setranges|filter|outputs N\n");
    return 2;
  }
  const int n = std::atoi(argv[2]);
  Mode mode;
  if (!std::strcmp(argv[1], "cycle")) mode = kCycle;
  else if (!std::strcmp(argv[1], "settarget")) mode = kSetTarget;
  else if (!std::strcmp(argv[1], "setranges")) mode = kSetRanges;
  else if (!std::strcmp(argv[1], "filter")) mode = kFilter;
  else return 2;
  if (n <= 0) return 2;

  InitHelper();
  thredhold(1.0f);
  if (mode == kCycle) {
    g_ticks = CycleWorkload();
  } else if (mode == kSetRanges) {
    g_scan = RoomScan();
  } else if (mode == kFilter) {
    g_scan = FrontHalfScan();
  }
  // Warm-up outside the counted region: symbol binding and first touches.
  scanpilot_measure(mode, 1);
  InitHelper();
  thredhold(1.0f);
  scanpilot_measure(mode, n);
  std::printf("%s: %d calls%s\n", argv[1], n,
              mode == kCycle ? " over the demo scenario's scans" : "");
  return 0;
}
