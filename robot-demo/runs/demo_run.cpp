// SPDX-License-Identifier: BSD-3-Clause
#include "runs/demo_run.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "base/json_writer.h"
#include "base/messages.h"
#include "base/std_streams.h"
#include "grid_frame.h"
#include "output/grid_view.h"
#include "output/output_set.h"
#include "output/pass_line.h"
#include "output/pictures.h"
#include "output/run_report.h"
#include "output/svg.h"
#include "output/turn_report.h"
#include "output/viewer/run_viewer.h"
#include "output/viewer/viewer_glue.h"
#include "scanpilot.h"
#include "world/scenario.h"

namespace {

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const auto k = static_cast<std::size_t>(std::ceil(p * static_cast<double>(v.size()))) - 1;
  return v[std::min(k, v.size() - 1)];
}

// One tick's step and what it cost.
struct Tick {
  PilotStep step;
  double cycle_us;
};

// What the summary reports, gathered tick by tick.
struct RunStats {
  explicit RunStats(double radius) : robot_radius(radius) {}
  double robot_radius;
  std::vector<double> cycle_us, distance;
  int reached = 0, false_alarms = 0, false_passed = 0, true_seen = 0, true_passed = 0;
  int wall_contacts = 0;
  double closest_wall = std::numeric_limits<double>::infinity();
  double closest_wall_t = 0.0;
  double closest_person = std::numeric_limits<double>::infinity();

  void CountPass(const Detection& det, const Tick& t) {
    cycle_us.push_back(t.cycle_us);
    reached += t.step.reached ? 1 : 0;
    if (det.present && det.false_alarm) {
      ++false_alarms;
      false_passed += t.step.candidate_passed ? 1 : 0;
    } else if (det.present) {
      ++true_seen;
      true_passed += t.step.candidate_passed ? 1 : 0;
    }
  }

  // After the move of tick `tick`: robot at p, person at q.
  void CountMove(const Room& room, int tick, const Pose& p, Vec2 q) {
    const double d = std::hypot(p.x - q.x, p.y - q.y);
    distance.push_back(d);
    closest_person = std::min(closest_person, d - robot_radius - Scenario::kPersonRadius);
    const double clear = Clearance(room, {p.x, p.y}) - robot_radius;
    if (clear <= 0.0) ++wall_contacts;
    if (clear < closest_wall) {
      closest_wall = clear;
      closest_wall_t = (tick + 1) * Scenario::kDt;
    }
  }

  double MeanDistance() const {
    double mean = 0.0;
    for (double d : distance) mean += d;
    return mean / static_cast<double>(distance.size());
  }
  double WorstDistance() const { return *std::max_element(distance.begin(), distance.end()); }
};

void PrintStatusLine(int tick, const Pose& p, Vec2 q, double distance, const PilotStep& step) {
  Print("t=%5.1fs robot=(%s, %s) heading %4s deg  person=(%s, %s)  distance %s m  %s  planner's path %s\n",
        (tick + 1) * Scenario::kDt, Fixed(p.x, 2).c_str(), Fixed(p.y, 2).c_str(),
        Fixed(p.heading * 180.0 / kPi, 0).c_str(), Fixed(q.x, 2).c_str(), Fixed(q.y, 2).c_str(),
        Fixed(distance, 2).c_str(), DriveText(step).substr(2).c_str(), step.reached ? "reached" : "short");
}

void PrintSummary(const RunStats& s) {
  Print("\nsummary\n");
  Print("  ticks: %d\n", Scenario::kTicks);
  Print("  planner's path reached the target: %d of %d passes\n", s.reached, Scenario::kTicks);
  Print("  distance to the person (centres): mean %.2f m, worst %.2f m; closest gap %s m\n", s.MeanDistance(),
        s.WorstDistance(), Fixed(s.closest_person, 2).c_str());
  Print("  closest approach to a wall or obstacle: %s m (robot edge, at t=%.1fs); wall contacts: %d\n",
        Fixed(s.closest_wall, 3).c_str(), s.closest_wall_t, s.wall_contacts);
  Print("  false detections rejected: %d of %d; true detections passed: %d of %d\n",
              s.false_alarms - s.false_passed, s.false_alarms, s.true_passed, s.true_seen);
  Print("  planner + tracker cycle: median %.1f us, p99 %.1f us\n", Percentile(s.cycle_us, 0.5),
              Percentile(s.cycle_us, 0.99));
}

// The summary's JSON members, same figures as PrintSummary.
std::string SummaryMembers(const RunStats& s) {
  JsonWriter w = JsonWriter::Members();
  w.Key("ticks").Int(Scenario::kTicks).Key("reached").Int(s.reached);
  w.Key("distance_mean").Number(s.MeanDistance()).Key("distance_worst").Number(s.WorstDistance());
  w.Key("closest_gap").Number(s.closest_person).Key("closest_wall").Number(s.closest_wall);
  w.Key("closest_wall_t").Number(s.closest_wall_t).Key("wall_contacts").Int(s.wall_contacts);
  w.Key("false_detections").Int(s.false_alarms).Key("false_rejected").Int(s.false_alarms - s.false_passed);
  w.Key("true_detections").Int(s.true_seen).Key("true_passed").Int(s.true_passed);
  w.Key("cycle_median_us").Number(Percentile(s.cycle_us, 0.5));
  return w.Key("cycle_p99_us").Number(Percentile(s.cycle_us, 0.99)).Text();
}

// The --verbose line: robot at p and person at q when the scan was taken.
std::string TickLineOf(int tick, const PilotStep& s, const Pose& p, Vec2 q) {
  TickFigures f{};
  f.t = tick * Scenario::kDt;
  f.pass = {s.reached, s.path_cells, s.steering.x, s.steering.y, s.path_end.x, s.path_end.y, s.bearing};
  f.has_target = s.has_target;
  f.tracked_x = s.tracked.x;
  f.tracked_y = s.tracked.y;
  f.distance = std::hypot(p.x - q.x, p.y - q.y);
  return TickLine(tick, f);
}

// The tick's JSON object: the step, its time and the true distance.
std::string TickJson(int tick, const PilotStep& s, const Pose& p, Vec2 q) {
  JsonWriter w = JsonWriter::Continuing();
  w.Key("t").Number(tick * Scenario::kDt).Key("distance").Number(std::hypot(p.x - q.x, p.y - q.y));
  return StepJson(s, tick, w.Text());
}

void AddTickPicture(PictureFiles& files, int tick, const GridView& v) {
  char title[96];
  std::snprintf(title, sizeof title, "Planner grid at tick %d (t = %.1f s)", tick, tick * Scenario::kDt);
  AddGridPicture(files, tick, v, title, "tick " + std::to_string(tick));
}

ViewerRunHeader ViewerHeader(const Scenario& world, const Options& o) {
  ViewerRunHeader h;
  h.title = "Robot following a person (seed " + std::to_string(o.seed) + ")";
  h.tick_name = "tick";
  h.has_room = true;
  h.room = ViewerRoomFromRoom(world.World(), world.Route());
  h.dt = Scenario::kDt;
  h.robot_radius = o.robot_radius;
  h.person_radius = Scenario::kPersonRadius;
  return h;
}

// The viewer's tick: the grid, the --verbose line, and robot and person as
// they were when the scan was taken.
ViewerTick ViewerTickOf(const GridView& v, const std::string& line, const Pose& p, Vec2 q) {
  ViewerTick t = ViewerTickFromGridView(v, line);
  t.has_pose = true;
  t.pose_x = p.x;
  t.pose_y = p.y;
  t.pose_heading = p.heading;
  t.has_person = true;
  t.person_x = q.x;
  t.person_y = q.y;
  t.has_distance = true;
  t.distance = std::hypot(p.x - q.x, p.y - q.y);
  return t;
}

// The follower: the person's detector feeds the tracker's gate.
Tick StepPilot(Pilot& pilot, const Scan& scan, const Detection& det) {
  Tick t{};
  const PilotPoint candidate{det.x, det.y};
  const auto t0 = std::chrono::steady_clock::now();
  pilot.Step(scan.data(), det.present ? &candidate : nullptr, t.step);
  const auto t1 = std::chrono::steady_clock::now();
  t.cycle_us = std::chrono::duration<double, std::micro>(t1 - t0).count();
  return t;
}

// Everything a demo run keeps besides the world.
struct DemoRun {
  const Options& o;
  std::vector<int> snaps;
  Pilot pilot;
  RunTrace trace;
  PictureFiles files;
  RunStats stats;
  RunViewer viewer;
  StopTally stops;
};

// One tick: scan, detect, step, report, draw, move.
void RunTick(DemoRun& run, Scenario& world) {
  const int tick = world.Tick();
  const Scan scan = world.ScanFromRobot();
  const Detection det = world.Detect();
  const Pose seen_from = world.Robot();
  const Vec2 seen = world.Person();
  const Tick t = StepPilot(run.pilot, scan, det);
  const std::string line = TickLineOf(tick, t.step, seen_from, seen) + DriveText(t.step);
  run.stops.Count(t.step);
  if (run.o.json)
    Print("%s\n", TickJson(tick, t.step, seen_from, seen).c_str());
  else if (run.o.verbose)
    Print("%s\n", line.c_str());
  const bool drawn = IsSnapshot(run.snaps, tick);
  if (drawn || run.viewer.Wants()) {
    const GridView v = CaptureGridView(run.pilot, t.step);
    if (run.viewer.Wants()) run.viewer.Add(ViewerTickOf(v, line, seen_from, seen));
    if (drawn) AddTickPicture(run.files, tick, v);
  }
  run.stats.CountPass(det, t);
  world.MoveRobot({t.step.command.speed, t.step.command.turn_rate});
  const Pose p = world.Robot();
  world.Advance();
  const Vec2 q = world.Person();
  run.trace.robot.push_back(p);
  run.trace.person.push_back(q);
  run.stats.CountMove(world.World(), tick, p, q);
  if (!run.o.json && (tick + 1) % 10 == 0) PrintStatusLine(tick, p, q, run.stats.distance.back(), t.step);
}

}  // namespace

int RunDemo(const Options& o) {
  for (int n : o.snapshots)
    if (n >= Scenario::kTicks)
      return UsageError("--snapshot " + std::to_string(n) + ": the run has ticks 0.." +
                        std::to_string(Scenario::kTicks - 1));
  OutputSet out;
  if (const auto status = OpenOutput(o.out, out)) return *status;
  Scenario world(o.seed);
  const std::vector<int> snaps = o.snapshots_given ? o.snapshots : DefaultSnapshots(Scenario::kTicks);
  DemoRun run{o,
              snaps,
              Pilot{},
              RunTrace{{world.Robot()}, {world.Person()}, snaps, Scenario::kDt, o.robot_radius},
              PictureFiles{},
              RunStats(o.robot_radius),
              RunViewer(out, ViewerHeader(world, o), o.html),
              StopTally{}};
  PilotConfig config = PilotConfigOf(o);
  config.mode = PilotMode::kFollow;
  config.follow_distance = world.InitialTrackDistance();
  if (const PilotError e = run.pilot.Start(config); e != PilotError::kNone)
    return Fail(kExitBadInput, PilotErrorText(e));

  if (!o.json)
    Print("robot-demo: following a person for %.0f s at %.0f Hz (robot radius %.2f m)\n",
                Scenario::kTicks * Scenario::kDt, 1.0 / Scenario::kDt, o.robot_radius);
  while (!world.Done()) {
    RunTick(run, world);
    if (const auto status = StopStatus()) {
      if (o.json && !StdoutPipeClosed()) Print("%s\n", EndStopJson(world.Tick()).c_str());
      return *status;
    }
  }
  if (!o.json) {
    PrintSummary(run.stats);
    Print("  %s", run.stops.CommandLine(Scenario::kTicks, "ticks").c_str());
    Print("  %s", run.stops.Line(Scenario::kTicks, "ticks").c_str());
    if (const std::string lost = run.stops.LostLine(Scenario::kTicks, "ticks"); !lost.empty())
      Print("  %s", lost.c_str());
  }
  run.viewer.Finish();
  run.files.emplace_back("run.svg", RunSvg(world.World(), world.Route(), run.trace));
  std::sort(run.files.begin(), run.files.end());
  const int status = WritePictures(out, run.files, !o.json);
  if (o.json) {
    const std::string pictures = status == kExitOk ? PicturesJson(out) : std::string("null");
    Print("%s\n", EndStopJson(Scenario::kTicks).c_str());
    JsonWriter w = JsonWriter::Members();
    w.MoreMembers(SummaryMembers(run.stats)).MoreMembers(run.stops.Json());
    w.Key("warnings").BeginArray().EndArray().Key("pictures").Json(pictures);
    Print("%s\n", SummaryJson(w.Text()).c_str());
  }
  return status;
}
