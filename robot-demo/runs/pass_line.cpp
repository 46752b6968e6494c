#include "runs/pass_line.h"

#include <cmath>
#include <cstdio>

#include "grid_frame.h"

namespace {

std::string Deg(float rad) {
  if (std::isnan(rad)) return "none";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", static_cast<double>(rad) * 180.0 / kPi);
  return buf;
}

}  // namespace

std::string PassText(const PassFigures& p) {
  char buf[512];  // room for any float in %.2f
  std::snprintf(buf, sizeof buf, "%s, path %d cells, steering (%.2f, %.2f) m, path end (%.2f, %.2f) m, bearing %s deg",
                p.reached ? "reached" : "not reached", p.path_length, static_cast<double>(p.fix_x),
                static_cast<double>(p.fix_y), static_cast<double>(p.face_x), static_cast<double>(p.face_y),
                Deg(p.bearing).c_str());
  return buf;
}

std::string ScanLine(long long n, const PassFigures& p, bool target_free) {
  return "scan " + std::to_string(n) + ": " + PassText(p) + (target_free ? "" : " (target cell is blocked)");
}

std::string TickLine(int n, const TickFigures& f) {
  char buf[256];
  std::snprintf(buf, sizeof buf, ", tracked (%.2f, %.2f) m, distance %.2f m", static_cast<double>(f.tracked_x),
                static_cast<double>(f.tracked_y), f.distance);
  char head[64];
  std::snprintf(head, sizeof head, "tick %d: t=%.1fs, ", n, f.t);
  return head + PassText(f.pass) + buf + (f.has_target ? "" : " (no free target cell)");
}
