// Links the installed scanbin and checks one known answer per input kind.
#include <cmath>
#include <cstdio>

#include <scanbin.h>

int main() {
  float out[360];

  // Zero to the left, clockwise, millimetres: sensor 90 deg is straight ahead.
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

  std::printf("even scan %s, laser scan %s\n", even_ok ? "ok" : "WRONG", laser_ok ? "ok" : "WRONG");
  return even_ok && laser_ok ? 0 : 1;
}
