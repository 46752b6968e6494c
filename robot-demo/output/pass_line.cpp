// SPDX-License-Identifier: BSD-3-Clause
#include "output/pass_line.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "grid_frame.h"

namespace {

std::string Deg(float rad) {
  if (std::isnan(rad)) return "none";
  return Fixed(static_cast<double>(rad) * 180.0 / kPi, 1);
}

std::string Pair(float x, float y) {
  return "(" + Fixed(static_cast<double>(x), 2) + ", " + Fixed(static_cast<double>(y), 2) + ")";
}

}  // namespace

std::string Fixed(double v, int decimals) {
  std::vector<char> buf(static_cast<std::size_t>(std::snprintf(nullptr, 0, "%.*f", decimals, v)) + 1);
  std::snprintf(buf.data(), buf.size(), "%.*f", decimals, v);
  std::string s(buf.data());
  if (s.size() > 1 && s[0] == '-' && s.find_first_not_of("0.", 1) == std::string::npos) s.erase(0, 1);
  return s;
}

std::string PassText(const PassFigures& p) {
  return std::string(p.reached ? "reached" : "not reached") + ", path " + std::to_string(p.path_length) +
         " cells, steering " + Pair(p.fix_x, p.fix_y) + " m, path end " + Pair(p.face_x, p.face_y) + " m, bearing " +
         Deg(p.bearing) + " deg";
}

std::string ScanLine(long long n, const PassFigures& p, bool target_free) {
  return "scan " + std::to_string(n) + ": " + PassText(p) + (target_free ? "" : " (target cell is blocked)");
}

std::string TickLine(int n, const TickFigures& f) {
  return "tick " + std::to_string(n) + ": t=" + Fixed(f.t, 1) + "s, " + PassText(f.pass) + ", tracked " +
         Pair(f.tracked_x, f.tracked_y) + " m, distance " + Fixed(f.distance, 2) + " m" +
         (f.has_target ? "" : " (no free target cell)");
}

std::string TrackedPair(float x, float y) { return Pair(x, y); }
