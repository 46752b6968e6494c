// Links both installed libraries and checks one known answer from each.
#include <cmath>
#include <cstdio>

#include <pathgrid.h>
#include <scanfollow.h>

int main() {
  float scan[360];
  for (float& r : scan) r = INFINITY;

  // Nothing in the way, target 10 cells straight ahead: 10 steps up column 50.
  InitHelper();
  SetRanges(scan);
  ClearTarget();
  SetTarget(50, 60);
  const bool reached = OutLine();
  const bool plan_ok = reached && GetHelperNum() == 10 && GetFaceX() == 0.5f && GetFaceY() == 0.0f;

  // A candidate 5 cm from the tracked point comes back unchanged.
  for (int i = 175; i <= 185; ++i) scan[i] = 1.0f;
  float unused[360] = {};
  float x = 0.0f, y = 0.0f;
  thredhold(1.0f);
  filter(1.05f, 0.0f, scan, unused, x, y);
  const bool track_ok = x == 1.05f && y == 0.0f;

  std::printf("planner %s, tracker %s\n", plan_ok ? "ok" : "WRONG", track_ok ? "ok" : "WRONG");
  return plan_ok && track_ok ? 0 : 1;
}
