// SPDX-License-Identifier: BSD-3-Clause
// pathgrid - a local grid planner for a robot with a 360-reading range scanner.
//
// Contract
//   * One planner per process. All state lives in fixed static tables inside the
//     library (about 190 KB); no call allocates, throws, locks or logs.
//   * Single caller thread. Calls from several threads need the caller's own lock.
//   * InitHelper() must run first; it may run again at any time to start over
//     (it clears the fields, keeps the last path and steering point).
//   * The caller owns every array it passes; nothing is retained after a call.
//     SetRanges reads exactly 360 floats; a null pointer is ignored.
//   * Bad input never crashes: NaN, infinite, zero, negative or huge readings land
//     where the conversion puts them or nowhere at all; off-grid cells (any int,
//     INT_MIN and INT_MAX included) are skipped or reported as described below.
//   * Results are bit-exact: the same inputs give the same floats from g++ or clang
//     at any optimisation level on x86-64, aarch64, armhf and riscv64 with glibc
//     (its sin and cos fill the angle tables). CalAngle follows the C
//     library's atanf, whose last bit differs between C libraries. A NaN result
//     may be any NaN. Builds evaluating float in excess precision (x87) are refused.
//
// Frames
//   Robot frame: metres, a reading d at index i (degrees) lies at
//   X = -d*cos(i), Y = -d*sin(i); index 180 points along +X, 270 along +Y.
//   Grid: 100 x 100 cells of 0.05 m, cell (x, y) = (column, row), robot on (50, 50);
//   the row grows with X and the column with Y.
//
// One scan
//   SetRanges(scan); ClearTarget(); SetTarget(x, y)...; bool hit = OutLine();
//   then GetFixX/GetFixY (steering point), GetFaceX/GetFaceY (path end) and
//   GetHelperNum (path length); CalAngle turns a point into a bearing.
#ifndef PATHGRID_H
#define PATHGRID_H

#if defined(PATHGRID_BUILDING)
#define PATHGRID_API __attribute__((visibility("default")))
#else
#define PATHGRID_API
#endif

// Start over: clear all four fields, default 0.35 m border, build the kernels.
PATHGRID_API void InitHelper();
// Inflation radius in metres, 0..0.5 (saturating; NaN and negatives give none).
// Affects only stamps made afterwards.
PATHGRID_API void SetBorder(float border);

// Rebuild the obstacle field from 360 readings in metres.
PATHGRID_API void SetRanges(float* ranges);
// Add one inflated obstacle centred on a cell; off-grid cells do nothing.
PATHGRID_API void SetObst(int x, int y);
PATHGRID_API void ClearObst();
// Add a target cell with its attraction cone; targets accumulate until ClearTarget.
PATHGRID_API void SetTarget(int x, int y);
PATHGRID_API void ClearTarget();
// Stamp the start field (the planning pass does this itself).
PATHGRID_API void SetBack(int x, int y);
// False only for an on-grid blocked cell.
PATHGRID_API bool ChkTarget(int x, int y);

// One planning pass; true when the path ends on a target cell.
PATHGRID_API bool OutLine();
// One greedy step of the walker (does not extend the path record).
PATHGRID_API bool PathGrow();
// Put the walker on the start cell.
PATHGRID_API void StartPos();
// 999 for off-grid, blocked or visited cells, else minus the attraction.
PATHGRID_API int calPointCost(int x, int y);
// Hook called at the end of every pass; does nothing.
PATHGRID_API void ShowMap();
// Results of the last pass.
PATHGRID_API int GetHelperNum();
PATHGRID_API float GetFixX();
PATHGRID_API float GetFixY();
PATHGRID_API float GetFaceX();
PATHGRID_API float GetFaceY();

// Bearing in radians of the vector (a, b) = (X, Y), in (-pi, pi); NaN for (0, 0).
PATHGRID_API float CalAngle(float a, float b);
// List the last path on standard output (buffered, not flushed).
PATHGRID_API void PrintPath();

#endif
