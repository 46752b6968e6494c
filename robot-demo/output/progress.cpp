// SPDX-License-Identifier: BSD-3-Clause
#include "output/progress.h"

#include <cstdio>

void Progress::Tick(long long done) {
  if (!on_ || (done & 63) != 0) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - last_ < std::chrono::milliseconds(250)) return;
  last_ = now;
  if (total_ > 0)
    std::fprintf(stderr, "\rscan %lld of %lld (%lld%%)", done, total_, done * 100 / total_);
  else
    std::fprintf(stderr, "\rscan %lld", done);
  shown_ = true;
}

void Progress::Done() {
  if (shown_) std::fputs("\r\033[K", stderr);
  shown_ = false;
}
