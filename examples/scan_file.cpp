#include "scan_file.h"

#include <charconv>
#include <cstddef>
#include <new>
#include <system_error>

namespace {

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == ',' || c == '\r'; }

// Quote a token for an error message: printable ASCII only, bounded length.
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
  if (r.ec == std::errc::result_out_of_range) {
    why = "is out of the range of a float";
    return false;
  }
  if (r.ec != std::errc() || r.ptr != end) {
    why = "is not a number";
    return false;
  }
  return true;
}

// Returns false with `error` set; `scans` receives the line's scan on success.
bool ParseLine(const char* begin, const char* end, int line_no, std::vector<Scan>& scans,
               ScanParseError& error) {
  const char* p = begin;
  while (p != end && IsSeparator(*p)) ++p;
  if (p == end || *p == '#') return true;  // blank or comment line
  Scan scan{};
  int count = 0;
  while (p != end) {
    const char* tok = p;
    while (p != end && !IsSeparator(*p)) ++p;
    if (count < kScanReadings) {
      float v = 0.0f;
      std::string why;
      if (!ParseReading(tok, p, v, why)) {
        error = {line_no, "reading " + std::to_string(count + 1) + " " + Quote(tok, p) + " " + why};
        return false;
      }
      scan[static_cast<std::size_t>(count)] = v;
    }
    ++count;
    while (p != end && IsSeparator(*p)) ++p;
  }
  if (count != kScanReadings) {
    error = {line_no, "expected 360 readings, found " + std::to_string(count)};
    return false;
  }
  scans.push_back(scan);
  return true;
}

}  // namespace

bool ParseScanText(const std::string& text, std::vector<std::array<float, 360>>& scans,
                   ScanParseError& error) {
  scans.clear();
  error = {0, std::string()};
  try {
    const char* p = text.data();
    const char* const end = p + text.size();
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) p += 3;  // UTF-8 mark from some editors
    int line_no = 0;
    while (p != end) {
      const char* eol = p;
      while (eol != end && *eol != '\n') ++eol;
      if (line_no == 2147483647) {
        error = {0, "too many lines"};
        scans.clear();
        return false;
      }
      ++line_no;
      if (!ParseLine(p, eol, line_no, scans, error)) {
        scans.clear();
        return false;
      }
      p = (eol == end) ? end : eol + 1;
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
