// SPDX-License-Identifier: BSD-3-Clause
// Which way the robot moved, read from the scans alone: a scanner mounted
// backwards shows a robot that drives forwards as one that backs away.
#ifndef SCANPILOT_RUNS_MOUNT_WATCH_H
#define SCANPILOT_RUNS_MOUNT_WATCH_H

#include <array>

#include "base/scan.h"

// One scan cannot tell a backwards mount from a robot with a wall behind it:
// the readings are the same. Motion can: a still world slides toward the
// rear as the robot drives ahead. Every kMountSpan scans, the scan is matched
// with the one kMountSpan before (the turn between them first, by whole
// degrees), and the robot counts as having moved when the surfaces ahead and
// those behind both say so, by the same sign; a person walking by moves only
// one side. Scanners that see only ahead or only behind never count.
class MountWatch {
 public:
  // True once: at the scan where the robot has backed away for
  // kMountBackMetres while moving forwards at most a quarter of that.
  bool Observe(const Scan& scan);
  double Forward() const { return forward_; }
  double Backward() const { return backward_; }

  // One pair of scans: how far the robot moved ahead (negative: back), or
  // NaN when the pair does not tell.
  static double MovedAhead(const Scan& before, const Scan& after);

 private:
  Scan before_{};
  int since_ = -1;  // scans since before_, -1 before the first
  double forward_ = 0.0, backward_ = 0.0;
  bool told_ = false;
};

constexpr int kMountSpan = 3;
constexpr double kMountBackMetres = 0.5;

#endif
