// SPDX-License-Identifier: BSD-3-Clause
// --save-raw: the bytes of a scanner's stream exactly as the run took them
// from the port, written all or nothing (StagedFile), so that replaying the
// file with --format lds gives the run's records again.
#ifndef SCANPILOT_OUTPUT_RAW_RECORDER_H
#define SCANPILOT_OUTPUT_RAW_RECORDER_H

#include <string>

#include "input/lds_source.h"
#include "output/staged_file.h"

class RawRecorder : public RawSink {
 public:
  bool Open(const std::string& path, std::string& why) { return file_.Open(path, why); }
  void Record(const unsigned char* data, std::size_t n) override { file_.Write(data, n); }
  bool Commit(std::string& why) { return file_.Commit(why); }

 private:
  StagedFile file_;
};

#endif
