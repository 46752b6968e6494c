// SPDX-License-Identifier: BSD-3-Clause
// One control-loop cycle as a host runs it: tracker, then planner.
#ifndef SCANPILOT_BENCH_CYCLE_H
#define SCANPILOT_BENCH_CYCLE_H

#include "pathgrid.h"
#include "scanfollow.h"
#include "scenes.h"

#include <vector>

struct CycleResult {
  float trackX, trackY;
  bool reached;
  float fixX, fixY, faceX, faceY;
};

// One tick as the demo runs it: the scan, the detector's candidate and the
// target cell the host chose (-1 when it had none).
struct WorkloadTick {
  Scan scan;
  float candX;
  float candY;
  int targetCol;
  int targetRow;
};

inline CycleResult RunCycle(WorkloadTick& t) {
  float trackX = 0.0f;
  float trackY = 0.0f;
  filter(t.candX, t.candY, t.scan.data(), t.scan.data(), trackX, trackY);
  SetRanges(t.scan.data());
  ClearTarget();
  SetTarget(t.targetCol, t.targetRow);
  CycleResult r;
  r.trackX = trackX;
  r.trackY = trackY;
  r.reached = OutLine();
  r.fixX = GetFixX();
  r.fixY = GetFixY();
  r.faceX = GetFaceX();
  r.faceY = GetFaceY();
  return r;
}

std::vector<WorkloadTick> CycleWorkload();

#endif
