// SPDX-License-Identifier: BSD-3-Clause
#include "base/stop_signal.h"

#include <csignal>
#include <cstdio>
#include <initializer_list>

namespace {

volatile std::sig_atomic_t g_signal = 0;

extern "C" void OnStopSignal(int sig) {
  if (g_signal == 0) g_signal = sig;
}

}  // namespace

void InstallStopSignals() {
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a blocked read returns EINTR
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
}

int StopSignal() { return g_signal; }

const char* SignalName(int sig) {
  switch (sig) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "a signal";
  }
}

int Interrupted() {
  const int sig = StopSignal();
  std::fprintf(stderr, "robot-demo: interrupted (%s)\n", SignalName(sig));
  return 128 + sig;
}
