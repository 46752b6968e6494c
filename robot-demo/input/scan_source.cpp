// SPDX-License-Identifier: BSD-3-Clause
#include "input/scan_source.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

namespace {

// Samples are binned this many at a time, so a turn of any length takes
// bounded memory. Smallest-wins makes binning in pieces exact.
constexpr std::size_t kSampleBatch = 4096;

// A turn starts unseen: a degree no sample reaches stays NaN, not free.
void BlankScan(Scan& s) { s.fill(std::numeric_limits<float>::quiet_NaN()); }

}  // namespace

ScanSource::ScanSource(std::FILE* in, ScanFormat format, const ScanLayout& layout, std::size_t max_line)
    : reader_(in, max_line), format_(format), layout_(layout) {
  BlankScan(turn_);
}

ScanSource::Result ScanSource::Fail(std::uint64_t line, std::string message) {
  error_line_ = line;
  error_ = std::move(message);
  return kError;
}

LineReader::Status ScanSource::NextLine(std::string_view& line, bool& blank) {
  for (;;) {
    const LineReader::Status st = reader_.Next(line);
    if (st != LineReader::kLine) {
      if (st == LineReader::kTooLong)
        Fail(reader_.LineNumber(), "line longer than " + std::to_string(kMaxLineBytes >> 20) + " MiB (" +
                                       std::to_string(kMaxLineBytes) + " bytes)");
      else if (st == LineReader::kReadError)
        Fail(0, std::string("cannot read: ") + std::strerror(reader_.ReadErrno()));
      return st;
    }
    const char* b = line.data();
    const char* e = b + line.size();
    const char* p = b;
    while (p != e && IsSeparator(*p)) ++p;
    if (p != e && *p == '#') continue;  // comments do not end a turn
    blank = p == e;
    return st;
  }
}

ScanSource::Result ScanSource::Next(Scan& scan) {
  if (!error_.empty()) return kError;
  switch (format_) {
    case ScanFormat::kDegrees: return NextDegrees(scan);
    case ScanFormat::kRanges: return NextRanges(scan);
    case ScanFormat::kSamples: return NextSamples(scan);
    case ScanFormat::kLds:     // not text: LdsTurnSource reads it
    case ScanFormat::kRosbag:  // nor this: the bag source does
    case ScanFormat::kRosbag2: break;
  }
  return kEnd;
}

ScanSource::Result ScanSource::NextDegrees(Scan& scan) {
  std::string_view line;
  bool blank = false;
  std::string why;
  for (;;) {
    const LineReader::Status st = NextLine(line, blank);
    if (st == LineReader::kEnd) return kEnd;
    if (st != LineReader::kLine) return kError;
    if (blank) continue;
    if (ParseScanLine(line.data(), line.data() + line.size(), scan, why) == LineKind::kError)
      return Fail(reader_.LineNumber(), why);
    return kScan;
  }
}

ScanSource::Result ScanSource::NextRanges(Scan& scan) {
  std::string_view line;
  bool blank = false;
  for (;;) {
    const LineReader::Status st = NextLine(line, blank);
    if (st == LineReader::kEnd) return kEnd;
    if (st != LineReader::kLine) return kError;
    if (blank) continue;
    values_.clear();
    const char* p = line.data();
    const char* const e = p + line.size();
    std::string why;
    while (p != e) {
      while (p != e && IsSeparator(*p)) ++p;
      if (p == e) break;
      const char* tok = p;
      while (p != e && !IsSeparator(*p)) ++p;
      float v = 0.0f;
      if (!ParseReading(tok, p, v, why))
        return Fail(reader_.LineNumber(),
                    "range " + std::to_string(values_.size() + 1) + " " + Quote(tok, p) + " " + why);
      values_.push_back(v);
    }
    if (few_values_line_ == 0 && values_.size() >= 2 && values_.size() <= 3) few_values_line_ = reader_.LineNumber();
    if (!BinEvenScanSeen(values_.data(), values_.size(), layout_, scan.data()))
      return Fail(reader_.LineNumber(), "the scanner layout is not valid");
    return kScan;
  }
}

void ScanSource::FlushSamples() {
  if (angles_.empty()) return;
  float bins[kScanReadings];
  BinSamplesSeen(angles_.data(), raws_.data(), angles_.size(), layout_, bins);
  MergeSeen(turn_.data(), bins);
  angles_.clear();
  raws_.clear();
}

ScanSource::Result ScanSource::FinishTurn(Scan& scan) {
  FlushSamples();
  scan = turn_;
  BlankScan(turn_);
  in_turn_ = false;
  have_angle_ = false;
  return kScan;
}

void ScanSource::AddSample(float angle, float raw) {
  // NaN angles are skipped by the binning and do not move the turn's angle.
  if (!std::isnan(angle)) {
    last_angle_ = angle;
    have_angle_ = true;
  }
  in_turn_ = true;
  angles_.push_back(angle);
  raws_.push_back(raw);
  if (angles_.size() == kSampleBatch) FlushSamples();
}

ScanSource::Result ScanSource::ParseSample(std::string_view line, float& angle, float& raw) {
  const char* p = line.data();
  const char* const e = p + line.size();
  const char* tok[3][2] = {};
  std::size_t n = 0;
  while (p != e) {
    while (p != e && IsSeparator(*p)) ++p;
    if (p == e) break;
    const char* b = p;
    while (p != e && !IsSeparator(*p)) ++p;
    if (n < 3) {
      tok[n][0] = b;
      tok[n][1] = p;
    }
    ++n;
  }
  if (n > 3)
    return Fail(reader_.LineNumber(), "expected 'angle range' or 'angle range quality', found " + std::to_string(n) +
                                          " values" + (n > kTurnLineValues ? " (one turn per line is --format ranges)" : ""));
  if (n < 2) return Fail(reader_.LineNumber(), "expected 'angle range' or 'angle range quality', found one value");
  std::string why;
  if (!ParseReading(tok[0][0], tok[0][1], angle, why))
    return Fail(reader_.LineNumber(), "angle " + Quote(tok[0][0], tok[0][1]) + " " + why);
  if (!ParseReading(tok[1][0], tok[1][1], raw, why))
    return Fail(reader_.LineNumber(), "range " + Quote(tok[1][0], tok[1][1]) + " " + why);
  return kScan;
}

ScanSource::Result ScanSource::NextSamples(Scan& scan) {
  if (pending_) {
    pending_ = false;
    AddSample(pending_angle_, pending_raw_);
  }
  std::string_view line;
  bool blank = false;
  for (;;) {
    const LineReader::Status st = NextLine(line, blank);
    if (st == LineReader::kEnd) return in_turn_ ? FinishTurn(scan) : kEnd;
    if (st != LineReader::kLine) return kError;
    if (blank) {
      if (in_turn_) return FinishTurn(scan);
      continue;
    }
    float angle = 0.0f, raw = 0.0f;
    if (ParseSample(line, angle, raw) == kError) return kError;
    if (have_angle_ && angle < last_angle_) {  // the scanner started its next turn
      pending_ = true;
      pending_angle_ = angle;
      pending_raw_ = raw;
      return FinishTurn(scan);
    }
    AddSample(angle, raw);
  }
}
