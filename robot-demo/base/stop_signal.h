// SPDX-License-Identifier: BSD-3-Clause
// The signals that end a run early: SIGINT, SIGTERM and SIGHUP only set a
// flag, which the run loops poll between scans, so that every run ends
// through its own code and cleans up after itself. They do not restart an
// interrupted read, so a run blocked on a pipe or a device wakes up to see
// the flag.
#ifndef SCANPILOT_BASE_STOP_SIGNAL_H
#define SCANPILOT_BASE_STOP_SIGNAL_H

// Installs the handlers. Call once, before any run starts.
void InstallStopSignals();
// 0 while no stop signal has arrived, else the first one's number.
int StopSignal();
// "SIGINT", "SIGTERM", "SIGHUP" (else "a signal").
const char* SignalName(int sig);
// For a run that ends because of StopSignal: prints "robot-demo: interrupted
// (SIGINT)" and returns the shell's status for it, 128 + the signal.
int Interrupted();

#endif
