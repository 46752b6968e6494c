// SPDX-License-Identifier: BSD-3-Clause
// --goals: a goal per scan for a replay, "x y" in metres in the robot frame
// (as a map run's --save-scans writes them beside the scans), read alongside
// the scans one line at a time. Each goal goes through PilotWindowGoal, as
// in the run that made it, so that the replay takes the same steps.
#ifndef SCANPILOT_INPUT_GOAL_FEED_H
#define SCANPILOT_INPUT_GOAL_FEED_H

#include <cstdio>
#include <optional>
#include <string>

#include "input/line_reader.h"

class GoalFeed {
 public:
  GoalFeed() = default;
  GoalFeed(const GoalFeed&) = delete;
  GoalFeed& operator=(const GoalFeed&) = delete;
  ~GoalFeed();
  // Opens `path` (nothing to do when empty); false with one line naming the file.
  bool Open(const std::string& path, std::string& why);
  bool IsOpen() const { return f_ != nullptr; }
  // The next scan's goal; false with "FILE:LINE: what" (or the file's end).
  bool Next(double& x, double& y, std::string& why);
  // After the last scan: true when no line is left.
  bool AtEnd();
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::FILE* f_ = nullptr;
  std::optional<LineReader> reader_;
};

// "x y" (spaces, tabs or a comma between): two finite numbers, read exactly.
bool ParseGoalLine(const std::string& line, double& x, double& y);

#endif
