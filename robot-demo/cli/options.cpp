#include "cli/options.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "grid_frame.h"

namespace {

const char kUsage[] =
    "usage: robot-demo [--out DIR] [--snapshot N[,N...]] [--seed N] [--verbose] [--no-html]\n"
    "       robot-demo --scans FILE|- [--format degrees|ranges|samples] [layout options]\n"
    "                  [--target X,Y | --target-cell COL,ROW | --follow D]\n"
    "                  [--no-return-below M] [--no-return-above M] [--save-scans OUT]\n"
    "                  [--quiet] [--out DIR] [--snapshot N[,N...]]\n"
    "\n"
    "Without --scans: simulate a robot following a person through a room for 30 s\n"
    "(300 scans), print a status line per second and a summary.\n"
    "\n"
    "  --out DIR             where pictures go (default robot-demo-out, created if\n"
    "                        missing): run.html (the whole run, to scrub through in\n"
    "                        a browser; the first 20000 ticks or scans), run.svg and\n"
    "                        tick-NNN.svg, the planner's grid at tick (or scan) NNN.\n"
    "                        They appear together at the end\n"
    "                        of a good run; the earlier run.svg, run.html and\n"
    "                        tick-NNN.svg in DIR are removed then (nothing else is)\n"
    "  --snapshot N[,N...]   ticks / scan numbers (from 0) to draw; default a few\n"
    "  --seed N              noise and detector seed of the scenario (default 7)\n"
    "  --no-html             skip run.html (capturing each pass for it costs some\n"
    "                        0.3 ms per scan)\n"
    "  --verbose             also print a line per tick (the replay prints one per\n"
    "                        scan anyway)\n"
    "\n"
    "Replay (--scans):\n"
    "  --scans FILE          replay recorded scans from FILE, or '-' for standard input.\n"
    "                        Read as a stream: one scan in memory at a time. Lines end\n"
    "                        with LF, CRLF or CR and hold at most 4 MiB; '#' starts a\n"
    "                        comment line. A regular file (also one redirected to\n"
    "                        standard input) is checked whole first: a bad line\n"
    "                        anywhere stops the run before any scan is planned.\n"
    "                        A pipe is read once: a bad line stops the run where it\n"
    "                        stands (the scans before it are already printed), and\n"
    "                        the default pictures are the first and the last scan.\n"
    "                        Either way a bad line gives one error line, status 2, and\n"
    "                        no pictures and no --save-scans file.\n"
    "  --format degrees      (default) one scan per line, 360 readings in metres,\n"
    "                        index = degree of the robot frame (180 ahead, 270 left),\n"
    "                        separated by spaces or commas; inf, -inf, nan accepted\n"
    "  --format ranges       one scanner turn per line: N >= 1 evenly spaced ranges,\n"
    "                        the k-th at sensor angle 360*k/N degrees\n"
    "  --format samples      one sample per line: 'angle range [quality]', angle in\n"
    "                        sensor degrees, a third column ignored; a turn ends at a\n"
    "                        blank line or where the angle falls back\n"
    "Layout options (only with --format ranges|samples; binned into 360 readings):\n"
    "  --zero-at DEG         robot bearing of the sensor's 0 deg, counter-clockwise\n"
    "                        from ahead: 0 ahead, 90 left, 180 behind, 270 right\n"
    "  --clockwise           the sensor's angles grow clockwise (seen from above)\n"
    "  --units m|mm          unit of the recorded ranges (default m)\n"
    "  --min-range M         returns nearer than M metres are no return (default 0);\n"
    "                        masks hits on the robot's own body\n"
    "  --max-range M         returns beyond M metres are no return (default none)\n"
    "Planning:\n"
    "  --target X,Y          target in metres in the robot frame (X ahead, Y left);\n"
    "                        default 1,0 (the cell 1 m straight ahead)\n"
    "  --target-cell COL,ROW target grid cell, 0..99 each\n"
    "  --follow D            run the tracker too, starting D metres straight ahead,\n"
    "                        and plan toward the tracked point as the demo does\n"
    "  --no-return-below M   (--format degrees) readings below M metres mean 'no\n"
    "                        echo': use +inf\n"
    "  --no-return-above M   (--format degrees) readings above M metres: +inf\n"
    "Output:\n"
    "  --save-scans OUT      write the 360 readings given to the planner, one scan per\n"
    "                        line in the degrees format, exact to the bit; replaces\n"
    "                        OUT only when the whole replay succeeded\n"
    "  --quiet               print only the summary; progress goes to standard error\n"
    "                        when it is a terminal\n"
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
         arg == "--seed" || arg == "--format" || arg == "--zero-at" || arg == "--units" ||
         arg == "--min-range" || arg == "--max-range" || arg == "--save-scans" || arg == "--follow";
}

bool LayoutOption(const std::string& arg) {
  return arg == "--zero-at" || arg == "--clockwise" || arg == "--units" || arg == "--min-range" ||
         arg == "--max-range";
}

bool ReplayOnly(const std::string& arg) {
  return arg == "--target" || arg == "--target-cell" || arg == "--no-return-below" ||
         arg == "--no-return-above" || arg == "--format" || LayoutOption(arg) || arg == "--save-scans" ||
         arg == "--follow" || arg == "--quiet";
}

std::optional<int> ParseScannerValue(const std::string& arg, const std::string& val, Options& o) {
  if (arg == "--format") {
    if (val == "degrees") o.format = ScanFormat::kDegrees;
    else if (val == "ranges") o.format = ScanFormat::kRanges;
    else if (val == "samples") o.format = ScanFormat::kSamples;
    else return UsageError("--format wants degrees, ranges or samples, got '" + val + "'");
  } else if (arg == "--units") {
    if (val == "m") o.layout.range_scale = kScanMetres;
    else if (val == "mm") o.layout.range_scale = kScanMillimetres;
    else return UsageError("--units wants m or mm, got '" + val + "'");
  } else if (arg == "--zero-at") {
    double d = 0;
    if (!ParseDouble(val, d)) return UsageError("--zero-at wants degrees, got '" + val + "'");
    o.layout.zero_deg = d;
  } else {  // --min-range, --max-range
    double m = 0;
    if (!ParseDouble(val, m) || m < 0 || m > 1e30)
      return UsageError(arg + " wants metres >= 0, got '" + val + "'");
    (arg == "--min-range" ? o.layout.min_range : o.layout.max_range) = static_cast<float>(m);
  }
  return std::nullopt;
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
    if (val.empty()) return UsageError("--scans needs a file name, or - for standard input");
    o.scans = val;
  } else if (arg == "--save-scans") {
    if (val.empty()) return UsageError("--save-scans needs a file name");
    o.save_scans = val;
  } else if (arg == "--follow") {
    double d = 0;
    if (!ParseDouble(val, d) || !(d > 0) || d > 1e6)
      return UsageError("--follow wants the starting distance ahead in metres, > 0, got '" + val + "'");
    o.follow = true;
    o.follow_from = static_cast<float>(d);
  } else if (arg == "--format" || arg == "--units" || arg == "--zero-at" || arg == "--min-range" ||
             arg == "--max-range") {
    return ParseScannerValue(arg, val, o);
  } else if (arg == "--target") {
    return ParseTarget(val, o);
  } else if (arg == "--target-cell") {
    return ParseTargetCell(val, o);
  } else {
    double m = 0;
    if (!ParseDouble(val, m)) return UsageError(arg + " wants metres, got '" + val + "'");
    (arg == "--no-return-below" ? o.below : o.above) = static_cast<float>(m);
    (arg == "--no-return-below" ? o.below_given : o.above_given) = true;
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
  bool replay_only = false, layout = false, target = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      // The text outgrows stdio's buffer: a full disk shows here, with its reason.
      if (std::fputs(kUsage, stdout) == EOF)
        return Fail(kExitCannotWrite, std::string("standard output: ") + std::strerror(errno));
      return kExitOk;
    }
    if (arg == "--verbose") {
      o.verbose = true;
    } else if (arg == "--clockwise") {
      o.layout.clockwise = true;
    } else if (arg == "--quiet") {
      o.quiet = true;
    } else if (arg == "--no-html") {
      o.html = false;
    } else {
      if (!TakesValue(arg)) return UsageError("unknown option '" + arg + "'");
      if (i + 1 >= argc) return UsageError(arg + " needs a value");
      if (const auto status = ParseValue(arg, argv[++i], o)) return status;
    }
    replay_only = replay_only || ReplayOnly(arg);
    layout = layout || LayoutOption(arg);
    target = target || arg == "--target" || arg == "--target-cell";
  }
  if (replay_only && o.scans.empty())
    return UsageError("--target, --target-cell, --follow, --format, layout options, --no-return-*, "
                      "--save-scans and --quiet go with --scans");
  const bool scanner = o.format != ScanFormat::kDegrees;
  if (layout && !scanner)
    return UsageError("--zero-at, --clockwise, --units, --min-range and --max-range need --format ranges or samples");
  if (scanner && (o.below_given || o.above_given))
    return UsageError("--no-return-below/above go with the degrees format; use --min-range/--max-range");
  if (o.below_given && o.above_given && !(o.below < o.above))
    return UsageError("--no-return-below must be less than --no-return-above");
  if (!(o.layout.min_range <= o.layout.max_range))
    return UsageError("--min-range must not be greater than --max-range");
  if (o.follow && target) return UsageError("--follow chooses the target itself: drop --target/--target-cell");
  return std::nullopt;
}
