#include "runs/stop_signal.h"

#include <csignal>
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
