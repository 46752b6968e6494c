// SPDX-License-Identifier: BSD-3-Clause
#include "input/candidates.h"

#include <cerrno>
#include <cmath>
#include <cstring>

#include "input/scan_text.h"

bool ParseCandidateLine(const char* begin, const char* end, Candidate& c, std::string& why) {
  c = {false, 0.0f, 0.0f};
  float v[2] = {0.0f, 0.0f};
  int n = 0;
  const char* p = begin;
  for (;;) {
    while (p != end && IsSeparator(*p)) ++p;
    if (p == end) break;
    const char* t = p;
    while (p != end && !IsSeparator(*p)) ++p;
    if (n == 2) {
      why = "expected 'x y' in metres or an empty line, found more than two numbers";
      return false;
    }
    std::string token_why;
    if (!ParseReading(t, p, v[n], token_why)) {
      why = Quote(t, p) + " " + token_why;
      return false;
    }
    if (!std::isfinite(v[n])) {
      why = Quote(t, p) + " is not a finite position";
      return false;
    }
    ++n;
  }
  if (n == 1) {
    why = "expected 'x y' in metres or an empty line, found one number";
    return false;
  }
  c = {n == 2, v[0], v[1]};
  return true;
}

CandidateSource::CandidateSource(std::FILE* in, std::size_t max_line) : reader_(in, max_line) {}

CandidateSource::Result CandidateSource::Next(Candidate& c) {
  if (!error_.empty()) return kError;
  std::string_view line;
  switch (reader_.Next(line)) {
    case LineReader::kLine: break;
    case LineReader::kEnd: return kEnd;
    case LineReader::kTooLong:
      error_ = std::to_string(reader_.LineNumber()) + ": line too long";
      return kError;
    case LineReader::kReadError:
      error_ = std::string("cannot read: ") + std::strerror(reader_.ReadErrno());
      return kError;
  }
  std::string why;
  if (!ParseCandidateLine(line.data(), line.data() + line.size(), c, why)) {
    error_ = std::to_string(reader_.LineNumber()) + ": " + why;
    return kError;
  }
  return kCandidate;
}
