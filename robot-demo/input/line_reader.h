// Reading a recording line by line and writing converted scans, both in
// bounded memory whatever the length of the recording.
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

// The 360 readings of a scan as one line of the default format: each float
// printed so that it reads back to the same bits, "inf" for +inf.
void AppendScanLine(const Scan& scan, std::string& out);

// Writes scans to `path` all or nothing: into a temporary file beside it,
// renamed over `path` by Commit. Destroying it uncommitted removes the
// temporary file.
class ScanSaver {
 public:
  ScanSaver() = default;
  ScanSaver(const ScanSaver&) = delete;
  ScanSaver& operator=(const ScanSaver&) = delete;
  ~ScanSaver();
  bool Open(const std::string& path, std::string& why);
  bool Add(const Scan& scan);  // false once a write has failed
  bool Commit(std::string& why);

 private:
  std::string path_, temp_;
  std::FILE* f_ = nullptr;
  std::string line_;
  bool failed_ = false;
  int errno_ = 0;
};

#endif
