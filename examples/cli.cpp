#include "cli.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "grid_frame.h"

namespace {

const char kUsage[] =
    "usage: robot-demo [--out DIR] [--snapshot N[,N...]] [--seed N] [--verbose]\n"
    "       robot-demo --scans FILE [--target X,Y | --target-cell COL,ROW]\n"
    "                  [--no-return-below M] [--no-return-above M] [--out DIR] [--snapshot N[,N...]]\n"
    "\n"
    "Without --scans: simulate a robot following a person through a room for 30 s\n"
    "(300 scans), print a status line per second and a summary.\n"
    "\n"
    "  --out DIR             where pictures go (default robot-demo-out, created if\n"
    "                        missing); run.svg and tick-NNN.svg, the planner's grid\n"
    "                        at tick (or scan) NNN. They appear together at the end\n"
    "                        of a good run; the earlier run.svg, run.html and\n"
    "                        tick-NNN.svg in DIR are removed then (nothing else is)\n"
    "  --snapshot N[,N...]   ticks / scan numbers (from 0) to draw; default a few\n"
    "  --seed N              noise and detector seed of the scenario (default 7)\n"
    "  --verbose             also print a line per tick (the replay prints one per\n"
    "                        scan anyway)\n"
    "  --scans FILE          replay recorded scans: one scan per line, 360 readings\n"
    "                        (index = degree, metres) separated by spaces or commas;\n"
    "                        inf, -inf, nan accepted; '#' starts a comment line\n"
    "  --target X,Y          target in metres in the robot frame (X ahead, Y left);\n"
    "                        default 1,0 (the cell 1 m straight ahead)\n"
    "  --target-cell COL,ROW target grid cell, 0..99 each\n"
    "  --no-return-below M   readings below M metres mean 'no echo': use +inf\n"
    "  --no-return-above M   readings above M metres mean 'no echo': use +inf\n"
    "  --help                this text\n";

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

bool TakesValue(const std::string& arg) {
  return arg == "--out" || arg == "--snapshot" || arg == "--scans" || arg == "--target" ||
         arg == "--target-cell" || arg == "--no-return-below" || arg == "--no-return-above" ||
         arg == "--seed";
}

bool ReplayOnly(const std::string& arg) {
  return arg == "--target" || arg == "--target-cell" || arg == "--no-return-below" ||
         arg == "--no-return-above";
}

std::optional<int> ParseSnapshots(const std::string& val, Options& o) {
  o.snapshots_given = true;
  std::stringstream ss(val);
  std::string item;
  while (std::getline(ss, item, ',')) {
    int n = 0;
    if (!ParseInt(item, n) || n < 0) return UsageError("--snapshot: '" + item + "' is not a tick number");
    o.snapshots.push_back(n);
  }
  return std::nullopt;
}

std::optional<int> ParseTarget(const std::string& val, Options& o) {
  std::string a, b;
  double x = 0, y = 0;
  if (!SplitPair(val, a, b) || !ParseDouble(a, x) || !ParseDouble(b, y))
    return UsageError("--target wants X,Y in metres, got '" + val + "'");
  const Cell c{MetresToCell(y), MetresToCell(x)};
  if (!OnGrid(c.col, c.row)) return UsageError("--target " + val + " lies off the 5 m x 5 m grid");
  o.target = c;
  return std::nullopt;
}

std::optional<int> ParseTargetCell(const std::string& val, Options& o) {
  std::string a, b;
  int x = 0, y = 0;
  if (!SplitPair(val, a, b) || !ParseInt(a, x) || !ParseInt(b, y) || !OnGrid(x, y))
    return UsageError("--target-cell wants COL,ROW in 0..99, got '" + val + "'");
  o.target = {x, y};
  return std::nullopt;
}

std::optional<int> ParseValue(const std::string& arg, const std::string& val, Options& o) {
  if (arg == "--out") {
    if (val.empty()) return UsageError("--out needs a directory");
    o.out = val;
  } else if (arg == "--snapshot") {
    return ParseSnapshots(val, o);
  } else if (arg == "--seed") {
    int n = 0;
    if (!ParseInt(val, n) || n < 0) return UsageError("--seed wants a number, got '" + val + "'");
    o.seed = static_cast<unsigned>(n);
  } else if (arg == "--scans") {
    o.scans = val;
  } else if (arg == "--target") {
    return ParseTarget(val, o);
  } else if (arg == "--target-cell") {
    return ParseTargetCell(val, o);
  } else {
    double m = 0;
    if (!ParseDouble(val, m)) return UsageError(arg + " wants metres, got '" + val + "'");
    (arg == "--no-return-below" ? o.below : o.above) = static_cast<float>(m);
  }
  return std::nullopt;
}

}  // namespace

int Fail(int status, const std::string& msg) {
  std::fprintf(stderr, "robot-demo: %s\n", msg.c_str());
  return status;
}

int UsageError(const std::string& msg) {
  std::fprintf(stderr, "robot-demo: %s\n%s", msg.c_str(), kUsage);
  return kExitBadInput;
}

std::optional<int> ParseOptions(int argc, char** argv, Options& o) {
  bool replay_only = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    if (arg == "--verbose") {
      o.verbose = true;
      continue;
    }
    if (!TakesValue(arg)) return UsageError("unknown option '" + arg + "'");
    if (i + 1 >= argc) return UsageError(arg + " needs a value");
    if (const auto status = ParseValue(arg, argv[++i], o)) return status;
    replay_only = replay_only || ReplayOnly(arg);
  }
  if (replay_only && o.scans.empty())
    return UsageError("--target, --target-cell and --no-return-* go with --scans");
  return std::nullopt;
}
