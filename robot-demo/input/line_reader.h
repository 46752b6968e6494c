// SPDX-License-Identifier: BSD-3-Clause
// Reading a recording line by line, in bounded memory whatever its length.
#ifndef SCANPILOT_INPUT_LINE_READER_H
#define SCANPILOT_INPUT_LINE_READER_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "input/scan_text.h"

// Longest line accepted, its line end not counted. A 720-sample turn in the
// ranges format takes about 6 KiB; this leaves room for any real scanner
// while a file without line ends (/dev/zero) fails fast.
constexpr std::size_t kMaxLineBytes = std::size_t{4} << 20;  // 4 MiB

// Splits a stream into lines ending with LF, CRLF or a lone CR; a leading
// UTF-8 byte order mark is dropped. Holds one line at a time.
class LineReader {
 public:
  enum Status { kLine, kEnd, kTooLong, kReadError };
  explicit LineReader(std::FILE* in, std::size_t max_line = kMaxLineBytes);
  // kLine: `line` holds the next line without its end, valid until the next
  // call. kTooLong and kReadError are final; LineNumber() names the line.
  Status Next(std::string_view& line);
  std::uint64_t LineNumber() const { return line_no_; }
  int ReadErrno() const { return errno_; }

 private:
  bool Fill();
  std::FILE* in_;
  std::size_t max_line_;
  std::vector<char> buf_;
  std::size_t pos_ = 0, len_ = 0;
  bool eof_ = false;
  bool skip_lf_ = false;  // the last line ended with CR: a following LF belongs to it
  int errno_ = 0;
  std::string line_;
  std::uint64_t line_no_ = 0;
};

#endif
