// SPDX-License-Identifier: BSD-3-Clause
#include "base/std_streams.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

bool CheckStandardStreams() {
  if (::fcntl(STDOUT_FILENO, F_GETFD) == -1) return false;
  for (int fd : {STDIN_FILENO, STDERR_FILENO}) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    const int got = ::open("/dev/null", O_RDWR);
    if (got != fd && got >= 0) ::close(got);
  }
  return true;
}

namespace {
bool g_stdout_pipe_closed = false;
}  // namespace

void NoteStdoutError(int err) {
  if (err == EPIPE) g_stdout_pipe_closed = true;
}

bool StdoutPipeClosed() { return g_stdout_pipe_closed; }

void Print(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  errno = 0;
  if (std::vprintf(format, args) < 0) NoteStdoutError(errno);
  va_end(args);
}

bool FlushStdout(std::string& why) {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  const int err = errno;
  NoteStdoutError(err);
  if (flushed && std::ferror(stdout) == 0) return true;
  why = err != 0 ? std::strerror(err) : "some of it was lost";
  return false;
}
