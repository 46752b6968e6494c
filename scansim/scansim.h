// SPDX-License-Identifier: BSD-3-Clause
// scansim - a disc robot, its 360 degree range scanner and a walking person on
// an occupancy map, for trying a drive controller in a real building.
//
//   SimMap map;
//   char why[256];
//   if (!map.Load("office.yaml", SimMapOptions{}, why, sizeof why)) { puts(why); return 2; }
//   SimConfig config;                         // robot 0.2 m, 0.5 m/s, 1.2 rad/s, 360 readings to 12 m
//   SimWorld world;
//   if (!world.Start(map, config, SimPose{1.0, 2.0, 0.0}, 42, why, sizeof why)) { ... }
//   float scan[360];
//   for (;;) {                                // once per period
//     world.Scan(scan);                       // robot frame, index 180 ahead, +inf: no return
//     ... controller ...
//     SimMove m = world.Move(speed, turn_rate, 0.1);
//     if (m.contact.hit) break;               // the run stops at the first contact
//   }
//
// Contract
//   * Maps are read once (Load allocates; yaml-cpp and libpng do the
//     reading). Start copies what it keeps. Scan, Detect, Move, Clearance
//     and the getters never allocate, never throw, print nothing, read no
//     clock. Errors come back as false and one line of text naming the file
//     and the key or line.
//   * A SimWorld keeps a pointer to its map: the map must outlive it and not
//     be loaded again while the world is used. Worlds are independent: any
//     number may run at once, one thread each.
//   * Determinism: everything random comes from the seed through the
//     library's own generator (xoshiro256**) and its own Gaussian (Marsaglia's
//     polar method with its own logarithm); sine and cosine are its own too.
//     With the project's float rules (no fused multiply-add, no excess
//     precision), a run gives the same bytes on every compiler and CPU. The
//     simulator calls no libm function but sqrt, which IEEE rounds exactly.
//
// Maps
//   The map_server format: a YAML file with `image`, `resolution` (m per
//   pixel), `origin` [x, y, yaw] (the lower-left pixel's corner in the world;
//   yaw counter-clockwise, radians), `negate`, `occupied_thresh`,
//   `free_thresh` and optionally `mode` (trinary, the default, or scale: read
//   the same way here; raw is refused). The image is an 8-bit PGM (P5 binary
//   or P2 plain) or PNG (colour turned to grey by libpng), rows from the
//   top: the image's first row is the map's highest y. A pixel p has
//   occupancy (255 - p) / 255 ((p / 255) with negate 1): above
//   occupied_thresh it is a wall, below free_thresh free, else unknown.
//   Unknown cells and everything outside the image are walls, unless
//   SimMapOptions::open_unknown makes them open floor.
//
// Frames and units
//   World frame: the map's, metres, angles counter-clockwise in radians. The
//   robot's pose (x, y, heading). Robot frame: X ahead, Y left.
//   Scan readings: index i (degrees) looks along robot bearing (i - 180) deg
//   (plus the mounting yaw), so a reading d at index i lies at X = -d*cos(i),
//   Y = -d*sin(i) in the scanner's frame: 180 ahead, 270 left (pathgrid.h).
//
// Geometry
//   Cells are closed squares. A ray returns the distance to the first point
//   of a wall cell (or the person's disc) it touches, cell by cell; a ray
//   through the corner where two wall cells meet diagonally stops there.
//   Returns beyond max_range are no return (+inf). The robot is a disc;
//   contact is the disc touching a wall cell or the person's disc (distance
//   <= radius). Move integrates the unicycle exactly (an arc, or a straight
//   line for a zero turn rate) and finds the first contact along the arc by
//   stepping no further than the clearance allows, to within 0.1 mm.
#ifndef SCANSIM_H
#define SCANSIM_H

#include <cstddef>
#include <cstdint>

#include "scanbin.h"

#if defined(SCANSIM_BUILDING)
#define SCANSIM_API __attribute__((visibility("default")))
#else
#define SCANSIM_API
#endif

constexpr int kSimReadings = 360;
// Samples per turn in SimWorld::ScanTurn are at most this many.
constexpr std::size_t kSimMaxTurnSamples = 8192;
// Person routes have at most this many points.
constexpr std::size_t kSimMaxRoute = 4096;

struct SimMapOptions {
  // Unknown cells and the world outside the image are open floor instead of walls.
  bool open_unknown = false;
};

enum class SimCellState : unsigned char { kFree = 0, kWall = 1, kUnknown = 2 };

class SCANSIM_API SimMap {
 public:
  SimMap();
  ~SimMap();
  SimMap(const SimMap&) = delete;
  SimMap& operator=(const SimMap&) = delete;

  // Reads a map_server YAML and its image. False (map unchanged) with one
  // line in `error` ("FILE: what", naming the key or line) on any fault:
  // not YAML, a key missing or not a number, resolution not > 0 or not
  // finite (or outside 0.0001..1000 m), thresholds outside [0, 1], an image missing, not PGM/PNG, not
  // 8-bit, cut short, or of another size than its header says.
  bool Load(const char* yaml_path, const SimMapOptions& options, char* error, std::size_t error_size);
  // A map from memory: width x height cells (at most 2^15 each, resolution
  // 0.0001..1000 m), cells[row *
  // width + col] with row 0 at the LOWEST y (the image upside down), states
  // as SimCellState. False on bad numbers or a null pointer.
  bool Set(int width, int height, double resolution, double origin_x, double origin_y, double origin_yaw,
           const unsigned char* cells, const SimMapOptions& options);

  bool Loaded() const;
  int Width() const;
  int Height() const;
  double Resolution() const;
  double OriginX() const;
  double OriginY() const;
  double OriginYaw() const;
  bool OpenUnknown() const;
  // The cell's state; outside the image kUnknown.
  SimCellState Cell(int col, int row) const;
  // Robots and rays stop here: a wall, or unknown/outside unless open.
  bool Blocked(int col, int row) const;
  // The cell holding a world point; false when it lies outside the image
  // (col and row are still set, possibly negative or past the edge).
  bool CellAt(double x, double y, int& col, int& row) const;
  // World point on the map image and in a cell that is not blocked.
  bool FreeAt(double x, double y) const;
  // Distance (m) along the unit direction (dx, dy) from (x, y) to the first
  // blocked cell; +inf when none within max_range; 0 when (x, y) is in one.
  double Cast(double x, double y, double dx, double dy, double max_range) const;
  // Distance (m) from (x, y) to the nearest blocked cell, or `limit` when
  // none is nearer (0 inside one).
  double WallDistance(double x, double y, double limit) const;
  // The nearest point of a blocked cell within `limit` of (x, y); false when none.
  bool NearestWall(double x, double y, double limit, double& wx, double& wy) const;

  struct Impl;

 private:
  friend class SimWorld;
  Impl* impl_;
};

struct SimPose {
  double x, y;     // metres, world frame
  double heading;  // radians, counter-clockwise from the world's +x, in (-pi, pi]
};

struct SimPoint {
  double x, y;
};

struct SimConfig {
  // Robot.
  double robot_radius = 0.2;   // m
  double max_speed = 0.5;      // m/s: commands are clipped to [-max, max]
  double max_turn_rate = 1.2;  // rad/s: clipped to [-max, max]
  // Scanner (at the robot's centre).
  double max_range = 12.0;     // m; no return beyond
  double range_noise = 0.0;    // m, sigma of the Gaussian added to each return
  double dropout = 0.0;        // probability that a return is lost (+inf)
  double mount_yaw_deg = 0.0;  // where the scanner's own ahead points on the robot, counter-clockwise
  // ScanTurn: how raw samples are numbered and scaled (zero_deg, clockwise,
  // range_scale); min_range/max_range are ignored here (the pilot's to apply).
  ScanLayout layout;
  // Person (used once SetRoute gave a route).
  double person_radius = 0.2;  // m
  double person_speed = 1.0;   // m/s along the route
  // Detector: the person's centre in the robot frame with Gaussian noise
  // (sigma, m), missed with probability `miss`, or replaced by a false alarm
  // 1.5..2.5 m from the person with probability `false_alarm`. No candidate
  // while no reading of the current scan falls on the person.
  double detector_noise = 0.015;
  double detector_miss = 0.0;
  double detector_false_alarm = 0.0;
};

enum class SimContactKind { kNone = 0, kWall, kPerson };

struct SimContact {
  SimContactKind kind;  // kNone: no contact
  double x, y;          // the robot's centre at contact
  double px, py;        // the touched point: the wall cell's nearest point, or the person's centre
  int col, row;         // the wall cell (kWall), else -1
};

struct SimMove {
  SimPose pose;             // where the move ended (at the contact, if any)
  double travelled;         // metres along the arc
  double duration;          // seconds moved (less than asked after a contact)
  double speed, turn_rate;  // the command after clipping (NaN gives 0)
  SimContact contact;
};

struct SimDetection {
  bool present;
  bool false_alarm;
  float x, y;  // robot frame, metres
};

class SCANSIM_API SimWorld {
 public:
  SimWorld();
  ~SimWorld();
  SimWorld(const SimWorld&) = delete;
  SimWorld& operator=(const SimWorld&) = delete;

  // Places the robot at `start` at time 0. False with one line in `error`
  // when the map is not loaded, a number is not finite or out of range, or
  // the start is off the map or in contact with a wall.
  bool Start(const SimMap& map, const SimConfig& config, const SimPose& start, std::uint64_t seed, char* error,
             std::size_t error_size);
  // A person walking through n points (x, y pairs) at config.person_speed
  // from time 0, standing at the last one after. False (no person) when a
  // point is not finite or not free on the map, n is 0 or too large.
  bool SetRoute(const double* xy, std::size_t n, char* error, std::size_t error_size);
  bool HasPerson() const;

  double Time() const;
  SimPose Pose() const;
  SimPoint Person() const;  // (NaN, NaN) without a person
  // The route's end time (s); 0 without a person.
  double RouteDuration() const;

  // 360 readings from the current pose (see Frames), with noise and dropout.
  void Scan(float out[kSimReadings]);
  // n raw samples of one turn: sample k at sensor angle 360 k / n degrees
  // (scanbin's BinEvenScan), laid out by config.layout and the mounting yaw,
  // ranges in raw units (metres / range_scale). False (nothing written) for
  // n 0 or over kSimMaxTurnSamples, or a null pointer.
  bool ScanTurn(float* ranges, std::size_t n);
  // The detector's answer for the current scan (call after Scan/ScanTurn).
  SimDetection Detect();
  // Drives for `dt` seconds with the clipped command, the person walking
  // too, and stops at the first contact. dt must be > 0 and finite (else
  // nothing moves). After a contact further moves do nothing.
  SimMove Move(double speed, double turn_rate, double dt);
  // Robot edge to the nearest wall cell (m), at most `limit` (negative in contact).
  double Clearance(double limit) const;

  struct Impl;

 private:
  Impl* impl_;
};

// The pose after driving (speed, turn_rate) for dt seconds from `p` on the
// exact unicycle arc (no clipping, no map), heading wrapped into (-pi, pi].
SCANSIM_API SimPose SimArc(const SimPose& p, double speed, double turn_rate, double dt);
// The library's own sine and cosine (the same bits on every CPU).
SCANSIM_API void SimSinCos(double a, double& s, double& c);
// A world point in the robot frame of pose p (X ahead, Y left).
SCANSIM_API SimPoint SimToRobot(const SimPose& p, double x, double y);

#endif
