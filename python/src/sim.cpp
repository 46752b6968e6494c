// SPDX-License-Identifier: BSD-3-Clause
// The map simulator (scansim.h) in the Python module: SimMap, SimWorld and
// window_goal, so that a controller (the pilot or one's own) can be driven
// round a map in a few lines.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "scanpilot.h"
#include "scansim.h"

namespace py = pybind11;

namespace {

void Refuse(const std::string& why) { throw py::value_error(why); }

double Num(const py::kwargs& kw, const char* key, double fallback) {
  if (!kw.contains(key)) return fallback;
  double v = 0;
  try {
    v = py::cast<double>(kw[key]);
  } catch (const py::cast_error&) {
    Refuse(std::string(key) + ": not a number");
  }
  return v;
}

SimConfig ConfigOf(const py::kwargs& kw) {
  static const char* const kKeys[] = {"robot_radius", "max_speed",      "max_turn_rate", "max_range",
                                      "range_noise",  "dropout",        "mount_yaw_deg", "person_radius",
                                      "person_speed", "detector_noise", "detector_miss", "detector_false_alarm",
                                      "seed",         "start"};
  for (auto item : kw) {
    const std::string k = py::cast<std::string>(item.first);
    bool known = false;
    for (const char* n : kKeys) known = known || k == n;
    if (!known) Refuse("unknown keyword '" + k + "'");
  }
  SimConfig c;
  c.robot_radius = Num(kw, "robot_radius", c.robot_radius);
  c.max_speed = Num(kw, "max_speed", c.max_speed);
  c.max_turn_rate = Num(kw, "max_turn_rate", c.max_turn_rate);
  c.max_range = Num(kw, "max_range", c.max_range);
  c.range_noise = Num(kw, "range_noise", c.range_noise);
  c.dropout = Num(kw, "dropout", c.dropout);
  c.mount_yaw_deg = Num(kw, "mount_yaw_deg", c.mount_yaw_deg);
  c.person_radius = Num(kw, "person_radius", c.person_radius);
  c.person_speed = Num(kw, "person_speed", 0.4);
  c.detector_noise = Num(kw, "detector_noise", c.detector_noise);
  c.detector_miss = Num(kw, "detector_miss", c.detector_miss);
  c.detector_false_alarm = Num(kw, "detector_false_alarm", c.detector_false_alarm);
  return c;
}

py::object ContactObject(const SimContact& c) {
  if (c.kind == SimContactKind::kNone) return py::none();
  py::dict d;
  d["with"] = c.kind == SimContactKind::kWall ? "wall" : "person";
  d["robot"] = py::make_tuple(c.x, c.y);
  d["point"] = py::make_tuple(c.px, c.py);
  d["cell"] = c.kind == SimContactKind::kWall ? py::object(py::make_tuple(c.col, c.row)) : py::object(py::none());
  return std::move(d);
}

py::tuple PoseTuple(const SimPose& p) { return py::make_tuple(p.x, p.y, p.heading); }

// A world keeps its map alive (the world holds a pointer to it).
struct PyWorld {
  std::shared_ptr<SimMap> map;
  SimWorld world;
  SimContact contact{SimContactKind::kNone, 0, 0, 0, 0, -1, -1};
};

}  // namespace

void BindSim(py::module_& m) {
  py::class_<SimMap, std::shared_ptr<SimMap>>(m, "SimMap",
                                              R"doc(SimMap(yaml_path, open_unknown=False): a map_server map.

The YAML (image, resolution, origin, negate, occupied_thresh, free_thresh)
with an 8-bit PGM or PNG. Unknown cells and the outside are walls unless
open_unknown. A bad file raises ValueError naming the file and the key or line.)doc")
      .def(py::init([](const std::string& path, bool open_unknown) {
             auto map = std::make_shared<SimMap>();
             char why[512] = "";
             SimMapOptions o;
             o.open_unknown = open_unknown;
             if (!map->Load(path.c_str(), o, why, sizeof why)) Refuse(why);
             return map;
           }),
           py::arg("yaml_path"), py::arg("open_unknown") = false)
      .def_property_readonly("width", &SimMap::Width, "cells")
      .def_property_readonly("height", &SimMap::Height, "cells")
      .def_property_readonly("resolution", &SimMap::Resolution, "metres per cell")
      .def_property_readonly(
          "origin", [](const SimMap& s) { return py::make_tuple(s.OriginX(), s.OriginY(), s.OriginYaw()); },
          "(x, y, yaw) of the lower-left corner")
      .def("free", &SimMap::FreeAt, py::arg("x"), py::arg("y"), "The point is on the map and not in a wall.")
      .def(
          "cast",
          [](const SimMap& s, double x, double y, double heading, double max_range) {
            double sn, cs;
            SimSinCos(heading, sn, cs);
            return s.Cast(x, y, cs, sn, max_range);
          },
          py::arg("x"), py::arg("y"), py::arg("heading"), py::arg("max_range") = 12.0,
          "Distance along `heading` (radians) to the first wall cell; inf when none within max_range.")
      .def("wall_distance", &SimMap::WallDistance, py::arg("x"), py::arg("y"), py::arg("limit") = 5.0,
           "Distance to the nearest wall cell, at most `limit`.");

  py::class_<PyWorld>(m, "SimWorld",
                      R"doc(SimWorld(map, start=(x, y, heading), seed=7, **config): a disc robot on `map`.

start: metres and radians in the map's frame. Keywords: robot_radius (0.2),
max_speed (0.5), max_turn_rate (1.2), max_range (12), range_noise (0),
dropout (0), mount_yaw_deg (0), person_radius (0.2), person_speed (0.4),
detector_noise (0.015), detector_miss (0), detector_false_alarm (0).
A start off the map or touching a wall raises ValueError.)doc")
      .def(py::init([](std::shared_ptr<SimMap> map, py::tuple start, std::uint64_t seed, py::kwargs kw) {
             if (start.size() != 3) Refuse("start: (x, y, heading)");
             auto w = std::make_unique<PyWorld>();
             w->map = std::move(map);
             const SimPose p{py::cast<double>(start[0]), py::cast<double>(start[1]), py::cast<double>(start[2])};
             char why[256] = "";
             if (!w->world.Start(*w->map, ConfigOf(kw), p, seed, why, sizeof why)) Refuse(why);
             return w;
           }),
           py::arg("map"), py::kw_only(), py::arg("start"), py::arg("seed") = 7)
      .def(
          "set_route",
          [](PyWorld& w, const std::vector<std::pair<double, double>>& route) {
            std::vector<double> xy;
            for (const auto& p : route) xy.insert(xy.end(), {p.first, p.second});
            char why[256] = "";
            if (!w.world.SetRoute(xy.data(), route.size(), why, sizeof why)) Refuse(why);
          },
          py::arg("route"), "A person walking these (x, y) points from time 0 at person_speed.")
      .def(
          "scan",
          [](PyWorld& w) {
            py::array_t<float> out(kSimReadings);
            w.world.Scan(out.mutable_data());
            return out;
          },
          "360 readings from the robot (float32; index 180 ahead, 270 left, inf: no return).")
      .def(
          "scan_turn",
          [](PyWorld& w, std::size_t n) {
            py::array_t<float> out(static_cast<py::ssize_t>(n));
            if (!w.world.ScanTurn(out.mutable_data(), n)) Refuse("n: 1.." + std::to_string(kSimMaxTurnSamples));
            return out;
          },
          py::arg("n"), "n raw samples of one turn in the scanner's own layout (mount_yaw_deg).")
      .def(
          "detect",
          [](PyWorld& w) -> py::object {
            const SimDetection d = w.world.Detect();
            if (!d.present) return py::none();
            return py::make_tuple(d.x, d.y);
          },
          "The detector's candidate for the last scan, (x, y) in the robot frame, or None.")
      .def(
          "move",
          [](PyWorld& w, double speed, double turn_rate, double dt) {
            const SimMove mv = w.world.Move(speed, turn_rate, dt);
            if (mv.contact.kind != SimContactKind::kNone) w.contact = mv.contact;
            py::dict d;
            d["pose"] = PoseTuple(mv.pose);
            d["travelled"] = mv.travelled;
            d["duration"] = mv.duration;
            d["speed"] = mv.speed;
            d["turn_rate"] = mv.turn_rate;
            d["contact"] = ContactObject(mv.contact);
            return d;
          },
          py::arg("speed"), py::arg("turn_rate"), py::arg("dt") = 0.1,
          "Drive the clipped command for dt seconds on its exact arc; stops at the first contact.")
      .def_property_readonly(
          "pose", [](const PyWorld& w) { return PoseTuple(w.world.Pose()); }, "(x, y, heading)")
      .def_property_readonly("time", [](const PyWorld& w) { return w.world.Time(); })
      .def_property_readonly("person",
                             [](const PyWorld& w) -> py::object {
                               if (!w.world.HasPerson()) return py::none();
                               const SimPoint p = w.world.Person();
                               return py::make_tuple(p.x, p.y);
                             })
      .def_property_readonly(
          "contact", [](const PyWorld& w) { return ContactObject(w.contact); },
          "The contact that stopped the robot, or None.")
      .def(
          "clearance", [](const PyWorld& w, double limit) { return w.world.Clearance(limit); }, py::arg("limit") = 5.0,
          "The robot's edge to the nearest wall cell (m), at most limit.")
      .def(
          "to_robot",
          [](const PyWorld& w, double x, double y) {
            const SimPoint p = SimToRobot(w.world.Pose(), x, y);
            return py::make_tuple(p.x, p.y);
          },
          py::arg("x"), py::arg("y"), "A map point in the robot's frame (X ahead, Y left).");

  m.def(
      "window_goal",
      [](double x, double y) {
        PilotGoal g;
        if (!PilotWindowGoal(x, y, g)) Refuse("goal: not finite");
        return py::make_tuple(g.x, g.y);
      },
      py::arg("x"), py::arg("y"),
      "PilotWindowGoal: a robot-frame goal pulled onto the planner's reach (2.4 m) along its bearing.");
}
