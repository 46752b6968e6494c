// SPDX-License-Identifier: BSD-3-Clause
#include "output/svg.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

#include "base/safe_text.h"
#include "grid_frame.h"

namespace {

std::string F(double v, int decimals = 1) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

std::string Header(int w, int h) {
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(w) + "\" height=\"" +
         std::to_string(h) + "\" viewBox=\"0 0 " + std::to_string(w) + " " + std::to_string(h) +
         "\" font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"13\">\n"
         "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
}

// Every text goes through here, escaped: titles carry file names.
std::string Text(double x, double y, const std::string& s, const std::string& extra = "") {
  return "<text x=\"" + F(x) + "\" y=\"" + F(y) + "\" " + extra + ">" + XmlEscape(s) + "</text>\n";
}

std::string Line(double x0, double y0, double x1, double y1, const std::string& style) {
  return "<line x1=\"" + F(x0) + "\" y1=\"" + F(y0) + "\" x2=\"" + F(x1) + "\" y2=\"" + F(y1) +
         "\" " + style + "/>\n";
}

std::string Circle(double x, double y, double r, const std::string& style) {
  return "<circle cx=\"" + F(x) + "\" cy=\"" + F(y) + "\" r=\"" + F(r) + "\" " + style + "/>\n";
}

std::string Rect(double x, double y, double w, double h, const std::string& style) {
  return "<rect x=\"" + F(x) + "\" y=\"" + F(y) + "\" width=\"" + F(w) + "\" height=\"" + F(h) +
         "\" " + style + "/>\n";
}

// A legend row: a swatch drawn by `swatch` at (x, y), then its text.
std::string LegendRow(double x, double y, const std::string& swatch, const std::string& label) {
  return swatch + Text(x + 28, y + 4, label);
}

// Rough extent of a line of text, for keeping labels apart: DejaVu Sans
// averages a little over half the font size per character.
struct Box {
  double x0, y0, x1, y1;
  bool Overlaps(const Box& b) const { return x0 < b.x1 && b.x0 < x1 && y0 < b.y1 && b.y0 < y1; }
};
Box TextBox(double x, double y, const std::string& s, double font) {
  return {x, y - 0.8 * font, x + 0.62 * font * static_cast<double>(s.size()), y + 0.25 * font};
}

// Puts each label at the first of its candidate spots that no earlier label
// (or reserved mark) covers; the first spot when every one is taken.
class LabelPlacer {
 public:
  void Reserve(const Box& b) { taken_.push_back(b); }
  std::string Place(const std::vector<std::pair<double, double>>& spots, const std::string& s, double font,
                    const std::string& style) {
    std::size_t pick = 0;
    for (std::size_t i = 0; i < spots.size(); ++i) {
      if (Free(TextBox(spots[i].first, spots[i].second, s, font))) {
        pick = i;
        break;
      }
    }
    const auto& at = spots[pick];
    Reserve(TextBox(at.first, at.second, s, font));
    // A white halo keeps the label readable over tracks and circles.
    return Text(at.first, at.second, s,
                style + " font-size=\"" + F(font, 0) + "\" stroke=\"white\" stroke-width=\"3\" paint-order=\"stroke\"");
  }

 private:
  bool Free(const Box& b) const {
    for (const Box& t : taken_)
      if (t.Overlaps(b)) return false;
    return true;
  }
  std::vector<Box> taken_;
};

}  // namespace

// ---- the whole run ------------------------------------------------------------

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
std::vector<std::pair<double, double>> AroundCircle(double x, double y, double r, const std::string& s,
                                                    double font) {
  const double w = TextBox(0, 0, s, font).x1;
  return {{x + 8, y + r}, {x + 8, y - r + 6}, {x - 8 - w, y + r}, {x - 8 - w, y - r + 6},
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
  o += Line(lx, ly - 5, lx, ly + 5, "stroke=\"black\"") + Line(lx + metre, ly - 5, lx + metre, ly + 5, "stroke=\"black\"");
  o += Text(lx + metre / 2 - 10, ly + 18, "1 m");
  return o;
}

}  // namespace

std::string RunSvg(const Room& room, const std::vector<Vec2>& route, const RunTrace& trace) {
  const RoomCanvas k{room};
  std::string o = Header(k.Width(), k.Height());
  o += Text(k.ox, 30, "Robot following a person: " + F(static_cast<double>(trace.robot.size() - 1) * trace.dt, 0) +
                          " s at " + F(1.0 / trace.dt, 0) + " scans per second",
            "font-size=\"17\" font-weight=\"bold\"");
  o += RoomFloor(k);
  o += k.Polyline(route, kRouteStyle);
  o += k.Polyline(trace.person, kWalkStyle);
  std::vector<Vec2> robot;
  for (const Pose& p : trace.robot) robot.push_back({p.x, p.y});
  o += k.Polyline(robot, kTrackStyle);
  o += RunMoments(k, trace);
  o += RunLegend(k.ox + room.width * k.s + 30, k.oy + 10, k.s);
  o += Text(k.ox, k.Height() - 20, "Room " + F(room.width, 0) + " m x " + F(room.depth, 0) +
                                       " m seen from above; the doorway is the gap in the middle wall.",
            "fill=\"#555\"");
  return o + "</svg>\n";
}

// ---- one planner pass ---------------------------------------------------------

namespace {

// What fits above the grid and its legend at the title's size.
constexpr std::size_t kTitleChars = 80;

// The planner's grid, ahead (+X, growing row) up and left (+Y, growing column) left.
struct GridCanvas {
  double c = 6.0, ox = 60.0, oy = 70.0;  // px per cell, grid origin
  int Width() const { return static_cast<int>(ox + kGridCells * c) + 300; }
  int Height() const { return static_cast<int>(oy + kGridCells * c) + 70; }
  double CX(double colf) const { return ox + (kGridCells - colf) * c; }
  double CY(double rowf) const { return oy + (kGridCells - rowf) * c; }
  double MX(double y_m) const { return CX(CellCoordinate(y_m)); }
  double MY(double x_m) const { return CY(CellCoordinate(x_m)); }
  std::string CellRun(int col_lo, int col_hi, int row, const std::string& style) const {
    return Rect(CX(col_hi + 1.0), CY(row + 1.0), (col_hi - col_lo + 1) * c, c, style);
  }
};

std::size_t At(int col, int row) { return static_cast<std::size_t>(row * kGridCells + col); }

// 16 shades of pull for free cells, -1 for blocked ones, 16 on a target.
int PullLevel(int attraction) { return attraction < 0 ? -1 : (attraction >= 255 ? 16 : attraction * 15 / 127); }

// Free cells shaded by their pull toward the target, one rectangle per run.
std::string Attraction(const GridCanvas& k, const GridView& v) {
  std::string o;
  for (int row = 0; row < kGridCells; ++row) {
    int col = 0;
    while (col < kGridCells) {
      const int level = PullLevel(v.attraction[At(col, row)]);
      int end = col;
      while (end + 1 < kGridCells && PullLevel(v.attraction[At(end + 1, row)]) == level) ++end;
      if (level > 0 && level < 16)
        o += k.CellRun(col, end, row, "fill=\"#2e9e44\" fill-opacity=\"" + F(0.04 + 0.03 * level, 2) + "\"");
      col = end + 1;
    }
  }
  return o;
}

std::string BlockedCells(const GridCanvas& k, const GridView& v) {
  std::string o;
  for (int row = 0; row < kGridCells; ++row) {
    int col = 0;
    while (col < kGridCells) {
      if (!v.blocked[At(col, row)]) {
        ++col;
        continue;
      }
      int end = col;
      while (end + 1 < kGridCells && v.blocked[At(end + 1, row)]) ++end;
      o += k.CellRun(col, end, row, "fill=\"#5a5a5a\"");
      col = end + 1;
    }
  }
  return o;
}

std::string MetreGrid(const GridCanvas& k) {
  std::string o;
  for (int m = -2; m <= 2; ++m) {
    const std::string label = (m > 0 ? "+" : "") + std::to_string(m) + " m";
    o += Line(k.MX(m), k.CY(100), k.MX(m), k.CY(0), "stroke=\"#bbb\" stroke-width=\"0.7\" stroke-dasharray=\"3 3\"");
    o += Line(k.CX(100), k.MY(m), k.CX(0), k.MY(m), "stroke=\"#bbb\" stroke-width=\"0.7\" stroke-dasharray=\"3 3\"");
    o += Text(k.MX(m) - 10, k.CY(0) + 16, label, "font-size=\"11\" fill=\"#555\"");
    o += Text(k.ox - 42, k.MY(m) + 4, label, "font-size=\"11\" fill=\"#555\"");
  }
  return o + Rect(k.ox, k.oy, kGridCells * k.c, kGridCells * k.c, "fill=\"none\" stroke=\"#333\"");
}

std::string ScanReturns(const GridCanvas& k, const Scan& scan) {
  std::string o;
  for (int i = 0; i < kScanReadings; ++i) {
    const double d = scan[static_cast<std::size_t>(i)];
    if (!std::isfinite(d)) continue;
    const double x = -d * std::cos(i * kPi / 180.0), y = -d * std::sin(i * kPi / 180.0);
    if (std::fabs(x) >= 2.5 || std::fabs(y) >= 2.5) continue;
    o += Circle(k.MX(y), k.MY(x), 1.8, "fill=\"#d62728\"");
  }
  return o;
}

// Path, start cell, robot, targets, path end, steering point, tracked point.
std::string PassMarks(const GridCanvas& k, const GridView& v) {
  const double c = k.c;
  std::string o;
  if (!v.path.empty()) {
    std::string p = "<polyline fill=\"none\" stroke=\"#ff8c00\" stroke-width=\"3\" stroke-linejoin=\"round\" points=\"";
    p += F(k.CX(v.start.col + 0.5)) + "," + F(k.CY(v.start.row + 0.5)) + " ";
    for (const Cell& cell : v.path) p += F(k.CX(cell.col + 0.5)) + "," + F(k.CY(cell.row + 0.5)) + " ";
    o += p + "\"/>\n";
  }
  o += Rect(k.CX(v.start.col + 1.0) - 2, k.CY(v.start.row + 1.0) - 2, c + 4, c + 4,
            "fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"2\"");
  o += Circle(k.MX(0), k.MY(0), v.robot_radius * kCellsPerMetre * c,
              "fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"1.5\"");
  o += Line(k.MX(0), k.MY(0), k.MX(0), k.MY(0.3), "stroke=\"#1f5fbf\" stroke-width=\"2\"");
  if (v.has_target) {
    if (v.raw_target.col != v.target.col || v.raw_target.row != v.target.row)
      o += Rect(k.CX(v.raw_target.col + 1.0) - 3, k.CY(v.raw_target.row + 1.0) - 3, c + 6, c + 6,
                "fill=\"none\" stroke=\"#2e9e44\" stroke-width=\"1.5\" stroke-dasharray=\"3 2\"");
    o += Rect(k.CX(v.target.col + 1.0) - 3, k.CY(v.target.row + 1.0) - 3, c + 6, c + 6,
              "fill=\"#2e9e44\" stroke=\"black\" stroke-width=\"1\"");
  }
  if (!v.path.empty()) {
    o += Circle(k.MX(v.face_y) - c / 2, k.MY(v.face_x) - c / 2, 6, "fill=\"none\" stroke=\"black\" stroke-width=\"2\"");
    o += Circle(k.MX(v.fix_y) - c / 2, k.MY(v.fix_x) - c / 2, 5, "fill=\"#c01890\" stroke=\"white\"");
  }
  if (v.has_tracked && std::isfinite(v.tracked_x) && std::isfinite(v.tracked_y)) {
    const double tx = k.MX(v.tracked_y), ty = k.MY(v.tracked_x);
    o += Line(tx - 7, ty - 7, tx + 7, ty + 7, "stroke=\"#7b2fbf\" stroke-width=\"2.5\"");
    o += Line(tx - 7, ty + 7, tx + 7, ty - 7, "stroke=\"#7b2fbf\" stroke-width=\"2.5\"");
  }
  return o;
}

std::string GridLegend(const GridCanvas& k, bool has_tracked) {
  const double lx = k.ox + kGridCells * k.c + 25, metre = kCellsPerMetre * k.c;
  double ly = k.oy + 10;
  std::string o = Text(lx, ly, "Legend", "font-weight=\"bold\"");
  // One row per mark; `swatch` draws the mark at the row's height.
  auto row = [&](auto swatch, const std::string& label) {
    ly += 24;
    o += LegendRow(lx, ly, swatch(ly), label);
  };
  row([&](double y) { return Rect(lx, y - 7, 20, 14, "fill=\"#5a5a5a\""); }, "blocked (scan point + 0.35 m)");
  row([&](double y) {
        return Rect(lx, y - 7, 10, 14, "fill=\"#2e9e44\" fill-opacity=\"0.5\"") +
               Rect(lx + 10, y - 7, 10, 14, "fill=\"#2e9e44\" fill-opacity=\"0.1\"");
      },
      "pull toward the target");
  row([&](double y) { return Circle(lx + 10, y, 3, "fill=\"#d62728\""); }, "scan return");
  row([&](double y) { return Line(lx, y, lx + 20, y, "stroke=\"#ff8c00\" stroke-width=\"3\""); }, "planned path");
  row([&](double y) { return Rect(lx + 5, y - 5, 10, 10, "fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"2\""); },
      "start cell");
  row([&](double y) { return Circle(lx + 10, y, 5, "fill=\"#c01890\""); }, "steering point");
  row([&](double y) { return Circle(lx + 10, y, 6, "fill=\"none\" stroke=\"black\" stroke-width=\"2\""); }, "path end");
  row([&](double y) { return Rect(lx + 4, y - 6, 12, 12, "fill=\"#2e9e44\" stroke=\"black\""); }, "target cell");
  ly += 24;
  if (has_tracked) {
    o += LegendRow(lx, ly, Rect(lx + 4, ly - 6, 12, 12, "fill=\"none\" stroke=\"#2e9e44\" stroke-dasharray=\"3 2\""),
                   "tracked point's cell, blocked:");
    o += Text(lx + 28, ly + 18, "target moved toward the robot", "font-size=\"11\" fill=\"#555\"");
    ly += 40;
    o += LegendRow(lx, ly, Line(lx + 4, ly - 6, lx + 16, ly + 6, "stroke=\"#7b2fbf\" stroke-width=\"2.5\"") +
                               Line(lx + 4, ly + 6, lx + 16, ly - 6, "stroke=\"#7b2fbf\" stroke-width=\"2.5\""),
                   "tracked point");
    ly += 24;
  }
  o += LegendRow(lx, ly, Circle(lx + 10, ly, 8, "fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"1.5\""),
                 "robot (0.2 m), facing up");
  ly += 40;
  o += Line(lx, ly, lx + metre, ly, "stroke=\"black\" stroke-width=\"2\"");
  o += Line(lx, ly - 5, lx, ly + 5, "stroke=\"black\"") + Line(lx + metre, ly - 5, lx + metre, ly + 5, "stroke=\"black\"");
  o += Text(lx + metre / 2 - 12, ly + 18, "1 m");
  ly += 40;
  o += Text(lx, ly, "Grid 5 m x 5 m, 100 x 100", "font-size=\"11\" fill=\"#555\"");
  o += Text(lx, ly + 16, "cells of 5 cm; robot on (50, 50)", "font-size=\"11\" fill=\"#555\"");
  return o;
}

}  // namespace

std::string GridSvg(const GridView& v) {
  const GridCanvas k;
  const int h = k.Height();
  std::string o = Header(k.Width(), h);
  o += Text(k.ox, 28, FitText(v.title, kTitleChars), "font-size=\"17\" font-weight=\"bold\"");
  std::string sub = std::string(v.reached ? "target reached" : "target not reached") + ", path " +
                    std::to_string(v.path.size()) + " cells, bearing ";
  sub += std::isnan(v.bearing) ? std::string("none") : F(v.bearing * 180.0 / kPi, 1) + " deg";
  if (!v.consistent) sub += "  (path replay differs from the pass!)";
  o += Text(k.ox, 50, sub, "fill=\"#444\"");
  o += Attraction(k, v);
  o += BlockedCells(k, v);
  o += MetreGrid(k);
  o += ScanReturns(k, v.scan);
  o += PassMarks(k, v);
  o += Text(k.ox + kGridCells * k.c / 2 - 60, h - 22, "columns: +Y (robot's left) to the left", "fill=\"#555\"");
  o += Text(k.ox - 50, k.oy - 6, "rows: +X (ahead) up", "fill=\"#555\" font-size=\"11\"");
  o += GridLegend(k, v.has_tracked);
  return o + "</svg>\n";
}
