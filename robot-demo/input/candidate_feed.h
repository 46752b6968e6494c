// SPDX-License-Identifier: BSD-3-Clause
// --candidates: a detector's candidates, one line per scan, read alongside
// the scans. A regular file is checked whole first, and against the
// recording's count when known. Each call returns the exit status (already
// reported) when the run must stop.
#ifndef SCANPILOT_INPUT_CANDIDATE_FEED_H
#define SCANPILOT_INPUT_CANDIDATE_FEED_H

#include <cstdio>
#include <optional>
#include <string>

#include "input/candidates.h"
#include "scanpilot.h"

class CandidateFeed {
 public:
  CandidateFeed() = default;
  CandidateFeed(const CandidateFeed&) = delete;
  CandidateFeed& operator=(const CandidateFeed&) = delete;
  ~CandidateFeed();
  // No path: no candidates. `scans`: the recording's count, or -1.
  std::optional<int> Open(const std::string& path, long long scans);
  // The candidate for scan n.
  std::optional<int> Next(long long n, PilotPoint& p, bool& present);
  // After the last scan: no lines may be left.
  std::optional<int> Finish();

 private:
  std::string path_;
  std::FILE* f_ = nullptr;
  std::optional<CandidateSource> src_;
};

#endif
