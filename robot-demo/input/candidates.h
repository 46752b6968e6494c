// SPDX-License-Identifier: BSD-3-Clause
// A detector's candidates for the tracker, one line per scan: "x y" in
// metres in the robot frame (spaces or a comma between them), or an empty
// line for a scan without one. Read alongside the scans, one line at a time.
#ifndef SCANPILOT_INPUT_CANDIDATES_H
#define SCANPILOT_INPUT_CANDIDATES_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "input/line_reader.h"

struct Candidate {
  bool present;
  float x, y;
};

class CandidateSource {
 public:
  enum Result { kCandidate, kEnd, kError };
  explicit CandidateSource(std::FILE* in, std::size_t max_line = kMaxLineBytes);
  // The next scan's candidate. kEnd when the file has no more lines; kError
  // is final and Error() says why, with the line number.
  Result Next(Candidate& c);
  std::uint64_t Lines() const { return reader_.LineNumber(); }
  const std::string& Error() const { return error_; }

 private:
  LineReader reader_;
  std::string error_;
};

// One line's candidate; false with `why` (printable ASCII) when the line is
// neither two finite numbers nor empty.
bool ParseCandidateLine(const char* begin, const char* end, Candidate& c, std::string& why);

#endif
