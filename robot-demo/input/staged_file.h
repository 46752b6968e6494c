// A file written all or nothing: into a temporary file beside its path,
// renamed over the path by Commit. Destroyed uncommitted, it removes the
// temporary file, so a failed run leaves nothing behind.
#ifndef SCANPILOT_INPUT_STAGED_FILE_H
#define SCANPILOT_INPUT_STAGED_FILE_H

#include <cstddef>
#include <cstdio>
#include <string>

class StagedFile {
 public:
  StagedFile() = default;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  ~StagedFile();
  // Creates the temporary file; false with the reason when it cannot.
  bool Open(const std::string& path, std::string& why);
  bool IsOpen() const { return f_ != nullptr; }
  bool Write(const void* data, std::size_t n);  // false once a write has failed
  // Completes the file and renames it over the path; false with the reason
  // (and the temporary file removed) when any of it failed.
  bool Commit(std::string& why);

 private:
  std::string path_, temp_;
  std::FILE* f_ = nullptr;
  bool failed_ = false;
  int errno_ = 0;
};

#endif
