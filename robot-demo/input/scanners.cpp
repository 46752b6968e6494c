// SPDX-License-Identifier: BSD-3-Clause
#include "input/scanners.h"

#include <algorithm>
#include <cstdio>

namespace {

// Zero and sense: each maker puts 0 degrees toward the scanner's front
// (its mark or arrow) and counts clockwise seen from above; mount the
// front mark ahead, or correct with --mount-yaw. The 0xFA scanner's 0 faces
// its cable, backwards.
const ScannerPreset kPresets[] = {
    {"xv11-lds", "22-byte 0xFA protocol (--format lds)", StreamKind::kLds22, 115200, 180.0, true, 0.12f, 6.0f, 200, 400,
     90, ScannerControl::kNone,
     "scanner TX -> adapter RX, GND -> GND, 3.3 V logic; motor on its own 3-5 V supply at ~300 rpm"},
    {"ld06", "LD06 (--format ld06)", StreamKind::kLd06, 230400, 0.0, true, 0.02f, 12.0f, 300, 780, 90,
     ScannerControl::kNone, "TX -> adapter RX, GND -> GND, 5 V -> 5 V; PWM pin to GND for its own speed control"},
    {"ld19", "LD19 (--format ld06)", StreamKind::kLd06, 230400, 0.0, true, 0.02f, 12.0f, 300, 780, 90,
     ScannerControl::kNone, "TX -> adapter RX, GND -> GND, 5 V -> 5 V; PWM pin to GND for its own speed control"},
    {"rplidar-a1", "RPLIDAR A1 (--format rplidar)", StreamKind::kRplidar, 115200, 0.0, true, 0.15f, 12.0f, 180, 600, 90,
     ScannerControl::kRplidarDtr, "its USB adapter board: DTR drives the motor enable (cleared: on); 5 V from USB"},
    {"rplidar-a2", "RPLIDAR A2M8 (--format rplidar)", StreamKind::kRplidar, 115200, 0.0, true, 0.15f, 12.0f, 300, 900,
     90, ScannerControl::kRplidarPwm, "TX -> RX, RX -> TX, GND, 5 V; motor speed by the PWM request (660)"},
    {"rplidar-c1", "RPLIDAR C1 (--format rplidar)", StreamKind::kRplidar, 460800, 0.0, true, 0.05f, 12.0f, 300, 900, 90,
     ScannerControl::kRplidar, "its USB adapter: TX -> RX, RX -> TX, GND, 5 V; the motor runs while it scans"},
    {"ydlidar-x2", "YDLIDAR X2 (--format ydlidar)", StreamKind::kYdlidar, 115200, 0.0, true, 0.12f, 8.0f, 240, 600, 90,
     ScannerControl::kNone, "TX -> adapter RX, GND -> GND, 5 V; streams on power, the adapter's TX unused"},
    {"ydlidar-x4", "YDLIDAR X4 (--format ydlidar)", StreamKind::kYdlidar, 128000, 0.0, true, 0.12f, 10.0f, 240, 720, 90,
     ScannerControl::kYdlidarX4, "TX -> RX, RX -> TX, GND, 5 V; M_EN/DEV_EN high, motor 5 V (its USB board does this)"},
};

}  // namespace

const ScannerPreset* FindScannerPreset(const std::string& name) {
  for (const ScannerPreset& p : kPresets)
    if (name == p.name) return &p;
  return nullptr;
}

std::string ScannerPresetNames() {
  std::string s;
  for (const ScannerPreset& p : kPresets) s += (s.empty() ? "" : ", ") + std::string(p.name);
  return s;
}

std::string ScannerPresetTable() {
  std::string s = "name        baud     zero  sense  range m       rpm       covers\n";
  for (const ScannerPreset& p : kPresets) {
    char line[200];
    char range[32], rpm[32];
    std::snprintf(range, sizeof range, "%.2f..%.0f", static_cast<double>(p.min_range),
                  static_cast<double>(p.max_range));
    std::snprintf(rpm, sizeof rpm, "%.0f..%.0f", p.rpm_min, p.rpm_max);
    std::snprintf(line, sizeof line, "%-11s %-8d %-5g %-6s %-13s %-9s %s\n", p.name, p.baud, p.zero_deg,
                  p.clockwise ? "cw" : "ccw", range, rpm, p.models);
    s += line;
    s += std::string("            wiring: ") + p.wiring + "\n";
  }
  return s;
}

void FamilyRpmRange(StreamKind kind, double& lo, double& hi) {
  bool any = false;
  for (const ScannerPreset& p : kPresets) {
    if (p.kind != kind) continue;
    lo = any ? std::min(lo, p.rpm_min) : p.rpm_min;
    hi = any ? std::max(hi, p.rpm_max) : p.rpm_max;
    any = true;
  }
}
