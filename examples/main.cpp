// robot-demo: a host program for both libraries. With no arguments it runs the
// embedded following scenario; with --scans it replays recorded scans.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include <sys/stat.h>

#include "grid_view.h"
#include "pathgrid.h"
#include "scan_file.h"
#include "sim.h"
#include "svg.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

const char kUsage[] =
    "usage: robot-demo [--out DIR] [--snapshot N[,N...]] [--seed N]\n"
    "       robot-demo --scans FILE [--target X,Y | --target-cell COL,ROW]\n"
    "                  [--no-return-below M] [--no-return-above M] [--out DIR] [--snapshot N[,N...]]\n"
    "\n"
    "Without --scans: simulate a robot following a person through a room for 30 s\n"
    "(300 scans), print a status line per second and a summary.\n"
    "\n"
    "  --out DIR             where pictures go (default robot-demo-out); run.svg and\n"
    "                        tick-NNN.svg, the planner's grid at tick (or scan) NNN\n"
    "  --snapshot N[,N...]   ticks / scan numbers (from 0) to draw; default a few\n"
    "  --seed N              noise and detector seed of the scenario (default 7)\n"
    "  --scans FILE          replay recorded scans: one scan per line, 360 readings\n"
    "                        (index = degree, metres) separated by spaces or commas;\n"
    "                        inf, -inf, nan accepted; '#' starts a comment line\n"
    "  --target X,Y          target in metres in the robot frame (X ahead, Y left);\n"
    "                        default 1,0 (the cell 1 m straight ahead)\n"
    "  --target-cell COL,ROW target grid cell, 0..99 each\n"
    "  --no-return-below M   readings below M metres mean 'no echo': use +inf\n"
    "  --no-return-above M   readings above M metres mean 'no echo': use +inf\n"
    "  --help                this text\n";

struct Options {
  std::string out = "robot-demo-out";
  bool snapshots_given = false;
  std::vector<int> snapshots;
  std::string scans;
  bool target_given = false;
  Cell target{50, 70};
  float below = -std::numeric_limits<float>::infinity();
  float above = std::numeric_limits<float>::infinity();
  bool replay_only_option = false;
  unsigned seed = 7;
};

int Fail(const std::string& msg) {
  std::fprintf(stderr, "robot-demo: %s\n", msg.c_str());
  return 2;
}

int UsageError(const std::string& msg) {
  std::fprintf(stderr, "robot-demo: %s\n%s", msg.c_str(), kUsage);
  return 2;
}

bool ParseDouble(const std::string& s, double& v) {
  const char* b = s.data();
  const char* e = b + s.size();
  if (b != e && *b == '+') ++b;
  const auto r = std::from_chars(b, e, v);
  return r.ec == std::errc() && r.ptr == e && std::isfinite(v);
}

bool ParseInt(const std::string& s, int& v) {
  const char* e = s.data() + s.size();
  const auto r = std::from_chars(s.data(), e, v);
  return r.ec == std::errc() && r.ptr == e;
}

bool SplitPair(const std::string& s, std::string& a, std::string& b) {
  const auto comma = s.find(',');
  if (comma == std::string::npos) return false;
  a = s.substr(0, comma);
  b = s.substr(comma + 1);
  return true;
}

// Returns -1 when the options are fine, else the exit status.
int ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    const bool takes_value = arg == "--out" || arg == "--snapshot" || arg == "--scans" ||
                             arg == "--target" || arg == "--target-cell" ||
                             arg == "--no-return-below" || arg == "--no-return-above" || arg == "--seed";
    if (!takes_value) return UsageError("unknown option '" + arg + "'");
    if (i + 1 >= argc) return UsageError(arg + " needs a value");
    const std::string val = argv[++i];
    std::string a, b;
    if (arg == "--out") {
      if (val.empty()) return UsageError("--out needs a directory");
      o.out = val;
    } else if (arg == "--snapshot") {
      o.snapshots_given = true;
      std::stringstream ss(val);
      std::string item;
      while (std::getline(ss, item, ',')) {
        int n = 0;
        if (!ParseInt(item, n) || n < 0) return UsageError("--snapshot: '" + item + "' is not a tick number");
        o.snapshots.push_back(n);
      }
    } else if (arg == "--seed") {
      int n = 0;
      if (!ParseInt(val, n) || n < 0) return UsageError("--seed wants a number, got '" + val + "'");
      o.seed = static_cast<unsigned>(n);
    } else if (arg == "--scans") {
      o.scans = val;
    } else if (arg == "--target") {
      double x = 0, y = 0;
      if (!SplitPair(val, a, b) || !ParseDouble(a, x) || !ParseDouble(b, y))
        return UsageError("--target wants X,Y in metres, got '" + val + "'");
      const double col = 50.0 + 20.0 * y, row = 50.0 + 20.0 * x;
      if (!(col > -1.0 && col < 100.0 && row > -1.0 && row < 100.0))
        return UsageError("--target " + val + " lies off the 5 m x 5 m grid");
      o.target = {static_cast<int>(col), static_cast<int>(row)};
      o.target_given = o.replay_only_option = true;
    } else if (arg == "--target-cell") {
      int x = 0, y = 0;
      if (!SplitPair(val, a, b) || !ParseInt(a, x) || !ParseInt(b, y) || x < 0 || x > 99 || y < 0 || y > 99)
        return UsageError("--target-cell wants COL,ROW in 0..99, got '" + val + "'");
      o.target = {x, y};
      o.target_given = o.replay_only_option = true;
    } else {
      double m = 0;
      if (!ParseDouble(val, m)) return UsageError(arg + " wants metres, got '" + val + "'");
      (arg == "--no-return-below" ? o.below : o.above) = static_cast<float>(m);
      o.replay_only_option = true;
    }
  }
  if (o.replay_only_option && o.scans.empty())
    return UsageError("--target, --target-cell and --no-return-* go with --scans");
  return -1;
}

std::vector<int> DefaultSnapshots(int count) {
  std::vector<int> out;
  if (count <= 0) return out;
  const int picks[] = {0, count / 4, count / 2, (3 * count) / 4, count - 1};
  for (int p : picks)
    if (std::find(out.begin(), out.end(), p) == out.end()) out.push_back(p);
  return out;
}

bool Wanted(const std::vector<int>& snaps, int n) {
  return std::find(snaps.begin(), snaps.end(), n) != snaps.end();
}

std::string TickName(int n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "tick-%03d.svg", n);
  return buf;
}

int WritePictures(const std::string& dir, const std::vector<std::pair<std::string, std::string>>& files) {
  std::error_code ec;
  if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST)
    return Fail(dir + ": cannot create directory: " + std::strerror(errno)), 1;
  for (const auto& f : files) {
    std::string why;
    if (!WriteFileAtomic(dir + "/" + f.first, f.second, why)) return Fail(dir + "/" + f.first + ": " + why), 1;
  }
  std::printf("pictures: %s/ (", dir.c_str());
  for (std::size_t i = 0; i < files.size(); ++i) std::printf("%s%s", i ? ", " : "", files[i].first.c_str());
  std::printf(")\n");
  return 0;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const auto k = static_cast<std::size_t>(std::ceil(p * static_cast<double>(v.size()))) - 1;
  return v[std::min(k, v.size() - 1)];
}

std::string Deg(float rad) {
  if (std::isnan(rad)) return "none";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", static_cast<double>(rad) * 180.0 / kPi);
  return buf;
}

// ---- the embedded scenario --------------------------------------------------

int RunDemo(const Options& o) {
  Scenario world(o.seed);
  for (int n : o.snapshots)
    if (n >= Scenario::kTicks)
      return UsageError("--snapshot " + std::to_string(n) + ": the run has ticks 0.." +
                        std::to_string(Scenario::kTicks - 1));
  const std::vector<int> snaps = o.snapshots_given ? o.snapshots : DefaultSnapshots(Scenario::kTicks);
  Follower follower(world.InitialTrackDistance());
  RunTrace trace{{}, {}, snaps, Scenario::kDt};
  std::vector<std::pair<std::string, std::string>> files;
  std::vector<double> cycle, dist;
  int reached = 0, false_alarms = 0, false_passed = 0, true_seen = 0, true_passed = 0;
  int wall_contacts = 0;
  double closest_wall = std::numeric_limits<double>::infinity(), closest_person = closest_wall;
  double closest_wall_t = 0.0;

  std::printf("robot-demo: following a person for %.0f s at %.0f Hz (robot radius %.2f m)\n",
              Scenario::kTicks * Scenario::kDt, 1.0 / Scenario::kDt, Scenario::kRobotRadius);
  trace.robot.push_back(world.Robot());
  trace.person.push_back(world.Person());
  while (!world.Done()) {
    const int tick = world.Tick();
    Scan scan = world.ScanFromRobot();
    const Detection det = world.Detect();
    const TickResult r = follower.Step(scan, det);
    if (Wanted(snaps, tick)) {
      GridView v = CaptureGridView(scan, r.target_col >= 0, {r.target_col, r.target_row}, r.reached);
      v.raw_target = {r.raw_col, r.raw_row};
      v.has_tracked = true;
      v.tracked_x = r.out_x;
      v.tracked_y = r.out_y;
      char title[96];
      std::snprintf(title, sizeof title, "Planner grid at tick %d (t = %.1f s)", tick, tick * Scenario::kDt);
      v.title = title;
      if (!v.consistent) std::fprintf(stderr, "robot-demo: tick %d: replayed path differs from the pass\n", tick);
      files.emplace_back(TickName(tick), GridSvg(v));
    }
    cycle.push_back(r.cycle_us);
    reached += r.reached ? 1 : 0;
    if (det.present && det.false_alarm) {
      ++false_alarms;
      false_passed += r.candidate_passed ? 1 : 0;
    } else if (det.present) {
      ++true_seen;
      true_passed += r.candidate_passed ? 1 : 0;
    }
    world.MoveRobot(r.command);
    const Pose p = world.Robot();
    world.Advance();
    const Vec2 q = world.Person();
    trace.robot.push_back(p);
    trace.person.push_back(q);
    const double d = std::hypot(p.x - q.x, p.y - q.y);
    dist.push_back(d);
    closest_person = std::min(closest_person, d - Scenario::kRobotRadius - Scenario::kPersonRadius);
    const double clear = Clearance(world.World(), {p.x, p.y}) - Scenario::kRobotRadius;
    if (clear <= 0.0) ++wall_contacts;
    if (clear < closest_wall) {
      closest_wall = clear;
      closest_wall_t = (tick + 1) * Scenario::kDt;
    }
    if ((tick + 1) % 10 == 0)
      std::printf("t=%5.1fs robot=(%.2f, %.2f) heading %4.0f deg  person=(%.2f, %.2f)  distance %.2f m  %s\n",
                  (tick + 1) * Scenario::kDt, p.x, p.y, p.heading * 180.0 / kPi, q.x, q.y, d,
                  r.reached ? "target reached" : "target not reached");
  }
  double mean = 0.0;
  for (double d : dist) mean += d;
  mean /= static_cast<double>(dist.size());
  const double worst = *std::max_element(dist.begin(), dist.end());
  std::printf("\nsummary\n");
  std::printf("  ticks: %d\n", Scenario::kTicks);
  std::printf("  target reached: %d of %d passes\n", reached, Scenario::kTicks);
  std::printf("  distance to the person (centres): mean %.2f m, worst %.2f m; closest gap %.2f m\n", mean,
              worst, closest_person);
  std::printf("  closest approach to a wall or obstacle: %.3f m (robot edge, at t=%.1fs); wall contacts: %d\n",
              closest_wall, closest_wall_t, wall_contacts);
  std::printf("  false detections rejected: %d of %d; true detections passed: %d of %d\n",
              false_alarms - false_passed, false_alarms, true_passed, true_seen);
  std::printf("  planner + tracker cycle: median %.1f us, p99 %.1f us\n", Percentile(cycle, 0.5),
              Percentile(cycle, 0.99));
  files.emplace_back("run.svg", RunSvg(world.World(), world.Route(), trace));
  std::sort(files.begin(), files.end());
  return WritePictures(o.out, files);
}

// ---- replay -----------------------------------------------------------------

int RunReplay(const Options& o) {
  std::FILE* in = std::fopen(o.scans.c_str(), "rb");
  if (in == nullptr) return Fail(o.scans + ": cannot open: " + std::strerror(errno));
  std::string text;
  char chunk[65536];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) text.append(chunk, got);
  const bool read_error = std::ferror(in) != 0;
  const int read_errno = errno;
  std::fclose(in);
  if (read_error) return Fail(o.scans + ": cannot read: " + std::strerror(read_errno));
  std::vector<Scan> scans;
  ScanParseError err{};
  if (!ParseScanText(text, scans, err)) {
    if (err.line > 0) return Fail(o.scans + ":" + std::to_string(err.line) + ": " + err.message);
    return Fail(o.scans + ": " + err.message);
  }
  const int count = static_cast<int>(scans.size());
  for (int n : o.snapshots)
    if (n >= count)
      return UsageError("--snapshot " + std::to_string(n) + ": the file has scans 0.." + std::to_string(count - 1));
  const std::vector<int> snaps = o.snapshots_given ? o.snapshots : DefaultSnapshots(count);

  InitHelper();
  std::vector<std::pair<std::string, std::string>> files;
  const bool target_free_note = true;
  std::printf("replaying %d scans from %s, target cell (%d, %d) = %.2f m ahead, %.2f m left\n", count,
              o.scans.c_str(), o.target.col, o.target.row, (o.target.row - 50) * 0.05,
              (o.target.col - 50) * 0.05);
  int reached_count = 0;
  for (int n = 0; n < count; ++n) {
    Scan scan = scans[static_cast<std::size_t>(n)];
    for (float& r : scan)
      if (r < o.below || r > o.above) r = std::numeric_limits<float>::infinity();
    SetRanges(scan.data());
    const bool free = ChkTarget(o.target.col, o.target.row);
    ClearTarget();
    SetTarget(o.target.col, o.target.row);
    const bool reached = OutLine();
    reached_count += reached ? 1 : 0;
    const float fx = GetFixX(), fy = GetFixY();
    std::printf("scan %d: %s, path %d cells, steering (%.2f, %.2f) m, path end (%.2f, %.2f) m, bearing %s deg%s\n",
                n, reached ? "reached" : "not reached", GetHelperNum(), static_cast<double>(fx),
                static_cast<double>(fy), static_cast<double>(GetFaceX()), static_cast<double>(GetFaceY()),
                Deg(CalAngle(fx, fy)).c_str(), free || !target_free_note ? "" : " (target cell is blocked)");
    if (Wanted(snaps, n)) {
      GridView v = CaptureGridView(scan, true, o.target, reached);
      v.has_tracked = false;
      char title[96];
      std::snprintf(title, sizeof title, "Planner grid for scan %d of %s", n, o.scans.c_str());
      v.title = title;
      if (!v.consistent) std::fprintf(stderr, "robot-demo: scan %d: replayed path differs from the pass\n", n);
      files.emplace_back(TickName(n), GridSvg(v));
    }
  }
  std::printf("reached the target on %d of %d scans\n", reached_count, count);
  return WritePictures(o.out, files);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  const int status = ParseOptions(argc, argv, o);
  if (status >= 0) return status;
  return o.scans.empty() ? RunDemo(o) : RunReplay(o);
}
