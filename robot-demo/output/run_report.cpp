// SPDX-License-Identifier: BSD-3-Clause
#include "output/run_report.h"

#include <cmath>
#include <cstdio>
#include <utility>

#include "base/messages.h"
#include "base/std_streams.h"
#include "base/stop_signal.h"

void RunWarnings::Warn(const std::string& code, const std::string& message) {
  if (Has(code)) return;
  given_.emplace_back(code, message);
  std::fprintf(stderr, "robot-demo: warning: %s\n", TerminalText(message).c_str());
}

bool RunWarnings::Has(const std::string& code) const {
  for (const auto& g : given_)
    if (g.first == code) return true;
  return false;
}

std::string RunWarnings::Json() const {
  JsonWriter w;
  w.BeginArray();
  for (const auto& [code, message] : given_)
    w.BeginObject().Key("code").String(code).Key("message").String(message).EndObject();
  return w.EndArray().Text();
}

StepWatch::StepWatch(RunWarnings& warnings, double robot_radius, std::string min_range_hint, bool hint_given)
    : warnings_(warnings), robot_radius_(robot_radius), hint_(std::move(min_range_hint)), hint_given_(hint_given) {}

void StepWatch::Observe(const PilotStep& step, long long n) {
  if (step.returns_inside_robot > 0 && ++inside_scans_ == kInsideScansToWarn) {
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  "%lld scans up to scan %lld have returns nearer than the robot's radius (%.2f m): the scanner "
                  "probably sees the robot itself; %s %s",
                  kInsideScansToWarn, n, robot_radius_, hint_given_ ? "raise" : "set", hint_.c_str());
    warnings_.Warn("returns_inside_robot", buf);
  }
  if (!step.lost) {
    lost_from_ = -1;
    return;
  }
  if (lost_from_ < 0) lost_from_ = n;
  if (n - lost_from_ + 1 == kLostScansToWarn)
    warnings_.Warn("tracker_lost", "the tracker held no return near the tracked point from scan " +
                                       std::to_string(lost_from_) +
                                       " for more than a second of scans; the robot "
                                       "heads for where it was last seen for a while, then stops (is --follow the "
                                       "object's distance ahead?)");
}

void StopTally::Add(const std::string& name, const std::string& text) {
  ++total_;
  for (Entry& e : entries_)
    if (e.name == name) {
      ++e.count;
      return;
    }
  entries_.push_back({name, text, 1});
}

void StopTally::Count(const PilotStep& step) {
  if (step.lost) {
    ++lost_;
    lost_stopped_ += step.stopped ? 1 : 0;
  }
  if (step.command.speed > 0.0) {
    ++drove_;
    return;
  }
  ++(step.command.turn_rate != 0.0 ? turned_ : stood_);
  Add(PilotReasonName(step.reason), PilotReasonText(step.reason));
}

void StopTally::CountSkip(const std::string& name, const std::string& text) {
  ++stood_;
  Add(name, text);
}

std::string StopTally::CommandLine(long long records, const char* noun) const {
  return "commands: drove on " + std::to_string(drove_) + ", turned on the spot on " + std::to_string(turned_) +
         ", stood still on " + std::to_string(stood_) + " of " + std::to_string(records) + " " + noun + "\n";
}

std::string StopTally::LostLine(long long records, const char* noun) const {
  if (lost_ == 0) return "";
  return "tracker lost on " + std::to_string(lost_) + " of " + std::to_string(records) + " " + noun +
         ": searching where last seen on " + std::to_string(lost_ - lost_stopped_) + ", stopped on " +
         std::to_string(lost_stopped_) + "\n";
}

std::string StopTally::Line(long long records, const char* noun) const {
  std::string o = "not moving ahead on " + std::to_string(total_) + " of " + std::to_string(records) + " " + noun;
  for (std::size_t i = 0; i < entries_.size(); ++i)
    o += (i == 0 ? ": " : ", ") + entries_[i].text + " " + std::to_string(entries_[i].count);
  return o + "\n";
}

std::string StopTally::Json() const {
  JsonWriter w = JsonWriter::Continuing();
  w.Key("stops").BeginObject();
  for (const Entry& e : entries_) w.Key(e.name).Int(e.count);
  w.EndObject().Key("commands").BeginObject();
  w.Key("drove").Int(drove_).Key("turned").Int(turned_).Key("stood").Int(stood_);
  w.EndObject();
  if (lost_ > 0) w.Key("lost").BeginObject().Key("records").Int(lost_).Key("stopped").Int(lost_stopped_).EndObject();
  return w.Text();
}

void ZeroCommand(JsonWriter& w) {
  w.Key("command").BeginObject().Key("speed").Int(0).Key("turn_rate").Int(0).EndObject();
}

std::string EndStopJson(long long records) {
  JsonWriter w;
  w.BeginObject().Key("schema").Int(kPilotJsonSchema).Key("end").BeginObject().Key("records").Int(records).EndObject();
  ZeroCommand(w);
  return w.Key("stopped").Bool(true).Key("reason").String("end").EndObject().Text();
}

std::string StepJson(const PilotStep& step, long long n, const std::string& extra) {
  char buf[kPilotJsonMax];
  const std::size_t len = PilotStepJson(step, n, buf, sizeof buf);
  std::string o(buf, len < sizeof buf ? len : sizeof buf - 1);
  if (!extra.empty() && !o.empty()) o.insert(o.size() - 1, extra);
  return o;
}

std::string SummaryJson(const std::string& members) {
  JsonWriter w;
  w.BeginObject().Key("schema").Int(kPilotJsonSchema).Key("summary").BeginObject().MoreMembers(members);
  return w.EndObject().EndObject().Text();
}

std::optional<int> StopStatus() {
  if (StopSignal() != 0) return Interrupted();
  if (StdoutPipeClosed()) return kExitCannotWrite;
  return std::nullopt;
}
