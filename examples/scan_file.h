// Parser for recorded range scans, kept free of I/O so that tests and fuzz
// targets can drive it with any byte string.
//
// Format: one scan per line, 360 readings (index = degree, metres) separated
// by spaces, tabs or commas; runs of separators count as one. A reading is a
// decimal or exponent number, or inf / -inf / nan (any case, "infinity" too).
// A line whose first non-blank character is '#' is a comment; blank lines are
// skipped; a trailing '\r' (CRLF files) and a leading UTF-8 byte order mark
// are ignored.
#ifndef SCANPILOT_SCAN_FILE_H
#define SCANPILOT_SCAN_FILE_H

#include <array>
#include <string>
#include <vector>

constexpr int kScanReadings = 360;
using Scan = std::array<float, kScanReadings>;

struct ScanParseError {
  int line;             // 1-based; 0 when the error concerns the whole text
  std::string message;  // printable ASCII only, one line
};

// Parses the whole text of a scan file. Returns true and fills `scans`, or
// returns false, leaves `scans` empty and fills `error`. Never throws; the
// text may hold any bytes.
bool ParseScanText(const std::string& text, std::vector<std::array<float, 360>>& scans,
                   ScanParseError& error);

#endif
