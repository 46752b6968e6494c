#include "cli/options.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "grid_frame.h"

namespace {

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
