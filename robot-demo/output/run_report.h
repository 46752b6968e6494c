// SPDX-License-Identifier: BSD-3-Clause
// What a run reports besides its lines for people: warnings (each once, on
// standard error and in the JSON summary) and the JSON Lines of --json.
#ifndef SCANPILOT_OUTPUT_RUN_REPORT_H
#define SCANPILOT_OUTPUT_RUN_REPORT_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/json_writer.h"
#include "base/safe_text.h"
#include "scanpilot.h"

class RunWarnings {
 public:
  // Prints "robot-demo: warning: MESSAGE" on standard error, unless `code`
  // was already given in this run.
  void Warn(const std::string& code, const std::string& message);
  bool Has(const std::string& code) const;
  // [{"code":...,"message":...},...]
  std::string Json() const;

 private:
  std::vector<std::pair<std::string, std::string>> given_;
};

// Watches the steps for what a robot builder must hear about: the scanner
// seeing the robot itself, and a tracker lost for more than a second.
class StepWatch {
 public:
  // `min_range_hint`: the option that masks near returns for this input
  // ("--min-range" or "--no-return-below"), and whether it was given.
  StepWatch(RunWarnings& warnings, double robot_radius, std::string min_range_hint, bool hint_given);
  void Observe(const PilotStep& step, long long n);

 private:
  RunWarnings& warnings_;
  double robot_radius_;
  std::string hint_;
  bool hint_given_;
  long long inside_scans_ = 0;
  long long lost_from_ = -1;  // first scan of the current lost streak
};

// Scans with returns inside the robot before it is worth a warning, and the
// longest a tracker may stay lost without one (a second at 10 scans a second).
constexpr long long kInsideScansToWarn = 4;
constexpr long long kLostScansToWarn = 11;

// Why the robot did not move ahead, counted over a run: each step without
// speed by its reason, each record that planned nothing by its own.
class StopTally {
 public:
  void Count(const PilotStep& step);
  // A record that planned nothing: `name` for JSON, `text` for people.
  void CountSkip(const std::string& name, const std::string& text);
  // "not moving ahead on 12 of 300 records: too little seen ahead 3, turning on the spot 9\n"
  // (`noun`: what the run counts, "records" or "ticks").
  std::string Line(long long records, const char* noun = "records") const;
  // ,"stops":{"low_coverage":3,"turning":9},"commands":{"drove":288,"turned":9,"stood":3}
  // and, when the tracker was lost, ,"lost":{"records":40,"stopped":10}
  std::string Json() const;
  // "commands: drove on 288, turned on the spot on 9, stood still on 3 of 300 records\n"
  std::string CommandLine(long long records, const char* noun = "records") const;
  // Following: "tracker lost on 40 of 300 records: searching where last seen on 30, stopped on 10\n",
  // or nothing when it never was.
  std::string LostLine(long long records, const char* noun = "records") const;

 private:
  struct Entry {
    std::string name, text;
    long long count;
  };
  void Add(const std::string& name, const std::string& text);
  std::vector<Entry> entries_;  // in order of first appearance
  long long total_ = 0;
  // What the robot was told: to drive, to turn on the spot, or nothing.
  long long drove_ = 0, turned_ = 0, stood_ = 0;
  // Steps with the tracker lost, and those of them the search drove or turned.
  long long lost_ = 0, lost_stopped_ = 0;
};

// The record that closes every --json run before its summary: the command
// a consumer reads last is a stop.
// {"schema":1,"end":{"records":N},"command":{"speed":0,"turn_rate":0},"stopped":true,"reason":"end"}
std::string EndStopJson(long long records);
// ,"command":{"speed":0,"turn_rate":0}: every stop record's command.
void ZeroCommand(JsonWriter& w);

// The step's JSON object (PilotStepJson), with `extra` members (each
// ",\"key\":value") added before its closing brace.
std::string StepJson(const PilotStep& step, long long n, const std::string& extra = "");

// {"schema":1,"summary":{MEMBERS}}
std::string SummaryJson(const std::string& members);

// Why a run must end before its input does: a stop signal (after the line
// saying so), or standard output gone to a closed pipe (main then ends
// quietly). nullopt while it may go on.
std::optional<int> StopStatus();

#endif
