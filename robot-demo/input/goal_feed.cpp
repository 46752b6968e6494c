// SPDX-License-Identifier: BSD-3-Clause
#include "input/goal_feed.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

GoalFeed::~GoalFeed() {
  if (f_ != nullptr) std::fclose(f_);
}

bool GoalFeed::Open(const std::string& path, std::string& why) {
  if (path.empty()) return true;
  path_ = path;
  f_ = std::fopen(path.c_str(), "rb");
  if (f_ == nullptr) {
    why = path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  reader_.emplace(f_);
  return true;
}

bool ParseGoalLine(const std::string& line, double& x, double& y) {
  double v[2];
  int n = 0;
  std::size_t p = 0;
  auto sep = [](char c) { return c == ' ' || c == '\t' || c == ',' || c == '\r'; };
  for (;;) {
    while (p < line.size() && sep(line[p])) ++p;
    if (p == line.size()) break;
    std::size_t e = p;
    while (e < line.size() && !sep(line[e])) ++e;
    if (n == 2) return false;
    const auto r = std::from_chars(line.data() + p, line.data() + e, v[n]);
    if (r.ec != std::errc() || r.ptr != line.data() + e || !std::isfinite(v[n])) return false;
    ++n;
    p = e;
  }
  if (n != 2) return false;
  x = v[0];
  y = v[1];
  return true;
}

bool GoalFeed::Next(double& x, double& y, std::string& why) {
  std::string_view line;
  switch (reader_->Next(line)) {
    case LineReader::kLine: break;
    case LineReader::kEnd: why = path_ + ": ends before the scans do; it needs one goal per scan"; return false;
    case LineReader::kTooLong:
      why = path_ + ":" + std::to_string(reader_->LineNumber()) + ": line too long";
      return false;
    case LineReader::kReadError: why = path_ + ": cannot read: " + std::strerror(reader_->ReadErrno()); return false;
  }
  if (!ParseGoalLine(std::string(line), x, y)) {
    why =
        path_ + ":" + std::to_string(reader_->LineNumber()) + ": expected a goal 'x y' in metres (two finite numbers)";
    return false;
  }
  return true;
}

bool GoalFeed::AtEnd() {
  std::string_view line;
  return reader_->Next(line) == LineReader::kEnd;
}
