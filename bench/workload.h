// SPDX-License-Identifier: BSD-3-Clause
// Planner states for the walk benchmarks and the whole-cycle workload.
#ifndef SCANPILOT_BENCH_WORKLOAD_H
#define SCANPILOT_BENCH_WORKLOAD_H

#include <limits>
#include <vector>

#include "pathgrid.h"
#include "scenes.h"

inline void SetupEmptyField() {
  InitHelper();
  Scan none = FilledScan(std::numeric_limits<float>::infinity());
  SetRanges(none.data());
  ClearTarget();
}

// Ten steps straight ahead to a target.
inline void SetupShortWalk() {
  SetupEmptyField();
  SetTarget(50, 60);
}

// No target: the walk runs up to the edge and along it, 149 entries.
inline void SetupNoTargetWalk() { SetupEmptyField(); }

// One-cell walls every other row with the gap at alternating ends: the walk
// winds through every corridor, 2500 entries.
inline void SetupSerpentineWalk() {
  SetupEmptyField();
  SetBorder(0.05f);
  for (int x = 0; x < 100; ++x) SetObst(x, 49);
  for (int y = 52; y <= 98; y += 2) {
    const int gap = (y / 2) % 2 == 0 ? 0 : 99;
    for (int x = 0; x < 100; ++x) {
      if (x != gap) SetObst(x, y);
    }
  }
}

// Echoes across the whole front half around 1 m ahead, far sides beyond range.
inline Scan FrontHalfScan() {
  Scan s = FilledScan(std::numeric_limits<float>::infinity());
  for (int i = 90; i <= 270; ++i) s[static_cast<size_t>(i)] = 1.0f + 0.001f * static_cast<float>(i % 7);
  return s;
}

#endif
