// SPDX-License-Identifier: BSD-3-Clause
// Scan-file parser fuzz target: any bytes give either scans or one error
// line pointing into the text, never a crash. Accepted scans must survive a
// print-and-parse round trip bit for bit.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "input/scan_text.h"

namespace {

bool Blank(char c) { return c == ' ' || c == '\t' || c == ',' || c == '\r'; }

// Lines that must hold a scan: neither blank nor a comment.
int DataLines(const std::string& text, int& lines) {
  int data = 0;
  lines = 0;
  size_t p = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;  // byte order mark
  while (p < text.size()) {  // lines end with LF, CRLF or a lone CR
    size_t eol = text.find_first_of("\r\n", p);
    if (eol == std::string::npos) eol = text.size();
    ++lines;
    size_t q = p;
    while (q < eol && Blank(text[q])) ++q;
    if (q < eol && text[q] != '#') ++data;
    p = eol + (eol + 1 < text.size() && text[eol] == '\r' && text[eol + 1] == '\n' ? 2 : 1);
  }
  return data;
}

std::string Print(const std::vector<std::array<float, 360>>& scans) {
  std::string out;
  char buf[48];
  for (const auto& scan : scans) {
    for (size_t i = 0; i < scan.size(); ++i) {
      if (std::isnan(scan[i])) {
        std::snprintf(buf, sizeof buf, "%snan", i ? " " : "");
      } else {
        std::snprintf(buf, sizeof buf, "%s%.9g", i ? " " : "", static_cast<double>(scan[i]));
      }
      out += buf;
    }
    out += '\n';
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::array<float, 360>> scans;
  ScanParseError error{-7, "unset"};
  int lines = 0;
  const int dataLines = DataLines(text, lines);
  if (ParseScanText(text, scans, error)) {
    CHECK(!scans.empty(), "success without scans");
    CHECK(static_cast<int>(scans.size()) == dataLines, "%zu scans from %d data lines",
          scans.size(), dataLines);
    std::vector<std::array<float, 360>> again;
    ScanParseError error2{0, ""};
    CHECK(ParseScanText(Print(scans), again, error2), "round trip rejected: %d %s", error2.line,
          error2.message.c_str());
    CHECK(again.size() == scans.size(), "round trip changed the scan count");
    for (size_t s = 0; s < scans.size(); ++s) {
      for (size_t i = 0; i < 360; ++i) {
        const float a = scans[s][i], b = again[s][i];
        CHECK(std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b)),
              "scan %zu reading %zu: %a became %a", s, i, a, b);
      }
    }
    return 0;
  }
  CHECK(scans.empty(), "failure left %zu scans", scans.size());
  CHECK(error.line >= 0 && error.line <= lines, "error line %d of %d", error.line, lines);
  CHECK(!error.message.empty(), "empty error message");
  for (char c : error.message) {
    CHECK(c >= 0x20 && c < 0x7f, "error message byte 0x%02x", static_cast<unsigned char>(c));
  }
  return 0;
}
