// SPDX-License-Identifier: BSD-3-Clause
// The one-line account of a planner pass that the command line prints and a
// viewer can show word for word: the replay's line per scan and the demo's
// --verbose line per tick.
#ifndef SCANPILOT_OUTPUT_PASS_LINE_H
#define SCANPILOT_OUTPUT_PASS_LINE_H

#include <string>

// v with `decimals` decimals, as %.Nf prints it, except that a value that
// rounds to zero has no sign ("0.00", never "-0.00"); NaN and infinities as
// %f prints them.
std::string Fixed(double v, int decimals);

struct PassFigures {
  bool reached;
  int path_length;
  float fix_x, fix_y;    // steering point, metres
  float face_x, face_y;  // path end, metres
  float bearing;         // of the steering point, radians; NaN for none
};

// "reached, path 60 cells, steering (0.15, 0.00) m, path end (1.75, 0.00) m,
// bearing 0.0 deg"
std::string PassText(const PassFigures& p);

// "scan N: " + PassText, and " (target cell is blocked)" when it was.
std::string ScanLine(long long n, const PassFigures& p, bool target_free);

struct TickFigures {
  double t;  // time of the scan, s
  PassFigures pass;
  bool has_target;             // a free target cell was found
  float tracked_x, tracked_y;  // tracker's answer, robot frame, metres
  double distance;             // robot to person, centres, at the scan
};

// "tick N: t=1.2s, " + PassText + ", tracked (X, Y) m, distance D m", and
// " (no free target cell)" when there was none.
std::string TickLine(int n, const TickFigures& f);

// "(X, Y)" in metres with two decimals each, as the lines print points.
std::string TrackedPair(float x, float y);

#endif
