// SPDX-License-Identifier: BSD-3-Clause
// Links the installed libraries and checks known answers from each.
#include <cmath>
#include <cstdio>

#include <pathgrid.h>
#include <pathgrid_grid.h>
#include <scanbin.h>
#include <scanfollow.h>
#include <scanpilot.h>
#include <scanwire.h>

int main() {
  float scan[360];
  for (float& r : scan) r = INFINITY;

  // Nothing in the way, target 10 cells straight ahead: 10 steps up column 50.
  InitHelper();
  SetRanges(scan);
  ClearTarget();
  SetTarget(kPathgridCentre, kPathgridCentre + 10);
  const bool reached = OutLine();
  const bool plan_ok = reached && GetHelperNum() == 10 && GetFaceX() == static_cast<float>(10 * kPathgridCellSize) &&
                       GetFaceY() == 0.0f && calPointCost(kPathgridCentre, 0) == -PathgridConeAt(0, -60);

  // A candidate 5 cm from the tracked point comes back unchanged.
  for (int i = 175; i <= 185; ++i) scan[i] = 1.0f;
  float unused[360] = {};
  float x = 0.0f, y = 0.0f;
  thredhold(1.0f);
  filter(1.05f, 0.0f, scan, unused, x, y);
  const bool track_ok = x == 1.05f && y == 0.0f;

  // Zero to the left, clockwise, millimetres: sensor 90 deg is straight ahead.
  float out[360];
  float ranges[4] = {0.0f, 1234.0f, 0.0f, 0.0f};
  ScanLayout layout;
  layout.zero_deg = 90.0;
  layout.clockwise = true;
  layout.range_scale = kScanMillimetres;
  const bool even_ok = BinEvenScan(ranges, 4, layout, out) && out[180] == 1.234f &&
                       std::isinf(out[0]) && std::isinf(out[270]);
  // A LaserScan from -pi: its first sample is behind the robot.
  const float laser[2] = {2.5f, 0.0f};
  const bool laser_ok = BinLaserScan(-3.14159265f, 0.0174533f, laser, 2, 0.1f, 10.0f, out) &&
                        out[0] == 2.5f && std::isinf(out[1]);

  // Nothing in the way of a goal 1 m ahead: full speed, no turn.
  for (float& r : scan) r = INFINITY;
  Pilot pilot;
  PilotStep step;
  const bool pilot_ok = pilot.Start(PilotConfig{}) == PilotError::kNone && pilot.Step(scan, nullptr, step) &&
                        step.command.speed == 0.5 && step.command.turn_rate == 0.0;

  // A scanner's first packet twice: the repeat ends a turn of 4 samples
  // (300 mm; invalid; 1000 mm with a warning; 0 mm) at 300 rpm.
  const unsigned char packet[22] = {0xFA, 0xA0, 0x00, 0x4B, 0x2C, 0x01, 0x10, 0x00,
                                    0x00, 0x80, 0x00, 0x00, 0xE8, 0x43, 0x34, 0x12,
                                    0x00, 0x00, 0x05, 0x00, 0x54, 0x79};
  WireDecoder dec;
  bool wire_ok = dec.Feed(packet, 22) == 22 && !dec.TurnReady() && dec.Feed(packet, 22) == 22 &&
                 dec.TurnReady();
  if (wire_ok) {
    const ScanTurn& t = dec.Turn();
    layout = ScanLayout{};
    layout.range_scale = kScanMillimetres;
    wire_ok = t.count == 4 && t.rpm == 300.0f && t.flags[2] == kSampleWarning &&
              BinSamples(t.angle_deg, t.range_mm, t.count, layout, out) && out[180] == 0.3f &&
              std::isinf(out[181]) && out[182] == 1.0f && std::isinf(out[183]);
  }

  std::printf("planner %s, tracker %s, even scan %s, laser scan %s, pilot %s, serial stream %s\n",
              plan_ok ? "ok" : "WRONG", track_ok ? "ok" : "WRONG", even_ok ? "ok" : "WRONG",
              laser_ok ? "ok" : "WRONG", pilot_ok ? "ok" : "WRONG", wire_ok ? "ok" : "WRONG");
  return plan_ok && track_ok && even_ok && laser_ok && pilot_ok && wire_ok ? 0 : 1;
}
