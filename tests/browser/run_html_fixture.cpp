// SPDX-License-Identifier: BSD-3-Clause
// run-html-fixture DIR: a short real run of both libraries in a small room,
// written as DIR/run.html for the browser test, with the per-tick lines in
// DIR/info.txt and, in DIR/expected.json, what the page must decode per tick.
// Its title is hostile on purpose: the page must show it as plain text.
// The room is ray-cast by robot-demo's own code and each tick is a pilot's
// step, captured as the demo captures it, so the page holds what the demo
// would write.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "grid_frame.h"
#include "output/grid_view.h"
#include "output/pass_line.h"
#include "output/viewer/run_html.h"
#include "output/viewer/viewer_glue.h"
#include "scanpilot.h"
#include "world/room.h"

namespace {

constexpr int kTicks = 48;
constexpr double kDt = 0.1;
constexpr double kPersonRadius = 0.18;
constexpr double kMaxRange = 5.6;

const char kTitle[] = "<script>window.__injected=1;alert(1)</script> & \"x\" a&b.txt";

// 5 m x 3 m with a low cabinet against the near wall and one pillar.
Room FixtureRoom() {
  Room room;
  room.width = 5.0;
  room.depth = 3.0;
  room.walls = {{{0, 0}, {5, 0}}, {{5, 0}, {5, 3}}, {{5, 3}, {0, 3}}, {{0, 3}, {0, 0}},
                {{2.2, 0.0}, {2.2, 0.7}}, {{2.2, 0.7}, {2.6, 0.7}}, {{2.6, 0.7}, {2.6, 0.0}}};
  room.pillars = {{{3.4, 2.2}, 0.15}};
  return room;
}

ViewerRunHeader FixtureRun(const Room& room) {
  std::vector<Vec2> route;
  for (int i = 0; i <= 10; ++i) route.push_back({1.6 + 0.3 * i, 1.5 + 0.4 * std::sin(i * 0.6)});
  ViewerRunHeader run;
  run.title = kTitle;
  run.dt = kDt;
  run.has_room = true;
  run.room = ViewerRoomFromRoom(room, route);
  return run;
}

// Robot and person at tick n: both walk along the room, the robot weaving
// behind; more ticks than kTicks repeat the walk.
struct Moment {
  Pose robot;
  Vec2 person;
};

Moment MomentAt(int n) {
  const double s = (n % kTicks) * kDt;
  return {{0.5 + 0.5 * s, 1.5 + 0.25 * std::sin(2.0 * s - 0.6), 0.3 * std::cos(2.0 * s)},
          {1.6 + 0.6 * s, 1.5 + 0.4 * std::sin(2.0 * s)}};
}

// A noise-free scan from the robot, the person a disc among the room's.
Scan ScanAt(const Room& room, const Moment& m) {
  Scan scan{};
  const Vec2 o{m.robot.x, m.robot.y};
  for (int i = 0; i < kScanReadings; ++i) {
    const Vec2 dir = ReadingDirInRoom(i, m.robot.heading);
    const double t = std::min(CastRay(room, o, dir), RayDisc(o, dir, {m.person, kPersonRadius}));
    scan[static_cast<std::size_t>(i)] = t < kMaxRange ? static_cast<float>(t) : std::numeric_limits<float>::infinity();
  }
  return scan;
}

// The person in the robot frame, as a detector would report it.
void PersonSeen(const Moment& m, float& x, float& y) {
  const double wx = m.person.x - m.robot.x, wy = m.person.y - m.robot.y, h = m.robot.heading;
  x = static_cast<float>(wx * std::cos(h) + wy * std::sin(h));
  y = static_cast<float>(-wx * std::sin(h) + wy * std::cos(h));
}

// The pilot on tick n's scan, as the demo's follower calls it (the detector
// misses the person now and then), captured for the page.
GridView PassAt(Pilot& pilot, int n, const Scan& scan, const Moment& m) {
  PilotPoint seen{};
  PersonSeen(m, seen.x, seen.y);
  if (pilot.Config().mode != PilotMode::kFollow) {
    PilotConfig c;
    c.mode = PilotMode::kFollow;
    c.follow_distance = seen.x;
    if (pilot.Start(c) != PilotError::kNone) std::abort();
  }
  PilotStep step;
  pilot.Step(scan.data(), n % 7 == 3 ? nullptr : &seen, step);
  return CaptureGridView(pilot, step);
}

// The tick's line, as the demo's --verbose prints it.
std::string InfoLine(int n, const GridView& v, const Moment& m) {
  TickFigures f{};
  f.t = n * kDt;
  f.pass = {v.reached, static_cast<int>(v.path.size()), v.fix_x, v.fix_y, v.face_x, v.face_y, v.bearing};
  f.has_target = v.has_target;
  f.tracked_x = v.tracked_x;
  f.tracked_y = v.tracked_y;
  f.distance = std::hypot(m.person.x - m.robot.x, m.person.y - m.robot.y);
  std::string info = TickLine(n, f);
  // One line carries markup-like text: the page must show it, not parse it.
  if (n == 5) info += " <b>bold?</b> & \"quoted\" </script>";
  return info;
}

ViewerTick ViewerTickAt(int n, const GridView& v, const Moment& m) {
  ViewerTick t = ViewerTickFromGridView(v, InfoLine(n, v, m));
  t.has_pose = true;
  t.pose_x = m.robot.x;
  t.pose_y = m.robot.y;
  t.pose_heading = m.robot.heading;
  t.has_person = true;
  t.person_x = m.person.x;
  t.person_y = m.person.y;
  t.has_distance = true;
  t.distance = std::hypot(m.person.x - m.robot.x, m.person.y - m.robot.y);
  return t;
}

bool WriteText(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

// What the page must decode for this tick, as one JSON record.
std::string ExpectedRecord(const ViewerTick& t) {
  const std::array<float, 360>& scan = t.scan;
  int blocked = 0, pull = 0, on_grid = 0;
  for (std::size_t k = 0; k < 10000; ++k) {
    blocked += t.blocked[k];
    pull += t.blocked[k] ? 0 : t.attraction[k];
  }
  for (int i = 0; i < 360; ++i) {
    const double d = static_cast<double>(scan[static_cast<std::size_t>(i)]);
    const double x = -d * std::cos(i * kPi / 180.0), y = -d * std::sin(i * kPi / 180.0);
    on_grid += std::isfinite(d) && std::fabs(x) < 2.5 && std::fabs(y) < 2.5 ? 1 : 0;
  }
  std::string path = "[";
  for (std::size_t i = 0; i < t.path.size(); ++i)
    path += (i ? ",[" : "[") + std::to_string(t.path[i].col) + "," + std::to_string(t.path[i].row) + "]";
  return "{\"blocked\":" + std::to_string(blocked) + ",\"pull\":" + std::to_string(pull) +
         ",\"scanOnGrid\":" + std::to_string(on_grid) + ",\"start\":[" + std::to_string(t.start.col) + "," +
         std::to_string(t.start.row) + "],\"path\":" + path + "]}";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: run-html-fixture DIR [TICKS]\n");
    return 2;
  }
  // More ticks repeat the walk (to measure the page size of long runs).
  const int ticks = argc == 3 ? std::max(1, std::atoi(argv[2])) : kTicks;
  const std::string dir = argv[1];
  const Room room = FixtureRoom();
  const ViewerRunHeader run = FixtureRun(room);
  const std::string html_path = dir + "/run.html";
  std::FILE* html = std::fopen(html_path.c_str(), "wb");
  if (html == nullptr) {
    std::fprintf(stderr, "run-html-fixture: cannot write into %s\n", dir.c_str());
    return 1;
  }
  RunHtmlWriter writer(html);
  writer.Begin(run);

  Pilot pilot;
  std::string info_text, expected = "{\"ticks\":[";
  for (int n = 0; n < ticks; ++n) {
    const Moment m = MomentAt(n);
    const GridView v = PassAt(pilot, n, ScanAt(room, m), m);
    if (!v.consistent) {
      std::fprintf(stderr, "run-html-fixture: tick %d: the captured path is not the pass's\n", n);
      return 1;
    }
    const ViewerTick t = ViewerTickAt(n, v, m);
    info_text += t.info + "\n";
    expected += std::string(n ? "," : "") + ExpectedRecord(t);
    writer.AddTick(t);
  }
  expected += "]}\n";
  const bool written = writer.End(static_cast<std::size_t>(ticks));
  const long size = std::ftell(html);
  if (std::fclose(html) != 0 || !written || !WriteText(dir + "/info.txt", info_text) ||
      !WriteText(dir + "/expected.json", expected)) {
    std::fprintf(stderr, "run-html-fixture: cannot write into %s\n", dir.c_str());
    return 1;
  }
  std::printf("run-html-fixture: %d ticks, run.html %ld bytes", ticks, size);
  if (writer.full() && static_cast<std::size_t>(ticks) > writer.count())
    std::printf(" (the page shows ticks 0..%zu)", writer.count() - 1);
  std::printf("\n");
  return 0;
}
