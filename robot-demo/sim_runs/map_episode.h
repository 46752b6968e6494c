// SPDX-License-Identifier: BSD-3-Clause
// One simulated run on a map: the pilot drives a scansim robot toward a goal
// or behind a walking person, period by period, until it arrives, touches
// something, or runs out of time.
#ifndef SCANPILOT_SIM_RUNS_MAP_EPISODE_H
#define SCANPILOT_SIM_RUNS_MAP_EPISODE_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "scanpilot.h"
#include "scansim.h"

// Everything that defines one run.
struct MapRunPlan {
  std::string name;  // for lines and tables
  std::string map;   // map_server YAML
  bool open_unknown = false;
  SimPose start{0, 0, 0};  // heading in radians
  double start_yaw_deg = 0.0;
  bool has_goal = false;
  SimPoint goal{0, 0};
  double goal_tolerance = 0.5;  // m, robot centre to goal
  double time_limit = 60.0;     // s (a follow run: the route's end + kFollowSettle)
  std::vector<SimPoint> route;  // a follow run when not empty
  std::string route_file;       // where the route came from (for messages)
  double person_speed = 0.4;
  double robot_radius = 0.2, margin = 0.15;
  double max_speed = 0.5, max_turn_rate = 1.2;
  double range_noise = 0.0, dropout = 0.0;
  // 0: the scanner gives 360 readings in the robot frame; N: N raw samples
  // a turn, binned by the pilot (scanbin) like a real scanner's.
  int turn_samples = 0;
  std::uint64_t seed = 7;
};

constexpr double kMapPeriod = 0.1;     // s per scan
constexpr double kClearanceCap = 5.0;  // clearance figures stop here (m)
// A follow run's rules: it lasts until the route's end plus kFollowSettle;
// it succeeds without a contact, without the person lost for longer than
// kFollowMaxLost at a stretch, and with the robot within kFollowEndDistance
// of the person at the end.
constexpr double kFollowSettle = 10.0;
constexpr double kFollowMaxLost = 2.0;
constexpr double kFollowEndDistance = 2.0;
// The tracked point further than this from the person counts as lost.
constexpr double kFollowTrackSlack = 1.0;

// One period: the scan taken at `pose` at time t, and the step it gave.
struct MapPeriod {
  long long n;
  double t;
  SimPose pose;
  bool has_person;
  SimPoint person;
  double clearance;  // robot edge to the nearest wall cell, at most kClearanceCap
  bool lost;         // follow: the pilot lost the person, or tracks something else
  const PilotStep* step;
  const float* scan;  // the 360 readings the pilot got
  bool has_candidate;
  PilotPoint candidate;
  Pilot* pilot;  // for reading the pass back (pictures), between steps only
};

struct MapResult {
  std::string outcome;  // reached, collision, timeout; follow: followed, collision, lost, behind
  bool success = false;
  double time = 0.0;         // s at the end of the run
  double path_length = 0.0;  // m driven
  double min_clearance = kClearanceCap;
  long long periods = 0;
  SimContact contact{};  // kind kNone without a contact
  double contact_t = 0.0;
  // Follow runs.
  bool follow = false;
  double lost_longest = 0.0, lost_total = 0.0;
  double end_distance = 0.0;     // robot to person centres at the end
  double mean_distance = 0.0;    // over the periods
  double goal_distance = 0.0;    // goal runs: centre to goal at the end
  std::vector<SimPose> track;    // the robot's pose each period, then the last pose
  std::vector<SimPoint> people;  // the person's, alike (follow runs)
};

// Checks the plan against the map (start, goal, route); false with one line.
bool CheckPlan(const MapRunPlan& plan, const SimMap& map, std::string& why);

// Runs it; `each` (may be empty) sees every period. `keep_track` keeps the
// poses for pictures. False with one line when the pilot or the world
// cannot start (the plan was not checked, or another Pilot is live).
bool RunEpisode(const MapRunPlan& plan, const SimMap& map, bool keep_track,
                const std::function<void(const MapPeriod&)>& each, MapResult& result, std::string& why);

// "wall cell (col, row) at (x, y)" or "the person at (x, y)".
std::string ContactText(const SimContact& c);

#endif
