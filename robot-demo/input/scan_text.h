// SPDX-License-Identifier: BSD-3-Clause
// Parser for recorded range scans, kept free of I/O so that tests and fuzz
// targets can drive it with any byte string.
//
// Format: one scan per line, 360 readings (index = degree, metres) separated
// by spaces, tabs or commas; runs of separators count as one. A reading is a
// decimal or exponent number, or inf / -inf / nan (any case, "infinity" too).
// A line whose first non-blank character is '#' is a comment; blank lines are
// skipped. Lines end with LF, CRLF or a lone CR; a leading UTF-8 byte order
// mark is ignored.
#ifndef SCANPILOT_INPUT_SCAN_TEXT_H
#define SCANPILOT_INPUT_SCAN_TEXT_H

#include <array>
#include <string>
#include <vector>

#include "base/scan.h"

struct ScanParseError {
  int line;             // 1-based; 0 when the error concerns the whole text
  std::string message;  // printable ASCII only, one line
};

// Parses the whole text of a scan file. Returns true and fills `scans`, or
// returns false, leaves `scans` empty and fills `error`. Never throws; the
// text may hold any bytes.
bool ParseScanText(const std::string& text, std::vector<std::array<float, 360>>& scans,
                   ScanParseError& error);

// ---- pieces shared with the streaming reader and the scanner formats -------

enum class LineKind { kBlank, kScan, kError };  // kBlank: blank or comment line

// One line, its end already removed. kScan fills `scan`; kError fills `why`
// (printable ASCII, without a line number).
LineKind ParseScanLine(const char* begin, const char* end, Scan& scan, std::string& why);

// Space, tab, comma (and a stray CR).
bool IsSeparator(char c);
// Nothing but separators, or a '#' comment.
bool IsBlankOrComment(const char* begin, const char* end);
// One whole token as a float; on failure `why` says "is not a number", "is
// out of the range of a float" or "is too small for a float (underflow)".
bool ParseReading(const char* begin, const char* end, float& value, std::string& why);
// A token for an error message: quoted, printable ASCII only, bounded length.
std::string Quote(const char* begin, const char* end);

#endif
