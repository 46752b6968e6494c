// SPDX-License-Identifier: BSD-3-Clause
// The simulator's bytes from a seeded world: scans (with noise and dropout),
// raw turns, detections and moves, hashed (FNV-1a) part by part. The same
// digests on every compiler and CPU, or the simulator's determinism is broken.
//   scansim_digest [--expect FILE]   prints "part hash bytes" lines; with
//   --expect, exits 1 when they differ from FILE's.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "part_digest.h"
#include "scansim.h"

namespace {

struct Hash : PartHash {
  using PartHash::Add;
  template <typename T>
  void Add(const T& v) {
    Add(&v, sizeof v);
  }
};

}  // namespace

int main(int argc, char** argv) {
  // A 12 m x 8 m hall of 0.05 m cells: walls round it, pillars, a diagonal
  // wall and an unknown patch, built in memory so that no file is read.
  const int w = 240, h = 160;
  std::vector<unsigned char> cells(static_cast<std::size_t>(w * h), 0);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      unsigned char s = 0;
      if (r == 0 || c == 0 || r == h - 1 || c == w - 1) s = 1;
      if ((c / 20 + r / 20) % 5 == 0 && c % 20 < 3 && r % 20 < 3) s = 1;
      if (c > 120 && c - 120 == r / 2) s = 1;
      if (c > 200 && r > 120) s = 2;
      cells[static_cast<std::size_t>(r * w + c)] = s;
    }
  SimMap map;
  if (!map.Set(w, h, 0.05, -1.0, -2.0, 0.0, cells.data(), SimMapOptions{})) {
    std::fprintf(stderr, "scansim_digest: the map was refused\n");
    return 2;
  }
  SimConfig c;
  c.range_noise = 0.01;
  c.dropout = 0.05;
  c.detector_miss = 0.1;
  c.detector_false_alarm = 0.1;
  c.person_speed = 0.5;
  c.mount_yaw_deg = 12.5;
  c.layout.clockwise = true;
  c.layout.range_scale = kScanMillimetres;
  SimWorld world;
  char why[256];
  if (!world.Start(map, c, {0.5, 1.0, 0.3}, 20240611, why, sizeof why)) {
    std::fprintf(stderr, "%s\n", why);
    return 2;
  }
  const double route[] = {1.6, 1.2, 4.0, 2.5, 6.3, 1.3};
  if (!world.SetRoute(route, 3, why, sizeof why)) {
    std::fprintf(stderr, "%s\n", why);
    return 2;
  }
  Hash scans, turns, detections, poses;
  float scan[kSimReadings];
  std::vector<float> turn(725);
  for (int k = 0; k < 300; ++k) {
    world.Scan(scan);
    scans.Add(scan, sizeof scan);
    world.ScanTurn(turn.data(), turn.size());
    turns.Add(turn.data(), turn.size() * sizeof(float));
    const SimDetection d = world.Detect();
    detections.Add(d.present);
    detections.Add(d.x);
    detections.Add(d.y);
    // A fixed wavy command: arcs both ways, straight stretches, stops.
    const double v = (k % 37 < 30) ? 0.45 : 0.0;
    const double turn_rate = (k % 50 < 25 ? 0.7 : -0.9) * (k % 7 == 0 ? 0.0 : 1.0);
    const SimMove m = world.Move(v, turn_rate, 0.1);
    poses.Add(m.pose.x);
    poses.Add(m.pose.y);
    poses.Add(m.pose.heading);
    poses.Add(m.travelled);
    if (m.contact.kind != SimContactKind::kNone) {
      // Contacts count too; then on from the start with the next seed.
      poses.Add(m.contact.px);
      poses.Add(m.contact.py);
      if (!world.Start(map, c, {0.5, 1.0, 0.3}, 20240611 + static_cast<unsigned>(k), why, sizeof why) ||
          !world.SetRoute(route, 3, why, sizeof why))
        return 2;
    }
  }
  return ReportParts("scansim_digest", 10,
                     {{"scans", scans}, {"turns", turns}, {"detect", detections}, {"poses", poses}}, argc, argv);
}
