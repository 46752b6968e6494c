#include "runs/demo_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "grid_frame.h"
#include "output/grid_view.h"
#include "output/output_set.h"
#include "output/pictures.h"
#include "output/svg.h"
#include "output/viewer/run_viewer.h"
#include "output/viewer/viewer_glue.h"
#include "runs/pass_line.h"
#include "world/scenario.h"

namespace {

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const auto k = static_cast<std::size_t>(std::ceil(p * static_cast<double>(v.size()))) - 1;
  return v[std::min(k, v.size() - 1)];
}

// What the summary reports, gathered tick by tick.
struct RunStats {
  std::vector<double> cycle_us, distance;
  int reached = 0, false_alarms = 0, false_passed = 0, true_seen = 0, true_passed = 0;
  int wall_contacts = 0;
  double closest_wall = std::numeric_limits<double>::infinity();
  double closest_wall_t = 0.0;
  double closest_person = std::numeric_limits<double>::infinity();

  void CountPass(const Detection& det, const TickResult& r) {
    cycle_us.push_back(r.cycle_us);
    reached += r.reached ? 1 : 0;
    if (det.present && det.false_alarm) {
      ++false_alarms;
      false_passed += r.candidate_passed ? 1 : 0;
    } else if (det.present) {
      ++true_seen;
      true_passed += r.candidate_passed ? 1 : 0;
    }
  }

  // After the move of tick `tick`: robot at p, person at q.
  void CountMove(const Room& room, int tick, const Pose& p, Vec2 q) {
    const double d = std::hypot(p.x - q.x, p.y - q.y);
    distance.push_back(d);
    closest_person = std::min(closest_person, d - Scenario::kRobotRadius - Scenario::kPersonRadius);
    const double clear = Clearance(room, {p.x, p.y}) - Scenario::kRobotRadius;
    if (clear <= 0.0) ++wall_contacts;
    if (clear < closest_wall) {
      closest_wall = clear;
      closest_wall_t = (tick + 1) * Scenario::kDt;
    }
  }
};

void PrintStatusLine(int tick, const Pose& p, Vec2 q, double distance, bool reached) {
  std::printf("t=%5.1fs robot=(%.2f, %.2f) heading %4.0f deg  person=(%.2f, %.2f)  distance %.2f m  %s\n",
              (tick + 1) * Scenario::kDt, p.x, p.y, p.heading * 180.0 / kPi, q.x, q.y, distance,
              reached ? "target reached" : "target not reached");
}

void PrintSummary(const RunStats& s) {
  double mean = 0.0;
  for (double d : s.distance) mean += d;
  mean /= static_cast<double>(s.distance.size());
  const double worst = *std::max_element(s.distance.begin(), s.distance.end());
  std::printf("\nsummary\n");
  std::printf("  ticks: %d\n", Scenario::kTicks);
  std::printf("  target reached: %d of %d passes\n", s.reached, Scenario::kTicks);
  std::printf("  distance to the person (centres): mean %.2f m, worst %.2f m; closest gap %.2f m\n", mean,
              worst, s.closest_person);
  std::printf("  closest approach to a wall or obstacle: %.3f m (robot edge, at t=%.1fs); wall contacts: %d\n",
              s.closest_wall, s.closest_wall_t, s.wall_contacts);
  std::printf("  false detections rejected: %d of %d; true detections passed: %d of %d\n",
              s.false_alarms - s.false_passed, s.false_alarms, s.true_passed, s.true_seen);
  std::printf("  planner + tracker cycle: median %.1f us, p99 %.1f us\n", Percentile(s.cycle_us, 0.5),
              Percentile(s.cycle_us, 0.99));
}

// The --verbose line: robot at p and person at q when the scan was taken.
std::string TickLineOf(int tick, const TickResult& r, const Pose& p, Vec2 q) {
  TickFigures f{};
  f.t = tick * Scenario::kDt;
  f.pass = {r.reached, r.path_length, r.fix_x, r.fix_y, r.face_x, r.face_y, r.bearing};
  f.has_target = r.target_col >= 0;
  f.tracked_x = r.out_x;
  f.tracked_y = r.out_y;
  f.distance = std::hypot(p.x - q.x, p.y - q.y);
  return TickLine(tick, f);
}

// What the planner saw and did this tick. Call right after the tick's pass,
// before anything else touches the planner.
GridView CaptureTick(const Scan& scan, const TickResult& r) {
  GridView v = CaptureGridView(scan, r.target_col >= 0, {r.target_col, r.target_row}, r.reached,
                               Follower::kBorder);
  v.raw_target = {r.raw_col, r.raw_row};
  v.has_tracked = true;
  v.tracked_x = r.out_x;
  v.tracked_y = r.out_y;
  return v;
}

void AddTickPicture(PictureFiles& files, int tick, const GridView& v) {
  char title[96];
  std::snprintf(title, sizeof title, "Planner grid at tick %d (t = %.1f s)", tick, tick * Scenario::kDt);
  AddGridPicture(files, tick, v, title, "tick " + std::to_string(tick));
}

ViewerRunHeader ViewerHeader(const Scenario& world, unsigned seed) {
  ViewerRunHeader h;
  h.title = "Robot following a person (seed " + std::to_string(seed) + ")";
  h.tick_name = "tick";
  h.has_room = true;
  h.room = ViewerRoomFromRoom(world.World(), world.Route());
  h.dt = Scenario::kDt;
  h.robot_radius = Scenario::kRobotRadius;
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
  Follower follower(world.InitialTrackDistance());
  RunTrace trace{{world.Robot()}, {world.Person()}, snaps, Scenario::kDt};
  PictureFiles files;
  RunStats stats;
  RunViewer viewer(out, ViewerHeader(world, o.seed), o.html);

  std::printf("robot-demo: following a person for %.0f s at %.0f Hz (robot radius %.2f m)\n",
              Scenario::kTicks * Scenario::kDt, 1.0 / Scenario::kDt, Scenario::kRobotRadius);
  while (!world.Done()) {
    const int tick = world.Tick();
    Scan scan = world.ScanFromRobot();
    const Detection det = world.Detect();
    const Pose seen_from = world.Robot();
    const Vec2 seen = world.Person();
    const TickResult r = follower.Step(scan, det);
    const std::string line = TickLineOf(tick, r, seen_from, seen);
    if (o.verbose) std::printf("%s\n", line.c_str());
    const bool drawn = IsSnapshot(snaps, tick);
    if (drawn || viewer.Wants()) {
      const GridView v = CaptureTick(scan, r);
      if (viewer.Wants()) viewer.Add(ViewerTickOf(v, line, seen_from, seen));
      if (drawn) AddTickPicture(files, tick, v);
    }
    stats.CountPass(det, r);
    world.MoveRobot(r.command);
    const Pose p = world.Robot();
    world.Advance();
    const Vec2 q = world.Person();
    trace.robot.push_back(p);
    trace.person.push_back(q);
    stats.CountMove(world.World(), tick, p, q);
    if ((tick + 1) % 10 == 0) PrintStatusLine(tick, p, q, stats.distance.back(), r.reached);
  }
  PrintSummary(stats);
  viewer.Finish();
  files.emplace_back("run.svg", RunSvg(world.World(), world.Route(), trace));
  std::sort(files.begin(), files.end());
  return WritePictures(out, files);
}
