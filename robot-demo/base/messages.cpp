// SPDX-License-Identifier: BSD-3-Clause
#include "base/messages.h"

#include <cstdio>

#include "base/safe_text.h"
#include "base/std_streams.h"
#include "base/stop_signal.h"

int Fail(int status, const std::string& msg) {
  if (StopSignal() == 0 && !StdoutPipeClosed()) Notice(msg);
  return status;
}

int UsageError(const std::string& msg) {
  Notice(msg);
  std::fputs("Try 'robot-demo --help'.\n", stderr);
  return kExitBadInput;
}

void Notice(const std::string& msg) { std::fprintf(stderr, "robot-demo: %s\n", TerminalText(msg).c_str()); }
