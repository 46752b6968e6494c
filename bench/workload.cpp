#include "cycle.h"
#include "world/scenario.h"

// The demo's default run, recorded: each tick's scan, the detector's
// candidate (the point one metre ahead when it saw nothing) and the target
// cell the demo handed the planner.
std::vector<WorkloadTick> CycleWorkload() {
  std::vector<WorkloadTick> ticks;
  Scenario world;
  Follower follower(world.InitialTrackDistance());
  while (!world.Done()) {
    WorkloadTick t;
    t.scan = world.ScanFromRobot();
    const Detection d = world.Detect();
    t.candX = d.present ? d.x : 1.0f;
    t.candY = d.present ? d.y : 0.0f;
    Scan forStep = t.scan;
    const TickResult r = follower.Step(forStep, d);
    t.targetCol = r.target_col;
    t.targetRow = r.target_row;
    ticks.push_back(t);
    world.MoveRobot(r.command);
    world.Advance();
  }
  return ticks;
}
