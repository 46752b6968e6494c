// SPDX-License-Identifier: BSD-3-Clause
#include "sim_runs/map_episode.h"

#include <cmath>
#include <cstdio>
#include <memory>

namespace {

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

namespace {

// The pilot of a run: its robot, limits and mode; false when the goal is not finite.
bool EpisodePilotConfig(const MapRunPlan& s, PilotConfig& pc) {
  pc.robot_radius = s.robot_radius;
  pc.margin = s.margin;
  pc.max_speed = s.max_speed;
  pc.max_turn_rate = s.max_turn_rate;
  pc.period = kMapPeriod;
  if (!s.route.empty()) {
    pc.mode = PilotMode::kFollow;
    pc.follow_distance = static_cast<float>(Dist(s.route[0].x, s.route[0].y, s.start.x, s.start.y));
    return true;
  }
  pc.mode = PilotMode::kGoal;
  const SimPoint g = SimToRobot(s.start, s.goal.x, s.goal.y);
  return PilotWindowGoal(g.x, g.y, pc.goal);
}

bool StartEpisode(const MapRunPlan& s, const SimMap& map, SimWorld& world, Pilot& pilot, std::string& why) {
  char buf[200];
  if (!world.Start(map, WorldConfig(s), s.start, s.seed, buf, sizeof buf)) {
    why = buf;
    return false;
  }
  if (!s.route.empty()) {
    std::vector<double> xy;
    for (const SimPoint& p : s.route) xy.insert(xy.end(), {p.x, p.y});
    if (!world.SetRoute(xy.data(), s.route.size(), buf, sizeof buf)) {
      why = buf;
      return false;
    }
  }
  PilotConfig pc;
  if (!EpisodePilotConfig(s, pc)) {
    why = "the goal is not finite";
    return false;
  }
  if (const PilotError e = pilot.Start(pc); e != PilotError::kNone) {
    why = PilotErrorText(e);
    return false;
  }
  return true;
}

// One period's episode: the world, the pilot and the readings they share.
struct Episode {
  const MapRunPlan& s;
  SimWorld world;
  Pilot pilot;
  bool follow;
  float scan[kSimReadings];
  std::vector<float> turn;
  PilotStep step{};
  double lost_run = 0.0, distance_sum = 0.0;
  explicit Episode(const MapRunPlan& plan)
      : s(plan), follow(!plan.route.empty()), turn(static_cast<std::size_t>(plan.turn_samples)) {}
};

// Scans, detects or sets the goal, and steps the pilot: the period as it is seen.
MapPeriod SensePeriod(Episode& e, long long n, MapResult& r) {
  MapPeriod p{};
  p.n = n;
  p.t = static_cast<double>(n) * kMapPeriod;
  p.pose = e.world.Pose();
  if (e.turn.empty())
    e.world.Scan(e.scan);
  else
    e.world.ScanTurn(e.turn.data(), e.turn.size());
  p.has_person = e.follow;
  p.clearance = e.world.Clearance(kClearanceCap);
  if (p.clearance < r.min_clearance) r.min_clearance = p.clearance;
  if (e.follow) {
    p.person = e.world.Person();
    const SimDetection d = e.world.Detect();
    p.has_candidate = d.present;
    p.candidate = {d.x, d.y};
  } else {
    const SimPoint g = SimToRobot(p.pose, e.s.goal.x, e.s.goal.y);
    PilotGoal goal;
    if (PilotWindowGoal(g.x, g.y, goal)) e.pilot.SetGoal(goal);
  }
  if (e.turn.empty())
    e.pilot.Step(e.scan, p.has_candidate ? &p.candidate : nullptr, e.step);
  else
    e.pilot.StepEvenTurn(e.turn.data(), e.turn.size(), p.has_candidate ? &p.candidate : nullptr, e.step);
  p.step = &e.step;
  p.scan = e.pilot.Readings();
  p.pilot = &e.pilot;
  return p;
}

// The tracker's answer in the world, against where the person is.
void TallyFollow(Episode& e, MapPeriod& p, MapResult& r) {
  double sh, ch;
  SimSinCos(p.pose.heading, sh, ch);
  const double tx = p.pose.x + ch * e.step.tracked.x - sh * e.step.tracked.y;
  const double ty = p.pose.y + sh * e.step.tracked.x + ch * e.step.tracked.y;
  p.lost = e.step.lost || !e.step.has_tracked || Dist(tx, ty, p.person.x, p.person.y) > kFollowTrackSlack;
  const double d = Dist(p.pose.x, p.pose.y, p.person.x, p.person.y);
  e.distance_sum += d;
  e.lost_run = p.lost ? e.lost_run + kMapPeriod : 0.0;
  if (p.lost) r.lost_total += kMapPeriod;
  if (e.lost_run > r.lost_longest) r.lost_longest = e.lost_run;
}

// Moves the robot by the period's command; true when that ends the run.
bool MovePeriod(Episode& e, const MapPeriod& p, MapResult& r) {
  const SimMove m = e.world.Move(e.step.command.speed, e.step.command.turn_rate, kMapPeriod);
  r.path_length += m.travelled;
  r.periods = p.n + 1;
  if (m.contact.kind != SimContactKind::kNone) {
    r.contact = m.contact;
    r.contact_t = p.t + m.duration;
    r.time = r.contact_t;
    r.outcome = "collision";
    r.min_clearance = e.world.Clearance(kClearanceCap);
    return true;
  }
  r.time = p.t + kMapPeriod;
  if (!e.follow && Dist(m.pose.x, m.pose.y, e.s.goal.x, e.s.goal.y) <= e.s.goal_tolerance) {
    r.outcome = "reached";
    return true;
  }
  return false;
}

void FinishResult(Episode& e, bool keep_track, MapResult& r) {
  const SimPose end = e.world.Pose();
  if (keep_track) {
    r.track.push_back(end);
    if (e.follow) r.people.push_back(e.world.Person());
  }
  r.goal_distance = e.s.has_goal ? Dist(end.x, end.y, e.s.goal.x, e.s.goal.y) : 0.0;
  if (!e.follow) {
    r.success = r.outcome == "reached";
    return;
  }
  const SimPoint q = e.world.Person();
  r.end_distance = Dist(end.x, end.y, q.x, q.y);
  r.mean_distance = r.periods > 0 ? e.distance_sum / static_cast<double>(r.periods) : 0.0;
  if (r.outcome != "collision") {
    if (r.lost_longest > kFollowMaxLost)
      r.outcome = "lost";
    else if (r.end_distance > kFollowEndDistance)
      r.outcome = "behind";
  }
  r.success = r.outcome == "followed";
}

}  // namespace

bool RunEpisode(const MapRunPlan& s, const SimMap& map, bool keep_track,
                const std::function<void(const MapPeriod&)>& each, MapResult& r, std::string& why) {
  r = MapResult{};
  auto e = std::make_unique<Episode>(s);
  if (!StartEpisode(s, map, e->world, e->pilot, why)) return false;
  r.follow = e->follow;
  const double limit = e->follow ? e->world.RouteDuration() + kFollowSettle : s.time_limit;
  const long long periods = static_cast<long long>(std::ceil(limit / kMapPeriod - 1e-9));
  r.outcome = e->follow ? "followed" : "timeout";
  for (long long n = 0; n < periods; ++n) {
    MapPeriod p = SensePeriod(*e, n, r);
    if (e->follow) TallyFollow(*e, p, r);
    if (keep_track) {
      r.track.push_back(p.pose);
      if (e->follow) r.people.push_back(p.person);
    }
    if (each) each(p);
    if (MovePeriod(*e, p, r)) break;
  }
  FinishResult(*e, keep_track, r);
  return true;
}
