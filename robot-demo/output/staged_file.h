// SPDX-License-Identifier: BSD-3-Clause
// A file written all or nothing: into a temporary file beside its path
// (".NAME.robot-demo-XXXXXX", flocked while in use), flushed to disk and
// renamed over the path by Commit, the folder flushed after. Destroyed
// uncommitted, it removes the temporary file, so a failed run leaves nothing
// behind; Open removes those of earlier runs that were killed. A path that is
// not a regular file (a FIFO, a terminal, /dev/stdout) is written through as
// the data comes, each Write whole, and never replaced.
//
// Beside OutputSet on purpose: that one owns a whole output folder (a lock,
// a journal, this program's earlier pictures cleared), while this is one file
// the user named anywhere, often a FIFO or /dev/stdout written as the run
// goes. Neither can do the other's job without taking on all of it.
#ifndef SCANPILOT_OUTPUT_STAGED_FILE_H
#define SCANPILOT_OUTPUT_STAGED_FILE_H

#include <cstddef>
#include <cstdio>
#include <string>

class StagedFile {
 public:
  StagedFile() = default;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  ~StagedFile();
  // False, with the reason, when `path` is a directory, its folder is
  // missing or cannot be written, or it cannot be opened.
  bool Open(const std::string& path, std::string& why);
  bool IsOpen() const { return f_ != nullptr; }
  bool Write(const void* data, std::size_t n);  // false once a write has failed
  // Completes the file and renames it over the path; false with the reason
  // (and the temporary file removed) when any of it failed.
  bool Commit(std::string& why);

 private:
  bool OpenTemp(const std::string& target, std::string& why);
  bool OpenStream(const std::string& path, bool append, std::string& why);

  std::string path_, temp_;  // temp_ empty: written through
  std::FILE* f_ = nullptr;
  bool failed_ = false;
  int errno_ = 0;
};

#endif
