// SPDX-License-Identifier: BSD-3-Clause
#include "input/line_reader.h"

#include <cerrno>

#include <unistd.h>

#include "base/stop_signal.h"

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;

}  // namespace

LineReader::LineReader(std::FILE* in, std::size_t max_line) : in_(in), max_line_(max_line), buf_(kReadChunk) {}

bool LineReader::Fill() {
  if (eof_) return false;
  pos_ = 0;
  // fread would wait for a whole chunk; read() hands over what a pipe or a
  // device has now, so that a scan is planned as soon as its line is in.
  // A stream without a descriptor (a memory FILE) has no such wait.
  const int fd = ::fileno(in_);
  if (fd >= 0) {
    ssize_t n;
    while ((n = ::read(fd, buf_.data(), buf_.size())) < 0 && errno == EINTR && StopSignal() == 0) {
    }
    if (n < 0) errno_ = errno != 0 ? errno : EIO;
    len_ = n > 0 ? static_cast<std::size_t>(n) : 0;
  } else {
    len_ = std::fread(buf_.data(), 1, buf_.size(), in_);
    if (len_ == 0 && std::ferror(in_)) errno_ = errno != 0 ? errno : EIO;
  }
  if (len_ == 0) {
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
