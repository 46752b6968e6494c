// SPDX-License-Identifier: BSD-3-Clause
#include "input/scan_text.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <new>
#include <system_error>

namespace {

// Sign of the decimal exponent of a token that from_chars found out of range:
// true when its magnitude is below 1 (it underflowed rather than overflowed).
bool BelowOne(const char* p, const char* end) {
  if (p != end && (*p == '+' || *p == '-')) ++p;
  long long magnitude = 0;  // position of the first significant digit, 10^magnitude
  bool seen = false, point = false;
  long long int_digits = 0, lead_zeros = 0;
  for (; p != end && *p != 'e' && *p != 'E'; ++p) {
    if (*p == '.') {
      point = true;
    } else if (!seen && *p == '0') {
      if (point) ++lead_zeros;
    } else {
      seen = true;
      if (!point) ++int_digits;
    }
  }
  magnitude = int_digits > 0 ? int_digits - 1 : -(lead_zeros + 1);
  long long exp = 0;
  bool neg = false;
  if (p != end) {
    ++p;
    if (p != end && (*p == '+' || *p == '-')) neg = *p++ == '-';
    for (; p != end && exp < 1000000000LL; ++p) exp = exp * 10 + (*p - '0');
  }
  return magnitude + (neg ? -exp : exp) < 0;
}

}  // namespace

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == ',' || c == '\r'; }

bool IsBlankOrComment(const char* p, const char* end) {
  while (p != end && IsSeparator(*p)) ++p;
  return p == end || *p == '#';
}

std::string Quote(const char* begin, const char* end) {
  std::string out = "'";
  std::size_t n = 0;
  for (const char* p = begin; p != end; ++p, ++n) {
    if (n == 24) {
      out += "...";
      break;
    }
    const unsigned char c = static_cast<unsigned char>(*p);
    out += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
  }
  return out + "'";
}

// Strict, locale-independent: the whole token must be one number.
bool ParseReading(const char* begin, const char* end, float& value, std::string& why) {
  const char* p = begin;
  if (p != end && *p == '+') {  // from_chars takes '-' but not '+'
    ++p;
    if (p == end || *p == '+' || *p == '-') {
      why = "is not a number";
      return false;
    }
  }
  const std::from_chars_result r = std::from_chars(p, end, value, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range && r.ptr == end) {
    why = BelowOne(p, end) ? "is too small for a float (underflow)" : "is out of the range of a float";
    return false;
  }
  if (r.ec != std::errc() || r.ptr != end) {
    why = "is not a number";
    return false;
  }
  return true;
}

LineKind ParseScanLine(const char* begin, const char* end, Scan& scan, std::string& why) {
  const char* p = begin;
  while (p != end && IsSeparator(*p)) ++p;
  if (p == end || *p == '#') return LineKind::kBlank;
  std::uint64_t count = 0;  // a line may hold more readings than an int counts
  while (p != end) {
    const char* tok = p;
    while (p != end && !IsSeparator(*p)) ++p;
    if (count < kScanReadings) {
      float v = 0.0f;
      std::string bad;
      if (!ParseReading(tok, p, v, bad)) {
        why = "reading " + std::to_string(count + 1) + " " + Quote(tok, p) + " " + bad;
        return LineKind::kError;
      }
      scan[static_cast<std::size_t>(count)] = v;
    }
    ++count;
    while (p != end && IsSeparator(*p)) ++p;
  }
  if (count != kScanReadings) {
    why = "expected 360 readings, found " + std::to_string(count);
    return LineKind::kError;
  }
  return LineKind::kScan;
}

bool ParseScanText(const std::string& text, std::vector<std::array<float, 360>>& scans,
                   ScanParseError& error) {
  scans.clear();
  error = {0, std::string()};
  try {
    const char* p = text.data();
    const char* const end = p + text.size();
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) p += 3;  // UTF-8 mark from some editors
    int line_no = 0;
    Scan scan{};
    std::string why;
    while (p != end) {
      const char* eol = p;
      while (eol != end && *eol != '\n' && *eol != '\r') ++eol;
      if (line_no == 2147483647) {
        error = {0, "too many lines"};
        scans.clear();
        return false;
      }
      ++line_no;
      const LineKind kind = ParseScanLine(p, eol, scan, why);
      if (kind == LineKind::kError) {
        error = {line_no, why};
        scans.clear();
        return false;
      }
      if (kind == LineKind::kScan) scans.push_back(scan);
      if (eol == end) break;
      p = eol + ((*eol == '\r' && eol + 1 != end && eol[1] == '\n') ? 2 : 1);
    }
    if (scans.empty()) {
      error = {0, "no scans in file"};
      return false;
    }
    return true;
  } catch (const std::bad_alloc&) {
    scans.clear();
    error = {0, "out of memory"};
    return false;
  }
}
