// SPDX-License-Identifier: BSD-3-Clause
// Disk and cone kernels as seen through the fields they stamp.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "pathgrid_reference.h"

using namespace pgref;

namespace {

const float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();

struct BorderRow {
  float border;
  size_t cells;
};

// Disk size per border, including every saturating case of the conversion.
TEST(pathgridKernels, DiskSizeFollowsBorderTable) {
  const BorderRow rows[] = {
      {0.04f, 0},     {0.0499f, 0},  {0.0f, 0},       {-0.0f, 0},     {-1.0f, 0},
      {kNaN, 0},      {-kInf, 0},    {-1e30f, 0},     {-3e9f, 0},     {0.05f, 1},
      {0.1f, 9},      {0.15f, 25},   {0.2f, 45},      {0.25f, 69},    {0.3f, 109},
      {0.35f, 145},   {0.4f, 193},   {0.45f, 249},    {0.5f, 305},    {0.55f, 305},
      {2.0f, 305},    {1e9f, 305},   {1e30f, 305},    {kInf, 305},
  };
  for (const BorderRow& r : rows) {
    SCOPED_TRACE(testing::Message() << "border " << r.border);
    InitHelper();
    SetBorder(r.border);
    SetObst(50, 50);
    const std::vector<Cell> got = libBlocked();
    EXPECT_EQ(got.size(), r.cells);
    Model m;
    m.init();
    m.setBorder(r.border);
    m.setObst(50, 50);
    EXPECT_EQ(got, refBlocked(m));
  }
}

TEST(pathgridKernels, InitHelperRestoresDefaultRadiusOfSevenCells) {
  InitHelper();
  SetBorder(0.5f);
  SetObst(20, 20);
  InitHelper();  // also clears the obstacle field
  EXPECT_TRUE(libBlocked().empty());
  SetObst(50, 50);
  const std::vector<Cell> got = libBlocked();
  ASSERT_EQ(got.size(), 145u);  // 109 if the border product were formed in double
  for (const Cell& c : got) {
    const int dx = c.first - 50, dy = c.second - 50;
    EXPECT_LT(dx * dx + dy * dy, 49);
  }
  EXPECT_FALSE(ChkTarget(50, 44));
  EXPECT_TRUE(ChkTarget(50, 43));  // 7 cells out is outside the disk
  EXPECT_TRUE(ChkTarget(50, 57));
}

TEST(pathgridKernels, SetBorderLeavesExistingDisksUntilNextStamp) {
  InitHelper();
  SetObst(50, 50);
  SetBorder(0.5f);
  EXPECT_EQ(libBlocked().size(), 145u);
  SetObst(20, 20);  // the new radius applies from here on
  Model m;
  m.init();
  m.setObst(50, 50);
  m.setBorder(0.5f);
  m.setObst(20, 20);
  EXPECT_EQ(libBlocked(), refBlocked(m));
  SetBorder(0.04f);
  std::vector<float> zero = uniformScan(0.0f);
  SetRanges(zero.data());  // rebuilds with an empty disk
  EXPECT_TRUE(libBlocked().empty());
}

// Target field read back through the cost of free, unvisited cells.
void expectCone(const std::vector<Cell>& targets) {
  InitHelper();
  ClearTarget();
  Model m;
  m.init();
  for (const Cell& t : targets) {
    SetTarget(t.first, t.second);
    m.setTarget(t.first, t.second);
  }
  EXPECT_EQ(libCosts(), refCosts(m));
}

TEST(pathgridKernels, ConeMatchesDistanceFormulaFromAnyTarget) {
  const std::vector<std::vector<Cell>> sets = {
      {{50, 60}}, {{0, 0}},  {{99, 0}},  {{0, 99}},           {{99, 99}},
      {{37, 81}}, {{50, 60}, {50, 40}}, {{5, 5}, {90, 20}, {60, 95}, {50, 50}}};
  for (const auto& s : sets) {
    SCOPED_TRACE(testing::Message() << "first target " << s[0].first << "," << s[0].second);
    expectCone(s);
  }
}

TEST(pathgridKernels, ConeValuesAtKnownOffsets) {
  InitHelper();
  ClearTarget();
  SetTarget(50, 60);
  EXPECT_EQ(calPointCost(50, 60), -255);
  EXPECT_EQ(calPointCost(50, 59), -126);
  EXPECT_EQ(calPointCost(51, 61), -126);
  EXPECT_EQ(calPointCost(50, 50), -117);
  EXPECT_EQ(calPointCost(0, 0), -49);
  int weakest = INT_MIN;
  for (int c : libCosts()) weakest = std::max(weakest, c);
  EXPECT_EQ(weakest, -49);

  InitHelper();
  SetTarget(0, 0);
  EXPECT_EQ(calPointCost(0, 0), -255);
  EXPECT_EQ(calPointCost(1, 1), -126);
  EXPECT_EQ(calPointCost(89, 90), -1);  // 126.6 cells
  EXPECT_EQ(calPointCost(90, 90), 0);   // 127.3 cells: kernel edge
  EXPECT_EQ(calPointCost(99, 99), 0);

  SetTarget(50, 60);  // targets combine by maximum, never by overwrite
  SetTarget(50, 40);
  EXPECT_EQ(calPointCost(50, 60), -255);
  EXPECT_EQ(calPointCost(50, 40), -255);
  EXPECT_EQ(calPointCost(50, 50), -117);
  EXPECT_EQ(calPointCost(0, 0), -255);
  SetTarget(51, 51);  // a weaker cone leaves a target cell at 255
  EXPECT_EQ(calPointCost(50, 60), -255);
  EXPECT_EQ(calPointCost(50, 50), -126);
}

TEST(pathgridKernels, ClearTargetAndOffGridTargets) {
  InitHelper();
  SetTarget(50, 60);
  ClearTarget();
  for (int c : libCosts()) ASSERT_EQ(c, 0);
  const Cell off[] = {{100, 50}, {-1, 0},      {0, -1},       {50, 100},
                      {INT_MIN, 50}, {50, INT_MAX}, {INT_MAX, INT_MIN}};
  for (const Cell& c : off) {
    SetTarget(c.first, c.second);
    SetBack(c.first, c.second);
  }
  for (int c : libCosts()) ASSERT_EQ(c, 0);
  SetBack(50, 50);  // the start field is separate from the target field
  for (int c : libCosts()) ASSERT_EQ(c, 0);
  EXPECT_TRUE(libBlocked().empty());
}

}  // namespace
