// SPDX-License-Identifier: BSD-3-Clause
// The options of a scanner's own layout and of its serial stream, live or
// captured.
#include "cli/command_line.h"
#include "cli/options.h"
#include "input/serial_port.h"

namespace {

// Metres >= 0, held as a float like the readings; a maximum of 0 would leave
// no return.
CommandLine::Take RangeLimit(float& into, bool upper, bool* given) {
  return [=, &into](const std::string& v) {
    double m = 0;
    if (!ParseDecimal(v, m) || m < 0 || m > 1e30) return Wants("metres >= 0", v);
    if (upper && !(m > 0)) return v + " would drop every reading; it wants metres > 0";
    into = static_cast<float>(m);
    if (given != nullptr) *given = true;
    return std::string();
  };
}

CommandLine::Take Degrees(double& into, bool* given) {
  return [&into, given](const std::string& v) {
    double d = 0;
    if (!ParseDecimal(v, d)) return Wants("degrees", v);
    into = d;
    if (given != nullptr) *given = true;
    return std::string();
  };
}

std::string TakeRpmRange(const std::string& v, Options& o) {
  std::string a, b;
  double lo = 0, hi = 0;
  if (!SplitAt(v, ',', a, b) || !ParseDecimal(a, lo) || !ParseDecimal(b, hi) || lo < 0 || hi > 1e6 || !(lo <= hi))
    return Wants("MIN,MAX in revolutions per minute, 0 <= MIN <= MAX", v);
  o.rpm_min = lo;
  o.rpm_max = hi;
  o.rpm_given = true;
  return "";
}

void AddLayoutOptions(CommandLine& cl, Options& o) {
  cl.Group("Replay and live: layout (only with --format ranges|samples|lds or a bag)");
  cl.Value("--zero-at", "DEG",
           "robot bearing of the sensor's 0 deg, counter-clockwise\n"
           "from ahead: 0 ahead, 90 left, 180 behind, 270 right",
           kScanRuns, Degrees(o.layout.zero_deg, &o.zero_at_given));
  cl.Flag("--clockwise", "the sensor's angles grow clockwise (seen from above)", kScanRuns,
          [&o] { o.layout.clockwise = true; });
  cl.Value("--units", "m|mm", "unit of the recorded ranges (default m; lds is in mm)", kScanRuns,
           [&o](const std::string& v) {
             const CLI::IsMember units({"m", "mm"});
             if (!units(v).empty()) return Wants("m or mm", v);
             o.layout.range_scale = v == "m" ? kScanMetres : kScanMillimetres;
             o.units_given = true;
             return std::string();
           });
  cl.Value("--min-range", "M",
           "returns nearer than M metres are no return (default 0);\n"
           "masks hits on the robot's own body",
           kScanRuns, RangeLimit(o.layout.min_range, false, &o.min_range_given));
  cl.Value("--max-range", "M", "returns beyond M metres are no return (default none)", kScanRuns,
           RangeLimit(o.layout.max_range, true, nullptr));
  cl.Value("--mount-yaw", "DEG",
           "where the scanner's own ahead points on the robot,\n"
           "counter-clockwise (180: mounted backwards)",
           kScanRuns, Degrees(o.mount_yaw, nullptr));
  cl.Flag("--upside-down", "the scanner is mounted upside down", kScanRuns, [&o] { o.upside_down = true; });
}

void AddStreamOptions(CommandLine& cl, Options& o) {
  cl.Group("Live (--device), and a scanner's stream (--format lds ...; docs/live.md)");
  cl.Value("--device", "PATH",
           "run live from the serial port PATH (/dev/ttyUSB0; a\n"
           "pseudo-terminal works too), raw 8N1, instead of --scans;\n"
           "ends on --turns, SIGINT or SIGTERM (status 0) or when\n"
           "the device goes away (status 1), after the summary",
           kScanRuns, NonEmpty(o.device, "needs the serial port's path, such as /dev/ttyUSB0"));
  cl.Value("--baud", "N", "the port's rate (default 115200; standard rates, and\n128000, 256000)", kLiveRun,
           [&o](const std::string& v) {
             int n = 0;
             if (!ParseInteger(v, n) || !StandardBaud(n)) return Wants("a standard rate (" + StandardBauds() + ")", v);
             o.baud = n;
             return std::string();
           });
  cl.Real("--turn-timeout", "S",
          "no complete turn for S seconds gives a stop record and\n"
          "a warning, again every S seconds (default 0.5)",
          kLiveRun, 0.01, 3600, "seconds, 0.01..3600", [&o](double s) { o.turn_timeout = s; });
  cl.Value("--rpm-range", "MIN,MAX", "plan only turns at MIN..MAX rpm (default 200,400)", kScanRuns,
           [&o](const std::string& v) { return TakeRpmRange(v, o); });
  cl.Whole("--min-packets", "P", "plan only turns with P % of their 90 packets (default\n90)", kScanRuns, 0, 100,
           "a percentage of a turn's packets, 0..100",
           [&o](unsigned long long p) { o.min_packets = static_cast<int>(p); });
  cl.Whole("--turns", "N", "stop after N planned turns", kScanRuns, 1, 2147483647, "a number of planned turns >= 1",
           [&o](unsigned long long n) { o.turns = static_cast<long long>(n); });
  cl.Value("--save-raw", "FILE", "record the bytes the run read, to replay them with\n--format lds --scans FILE",
           kScanRuns, NonEmpty(o.save_raw, "needs a file name"));
}

}  // namespace

void AddScannerOptions(CommandLine& cl, Options& o) {
  AddLayoutOptions(cl, o);
  AddStreamOptions(cl, o);
  CLI::Option* device = cl.Find("--device");
  cl.Excludes(device, cl.Find("--scans"), "--device and --scans are two inputs: give one of them");
  cl.Excludes(device, cl.Find("--candidates"),
              "--candidates: a file of candidates cannot keep pace with a live scanner; drop it with --device");
}
