// run-html-fixture DIR: a short real run of both libraries in a small room,
// written as DIR/run.html for the browser test, with the per-tick lines in
// DIR/info.txt and, in DIR/expected.json, what the page must decode per tick.
// Its title is hostile on purpose: the page must show it as plain text.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "output/viewer/run_html.h"
#include "pathgrid.h"
#include "scanfollow.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kTicks = 48;
constexpr double kDt = 0.1;
constexpr double kPersonRadius = 0.18;
constexpr int kCost = 999;  // blocked or already walked

const char kTitle[] = "<script>window.__injected=1;alert(1)</script> & \"x\" a&b.txt";

double CastRay(const ViewerRoom& room, double ox, double oy, double dx, double dy, double px, double py) {
  double best = std::numeric_limits<double>::infinity();
  for (const ViewerSegment& s : room.walls) {
    const double ex = s.bx - s.ax, ey = s.by - s.ay;
    const double den = dx * ey - dy * ex;
    if (std::fabs(den) < 1e-12) continue;
    const double t = ((s.ax - ox) * ey - (s.ay - oy) * ex) / den;
    const double u = ((s.ax - ox) * dy - (s.ay - oy) * dx) / den;
    if (t > 0 && u >= 0 && u <= 1) best = std::min(best, t);
  }
  std::vector<ViewerDisc> discs = room.pillars;
  discs.push_back({px, py, kPersonRadius});
  for (const ViewerDisc& d : discs) {
    const double fx = ox - d.x, fy = oy - d.y;
    const double b = fx * dx + fy * dy, c = fx * fx + fy * fy - d.r * d.r;
    const double disc = b * b - c;
    if (disc < 0) continue;
    const double t = -b - std::sqrt(disc);
    if (t > 0) best = std::min(best, t);
  }
  return best < 5.6 ? best : std::numeric_limits<double>::infinity();
}

int ToCell(float m) {
  const float v = 50.0f + 20.0f * m;
  if (!(v > -1.0f && v < 100.0f)) return -1;
  return static_cast<int>(v);
}

// Re-walks the pass step by step to learn the order of the path cells.
void CapturePath(std::vector<float>& scan, bool has_target, ViewerCell target, ViewerTick& t) {
  static const int kOrder[8][2] = {{0, 1}, {-1, 1}, {1, 1}, {0, -1}, {-1, -1}, {1, -1}, {-1, 0}, {1, 0}};
  InitHelper();
  SetRanges(scan.data());
  ClearTarget();
  if (has_target) SetTarget(target.col, target.row);
  std::vector<int> cost(10000);
  for (int k = 0; k < 10000; ++k) cost[static_cast<std::size_t>(k)] = calPointCost(k % 100, k / 100);
  StartPos();
  for (int k = 0; k < 10000; ++k)
    if (cost[static_cast<std::size_t>(k)] != kCost && calPointCost(k % 100, k / 100) == kCost) {
      t.start = {k % 100, k / 100};
      cost[static_cast<std::size_t>(k)] = kCost;
    }
  ViewerCell cur = t.start;
  while (t.path.size() < 10000 && PathGrow()) {
    bool moved = false, on_target = false;
    for (const auto& o : kOrder) {
      const int c = cur.col + o[0], r = cur.row + o[1];
      if (c < 0 || c > 99 || r < 0 || r > 99) continue;
      const auto k = static_cast<std::size_t>(r * 100 + c);
      if (cost[k] != kCost && calPointCost(c, r) == kCost) {
        on_target = cost[k] == -255;
        cost[k] = kCost;
        cur = {c, r};
        t.path.push_back(cur);
        moved = true;
        break;
      }
    }
    if (!moved || on_target) break;
  }
}

std::string Fmt(const char* f, double a, double b) {
  char buf[64];
  std::snprintf(buf, sizeof buf, f, a, b);
  return buf;
}

std::string Fmt1(const char* f, double a) {
  char buf[64];
  std::snprintf(buf, sizeof buf, f, a);
  return buf;
}

bool WriteText(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

ViewerRunHeader FixtureRun() {
  ViewerRunHeader run;
  run.title = kTitle;
  run.dt = kDt;
  run.has_room = true;
  ViewerRoom& room = run.room;
  room.width = 5.0;
  room.depth = 3.0;
  room.walls = {{0, 0, 5, 0}, {5, 0, 5, 3}, {5, 3, 0, 3}, {0, 3, 0, 0},
                {2.2, 0.0, 2.2, 0.7}, {2.2, 0.7, 2.6, 0.7}, {2.6, 0.7, 2.6, 0.0}};
  room.pillars = {{3.4, 2.2, 0.15}};
  for (int i = 0; i <= 10; ++i) room.route.push_back({1.6 + 0.3 * i, 1.5 + 0.4 * std::sin(i * 0.6)});
  return run;
}

// Tick n of the walk: a ray-cast scan, the tracker and a planner pass, with
// everything the page draws. False when the replayed path is not the pass's.
bool SimulateTick(int n, const ViewerRoom& room, bool& tracker_started, ViewerTick& t, float& bearing) {
  float unused[360] = {};
  const double s = (n % kTicks) * kDt;
  const double px = 1.6 + 0.6 * s, py = 1.5 + 0.4 * std::sin(2.0 * s);
  const double rx = 0.5 + 0.5 * s, ry = 1.5 + 0.25 * std::sin(2.0 * s - 0.6), rh = 0.3 * std::cos(2.0 * s);
  std::vector<float> scan(360);
  for (int i = 0; i < 360; ++i) {
    const double a = rh + std::atan2(-std::sin(i * kPi / 180.0), -std::cos(i * kPi / 180.0));
    scan[static_cast<std::size_t>(i)] =
        static_cast<float>(CastRay(room, rx, ry, std::cos(a), std::sin(a), px, py));
  }
  // Person in the robot frame, as a detector would see it (absent now and then).
  const double wx = px - rx, wy = py - ry;
  const float cx = static_cast<float>(wx * std::cos(rh) + wy * std::sin(rh));
  const float cy = static_cast<float>(-wx * std::sin(rh) + wy * std::cos(rh));
  if (!tracker_started) {
    thredhold(cx);
    tracker_started = true;
  }
  const float nan = std::numeric_limits<float>::quiet_NaN();
  float ox = 0, oy = 0;
  filter(n % 7 == 3 ? nan : cx, n % 7 == 3 ? nan : cy, scan.data(), unused, ox, oy);

  SetRanges(scan.data());
  const int raw_col = ToCell(oy), raw_row = ToCell(ox);
  ViewerCell target{-1, -1};
  if (raw_col >= 0 && raw_row >= 0) {
    const int steps = std::max(std::abs(raw_col - 50), std::abs(raw_row - 50));
    for (int k = 0; k < steps && target.col < 0; ++k) {
      const double f = 1.0 - static_cast<double>(k) / steps;
      const ViewerCell c{50 + static_cast<int>(std::lround(f * (raw_col - 50))),
                         50 + static_cast<int>(std::lround(f * (raw_row - 50)))};
      if (ChkTarget(c.col, c.row)) target = c;
    }
  }
  ClearTarget();
  if (target.col >= 0) SetTarget(target.col, target.row);
  t.blocked.resize(10000);
  t.attraction.resize(10000);
  for (int k = 0; k < 10000; ++k) {
    const int c = calPointCost(k % 100, k / 100);
    t.blocked[static_cast<std::size_t>(k)] = c == kCost ? 1 : 0;
    t.attraction[static_cast<std::size_t>(k)] = static_cast<unsigned char>(c == kCost ? 0 : std::clamp(-c, 0, 255));
  }
  t.reached = OutLine();
  t.path_length = GetHelperNum();
  t.steering = {GetFixX(), GetFixY()};
  t.path_end = {GetFaceX(), GetFaceY()};
  bearing = CalAngle(t.steering.x, t.steering.y);
  t.bearing_deg = static_cast<float>(static_cast<double>(bearing) * 180.0 / kPi);
  std::copy(scan.begin(), scan.end(), t.scan.begin());
  t.has_target = target.col >= 0;
  t.target = target;
  t.has_raw_target = raw_col >= 0 && raw_row >= 0;
  t.raw_target = {raw_col, raw_row};
  t.has_tracked = true;
  t.tracked = {ox, oy};
  t.has_pose = true;
  t.pose_x = rx;
  t.pose_y = ry;
  t.pose_heading = rh;
  t.has_person = true;
  t.person_x = px;
  t.person_y = py;
  t.has_distance = true;
  t.distance = std::hypot(px - rx, py - ry);
  CapturePath(scan, t.has_target, target, t);
  if (static_cast<int>(t.path.size()) != t.path_length) {
    std::fprintf(stderr, "run-html-fixture: tick %d: path replay differs from the pass\n", n);
    return 1;
  }
  return true;
}

// The tick's line, as a command line would print it.
std::string InfoLine(int n, const ViewerTick& t, float bearing) {
  const float ox = t.tracked.x, oy = t.tracked.y;
  std::string info =
      "tick " + std::to_string(n) + ": " + (t.reached ? "reached" : "not reached") + ", path " +
      std::to_string(t.path_length) + " cells, steering " +
      Fmt("(%.2f, %.2f) m", static_cast<double>(t.steering.x), static_cast<double>(t.steering.y)) + ", path end " +
      Fmt("(%.2f, %.2f) m", static_cast<double>(t.path_end.x), static_cast<double>(t.path_end.y)) + ", bearing " +
      (std::isnan(bearing) ? std::string("none") : Fmt1("%.1f", static_cast<double>(t.bearing_deg))) + " deg" +
      Fmt(", tracked (%.2f, %.2f) m", static_cast<double>(ox), static_cast<double>(oy));
  // One line carries markup-like text: the page must show it, not parse it.
  if (n == 5) info += " <b>bold?</b> & \"quoted\" </script>";
  return info;
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
  const ViewerRunHeader run = FixtureRun();
  const std::string html_path = dir + "/run.html";
  std::FILE* html = std::fopen(html_path.c_str(), "wb");
  if (html == nullptr) {
    std::fprintf(stderr, "run-html-fixture: cannot write into %s\n", dir.c_str());
    return 1;
  }
  RunHtmlWriter writer(html);
  writer.Begin(run);

  InitHelper();
  std::string info_text, expected = "{\"ticks\":[";
  bool tracker_started = false;
  for (int n = 0; n < ticks; ++n) {
    ViewerTick t;
    float bearing = 0.0f;
    if (!SimulateTick(n, run.room, tracker_started, t, bearing)) {
      std::fprintf(stderr, "run-html-fixture: tick %d: path replay differs from the pass\n", n);
      return 1;
    }
    t.info = InfoLine(n, t, bearing);
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
