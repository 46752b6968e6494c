// SPDX-License-Identifier: BSD-3-Clause
// Writing the scans a replay fed the planner, in the default format and in
// bounded memory whatever the length of the recording.
#ifndef SCANPILOT_OUTPUT_SCAN_SAVER_H
#define SCANPILOT_OUTPUT_SCAN_SAVER_H

#include <cstdio>
#include <string>

#include "input/scan_text.h"
#include "output/staged_file.h"

// The 360 readings of a scan as one line of the default format: each float
// printed so that it reads back to the same bits, "inf" for +inf.
void AppendScanLine(const Scan& scan, std::string& out);

// Writes scans to `path` all or nothing (StagedFile): a regular file is
// replaced by Commit only, a stream (a FIFO, /dev/stdout) gets each scan
// whole as it comes.
class ScanSaver {
 public:
  bool Open(const std::string& path, std::string& why) { return file_.Open(path, why); }
  bool Add(const Scan& scan);  // false once a write has failed
  bool Commit(std::string& why) { return file_.Commit(why); }

 private:
  StagedFile file_;
  std::string line_;
};

#endif
