#include "runs/replay.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

#include "grid_frame.h"
#include "input/scan_source.h"
#include "output/grid_view.h"
#include "output/viewer/viewer_glue.h"
#include "pathgrid.h"
#include "runs/follow_target.h"
#include "runs/pass_line.h"
#include "scanfollow.h"

namespace {

// The scan's line, as printed and as the viewer shows it.
std::string ScanLineOf(long long n, const ScanPlan& p) {
  const PassFigures f{p.reached, p.path_length, p.fix_x, p.fix_y, p.face_x, p.face_y, p.bearing};
  std::string line = ScanLine(n, f, p.target_free);
  if (p.has_tracked) {
    char buf[128];
    std::snprintf(buf, sizeof buf, ", tracked (%.2f, %.2f) m, ", static_cast<double>(p.tracked_x),
                  static_cast<double>(p.tracked_y));
    line += buf;
    line += p.has_target ? "target cell (" + std::to_string(p.target.col) + ", " + std::to_string(p.target.row) + ")"
                         : std::string("no free target cell");
  }
  return line;
}

ViewerRunHeader ViewerHeader(const Options& o) {
  ViewerRunHeader h;
  h.title = "Replay of " + (o.scans == "-" ? std::string("standard input") : o.scans);
  h.tick_name = "scan";
  return h;
}

// Whether any reading of the scan lands on the planner's grid, by the
// planner's own metre-to-cell rule.
bool AnyReturnOnGrid(const Scan& scan) {
  for (int i = 0; i < kScanReadings; ++i) {
    const double d = scan[static_cast<std::size_t>(i)];
    if (!std::isfinite(d)) continue;
    const double a = i * (kPi / 180.0);
    if (OnGrid(MetresToCell(-d * std::sin(a)), MetresToCell(-d * std::cos(a)))) return true;
  }
  return false;
}

// First, quarter, half, three quarters and last of `count` scans.
std::vector<long long> DefaultScanSnapshots(long long count) {
  std::vector<long long> out;
  if (count <= 0) return out;
  for (long long p : {0LL, count / 4, count / 2, (3 * count) / 4, count - 1})
    if (std::find(out.begin(), out.end(), p) == out.end()) out.push_back(p);
  return out;
}

// The scans to draw: those asked for; else, of a file of `count` scans,
// DefaultScanSnapshots; else (a pipe) the first, and the last at the end.
std::vector<long long> ScansToDraw(const Options& o, bool regular, long long count) {
  if (o.snapshots_given) return {o.snapshots.begin(), o.snapshots.end()};
  if (regular) return DefaultScanSnapshots(count);
  return {0};
}

// A line on standard error a few times a second while a long replay runs.
class Progress {
 public:
  Progress(bool on, long long total) : on_(on), total_(total), last_(std::chrono::steady_clock::now()) {}
  void Tick(long long done) {
    if (!on_ || (done & 63) != 0) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < std::chrono::milliseconds(250)) return;
    last_ = now;
    if (total_ > 0)
      std::fprintf(stderr, "\rscan %lld of %lld (%lld%%)", done, total_, done * 100 / total_);
    else
      std::fprintf(stderr, "\rscan %lld", done);
    shown_ = true;
  }
  void Done() {
    if (shown_) std::fputs("\r\033[K", stderr);
    shown_ = false;
  }

 private:
  bool on_;
  long long total_;
  std::chrono::steady_clock::time_point last_;
  bool shown_ = false;
};

// The run's first line; printed once the first scan has been read, so that
// an input that fails at once prints nothing but its error.
void PrintHeader(const Options& o, const std::string& name, long long count) {
  if (count >= 0)
    std::printf("replaying %lld scans from %s, ", count, name.c_str());
  else
    std::printf("replaying scans from %s, ", name.c_str());
  if (o.follow)
    std::printf("following the tracked point from %.2f m ahead\n", static_cast<double>(o.follow_from));
  else
    std::printf("target cell (%d, %d) = %.2f m ahead, %.2f m left\n", o.target.col, o.target.row,
                CellToMetres(o.target.row), CellToMetres(o.target.col));
}

int SourceFail(const std::string& name, const ScanSource& src) {
  if (src.ErrorLine() > 0) return Fail(kExitBadInput, name + ":" + std::to_string(src.ErrorLine()) + ": " + src.ErrorMessage());
  return Fail(kExitBadInput, name + ": " + src.ErrorMessage());
}

// The first pass over a regular file: checks every line, so that a bad one
// stops the run before any output, counts the scans for the default pictures,
// and rewinds to where it started (standard input may be a file read
// part-way). The exit status when the run must stop.
std::optional<int> CheckWholeFile(const Options& o, const std::string& name, std::FILE* in, bool progress_on,
                                  long long& count) {
  const long start = std::ftell(in);
  ScanSource check(in, o.format, o.layout);
  Scan s{};
  Progress progress(progress_on, -1);
  ScanSource::Result r;
  count = 0;
  while ((r = check.Next(s)) == ScanSource::kScan) progress.Tick(++count);
  progress.Done();
  if (r == ScanSource::kError) return SourceFail(name, check);
  if (count == 0) return Fail(kExitBadInput, name + ": no scans in file");
  for (int n : o.snapshots)
    if (n >= count)
      return UsageError("--snapshot " + std::to_string(n) + ": the file has scans 0.." + std::to_string(count - 1));
  if (start < 0 || std::fseek(in, start, SEEK_SET) != 0)
    return Fail(kExitBadInput, name + ": cannot read twice: " + std::strerror(errno));
  std::clearerr(in);
  return std::nullopt;
}

}  // namespace

Replay::Replay(const Options& o, std::vector<long long> snapshots, ScanSaver* saver, bool keep_last, OutputSet& out)
    : o_(o), snapshots_(std::move(snapshots)), saver_(saver), keep_last_(keep_last), out_(out),
      viewer_(out, ViewerHeader(o), o.html) {
  std::sort(snapshots_.begin(), snapshots_.end());
  InitHelper();
  SetBorder(o_.border);
  if (o_.follow) thredhold(o_.follow_from);
}

ScanPlan Replay::Step(const Scan& recorded) {
  const long long n = scans_++;
  Scan scan = recorded;
  for (float& r : scan)
    if (r < o_.below || r > o_.above) r = std::numeric_limits<float>::infinity();
  if (saver_ != nullptr) saver_->Add(scan);
  if (!any_on_grid_) any_on_grid_ = AnyReturnOnGrid(scan);
  ScanPlan p{};
  if (o_.follow) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    float scratch[kScanReadings];
    p.has_tracked = true;
    filter(nan, nan, scan.data(), scratch, p.tracked_x, p.tracked_y);
  }
  SetRanges(scan.data());
  if (o_.follow) {
    const FollowTarget t = ScreenedFollowTarget(p.tracked_x, p.tracked_y);
    p.raw_target = {t.raw_col, t.raw_row};
    p.has_target = t.target_col >= 0;
    p.target = {t.target_col, t.target_row};
  } else {
    p.has_target = true;
    p.target = o_.target;
    p.raw_target = o_.target;
  }
  p.target_free = !p.has_target || ChkTarget(p.target.col, p.target.row);
  ClearTarget();
  if (p.has_target) SetTarget(p.target.col, p.target.row);
  p.reached = OutLine();
  p.path_length = GetHelperNum();
  p.fix_x = GetFixX();
  p.fix_y = GetFixY();
  p.face_x = GetFaceX();
  p.face_y = GetFaceY();
  p.bearing = CalAngle(p.fix_x, p.fix_y);
  reached_ += p.reached ? 1 : 0;
  const std::string line = ScanLineOf(n, p);
  if (!o_.quiet) std::printf("%s\n", line.c_str());
  const bool drawn = std::binary_search(snapshots_.begin(), snapshots_.end(), n);
  if (drawn || viewer_.Wants()) {
    GridView v = Capture(scan, p);
    if (drawn) AddPicture(n, v);
    if (viewer_.Wants()) viewer_.Add(ViewerTickFromGridView(v, line));
    if (keep_last_) last_view_ = std::move(v);  // the capture left the planner restamped
  } else {
    viewer_.Skip();
    if (keep_last_) {
      last_view_.reset();
      last_scan_ = scan;
      last_plan_ = p;
    }
  }
  if (keep_last_) last_drawn_ = drawn;
  return p;
}

GridView Replay::Capture(const Scan& scan, const ScanPlan& p) const {
  GridView v = CaptureGridView(scan, p.has_target, p.target, p.reached, o_.border);
  v.raw_target = p.raw_target;
  v.has_tracked = p.has_tracked;
  v.tracked_x = p.tracked_x;
  v.tracked_y = p.tracked_y;
  return v;
}

void Replay::AddPicture(long long n, const GridView& v) {
  if (n > INT_MAX) return;  // beyond the picture names' numbering
  const std::string what = "scan " + std::to_string(n);
  const std::string from = o_.scans == "-" ? "standard input" : o_.scans;
  AddGridPicture(files_, static_cast<int>(n), v, "Planner grid for " + what + " of " + from, what);
}

void Replay::DrawLast() {
  if (keep_last_ && scans_ > 0 && !last_drawn_) {
    if (last_view_) {
      AddPicture(scans_ - 1, *last_view_);
    } else {
      // Nothing touched the planner since the last scan's pass, so it still
      // holds what the capture reads.
      AddPicture(scans_ - 1, Capture(last_scan_, last_plan_));
    }
  }
  last_drawn_ = true;
}

int Replay::Finish() {
  std::printf("reached the target on %lld of %lld scans\n", reached_, scans_);
  if (!any_on_grid_)
    std::printf("hint: no return came within the planner's grid (2.5 m each way) on any scan; "
                "are the ranges in metres? millimetres read as metres land far off (--units mm)\n");
  const std::size_t shown = viewer_.Finish();
  if (o_.html && shown < static_cast<std::size_t>(scans_))
    std::printf("run.html shows scans 0..%zu of %lld\n", shown - 1, scans_);
  std::sort(files_.begin(), files_.end());
  return WritePictures(out_, files_);
}

int RunReplay(const Options& o) {
  const bool from_stdin = o.scans == "-";
  const std::string name = from_stdin ? "standard input" : o.scans;
  std::FILE* in = from_stdin ? stdin : std::fopen(o.scans.c_str(), "rb");
  if (in == nullptr) return Fail(kExitBadInput, name + ": cannot open: " + std::strerror(errno));
  struct Closer {
    std::FILE* f;
    bool own;
    ~Closer() {
      if (own) std::fclose(f);
    }
  } closer{in, !from_stdin};
  struct stat st {};
  const bool regular = ::fstat(::fileno(in), &st) == 0 && S_ISREG(st.st_mode);
  const bool progress_on = ::isatty(STDERR_FILENO) == 1 && (o.quiet || ::isatty(STDOUT_FILENO) != 1);

  long long count = -1;  // unknown until the end when the input cannot be read twice
  if (regular) {
    if (const auto status = CheckWholeFile(o, name, in, progress_on, count)) return *status;
  }

  const std::vector<long long> snaps = ScansToDraw(o, regular, count);
  OutputSet out;
  if (const auto status = OpenOutput(o.out, out)) return *status;
  ScanSaver saver;
  std::string why;
  if (!o.save_scans.empty() && !saver.Open(o.save_scans, why))
    return Fail(kExitCannotWrite, o.save_scans + ": " + why);

  Replay replay(o, snaps, o.save_scans.empty() ? nullptr : &saver, !regular && !o.snapshots_given, out);
  ScanSource src(in, o.format, o.layout);
  Progress progress(progress_on, count);
  Scan scan{};
  ScanSource::Result r;
  while ((r = src.Next(scan)) == ScanSource::kScan) {
    if (replay.Scans() == 0 && !o.quiet) PrintHeader(o, name, count);
    replay.Step(scan);
    progress.Tick(replay.Scans());
  }
  progress.Done();
  std::string lost;
  const bool stdout_ok = FlushStdout(lost);  // before any error line, so the two keep their order
  if (r == ScanSource::kError) return SourceFail(name, src);
  if (!stdout_ok) return Fail(kExitCannotWrite, "standard output: " + lost);
  if (replay.Scans() == 0) return Fail(kExitBadInput, name + ": no scans in file");
  if (regular && replay.Scans() != count) return Fail(kExitBadInput, name + ": changed while it was replayed");
  for (int n : o.snapshots)
    if (n >= replay.Scans())
      return Fail(kExitBadInput, "--snapshot " + std::to_string(n) + ": the input had scans 0.." +
                                     std::to_string(replay.Scans() - 1));
  replay.DrawLast();
  if (!o.save_scans.empty() && !saver.Commit(why)) return Fail(kExitCannotWrite, o.save_scans + ": " + why);
  return replay.Finish();
}
