// SPDX-License-Identifier: BSD-3-Clause
// The Python face of the libraries: scanpilot's Pilot with its steps and
// read-back, the planner's and the tracker's calls one by one, and the
// scanbin conversions. Arrays come in as anything numpy can read and are
// copied into float32 before a library sees them, so the caller's array is
// never written and no pointer outlives a call.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "pathgrid.h"
#include "scanbin.h"
#include "scanfollow.h"
#include "scanpilot.h"
#include "step_fields.h"

namespace py = pybind11;

// Arguments taken as they come and checked by hand (ValueError naming the
// problem), with the names editors should show for them.
struct ArrayArg {
  py::handle h;
};
struct PointArg {
  py::handle h;
};
namespace pybind11::detail {
template <>
struct type_caster<ArrayArg> {
  PYBIND11_TYPE_CASTER(ArrayArg, const_name("numpy.typing.ArrayLike"));
  bool load(handle src, bool) {
    value.h = src;
    return true;
  }
  static handle cast(const ArrayArg& a, return_value_policy, handle) { return a.h.inc_ref(); }
};
template <>
struct type_caster<PointArg> {
  PYBIND11_TYPE_CASTER(PointArg, const_name("Optional[Tuple[float, float]]"));
  bool load(handle src, bool) {
    value.h = src;
    return true;
  }
  static handle cast(const PointArg& a, return_value_policy, handle) { return a.h.inc_ref(); }
};
}  // namespace pybind11::detail

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

// The process has one planner and one tracker. Every call that touches them
// holds this lock, taken after the GIL is released in the long calls and
// never held while taking the GIL, so the two cannot deadlock.
std::mutex g_state;
bool g_pilot_live = false;  // a Pilot of this module is live; guarded by g_state

[[noreturn]] void Fail(const std::string& what) { throw py::value_error(what); }

std::string TypeName(py::handle o) { return Py_TYPE(o.ptr())->tp_name; }

// double -> float rounded as IEEE does, without the undefined cast of a
// finite value beyond float's range.
float Narrow(double v) {
  constexpr double kRoundsToInf = 0x1.ffffffp+127;  // halfway from FLT_MAX to 2^128
  if (v >= kRoundsToInf) return kInf;
  if (v <= -kRoundsToInf) return -kInf;
  return static_cast<float>(v);
}

// ---- scalars --------------------------------------------------------------------

bool IsBool(py::handle o) {
  return PyBool_Check(o.ptr()) || std::strcmp(Py_TYPE(o.ptr())->tp_name, "numpy.bool_") == 0;
}

double Real(py::handle o, const std::string& name) {
  if (IsBool(o) || PyUnicode_Check(o.ptr()) || PyBytes_Check(o.ptr()))
    Fail(name + ": expected a number, got " + TypeName(o));
  const double v = PyFloat_AsDouble(o.ptr());
  if (v == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();
    Fail(name + ": expected a number, got " + TypeName(o));
  }
  return v;
}

bool Flag(py::handle o, const std::string& name) {
  if (!IsBool(o)) Fail(name + ": expected True or False, got " + TypeName(o));
  return PyObject_IsTrue(o.ptr()) == 1;
}

// A whole number that fits an int; `off` when it does not fit.
int Whole(py::handle o, const std::string& name, int off) {
  if (IsBool(o)) Fail(name + ": expected a whole number, got " + TypeName(o));
  py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(o.ptr()));
  if (!index) {
    PyErr_Clear();
    Fail(name + ": expected a whole number, got " + TypeName(o));
  }
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
  if (overflow != 0 || v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max()) return off;
  return static_cast<int>(v);
}

// Two items of any sequence but a string.
std::pair<py::object, py::object> Pair(py::handle o, const std::string& name, const char* what) {
  if (PyUnicode_Check(o.ptr()) || PyBytes_Check(o.ptr()) || !PySequence_Check(o.ptr()) ||
      PySequence_Size(o.ptr()) != 2) {
    PyErr_Clear();
    Fail(name + ": expected " + what + ", got " + std::string(py::str(py::repr(o))));
  }
  auto a = py::reinterpret_steal<py::object>(PySequence_GetItem(o.ptr(), 0));
  auto b = py::reinterpret_steal<py::object>(PySequence_GetItem(o.ptr(), 1));
  if (!a || !b) throw py::error_already_set();
  return {a, b};
}

std::optional<PilotPoint> Candidate(py::handle o) {
  if (o.is_none()) return std::nullopt;
  const auto xy = Pair(o, "candidate", "None or (x, y) in metres");
  return PilotPoint{Narrow(Real(xy.first, "candidate x")), Narrow(Real(xy.second, "candidate y"))};
}

// ---- arrays -----------------------------------------------------------------------

std::string Shape(const py::array& a) {
  std::string s = "(";
  for (py::ssize_t i = 0; i < a.ndim(); ++i) s += (i ? ", " : "") + std::to_string(a.shape(i));
  return s + (a.ndim() == 1 ? ",)" : ")");
}

// Any 1-D array of real numbers as a C-contiguous float32 array: float32 as
// it is, other floats and integers converted (numpy's rounding to nearest).
// A numpy masked array with its masked entries as NaN (float32): a masked
// reading says nothing, so the pilot takes it as unseen. Null for anything else.
py::object Unmasked(py::handle obj) {
  if (!py::hasattr(obj, "mask") || !py::hasattr(obj, "filled")) return py::object();
  const py::module_ ma = py::module_::import("numpy.ma");
  if (!py::isinstance(obj, ma.attr("MaskedArray"))) return py::object();
  const py::object data = ma.attr("getdata")(obj);
  const char kind = py::array::ensure(data).dtype().kind();
  if (kind != 'f' && kind != 'i' && kind != 'u') return py::object();  // refused below, by its dtype
  return obj.attr("astype")("float32").attr("filled")(py::float_(std::numeric_limits<double>::quiet_NaN()));
}

py::array_t<float> Float32(py::handle in, const char* name) {
  const py::object filled = Unmasked(in);
  const py::handle obj = filled ? py::handle(filled) : in;
  py::array a = py::array::ensure(obj);
  if (!a) Fail(std::string(name) + ": expected a 1-D array of numbers, got " + TypeName(obj));
  const char kind = a.dtype().kind();
  if (kind != 'f' && kind != 'i' && kind != 'u')
    Fail(std::string(name) + ": dtype " + std::string(py::str(a.dtype())) +
         " is not accepted (give float32; other float and integer types are converted)");
  if (a.ndim() != 1) Fail(std::string(name) + ": expected a 1-D array, got shape " + Shape(a));
  // Throws what numpy raised, e.g. its overflow warning when warnings are errors.
  return py::array_t<float, py::array::c_style | py::array::forcecast>(a);
}

void Readings360(py::handle obj, const char* name, float* out) {
  // The usual case first: a contiguous float32 array, read without a conversion call.
  if (py::isinstance<py::array_t<float, py::array::c_style>>(obj) && !py::hasattr(obj, "mask")) {
    const auto a = py::reinterpret_borrow<py::array_t<float, py::array::c_style>>(obj);
    if (a.ndim() == 1 && a.shape(0) == kPilotReadings) {
      std::memcpy(out, a.data(), sizeof(float) * kPilotReadings);
      return;
    }
  }
  const py::array_t<float> a = Float32(obj, name);
  if (a.shape(0) != kPilotReadings)
    Fail(std::string(name) + ": expected 360 readings, got " + std::to_string(a.shape(0)));
  std::memcpy(out, a.data(), sizeof(float) * kPilotReadings);
}

std::vector<float> Samples(py::handle obj, const char* name) {
  const py::array_t<float> a = Float32(obj, name);
  return std::vector<float>(a.data(), a.data() + a.shape(0));
}

py::array_t<float> ReadingsArray(const float* r) {
  py::array_t<float> out(kPilotReadings);
  std::memcpy(out.mutable_data(), r, sizeof(float) * kPilotReadings);
  return out;
}

// ---- configuration -------------------------------------------------------------------

struct DoubleKey {
  const char* name;
  double& (*slot)(PilotConfig&);
};
const DoubleKey kDoubleKeys[] = {
    {"zero_deg", [](PilotConfig& c) -> double& { return c.layout.zero_deg; }},
    {"range_scale", [](PilotConfig& c) -> double& { return c.layout.range_scale; }},
    {"mount_yaw_deg", [](PilotConfig& c) -> double& { return c.mount_yaw_deg; }},
    {"robot_radius", [](PilotConfig& c) -> double& { return c.robot_radius; }},
    {"margin", [](PilotConfig& c) -> double& { return c.margin; }},
    {"max_speed", [](PilotConfig& c) -> double& { return c.max_speed; }},
    {"max_turn_rate", [](PilotConfig& c) -> double& { return c.max_turn_rate; }},
    {"period", [](PilotConfig& c) -> double& { return c.period; }},
    {"turn_gain", [](PilotConfig& c) -> double& { return c.gains.turn_gain; }},
    {"drive_bearing", [](PilotConfig& c) -> double& { return c.gains.drive_bearing; }},
    {"min_steer", [](PilotConfig& c) -> double& { return c.gains.min_steer; }},
    {"approach_gain", [](PilotConfig& c) -> double& { return c.gains.approach_gain; }},
    {"standoff", [](PilotConfig& c) -> double& { return c.gains.standoff; }},
    {"min_face_distance", [](PilotConfig& c) -> double& { return c.gains.min_face_distance; }},
    {"guard_margin", [](PilotConfig& c) -> double& { return c.gains.guard_margin; }},
    {"guard_floor", [](PilotConfig& c) -> double& { return c.gains.guard_floor; }},
    {"lookahead", [](PilotConfig& c) -> double& { return c.gains.lookahead; }},
    {"clearance_cost", [](PilotConfig& c) -> double& { return c.gains.clearance_cost; }},
    {"slow_clearance", [](PilotConfig& c) -> double& { return c.gains.slow_clearance; }},
    {"recovery_time", [](PilotConfig& c) -> double& { return c.gains.recovery_time; }},
};
struct FloatKey {
  const char* name;
  float& (*slot)(PilotConfig&);
};
const FloatKey kFloatKeys[] = {
    {"min_range", [](PilotConfig& c) -> float& { return c.layout.min_range; }},
    {"max_range", [](PilotConfig& c) -> float& { return c.layout.max_range; }},
};
struct BoolKey {
  const char* name;
  bool& (*slot)(PilotConfig&);
};
const BoolKey kBoolKeys[] = {
    {"clockwise", [](PilotConfig& c) -> bool& { return c.layout.clockwise; }},
    {"upside_down", [](PilotConfig& c) -> bool& { return c.upside_down; }},
};
// The keys that describe the scanner alone (the bin_* functions take only these).
bool IsLayoutKey(const std::string& k) {
  return k == "zero_deg" || k == "clockwise" || k == "range_scale" || k == "units" || k == "min_range" ||
         k == "max_range";
}

double UnitsScale(py::handle v) {
  if (PyUnicode_Check(v.ptr())) {
    const std::string u = py::str(v);
    if (u == "m") return kScanMetres;
    if (u == "mm") return kScanMillimetres;
  }
  Fail("units: expected 'm' or 'mm', got " + std::string(py::str(py::repr(v))));
}

PilotGoal ParseGoal(py::handle goal, py::handle goal_cell) {
  if (!goal.is_none() && !goal_cell.is_none()) Fail("give goal=(x, y) or goal_cell=(col, row), not both");
  if (!goal.is_none()) {
    const auto xy = Pair(goal, "goal", "(x, y) in metres");
    return PilotGoal::Metres(Real(xy.first, "goal x"), Real(xy.second, "goal y"));
  }
  const auto cr = Pair(goal_cell, "goal_cell", "(col, row)");
  return PilotGoal::Cell(Whole(cr.first, "goal_cell col", -1), Whole(cr.second, "goal_cell row", -1));
}

// Keyword arguments -> config. `layout_only`: the scanner's keys alone.
PilotConfig ParseConfig(const py::kwargs& kw, bool layout_only) {
  PilotConfig c;
  bool units = false, scale = false;
  py::object goal = py::none(), goal_cell = py::none(), follow = py::none();
  py::object mode = py::str("goal");
  for (auto item : kw) {
    const std::string key = py::str(item.first);
    const py::handle v = item.second;
    bool done = false;
    if (layout_only && !IsLayoutKey(key)) {
      Fail("unknown keyword '" + key + "' (scanner layout: zero_deg, clockwise, range_scale or units, " +
           "min_range, max_range)");
    }
    for (const auto& d : kDoubleKeys)
      if (key == d.name) {
        d.slot(c) = Real(v, key);
        done = true;
      }
    for (const auto& f : kFloatKeys)
      if (key == f.name) {
        f.slot(c) = Narrow(Real(v, key));
        done = true;
      }
    for (const auto& b : kBoolKeys)
      if (key == b.name) {
        b.slot(c) = Flag(v, key);
        done = true;
      }
    if (key == "units") {
      c.layout.range_scale = UnitsScale(v);
      units = done = true;
    }
    scale = scale || key == "range_scale";
    // Checked once all keys are in: they depend on each other.
    const std::pair<const char*, py::object*> later[] = {
        {"mode", &mode}, {"goal", &goal}, {"goal_cell", &goal_cell}, {"follow_distance", &follow}};
    for (const auto& l : later)
      if (key == l.first) {
        *l.second = py::reinterpret_borrow<py::object>(v);
        done = true;
      }
    if (!done) Fail("unknown keyword '" + key + "'");
  }
  if (units && scale) Fail("give units or range_scale, not both");
  if (layout_only) return c;
  const std::string m = PyUnicode_Check(mode.ptr()) ? std::string(py::str(mode)) : std::string();
  if (m == "goal") {
    c.mode = PilotMode::kGoal;
    if (!follow.is_none()) Fail("follow_distance applies to mode='follow'");
    if (!goal.is_none() || !goal_cell.is_none()) c.goal = ParseGoal(goal, goal_cell);
  } else if (m == "follow") {
    c.mode = PilotMode::kFollow;
    if (!goal.is_none() || !goal_cell.is_none()) Fail("goal and goal_cell apply to mode='goal'");
    if (!follow.is_none()) c.follow_distance = Narrow(Real(follow, "follow_distance"));
  } else {
    Fail("mode: expected 'goal' or 'follow', got " + std::string(py::str(py::repr(mode))));
  }
  return c;
}

// The config as keywords that rebuild it: Pilot(**pilot.config).
py::dict ConfigDict(PilotConfig c) {
  py::dict d;
  if (c.mode == PilotMode::kFollow) {
    d["mode"] = "follow";
    d["follow_distance"] = static_cast<double>(c.follow_distance);
  } else {
    d["mode"] = "goal";
    if (c.goal.is_cell)
      d["goal_cell"] = py::make_tuple(c.goal.cell.col, c.goal.cell.row);
    else
      d["goal"] = py::make_tuple(c.goal.x, c.goal.y);
  }
  py::dict any;
  for (const auto& k : kDoubleKeys) any[k.name] = k.slot(c);
  for (const auto& k : kFloatKeys) any[k.name] = static_cast<double>(k.slot(c));
  for (const auto& k : kBoolKeys) any[k.name] = k.slot(c);
  for (const char* k :
       {"zero_deg",     "clockwise",     "range_scale", "min_range",      "max_range",      "mount_yaw_deg",
        "upside_down",  "robot_radius",  "margin",      "max_speed",      "max_turn_rate",  "period",
        "turn_gain",    "drive_bearing", "min_steer",   "approach_gain",  "standoff",       "min_face_distance",
        "guard_margin", "guard_floor",   "lookahead",   "clearance_cost", "slow_clearance", "recovery_time"})
    d[k] = any[k];
  return d;
}

// ---- steps ---------------------------------------------------------------------------

// A float as a Python float, or None when not finite (JSON's null).
py::object Num(double v) { return std::isfinite(v) ? py::object(py::float_(v)) : py::object(py::none()); }
py::object PointTuple(PilotPoint p, bool present) {
  if (!present) return py::none();
  return py::make_tuple(static_cast<double>(p.x), static_cast<double>(p.y));
}
py::object PointDict(PilotPoint p, bool present) {
  if (!present) return py::none();
  py::dict d;
  d["x"] = Num(p.x);
  d["y"] = Num(p.y);
  return d;
}
py::object CellTuple(PilotCell c, bool present) {
  return present ? py::object(py::make_tuple(c.col, c.row)) : py::object(py::none());
}
py::object CellList(PilotCell c, bool present) {
  if (!present) return py::none();
  py::list l;
  l.append(c.col);
  l.append(c.row);
  return l;
}

struct Step {
  PilotStep s{};
};

// Each kind of step_fields.h as to_dict gives it: JSON's values in Python.
struct DictValue {
  static py::object Bool(bool v) { return py::bool_(v); }
  static py::object Int(int v) { return py::int_(v); }
  static py::object Float(float v) { return Num(v); }
  static py::object Double(double v) { return Num(v); }
  static py::object Point(PilotPoint p) { return PointDict(p, true); }
  static py::object Cell(PilotCell c) { return CellList(c, true); }
  static py::object Command(const PilotCommand& c) {
    py::dict d;
    d["speed"] = Num(c.speed);
    d["turn_rate"] = Num(c.turn_rate);
    return d;
  }
  static py::object Reason(PilotReason r) { return py::str(PilotReasonName(r)); }
};

// PilotStepJson's object without "schema" and "scan": the same list of fields.
py::dict StepDict(const PilotStep& s) {
  py::dict d;
#define SCANPILOT_DICT_FIELD(key, kind, value, present) \
  d[key] = (present) ? DictValue::kind(value) : py::object(py::none());
  SCANPILOT_STEP_FIELDS(SCANPILOT_DICT_FIELD)
#undef SCANPILOT_DICT_FIELD
  return d;
}

// The same list as (key, kind) pairs, for programs that read the steps.
py::tuple StepFields() {
  py::list fields;
#define SCANPILOT_FIELD_ENTRY(key, kind, value, present) fields.append(py::make_tuple(key, #kind));
  SCANPILOT_STEP_FIELDS(SCANPILOT_FIELD_ENTRY)
#undef SCANPILOT_FIELD_ENTRY
  return py::tuple(fields);
}

std::string StepJson(const PilotStep& s, long long scan) {
  char buf[kPilotJsonMax];
  const std::size_t n = PilotStepJson(s, scan, buf, sizeof buf);
  if (n >= sizeof buf) throw std::runtime_error("scanpilot: step JSON longer than kPilotJsonMax");
  return std::string(buf, n);
}

// ---- the pilot ------------------------------------------------------------------------

class PyPilot {
 public:
  explicit PyPilot(const PilotConfig& config) {
    PilotError e;
    {
      std::lock_guard<std::mutex> lock(g_state);
      e = pilot_.Start(config);
      if (e == PilotError::kNone) g_pilot_live = true;
    }
    if (e == PilotError::kBusy) throw std::runtime_error(std::string("scanpilot: ") + PilotErrorText(e));
    if (e != PilotError::kNone) Fail(PilotErrorText(e));
  }
  ~PyPilot() { Close(); }
  PyPilot(const PyPilot&) = delete;
  PyPilot& operator=(const PyPilot&) = delete;

  void Close() {
    std::lock_guard<std::mutex> lock(g_state);
    if (!pilot_.Live()) return;
    pilot_.Stop();
    g_pilot_live = false;
    stepped_ = false;
  }
  bool Live() const { return pilot_.Live(); }
  const PilotConfig& Config() const { return pilot_.Config(); }

  // Runs `call(pilot, step)` without the GIL, under the state lock. A
  // close() from another thread between the check and the lock raises the
  // same RuntimeError as a step after close().
  template <typename F>
  Step Run(F call) {
    Open();
    Step r;
    bool closed = false;
    {
      py::gil_scoped_release nogil;
      std::lock_guard<std::mutex> lock(g_state);
      closed = !pilot_.Live();
      if (!closed) {
        call(pilot_, r.s);
        stepped_ = true;
      }
    }
    if (closed) throw std::runtime_error("scanpilot: the pilot is closed");
    return r;
  }

  py::object Readings() {
    Open();
    std::lock_guard<std::mutex> lock(g_state);
    if (!pilot_.Live()) throw std::runtime_error("scanpilot: the pilot is closed");
    if (!stepped_) return py::none();
    return ReadingsArray(pilot_.Readings());
  }

  py::object ReadPass();

  void SetGoal(py::object goal, py::object goal_cell) {
    Open();
    if (pilot_.Config().mode != PilotMode::kGoal) Fail("set_goal applies to mode='goal'");
    if (goal.is_none() && goal_cell.is_none()) Fail("give goal=(x, y) or goal_cell=(col, row)");
    const PilotGoal g = ParseGoal(goal, goal_cell);
    std::lock_guard<std::mutex> lock(g_state);
    if (!pilot_.SetGoal(g)) Fail(PilotErrorText(PilotError::kBadGoal));
  }

  void RestartTracker(double distance) {
    Open();
    if (pilot_.Config().mode != PilotMode::kFollow) Fail("restart_tracker applies to mode='follow'");
    std::lock_guard<std::mutex> lock(g_state);
    if (!pilot_.RestartTracker(Narrow(distance))) Fail(PilotErrorText(PilotError::kBadFollow));
  }

 private:
  void Open() const {
    if (!pilot_.Live()) throw std::runtime_error("scanpilot: the pilot is closed");
  }

  Pilot pilot_;
  bool stepped_ = false;  // guarded by g_state
};

struct Pass {
  py::object blocked, attraction, path, start, consistent;
};

py::object PyPilot::ReadPass() {
  Open();
  auto pass = std::make_unique<PilotPass>();
  bool ok;
  {
    py::gil_scoped_release nogil;
    std::lock_guard<std::mutex> lock(g_state);
    ok = pilot_.ReadPass(*pass);
  }
  if (!ok) throw std::runtime_error("scanpilot: no step to read back yet");
  py::array_t<std::uint8_t> blocked({kPilotGridCells, kPilotGridCells});
  py::array_t<std::uint8_t> attraction({kPilotGridCells, kPilotGridCells});
  std::memcpy(blocked.mutable_data(), pass->blocked, sizeof pass->blocked);
  std::memcpy(attraction.mutable_data(), pass->attraction, sizeof pass->attraction);
  py::array_t<std::int32_t> path({static_cast<py::ssize_t>(pass->path_cells), py::ssize_t{2}});
  auto p = path.mutable_unchecked<2>();
  for (int i = 0; i < pass->path_cells; ++i) {
    p(i, 0) = pass->path[i].col;
    p(i, 1) = pass->path[i].row;
  }
  Pass r{blocked, attraction, path, py::make_tuple(pass->start.col, pass->start.row),
         py::bool_(pass->consistent)};
  return py::cast(std::move(r));
}

// ---- the planner and tracker one by one ---------------------------------------------------

const char* const kLiveText =
    "scanpilot: a Pilot is live and drives the planner and tracker; close it before calling them yourself";

// Runs `f` under the state lock, refused while a Pilot is live. With the
// GIL released when `nogil`.
template <typename F>
auto Direct(bool nogil, F f) -> decltype(f()) {
  std::unique_ptr<py::gil_scoped_release> release;
  if (nogil) release = std::make_unique<py::gil_scoped_release>();
  std::unique_lock<std::mutex> lock(g_state);
  if (g_pilot_live) {
    lock.unlock();
    release.reset();
    throw std::runtime_error(kLiveText);
  }
  return f();
}

// ---- conversions ----------------------------------------------------------------------------

// Why scanbin refused: the first of its reasons that holds.
std::string LayoutRefusal(std::size_t n, const ScanLayout& l) {
  if (n == 0) return "ranges: empty (no samples)";
  if (!(std::isfinite(l.range_scale) && l.range_scale > 0.0)) return "range_scale: must be finite and > 0";
  if (!std::isfinite(l.zero_deg)) return "zero_deg: must be finite";
  if (std::isnan(l.min_range) || std::isnan(l.max_range)) return "min_range, max_range: must not be NaN";
  if (l.min_range > l.max_range) return "min_range: must not exceed max_range";
  return "scanbin refused the arguments";
}

template <typename F>
py::array_t<float> Bin(F call, const std::string& refusal_if_false) {
  py::array_t<float> out(kPilotReadings);
  float* o = out.mutable_data();
  bool ok;
  {
    py::gil_scoped_release nogil;
    ok = call(o);
  }
  if (!ok) Fail(refusal_if_false);
  return out;
}

// clang-format off
// One part of the module each: the step, the pass, the pilot, its helpers,
// the planner call by call, the tracker, the conversions.
void BindStep(py::module_& m) {
  py::class_<Step>(m, "Step", R"doc(What one pilot step did and the drive command it gives.

Metres in the robot frame (X ahead, Y left); floats hold the exact float32
or double values of the C++ PilotStep. Points are (x, y) tuples, cells
(col, row) tuples; None where the step has none (tracked and tracked_cell
outside follow mode, target and target_cell without a target).)doc")
      .def_property_readonly("reached", [](const Step& s) { return s.s.reached; }, "The path ends on the target cell.")
      .def_property_readonly("path_cells", [](const Step& s) { return s.s.path_cells; }, "Path length in cells; 0: no path.")
      .def_property_readonly("steering", [](const Step& s) { return PointTuple(s.s.steering, true); },
                             "(x, y): first path cell at least 3 cells out; (0, 0) without a path.")
      .def_property_readonly("path_end", [](const Step& s) { return PointTuple(s.s.path_end, true); },
                             "(x, y): last path cell; (0, 0) without a path.")
      .def_property_readonly("bearing", [](const Step& s) { return static_cast<double>(s.s.bearing); },
                             "Radians of the steering point (float32 value); NaN for none.")
      .def_property_readonly("bearing_rad", [](const Step& s) { return static_cast<double>(s.s.bearing); },
                             "Same as bearing (the JSON key).")
      .def_property_readonly("bearing_deg", [](const Step& s) { return s.s.bearing_deg; },
                             "The bearing in degrees, formed in double; NaN for none.")
      .def_property_readonly("has_tracked", [](const Step& s) { return s.s.has_tracked; }, "Follow mode.")
      .def_property_readonly("tracked", [](const Step& s) { return PointTuple(s.s.tracked, s.s.has_tracked); },
                             "(x, y) the tracker answered, or None outside follow mode.")
      .def_property_readonly("candidate_passed", [](const Step& s) { return s.s.candidate_passed; },
                             "A candidate was given and came back unchanged.")
      .def_property_readonly("tracked_cell", [](const Step& s) { return CellTuple(s.s.tracked_cell, s.s.has_tracked); },
                             "(col, row) of the tracked point pulled in to 2.4 m, or None outside follow mode.")
      .def_property_readonly("has_target", [](const Step& s) { return s.s.has_target; }, "A target cell was set.")
      .def_property_readonly("target", [](const Step& s) { return CellTuple(s.s.target, s.s.has_target); },
                             "(col, row) of the target cell, or None.")
      .def_property_readonly("target_cell", [](const Step& s) { return CellTuple(s.s.target, s.s.has_target); },
                             "Same as target (the JSON key).")
      .def_property_readonly("target_blocked", [](const Step& s) { return s.s.target_blocked; },
                             "The target cell lies inside an inflated return.")
      .def_property_readonly("command", [](const Step& s) { return py::make_tuple(s.s.command.speed, s.s.command.turn_rate); },
                             "(speed m/s, turn_rate rad/s).")
      .def_property_readonly("speed", [](const Step& s) { return s.s.command.speed; }, "m/s, >= 0.")
      .def_property_readonly("turn_rate", [](const Step& s) { return s.s.command.turn_rate; }, "rad/s, positive turns left.")
      .def_property_readonly("returns_inside_robot", [](const Step& s) { return s.s.returns_inside_robot; },
                             "Readings nearer than robot_radius.")
      .def_property_readonly("lost", [](const Step& s) { return s.s.lost; }, "Follow mode: no return near the tracked point.")
      .def_property_readonly("no_free_target", [](const Step& s) { return s.s.no_free_target; },
                             "Follow mode: every cell toward the tracked point is blocked.")
      .def_property_readonly("no_path", [](const Step& s) { return s.s.no_path; }, "The pass could not take a step.")
      .def_property_readonly("bad_input", [](const Step& s) { return s.s.bad_input; }, "The input could not be used.")
      .def_property_readonly("guard_stopped", [](const Step& s) { return s.s.guard_stopped; },
                             "The guard held the robot back (speed 0, turning allowed).")
      .def_property_readonly("seen", [](const Step& s) { return s.s.seen; },
                             "Degrees of 360 with a usable reading (a return, no return, or -inf).")
      .def_property_readonly("seen_front", [](const Step& s) { return s.s.seen_front; },
                             "The same of the 181 degrees ahead (90..270).")
      .def_property_readonly("near", [](const Step& s) { return s.s.near_readings; },
                             "Degrees -inf: something nearer than the scanner measures.")
      .def_property_readonly("low_coverage", [](const Step& s) { return s.s.low_coverage; },
                             "Too little seen ahead (bad_input too).")
      .def_property_readonly("unseen_held", [](const Step& s) { return s.s.unseen_held; },
                             "The guard held the robot back from unseen or -inf space.")
      .def_property_readonly("reason", [](const Step& s) { return std::string(PilotReasonName(s.s.reason)); },
                             "Why the speed is zero ('bad_input', 'low_coverage', 'lost', 'no_path', 'guard',\n"
                             "'unseen', 'near', 'turning', 'arrived', 'recovery', 'not_live'), or 'driving';\n"
                             "'search' when following a lost object toward where it was last seen.")
      .def_property_readonly("route_found", [](const Step& s) { return s.s.route_found; },
                             "The controller found its own route toward the target.")
      .def_property_readonly("route_cells", [](const Step& s) { return s.s.route_cells; },
                             "Cells of that route, start excluded; 0 without one.")
      .def_property_readonly("lookahead", [](const Step& s) { return PointTuple(s.s.lookahead, s.s.route_found); },
                             "(x, y): the route point the controller steers at; None without a route.")
      .def_property_readonly("scan_clearance", [](const Step& s) { return s.s.clearance; },
                             "Robot edge to the nearest return (m); inf without one.")
      .def_property_readonly("recovering", [](const Step& s) { return s.s.recovering; },
                             "Turning on the spot toward open space for want of a route.")
      .def_property_readonly("stopped", [](const Step& s) { return s.s.stopped; }, "The command is a full stop.")
      .def("to_dict", [](const Step& s) { return StepDict(s.s); },
           R"doc(The object PilotStepJson writes for this step, without "schema" and "scan":
same keys in the same order, points as {"x", "y"} dicts, cells as [col, row]
lists, None for a non-finite number or an absent point.)doc")
      .def("to_json", [](const Step& s, long long scan) { return StepJson(s.s, scan); }, py::arg("scan") = 0,
           "The step as PilotStepJson writes it (one line of JSON, no line end), numbered `scan`.")
      .def("__repr__", [](const Step& s) {
        char buf[160];
        std::snprintf(buf, sizeof buf, "Step(reached=%s, path_cells=%d, speed=%.3f, turn_rate=%.3f, stopped=%s)",
                      s.s.reached ? "True" : "False", s.s.path_cells, s.s.command.speed, s.s.command.turn_rate,
                      s.s.stopped ? "True" : "False");
        return std::string(buf);
      });
}

void BindPilot(py::module_& m) {
  py::class_<PyPilot>(m, "Pilot", R"doc(Pilot(**config): from one range scan to one drive command.

Keywords (defaults are the C++ PilotConfig's; see default_config()):
  mode='goal'|'follow'; goal=(x, y) metres or goal_cell=(col, row) (goal
  mode); follow_distance (follow mode); the scanner: zero_deg, clockwise,
  range_scale or units='m'|'mm', min_range, max_range; mount_yaw_deg,
  upside_down, robot_radius, margin, max_speed, max_turn_rate, period; the
  gains: turn_gain, drive_bearing, min_steer, approach_gain, standoff,
  min_face_distance, guard_margin.
An unknown keyword or a bad value raises ValueError naming it. One Pilot is
live per process: a second raises RuntimeError. close() (or a with block)
releases it; so does garbage collection.)doc")
      .def(py::init([](py::kwargs kw) { return std::make_unique<PyPilot>(ParseConfig(kw, false)); }))
      .def("close", &PyPilot::Close, "Release the planner and tracker for another Pilot. Safe to repeat.")
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](PyPilot& p, py::args) { p.Close(); })
      .def_property_readonly("live", &PyPilot::Live, "True until close().")
      .def_property_readonly("config", [](const PyPilot& p) { return ConfigDict(p.Config()); },
                             "The configuration as keywords: Pilot(**pilot.config) makes the same pilot.")
      .def("step", [](PyPilot& p, ArrayArg scan, PointArg candidate) {
             float r[kPilotReadings];
             Readings360(scan.h, "scan", r);
             const std::optional<PilotPoint> c = Candidate(candidate.h);
             return p.Run([&](Pilot& pilot, PilotStep& s) { pilot.Step(r, c ? &*c : nullptr, s); });
           }, py::arg("scan"), py::arg("candidate") = py::none(),
           "One step from 360 readings (index = degree, 180 ahead, 270 left, metres): +inf no return,\n"
           "NaN, zero or negative unseen, -inf too near to measure; a masked reading is unseen.\n"
           "candidate: a detector's (x, y) of the followed object, or None.")
      .def("step_samples", [](PyPilot& p, ArrayArg angles, ArrayArg ranges, PointArg candidate) {
             const std::vector<float> a = Samples(angles.h, "angles_deg"), r = Samples(ranges.h, "ranges");
             if (a.size() != r.size())
               Fail("angles_deg and ranges differ in length: " + std::to_string(a.size()) + " and " + std::to_string(r.size()));
             const std::optional<PilotPoint> c = Candidate(candidate.h);
             return p.Run([&](Pilot& pilot, PilotStep& s) {
               pilot.StepSamples(a.data(), r.data(), r.size(), c ? &*c : nullptr, s);
             });
           }, py::arg("angles_deg"), py::arg("ranges"), py::arg("candidate") = py::none(),
           "One step from explicit samples (sensor degrees, raw ranges), binned with the layout and mount.")
      .def("step_even_turn", [](PyPilot& p, ArrayArg ranges, PointArg candidate) {
             const std::vector<float> r = Samples(ranges.h, "ranges");
             const std::optional<PilotPoint> c = Candidate(candidate.h);
             return p.Run([&](Pilot& pilot, PilotStep& s) { pilot.StepEvenTurn(r.data(), r.size(), c ? &*c : nullptr, s); });
           }, py::arg("ranges"), py::arg("candidate") = py::none(),
           "One step from n evenly spaced raw ranges, the first at the sensor's 0 deg.")
      .def("step_laser_scan", [](PyPilot& p, double angle_min, double angle_increment, ArrayArg ranges,
                                 double range_min, double range_max, PointArg candidate) {
             const std::vector<float> r = Samples(ranges.h, "ranges");
             const std::optional<PilotPoint> c = Candidate(candidate.h);
             const float a0 = Narrow(angle_min), da = Narrow(angle_increment), lo = Narrow(range_min),
                         hi = Narrow(range_max);
             return p.Run([&](Pilot& pilot, PilotStep& s) {
               pilot.StepLaserScan(a0, da, r.data(), r.size(), lo, hi, c ? &*c : nullptr, s);
             });
           }, py::arg("angle_min"), py::arg("angle_increment"), py::arg("ranges"), py::arg("range_min"),
           py::arg("range_max"), py::arg("candidate") = py::none(),
           "One step from a LaserScan's fields (radians, metres).")
      .def("read_pass", &PyPilot::ReadPass,
           "Read back the last step's pass (blocked cells, attraction, path). Call between steps.")
      .def_property_readonly("readings", &PyPilot::Readings,
                             "float32 copy of the 360 readings the last step gave the planner; None before a step.\n"
                             "RuntimeError on a closed pilot.")
      .def("set_goal", &PyPilot::SetGoal, py::kw_only(), py::arg("goal") = py::none(), py::arg("goal_cell") = py::none(),
           "Goal mode: a new goal, (x, y) metres or (col, row), for the next steps.")
      .def("restart_tracker", &PyPilot::RestartTracker, py::arg("distance"),
           "Follow mode: track again from `distance` metres straight ahead.")
      .def("__repr__", [](const PyPilot& p) {
        return std::string("<scanpilot.Pilot mode=") + (p.Config().mode == PilotMode::kFollow ? "follow" : "goal") +
               (p.Live() ? "" : " closed") + ">";
      });
}

void BindPass(py::module_& m) {
  py::class_<Pass>(m, "Pass", "What the planner saw and did on the pilot's last step (Pilot.read_pass).")
      .def_readonly("blocked", &Pass::blocked, "uint8 [row, col] 100 x 100: 1 inside an inflated return.")
      .def_readonly("attraction", &Pass::attraction,
                    "uint8 [row, col] 100 x 100: pull of each free cell, 255 on target cells, 0 when blocked.")
      .def_readonly("path", &Pass::path, "int32 N x 2: the path's cells (col, row) in walking order, start excluded.")
      .def_readonly("start", &Pass::start, "(col, row) where the walk began.")
      .def_readonly("consistent", &Pass::consistent, "The replayed walk matches the step's path.");
}

void BindHelpers(py::module_& m) {
  m.def("default_config", [](const std::string& mode) {
        py::kwargs kw;
        kw["mode"] = mode;
        return ConfigDict(ParseConfig(kw, false));
      }, py::arg("mode") = "goal", "The C++ PilotConfig defaults as Pilot keywords for `mode`.");
  m.def("metres_to_cell", &PilotMetresToCell, py::arg("metres"),
        "trunc(50 + 20 * metres), the planner's rule; -1 below the grid (and NaN), 1000 above.");
}

void BindPlanner(py::module_& m) {
  // The planner, one call each (pathgrid.h). Refused while a Pilot is live.
  m.def("init_helper", [] { Direct(false, [] { InitHelper(); }); }, "InitHelper: start over (border 0.35 m).");
  m.def("set_border", [](double b) { Direct(false, [=] { SetBorder(Narrow(b)); }); }, py::arg("border"),
        "SetBorder: inflation radius in metres, 0..0.5.");
  m.def("set_ranges", [](ArrayArg scan) {
        float r[kPilotReadings];
        Readings360(scan.h, "scan", r);
        Direct(true, [&] { SetRanges(r); });
      }, py::arg("scan"), "SetRanges: rebuild the obstacle field from 360 readings (copied first).");
  m.def("set_obst", [](int x, int y) { Direct(false, [=] { SetObst(x, y); }); }, py::arg("x"), py::arg("y"),
        "SetObst: add one inflated obstacle on cell (x, y) = (col, row).");
  m.def("clear_obst", [] { Direct(false, [] { ClearObst(); }); }, "ClearObst.");
  m.def("set_target", [](int x, int y) { Direct(false, [=] { SetTarget(x, y); }); }, py::arg("x"), py::arg("y"),
        "SetTarget: add a target cell (col, row); targets accumulate until clear_target().");
  m.def("clear_target", [] { Direct(false, [] { ClearTarget(); }); }, "ClearTarget.");
  m.def("set_back", [](int x, int y) { Direct(false, [=] { SetBack(x, y); }); }, py::arg("x"), py::arg("y"),
        "SetBack: stamp the start field.");
  m.def("chk_target", [](int x, int y) { return Direct(false, [=] { return ChkTarget(x, y); }); }, py::arg("x"),
        py::arg("y"), "ChkTarget: False only for an on-grid blocked cell.");
  m.def("out_line", [] { return Direct(true, [] { return OutLine(); }); },
        "OutLine: one planning pass (without the GIL); True when the path ends on a target cell.");
  m.def("path_grow", [] { return Direct(false, [] { return PathGrow(); }); }, "PathGrow: one greedy step of the walker.");
  m.def("start_pos", [] { Direct(false, [] { StartPos(); }); }, "StartPos: put the walker on the start cell.");
  m.def("cal_point_cost", [](int x, int y) { return Direct(false, [=] { return calPointCost(x, y); }); },
        py::arg("x"), py::arg("y"), "calPointCost: 999 off-grid, blocked or visited, else minus the attraction.");
  m.def("show_map", [] { Direct(false, [] { ShowMap(); }); }, "ShowMap: the pass's end hook (does nothing).");
  m.def("get_helper_num", [] { return Direct(false, [] { return GetHelperNum(); }); }, "GetHelperNum: path length in cells.");
  m.def("get_fix_x", [] { return Direct(false, [] { return static_cast<double>(GetFixX()); }); }, "GetFixX: steering point X.");
  m.def("get_fix_y", [] { return Direct(false, [] { return static_cast<double>(GetFixY()); }); }, "GetFixY: steering point Y.");
  m.def("get_face_x", [] { return Direct(false, [] { return static_cast<double>(GetFaceX()); }); }, "GetFaceX: path end X.");
  m.def("get_face_y", [] { return Direct(false, [] { return static_cast<double>(GetFaceY()); }); }, "GetFaceY: path end Y.");
  m.def("cal_angle", [](double a, double b) { return static_cast<double>(CalAngle(Narrow(a), Narrow(b))); },
        py::arg("a"), py::arg("b"), "CalAngle: bearing in radians of (X, Y) = (a, b); NaN for (0, 0). Pure: always allowed.");
  m.def("print_path", [] {
        py::object out = py::module_::import("sys").attr("stdout");
        if (!out.is_none()) out.attr("flush")();
        Direct(false, [] {
          PrintPath();
          std::fflush(stdout);
        });
      }, "PrintPath: list the last path on the C library's stdout (file descriptor 1, not sys.stdout), then flush it.");
}

void BindTracker(py::module_& m) {
  // The tracker (scanfollow.h).
  m.def("thredhold", [](double x) { Direct(false, [=] { thredhold(Narrow(x)); }); }, py::arg("x"),
        "thredhold: restart tracking at (x, 0). Returns None (the C++ call always returns 0).");
  m.def("filter", [](double x, double y, ArrayArg scan) {
        float r[kPilotReadings];
        Readings360(scan.h, "scan", r);
        float ox = 0.0f, oy = 0.0f;
        const float cx = Narrow(x), cy = Narrow(y);
        Direct(false, [&] { filter(cx, cy, r, r, ox, oy); });
        return py::make_tuple(static_cast<double>(ox), static_cast<double>(oy));
      }, py::arg("x"), py::arg("y"), py::arg("scan"),
      "filter: one tracking step with candidate (x, y) (NaN: none) and 360 readings; returns (out_x, out_y).");
}

void BindConversions(py::module_& m) {
  // The conversions (scanbin.h): pure, without the GIL, always allowed.
  m.def("bin_even_scan", [](ArrayArg ranges, py::kwargs kw) {
        const std::vector<float> r = Samples(ranges.h, "ranges");
        const ScanLayout l = ParseConfig(kw, true).layout;
        return Bin([&](float* o) { return BinEvenScan(r.data(), r.size(), l, o); }, LayoutRefusal(r.size(), l));
      }, py::arg("ranges"), "BinEvenScan: n evenly spaced raw ranges -> 360 readings (float32).\n"
      "Layout keywords: zero_deg, clockwise, range_scale or units='m'|'mm', min_range, max_range.");
  m.def("bin_samples", [](ArrayArg angles, ArrayArg ranges, py::kwargs kw) {
        const std::vector<float> a = Samples(angles.h, "angles_deg"), r = Samples(ranges.h, "ranges");
        if (a.size() != r.size())
          Fail("angles_deg and ranges differ in length: " + std::to_string(a.size()) + " and " + std::to_string(r.size()));
        const ScanLayout l = ParseConfig(kw, true).layout;
        return Bin([&](float* o) { return BinSamples(a.data(), r.data(), r.size(), l, o); }, LayoutRefusal(r.size(), l));
      }, py::arg("angles_deg"), py::arg("ranges"), "BinSamples: explicit samples (sensor degrees, raw ranges) -> 360 readings.\n"
      "Layout keywords as bin_even_scan.");
  m.def("bin_laser_scan", [](double angle_min, double angle_increment, ArrayArg ranges, double range_min,
                             double range_max) {
        const std::vector<float> r = Samples(ranges.h, "ranges");
        const float a0 = Narrow(angle_min), da = Narrow(angle_increment), lo = Narrow(range_min), hi = Narrow(range_max);
        std::string why = "scanbin refused the arguments";
        if (r.empty()) why = "ranges: empty (no samples)";
        else if (!std::isfinite(a0) || !std::isfinite(da)) why = "angle_min, angle_increment: must be finite";
        else if (std::isnan(lo) || std::isnan(hi)) why = "range_min, range_max: must not be NaN";
        else if (lo > hi) why = "range_min: must not exceed range_max";
        return Bin([&](float* o) { return BinLaserScan(a0, da, r.data(), r.size(), lo, hi, o); }, why);
      }, py::arg("angle_min"), py::arg("angle_increment"), py::arg("ranges"), py::arg("range_min"), py::arg("range_max"),
      "BinLaserScan: a LaserScan's fields (radians, metres) -> 360 readings.");
}

}  // namespace

#ifdef SCANPILOT_HAVE_SCANSIM
void BindSim(py::module_& m);  // sim.cpp
#endif

PYBIND11_MODULE(_scanpilot, m) {
  m.doc() = "Bindings of the scanpilot, pathgrid, scanfollow and scanbin libraries.";
  m.attr("__version__") = SCANPILOT_VERSION;
  m.attr("GRID_CELLS") = kPilotGridCells;
  m.attr("READINGS") = kPilotReadings;
  m.attr("MAX_BORDER") = kPilotMaxBorder;
  m.attr("STEP_FIELDS") = StepFields();
  BindStep(m);
  BindPass(m);
  BindPilot(m);
  BindHelpers(m);
  BindPlanner(m);
  BindTracker(m);
  BindConversions(m);
#ifdef SCANPILOT_HAVE_SCANSIM
  BindSim(m);
#endif
}
// clang-format on
