// SPDX-License-Identifier: BSD-3-Clause
#include "input/candidate_feed.h"

#include <cerrno>
#include <cstring>

#include "base/messages.h"
#include "input/file_kind.h"

CandidateFeed::~CandidateFeed() {
  if (f_ != nullptr) std::fclose(f_);
}

std::optional<int> CandidateFeed::Open(const std::string& path, long long scans) {
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

std::optional<int> CandidateFeed::Next(long long n, PilotPoint& p, bool& present) {
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

std::optional<int> CandidateFeed::Finish() {
  if (f_ == nullptr || !src_) return std::nullopt;
  Candidate c{};
  if (src_->Next(c) != CandidateSource::kEnd)
    return Fail(kExitBadInput, path_ + ": has more lines than the recording has scans");
  return std::nullopt;
}
