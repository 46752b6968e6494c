// SPDX-License-Identifier: BSD-3-Clause
// Scanner models by name (--scanner NAME): the protocol, the port's rate, the
// layout and the gates of each, and how the scanner is started.
#ifndef SCANPILOT_INPUT_SCANNERS_H
#define SCANPILOT_INPUT_SCANNERS_H

#include <string>

#include "input/lds_source.h"

// What a live run sends the scanner.
enum class ScannerControl {
  kNone,        // streams on power; nothing is sent
  kRplidarDtr,  // RPLIDAR requests; motor enabled by the adapter's DTR line (cleared: on)
  kRplidarPwm,  // RPLIDAR requests; motor speed by the PWM request
  kRplidar,     // RPLIDAR requests; the scanner drives its motor itself
  kYdlidarX4,   // YDLIDAR X4 start and stop requests
};

struct ScannerPreset {
  const char* name;
  const char* models;  // what it covers, for the table
  StreamKind kind;
  int baud;
  double zero_deg;  // where the scanner's 0 degrees points, counter-clockwise from ahead
  bool clockwise;
  float min_range, max_range;  // metres
  double rpm_min, rpm_max;
  int min_percent;  // of a turn's packets (lds) or 2-degree sectors
  ScannerControl control;
  const char* wiring;  // one line: the scanner's pins to the adapter and the motor
};

// The preset of that name, or null.
const ScannerPreset* FindScannerPreset(const std::string& name);
// The names, "a, b, c", for a usage message.
std::string ScannerPresetNames();
// The table `--scanner list` prints.
std::string ScannerPresetTable();
// The usable speeds of every model of a protocol: --format's default gate.
void FamilyRpmRange(StreamKind kind, double& lo, double& hi);

#endif
