// SPDX-License-Identifier: BSD-3-Clause
// RunSvg: the whole demo run in its room.
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

#include "base/safe_text.h"
#include "grid_frame.h"
#include "output/svg.h"
#include "output/svg_parts.h"

using namespace svg_parts;

namespace {

constexpr const char* kWallStyle = "stroke=\"#333\" stroke-width=\"4\"";
constexpr const char* kRouteStyle = "stroke=\"#e08a00\" stroke-width=\"1.5\" stroke-dasharray=\"6 4\"";
constexpr const char* kWalkStyle = "stroke=\"#e08a00\" stroke-width=\"3\" stroke-opacity=\"0.6\"";
constexpr const char* kTrackStyle = "stroke=\"#1f5fbf\" stroke-width=\"3\"";
constexpr const char* kRobotStyle = "fill=\"#1f5fbf\" fill-opacity=\"0.15\" stroke=\"#1f5fbf\"";
constexpr const char* kPersonStyle = "fill=\"#e08a00\" fill-opacity=\"0.25\" stroke=\"#e08a00\"";
constexpr const char* kSightStyle = "stroke=\"#999\" stroke-width=\"1\" stroke-dasharray=\"2 2\"";
constexpr const char* kSnapshotFill = "fill=\"#c01890\"";

// The room seen from above, x to the right and y up.
struct RoomCanvas {
  const Room& room;
  double s = 110.0, ox = 40.0, oy = 50.0;  // px per metre, origin offset
  double X(double x) const { return ox + x * s; }
  double Y(double y) const { return oy + (room.depth - y) * s; }
  int Width() const { return static_cast<int>(ox * 2 + room.width * s) + 230; }
  int Height() const { return static_cast<int>(oy + room.depth * s + 70); }
  std::string Polyline(const std::vector<Vec2>& pts, const std::string& style) const {
    std::string p = "<polyline fill=\"none\" " + style + " points=\"";
    for (const Vec2& v : pts) p += F(X(v.x)) + "," + F(Y(v.y)) + " ";
    return p + "\"/>\n";
  }
};

std::string RoomFloor(const RoomCanvas& k) {
  const Room& room = k.room;
  std::string o;
  for (int i = 0; i <= static_cast<int>(room.width); ++i)  // floor grid every metre
    o += Line(k.X(i), k.Y(0), k.X(i), k.Y(room.depth), "stroke=\"#eee\"");
  for (int i = 0; i <= static_cast<int>(room.depth); ++i)
    o += Line(k.X(0), k.Y(i), k.X(room.width), k.Y(i), "stroke=\"#eee\"");
  for (const Segment& seg : room.walls)
    o += Line(k.X(seg.a.x), k.Y(seg.a.y), k.X(seg.b.x), k.Y(seg.b.y),
              std::string(kWallStyle) + " stroke-linecap=\"square\"");
  for (const Disc& d : room.pillars) o += Circle(k.X(d.c.x), k.Y(d.c.y), d.r * k.s, "fill=\"#777\"");
  return o;
}

// Ticks at which the robot and the person are drawn: every 5 s and the last.
std::vector<std::size_t> Moments(const RunTrace& trace) {
  const int every = static_cast<int>(std::lround(5.0 / trace.dt));
  std::vector<std::size_t> moments;
  for (std::size_t i = 0; i < trace.robot.size(); i += static_cast<std::size_t>(every)) moments.push_back(i);
  if (!trace.robot.empty() && moments.back() != trace.robot.size() - 1) moments.push_back(trace.robot.size() - 1);
  return moments;
}

// Spots for a label beside a circle of radius r around (x, y): below right
// first, then the other corners, then straight beside it.
std::vector<std::pair<double, double>> AroundCircle(double x, double y, double r, const std::string& s, double font) {
  const double w = TextBox(0, 0, s, font).x1;
  return {{x + 8, y + r},     {x + 8, y - r + 6},     {x - 8 - w, y + r},      {x - 8 - w, y - r + 6},
          {x + r + 3, y + 4}, {x - r - 3 - w, y + 4}, {x - w / 2, y + r + 12}, {x - w / 2, y - r - 4}};
}

// Footprints every 5 s with the time, and the snapshot marks with the tick.
std::string RunMoments(const RoomCanvas& k, const RunTrace& trace) {
  std::string o, labels;
  LabelPlacer placer;
  const double rr = trace.robot_radius * k.s, pr = Scenario::kPersonRadius * k.s;
  for (int t : trace.snapshots) {
    if (t < 0 || static_cast<std::size_t>(t) >= trace.robot.size()) continue;
    const Pose& p = trace.robot[static_cast<std::size_t>(t)];
    placer.Reserve({k.X(p.x) - 4, k.Y(p.y) - 4, k.X(p.x) + 4, k.Y(p.y) + 4});
  }
  for (std::size_t i : Moments(trace)) {
    const Pose& p = trace.robot[i];
    const Vec2& q = trace.person[i];
    o += Line(k.X(p.x), k.Y(p.y), k.X(q.x), k.Y(q.y), kSightStyle);
    o += Circle(k.X(p.x), k.Y(p.y), rr, kRobotStyle);
    o += Line(k.X(p.x), k.Y(p.y), k.X(p.x + 0.2 * std::cos(p.heading)), k.Y(p.y + 0.2 * std::sin(p.heading)),
              "stroke=\"#1f5fbf\" stroke-width=\"2\"");
    o += Circle(k.X(q.x), k.Y(q.y), pr, kPersonStyle);
    const std::string when = F(static_cast<double>(i) * trace.dt, 0) + " s";
    labels += placer.Place(AroundCircle(k.X(p.x), k.Y(p.y), rr, when, 11), when, 11, "fill=\"#1f5fbf\"");
    labels += placer.Place(AroundCircle(k.X(q.x), k.Y(q.y), pr, when, 11), when, 11, "fill=\"#b06a00\"");
  }
  for (int t : trace.snapshots) {
    if (t < 0 || static_cast<std::size_t>(t) >= trace.robot.size()) continue;
    const Pose& p = trace.robot[static_cast<std::size_t>(t)];
    const double x = k.X(p.x), y = k.Y(p.y);
    const std::string name = "tick " + std::to_string(t);
    o += Circle(x, y, 4, kSnapshotFill);
    const double w = TextBox(0, 0, name, 11).x1;
    labels += placer.Place({{x - w / 2, y - 8}, {x - w / 2, y + 16}, {x + 8, y + 4}, {x - 8 - w, y + 4}}, name, 11,
                           "fill=\"#c01890\"");
  }
  return o + labels;
}

std::string RunLegend(double lx, double ly, double metre) {
  auto swatch_line = [&](double y, const std::string& style) { return Line(lx, y, lx + 22, y, style); };
  std::string o = Text(lx, ly, "Legend", "font-weight=\"bold\"");
  ly += 22;
  o += LegendRow(lx, ly, swatch_line(ly, kWallStyle), "wall, obstacle");
  ly += 22;
  o += LegendRow(lx, ly, swatch_line(ly, kRouteStyle), "person's planned route");
  ly += 22;
  o += LegendRow(lx, ly, swatch_line(ly, kWalkStyle), "person's walk");
  ly += 22;
  o += LegendRow(lx, ly, swatch_line(ly, kTrackStyle), "robot's track");
  ly += 22;
  o += LegendRow(lx, ly, Circle(lx + 11, ly, 8, kRobotStyle), "robot every 5 s");
  ly += 22;
  o += LegendRow(lx, ly, Circle(lx + 11, ly, 7, kPersonStyle), "person at the same time");
  ly += 22;
  o += LegendRow(lx, ly, swatch_line(ly, kSightStyle), "from one to the other");
  ly += 22;
  o += LegendRow(lx, ly, Circle(lx + 11, ly, 4, kSnapshotFill), "grid picture taken");
  ly += 40;
  o += Line(lx, ly, lx + metre, ly, "stroke=\"black\" stroke-width=\"2\"");
  o += Line(lx, ly - 5, lx, ly + 5, "stroke=\"black\"") +
       Line(lx + metre, ly - 5, lx + metre, ly + 5, "stroke=\"black\"");
  o += Text(lx + metre / 2 - 10, ly + 18, "1 m");
  return o;
}

}  // namespace

std::string RunSvg(const Room& room, const std::vector<Vec2>& route, const RunTrace& trace) {
  const RoomCanvas k{room};
  std::string o = Header(k.Width(), k.Height());
  o += Text(k.ox, 30,
            "Robot following a person: " + F(static_cast<double>(trace.robot.size() - 1) * trace.dt, 0) + " s at " +
                F(1.0 / trace.dt, 0) + " scans per second",
            "font-size=\"17\" font-weight=\"bold\"");
  o += RoomFloor(k);
  o += k.Polyline(route, kRouteStyle);
  o += k.Polyline(trace.person, kWalkStyle);
  std::vector<Vec2> robot;
  for (const Pose& p : trace.robot) robot.push_back({p.x, p.y});
  o += k.Polyline(robot, kTrackStyle);
  o += RunMoments(k, trace);
  o += RunLegend(k.ox + room.width * k.s + 30, k.oy + 10, k.s);
  o += Text(k.ox, k.Height() - 20,
            "Room " + F(room.width, 0) + " m x " + F(room.depth, 0) +
                " m seen from above; the doorway is the gap in the middle wall.",
            "fill=\"#555\"");
  return o + "</svg>\n";
}
