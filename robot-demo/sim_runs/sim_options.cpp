// SPDX-License-Identifier: BSD-3-Clause
#include "sim_runs/sim_options.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "base/messages.h"
#include "cli/command_line.h"

namespace {

constexpr const char* kInputs[] = {"--map", "--suite", "--merge"};

bool ParseList(const std::string& s, double* v, int n) {
  std::stringstream ss(s);
  std::string item;
  int i = 0;
  while (std::getline(ss, item, ',')) {
    if (i >= n || !ParseDecimal(item, v[i])) return false;
    ++i;
  }
  return i == n && !s.empty() && s.back() != ',';
}

// A number of a map run: lo..hi, or above lo when `lo_open`.
CLI::Option* Number(CommandLine& cl, const std::string& name, const std::string& type, const std::string& help,
                    unsigned runs, double lo, bool lo_open, double hi, std::optional<double>& into) {
  char wants[64];
  std::snprintf(wants, sizeof wants, "a number in %s%g..%g", lo_open ? "above " : "", lo, hi);
  return cl.Real(name, type, help, runs, lo_open ? std::nextafter(lo, hi) : lo, hi, wants,
                 [&into](double v) { into = v; });
}

CommandLine::Take Named(std::string& into) { return NonEmpty(into, "needs a value"); }

CommandLine::Take Pair(double* into, int n, bool& given, const std::string& wants) {
  return [=, &given](const std::string& v) {
    if (!ParseList(v, into, n)) return Wants(wants, v);
    given = true;
    return std::string();
  };
}

std::string TakeShard(const std::string& v, SimOptions& o) {
  std::string a, b;
  int k = 0, n = 0;
  if (!SplitAt(v, '/', a, b) || !ParseInteger(a, k) || !ParseInteger(b, n) || n < 1 || k < 1 || k > n)
    return Wants("K/N with 1 <= K <= N", v);
  o.shard_k = k;
  o.shard_n = n;
  o.shard_given = true;
  return "";
}

// What every run takes; here with a map run's limits (the help is the replay's).
void AddShared(CommandLine& cl, SimOptions& o) {
  cl.Group("Demo, and every run");  // a hidden option would have no name to complain with
  cl.Value("--out", "DIR", "", kSimRuns, Named(o.out));
  cl.Value("--save-scans", "OUT", "", kMapRun, Named(o.save_scans));
  cl.Whole("--seed", "N", "", kSimRuns, 0, ~0ull, "a whole number >= 0",
           [&o](unsigned long long n) { o.over.seed = n; });
  cl.Flag("--json", "", kSimRuns, [&o] { o.json = true; });
  cl.Flag("--no-html", "", kSimRuns, [&o] { o.html = false; });
  cl.Flag("--quiet", "", kSimRuns, [&o] { o.quiet = true; });
  Number(cl, "--robot-radius", "M", "", kSimRuns, 0.0, true, 0.5, o.over.robot_radius);
  Number(cl, "--margin", "M", "", kSimRuns, 0.0, false, 0.5, o.over.margin);
  Number(cl, "--max-speed", "V", "", kSimRuns, 0.0, false, 10.0, o.over.max_speed);
  Number(cl, "--max-turn-rate", "W", "", kSimRuns, 0.0, false, 20.0, o.over.max_turn_rate);
}

void AddMapOptions(CommandLine& cl, SimOptions& o) {
  cl.Group("Map runs (--map; docs/maps.md)");
  cl.Value("--map", "FILE.yaml",
           "a map_server map (PGM or PNG); a simulated robot drives\n"
           "from --start (metres, degrees) to --goal X,Y or behind a\n"
           "person walking --person-route FILE ('x y' a line)",
           kMapRun, Named(o.map));
  cl.Value("--start", "X,Y,YAW_DEG", "where the robot starts", kMapRun,
           Pair(o.start, 3, o.has_start, "X,Y,YAW_DEG (metres, degrees)"));
  CLI::Option* goal =
      cl.Value("--goal", "X,Y", "where it drives to, in metres", kMapRun, Pair(o.goal, 2, o.has_goal, "X,Y in metres"));
  CLI::Option* route =
      cl.Value("--person-route", "FILE", "the person's waypoints, 'x y' a line", kMapRun, Named(o.route_file));
  Number(cl, "--goal-tolerance", "M", "reached within M of the goal (default 0.5)", kSimRuns, 0.0, true, 1e6,
         o.over.goal_tolerance);
  Number(cl, "--time-limit", "S", "a goal run's time out (default 60)", kSimRuns, 0.0, true, 86400.0,
         o.over.time_limit);
  Number(cl, "--person-speed", "V", "the person's speed (default 0.4)", kSimRuns, 0.0, false, 10.0,
         o.over.person_speed);
  Number(cl, "--range-noise", "M", "sigma of the simulated ranges' noise (default 0)", kSimRuns, 0.0, false, 1.0,
         o.over.range_noise);
  Number(cl, "--dropout", "P", "probability of a lost return (default 0)", kSimRuns, 0.0, false, 1.0, o.over.dropout);
  cl.Flag("--open-unknown", "unknown cells and the outside are open floor, not walls", kSimRuns,
          [&o] { o.over.open_unknown = true; });
  cl.Whole("--turn-samples", "N",
           "N raw samples a turn, binned by the pilot (default: 360\nreadings in the robot frame)", kSimRuns, 1, 8192,
           "a number of samples a turn, 1..8192",
           [&o](unsigned long long n) { o.over.turn_samples = static_cast<int>(n); });
  cl.Excludes(goal, route, "--map needs --goal X,Y or --person-route FILE (one of them)");
}

void AddSuiteOptions(CommandLine& cl, SimOptions& o) {
  cl.Group("Suites and merges (--suite, --merge; docs/maps.md)");
  cl.Value("--suite", "FILE", "runs listed in a YAML file; a line each and a table", kSuiteRun, Named(o.suite));
  cl.Value("--shard", "K/N", "only every N-th run of the suite, from the K-th", kSuiteRun,
           [&o](const std::string& v) { return TakeShard(v, o); });
  cl.Flag("--merge", "the table of the shards' --json outputs (the files\nafter it), as one whole run", kMergeRun,
          [] {});
  cl.Value("--min-success", "RATE", "status 3 when the suite's success rate is below RATE", kSuiteRun | kMergeRun,
           [&o](const std::string& v) {
             double r = 0;
             if (!ParseDecimal(v, r) || !CLI::Range(0.0, 1.0)(v).empty()) return Wants("a number in 0..1", v);
             o.min_success = r;
             return std::string();
           });
  for (int i = 0; i < 3; ++i)
    for (int j = i + 1; j < 3; ++j)
      cl.Excludes(cl.Find(kInputs[i]), cl.Find(kInputs[j]), "give one of --map, --suite and --merge");
}

}  // namespace

bool WantsSimRun(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = std::string(argv[i]).substr(0, std::string(argv[i]).find('='));
    for (const char* input : kInputs)
      if (a == input) return true;
  }
  return false;
}

void AddSimOptions(CommandLine& cl, SimOptions& o, bool shared) {
  if (shared) AddShared(cl, o);
  AddMapOptions(cl, o);
  AddSuiteOptions(cl, o);
}

std::optional<int> ParseSimOptions(int argc, char** argv, SimOptions& o, const std::function<std::string()>& help) {
  CommandLine cl;
  std::vector<std::string> bare;
  AddSimOptions(cl, o, true);
  cl.Bare(bare);
  cl.UnknownIn(" for a map run, suite or merge");
  if (const auto status = cl.Parse(argc, argv, help)) return status;
  const bool merging = cl.Given("--merge");
  if (!o.map.empty() + !o.suite.empty() + merging != 1) return UsageError("give one of --map, --suite and --merge");
  if (!bare.empty() && !merging)
    return UsageError("unknown option '" + bare.front() + "' for a map run, suite or merge");
  if (merging && bare.empty()) return UsageError("--merge needs the shards' JSON files");
  o.merge = bare;
  if (const auto status = cl.CheckRun(merging ? kMergeRun : o.map.empty() ? kSuiteRun : kMapRun)) return status;
  if (!o.map.empty() && !o.has_start) return UsageError("--map needs --start X,Y,YAW_DEG");
  if (!o.map.empty() && !o.has_goal && o.route_file.empty())
    return UsageError("--map needs --goal X,Y or --person-route FILE (one of them)");
  return std::nullopt;
}
