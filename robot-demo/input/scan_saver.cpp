#include "input/scan_saver.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

void AppendScanLine(const Scan& scan, std::string& out) {
  char buf[32];
  for (std::size_t i = 0; i < scan.size(); ++i) {
    if (i > 0) out += ' ';
    const float v = scan[i];
    if (std::isnan(v)) {
      out += "nan";  // the tokens the reader accepts; to_chars could write "-nan"
      continue;
    }
    const auto r = std::to_chars(buf, buf + sizeof buf, v);  // shortest round trip; "inf", "-inf"
    out.append(buf, r.ptr);
  }
  out += '\n';
}

ScanSaver::~ScanSaver() {
  if (f_ != nullptr) {
    std::fclose(f_);
    ::unlink(temp_.c_str());
  }
}

bool ScanSaver::Open(const std::string& path, std::string& why) {
  path_ = path;
  temp_ = path + ".XXXXXX";
  const int fd = ::mkstemp(temp_.data());
  if (fd < 0) {
    why = std::string("cannot create a file beside it: ") + std::strerror(errno);
    return false;
  }
  // mkstemp's 0600 would surprise whoever reads the scans next: use the
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

bool ScanSaver::Add(const Scan& scan) {
  if (failed_ || f_ == nullptr) return false;
  line_.clear();
  AppendScanLine(scan, line_);
  if (std::fwrite(line_.data(), 1, line_.size(), f_) != line_.size()) {
    failed_ = true;
    errno_ = errno;
  }
  return !failed_;
}

bool ScanSaver::Commit(std::string& why) {
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
