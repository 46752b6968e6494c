// SPDX-License-Identifier: BSD-3-Clause
// scanbin - turns one revolution of a real scanner's samples into the 360
// readings that pathgrid and scanfollow take (one per whole degree, metres,
// +inf for no return, index 180 straight ahead).
//
// Contract
//   * Pure functions: no state, no allocation, no exceptions, no locks, no
//     output. Safe to call from any number of threads at once as long as no
//     two calls write the same output array.
//   * The caller owns every array. Inputs are read, `out` is written, nothing
//     is retained after a call. `out` holds exactly 360 floats and is always
//     written in full; it may be the same array as an input (the result is
//     built on the stack and copied out at the end).
//   * Results are bit-exact: the same inputs give the same floats on every build.
//
// Bad arguments
//   Each function returns false, and writes +inf to all 360 readings, when
//     - `out` is null (then nothing is written: there is nowhere to write),
//     - a sample pointer (`ranges`, `angles_deg`) is null,
//     - n is 0,
//     - the scale is not finite or not > 0 (negative, zero, NaN, inf),
//     - zero_deg is not finite (NaN, inf),
//     - a limit is NaN, or the lower limit is greater than the upper one,
//     - BinLaserScan only: angle_min or angle_increment is not finite.
//   Otherwise it returns true, even if no sample was a return.
//   Bad samples are never bad arguments: a sample whose angle is not finite,
//   or whose range is 0, negative, NaN, inf or outside the limits, is simply
//   not a return, and the rest of the turn still counts.
//
// The rule
//   Bearing: a sample at sensor angle theta degrees lies at robot bearing
//     phi = zero_deg + theta  (counter-clockwise sensor)
//     phi = zero_deg - theta  (clockwise sensor)
//   in degrees counter-clockwise from straight ahead (+X), in double.
//   Index: i = floor((phi + 180) + 0.5), each step in double, then brought
//   into 0..359 by adding or subtracting a multiple of 360 (any finite phi,
//   however large). So 180 is straight ahead, 270 left, 90 right, 0 behind,
//   and a reading d at index i lies at X = -d*cos(i deg), Y = -d*sin(i deg).
//   Range: raw * range_scale formed in double, rounded once to float. A scale
//   of exactly 0.001 (kScanMillimetres) is applied as raw / 1000.0 instead,
//   so that millimetres convert to the float nearest the decimal value.
//   Return: the float range is a return only if it is finite, > 0,
//   >= min_range and <= max_range (both limits inclusive, compared as floats).
//   Several returns in one index: the smallest wins. No return: +inf.
//
// Connecting a scanner
//   zero_deg is where the sensor's 0 deg points on the robot: 0 if it points
//   ahead, 90 to the left, 180 behind, 270 (or -90) to the right.
//   clockwise is true when the sensor's angles grow clockwise seen from above.
//   min_range masks hits on the robot's own body.
//
// ROS 2 (sensor_msgs::msg::LaserScan, angles already counter-clockwise from
// ahead, ranges already in metres):
//   float scan[360];
//   BinLaserScan(msg.angle_min, msg.angle_increment, msg.ranges.data(),
//                msg.ranges.size(), msg.range_min, msg.range_max, scan);
#ifndef SCANBIN_H
#define SCANBIN_H

#include <cstddef>
#include <limits>

#if defined(SCANBIN_BUILDING)
#define SCANBIN_API __attribute__((visibility("default")))
#else
#define SCANBIN_API
#endif

// Metres per raw unit, for ScanLayout::range_scale.
constexpr double kScanMetres = 1.0;
constexpr double kScanMillimetres = 0.001;

// How a scanner is mounted and what its numbers mean.
struct ScanLayout {
  // Robot-frame bearing of the sensor's 0 deg, degrees counter-clockwise from ahead.
  double zero_deg = 0.0;
  // True when sensor angles grow clockwise.
  bool clockwise = false;
  // Metres per raw range unit: kScanMetres, kScanMillimetres or any other > 0.
  double range_scale = kScanMetres;
  // Accepted ranges in metres, both inclusive.
  float min_range = 0.0f;
  float max_range = std::numeric_limits<float>::infinity();
};

// n ranges evenly spaced over one turn: sample k at sensor angle
// theta = (360.0 * k) / n degrees, in double. Sample 0 is at the sensor's 0 deg.
SCANBIN_API bool BinEvenScan(const float* ranges, std::size_t n, const ScanLayout& layout,
                             float out[360]);

// n explicit samples in any order: sensor angle angles_deg[k] in degrees
// (any finite value, e.g. -0.5 or 359.5 or 725), raw range ranges[k].
SCANBIN_API bool BinSamples(const float* angles_deg, const float* ranges, std::size_t n,
                            const ScanLayout& layout, float out[360]);

// The fields of a ROS LaserScan: sample k at robot bearing
// phi = (angle_min + k * angle_increment) * (180 / pi) degrees, all in double
// (angles in radians, counter-clockwise from ahead); ranges in metres, returns
// kept within [range_min, range_max] inclusive. Otherwise the rule above with
// zero_deg 0, counter-clockwise and scale 1. Intensities are not needed.
SCANBIN_API bool BinLaserScan(float angle_min, float angle_increment, const float* ranges,
                              std::size_t n, float range_min, float range_max,
                              float out[360]);

// The same three conversions, marking what a degree did not see. Each
// degree holds its smallest say among its samples:
//   -inf  a sample of -inf range: something nearer than the scanner measures
//         (a LaserScan's "too close"),
//   d     the nearest return, as in the rule above,
//   +inf  no return: only samples of +inf, or beyond the upper limit,
//   NaN   no usable sample at all: none fell there, or only NaN, zero,
//         negative or below-the-lower-limit ranges (invalid flags, missing
//         packets, a body the lower limit masks).
// A degree with a return gets the same float as the old functions give it.
// Bad arguments: false, and NaN in all 360 (nothing was seen).
SCANBIN_API bool BinEvenScanSeen(const float* ranges, std::size_t n, const ScanLayout& layout, float out[360]);
SCANBIN_API bool BinSamplesSeen(const float* angles_deg, const float* ranges, std::size_t n, const ScanLayout& layout,
                                float out[360]);
SCANBIN_API bool BinLaserScanSeen(float angle_min, float angle_increment, const float* ranges, std::size_t n,
                                  float range_min, float range_max, float out[360]);
// Folds one marked result into another, as if their samples had been binned
// together: a turn binned in pieces.
SCANBIN_API void MergeSeen(float out[360], const float part[360]);

#endif
