// Writing the scans a replay fed the planner, in the default format and in
// bounded memory whatever the length of the recording.
#ifndef SCANPILOT_INPUT_SCAN_SAVER_H
#define SCANPILOT_INPUT_SCAN_SAVER_H

#include <cstdio>
#include <string>

#include "input/scan_text.h"

// The 360 readings of a scan as one line of the default format: each float
// printed so that it reads back to the same bits, "inf" for +inf.
void AppendScanLine(const Scan& scan, std::string& out);

// Writes scans to `path` all or nothing: into a temporary file beside it
// (".NAME.robot-demo-XXXXXX", flocked while in use), flushed to disk and
// renamed over `path` by Commit. Destroying it uncommitted removes the
// temporary file; Open removes those of earlier runs that were killed. A
// `path` that is not a regular file (a FIFO, a terminal, /dev/stdout) is
// written through as the scans come and never replaced.
class ScanSaver {
 public:
  ScanSaver() = default;
  ScanSaver(const ScanSaver&) = delete;
  ScanSaver& operator=(const ScanSaver&) = delete;
  ~ScanSaver();
  // False, with the reason, when `path` is a directory, its folder is
  // missing or cannot be written, or it cannot be opened.
  bool Open(const std::string& path, std::string& why);
  bool Add(const Scan& scan);  // false once a write has failed
  bool Commit(std::string& why);

 private:
  bool OpenTemp(const std::string& target, std::string& why);
  bool OpenStream(const std::string& path, bool append, std::string& why);

  std::string path_, temp_;  // temp_ empty: written through
  std::FILE* f_ = nullptr;
  std::string line_;
  bool failed_ = false;
  int errno_ = 0;
};

#endif
