// SPDX-License-Identifier: BSD-3-Clause
#include "output/svg.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

#include "base/safe_text.h"
#include "grid_frame.h"
#include "output/svg_parts.h"

using namespace svg_parts;

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
int PullLevel(int attraction) {
  return attraction < 0 ? -1 : (attraction >= kPathgridTargetMark ? 16 : attraction * 15 / kPathgridConeTop);
}

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
    if (std::fabs(x) >= kGridReach || std::fabs(y) >= kGridReach) continue;
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
