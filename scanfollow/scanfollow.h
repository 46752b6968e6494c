// SPDX-License-Identifier: BSD-3-Clause
// scanfollow - follows one object ahead of the robot from scan to scan.
//
// Contract
//   * One tracked point per process, in static tables; no call allocates,
//     throws, locks or logs. Single caller thread.
//   * thredhold(distance) must run first; it puts the tracked point straight
//     ahead at that distance and may run again to restart.
//   * filter reads scan indices 90..270 of the caller's array (at least 271
//     floats); a null scan pointer skips the scan, so the tracked point stays.
//     The second array is never read. Nothing is retained after a call.
//   * Bad readings (NaN, inf, zero, negative, out of range) are ignored.
//   * Results are bit-exact: the same inputs give the same floats from g++ or clang
//     at any optimisation level on x86-64, aarch64, armhf and riscv64 with glibc
//     (its sin and cos fill the angle tables). A NaN result may be any NaN.
//     Builds evaluating float in excess precision (x87) are refused.
//
// Frame: metres, a reading d at index i (degrees) lies at X = -d*cos(i),
// Y = -d*sin(i); index 180 points along +X (ahead), 270 along +Y.
#ifndef SCANFOLLOW_H
#define SCANFOLLOW_H

#if defined(SCANFOLLOW_BUILDING)
#define SCANFOLLOW_API __attribute__((visibility("default")))
#else
#define SCANFOLLOW_API
#endif

// Restart: clear the stored points and track (x, 0). Always returns 0.
SCANFOLLOW_API float thredhold(float x);

// One tracking step. The candidate (x, y) comes back unchanged in (outX, outY)
// when it lies within 0.1 m of the tracked point, otherwise the average of
// the front-half scan points within 0.3 m of the tracked point does; that
// average becomes the new tracked point. Always returns 0.
SCANFOLLOW_API float filter(float x, float y, float* ranges, float* unused,
                            float& outX, float& outY);

#endif
