// SPDX-License-Identifier: BSD-3-Clause
// What an open input is: a regular file can be read twice, a pipe once.
#ifndef SCANPILOT_INPUT_FILE_KIND_H
#define SCANPILOT_INPUT_FILE_KIND_H

#include <cstdio>

#include <sys/stat.h>

inline bool IsRegular(std::FILE* f) {
  struct stat st {};
  return ::fstat(::fileno(f), &st) == 0 && S_ISREG(st.st_mode);
}

inline bool IsFolder(std::FILE* f) {
  struct stat st {};
  return ::fstat(::fileno(f), &st) == 0 && S_ISDIR(st.st_mode);
}

#endif
