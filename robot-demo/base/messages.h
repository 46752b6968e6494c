// SPDX-License-Identifier: BSD-3-Clause
// robot-demo's exit statuses and its one-line complaints on standard error.
#ifndef SCANPILOT_BASE_MESSAGES_H
#define SCANPILOT_BASE_MESSAGES_H

#include <string>

// Exit statuses of robot-demo. kExitCannotWrite and kExitDevice share 1:
// both say the input was good and the world around the run failed, users'
// scripts rely on 1 for a device that went away, and the error line tells
// the two apart.
constexpr int kExitOk = 0;
constexpr int kExitCannotWrite = 1;      // --out unusable, a picture or standard output could not be written
constexpr int kExitBadInput = 2;         // bad options, or a scan file that cannot be read or parsed
constexpr int kExitDevice = 1;           // a live device failed or went away during the run
constexpr int kExitBelowMinSuccess = 3;  // a suite's success rate fell below --min-success

// "robot-demo: MSG" on standard error, MSG escaped for a terminal
// (TerminalText); returns `status`. Says nothing once the run was
// interrupted or standard output went to a closed pipe: the failure is a
// consequence, and the run ends with that instead.
int Fail(int status, const std::string& msg);
// The same, followed by a hint line pointing to --help; returns
// kExitBadInput.
int UsageError(const std::string& msg);
// "robot-demo: MSG" on standard error, escaped, whatever happened.
void Notice(const std::string& msg);

#endif
