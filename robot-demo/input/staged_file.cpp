#include "input/staged_file.h"

#include <cerrno>
#include <cstring>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

StagedFile::~StagedFile() {
  if (f_ != nullptr) {
    std::fclose(f_);
    ::unlink(temp_.c_str());
  }
}

bool StagedFile::Open(const std::string& path, std::string& why) {
  path_ = path;
  temp_ = path + ".XXXXXX";
  const int fd = ::mkstemp(temp_.data());
  if (fd < 0) {
    why = std::string("cannot create a file beside it: ") + std::strerror(errno);
    return false;
  }
  // mkstemp's 0600 would surprise whoever reads the file next: use the
  // mode a plain fopen would give.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  (void)::fchmod(fd, 0666 & ~mask);
  f_ = ::fdopen(fd, "wb");
  if (f_ == nullptr) {
    why = std::strerror(errno);
    ::close(fd);
    ::unlink(temp_.c_str());
    return false;
  }
  return true;
}

bool StagedFile::Write(const void* data, std::size_t n) {
  if (failed_ || f_ == nullptr) return false;
  if (n > 0 && std::fwrite(data, 1, n, f_) != n) {
    failed_ = true;
    errno_ = errno;
  }
  return !failed_;
}

bool StagedFile::Commit(std::string& why) {
  if (f_ == nullptr) {
    why = "not open";
    return false;
  }
  std::FILE* f = f_;
  f_ = nullptr;
  if (!failed_ && std::fflush(f) != 0) {
    failed_ = true;
    errno_ = errno;
  }
  if (std::fclose(f) != 0 && !failed_) {
    failed_ = true;
    errno_ = errno;
  }
  if (!failed_ && std::rename(temp_.c_str(), path_.c_str()) != 0) {
    failed_ = true;
    errno_ = errno;
  }
  if (failed_) {
    ::unlink(temp_.c_str());
    why = std::string("cannot write: ") + std::strerror(errno_);
    return false;
  }
  return true;
}
