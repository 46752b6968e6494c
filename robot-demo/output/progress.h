// SPDX-License-Identifier: BSD-3-Clause
// A line on standard error a few times a second while a long replay runs.
#ifndef SCANPILOT_OUTPUT_PROGRESS_H
#define SCANPILOT_OUTPUT_PROGRESS_H

#include <chrono>

class Progress {
 public:
  // `total`: the scans to come, or -1 when unknown.
  Progress(bool on, long long total) : on_(on), total_(total), last_(std::chrono::steady_clock::now()) {}
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  ~Progress() { Done(); }  // a run that stops early leaves no progress line behind
  void Tick(long long done);
  // Clears the line, so that the next one starts a line of its own.
  void Done();

 private:
  bool on_;
  long long total_;
  std::chrono::steady_clock::time_point last_;
  bool shown_ = false;
};

#endif
