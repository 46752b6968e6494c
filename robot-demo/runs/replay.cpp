// SPDX-License-Identifier: BSD-3-Clause
#include "runs/replay.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

#include "base/json_writer.h"
#include "base/messages.h"
#include "base/std_streams.h"
#include "base/stop_signal.h"
#include "grid_frame.h"
#include "input/bag_source.h"
#include "input/candidates.h"
#include "input/goal_feed.h"
#include "input/lds_source.h"
#include "input/ros2_source.h"
#include "input/scan_source.h"
#include "output/grid_view.h"
#include "output/pass_line.h"
#include "output/raw_recorder.h"
#include "output/turn_report.h"
#include "output/viewer/viewer_glue.h"
#include "runs/live.h"

namespace {

// The scan's line, as printed and as the viewer shows it.
std::string ScanLineOf(long long n, const PilotStep& p) {
  const PassFigures f{p.reached,    p.path_cells, p.steering.x, p.steering.y,
                      p.path_end.x, p.path_end.y, p.bearing};
  std::string line = ScanLine(n, f, !p.target_blocked);
  if (p.has_tracked) {
    line += ", tracked " + TrackedPair(p.tracked.x, p.tracked.y) + " m, ";
    line += p.has_target ? "target cell (" + std::to_string(p.target.col) + ", " + std::to_string(p.target.row) + ")"
                         : std::string("no free target cell");
  }
  return line;
}

ViewerRunHeader ViewerHeader(const Options& o, const std::string& name) {
  ViewerRunHeader h;
  h.title = (o.device.empty() ? "Replay of " : "Live run from ") + name;
  h.tick_name = "scan";
  h.robot_radius = o.robot_radius;
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
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  ~Progress() { Done(); }  // a run that stops early leaves no progress line behind
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

// "replaying N scans from NAME" (N when known).
std::string ReplayLead(const std::string& name, long long count) {
  return "replaying " + (count >= 0 ? std::to_string(count) + " " : std::string()) + "scans from " + TerminalText(name);
}

// A line of the ranges format that looks like a sample is worth a word.
void WarnAboutFormat(const ScanSource& src, const std::string& name, RunWarnings& warnings) {
  if (src.FewValuesLine() == 0) return;
  warnings.Warn("looks_like_samples", name + ":" + std::to_string(src.FewValuesLine()) +
                                          ": a line of 2 or 3 numbers read as one turn of --format ranges; if it is "
                                          "'angle range [quality]', use --format samples");
}

// A text recording's scans, with the word its ranges format may deserve.
class TextTurnSource : public TurnSource {
 public:
  TextTurnSource(std::FILE* in, const Options& o, std::string name, RunWarnings& warnings)
      : src_(in, o.format, MountedLayout(o)), name_(std::move(name)), warnings_(warnings) {}
  Result Next(Scan& scan, TurnInfo& info) override {
    info = TurnInfo{};
    switch (src_.Next(scan)) {
      case ScanSource::kScan: WarnAboutFormat(src_, name_, warnings_); return kScan;
      case ScanSource::kEnd: return kEnd;
      case ScanSource::kError: break;
    }
    return Fail(src_.ErrorMessage(), ErrorKind::kInput, src_.ErrorLine());
  }

 private:
  ScanSource src_;
  std::string name_;
  RunWarnings& warnings_;
};

// A recording as records: its bytes (a scanner's stream) and its source.
struct FileInput {
  std::unique_ptr<FileBytes> bytes;
  std::unique_ptr<TurnSource> src;
};

// An input that failed to open: its one line is its first record.
class FailedSource : public TurnSource {
 public:
  explicit FailedSource(std::string why) : why_(std::move(why)) {}
  Result Next(Scan&, TurnInfo&) override { return Fail(why_, ErrorKind::kInput); }

 private:
  std::string why_;
};

std::unique_ptr<TurnSource> OpenBagInput(const Options& o) {
  std::string why;
  std::unique_ptr<TurnSource> src = o.format == ScanFormat::kRosbag2
                                        ? OpenRos2Bag(o.scans, o.topic, PilotConfigOf(o), why)
                                        : OpenBag(o.scans, o.topic, PilotConfigOf(o), why);
  if (src) return src;
  // The reader names the file itself; the run's line does that already.
  if (why.rfind(o.scans + ": ", 0) == 0) why.erase(0, o.scans.size() + 2);
  return std::make_unique<FailedSource>(why);
}

FileInput OpenFileInput(const Options& o, std::FILE* in, const std::string& name, RunWarnings& warnings,
                        RawSink* raw) {
  FileInput f;
  if (o.format == ScanFormat::kRosbag || o.format == ScanFormat::kRosbag2) {
    f.src = OpenBagInput(o);
  } else if (o.format == ScanFormat::kLds) {
    f.bytes = std::make_unique<FileBytes>(in);
    f.src = std::make_unique<LdsTurnSource>(*f.bytes, o.stream, MountedLayout(o), LdsGateOf(o), raw);
  } else {
    f.src = std::make_unique<TextTurnSource>(in, o, name, warnings);
  }
  return f;
}

// "scans 0..N-1", or "no scans".
std::string ScanRange(long long count) {
  return count > 0 ? "scans 0.." + std::to_string(count - 1) : std::string("no scans");
}

// A recording with nothing to replay: no scan at all, or for a scanner's
// stream not one complete turn. The error line, or nothing.
std::optional<std::string> Emptiness(const std::string& name, long long scans, const TurnSource& src) {
  if (const LdsStats* s = src.Stats()) {
    if (s->turns > 0 && s->planned == 0 && s->looks_like != nullptr)
      return name + ": no turn planned in " + std::to_string(s->bytes) +
             " bytes, most of them skipped: it looks like --format " + s->looks_like;
    if (s->turns > 0) return std::nullopt;
    return name + ": no complete scanner turn in " + std::to_string(s->bytes) + " bytes (" +
           std::to_string(s->wire.good_packets) + " good packets): " +
           (s->looks_like != nullptr ? std::string("it looks like --format ") + s->looks_like
                                     : std::string("is it a raw capture of the scanner's port?"));
  }
  if (scans > 0) return std::nullopt;
  return name + ": no scans in file";
}

// The first pass over a regular file: checks every line, so that a bad one
// stops the run before any output, counts the scans for the default pictures,
// and rewinds to where it started (standard input may be a file read
// part-way). The exit status when the run must stop.
std::optional<int> CheckWholeFile(const Options& o, const std::string& name, std::FILE* in, bool progress_on,
                                  RunWarnings& warnings, long long& count) {
  const long start = std::ftell(in);
  FileInput check = OpenFileInput(o, in, name, warnings, nullptr);
  Scan s{};
  TurnInfo info;
  Progress progress(progress_on, -1);
  TurnSource::Result r;
  count = 0;
  while ((r = check.src->Next(s, info)) != TurnSource::kEnd && r != TurnSource::kError) {
    if (r == TurnSource::kScan) progress.Tick(++count);
    if (StopSignal() != 0) break;
  }
  progress.Done();  // before any line, so that it starts a line of its own
  if (StopSignal() != 0) return Interrupted();
  if (r == TurnSource::kError) return Fail(kExitBadInput, SourceError(name, *check.src));
  if (const auto empty = Emptiness(name, count, *check.src)) return Fail(kExitBadInput, *empty);
  for (int n : o.snapshots)
    if (n >= count) return UsageError("--snapshot " + std::to_string(n) + ": the file has " + ScanRange(count));
  if (start < 0 || std::fseek(in, start, SEEK_SET) != 0)
    return Fail(kExitBadInput, name + ": cannot read twice: " + std::strerror(errno));
  std::clearerr(in);
  return std::nullopt;
}

struct FileCloser {
  std::FILE* f;  // null: not ours to close
  ~FileCloser() {
    if (f != nullptr) std::fclose(f);
  }
};

bool IsRegular(std::FILE* f) {
  struct stat st {};
  return ::fstat(::fileno(f), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsFolder(std::FILE* f) {
  struct stat st {};
  return ::fstat(::fileno(f), &st) == 0 && S_ISDIR(st.st_mode);
}

// --candidates: one line per scan, read alongside the scans. A regular file
// is checked whole first, and against the recording's count when known.
class CandidateFeed {
 public:
  ~CandidateFeed() {
    if (f_ != nullptr) std::fclose(f_);
  }
  std::optional<int> Open(const std::string& path, long long scans) {
    if (path.empty()) return std::nullopt;
    path_ = path;
    f_ = std::fopen(path.c_str(), "rb");
    if (f_ == nullptr) return Fail(kExitBadInput, path + ": cannot open: " + std::strerror(errno));
    if (!IsRegular(f_)) return std::nullopt;
    long long lines = 0;
    {
      CandidateSource check(f_);
      Candidate c{};
      CandidateSource::Result r;
      while ((r = check.Next(c)) == CandidateSource::kCandidate) ++lines;
      if (r == CandidateSource::kError) return Fail(kExitBadInput, path + ":" + check.Error());
    }
    if (scans >= 0 && lines != scans)
      return Fail(kExitBadInput, path + ": " + std::to_string(lines) + " lines for " + std::to_string(scans) +
                                     " scans; it needs one line per scan");
    std::rewind(f_);
    return std::nullopt;
  }
  // The candidate for scan n.
  std::optional<int> Next(long long n, PilotPoint& p, bool& present) {
    present = false;
    if (f_ == nullptr) return std::nullopt;
    if (!src_) src_.emplace(f_);
    Candidate c{};
    const CandidateSource::Result r = src_->Next(c);
    if (r == CandidateSource::kError) return Fail(kExitBadInput, path_ + ":" + src_->Error());
    if (r == CandidateSource::kEnd)
      return Fail(kExitBadInput, path_ + ": ends before scan " + std::to_string(n) + "; it needs one line per scan");
    present = c.present;
    p = {c.x, c.y};
    return std::nullopt;
  }
  // After the last scan: no lines may be left.
  std::optional<int> Finish() {
    if (f_ == nullptr || !src_) return std::nullopt;
    Candidate c{};
    if (src_->Next(c) != CandidateSource::kEnd)
      return Fail(kExitBadInput, path_ + ": has more lines than the recording has scans");
    return std::nullopt;
  }

 private:
  std::string path_;
  std::FILE* f_ = nullptr;
  std::optional<CandidateSource> src_;
};

// What is wrong once the input has ended, if anything.
std::optional<int> CheckRunEnd(const Options& o, const std::string& name, bool regular, long long count,
                               long long scans, CandidateFeed& candidates, const TurnSource& src) {
  if (const auto empty = Emptiness(name, scans, src)) return Fail(kExitBadInput, *empty);
  if (regular && scans != count) return Fail(kExitBadInput, name + ": changed while it was replayed");
  for (int n : o.snapshots)
    if (n >= scans) return Fail(kExitBadInput, "--snapshot " + std::to_string(n) + ": the input had " + ScanRange(scans));
  return candidates.Finish();
}

}  // namespace

Replay::Replay(const Options& o, std::string name, std::vector<long long> snapshots, ScanSaver* saver,
               bool keep_last, OutputSet& out, RunWarnings& warnings)
    : o_(o), name_(std::move(name)), snapshots_(std::move(snapshots)), saver_(saver), keep_last_(keep_last),
      out_(out), warnings_(warnings),
      watch_(warnings, o.robot_radius, o.format == ScanFormat::kDegrees ? "--no-return-below" : "--min-range",
             o.format == ScanFormat::kDegrees ? o.below_given : o.min_range_given),
      viewer_(out, ViewerHeader(o, name_), o.html) {
  std::sort(snapshots_.begin(), snapshots_.end());
}

void Replay::SetGoal(double x, double y) {
  PilotGoal g;
  if (PilotWindowGoal(x, y, g)) pilot_.SetGoal(g);
}

std::optional<int> Replay::Start() {
  const PilotError e = pilot_.Start(PilotConfigOf(o_));
  if (e == PilotError::kNone) return std::nullopt;
  return Fail(kExitBadInput, PilotErrorText(e));
}

const PilotStep& Replay::Step(const Scan& recorded, const PilotPoint* candidate, const TurnInfo* turn) {
  const long long n = scans_++;
  Scan scan = recorded;
  for (float& r : scan)
    // -inf is something too near to measure, never "no return".
    if ((r < o_.below && r != -std::numeric_limits<float>::infinity()) || r > o_.above)
      r = std::numeric_limits<float>::infinity();
  if (saver_ != nullptr) saver_->Add(scan);
  if (!any_on_grid_) any_on_grid_ = AnyReturnOnGrid(scan);
  pilot_.Step(scan.data(), candidate, step_);
  watch_.Observe(step_, n);
  stops_.Count(step_);
  ++records_;
  reached_ += step_.reached ? 1 : 0;
  const std::string line = ScanLineOf(n, step_) + DriveText(step_);
  Report(n, step_, line, turn != nullptr ? TurnJsonMembers(*turn) : std::string());
  const bool drawn = std::binary_search(snapshots_.begin(), snapshots_.end(), n);
  const bool page_wants = viewer_.Wants();
  if (drawn || page_wants) {
    GridView v = CaptureGridView(pilot_, step_);
    if (drawn) AddPicture(n, v);
    if (page_wants) viewer_.Add(ViewerTickFromGridView(v, line));
    if (keep_last_) last_view_ = std::move(v);
  } else if (keep_last_) {
    last_view_.reset();
  }
  if (!page_wants) viewer_.Skip();  // past the page's limit, drawn or not, it counts
  if (keep_last_) last_drawn_ = drawn;
  return step_;
}

void Replay::Report(long long n, const PilotStep& step, const std::string& line, const std::string& extra) {
  if (o_.quiet) return;
  if (o_.json)
    Print("%s\n", StepJson(step, n, extra).c_str());
  else
    Print("%s\n", line.c_str());
}

void Replay::StopRecord(const TurnInfo& info) {
  if (info.skip == SkipReason::kTimeout || info.skip == SkipReason::kRestart) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g s", info.skip == SkipReason::kRestart ? info.seconds : info.limit);
    warnings_.Warn("no_turn", std::string("no complete turn came from the scanner within ") + buf +
                                  ": is its motor turning, and its TX wired to the adapter's RX at the right "
                                  "baud rate? The robot is given a stop each time");
  }
  if (info.skip == SkipReason::kGarbage && !o_.device.empty())
    warnings_.Warn("garbage", "no valid packet in the first " + std::to_string(static_cast<long long>(info.limit)) +
                                  " bytes: the baud rate may be wrong (--baud " + std::to_string(o_.baud) +
                                  " now), or the scanner is another model");
  ++records_;
  const std::string name = SkipReasonName(info.skip);
  stops_.CountSkip(name, info.skip == SkipReason::kTimeout ? "no turn in time" : "turn not planned (" + name + ")");
  if (o_.quiet) return;
  Print("%s\n", (o_.json ? StopJson(info) : StopLine(info)).c_str());
}

void Replay::EndStop() {
  if (ended_ || !o_.json || o_.quiet || StdoutPipeClosed()) return;
  ended_ = true;
  Print("%s\n", EndStopJson(records_).c_str());
}

void Replay::AddPicture(long long n, const GridView& v) {
  if (n > INT_MAX) return;  // beyond the picture names' numbering
  const std::string what = "scan " + std::to_string(n);
  AddGridPicture(files_, static_cast<int>(n), v, "Planner grid for " + what + " of " + name_, what);
}

void Replay::DrawLast() {
  if (keep_last_ && scans_ > 0 && !last_drawn_) {
    // Nothing touched the planner since the last scan's pass, so the pilot
    // still holds what the capture reads.
    AddPicture(scans_ - 1, last_view_ ? *last_view_ : CaptureGridView(pilot_, step_));
  }
  last_drawn_ = true;
}

int Replay::Finish(const std::string& summary_members, const std::string& summary_lines,
                   const std::function<int()>& after_commit) {
  // A scanner's stream is in millimetres by its protocol: no unit to mix up.
  const bool units_hint = !any_on_grid_ && !o_.units_given && scans_ > 0 && o_.format != ScanFormat::kLds;
  const char* hint = "no return came within the planner's grid (2.5 m each way) on any scan; "
                     "are the ranges in metres? millimetres read as metres land far off (--units mm)";
  if (!o_.json) {
    Print("the planner's path reached the target on %lld of %lld scans\n", reached_, scans_);
    Print("%s", stops_.CommandLine(records_).c_str());
    Print("%s", stops_.Line(records_).c_str());
    Print("%s", summary_lines.c_str());
    if (units_hint) Print("hint: %s\n", hint);
  } else if (units_hint) {
    warnings_.Warn("no_return_on_grid", hint);
  }
  const std::size_t shown = viewer_.Finish();
  const int status = WritePictures(out_, files_, !o_.json, after_commit);
  // Only a page that was written can be described.
  if (status == kExitOk && o_.html && !o_.json && shown > 0 && shown < static_cast<std::size_t>(scans_))
    Print("run.html shows scans 0..%zu of %lld\n", shown - 1, scans_);
  if (o_.json) {
    EndStop();
    const bool page = status == kExitOk && o_.html;
    JsonWriter w = JsonWriter::Members();
    w.Key("scans").Int(scans_).Key("reached").Int(reached_).Key("html_scans").Count(page ? shown : 0);
    w.MoreMembers(stops_.Json()).MoreMembers(summary_members).Key("warnings").Json(warnings_.Json());
    w.Key("pictures").Json(status == kExitOk ? PicturesJson(out_) : std::string("null"));
    Print("%s\n", SummaryJson(w.Text()).c_str());
  }
  return status;
}

std::string HeaderLine(const Options& o, const std::string& lead) {
  char buf[160];
  if (o.follow)
    std::snprintf(buf, sizeof buf, "following the tracked point from %.2f m ahead", static_cast<double>(o.follow_from));
  else
    std::snprintf(buf, sizeof buf, "target cell (%d, %d) = %.2f m ahead, %.2f m left", o.target.col, o.target.row,
                  CellToMetres(o.target.row), CellToMetres(o.target.col));
  return lead + ", " + buf + "\n";
}

std::string SourceError(const std::string& name, const TurnSource& src) {
  if (src.ErrorLine() > 0) return name + ":" + std::to_string(src.ErrorLine()) + ": " + src.Error();
  return name + ": " + src.Error();
}

void WarnUnreachedSnapshots(const Options& o, long long scans, RunWarnings& warnings) {
  for (int n : o.snapshots)
    if (n >= scans)
      warnings.Warn("snapshot_not_reached", "--snapshot " + std::to_string(n) + ": the run ended with " +
                                                ScanRange(scans) + ", so it is not drawn");
}

const char* RunEndName(RunEnd end) {
  switch (end) {
    case RunEnd::kInput: return "input";
    case RunEnd::kTurns: return "turns";
    case RunEnd::kSignal: return "signal";
    case RunEnd::kError: break;
  }
  return "device";
}

RunEnd PlayTurns(const Options& o, TurnSource& src, Replay& replay, const PlayHooks& hooks,
                 std::optional<int>& status) {
  bool first = true;
  Scan scan{};
  TurnInfo info;
  for (;;) {
    // A stop signal, or a reader of standard output that went away.
    if (StopSignal() != 0 || StdoutPipeClosed()) return RunEnd::kSignal;
    const TurnSource::Result r = src.Next(scan, info);
    if (r == TurnSource::kEnd) return RunEnd::kInput;
    if (r == TurnSource::kError) return RunEnd::kError;
    if (r == TurnSource::kStopped) continue;  // the check above tells a stop signal from any other
    if (first && !hooks.header.empty()) Print("%s", hooks.header.c_str());
    first = false;
    if (r == TurnSource::kStop) {
      replay.StopRecord(info);
      continue;
    }
    PilotPoint candidate{};
    bool present = false;
    if (hooks.candidate && (status = hooks.candidate(replay.Scans(), candidate, present))) return RunEnd::kError;
    replay.Step(scan, present ? &candidate : nullptr, info.scanner ? &info : nullptr);
    if (hooks.tick) hooks.tick(replay.Scans());
    if (o.turns > 0 && replay.Scans() >= o.turns) return RunEnd::kTurns;
  }
}

namespace {

// A replay of a recording: its input and what it writes besides the run's outputs.
struct FileRun {
  std::string name;
  bool regular = false;
  long long count = -1;  // scans, when a first pass counted them
  CandidateFeed candidates;
  GoalFeed goals;
  ScanSaver saver;
  RawRecorder raw;
};

// After the loop: errors first, then the files and the closing lines. A
// replay cut short by a signal (or a closed pipe) keeps nothing.
int EndReplay(const Options& o, FileRun& run, RunEnd end, const std::optional<int>& status, const TurnSource& src,
              Replay& replay, RunWarnings& warnings) {
  if (const auto stopped = StopStatus()) {
    replay.EndStop();  // no summary, but the last command read is a stop
    return *stopped;
  }
  std::string lost;
  const bool stdout_ok = FlushStdout(lost);  // before any error line, so the two keep their order
  if (status) return *status;
  if (end == RunEnd::kError)
    return Fail(src.Kind() == TurnSource::ErrorKind::kDevice ? kExitDevice : kExitBadInput, SourceError(run.name, src));
  if (!stdout_ok) return Fail(kExitCannotWrite, "standard output: " + lost);
  if (end == RunEnd::kInput) {
    if (const auto bad = CheckRunEnd(o, run.name, run.regular, run.count, replay.Scans(), run.candidates, src))
      return *bad;
    if (run.goals.IsOpen() && !run.goals.AtEnd())
      return Fail(kExitBadInput, run.goals.Path() + ": has more lines than the recording has scans");
  } else {
    WarnUnreachedSnapshots(o, replay.Scans(), warnings);
  }
  replay.DrawLast();
  // The saved scans and bytes are replaced once the pictures are in.
  const auto commit = [&o, &run] {
    std::string why;
    if (!o.save_scans.empty() && !run.saver.Commit(why)) return Fail(kExitCannotWrite, o.save_scans + ": " + why);
    if (!o.save_raw.empty() && !run.raw.Commit(why)) return Fail(kExitCannotWrite, o.save_raw + ": " + why);
    return kExitOk;
  };
  const LdsStats* stats = src.Stats();
  if (stats == nullptr) return replay.Finish("", "", commit);
  return replay.Finish(StreamSummaryJson(*stats, RunEndName(end)), StreamSummaryLines(*stats, LdsGateOf(o), false, ""),
                       commit);
}

// Opens the files the replay writes besides its output folder, before any
// work: the exit status when one of them cannot be.
std::optional<int> OpenSavedFiles(const Options& o, FileRun& run) {
  std::string why;
  if (!o.save_scans.empty() && !run.saver.Open(o.save_scans, why))
    return Fail(kExitCannotWrite, o.save_scans + ": " + why);
  if (!o.save_raw.empty() && !run.raw.Open(o.save_raw, why)) return Fail(kExitCannotWrite, o.save_raw + ": " + why);
  return std::nullopt;
}

}  // namespace

int RunReplay(const Options& o) {
  if (!o.device.empty()) return RunLive(o);
  FileRun run;
  if (const auto status = OpenSavedFiles(o, run)) return *status;
  const bool from_stdin = o.scans == "-";
  run.name = from_stdin ? "standard input" : o.scans;
  std::FILE* in = from_stdin ? stdin : std::fopen(o.scans.c_str(), "rb");
  if (in == nullptr) return Fail(kExitBadInput, run.name + ": cannot open: " + std::strerror(errno));
  const FileCloser closer{from_stdin ? nullptr : in};
  // A ROS 2 bag's folder is read whole twice, as a file is.
  run.regular = IsRegular(in) || (o.format == ScanFormat::kRosbag2 && IsFolder(in));
  // Scans that arrive as they are made are shown as they are planned.
  if (!run.regular) std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const bool progress_on = ::isatty(STDERR_FILENO) == 1 && (o.quiet || ::isatty(STDOUT_FILENO) != 1);
  RunWarnings warnings;
  if (run.regular) {
    if (const auto status = CheckWholeFile(o, run.name, in, progress_on, warnings, run.count)) return *status;
  }
  if (const auto status = run.candidates.Open(o.candidates, run.count)) return *status;
  OutputSet out;
  if (const auto status = OpenOutput(o.out, out)) return *status;
  Replay replay(o, run.name, ScansToDraw(o, run.regular, run.count), o.save_scans.empty() ? nullptr : &run.saver,
                !run.regular && !o.snapshots_given, out, warnings);
  if (const auto status = replay.Start()) return *status;
  FileInput input = OpenFileInput(o, in, run.name, warnings, o.save_raw.empty() ? nullptr : &run.raw);
  Progress progress(progress_on, run.count);
  PlayHooks hooks;
  if (!o.quiet && !o.json) hooks.header = HeaderLine(o, ReplayLead(run.name, run.count));
  std::string goals_why;
  if (!run.goals.Open(o.goals, goals_why)) return Fail(kExitBadInput, goals_why);
  hooks.candidate = [&run, &replay](long long n, PilotPoint& p, bool& present) -> std::optional<int> {
    if (run.goals.IsOpen()) {
      double x = 0, y = 0;
      std::string why;
      if (!run.goals.Next(x, y, why)) return Fail(kExitBadInput, why);
      replay.SetGoal(x, y);
    }
    return run.candidates.Next(n, p, present);
  };
  hooks.tick = [&progress](long long n) { progress.Tick(n); };
  std::optional<int> status;
  const RunEnd end = PlayTurns(o, *input.src, replay, hooks, status);
  progress.Done();
  return EndReplay(o, run, end, status, *input.src, replay, warnings);
}
