// SPDX-License-Identifier: BSD-3-Clause
#include "scansim.h"

#include <png.h>
#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kPi = 3.14159265358979311600e+00;
constexpr double kTwoPi = 6.28318530717958623200e+00;
constexpr double kDeg = kPi / 180.0;
// Positions further out than this many cells are not on any map.
constexpr double kFarCells = 1e8;
// Contact is found to within this much travel.
constexpr double kContactStep = 1e-4;

void Say(char* error, std::size_t size, const char* fmt, ...) {
  if (error == nullptr || size == 0) return;
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(error, size, fmt, ap);
  va_end(ap);
}

// Own logarithm (basic operations only, so every CPU rounds alike):
// x = m * 2^e with m in [sqrt(1/2), sqrt(2)), log m = 2 atanh((m-1)/(m+1)).
double OwnLog(double x) {
  int e = 0;
  double m = std::frexp(x, &e);  // exact
  if (m < 0.70710678118654752440) {
    m *= 2.0;
    e -= 1;
  }
  const double s = (m - 1.0) / (m + 1.0);
  const double s2 = s * s;
  double sum = 0.0;
  for (int k = 27; k >= 3; k -= 2) sum = (sum + 1.0 / k) * s2;
  const double logm = 2.0 * s * (1.0 + sum);
  constexpr double kLn2Hi = 6.93147180369123816490e-01;
  constexpr double kLn2Lo = 1.90821492927058770002e-10;
  return (e * kLn2Hi + logm) + e * kLn2Lo;
}

// xoshiro256** seeded through splitmix64.
struct Rng {
  std::uint64_t s[4];
  void Seed(std::uint64_t seed) {
    for (auto& w : s) {
      seed += 0x9e3779b97f4a7c15ULL;
      std::uint64_t z = seed;
      z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
      z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
      w = z ^ (z >> 31);
    }
  }
  static std::uint64_t Rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  std::uint64_t Next() {
    const std::uint64_t result = Rotl(s[1] * 5, 7) * 9;
    const std::uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = Rotl(s[3], 45);
    return result;
  }
  double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }  // [0, 1)
  double Gauss() {                                                            // Marsaglia's polar method
    double u, v, q;
    do {
      u = 2.0 * Uniform() - 1.0;
      v = 2.0 * Uniform() - 1.0;
      q = u * u + v * v;
    } while (q >= 1.0 || q == 0.0);
    return u * std::sqrt(-2.0 * OwnLog(q) / q);
  }
};

double WrapAngle(double a) {
  while (a > kPi) a -= kTwoPi;
  while (a <= -kPi) a += kTwoPi;
  return a;
}

bool Finite(double v) { return std::isfinite(v); }

}  // namespace

void SimSinCos(double a, double& s, double& c) {
  if (!std::isfinite(a)) {
    s = c = kNaN;
    return;
  }
  // a = k pi/2 + r, |r| <= pi/4 (Cody and Waite: pi/2 in three pieces).
  constexpr double kTwoOverPi = 6.36619772367581382433e-01;
  constexpr double kP1 = 1.57079632673412561417e+00;
  constexpr double kP2 = 6.07710050630396597660e-11;
  constexpr double kP3 = 2.02226624871116645580e-21;
  const double k = std::floor(a * kTwoOverPi + 0.5);
  const double r = ((a - k * kP1) - k * kP2) - k * kP3;
  const double r2 = r * r;
  // Taylor series to r^17 and r^18: below half an ulp on |r| <= pi/4.
  double ps = 0.0;
  for (int n = 17; n >= 3; n -= 2) ps = (ps + (n % 4 == 1 ? 1.0 : -1.0)) * r2 / (n * (n - 1));
  const double sn = r + r * ps;
  double pc = 0.0;
  for (int n = 18; n >= 2; n -= 2) pc = (pc + (n % 4 == 0 ? 1.0 : -1.0)) * r2 / (n * (n - 1));
  const double cs = 1.0 + pc;
  const double qf = k - 4.0 * std::floor(k * 0.25);  // exact: 0, 1, 2 or 3
  switch (static_cast<int>(qf)) {
    case 0:
      s = sn;
      c = cs;
      break;
    case 1:
      s = cs;
      c = -sn;
      break;
    case 2:
      s = -sn;
      c = -cs;
      break;
    default:
      s = -cs;
      c = sn;
      break;
  }
}

SimPose SimArc(const SimPose& p, double speed, double turn_rate, double dt) {
  // Chord of the arc: length v dt sin(h)/h with h half the turn, along the
  // mean heading; exact for a straight line too, and no cancellation for
  // slow turns.
  const double half = 0.5 * turn_rate * dt;
  double sh, ch;
  SimSinCos(half, sh, ch);
  const double chord = half == 0.0 ? speed * dt : speed * dt * (sh / half);
  double sm, cm;
  SimSinCos(p.heading + half, sm, cm);
  SimPose out;
  out.x = p.x + chord * cm;
  out.y = p.y + chord * sm;
  out.heading = WrapAngle(p.heading + turn_rate * dt);
  return out;
}

SimPoint SimToRobot(const SimPose& p, double x, double y) {
  double s, c;
  SimSinCos(p.heading, s, c);
  const double dx = x - p.x, dy = y - p.y;
  return {c * dx + s * dy, c * dy - s * dx};
}

// ---------------------------------------------------------------- maps

struct SimMap::Impl {
  int width = 0, height = 0;
  double res = 0.0, ox = 0.0, oy = 0.0, yaw = 0.0;
  double cy = 1.0, sy = 0.0;  // cos and sin of yaw
  bool open = false;
  std::vector<unsigned char> cells;    // row 0 lowest
  std::vector<unsigned char> blocked;  // 1 where robots and rays stop
  // Chessboard distance in cells to the nearest blocked cell (the outside
  // counts when it is a wall): rays leap through open floor by it.
  std::vector<unsigned char> clear;  // capped at 255: a leap of 253 cells outreaches any range

  void Index() {
    blocked.resize(cells.size());
    for (std::size_t i = 0; i < cells.size(); ++i)
      blocked[i] = cells[i] == static_cast<unsigned char>(SimCellState::kWall) ||
                   (cells[i] == static_cast<unsigned char>(SimCellState::kUnknown) && !open);
    clear.assign(cells.size(), 0);
    const int w = width, h = height;
    auto at = [&](int c, int r) -> unsigned char& {
      return clear[static_cast<std::size_t>(r) * static_cast<std::size_t>(w) + static_cast<std::size_t>(c)];
    };
    auto get = [&](int c, int r) -> int {
      if (c < 0 || r < 0 || c >= w || r >= h) return open ? 255 : 0;
      return at(c, r);
    };
    for (int r = 0; r < h; ++r)
      for (int c = 0; c < w; ++c) {
        if (Blocked(c, r)) continue;
        int d = 255;
        for (int k = 0; k < 4; ++k) {
          const int dc[4] = {-1, 0, 1, -1}, dr[4] = {-1, -1, -1, 0};
          d = std::min(d, get(c + dc[k], r + dr[k]) + 1);
        }
        at(c, r) = static_cast<unsigned char>(std::min(d, 255));
      }
    for (int r = h - 1; r >= 0; --r)
      for (int c = w - 1; c >= 0; --c) {
        if (Blocked(c, r)) continue;
        int d = at(c, r);
        for (int k = 0; k < 4; ++k) {
          const int dc[4] = {1, 0, -1, 1}, dr[4] = {1, 1, 1, 0};
          d = std::min(d, get(c + dc[k], r + dr[k]) + 1);
        }
        at(c, r) = static_cast<unsigned char>(std::min(d, 255));
      }
  }
  // 0 for a blocked cell, else its chessboard distance to the nearest
  // blocked one; outside the image 0 (a wall) or 1 (open floor: no leaps).
  int Info(long long col, long long row) const {
    if (static_cast<unsigned long long>(col) >= static_cast<unsigned long long>(width) ||
        static_cast<unsigned long long>(row) >= static_cast<unsigned long long>(height))
      return open ? 1 : 0;
    return clear[static_cast<std::size_t>(row) * static_cast<std::size_t>(width) + static_cast<std::size_t>(col)];
  }
  bool Blocked(long long col, long long row) const {
    if (static_cast<unsigned long long>(col) >= static_cast<unsigned long long>(width) ||
        static_cast<unsigned long long>(row) >= static_cast<unsigned long long>(height))
      return !open;
    return blocked[static_cast<std::size_t>(row) * static_cast<std::size_t>(width) + static_cast<std::size_t>(col)] !=
           0;
  }
  // World to map frame (metres from the lower-left corner, along the image's axes).
  void ToMap(double x, double y, double& mx, double& my) const {
    const double dx = x - ox, dy = y - oy;
    mx = cy * dx + sy * dy;
    my = cy * dy - sy * dx;
  }
  void ToWorld(double mx, double my, double& x, double& y) const {
    x = ox + (cy * mx - sy * my);
    y = oy + (sy * mx + cy * my);
  }
  // Nearest blocked cell to a map-frame point within `limit`; the point on it in (qx, qy).
  double Nearest(double px, double py, double limit, double& qx, double& qy, long long& bc, long long& br,
                 bool& found) const {
    found = false;
    const double fc = std::floor(px / res), fr = std::floor(py / res);
    if (!(std::fabs(fc) < kFarCells && std::fabs(fr) < kFarCells)) {
      qx = px, qy = py, bc = -1, br = -1;
      found = !open;
      return open ? limit : 0.0;
    }
    const long long c0 = static_cast<long long>(fc), r0 = static_cast<long long>(fr);
    if (Blocked(c0, r0)) {
      qx = px, qy = py, bc = c0, br = r0;
      found = true;
      return 0.0;
    }
    double best = limit;
    const long long kmax = static_cast<long long>(limit / res) + 2;
    for (long long k = 1; k <= kmax; ++k) {
      if (static_cast<double>(k - 1) * res >= best) break;
      for (long long r = r0 - k; r <= r0 + k; ++r) {
        const bool edge_row = r == r0 - k || r == r0 + k;
        for (long long c = c0 - k; c <= c0 + k; c += edge_row ? 1 : 2 * k) {
          if (!Blocked(c, r)) continue;
          const double lox = static_cast<double>(c) * res, hix = static_cast<double>(c + 1) * res;
          const double loy = static_cast<double>(r) * res, hiy = static_cast<double>(r + 1) * res;
          const double nx = px < lox ? lox : (px > hix ? hix : px);
          const double ny = py < loy ? loy : (py > hiy ? hiy : py);
          const double d = std::sqrt((px - nx) * (px - nx) + (py - ny) * (py - ny));
          if (d < best || (!found && d <= best)) {
            best = d;
            qx = nx, qy = ny, bc = c, br = r;
            found = true;
          }
        }
      }
    }
    if (!found) qx = px, qy = py, bc = -1, br = -1;
    return best;
  }
};

namespace {

std::string DirOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// An 8-bit PGM, binary (P5) or plain (P2), rows from the top.
bool ReadPgm(const std::string& path, std::vector<unsigned char>& pixels, int& width, int& height, int& maxval,
             std::string& why) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    why = path + ": cannot open (" + std::strerror(errno) + ")";
    return false;
  }
  std::vector<unsigned char> data;
  unsigned char buf[65536];
  std::size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + got);
  const bool read_error = std::ferror(f) != 0;
  std::fclose(f);
  if (read_error) {
    why = path + ": read error";
    return false;
  }
  std::size_t pos = 0;
  int line = 1;
  auto skip_space = [&]() {
    while (pos < data.size()) {
      const unsigned char ch = data[pos];
      if (ch == '#') {
        while (pos < data.size() && data[pos] != '\n') ++pos;
      } else if (ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n') {
        if (ch == '\n') ++line;
        ++pos;
      } else {
        break;
      }
    }
  };
  auto number = [&](long long& out) {
    skip_space();
    if (pos >= data.size() || data[pos] < '0' || data[pos] > '9') return false;
    long long v = 0;
    while (pos < data.size() && data[pos] >= '0' && data[pos] <= '9') {
      v = v * 10 + (data[pos] - '0');
      if (v > 1000000000) return false;
      ++pos;
    }
    out = v;
    return true;
  };
  if (data.size() < 2 || data[0] != 'P' || (data[1] != '5' && data[1] != '2')) {
    why = path + ": not an 8-bit PGM or PNG image";
    return false;
  }
  const bool plain = data[1] == '2';
  pos = 2;
  long long w = 0, h = 0, mv = 0;
  if (!number(w) || !number(h) || !number(mv)) {
    why = path + ": line " + std::to_string(line) + ": bad PGM header (width, height, maximum)";
    return false;
  }
  if (w <= 0 || h <= 0 || w > 32768 || h > 32768) {
    why = path + ": image size " + std::to_string(w) + " x " + std::to_string(h) + " out of range (1..32768)";
    return false;
  }
  if (mv <= 0 || mv > 255) {
    why = path + ": maximum value " + std::to_string(mv) + " is not 8-bit (1..255)";
    return false;
  }
  const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
  pixels.assign(n, 0);
  if (!plain) {
    if (pos >= data.size() || !(data[pos] == ' ' || data[pos] == '\n' || data[pos] == '\r' || data[pos] == '\t')) {
      why = path + ": bad PGM header";
      return false;
    }
    ++pos;
    const std::size_t left = data.size() - pos;
    if (left < n) {
      why = path + ": cut short: " + std::to_string(left) + " of the " + std::to_string(n) + " pixels of " +
            std::to_string(w) + " x " + std::to_string(h);
      return false;
    }
    if (left > n) {
      why = path + ": " + std::to_string(left - n) + " bytes more than the " + std::to_string(w) + " x " +
            std::to_string(h) + " pixels its header says";
      return false;
    }
    for (std::size_t i = 0; i < n; ++i) {
      if (data[pos + i] > mv) {
        why = path + ": pixel " + std::to_string(i) + " above the maximum value";
        return false;
      }
      pixels[i] = data[pos + i];
    }
  } else {
    for (std::size_t i = 0; i < n; ++i) {
      long long v = 0;
      if (!number(v)) {
        skip_space();
        why = path + ": line " + std::to_string(line) + ": " +
              (pos >= data.size() ? "cut short: " + std::to_string(i) + " of the " + std::to_string(n) + " pixels"
                                  : std::string("not a pixel value"));
        return false;
      }
      if (v > mv) {
        why = path + ": line " + std::to_string(line) + ": pixel value " + std::to_string(v) + " above " +
              std::to_string(mv);
        return false;
      }
      pixels[i] = static_cast<unsigned char>(v);
    }
    skip_space();
    if (pos < data.size()) {
      why = path + ": line " + std::to_string(line) + ": more pixels than the " + std::to_string(w) + " x " +
            std::to_string(h) + " its header says";
      return false;
    }
  }
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  maxval = static_cast<int>(mv);
  return true;
}

bool ReadPng(const std::string& path, std::vector<unsigned char>& pixels, int& width, int& height, std::string& why) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) {
    why = path + ": bad PNG (" + image.message + ")";
    return false;
  }
  if (image.width == 0 || image.height == 0 || image.width > 32768 || image.height > 32768) {
    png_image_free(&image);
    why = path + ": image size out of range (1..32768)";
    return false;
  }
  image.format = PNG_FORMAT_GRAY;
  pixels.assign(PNG_IMAGE_SIZE(image), 0);
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
    why = path + ": bad PNG (" + image.message + ")";
    png_image_free(&image);
    return false;
  }
  width = static_cast<int>(image.width);
  height = static_cast<int>(image.height);
  return true;
}

bool IsPng(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  unsigned char sig[8] = {};
  const std::size_t got = std::fread(sig, 1, 8, f);
  std::fclose(f);
  return got == 8 && png_sig_cmp(sig, 0, 8) == 0;
}

bool ScalarNumber(const YAML::Node& root, const char* key, const std::string& file, double& out, std::string& why) {
  const YAML::Node n = root[key];
  if (!n) {
    why = file + ": missing key '" + key + "'";
    return false;
  }
  try {
    out = n.as<double>();
  } catch (const YAML::Exception&) {
    why = file + ": line " + std::to_string(n.Mark().line + 1) + ": key '" + key + "' is not a number";
    return false;
  }
  if (!std::isfinite(out)) {
    why = file + ": line " + std::to_string(n.Mark().line + 1) + ": key '" + key + "' is not finite";
    return false;
  }
  return true;
}

bool LoadYaml(const char* yaml_path, const SimMapOptions& options, SimMap::Impl& map, std::string& why) {
  const std::string file = yaml_path ? yaml_path : "";
  if (file.empty()) {
    why = "map: no file name";
    return false;
  }
  std::FILE* probe = std::fopen(file.c_str(), "rb");
  if (probe == nullptr) {
    why = file + ": cannot open (" + std::strerror(errno) + ")";
    return false;
  }
  std::fclose(probe);
  YAML::Node root;
  try {
    root = YAML::LoadFile(file);
  } catch (const YAML::ParserException& e) {
    why = file + ": line " + std::to_string(e.mark.line + 1) + ": not YAML (" + e.msg + ")";
    return false;
  } catch (const YAML::Exception& e) {
    why = file + ": not YAML (" + e.msg + ")";
    return false;
  }
  if (!root.IsMap()) {
    why = file + ": not a map_server YAML (no keys)";
    return false;
  }
  const YAML::Node image = root["image"];
  if (!image) {
    why = file + ": missing key 'image'";
    return false;
  }
  std::string image_name;
  try {
    image_name = image.as<std::string>();
  } catch (const YAML::Exception&) {
    why = file + ": line " + std::to_string(image.Mark().line + 1) + ": key 'image' is not a file name";
    return false;
  }
  if (image_name.empty()) {
    why = file + ": key 'image' is empty";
    return false;
  }
  double res = 0, negate = 0, occ = 0, fre = 0;
  if (!ScalarNumber(root, "resolution", file, res, why)) return false;
  if (!(res > 0.0)) {
    why = file + ": key 'resolution' must be > 0";
    return false;
  }
  if (res < 1e-4 || res > 1e3) {
    why = file + ": key 'resolution' " + std::to_string(res) + " m is outside 0.0001..1000";
    return false;
  }
  const YAML::Node origin = root["origin"];
  if (!origin) {
    why = file + ": missing key 'origin'";
    return false;
  }
  double o[3] = {0, 0, 0};
  {
    bool ok = origin.IsSequence() && origin.size() == 3;
    for (std::size_t i = 0; ok && i < 3; ++i) {
      try {
        o[i] = origin[i].as<double>();
      } catch (const YAML::Exception&) {
        ok = false;
      }
      ok = ok && std::isfinite(o[i]);
    }
    if (!ok) {
      why = file + ": line " + std::to_string(origin.Mark().line + 1) +
            ": key 'origin' must be [x, y, yaw] with finite numbers";
      return false;
    }
  }
  if (!ScalarNumber(root, "negate", file, negate, why)) return false;
  if (negate != 0.0 && negate != 1.0) {
    why = file + ": key 'negate' must be 0 or 1";
    return false;
  }
  if (!ScalarNumber(root, "occupied_thresh", file, occ, why)) return false;
  if (!ScalarNumber(root, "free_thresh", file, fre, why)) return false;
  if (occ < 0.0 || occ > 1.0 || fre < 0.0 || fre > 1.0) {
    why = file + ": keys 'occupied_thresh' and 'free_thresh' must lie in [0, 1]";
    return false;
  }
  if (const YAML::Node mode = root["mode"]) {
    std::string m;
    try {
      m = mode.as<std::string>();
    } catch (const YAML::Exception&) {
    }
    if (m != "trinary" && m != "scale") {
      why = file + ": line " + std::to_string(mode.Mark().line + 1) + ": key 'mode' must be trinary or scale";
      return false;
    }
  }
  const std::string image_path = image_name[0] == '/' ? image_name : DirOf(file) + image_name;
  std::vector<unsigned char> pixels;
  int w = 0, h = 0, maxval = 255;
  if (IsPng(image_path)) {
    if (!ReadPng(image_path, pixels, w, h, why)) return false;
  } else if (!ReadPgm(image_path, pixels, w, h, maxval, why)) {
    return false;
  }
  map.width = w;
  map.height = h;
  map.res = res;
  map.ox = o[0];
  map.oy = o[1];
  map.yaw = o[2];
  SimSinCos(o[2], map.sy, map.cy);
  if (o[2] == 0.0) map.sy = 0.0, map.cy = 1.0;
  map.open = options.open_unknown;
  map.cells.assign(pixels.size(), 0);
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      const double p = pixels[static_cast<std::size_t>(r) * static_cast<std::size_t>(w) + static_cast<std::size_t>(c)];
      const double occupancy = negate != 0.0 ? p / maxval : (maxval - p) / maxval;
      SimCellState s =
          occupancy > occ ? SimCellState::kWall : (occupancy < fre ? SimCellState::kFree : SimCellState::kUnknown);
      // Image rows run from the top; map rows from the lowest y.
      map.cells[static_cast<std::size_t>(h - 1 - r) * static_cast<std::size_t>(w) + static_cast<std::size_t>(c)] =
          static_cast<unsigned char>(s);
    }
  }
  map.Index();
  return true;
}

}  // namespace

SimMap::SimMap() : impl_(new (std::nothrow) Impl) {}
SimMap::~SimMap() { delete impl_; }

bool SimMap::Load(const char* yaml_path, const SimMapOptions& options, char* error, std::size_t error_size) {
  if (impl_ == nullptr) {
    Say(error, error_size, "%s: out of memory", yaml_path ? yaml_path : "map");
    return false;
  }
  std::string why;
  bool ok = false;
  try {
    Impl fresh;
    ok = LoadYaml(yaml_path, options, fresh, why);
    if (ok) *impl_ = std::move(fresh);
  } catch (const std::exception& e) {
    why = std::string(yaml_path ? yaml_path : "map") + ": " + e.what();
    ok = false;
  }
  if (!ok) Say(error, error_size, "%s", why.c_str());
  return ok;
}

bool SimMap::Set(int width, int height, double resolution, double origin_x, double origin_y, double origin_yaw,
                 const unsigned char* cells, const SimMapOptions& options) {
  if (impl_ == nullptr || cells == nullptr || width <= 0 || height <= 0 || width > 32768 || height > 32768 ||
      !(resolution >= 1e-4) || !(resolution <= 1e3) || !Finite(origin_x) || !Finite(origin_y) || !Finite(origin_yaw))
    return false;
  const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  for (std::size_t i = 0; i < n; ++i)
    if (cells[i] > 2) return false;
  try {
    impl_->cells.assign(cells, cells + n);
  } catch (const std::exception&) {
    impl_->width = impl_->height = 0;
    return false;
  }
  impl_->width = width;
  impl_->height = height;
  impl_->res = resolution;
  impl_->ox = origin_x;
  impl_->oy = origin_y;
  impl_->yaw = origin_yaw;
  SimSinCos(origin_yaw, impl_->sy, impl_->cy);
  if (origin_yaw == 0.0) impl_->sy = 0.0, impl_->cy = 1.0;
  impl_->open = options.open_unknown;
  impl_->Index();
  return true;
}

bool SimMap::Loaded() const { return impl_ != nullptr && impl_->width > 0; }
int SimMap::Width() const { return impl_ ? impl_->width : 0; }
int SimMap::Height() const { return impl_ ? impl_->height : 0; }
double SimMap::Resolution() const { return impl_ ? impl_->res : 0.0; }
double SimMap::OriginX() const { return impl_ ? impl_->ox : 0.0; }
double SimMap::OriginY() const { return impl_ ? impl_->oy : 0.0; }
double SimMap::OriginYaw() const { return impl_ ? impl_->yaw : 0.0; }
bool SimMap::OpenUnknown() const { return impl_ && impl_->open; }

SimCellState SimMap::Cell(int col, int row) const {
  if (!Loaded() || col < 0 || row < 0 || col >= impl_->width || row >= impl_->height) return SimCellState::kUnknown;
  return static_cast<SimCellState>(impl_->cells[static_cast<std::size_t>(row) * static_cast<std::size_t>(impl_->width) +
                                                static_cast<std::size_t>(col)]);
}

bool SimMap::Blocked(int col, int row) const { return !Loaded() || impl_->Blocked(col, row); }

bool SimMap::CellAt(double x, double y, int& col, int& row) const {
  col = row = -1;
  if (!Loaded() || !Finite(x) || !Finite(y)) return false;
  double mx, my;
  impl_->ToMap(x, y, mx, my);
  const double fc = std::floor(mx / impl_->res), fr = std::floor(my / impl_->res);
  if (!(std::fabs(fc) < kFarCells && std::fabs(fr) < kFarCells)) return false;
  col = static_cast<int>(fc);
  row = static_cast<int>(fr);
  return col >= 0 && row >= 0 && col < impl_->width && row < impl_->height;
}

bool SimMap::FreeAt(double x, double y) const {
  int c, r;
  return CellAt(x, y, c, r) && !impl_->Blocked(c, r);
}

double SimMap::Cast(double x, double y, double dx, double dy, double max_range) const {
  if (!Loaded() || !Finite(x) || !Finite(y) || !Finite(dx) || !Finite(dy) || !(max_range >= 0.0)) return kInf;
  if (max_range > 1e4) max_range = 1e4;
  const Impl& m = *impl_;
  double px, py, ux, uy;
  m.ToMap(x, y, px, py);
  ux = m.cy * dx + m.sy * dy;
  uy = m.cy * dy - m.sy * dx;
  const double res = m.res;
  const double fc = std::floor(px / res), fr = std::floor(py / res);
  if (!(std::fabs(fc) < kFarCells && std::fabs(fr) < kFarCells)) return m.open ? kInf : 0.0;
  long long col = static_cast<long long>(fc), row = static_cast<long long>(fr);
  if (m.Blocked(col, row)) return 0.0;
  const int sx = ux > 0.0 ? 1 : (ux < 0.0 ? -1 : 0);
  const int sy = uy > 0.0 ? 1 : (uy < 0.0 ? -1 : 0);
  // Distances to the cell's next vertical and horizontal edges, each formed
  // afresh from the edge's own coordinate (no running sum), so that a ray
  // through a vertex meets both edges at the same distance.
  const double ix = sx != 0 ? 1.0 / ux : 0.0, iy = sy != 0 ? 1.0 / uy : 0.0;
  auto edge_x = [&](long long c) { return (static_cast<double>(sx > 0 ? c + 1 : c) * res - px) * ix; };
  auto edge_y = [&](long long r) { return (static_cast<double>(sy > 0 ? r + 1 : r) * res - py) * iy; };
  double tx = sx != 0 ? edge_x(col) : kInf;
  double ty = sy != 0 ? edge_y(row) : kInf;
  const double inv_res = 1.0 / res;
  double t_at = 0.0;         // how far the ray has come
  int d = m.Info(col, row);  // the current cell's: 0 blocked, else cells of open floor round it
  for (;;) {
    // In open floor: every cell within d - 1 of this one is free, so the
    // ray leaps d - 1.5 cells on (half a cell short of any blocked one) and
    // carries on cell by cell from there; the first blocked cell and its
    // distance are unchanged.
    if (d >= 3) {
      const double leap = t_at + (static_cast<double>(d) - 1.5) * res;
      if (leap > max_range) return kInf;
      // The landing cell needs no exact rounding: its neighbours are free too.
      const double lx = (px + ux * leap) * inv_res, ly = (py + uy * leap) * inv_res;
      col = static_cast<long long>(lx);
      row = static_cast<long long>(ly);
      col -= static_cast<double>(col) > lx ? 1 : 0;
      row -= static_cast<double>(row) > ly ? 1 : 0;
      tx = sx != 0 ? edge_x(col) : kInf;
      ty = sy != 0 ? edge_y(row) : kInf;
      t_at = leap;
      d = m.Info(col, row);
      continue;
    }
    double t = tx < ty ? tx : ty;
    if (t > max_range) return kInf;
    if (t < 0.0) t = 0.0;
    t_at = t;
    if (tx < ty) {
      col += sx;
      d = m.Info(col, row);
      if (d == 0) return t;
      tx = edge_x(col);
    } else if (ty < tx) {
      row += sy;
      d = m.Info(col, row);
      if (d == 0) return t;
      ty = edge_y(row);
    } else {
      // Through a vertex: all three cells beyond it touch the ray there.
      if (m.Info(col + sx, row) == 0 || m.Info(col, row + sy) == 0) return t;
      col += sx;
      row += sy;
      d = m.Info(col, row);
      if (d == 0) return t;
      tx = edge_x(col);
      ty = edge_y(row);
    }
  }
}

double SimMap::WallDistance(double x, double y, double limit) const {
  if (!Loaded() || !Finite(x) || !Finite(y)) return 0.0;
  if (!(limit >= 0.0)) return 0.0;
  if (limit > 1e4) limit = 1e4;
  double mx, my, qx, qy;
  long long c, r;
  bool found;
  impl_->ToMap(x, y, mx, my);
  return impl_->Nearest(mx, my, limit, qx, qy, c, r, found);
}

bool SimMap::NearestWall(double x, double y, double limit, double& wx, double& wy) const {
  if (!Loaded() || !Finite(x) || !Finite(y) || !(limit >= 0.0)) return false;
  if (limit > 1e4) limit = 1e4;
  double mx, my, qx, qy;
  long long c, r;
  bool found;
  impl_->ToMap(x, y, mx, my);
  impl_->Nearest(mx, my, limit, qx, qy, c, r, found);
  if (!found) return false;
  impl_->ToWorld(qx, qy, wx, wy);
  return true;
}

// ---------------------------------------------------------------- the world

struct SimWorld::Impl {
  const SimMap* map = nullptr;
  SimConfig config;
  SimPose pose{0, 0, 0};
  double time = 0.0;
  bool contact = false;
  Rng scan_rng, detect_rng;
  double ray_c[kSimReadings], ray_s[kSimReadings];  // robot-frame directions of the readings
  // Route: points, cumulative lengths.
  std::vector<double> rx, ry, cum;
  bool person = false;
  // Hits on the person in the last scan (robot frame sums).
  int person_hits = 0;
  double hit_sx = 0.0, hit_sy = 0.0;

  SimPoint PersonAt(double t) const {
    if (!person) return {kNaN, kNaN};
    const double s = config.person_speed * t;
    const std::size_t n = rx.size();
    if (!(s > 0.0)) return {rx[0], ry[0]};
    if (s >= cum[n - 1]) return {rx[n - 1], ry[n - 1]};
    std::size_t i = 0;
    while (i + 1 < n && cum[i + 1] <= s) ++i;
    const double len = cum[i + 1] - cum[i];
    const double f = (s - cum[i]) / len;
    return {rx[i] + (rx[i + 1] - rx[i]) * f, ry[i] + (ry[i + 1] - ry[i]) * f};
  }

  // One ray from the robot's centre along the unit world direction (ux, uy):
  // the distance to a wall or the person, whichever comes first.
  double Ray(double ux, double uy, const SimPoint& q, bool& on_person) const {
    double t = map->Cast(pose.x, pose.y, ux, uy, config.max_range);
    on_person = false;
    if (person) {
      const double wx = q.x - pose.x, wy = q.y - pose.y;
      const double b = wx * ux + wy * uy;
      const double c = wx * wx + wy * wy - config.person_radius * config.person_radius;
      double tp = kInf;
      if (c <= 0.0) {
        tp = 0.0;
      } else if (b > 0.0) {
        const double disc = b * b - c;
        if (disc >= 0.0) tp = b - std::sqrt(disc);
      }
      if (tp <= config.max_range && tp < t) {
        t = tp;
        on_person = true;
      }
    }
    return t;
  }

  float Noisy(double t, double scale) {
    // Draws come in the same order for every reading, return or not.
    const bool drop = config.dropout > 0.0 && scan_rng.Uniform() < config.dropout;
    const double noise = config.range_noise > 0.0 ? config.range_noise * scan_rng.Gauss() : 0.0;
    if (drop || !(t <= config.max_range)) return std::numeric_limits<float>::infinity();
    double d = t + noise;
    if (d < 0.001) d = 0.001;  // a scanner never reports a negative range
    return static_cast<float>(d / scale);
  }

  void NoteHit(double ux, double uy, double t) {
    // The hit point in the robot frame.
    double s, c;
    SimSinCos(pose.heading, s, c);
    const double hx = ux * t, hy = uy * t;
    hit_sx += c * hx + s * hy;
    hit_sy += c * hy - s * hx;
    ++person_hits;
  }
};

SimWorld::SimWorld() : impl_(new (std::nothrow) Impl) {}
SimWorld::~SimWorld() { delete impl_; }

bool SimWorld::Start(const SimMap& map, const SimConfig& c, const SimPose& start, std::uint64_t seed, char* error,
                     std::size_t error_size) {
  if (impl_ == nullptr) {
    Say(error, error_size, "out of memory");
    return false;
  }
  if (!map.Loaded()) {
    Say(error, error_size, "no map loaded");
    return false;
  }
  struct Check {
    const char* name;
    double v, lo, hi;
    bool lo_open;
  } checks[] = {
      {"robot radius", c.robot_radius, 0.0, 10.0, true},
      {"maximum speed", c.max_speed, 0.0, 100.0, false},
      {"maximum turn rate", c.max_turn_rate, 0.0, 100.0, false},
      {"maximum range", c.max_range, 0.0, 1000.0, true},
      {"range noise", c.range_noise, 0.0, 10.0, false},
      {"dropout", c.dropout, 0.0, 1.0, false},
      {"mounting yaw", c.mount_yaw_deg, -1e6, 1e6, false},
      {"range scale", c.layout.range_scale, 0.0, 1e6, true},
      {"layout zero", c.layout.zero_deg, -1e6, 1e6, false},
      {"person radius", c.person_radius, 0.0, 10.0, true},
      {"person speed", c.person_speed, 0.0, 100.0, false},
      {"detector noise", c.detector_noise, 0.0, 10.0, false},
      {"detector miss", c.detector_miss, 0.0, 1.0, false},
      {"detector false alarm", c.detector_false_alarm, 0.0, 1.0, false},
  };
  for (const Check& k : checks) {
    if (!Finite(k.v) || k.v < k.lo || k.v > k.hi || (k.lo_open && k.v == k.lo)) {
      Say(error, error_size, "%s %g out of range (%s%g..%g)", k.name, k.v, k.lo_open ? "above " : "", k.lo, k.hi);
      return false;
    }
  }
  if (!Finite(start.x) || !Finite(start.y) || !Finite(start.heading)) {
    Say(error, error_size, "start is not finite");
    return false;
  }
  int col, row;
  if (!map.CellAt(start.x, start.y, col, row)) {
    Say(error, error_size, "start (%g, %g) is off the map", start.x, start.y);
    return false;
  }
  if (map.Blocked(col, row)) {
    Say(error, error_size, "start (%g, %g) is inside a wall", start.x, start.y);
    return false;
  }
  const double d = map.WallDistance(start.x, start.y, c.robot_radius + 1.0);
  if (d <= c.robot_radius) {
    Say(error, error_size, "start (%g, %g) is %.3f m from a wall, within the robot's radius %g", start.x, start.y, d,
        c.robot_radius);
    return false;
  }
  Impl& w = *impl_;
  w.map = &map;
  w.config = c;
  w.pose = {start.x, start.y, WrapAngle(std::fmod(start.heading, kTwoPi))};
  w.time = 0.0;
  w.contact = false;
  w.person = false;
  w.person_hits = 0;
  w.scan_rng.Seed(seed);
  w.detect_rng.Seed(seed ^ 0x5deece66dULL);
  for (int i = 0; i < kSimReadings; ++i) SimSinCos((i - 180) * kDeg, w.ray_s[i], w.ray_c[i]);
  return true;
}

bool SimWorld::SetRoute(const double* xy, std::size_t n, char* error, std::size_t error_size) {
  if (impl_ == nullptr || impl_->map == nullptr) {
    Say(error, error_size, "the world is not started");
    return false;
  }
  Impl& w = *impl_;
  w.person = false;
  if (xy == nullptr || n == 0) {
    Say(error, error_size, "the route is empty");
    return false;
  }
  if (n > kSimMaxRoute) {
    Say(error, error_size, "the route has %zu points, more than %zu", n, kSimMaxRoute);
    return false;
  }
  for (std::size_t i = 0; i < n; ++i) {
    const double x = xy[2 * i], y = xy[2 * i + 1];
    if (!Finite(x) || !Finite(y)) {
      Say(error, error_size, "route point %zu is not finite", i + 1);
      return false;
    }
    if (!w.map->FreeAt(x, y)) {
      Say(error, error_size, "route point %zu (%g, %g) is off the map or in a wall", i + 1, x, y);
      return false;
    }
  }
  try {
    w.rx.resize(n);
    w.ry.resize(n);
    w.cum.resize(n);
  } catch (const std::exception&) {
    Say(error, error_size, "out of memory");
    return false;
  }
  double total = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    w.rx[i] = xy[2 * i];
    w.ry[i] = xy[2 * i + 1];
    if (i > 0) {
      const double dx = w.rx[i] - w.rx[i - 1], dy = w.ry[i] - w.ry[i - 1];
      total += std::sqrt(dx * dx + dy * dy);
    }
    w.cum[i] = total;
  }
  w.person = true;
  return true;
}

bool SimWorld::HasPerson() const { return impl_ && impl_->person; }
double SimWorld::Time() const { return impl_ ? impl_->time : 0.0; }
SimPose SimWorld::Pose() const { return impl_ ? impl_->pose : SimPose{kNaN, kNaN, kNaN}; }
SimPoint SimWorld::Person() const { return impl_ ? impl_->PersonAt(impl_->time) : SimPoint{kNaN, kNaN}; }
double SimWorld::RouteDuration() const {
  if (!HasPerson() || !(impl_->config.person_speed > 0.0)) return 0.0;
  return impl_->cum.back() / impl_->config.person_speed;
}

void SimWorld::Scan(float out[kSimReadings]) {
  if (out == nullptr) return;
  if (impl_ == nullptr || impl_->map == nullptr) {
    for (int i = 0; i < kSimReadings; ++i) out[i] = std::numeric_limits<float>::infinity();
    return;
  }
  Impl& w = *impl_;
  double sh, ch;
  SimSinCos(w.pose.heading + w.config.mount_yaw_deg * kDeg, sh, ch);
  const SimPoint q = w.PersonAt(w.time);
  w.person_hits = 0;
  w.hit_sx = w.hit_sy = 0.0;
  for (int i = 0; i < kSimReadings; ++i) {
    const double ux = ch * w.ray_c[i] - sh * w.ray_s[i];
    const double uy = sh * w.ray_c[i] + ch * w.ray_s[i];
    bool on_person = false;
    const double t = w.Ray(ux, uy, q, on_person);
    if (on_person) w.NoteHit(ux, uy, t);
    out[i] = w.Noisy(t, 1.0);
  }
}

bool SimWorld::ScanTurn(float* ranges, std::size_t n) {
  if (impl_ == nullptr || impl_->map == nullptr || ranges == nullptr || n == 0 || n > kSimMaxTurnSamples) return false;
  Impl& w = *impl_;
  const SimPoint q = w.PersonAt(w.time);
  w.person_hits = 0;
  w.hit_sx = w.hit_sy = 0.0;
  const double base = w.config.mount_yaw_deg + w.config.layout.zero_deg;
  for (std::size_t k = 0; k < n; ++k) {
    const double theta = (360.0 * static_cast<double>(k)) / static_cast<double>(n);
    const double phi = w.config.layout.clockwise ? base - theta : base + theta;
    double s, c;
    SimSinCos(w.pose.heading + phi * kDeg, s, c);
    bool on_person = false;
    const double t = w.Ray(c, s, q, on_person);
    if (on_person) w.NoteHit(c, s, t);
    ranges[k] = w.Noisy(t, w.config.layout.range_scale);
  }
  return true;
}

SimDetection SimWorld::Detect() {
  SimDetection d{false, false, 0.0f, 0.0f};
  if (impl_ == nullptr || !impl_->person) return d;
  Impl& w = *impl_;
  // Draws in a fixed order whatever the outcome.
  const double miss = w.detect_rng.Uniform();
  const double alarm = w.detect_rng.Uniform();
  const double nx = w.config.detector_noise * w.detect_rng.Gauss();
  const double ny = w.config.detector_noise * w.detect_rng.Gauss();
  const double far = 1.5 + w.detect_rng.Uniform();
  const double dir = kTwoPi * w.detect_rng.Uniform();
  if (w.person_hits == 0 || miss < w.config.detector_miss) return d;
  const double cx = w.hit_sx / w.person_hits, cy = w.hit_sy / w.person_hits;
  d.present = true;
  if (alarm < w.config.detector_false_alarm) {
    double s, c;
    SimSinCos(dir, s, c);
    d.false_alarm = true;
    d.x = static_cast<float>(cx + far * c);
    d.y = static_cast<float>(cy + far * s);
    return d;
  }
  d.x = static_cast<float>(cx + nx);
  d.y = static_cast<float>(cy + ny);
  return d;
}

SimMove SimWorld::Move(double speed, double turn_rate, double dt) {
  SimMove m{};
  m.contact = {SimContactKind::kNone, kNaN, kNaN, kNaN, kNaN, -1, -1};
  if (impl_ == nullptr || impl_->map == nullptr) {
    m.pose = Pose();
    return m;
  }
  Impl& w = *impl_;
  const SimConfig& c = w.config;
  auto clip = [](double v, double lim) { return !(v == v) ? 0.0 : (v > lim ? lim : (v < -lim ? -lim : v)); };
  m.speed = clip(speed, c.max_speed);
  m.turn_rate = clip(turn_rate, c.max_turn_rate);
  m.pose = w.pose;
  if (w.contact || !(dt > 0.0) || !Finite(dt)) return m;
  const SimPose p0 = w.pose;
  const double t0 = w.time;
  const double v = m.speed;
  const double closing = std::fabs(v) + (w.person ? c.person_speed : 0.0);
  const double r = c.robot_radius;
  double tau = 0.0;
  for (;;) {
    const SimPose p = tau == 0.0 ? p0 : SimArc(p0, v, m.turn_rate, tau);
    const double reach = closing * (dt - tau) + kContactStep;
    double mx, my, qx, qy;
    long long bc, br;
    bool found;
    w.map->impl_->ToMap(p.x, p.y, mx, my);
    const double dwall = w.map->impl_->Nearest(mx, my, r + reach, qx, qy, bc, br, found);
    double gap = dwall - r;
    SimContactKind kind = SimContactKind::kWall;
    SimPoint q{kNaN, kNaN};
    if (w.person) {
      q = w.PersonAt(t0 + tau);
      const double dx = q.x - p.x, dy = q.y - p.y;
      const double dp = std::sqrt(dx * dx + dy * dy) - r - c.person_radius;
      if (dp < gap) {
        gap = dp;
        kind = SimContactKind::kPerson;
      }
    }
    if (gap <= 0.0) {
      w.contact = true;
      m.contact.kind = kind;
      m.contact.x = p.x;
      m.contact.y = p.y;
      if (kind == SimContactKind::kWall) {
        w.map->impl_->ToWorld(qx, qy, m.contact.px, m.contact.py);
        m.contact.col = static_cast<int>(bc);
        m.contact.row = static_cast<int>(br);
      } else {
        m.contact.px = q.x;
        m.contact.py = q.y;
      }
      w.pose = p;
      w.time = t0 + tau;
      m.pose = p;
      m.duration = tau;
      m.travelled = std::fabs(v) * tau;
      return m;
    }
    if (tau >= dt) break;
    if (closing == 0.0) {
      tau = dt;
      continue;
    }
    // Nothing can be reached within `gap`: move on by that much, or by the
    // contact step when nearer.
    const double step = (gap > kContactStep ? gap : kContactStep) / closing;
    tau = tau + step < dt ? tau + step : dt;
  }
  w.pose = SimArc(p0, v, m.turn_rate, dt);
  w.time = t0 + dt;
  m.pose = w.pose;
  m.duration = dt;
  m.travelled = std::fabs(v) * dt;
  return m;
}

double SimWorld::Clearance(double limit) const {
  if (impl_ == nullptr || impl_->map == nullptr) return kNaN;
  const double r = impl_->config.robot_radius;
  return impl_->map->WallDistance(impl_->pose.x, impl_->pose.y, limit + r) - r;
}
