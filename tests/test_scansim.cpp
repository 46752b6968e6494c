// SPDX-License-Identifier: BSD-3-Clause
#include <gtest/gtest.h>
#include <png.h>

#include <dlfcn.h>
#include <cmath>
#include <cstdio>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "scansim.h"

// Counts operator new in this process (the library's calls land here too),
// outside sanitizer builds, whose runtime owns the allocator.
#if defined(__SANITIZE_ADDRESS__)
#define SCANSIM_TEST_NO_COUNT 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SCANSIM_TEST_NO_COUNT 1
#endif
#endif
#ifndef SCANSIM_TEST_NO_COUNT
// Counts, then hands over to the C++ runtime's own operator new, so that
// every delete still meets its allocator (a memory checker's too).
static long g_news = 0;
void* operator new(std::size_t n) {
  using New = void* (*)(std::size_t);
  static const New real = reinterpret_cast<New>(dlsym(RTLD_NEXT, sizeof(std::size_t) == 8 ? "_Znwm" : "_Znwj"));
  ++g_news;
  return real(n);
}
#endif

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Independent ray caster: the entry distance into every blocked cell's
// closed square by the slab method, smallest wins.
double BruteCast(const SimMap& m, double x, double y, double dx, double dy, double max_range) {
  double best = kInf;
  const double res = m.Resolution();
  for (int r = 0; r < m.Height(); ++r) {
    for (int c = 0; c < m.Width(); ++c) {
      if (!m.Blocked(c, r)) continue;
      const double lox = m.OriginX() + c * res, hix = m.OriginX() + (c + 1) * res;
      const double loy = m.OriginY() + r * res, hiy = m.OriginY() + (r + 1) * res;
      double t0 = 0.0, t1 = kInf;
      auto slab = [&](double o, double d, double lo, double hi) {
        if (d == 0.0) return o >= lo && o <= hi;
        double a = (lo - o) / d, b = (hi - o) / d;
        if (a > b) std::swap(a, b);
        t0 = std::max(t0, a);
        t1 = std::min(t1, b);
        return t0 <= t1;
      };
      if (slab(x, dx, lox, hix) && slab(y, dy, loy, hiy) && t0 <= t1) best = std::min(best, t0);
    }
  }
  return best <= max_range ? best : kInf;
}

std::string TempDir() {
  const char* t = std::getenv("TMPDIR");
  std::string dir = std::string(t ? t : "/tmp") + "/scansim-test-XXXXXX";
  std::vector<char> buf(dir.begin(), dir.end());
  buf.push_back('\0');
  const char* made = mkdtemp(buf.data());
  return made ? std::string(made) : std::string("/tmp");
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary);
  f << bytes;
}

std::string Yaml(const std::string& image, const std::string& extra = "") {
  return "image: " + image +
         "\nresolution: 0.5\norigin: [1.0, 2.0, 0.0]\nnegate: 0\noccupied_thresh: 0.65\n"
         "free_thresh: 0.196\n" +
         extra;
}

std::string Swap(std::string s, const std::string& from, const std::string& to) {
  return s.replace(s.find(from), from.size(), to);
}

// A map from rows given top first, as an image shows them ('#' wall, '.' free, '?' unknown).
void SetRows(SimMap& m, const std::vector<std::string>& rows, double res, double ox, double oy, bool open = false) {
  const int h = static_cast<int>(rows.size()), w = static_cast<int>(rows[0].size());
  std::vector<unsigned char> cells(static_cast<std::size_t>(w * h));
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      const char ch = rows[static_cast<std::size_t>(h - 1 - r)][static_cast<std::size_t>(c)];
      cells[static_cast<std::size_t>(r * w + c)] = ch == '#' ? 1 : (ch == '?' ? 2 : 0);
    }
  SimMapOptions o;
  o.open_unknown = open;
  ASSERT_TRUE(m.Set(w, h, res, ox, oy, 0.0, cells.data(), o));
}

TEST(ScanSimRays, AgreeWithBruteForceOnRandomMaps) {
  std::mt19937 gen(11);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  int compared = 0, hits = 0;
  for (int map_no = 0; map_no < 40; ++map_no) {
    // Small dense maps, and large sparse ones where rays leap through open floor.
    const bool sparse = map_no % 4 == 3;
    const int w = (sparse ? 40 : 5) + static_cast<int>(gen() % 30),
              h = (sparse ? 40 : 5) + static_cast<int>(gen() % 30);
    const double res = 0.03 + 0.2 * u01(gen);
    const double ox = -3.0 + 6.0 * u01(gen), oy = -3.0 + 6.0 * u01(gen);
    const double density = sparse ? 0.002 + 0.01 * u01(gen) : 0.05 + 0.3 * u01(gen);
    std::vector<unsigned char> cells(static_cast<std::size_t>(w * h));
    for (auto& c : cells) c = u01(gen) < density ? 1 : 0;
    SimMap m;
    SimMapOptions open;
    open.open_unknown = map_no % 2 == 0;  // odd maps: the outside is a wall
    ASSERT_TRUE(m.Set(w, h, res, ox, oy, 0.0, cells.data(), open));
    for (int ray = 0; ray < 200; ++ray) {
      const double x = ox + w * res * u01(gen), y = oy + h * res * u01(gen);
      const double a = 6.283185307179586 * u01(gen);
      const double dx = std::cos(a), dy = std::sin(a);
      const double max_range = 0.5 + (sparse ? 12.0 : 5.0) * u01(gen);
      double got = m.Cast(x, y, dx, dy, max_range);
      double want = BruteCast(m, x, y, dx, dy, max_range);
      if (!open.open_unknown) {
        // The outside as a wall: the brute force's last cell is the image edge.
        const double tx = dx > 0 ? (ox + w * res - x) / dx : (ox - x) / dx;
        const double ty = dy > 0 ? (oy + h * res - y) / dy : (oy - y) / dy;
        const double edge = std::min(tx, ty);
        if (edge <= max_range) want = std::min(want, edge);
      }
      ++compared;
      if (std::isinf(want)) {
        EXPECT_TRUE(std::isinf(got)) << "map " << map_no << " ray " << ray << " got " << got;
      } else {
        ++hits;
        EXPECT_NEAR(got, want, 1e-9) << "map " << map_no << " ray " << ray;
      }
    }
  }
  EXPECT_GT(hits, compared / 3);
  EXPECT_LT(hits, compared);
}

TEST(ScanSimRays, StopAtTheCornerOfTwoDiagonalWalls) {
  // Walls at cells (2,1) and (1,2) touch only at the vertex (2,2) in cells.
  SimMap m;
  SetRows(m, {".....", ".....", ".#...", "..#..", "....."}, 1.0, 0.0, 0.0, true);
  // From the middle of cell (0,0) at 45 degrees: through the vertices (1,1) and (2,2).
  const double d = std::sqrt(0.5);
  const double t = m.Cast(0.5, 0.5, d, d, 20.0);
  EXPECT_NEAR(t, std::sqrt(2.0) * 1.5, 1e-12);
  // Without the walls the same ray goes on to the far corner.
  SimMap empty;
  SetRows(empty, {".....", ".....", ".....", ".....", "....."}, 1.0, 0.0, 0.0, true);
  EXPECT_TRUE(std::isinf(empty.Cast(0.5, 0.5, d, d, 20.0)));
  // Max range: a wall just beyond it is no return, one at it is.
  SimMap wall;
  SetRows(wall, {"....#"}, 1.0, 0.0, 0.0, true);
  EXPECT_TRUE(std::isinf(wall.Cast(0.5, 0.5, 1.0, 0.0, 3.4)));
  EXPECT_EQ(wall.Cast(0.5, 0.5, 1.0, 0.0, 3.5), 3.5);
}

TEST(ScanSimMaps, ImageRowsRunFromTheTop) {
  const std::string dir = TempDir();
  // 3 x 2 image: the top row is wall, the bottom row free.
  WriteFile(dir + "/p5.pgm", std::string("P5\n# a comment\n3 2\n255\n") + std::string("\0\0\0\xfe\xfe\xfe", 6));
  WriteFile(dir + "/p2.pgm", "P2\n3 2\n255\n0 0 0\n254 254 254\n");
  // PNG through libpng's writer.
  {
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    img.width = 3;
    img.height = 2;
    img.format = PNG_FORMAT_GRAY;
    const unsigned char px[6] = {0, 0, 0, 254, 254, 254};
    ASSERT_TRUE(png_image_write_to_file(&img, (dir + "/map.png").c_str(), 0, px, 0, nullptr));
  }
  for (const char* image : {"p5.pgm", "p2.pgm", "map.png"}) {
    WriteFile(dir + "/m.yaml", Yaml(image));
    SimMap m;
    char why[256] = "";
    ASSERT_TRUE(m.Load((dir + "/m.yaml").c_str(), SimMapOptions{}, why, sizeof why)) << why;
    EXPECT_EQ(m.Width(), 3);
    EXPECT_EQ(m.Height(), 2);
    EXPECT_EQ(m.Cell(1, 1), SimCellState::kWall) << image;  // row 1 is the higher y
    EXPECT_EQ(m.Cell(1, 0), SimCellState::kFree) << image;
    // World: origin (1, 2), 0.5 m cells; the free row spans y 2..2.5.
    EXPECT_TRUE(m.FreeAt(1.75, 2.25));
    EXPECT_FALSE(m.FreeAt(1.75, 2.75));
    EXPECT_NEAR(m.Cast(1.75, 2.25, 0.0, 1.0, 12.0), 0.25, 1e-12);   // up: the wall row
    EXPECT_NEAR(m.Cast(1.75, 2.25, 0.0, -1.0, 12.0), 0.25, 1e-12);  // down: the outside
  }
  // negate 1 reads the same picture the other way round; unknown grey.
  WriteFile(dir + "/n.pgm", "P2\n3 1\n255\n0 128 255\n");
  WriteFile(dir + "/n.yaml", Swap(Yaml("n.pgm", "mode: trinary\n"), "negate: 0", "negate: 1"));
  SimMap n;
  char why[256] = "";
  ASSERT_TRUE(n.Load((dir + "/n.yaml").c_str(), SimMapOptions{}, why, sizeof why)) << why;
  EXPECT_EQ(n.Cell(0, 0), SimCellState::kFree);
  EXPECT_EQ(n.Cell(1, 0), SimCellState::kUnknown);
  EXPECT_EQ(n.Cell(2, 0), SimCellState::kWall);
  EXPECT_TRUE(n.Blocked(1, 0));
  EXPECT_TRUE(n.Blocked(-1, 0));
  SimMapOptions open;
  open.open_unknown = true;
  ASSERT_TRUE(n.Load((dir + "/n.yaml").c_str(), open, why, sizeof why));
  EXPECT_FALSE(n.Blocked(1, 0));
  EXPECT_FALSE(n.Blocked(-1, 0));
}

TEST(ScanSimMaps, BadFilesSayWhichFileAndWhat) {
  const std::string dir = TempDir();
  WriteFile(dir + "/ok.pgm", "P2\n2 2\n255\n254 254\n254 254\n");
  WriteFile(dir + "/short.pgm", std::string("P5\n4 4\n255\n") + std::string(10, '\xfe'));
  WriteFile(dir + "/long.pgm", std::string("P5\n2 2\n255\n") + std::string(5, '\xfe'));
  WriteFile(dir + "/text.pgm", "hello\n");
  WriteFile(dir + "/deep.pgm", "P2\n1 1\n65535\n0\n");
  struct Case {
    std::string yaml, want;
  } cases[] = {
      {"image: [unclosed\n", "not YAML"},
      {"just a line\n", "not a map_server YAML"},
      {"resolution: 0.5\norigin: [0, 0, 0]\nnegate: 0\noccupied_thresh: 0.65\nfree_thresh: 0.2\n",
       "missing key 'image'"},
      {"image: ok.pgm\norigin: [0, 0, 0]\nnegate: 0\noccupied_thresh: 0.65\nfree_thresh: 0.2\n",
       "missing key 'resolution'"},
      {Swap(Yaml("ok.pgm"), "resolution: 0.5", "resolution: 0"), "'resolution' must be > 0"},
      {Swap(Yaml("ok.pgm"), "resolution: 0.5", "resolution: -1"), "'resolution' must be > 0"},
      {Swap(Yaml("ok.pgm"), "resolution: 0.5", "resolution: .nan"), "'resolution' is not finite"},
      {Swap(Yaml("ok.pgm"), "resolution: 0.5", "resolution: .inf"), "'resolution' is not finite"},
      {Swap(Yaml("ok.pgm"), "origin: [1.0, 2.0, 0.0]", "origin: [1, .nan, 0]"), "'origin'"},
      {Swap(Yaml("ok.pgm"), "negate: 0", "negate: 3"), "'negate'"},
      {Yaml("ok.pgm", "mode: raw\n"), "'mode'"},
      {Yaml("missing.pgm"), "missing.pgm: cannot open"},
      {Yaml("text.pgm"), "text.pgm: not an 8-bit PGM or PNG"},
      {Yaml("short.pgm"), "short.pgm: cut short: 10 of the 16 pixels"},
      {Yaml("long.pgm"), "long.pgm: 1 bytes more than the 2 x 2 pixels"},
      {Yaml("deep.pgm"), "deep.pgm: maximum value 65535 is not 8-bit"},
  };
  SimMap m;
  char why[256];
  ASSERT_FALSE(m.Load((dir + "/none.yaml").c_str(), SimMapOptions{}, why, sizeof why));
  EXPECT_NE(std::string(why).find("none.yaml: cannot open"), std::string::npos) << why;
  for (const Case& c : cases) {
    WriteFile(dir + "/bad.yaml", c.yaml);
    why[0] = '\0';
    EXPECT_FALSE(m.Load((dir + "/bad.yaml").c_str(), SimMapOptions{}, why, sizeof why)) << c.yaml;
    EXPECT_NE(std::string(why).find(c.want), std::string::npos) << "got: " << why << "\nwanted: " << c.want;
    EXPECT_EQ(std::string(why).find('\n'), std::string::npos);
    EXPECT_FALSE(m.Loaded());
  }
}

TEST(ScanSimMotion, ArcMatchesFineIntegrationAndTurnsLeftForPositiveRates) {
  // Independent model: many small Euler steps with the C library's sine and cosine.
  for (double w : {1.2, -1.2, 0.3, -0.01, 1e-9, 0.0}) {
    SimPose p{1.0, -2.0, 2.5};
    const double v = 0.5, dt = 0.7;
    SimPose q = SimArc(p, v, w, dt);
    double x = p.x, y = p.y, h = p.heading;
    const int n = 200000;
    for (int i = 0; i < n; ++i) {
      const double hm = h + 0.5 * w * dt / n;
      x += v * dt / n * std::cos(hm);
      y += v * dt / n * std::sin(hm);
      h += w * dt / n;
    }
    EXPECT_NEAR(q.x, x, 1e-9) << w;
    EXPECT_NEAR(q.y, y, 1e-9) << w;
    EXPECT_NEAR(q.heading, std::remainder(p.heading + w * dt, 2 * M_PI), 1e-15) << w;
    (void)h;
  }
  // Heading 0 (along +x), a positive turn rate ends to the left (+y) and turned counter-clockwise.
  SimPose left = SimArc({0, 0, 0}, 0.5, 1.0, 1.0);
  EXPECT_GT(left.y, 0.0);
  EXPECT_GT(left.heading, 0.0);
  SimPose right = SimArc({0, 0, 0}, 0.5, -1.0, 1.0);
  EXPECT_LT(right.y, 0.0);
  // A point ahead-left of the robot is ahead-left in its frame.
  SimPoint r = SimToRobot({1.0, 1.0, M_PI / 2}, 0.0, 3.0);
  EXPECT_NEAR(r.x, 2.0, 1e-12);
  EXPECT_NEAR(r.y, 1.0, 1e-12);
  // Own sine and cosine against the C library's.
  std::mt19937 gen(3);
  std::uniform_real_distribution<double> a(-40.0, 40.0);
  for (int i = 0; i < 10000; ++i) {
    const double x = a(gen);
    double s, c;
    SimSinCos(x, s, c);
    EXPECT_NEAR(s, std::sin(x), 4e-16);
    EXPECT_NEAR(c, std::cos(x), 4e-16);
  }
}

class ScanSimWorld : public ::testing::Test {
 protected:
  // 10 m x 4 m, 0.1 m cells, open floor but for one thin wall at x 5.0..5.1.
  void SetUp() override {
    std::vector<std::string> rows(40, std::string(100, '.'));
    for (auto& r : rows) r[50] = '#';
    for (int i = 0; i < 6; ++i) rows[static_cast<std::size_t>(i)][50] = '.';  // a gap at the top (y 3.4..4)
    SetRows(map_, rows, 0.1, 0.0, 0.0, false);
  }
  SimMap map_;
};

TEST_F(ScanSimWorld, CollisionBetweenTwoPeriodsIsFound) {
  SimConfig c;
  c.max_speed = 20.0;
  SimWorld w;
  char why[256];
  ASSERT_TRUE(w.Start(map_, c, {4.0, 1.0, 0.0}, 1, why, sizeof why)) << why;
  // One period from x 4 to x 6: both ends are free, the wall lies between.
  EXPECT_TRUE(map_.FreeAt(6.0, 1.0));
  SimMove m = w.Move(20.0, 0.0, 0.1);
  ASSERT_EQ(m.contact.kind, SimContactKind::kWall);
  EXPECT_NEAR(m.contact.x, 5.0 - c.robot_radius, 2e-4);
  EXPECT_GE(m.contact.x, 5.0 - c.robot_radius);
  EXPECT_EQ(m.contact.col, 50);
  EXPECT_NEAR(m.contact.px, 5.0, 1e-12);
  EXPECT_NEAR(m.duration * 20.0, m.travelled, 1e-12);
  // Stopped: nothing moves after a contact.
  SimMove again = w.Move(0.5, 0.0, 0.1);
  EXPECT_EQ(again.pose.x, m.pose.x);
  EXPECT_EQ(again.travelled, 0.0);
  // Clipping: a 20 m/s command at the default 0.5 m/s goes 0.05 m.
  SimWorld slow;
  ASSERT_TRUE(slow.Start(map_, SimConfig{}, {4.0, 1.0, 0.0}, 1, why, sizeof why));
  SimMove s = slow.Move(20.0, -9.0, 0.1);
  EXPECT_EQ(s.speed, 0.5);
  EXPECT_EQ(s.turn_rate, -1.2);
  EXPECT_EQ(s.contact.kind, SimContactKind::kNone);
  SimMove nan = slow.Move(std::nan(""), 0.0, 0.1);
  EXPECT_EQ(nan.speed, 0.0);
}

TEST_F(ScanSimWorld, ArcGrazingACornerIsAContact) {
  // The wall's lower end is at y 3.4; an arc bulging up past it touches it
  // in the middle of the move while both ends are clear.
  SimConfig c;
  c.robot_radius = 0.1;
  c.max_speed = 10.0;
  c.max_turn_rate = 10.0;
  SimWorld w;
  char why[256];
  // A half circle of radius 0.45 m round (5.05, 3.0), from (4.6, 3.0) up
  // and over to (5.5, 3.0): its top passes 0.05 m above the wall's end.
  ASSERT_TRUE(w.Start(map_, c, {4.6, 3.0, M_PI / 2}, 1, why, sizeof why)) << why;
  const SimPose end = SimArc(w.Pose(), 0.45 * M_PI, -M_PI, 1.0);
  ASSERT_NEAR(end.x, 5.5, 1e-9);
  ASSERT_GT(map_.WallDistance(end.x, end.y, 1.0), c.robot_radius);
  SimMove m = w.Move(0.45 * M_PI, -M_PI, 1.0);
  EXPECT_GT(m.contact.y, 3.3);
  EXPECT_EQ(m.contact.kind, SimContactKind::kWall) << m.pose.x << " " << m.pose.y;
}

TEST_F(ScanSimWorld, ScansSeeWallsAndThePersonAndRepeatFromTheSeed) {
  SimConfig c;
  c.range_noise = 0.01;
  c.dropout = 0.1;
  SimWorld a, b, other;
  char why[256];
  ASSERT_TRUE(a.Start(map_, c, {2.0, 1.0, 0.0}, 42, why, sizeof why));
  ASSERT_TRUE(b.Start(map_, c, {2.0, 1.0, 0.0}, 42, why, sizeof why));
  ASSERT_TRUE(other.Start(map_, c, {2.0, 1.0, 0.0}, 43, why, sizeof why));
  float sa[360], sb[360], so[360];
  a.Scan(sa);
  b.Scan(sb);
  other.Scan(so);
  EXPECT_EQ(std::memcmp(sa, sb, sizeof sa), 0);
  EXPECT_NE(std::memcmp(sa, so, sizeof sa), 0);
  // Noise and dropout statistics over many scans of the wall 3 m ahead (index 180).
  int dropped = 0, n = 0;
  double sum = 0, sum2 = 0;
  for (int k = 0; k < 4000; ++k) {
    a.Scan(sa);
    for (int i = 175; i <= 185; ++i) {
      const double expect = 3.0 / std::cos((i - 180) * M_PI / 180);
      if (std::isinf(sa[i])) {
        ++dropped;
        continue;
      }
      const double e = sa[i] - expect;
      sum += e;
      sum2 += e * e;
      ++n;
    }
  }
  EXPECT_NEAR(static_cast<double>(dropped) / (dropped + n), 0.1, 0.01);
  EXPECT_NEAR(sum / n, 0.0, 0.0005);
  EXPECT_NEAR(std::sqrt(sum2 / n), 0.01, 0.0005);
  // Without noise: exact distances, index 270 looks left.
  SimWorld clean;
  ASSERT_TRUE(clean.Start(map_, SimConfig{}, {2.0, 1.0, M_PI / 2}, 1, why, sizeof why));
  clean.Scan(sa);
  EXPECT_NEAR(sa[180], 3.0f, 1e-6);  // heading +y: the top edge 3 m up
  EXPECT_NEAR(sa[90], 3.0f, 1e-6);   // right of +y is +x: the wall at x 5
  EXPECT_NEAR(sa[270], 2.0f, 1e-6);  // left is -x: the map's edge
  // A person 1.5 m ahead: a disc of 0.2 m, seen at 1.3 m, and detected there.
  const double route[] = {3.5, 2.0, 3.5, 3.0};
  SimConfig pc;
  pc.person_speed = 0.0;
  pc.detector_noise = 0.0;
  SimWorld p;
  ASSERT_TRUE(p.Start(map_, pc, {2.0, 2.0, 0.0}, 1, why, sizeof why));
  ASSERT_TRUE(p.SetRoute(route, 2, why, sizeof why)) << why;
  p.Scan(sa);
  EXPECT_NEAR(sa[180], 1.3f, 1e-6);
  SimDetection d = p.Detect();
  ASSERT_TRUE(d.present);
  EXPECT_NEAR(d.x, 1.33, 0.05);
  EXPECT_NEAR(d.y, 0.0, 1e-6);
  // Raw samples of one turn (clockwise, millimetres, mounted backwards) bin back to the same readings.
  SimConfig rc;
  rc.layout.clockwise = true;
  rc.layout.range_scale = kScanMillimetres;
  rc.layout.zero_deg = 30.0;
  rc.mount_yaw_deg = 180.0;
  SimWorld raw;
  ASSERT_TRUE(raw.Start(map_, rc, {2.0, 1.0, 0.3}, 1, why, sizeof why));
  std::vector<float> turn(720);
  ASSERT_TRUE(raw.ScanTurn(turn.data(), turn.size()));
  ScanLayout robot = rc.layout;
  robot.zero_deg = 210.0;
  float binned[360], direct[360];
  ASSERT_TRUE(BinEvenScan(turn.data(), turn.size(), robot, binned));
  SimWorld ref;
  ASSERT_TRUE(ref.Start(map_, SimConfig{}, {2.0, 1.0, 0.3}, 1, why, sizeof why));
  ref.Scan(direct);
  // Each index holds the nearest of its samples, half a degree either side.
  for (int i = 0; i < 360; ++i) {
    const float lo = std::min({direct[(i + 359) % 360], direct[i], direct[(i + 1) % 360]});
    EXPECT_GE(binned[i], lo - 0.002f) << i;
    EXPECT_LE(binned[i], direct[i] + 0.002f) << i;
  }
}

TEST_F(ScanSimWorld, BadStartsAndRoutesAreRefused) {
  SimWorld w;
  char why[256];
  SimConfig c;
  EXPECT_FALSE(w.Start(map_, c, {5.05, 1.0, 0.0}, 1, why, sizeof why));
  EXPECT_NE(std::string(why).find("inside a wall"), std::string::npos) << why;
  EXPECT_FALSE(w.Start(map_, c, {-1.0, 1.0, 0.0}, 1, why, sizeof why));
  EXPECT_NE(std::string(why).find("off the map"), std::string::npos) << why;
  EXPECT_FALSE(w.Start(map_, c, {4.9, 1.0, 0.0}, 1, why, sizeof why));
  EXPECT_NE(std::string(why).find("within the robot's radius"), std::string::npos) << why;
  EXPECT_FALSE(w.Start(map_, c, {1.0, std::nan(""), 0.0}, 1, why, sizeof why));
  c.range_noise = std::nan("");
  EXPECT_FALSE(w.Start(map_, c, {1.0, 1.0, 0.0}, 1, why, sizeof why));
  EXPECT_NE(std::string(why).find("range noise"), std::string::npos) << why;
  ASSERT_TRUE(w.Start(map_, SimConfig{}, {1.0, 1.0, 0.0}, 1, why, sizeof why));
  const double off[] = {1.0, 1.0, 20.0, 1.0};
  EXPECT_FALSE(w.SetRoute(off, 2, why, sizeof why));
  EXPECT_NE(std::string(why).find("route point 2"), std::string::npos) << why;
  EXPECT_FALSE(w.SetRoute(off, 0, why, sizeof why));
  EXPECT_NE(std::string(why).find("empty"), std::string::npos) << why;
  const double nan[] = {1.0, std::nan("")};
  EXPECT_FALSE(w.SetRoute(nan, 1, why, sizeof why));
  EXPECT_FALSE(w.HasPerson());
}

TEST_F(ScanSimWorld, APersonWalkingIntoTheRobotIsAContact) {
  SimConfig c;
  c.person_speed = 1.0;
  SimWorld w;
  char why[256];
  ASSERT_TRUE(w.Start(map_, c, {2.0, 2.0, 0.0}, 1, why, sizeof why));
  const double route[] = {4.0, 2.0, 1.0, 2.0};
  ASSERT_TRUE(w.SetRoute(route, 2, why, sizeof why));
  SimMove m{};
  int periods = 0;
  while (m.contact.kind == SimContactKind::kNone && periods < 40) {
    m = w.Move(0.0, 0.0, 0.1);
    ++periods;
  }
  ASSERT_EQ(m.contact.kind, SimContactKind::kPerson);
  // Touching when the person's centre is 0.4 m off: at x 2.4, 1.6 s in.
  EXPECT_NEAR(m.contact.px, 2.4, 2e-4);
  EXPECT_NEAR(w.Time(), 1.6, 2e-4);
  EXPECT_NEAR(w.RouteDuration(), 3.0, 1e-12);
}

}  // namespace

namespace {

TEST_F(ScanSimWorld, ScansDetectionsAndMovesAllocateNothing) {
#ifdef SCANSIM_TEST_NO_COUNT
  GTEST_SKIP() << "the sanitizer owns the allocator in this build";
#else
  const char* preload = std::getenv("LD_PRELOAD");
  if (preload != nullptr && std::strstr(preload, "vgpreload") != nullptr)
    GTEST_SKIP() << "a memory checker owns the allocator in this process";
  SimConfig c;
  c.range_noise = 0.01;
  c.dropout = 0.05;
  c.detector_false_alarm = 0.2;
  SimWorld w;
  char why[256];
  ASSERT_TRUE(w.Start(map_, c, {2.0, 1.0, 0.3}, 3, why, sizeof why));
  const double route[] = {3.5, 1.0, 3.5, 3.0};
  const long setup = g_news;
  ASSERT_TRUE(w.SetRoute(route, 2, why, sizeof why));
  EXPECT_GT(g_news, setup);  // the counter sees the library's allocations
  float scan[360];
  std::vector<float> turn(720);
  const long before = g_news;
  for (int k = 0; k < 50; ++k) {
    w.Scan(scan);
    w.ScanTurn(turn.data(), turn.size());
    (void)w.Detect();
    (void)w.Move(0.3, 0.5, 0.1);
    (void)w.Clearance(5.0);
  }
  EXPECT_EQ(g_news, before);
#endif
}

}  // namespace
