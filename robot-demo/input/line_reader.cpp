#include "input/line_reader.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;

}  // namespace

LineReader::LineReader(std::FILE* in, std::size_t max_line) : in_(in), max_line_(max_line), buf_(kReadChunk) {}

bool LineReader::Fill() {
  if (eof_) return false;
  pos_ = 0;
  len_ = std::fread(buf_.data(), 1, buf_.size(), in_);
  if (len_ == 0) {
    if (std::ferror(in_)) errno_ = errno != 0 ? errno : EIO;
    eof_ = true;
    return false;
  }
  return true;
}

LineReader::Status LineReader::Next(std::string_view& line) {
  if (errno_ != 0) return kReadError;
  line_.clear();
  bool started = false;
  for (;;) {
    if (pos_ == len_ && !Fill()) {
      if (errno_ != 0) return kReadError;
      if (!started) return kEnd;
      break;  // a last line without a line end
    }
    if (skip_lf_) {
      skip_lf_ = false;
      if (buf_[pos_] == '\n') {
        ++pos_;
        continue;
      }
    }
    if (!started) {
      started = true;
      ++line_no_;
    }
    const char* const b = buf_.data() + pos_;
    const char* const e = buf_.data() + len_;
    const char* p = b;
    while (p != e && *p != '\n' && *p != '\r') ++p;
    const auto n = static_cast<std::size_t>(p - b);
    if (line_.size() + n > max_line_) return kTooLong;
    line_.append(b, n);
    pos_ += n;
    if (p != e) {
      skip_lf_ = *p == '\r';
      ++pos_;
      break;
    }
  }
  std::string_view v(line_);
  if (line_no_ == 1 && v.substr(0, 3) == "\xEF\xBB\xBF") v.remove_prefix(3);
  line = v;
  return kLine;
}

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
