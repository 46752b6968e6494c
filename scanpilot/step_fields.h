// SPDX-License-Identifier: BSD-3-Clause
// The step's fields as they leave the library: the one list that the JSON
// writer (PilotStepJson), the Python module's to_dict and its field list
// are made from. Internal to the project (not installed): a new field goes
// here, and the tests hold docs/json.md and the Python stub to this list.
//
// X(key, kind, value, present) for each field after "schema" and "scan", in
// the order they are written. `value` and `present` are expressions of the
// PilotStep `s`; `present` false writes null (it is `true` for a field that
// is always there). Kinds:
//   Bool     true / false
//   Int      a whole number
//   Float    a float, shortest form that reads back to the same float; null when not finite
//   Double   the same for a double
//   Point    {"x":float,"y":float} (a PilotPoint)
//   Cell     [col,row] (a PilotCell)
//   Command  {"speed":double,"turn_rate":double} (a PilotCommand)
//   Reason   a string, PilotReasonName of a PilotReason
#ifndef SCANPILOT_STEP_FIELDS_H
#define SCANPILOT_STEP_FIELDS_H

#define SCANPILOT_STEP_FIELDS(X)                               \
  X("reached", Bool, s.reached, true)                          \
  X("path_cells", Int, s.path_cells, true)                     \
  X("steering", Point, s.steering, true)                       \
  X("path_end", Point, s.path_end, true)                       \
  X("bearing_rad", Float, s.bearing, true)                     \
  X("bearing_deg", Double, s.bearing_deg, true)                \
  X("tracked", Point, s.tracked, s.has_tracked)                \
  X("candidate_passed", Bool, s.candidate_passed, true)        \
  X("tracked_cell", Cell, s.tracked_cell, s.has_tracked)       \
  X("target_cell", Cell, s.target, s.has_target)               \
  X("target_blocked", Bool, s.target_blocked, true)            \
  X("command", Command, s.command, true)                       \
  X("stopped", Bool, s.stopped, true)                          \
  X("returns_inside_robot", Int, s.returns_inside_robot, true) \
  X("lost", Bool, s.lost, true)                                \
  X("no_free_target", Bool, s.no_free_target, true)            \
  X("no_path", Bool, s.no_path, true)                          \
  X("bad_input", Bool, s.bad_input, true)                      \
  X("guard_stopped", Bool, s.guard_stopped, true)              \
  X("seen", Int, s.seen, true)                                 \
  X("seen_front", Int, s.seen_front, true)                     \
  X("near", Int, s.near_readings, true)                        \
  X("low_coverage", Bool, s.low_coverage, true)                \
  X("unseen_held", Bool, s.unseen_held, true)                  \
  X("reason", Reason, s.reason, true)                          \
  X("route_found", Bool, s.route_found, true)                  \
  X("route_cells", Int, s.route_cells, true)                   \
  X("lookahead", Point, s.lookahead, s.route_found)            \
  X("scan_clearance", Double, s.clearance, true)               \
  X("recovering", Bool, s.recovering, true)

#endif
