// SPDX-License-Identifier: BSD-3-Clause
#include "sim_runs/map_episode.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr double kPi = 3.14159265358979323846;

std::string Pt(double x, double y) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "(%.3f, %.3f)", x, y);
  return buf;
}

double Dist(double ax, double ay, double bx, double by) {
  const double dx = ax - bx, dy = ay - by;
  return std::sqrt(dx * dx + dy * dy);
}

SimConfig WorldConfig(const MapRunPlan& s) {
  SimConfig c;
  c.robot_radius = s.robot_radius;
  c.max_speed = s.max_speed;
  c.max_turn_rate = s.max_turn_rate;
  c.range_noise = s.range_noise;
  c.dropout = s.dropout;
  c.person_speed = s.person_speed;
  return c;
}

}  // namespace

std::string ContactText(const SimContact& c) {
  if (c.kind == SimContactKind::kPerson) return "the person at " + Pt(c.px, c.py);
  if (c.kind == SimContactKind::kWall)
    return "wall cell (" + std::to_string(c.col) + ", " + std::to_string(c.row) + ") at " + Pt(c.px, c.py);
  return "nothing";
}

bool CheckPlan(const MapRunPlan& s, const SimMap& map, std::string& why) {
  char buf[200];
  SimWorld w;
  if (!w.Start(map, WorldConfig(s), s.start, s.seed, buf, sizeof buf)) {
    why = buf;
    return false;
  }
  if (s.has_goal && !(std::isfinite(s.goal.x) && std::isfinite(s.goal.y))) {
    why = "the goal is not finite";
    return false;
  }
  int col, row;
  if (s.has_goal && !map.CellAt(s.goal.x, s.goal.y, col, row)) {
    why = "goal " + Pt(s.goal.x, s.goal.y) + " is off the map";
    return false;
  }
  if (!s.route.empty()) {
    std::vector<double> xy;
    for (const SimPoint& p : s.route) xy.insert(xy.end(), {p.x, p.y});
    if (!w.SetRoute(xy.data(), s.route.size(), buf, sizeof buf)) {
      why = buf;
      return false;
    }
    const double d = Dist(s.route[0].x, s.route[0].y, s.start.x, s.start.y);
    if (!(d > 0.0) || d > 6.0) {
      why = "the person's first point is " + std::to_string(d) + " m from the start; a follow run starts 0..6 m behind";
      return false;
    }
    // The tracker starts straight ahead: the robot must face the person.
    const SimPoint ahead = SimToRobot(s.start, s.route[0].x, s.route[0].y);
    if (!(ahead.x > 0.0) || std::fabs(ahead.y) > ahead.x * 0.4) {
      why = "the person's first point " + Pt(s.route[0].x, s.route[0].y) +
            " is not ahead of the start's heading (within about 20 deg); a follow run starts facing the person";
      return false;
    }
  }
  if (!s.has_goal && s.route.empty()) {
    why = "a map run needs --goal or --person-route";
    return false;
  }
  if (!(s.time_limit > 0.0) || !std::isfinite(s.time_limit) || s.time_limit > 86400.0) {
    why = "the time limit must be > 0 s and at most a day (86400 s)";
    return false;
  }
  if (s.turn_samples < 0 || static_cast<std::size_t>(s.turn_samples) > kSimMaxTurnSamples) {
    why = "turn samples must be 0..8192";
    return false;
  }
  if (!(s.goal_tolerance > 0.0) || !std::isfinite(s.goal_tolerance)) {
    why = "the goal tolerance must be > 0 m";
    return false;
  }
  return true;
}

bool RunEpisode(const MapRunPlan& s, const SimMap& map, bool keep_track,
                const std::function<void(const MapPeriod&)>& each, MapResult& r, std::string& why) {
  r = MapResult{};
  char buf[200];
  SimWorld world;
  if (!world.Start(map, WorldConfig(s), s.start, s.seed, buf, sizeof buf)) {
    why = buf;
    return false;
  }
  const bool follow = !s.route.empty();
  if (follow) {
    std::vector<double> xy;
    for (const SimPoint& p : s.route) xy.insert(xy.end(), {p.x, p.y});
    if (!world.SetRoute(xy.data(), s.route.size(), buf, sizeof buf)) {
      why = buf;
      return false;
    }
  }
  PilotConfig pc;
  pc.robot_radius = s.robot_radius;
  pc.margin = s.margin;
  pc.max_speed = s.max_speed;
  pc.max_turn_rate = s.max_turn_rate;
  pc.period = kMapPeriod;
  if (follow) {
    pc.mode = PilotMode::kFollow;
    pc.follow_distance = static_cast<float>(Dist(s.route[0].x, s.route[0].y, s.start.x, s.start.y));
  } else {
    pc.mode = PilotMode::kGoal;
    const SimPoint g = SimToRobot(s.start, s.goal.x, s.goal.y);
    if (!PilotWindowGoal(g.x, g.y, pc.goal)) {
      why = "the goal is not finite";
      return false;
    }
  }
  Pilot pilot;
  if (const PilotError e = pilot.Start(pc); e != PilotError::kNone) {
    why = PilotErrorText(e);
    return false;
  }
  r.follow = follow;
  const double limit = follow ? world.RouteDuration() + kFollowSettle : s.time_limit;
  const long long periods = static_cast<long long>(std::ceil(limit / kMapPeriod - 1e-9));
  float scan[kSimReadings];
  std::vector<float> turn(static_cast<std::size_t>(s.turn_samples));
  PilotStep step{};
  double lost_run = 0.0, distance_sum = 0.0;
  r.outcome = follow ? "followed" : "timeout";
  for (long long n = 0; n < periods; ++n) {
    const double t = static_cast<double>(n) * kMapPeriod;
    const SimPose pose = world.Pose();
    if (turn.empty())
      world.Scan(scan);
    else
      world.ScanTurn(turn.data(), turn.size());
    MapPeriod p{};
    p.n = n;
    p.t = t;
    p.pose = pose;
    p.has_person = follow;
    p.clearance = world.Clearance(kClearanceCap);
    if (p.clearance < r.min_clearance) r.min_clearance = p.clearance;
    if (follow) {
      p.person = world.Person();
      const SimDetection d = world.Detect();
      p.has_candidate = d.present;
      p.candidate = {d.x, d.y};
    } else {
      const SimPoint g = SimToRobot(pose, s.goal.x, s.goal.y);
      PilotGoal goal;
      if (PilotWindowGoal(g.x, g.y, goal)) pilot.SetGoal(goal);
    }
    if (turn.empty())
      pilot.Step(scan, p.has_candidate ? &p.candidate : nullptr, step);
    else
      pilot.StepEvenTurn(turn.data(), turn.size(), p.has_candidate ? &p.candidate : nullptr, step);
    if (follow) {
      // The tracker's answer in the world, against where the person is.
      double sh, ch;
      SimSinCos(pose.heading, sh, ch);
      const double tx = pose.x + ch * step.tracked.x - sh * step.tracked.y;
      const double ty = pose.y + sh * step.tracked.x + ch * step.tracked.y;
      p.lost = step.lost || !step.has_tracked || Dist(tx, ty, p.person.x, p.person.y) > kFollowTrackSlack;
      const double d = Dist(pose.x, pose.y, p.person.x, p.person.y);
      distance_sum += d;
      lost_run = p.lost ? lost_run + kMapPeriod : 0.0;
      if (p.lost) r.lost_total += kMapPeriod;
      if (lost_run > r.lost_longest) r.lost_longest = lost_run;
    }
    p.step = &step;
    p.scan = pilot.Readings();
    p.pilot = &pilot;
    if (keep_track) {
      r.track.push_back(pose);
      if (follow) r.people.push_back(p.person);
    }
    if (each) each(p);
    const SimMove m = world.Move(step.command.speed, step.command.turn_rate, kMapPeriod);
    r.path_length += m.travelled;
    r.periods = n + 1;
    if (m.contact.kind != SimContactKind::kNone) {
      r.contact = m.contact;
      r.contact_t = t + m.duration;
      r.time = r.contact_t;
      r.outcome = "collision";
      r.min_clearance = world.Clearance(kClearanceCap);
      break;
    }
    r.time = t + kMapPeriod;
    if (!follow && Dist(m.pose.x, m.pose.y, s.goal.x, s.goal.y) <= s.goal_tolerance) {
      r.outcome = "reached";
      break;
    }
  }
  const SimPose end = world.Pose();
  if (keep_track) {
    r.track.push_back(end);
    if (follow) r.people.push_back(world.Person());
  }
  r.goal_distance = s.has_goal ? Dist(end.x, end.y, s.goal.x, s.goal.y) : 0.0;
  if (follow) {
    const SimPoint q = world.Person();
    r.end_distance = Dist(end.x, end.y, q.x, q.y);
    r.mean_distance = r.periods > 0 ? distance_sum / static_cast<double>(r.periods) : 0.0;
    if (r.outcome != "collision") {
      if (r.lost_longest > kFollowMaxLost)
        r.outcome = "lost";
      else if (r.end_distance > kFollowEndDistance)
        r.outcome = "behind";
    }
    r.success = r.outcome == "followed";
  } else {
    r.success = r.outcome == "reached";
  }
  (void)kPi;
  return true;
}
