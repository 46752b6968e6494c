// SPDX-License-Identifier: BSD-3-Clause
// Seeded random scans, borders and targets: invariants of every pass, and the
// library against the naive model on every observable result.
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "pathgrid_reference.h"

using namespace pgref;

namespace {

const float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();

struct Scenario {
  float border = 0.35f;
  std::vector<float> scan = emptyScan();
  float lateBorder = 0.35f;  // applies to the extra stamps after the scan
  std::vector<Cell> extra;
  std::vector<Cell> targets;
};

Scenario makeScenario(uint32_t seed) {
  std::mt19937 rng(seed);
  auto uni = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); };
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  Scenario s;
  if (pick(0, 1)) s.border = uni(-0.05f, 0.6f);
  switch (seed % 4) {
    case 0:  // clutter
      for (float& r : s.scan)
        if (pick(0, 1)) r = uni(0.3f, 2.6f);
      break;
    case 1:  // walls: runs of equal range
      for (int w = pick(1, 4); w > 0; --w) {
        const int from = pick(0, 359), len = pick(5, 80);
        const float r = uni(0.4f, 2.4f);
        for (int i = from; i < from + len; ++i) s.scan[static_cast<size_t>(i % 360)] = r;
      }
      break;
    case 2: {  // sparse readings, bad ones among them
      const float odd[] = {0.0f, -0.0f, -0.8f, kNaN, kInf, -kInf, 1e30f, -1e30f, 2.52f, -2.52f};
      for (int n = pick(1, 12); n > 0; --n) {
        const size_t i = static_cast<size_t>(pick(0, 359));
        s.scan[i] = pick(0, 2) ? uni(-2.6f, 2.6f) : odd[pick(0, 9)];
      }
      break;
    }
    default:  // a room around the robot, sometimes with a doorway
      for (size_t i = 0; i < 360; ++i)
        s.scan[i] = 1.2f + 0.8f * std::sin(static_cast<float>(i) * 0.05f + uni(0.0f, 0.3f));
      if (pick(0, 1)) {
        const int door = pick(0, 359);
        for (int i = door; i < door + 40; ++i) s.scan[static_cast<size_t>(i % 360)] = kInf;
      }
  }
  s.lateBorder = pick(0, 2) ? s.border : uni(0.0f, 0.55f);
  for (int n = pick(0, 3); n > 0; --n) s.extra.emplace_back(pick(-5, 104), pick(-5, 104));
  const int nTargets = pick(0, 4);
  for (int n = 0; n < nTargets; ++n) {
    const int kind = pick(0, 9);
    if (kind == 0) s.targets.emplace_back(pick(47, 53), pick(47, 53));
    else if (kind == 1) s.targets.emplace_back(pick(-3, 102), INT_MIN + pick(0, 1) * 200);
    else s.targets.emplace_back(pick(0, 99), pick(0, 99));
  }
  return s;
}

void runLibrary(Scenario& s, bool* hit) {
  InitHelper();
  SetBorder(s.border);
  SetRanges(s.scan.data());
  SetBorder(s.lateBorder);
  for (const Cell& c : s.extra) SetObst(c.first, c.second);
  ClearTarget();
  for (const Cell& t : s.targets) SetTarget(t.first, t.second);
  *hit = OutLine();
}

void runModel(const Scenario& s, Model& m, bool* hit) {
  m.init();
  m.setBorder(s.border);
  m.setRanges(s.scan.data());
  m.setBorder(s.lateBorder);
  for (const Cell& c : s.extra) m.setObst(c.first, c.second);
  m.clearTarget();
  for (const Cell& t : s.targets) m.setTarget(t.first, t.second);
  *hit = m.outLine();
}

bool isNeighbour(const Cell& a, const Cell& b) {
  const int dx = std::abs(a.first - b.first), dy = std::abs(a.second - b.second);
  return std::max(dx, dy) == 1;
}

constexpr uint32_t kScenarios = 320;

TEST(pathgridProperties, InvariantsOfEveryPass) {
  size_t longest = 0;
  int reachedCount = 0, emptyCount = 0;
  for (uint32_t seed = 1; seed <= kScenarios; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    Scenario s = makeScenario(seed);
    bool hit = false;
    runLibrary(s, &hit);
    const std::vector<Cell> path = libPath();
    ASSERT_EQ(static_cast<int>(path.size()), GetHelperNum());
    ASSERT_LE(path.size(), 10000u);
    longest = std::max(longest, path.size());
    reachedCount += hit;
    emptyCount += path.empty();
    auto isTarget = [&](const Cell& c) {
      return std::find(s.targets.begin(), s.targets.end(), c) != s.targets.end();
    };
    if (path.empty()) {
      EXPECT_FALSE(hit);
      EXPECT_EQ(GetFixX(), 0.0f);
      EXPECT_EQ(GetFaceY(), 0.0f);
      continue;
    }
    Model m;
    m.init();
    m.setBorder(s.border);
    m.setRanges(s.scan.data());
    m.setBorder(s.lateBorder);
    for (const Cell& c : s.extra) m.setObst(c.first, c.second);
    EXPECT_TRUE(isNeighbour(m.start(), path[0]));
    std::vector<bool> seen(kN * kN, false);
    for (size_t i = 0; i < path.size(); ++i) {
      const Cell& c = path[i];
      ASSERT_TRUE(onGrid(c.first, c.second));
      EXPECT_TRUE(ChkTarget(c.first, c.second)) << "entry " << i << " is blocked";
      EXPECT_EQ(calPointCost(c.first, c.second), 999) << "entry " << i << " unmarked";
      const size_t k = static_cast<size_t>(c.second * kN + c.first);
      EXPECT_FALSE(seen[k]) << "entry " << i << " repeats a cell";
      seen[k] = true;
      EXPECT_TRUE(i == 0 || isNeighbour(path[i - 1], c)) << "entry " << i;
      EXPECT_TRUE(i + 1 == path.size() || !isTarget(c)) << "walk went past target " << i;
    }
    EXPECT_EQ(hit, isTarget(path.back()));
    EXPECT_EQ(GetFaceX(), metres(path.back().second));
    EXPECT_EQ(GetFaceY(), metres(path.back().first));
  }
  // The scenarios must exercise long walks, reached targets and empty paths.
  EXPECT_GT(longest, 150u);
  EXPECT_GT(reachedCount, 20);
  EXPECT_GT(emptyCount, 0);
}

TEST(pathgridProperties, LibraryAgreesWithModel) {
  for (uint32_t seed = 1001; seed < 1001 + kScenarios; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    Scenario s = makeScenario(seed);
    bool hit = false, refHit = false;
    runLibrary(s, &hit);
    Model m;
    runModel(s, m, &refHit);
    ASSERT_EQ(libBlocked(), refBlocked(m));
    EXPECT_EQ(hit, refHit);
    EXPECT_EQ(capturePrintPath(), listing(m.record));
    EXPECT_EQ(GetHelperNum(), static_cast<int>(m.record.size()));
    EXPECT_EQ(GetFixX(), m.fixx);
    EXPECT_EQ(GetFixY(), m.fixy);
    EXPECT_EQ(GetFaceX(), m.faceX());
    EXPECT_EQ(GetFaceY(), m.faceY());
    ASSERT_EQ(libCosts(), refCosts(m));
    // Hand-driven steps continue the walk identically.
    for (int n = 0; n < 5; ++n) EXPECT_EQ(PathGrow(), m.grow());
    ASSERT_EQ(libCosts(), refCosts(m));
  }
}

TEST(pathgridProperties, ReadingCellsAgreeForRandomRanges) {
  std::mt19937 rng(77u);
  std::uniform_real_distribution<float> range(-2.7f, 2.7f);
  for (int n = 0; n < 40; ++n) {
    std::vector<float> scan(360);
    for (float& r : scan) r = range(rng);
    InitHelper();
    SetBorder(0.05f);
    SetRanges(scan.data());
    Model m;
    m.init();
    m.setBorder(0.05f);
    m.setRanges(scan.data());
    ASSERT_EQ(libBlocked(), refBlocked(m)) << "scan " << n;
  }
}

}  // namespace
