// SPDX-License-Identifier: BSD-3-Clause
// Scans and single obstacles stamped into the obstacle field.
#include <cfloat>
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "pathgrid_reference.h"

using namespace pgref;

namespace {

const float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();

// With a one-cell disk each reading blocks exactly the cell it lands on.
std::vector<Cell> cellsOfReading(int index, float range) {
  InitHelper();
  SetBorder(0.05f);
  std::vector<float> scan = emptyScan();
  scan[static_cast<size_t>(index)] = range;
  SetRanges(scan.data());
  return libBlocked();
}

TEST(pathgridStamping, ReadingCellsOnAxesAndTruncationEdges) {
  struct Case {
    int index;
    float range;
    Cell cell;
  };
  const Case cases[] = {
      {0, 1.0f, {50, 30}},   {45, 1.0f, {35, 35}},  {90, 1.0f, {30, 50}},
      {135, 1.0f, {35, 64}}, {180, 1.0f, {50, 70}}, {270, 1.0f, {70, 50}},
      {315, 1.0f, {64, 35}}, {0, 2.0f, {50, 10}},   {90, 2.0f, {10, 50}},
      {270, 2.0f, {90, 50}}, {180, 2.0f, {49, 90}},  // column a hair below 50
      {270, -1.0f, {30, 49}},                        // not (30, 50)
      {90, 2.52f, {0, 50}},   // column value -0.4 truncates onto the edge
      {0, 2.52f, {50, 0}},    // row value -0.4 likewise
      {180, 2.4999f, {49, 99}}, {0, 0.0f, {50, 50}},  {45, -0.0f, {50, 50}},
      {123, 1e-30f, {50, 50}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "reading " << c.index << " at " << c.range);
    EXPECT_EQ(readingCell(c.range, c.index), c.cell);  // the model lands there too
    const std::vector<Cell> got = cellsOfReading(c.index, c.range);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], c.cell);
  }
}

TEST(pathgridStamping, ReadingsOffTheGridStampNothing) {
  struct Case {
    int index;
    float range;
  };
  const Case cases[] = {{90, 2.56f}, {0, 2.56f}, {180, 2.5f}, {270, 2.5f}, {17, 1e30f},
                        {17, -1e30f}, {0, FLT_MAX}, {200, -FLT_MAX}, {0, kInf},
                        {90, -kInf}, {33, kNaN}, {0, kNaN}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "reading " << c.index << " at " << c.range);
    EXPECT_TRUE(cellsOfReading(c.index, c.range).empty());
    // Not even the part of a wide disk that would reach into the grid.
    SetBorder(0.5f);
    std::vector<float> scan = emptyScan();
    scan[static_cast<size_t>(c.index)] = c.range;
    SetRanges(scan.data());
    EXPECT_TRUE(libBlocked().empty());
  }
}

TEST(pathgridStamping, EveryIndexLandsWhereTheModelPutsIt) {
  for (float range : {1.0f, 2.0f, -2.3f}) {
    for (int i = 0; i < 360; ++i) {
      const Cell want = readingCell(range, i);
      const std::vector<Cell> got = cellsOfReading(i, range);
      ASSERT_EQ(got.size(), onGrid(want.first, want.second) ? 1u : 0u) << i << " " << range;
      if (!got.empty()) {
        EXPECT_EQ(got[0], want) << "reading " << i << " at " << range;
      }
    }
  }
}

TEST(pathgridStamping, WholeScansMatchModel) {
  std::vector<std::vector<float>> scans;
  scans.push_back(uniformScan(1.0f));
  scans.push_back(uniformScan(2.0f));
  scans.push_back(uniformScan(2.52f));
  scans.push_back(uniformScan(-0.7f));
  std::vector<float> mixed = emptyScan();
  for (size_t i = 0; i < 360; i += 7) mixed[i] = 0.3f + 0.006f * static_cast<float>(i);
  mixed[5] = kNaN;
  mixed[6] = -kInf;
  mixed[8] = 1e30f;
  scans.push_back(mixed);
  for (float border : {0.35f, 0.05f, 0.5f, 0.2f}) {
    for (auto& scan : scans) {
      InitHelper();
      SetBorder(border);
      SetRanges(scan.data());
      Model m;
      m.init();
      m.setBorder(border);
      m.setRanges(scan.data());
      EXPECT_EQ(libBlocked(), refBlocked(m)) << "border " << border << " first " << scan[0];
    }
  }
}

TEST(pathgridStamping, ZeroInfiniteAndNaNScans) {
  InitHelper();
  std::vector<float> scan = uniformScan(0.0f);
  SetRanges(scan.data());
  std::vector<Cell> got = libBlocked();
  ASSERT_EQ(got.size(), 145u);
  for (const Cell& c : got) {
    const int dx = c.first - 50, dy = c.second - 50;
    EXPECT_LT(dx * dx + dy * dy, 49);
  }
  EXPECT_FALSE(ChkTarget(50, 50));
  for (float v : {kInf, -kInf, kNaN, 1e30f}) {
    scan = uniformScan(v);
    SetRanges(scan.data());  // also clears the previous zero scan
    EXPECT_TRUE(libBlocked().empty()) << v;
  }
}

TEST(pathgridStamping, SetRangesRebuildsAndNullKeepsField) {
  InitHelper();
  std::vector<float> zero = uniformScan(0.0f);
  std::vector<float> none = emptyScan();
  SetRanges(zero.data());
  SetObst(10, 10);
  const std::vector<Cell> before = libBlocked();
  ASSERT_EQ(before.size(), 290u);
  SetRanges(nullptr);  // ignored: neither cleared nor restamped
  EXPECT_EQ(libBlocked(), before);
  SetRanges(none.data());
  EXPECT_TRUE(libBlocked().empty());
  SetRanges(nullptr);
  EXPECT_TRUE(libBlocked().empty());
}

TEST(pathgridStamping, SetObstClipsAtEdgesAndIgnoresOffGridCentres) {
  const Cell edges[] = {{0, 0}, {99, 99}, {0, 50}, {99, 50}, {50, 0}, {50, 99}, {3, 97}};
  for (float border : {0.35f, 0.5f}) {
    for (const Cell& c : edges) {
      InitHelper();
      SetBorder(border);
      SetObst(c.first, c.second);
      Model m;
      m.init();
      m.setBorder(border);
      m.setObst(c.first, c.second);
      EXPECT_EQ(libBlocked(), refBlocked(m)) << c.first << "," << c.second;
    }
  }
  InitHelper();
  SetBorder(0.5f);
  const Cell off[] = {{100, 50}, {-1, 0},        {0, -1},          {50, 100},       {-1, -1},
                      {INT_MIN, 50}, {50, INT_MIN}, {INT_MAX, 50}, {50, INT_MAX}, {INT_MIN, INT_MAX}};
  for (const Cell& c : off) SetObst(c.first, c.second);
  EXPECT_TRUE(libBlocked().empty());
  ClearObst();
  SetObst(50, 50);
  ClearObst();
  EXPECT_TRUE(libBlocked().empty());
}

TEST(pathgridStamping, ChkTargetAndCostOffTheGrid) {
  InitHelper();
  SetBorder(0.05f);
  for (int y = 0; y < kN; ++y)
    for (int x = 0; x < kN; ++x) SetObst(x, y);
  EXPECT_EQ(libBlocked().size(), 10000u);
  const Cell off[] = {{-5, 20}, {100, 0}, {0, 100}, {-1, -1}, {INT_MIN, 0}, {0, INT_MIN},
                      {INT_MAX, 50}, {50, INT_MAX}, {INT_MIN, INT_MIN}};
  for (const Cell& c : off) {
    EXPECT_TRUE(ChkTarget(c.first, c.second)) << c.first << "," << c.second;
    EXPECT_EQ(calPointCost(c.first, c.second), 999);
  }
  EXPECT_FALSE(ChkTarget(0, 0));
  EXPECT_FALSE(ChkTarget(99, 99));
  SetTarget(50, 50);  // a blocked target still costs 999
  EXPECT_EQ(calPointCost(50, 50), 999);
}

}  // namespace
