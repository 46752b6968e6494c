// SPDX-License-Identifier: BSD-3-Clause
#include "runs/replay.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

#include "base/json_writer.h"
#include "base/messages.h"
#include "base/std_streams.h"
#include "grid_frame.h"
#include "output/grid_view.h"
#include "output/pass_line.h"
#include "output/turn_report.h"
#include "output/viewer/viewer_glue.h"

namespace {

// The scans show a robot that backs away and never drives ahead: either it
// did, or its scanner faces backwards. The option that turns it round.
std::string MountWarning(const Options& o, long long n, const MountWatch& w) {
  char buf[320];
  const int n_printed = std::snprintf(buf, sizeof buf,
                                      "the scans show the robot backing away, %.1f m by scan %lld, and "
                                      "%.1f m ahead: if it drove ahead, ",
                                      w.Backward(), n, w.Forward());
  std::string text(buf, static_cast<std::size_t>(std::max(n_printed, 0)));
  if (o.format == ScanFormat::kDegrees) return text + "its readings are turned half a turn (index 180 must be ahead)";
  std::snprintf(buf, sizeof buf, "its scanner faces backwards: give --mount-yaw %g",
                std::fmod(o.mount_yaw + 180.0, 360.0));
  return text + buf;
}

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
  if (mount_.Observe(scan)) warnings_.Warn("mounted_backwards", MountWarning(o_, n, mount_));
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
    Print("%s", stops_.LostLine(records_).c_str());
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
