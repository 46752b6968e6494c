#include "svg.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

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

std::string Text(double x, double y, const std::string& s, const std::string& extra = "") {
  return "<text x=\"" + F(x) + "\" y=\"" + F(y) + "\" " + extra + ">" + s + "</text>\n";
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

}  // namespace

// ---- the whole run ------------------------------------------------------------

std::string RunSvg(const Room& room, const std::vector<Vec2>& route, const RunTrace& trace) {
  const double s = 110.0, ox = 40.0, oy = 50.0;  // px per metre, origin offset
  const int w = static_cast<int>(ox * 2 + room.width * s) + 230;
  const int h = static_cast<int>(oy + room.depth * s + 70);
  auto X = [&](double x) { return ox + x * s; };
  auto Y = [&](double y) { return oy + (room.depth - y) * s; };
  std::string o = Header(w, h);
  o += Text(ox, 30, "Robot following a person: " + F(static_cast<double>(trace.robot.size() - 1) * trace.dt, 0) +
                        " s at " + F(1.0 / trace.dt, 0) + " scans per second",
            "font-size=\"17\" font-weight=\"bold\"");
  // Floor grid every metre.
  for (int i = 0; i <= static_cast<int>(room.width); ++i)
    o += Line(X(i), Y(0), X(i), Y(room.depth), "stroke=\"#eee\"");
  for (int i = 0; i <= static_cast<int>(room.depth); ++i)
    o += Line(X(0), Y(i), X(room.width), Y(i), "stroke=\"#eee\"");
  for (const Segment& seg : room.walls)
    o += Line(X(seg.a.x), Y(seg.a.y), X(seg.b.x), Y(seg.b.y),
              "stroke=\"#333\" stroke-width=\"4\" stroke-linecap=\"square\"");
  for (const Disc& d : room.pillars) o += Circle(X(d.c.x), Y(d.c.y), d.r * s, "fill=\"#777\"");

  auto poly = [&](const std::vector<Vec2>& pts, const std::string& style) {
    std::string p = "<polyline fill=\"none\" " + style + " points=\"";
    for (const Vec2& v : pts) p += F(X(v.x)) + "," + F(Y(v.y)) + " ";
    return p + "\"/>\n";
  };
  o += poly(route, "stroke=\"#e08a00\" stroke-width=\"1.5\" stroke-dasharray=\"6 4\"");
  o += poly(trace.person, "stroke=\"#e08a00\" stroke-width=\"3\" stroke-opacity=\"0.6\"");
  std::vector<Vec2> robot;
  for (const Pose& p : trace.robot) robot.push_back({p.x, p.y});
  o += poly(robot, "stroke=\"#1f5fbf\" stroke-width=\"3\"");
  // Robot footprint every 5 s, with the time.
  const int every = static_cast<int>(std::lround(5.0 / trace.dt));
  std::vector<std::size_t> moments;
  for (std::size_t i = 0; i < trace.robot.size(); i += static_cast<std::size_t>(every)) moments.push_back(i);
  if (!trace.robot.empty() && moments.back() != trace.robot.size() - 1) moments.push_back(trace.robot.size() - 1);
  for (std::size_t i : moments) {
    const Pose& p = trace.robot[i];
    const Vec2& q = trace.person[i];
    o += Line(X(p.x), Y(p.y), X(q.x), Y(q.y), "stroke=\"#999\" stroke-width=\"1\" stroke-dasharray=\"2 2\"");
    o += Circle(X(p.x), Y(p.y), Scenario::kRobotRadius * s,
                "fill=\"#1f5fbf\" fill-opacity=\"0.15\" stroke=\"#1f5fbf\"");
    o += Line(X(p.x), Y(p.y), X(p.x + 0.2 * std::cos(p.heading)), Y(p.y + 0.2 * std::sin(p.heading)),
              "stroke=\"#1f5fbf\" stroke-width=\"2\"");
    o += Circle(X(q.x), Y(q.y), Scenario::kPersonRadius * s,
                "fill=\"#e08a00\" fill-opacity=\"0.25\" stroke=\"#e08a00\"");
    const std::string when = F(static_cast<double>(i) * trace.dt, 0) + " s";
    o += Text(X(p.x) + 8, Y(p.y) + 22, when, "fill=\"#1f5fbf\" font-size=\"11\"");
    o += Text(X(q.x) + 8, Y(q.y) + 22, when, "fill=\"#b06a00\" font-size=\"11\"");
  }
  for (int t : trace.snapshots) {
    if (t < 0 || static_cast<std::size_t>(t) >= trace.robot.size()) continue;
    const Pose& p = trace.robot[static_cast<std::size_t>(t)];
    o += Circle(X(p.x), Y(p.y), 4, "fill=\"#c01890\"");
    o += Text(X(p.x) - 10, Y(p.y) - 9, "tick " + std::to_string(t), "fill=\"#c01890\" font-size=\"11\"");
  }
  // Legend and scale.
  const double lx = ox + room.width * s + 30;
  double ly = oy + 10;
  o += Text(lx, ly, "Legend", "font-weight=\"bold\"");
  ly += 22;
  o += LegendRow(lx, ly, Line(lx, ly, lx + 22, ly, "stroke=\"#333\" stroke-width=\"4\""), "wall, obstacle");
  ly += 22;
  o += LegendRow(lx, ly, Line(lx, ly, lx + 22, ly, "stroke=\"#e08a00\" stroke-width=\"1.5\" stroke-dasharray=\"6 4\""),
                 "person's planned route");
  ly += 22;
  o += LegendRow(lx, ly, Line(lx, ly, lx + 22, ly, "stroke=\"#e08a00\" stroke-width=\"3\" stroke-opacity=\"0.6\""),
                 "person's walk");
  ly += 22;
  o += LegendRow(lx, ly, Line(lx, ly, lx + 22, ly, "stroke=\"#1f5fbf\" stroke-width=\"3\""), "robot's track");
  ly += 22;
  o += LegendRow(lx, ly, Circle(lx + 11, ly, 8, "fill=\"#1f5fbf\" fill-opacity=\"0.15\" stroke=\"#1f5fbf\""),
                 "robot every 5 s (dotted:");
  ly += 22;
  o += LegendRow(lx, ly, Circle(lx + 11, ly, 7, "fill=\"#e08a00\" fill-opacity=\"0.25\" stroke=\"#e08a00\""),
                 "to the person at that time)");
  ly += 22;
  o += LegendRow(lx, ly, Circle(lx + 11, ly, 4, "fill=\"#c01890\""), "grid picture taken");
  ly += 40;
  o += Line(lx, ly, lx + s, ly, "stroke=\"black\" stroke-width=\"2\"");
  o += Line(lx, ly - 5, lx, ly + 5, "stroke=\"black\"") + Line(lx + s, ly - 5, lx + s, ly + 5, "stroke=\"black\"");
  o += Text(lx + s / 2 - 10, ly + 18, "1 m");
  o += Text(ox, h - 20, "Room " + F(room.width, 0) + " m x " + F(room.depth, 0) +
                            " m seen from above; the doorway is the gap in the middle wall.",
            "fill=\"#555\"");
  return o + "</svg>\n";
}

// ---- one planner pass ---------------------------------------------------------

std::string GridSvg(const GridView& v) {
  const double c = 6.0, ox = 60.0, oy = 70.0;  // px per cell, grid origin
  const int w = static_cast<int>(ox + 100 * c) + 300, h = static_cast<int>(oy + 100 * c) + 70;
  // Ahead (+X, growing row) is up, left (+Y, growing column) is left.
  auto CX = [&](double colf) { return ox + (100.0 - colf) * c; };
  auto CY = [&](double rowf) { return oy + (100.0 - rowf) * c; };
  auto MX = [&](double y_m) { return CX(CellCoordinate(y_m)); };
  auto MY = [&](double x_m) { return CY(CellCoordinate(x_m)); };
  auto cell_rect = [&](int col_lo, int col_hi, int row, const std::string& style) {
    return Rect(CX(col_hi + 1.0), CY(row + 1.0), (col_hi - col_lo + 1) * c, c, style);
  };
  std::string o = Header(w, h);
  o += Text(ox, 28, v.title, "font-size=\"17\" font-weight=\"bold\"");
  std::string sub = std::string(v.reached ? "target reached" : "target not reached") + ", path " +
                    std::to_string(v.path.size()) + " cells, bearing ";
  sub += std::isnan(v.bearing) ? std::string("none") : F(v.bearing * 180.0 / kPi, 1) + " deg";
  if (!v.consistent) sub += "  (path replay differs from the pass!)";
  o += Text(ox, 50, sub, "fill=\"#444\"");

  // Attraction: free cells shaded by their pull toward the target.
  for (int row = 0; row < 100; ++row) {
    int col = 0;
    while (col < 100) {
      const int a = v.attraction[static_cast<std::size_t>(row * 100 + col)];
      const int level = a < 0 ? -1 : (a >= 255 ? 16 : a * 15 / 127);
      int end = col;
      while (end + 1 < 100) {
        const int b = v.attraction[static_cast<std::size_t>(row * 100 + end + 1)];
        const int lb = b < 0 ? -1 : (b >= 255 ? 16 : b * 15 / 127);
        if (lb != level) break;
        ++end;
      }
      if (level > 0 && level < 16)
        o += cell_rect(col, end, row, "fill=\"#2e9e44\" fill-opacity=\"" + F(0.04 + 0.03 * level, 2) + "\"");
      col = end + 1;
    }
  }
  // Blocked cells.
  for (int row = 0; row < 100; ++row) {
    int col = 0;
    while (col < 100) {
      if (!v.blocked[static_cast<std::size_t>(row * 100 + col)]) {
        ++col;
        continue;
      }
      int end = col;
      while (end + 1 < 100 && v.blocked[static_cast<std::size_t>(row * 100 + end + 1)]) ++end;
      o += cell_rect(col, end, row, "fill=\"#5a5a5a\"");
      col = end + 1;
    }
  }
  // Metre grid and labels.
  for (int m = -2; m <= 2; ++m) {
    o += Line(MX(m), CY(100), MX(m), CY(0), "stroke=\"#bbb\" stroke-width=\"0.7\" stroke-dasharray=\"3 3\"");
    o += Line(CX(100), MY(m), CX(0), MY(m), "stroke=\"#bbb\" stroke-width=\"0.7\" stroke-dasharray=\"3 3\"");
    o += Text(MX(m) - 10, CY(0) + 16, (m > 0 ? "+" : "") + std::to_string(m) + " m", "font-size=\"11\" fill=\"#555\"");
    o += Text(ox - 42, MY(m) + 4, (m > 0 ? "+" : "") + std::to_string(m) + " m", "font-size=\"11\" fill=\"#555\"");
  }
  o += Rect(ox, oy, 100 * c, 100 * c, "fill=\"none\" stroke=\"#333\"");
  // Scan returns.
  for (int i = 0; i < 360; ++i) {
    const double d = v.scan[static_cast<std::size_t>(i)];
    if (!std::isfinite(d)) continue;
    const double x = -d * std::cos(i * kPi / 180.0), y = -d * std::sin(i * kPi / 180.0);
    if (std::fabs(x) >= 2.5 || std::fabs(y) >= 2.5) continue;
    o += Circle(MX(y), MY(x), 1.8, "fill=\"#d62728\"");
  }
  // Path, start, steering point, path end.
  if (!v.path.empty()) {
    std::string p = "<polyline fill=\"none\" stroke=\"#ff8c00\" stroke-width=\"3\" stroke-linejoin=\"round\" points=\"";
    p += F(CX(v.start.col + 0.5)) + "," + F(CY(v.start.row + 0.5)) + " ";
    for (const Cell& k : v.path) p += F(CX(k.col + 0.5)) + "," + F(CY(k.row + 0.5)) + " ";
    o += p + "\"/>\n";
  }
  o += Rect(CX(v.start.col + 1.0) - 2, CY(v.start.row + 1.0) - 2, c + 4, c + 4,
            "fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"2\"");
  // Robot body (0.2 m) and heading.
  o += Circle(MX(0), MY(0), Scenario::kRobotRadius * 20 * c, "fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"1.5\"");
  o += Line(MX(0), MY(0), MX(0), MY(0.3), "stroke=\"#1f5fbf\" stroke-width=\"2\"");
  if (v.has_target) {
    if (v.raw_target.col != v.target.col || v.raw_target.row != v.target.row)
      o += Rect(CX(v.raw_target.col + 1.0) - 3, CY(v.raw_target.row + 1.0) - 3, c + 6, c + 6,
                "fill=\"none\" stroke=\"#2e9e44\" stroke-width=\"1.5\" stroke-dasharray=\"3 2\"");
    o += Rect(CX(v.target.col + 1.0) - 3, CY(v.target.row + 1.0) - 3, c + 6, c + 6,
              "fill=\"#2e9e44\" stroke=\"black\" stroke-width=\"1\"");
  }
  if (!v.path.empty()) {
    o += Circle(MX(v.face_y) - c / 2, MY(v.face_x) - c / 2, 6, "fill=\"none\" stroke=\"black\" stroke-width=\"2\"");
    o += Circle(MX(v.fix_y) - c / 2, MY(v.fix_x) - c / 2, 5, "fill=\"#c01890\" stroke=\"white\"");
  }
  if (v.has_tracked && std::isfinite(v.tracked_x) && std::isfinite(v.tracked_y)) {
    const double tx = MX(v.tracked_y), ty = MY(v.tracked_x);
    o += Line(tx - 7, ty - 7, tx + 7, ty + 7, "stroke=\"#7b2fbf\" stroke-width=\"2.5\"");
    o += Line(tx - 7, ty + 7, tx + 7, ty - 7, "stroke=\"#7b2fbf\" stroke-width=\"2.5\"");
  }
  // Axis hints.
  o += Text(ox + 100 * c / 2 - 60, h - 22, "columns: +Y (robot's left) to the left", "fill=\"#555\"");
  o += Text(ox - 50, oy - 6, "rows: +X (ahead) up", "fill=\"#555\" font-size=\"11\"");

  // Legend.
  const double lx = ox + 100 * c + 25;
  double ly = oy + 10;
  o += Text(lx, ly, "Legend", "font-weight=\"bold\"");
  ly += 24;
  o += LegendRow(lx, ly, Rect(lx, ly - 7, 20, 14, "fill=\"#5a5a5a\""), "blocked (scan point + 0.35 m)");
  ly += 24;
  o += LegendRow(lx, ly, Rect(lx, ly - 7, 10, 14, "fill=\"#2e9e44\" fill-opacity=\"0.5\"") +
                             Rect(lx + 10, ly - 7, 10, 14, "fill=\"#2e9e44\" fill-opacity=\"0.1\""),
                 "pull toward the target");
  ly += 24;
  o += LegendRow(lx, ly, Circle(lx + 10, ly, 3, "fill=\"#d62728\""), "scan return");
  ly += 24;
  o += LegendRow(lx, ly, Line(lx, ly, lx + 20, ly, "stroke=\"#ff8c00\" stroke-width=\"3\""), "planned path");
  ly += 24;
  o += LegendRow(lx, ly, Rect(lx + 5, ly - 5, 10, 10, "fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"2\""),
                 "start cell");
  ly += 24;
  o += LegendRow(lx, ly, Circle(lx + 10, ly, 5, "fill=\"#c01890\""), "steering point");
  ly += 24;
  o += LegendRow(lx, ly, Circle(lx + 10, ly, 6, "fill=\"none\" stroke=\"black\" stroke-width=\"2\""), "path end");
  ly += 24;
  o += LegendRow(lx, ly, Rect(lx + 4, ly - 6, 12, 12, "fill=\"#2e9e44\" stroke=\"black\""), "target cell");
  ly += 24;
  if (v.has_tracked) {
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
  o += Line(lx, ly, lx + 20 * c, ly, "stroke=\"black\" stroke-width=\"2\"");
  o += Line(lx, ly - 5, lx, ly + 5, "stroke=\"black\"") + Line(lx + 20 * c, ly - 5, lx + 20 * c, ly + 5, "stroke=\"black\"");
  o += Text(lx + 10 * c - 12, ly + 18, "1 m");
  ly += 40;
  o += Text(lx, ly, "Grid 5 m x 5 m, 100 x 100", "font-size=\"11\" fill=\"#555\"");
  o += Text(lx, ly + 16, "cells of 5 cm; robot on (50, 50)", "font-size=\"11\" fill=\"#555\"");
  return o + "</svg>\n";
}

bool WriteFileAtomic(const std::string& path, const std::string& content, std::string& why) {
  const std::string tmp = path + ".tmp";
  std::FILE* f = std::fopen(tmp.c_str(), "wb");
  if (f == nullptr) {
    why = std::strerror(errno);
    return false;
  }
  const bool wrote = std::fwrite(content.data(), 1, content.size(), f) == content.size();
  const int err = errno;
  if (std::fclose(f) != 0 || !wrote) {
    why = std::strerror(wrote ? errno : err);
    std::remove(tmp.c_str());
    return false;
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    why = std::strerror(errno);
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}
