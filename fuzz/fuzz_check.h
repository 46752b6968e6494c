// SPDX-License-Identifier: BSD-3-Clause
// Invariant check for the fuzz targets: report what failed, then abort so
// libFuzzer keeps the input as a crash.
#ifndef SCANPILOT_FUZZ_CHECK_H
#define SCANPILOT_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>

#define CHECK(cond, ...)                                      \
  do {                                                        \
    if (!(cond)) {                                            \
      std::fprintf(stderr, "invariant failed: %s: ", #cond); \
      std::fprintf(stderr, __VA_ARGS__);                      \
      std::fprintf(stderr, "\n");                             \
      std::abort();                                           \
    }                                                         \
  } while (0)

#endif
