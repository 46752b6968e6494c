// SPDX-License-Identifier: BSD-3-Clause
#include "cycle.h"
#include "scanpilot.h"
#include "world/scenario.h"

// The demo's default run, recorded: each tick's scan, the detector's
// candidate (the point one metre ahead when it saw nothing) and the target
// cell the demo handed the planner.
std::vector<WorkloadTick> CycleWorkload() {
  std::vector<WorkloadTick> ticks;
  Scenario world;
  PilotConfig config;
  config.mode = PilotMode::kFollow;
  config.follow_distance = world.InitialTrackDistance();
  Pilot pilot;
  pilot.Start(config);
  while (!world.Done()) {
    WorkloadTick t;
    t.scan = world.ScanFromRobot();
    const Detection d = world.Detect();
    t.candX = d.present ? d.x : 1.0f;
    t.candY = d.present ? d.y : 0.0f;
    const PilotPoint candidate{d.x, d.y};
    PilotStep s;
    pilot.Step(t.scan.data(), d.present ? &candidate : nullptr, s);
    t.targetCol = s.has_target ? s.target.col : -1;
    t.targetRow = s.has_target ? s.target.row : -1;
    ticks.push_back(t);
    world.MoveRobot({s.command.speed, s.command.turn_rate});
    world.Advance();
  }
  return ticks;
}
