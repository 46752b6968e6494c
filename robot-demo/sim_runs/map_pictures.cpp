// SPDX-License-Identifier: BSD-3-Clause
#include "sim_runs/map_pictures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/safe_text.h"
#include "output/grid_view.h"
#include "output/viewer/viewer_glue.h"

namespace {

// The map's own frame: metres from its lower-left corner along the image's axes.
struct Frame {
  double ox, oy, c, s;
  explicit Frame(const SimMap& m) : ox(m.OriginX()), oy(m.OriginY()) { SimSinCos(m.OriginYaw(), s, c); }
  void To(double x, double y, double& fx, double& fy) const {
    const double dx = x - ox, dy = y - oy;
    fx = c * dx + s * dy;
    fy = c * dy - s * dx;
  }
};

std::string F(double v, int decimals = 2) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

}  // namespace

MapPictures::MapPictures(const SimMap& map, const MapRunPlan& plan, OutputSet& out, bool html)
    : map_(map), plan_(plan) {
  ViewerRunHeader h;
  h.title = (plan.route.empty() ? "Goal run on " : "Follow run on ") + plan.map;
  h.tick_name = "period";
  h.has_room = true;
  const double res = map.Resolution();
  h.room.width = map.Width() * res;
  h.room.depth = map.Height() * res;
  h.room.cells_w = map.Width();
  h.room.cells_h = map.Height();
  h.room.cells.resize(static_cast<std::size_t>(map.Width()) * static_cast<std::size_t>(map.Height()));
  for (int r = 0; r < map.Height(); ++r)
    for (int c = 0; c < map.Width(); ++c)
      h.room.cells[static_cast<std::size_t>(map.Height() - 1 - r) * static_cast<std::size_t>(map.Width()) +
                   static_cast<std::size_t>(c)] = static_cast<unsigned char>(map.Cell(c, r));
  const Frame f(map);
  for (const SimPoint& p : plan.route) {
    double x, y;
    f.To(p.x, p.y, x, y);
    h.room.route.push_back({x, y});
  }
  h.dt = kMapPeriod;
  h.robot_radius = plan.robot_radius;
  h.person_radius = 0.2;
  viewer_ = std::make_unique<RunViewer>(out, h, html);
}

void MapPictures::Add(const MapPeriod& p, Pilot& pilot, const std::string& line) {
  if (pending_) viewer_->Add(tick_);
  pending_ = false;
  if (!viewer_->Wants()) {
    viewer_->Skip();
    return;
  }
  const GridView v = CaptureGridView(pilot, *p.step);
  ViewerTick& t = tick_;
  t = ViewerTickFromGridView(v, line);
  const Frame f(map_);
  t.has_pose = true;
  f.To(p.pose.x, p.pose.y, t.pose_x, t.pose_y);
  t.pose_heading = p.pose.heading - map_.OriginYaw();
  if (p.has_person) {
    t.has_person = true;
    f.To(p.person.x, p.person.y, t.person_x, t.person_y);
    t.has_distance = true;
    t.distance = std::hypot(p.pose.x - p.person.x, p.pose.y - p.person.y);
  }
  pending_ = true;
}

PictureFiles MapPictures::Finish(const MapResult& result) {
  if (pending_ && result.contact.kind != SimContactKind::kNone) {
    const Frame f(map_);
    tick_.has_contact = true;
    f.To(result.contact.px, result.contact.py, tick_.contact_x, tick_.contact_y);
    tick_.info += "  -> contact with " + ContactText(result.contact);
  }
  if (pending_) viewer_->Add(tick_);
  pending_ = false;
  viewer_->Finish();
  PictureFiles files;
  files.emplace_back("run.svg", MapRunSvg(map_, plan_, result));
  return files;
}

namespace {

// run.svg's page: the map at `scale` pixels a metre, below a title and
// above a legend.
struct MapSvg {
  const SimMap& map;
  const Frame f;
  double res, width, depth, scale, w, h;
  static constexpr double kMargin = 20.0, kTop = 64.0, kLegend = 60.0;
  explicit MapSvg(const SimMap& m)
      : map(m),
        f(m),
        res(m.Resolution()),
        width(m.Width() * res),
        depth(m.Height() * res),
        // At most 1200 pixels a side, at most 80 pixels a metre.
        scale(std::min({1200.0 / width, 1200.0 / depth, 80.0})),
        w(std::max(width * scale + 2 * kMargin, 520.0)),
        h(depth * scale + kTop + kMargin + kLegend) {}
  double X(double mx) const { return kMargin + mx * scale; }
  double Y(double my) const { return kTop + (depth - my) * scale; }
  std::pair<double, double> P(double x, double y) const {
    double mx, my;
    f.To(x, y, mx, my);
    return std::make_pair(X(mx), Y(my));
  }
};

std::string SvgHead(const MapSvg& g, const MapRunPlan& plan, const MapResult& result) {
  const double margin = MapSvg::kMargin;
  std::string o = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + F(g.w, 0) + "\" height=\"" + F(g.h, 0) +
                  "\" viewBox=\"0 0 " + F(g.w, 0) + " " + F(g.h, 0) +
                  "\" font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"13\">\n"
                  "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  const std::string title = (plan.route.empty() ? "Goal run on " : "Follow run on ") + plan.map;
  o += "<text x=\"" + F(margin, 0) + "\" y=\"22\" font-size=\"15\" font-weight=\"bold\">" +
       XmlEscape(FitText(title, 90)) + "</text>\n";
  std::string outcome = "outcome: " + result.outcome + " at t = " + F(result.time, 1) + " s, path " +
                        F(result.path_length, 2) + " m, closest to a wall " + F(result.min_clearance, 3) + " m";
  return o + "<text x=\"" + F(margin, 0) + "\" y=\"42\">" + XmlEscape(outcome) + "</text>\n";
}

// The map: runs of wall and unknown cells along each row.
std::string SvgCells(const MapSvg& g) {
  const SimMap& map = g.map;
  const double res = g.res;
  std::string walls, unknown;
  for (int r = 0; r < map.Height(); ++r) {
    for (int state = 1; state <= 2; ++state) {
      std::string& into = state == 1 ? walls : unknown;
      int c = 0;
      while (c < map.Width()) {
        if (static_cast<int>(map.Cell(c, r)) != state) {
          ++c;
          continue;
        }
        int e = c;
        while (e < map.Width() && static_cast<int>(map.Cell(e, r)) == state) ++e;
        into += "M" + F(g.X(c * res)) + " " + F(g.Y((r + 1) * res)) + "h" + F((e - c) * res * g.scale) + "v" +
                F(res * g.scale) + "h-" + F((e - c) * res * g.scale) + "z";
        c = e;
      }
    }
  }
  std::string o = "<rect x=\"" + F(g.X(0)) + "\" y=\"" + F(g.Y(g.depth)) + "\" width=\"" + F(g.width * g.scale) +
                  "\" height=\"" + F(g.depth * g.scale) + "\" fill=\"#fafafa\" stroke=\"#999\"/>\n";
  if (!unknown.empty()) o += "<path d=\"" + unknown + "\" fill=\"#c8c8c8\"/>\n";
  if (!walls.empty()) o += "<path d=\"" + walls + "\" fill=\"#222\"/>\n";
  return o;
}

std::string Polyline(const std::vector<std::pair<double, double>>& pts, const std::string& style) {
  if (pts.size() < 2) return std::string();
  std::string d;
  for (std::size_t i = 0; i < pts.size(); ++i) d += (i ? " " : "") + F(pts[i].first) + "," + F(pts[i].second);
  return "<polyline points=\"" + d + "\" fill=\"none\" " + style + "/>\n";
}

// Route, person, robot.
std::string SvgTracks(const MapSvg& g, const MapRunPlan& plan, const MapResult& result) {
  std::vector<std::pair<double, double>> pts;
  for (const SimPoint& p : plan.route) pts.push_back(g.P(p.x, p.y));
  std::string o = Polyline(pts, "stroke=\"#e08a00\" stroke-width=\"1.5\" stroke-dasharray=\"6 4\"");
  pts.clear();
  for (const SimPoint& p : result.people) pts.push_back(g.P(p.x, p.y));
  o += Polyline(pts, "stroke=\"#e08a00\" stroke-opacity=\"0.6\" stroke-width=\"3\"");
  pts.clear();
  for (const SimPose& p : result.track) pts.push_back(g.P(p.x, p.y));
  return o + Polyline(pts, "stroke=\"#1f5fbf\" stroke-width=\"2.5\" stroke-linejoin=\"round\"");
}

// Start, goal, the robot's end and the contact.
std::string SvgMarks(const MapSvg& g, const MapRunPlan& plan, const MapResult& result) {
  const double rr = std::max(plan.robot_radius * g.scale, 3.0);
  const auto s = g.P(plan.start.x, plan.start.y);
  std::string o = "<circle cx=\"" + F(s.first) + "\" cy=\"" + F(s.second) + "\" r=\"" + F(rr) +
                  "\" fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"1.5\"/>\n";
  if (plan.has_goal) {
    const auto q = g.P(plan.goal.x, plan.goal.y);
    o += "<circle cx=\"" + F(q.first) + "\" cy=\"" + F(q.second) + "\" r=\"" + F(plan.goal_tolerance * g.scale) +
         "\" fill=\"#2a9d3a\" fill-opacity=\"0.12\" stroke=\"#2a9d3a\" stroke-width=\"1.5\"/>\n";
    o += "<circle cx=\"" + F(q.first) + "\" cy=\"" + F(q.second) + "\" r=\"3\" fill=\"#2a9d3a\"/>\n";
  }
  if (!result.track.empty()) {
    const SimPose& e = result.track.back();
    const auto q = g.P(e.x, e.y);
    o += "<circle cx=\"" + F(q.first) + "\" cy=\"" + F(q.second) + "\" r=\"" + F(rr) +
         "\" fill=\"#1f5fbf\" fill-opacity=\"0.25\" stroke=\"#1f5fbf\" stroke-width=\"1.5\"/>\n";
  }
  if (result.contact.kind != SimContactKind::kNone) {
    const auto c = g.P(result.contact.px, result.contact.py);
    const double k = 7.0;
    o += "<path d=\"M" + F(c.first - k) + " " + F(c.second - k) + "L" + F(c.first + k) + " " + F(c.second + k) + "M" +
         F(c.first - k) + " " + F(c.second + k) + "L" + F(c.first + k) + " " + F(c.second - k) +
         "\" stroke=\"#d62728\" stroke-width=\"3\"/>\n";
    o += "<circle cx=\"" + F(c.first) + "\" cy=\"" + F(c.second) +
         "\" r=\"11\" fill=\"none\" stroke=\"#d62728\" stroke-width=\"2\"/>\n";
  }
  return o;
}

// Legend and a metre scale.
std::string SvgLegend(const MapSvg& g, const MapRunPlan& plan, const MapResult& result) {
  std::string o;
  double ly = g.h - MapSvg::kLegend + 18, lx = MapSvg::kMargin;
  auto item = [&](const std::string& swatch, const std::string& label) {
    o += swatch + "<text x=\"" + F(lx + 26) + "\" y=\"" + F(ly + 4) + "\">" + XmlEscape(label) + "</text>\n";
    lx += 34 + 7.5 * static_cast<double>(label.size());
  };
  item("<line x1=\"" + F(lx) + "\" y1=\"" + F(ly) + "\" x2=\"" + F(lx + 20) + "\" y2=\"" + F(ly) +
           "\" stroke=\"#1f5fbf\" stroke-width=\"2.5\"/>\n",
       "robot");
  if (!plan.route.empty())
    item("<line x1=\"" + F(lx) + "\" y1=\"" + F(ly) + "\" x2=\"" + F(lx + 20) + "\" y2=\"" + F(ly) +
             "\" stroke=\"#e08a00\" stroke-width=\"3\"/>\n",
         "person");
  if (plan.has_goal)
    item("<circle cx=\"" + F(lx + 10) + "\" cy=\"" + F(ly) +
             "\" r=\"7\" fill=\"#2a9d3a\" fill-opacity=\"0.12\" stroke=\"#2a9d3a\"/>\n",
         "goal");
  item("<rect x=\"" + F(lx + 3) + "\" y=\"" + F(ly - 7) + "\" width=\"14\" height=\"14\" fill=\"#222\"/>\n", "wall");
  item("<rect x=\"" + F(lx + 3) + "\" y=\"" + F(ly - 7) + "\" width=\"14\" height=\"14\" fill=\"#c8c8c8\"/>\n",
       "unknown");
  if (result.contact.kind != SimContactKind::kNone)
    item(
        "<path d=\"M" + F(lx + 4) + " " + F(ly - 6) + "l12 12m-12 0l12 -12\" stroke=\"#d62728\" stroke-width=\"3\"/>\n",
        "contact");
  const double metres = g.width > 20 ? 10.0 : 1.0, margin = MapSvg::kMargin;
  const double sy = g.h - 16;
  o +=
      "<path d=\"M" + F(margin) + " " + F(sy) + "h" + F(metres * g.scale) + "\" stroke=\"#333\" stroke-width=\"2\"/>\n";
  o += "<text x=\"" + F(margin + metres * g.scale + 6) + "\" y=\"" + F(sy + 4) + "\">" + F(metres, 0) + " m</text>\n";
  return o;
}

}  // namespace

std::string MapRunSvg(const SimMap& map, const MapRunPlan& plan, const MapResult& result) {
  const MapSvg g(map);
  return SvgHead(g, plan, result) + SvgCells(g) + SvgTracks(g, plan, result) + SvgMarks(g, plan, result) +
         SvgLegend(g, plan, result) + "</svg>\n";
}
