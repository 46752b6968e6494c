// SPDX-License-Identifier: BSD-3-Clause
// robot-demo's usage text.
#ifndef SCANPILOT_CLI_USAGE_H
#define SCANPILOT_CLI_USAGE_H

// What --help prints.
extern const char kUsage[];

#endif
