// SPDX-License-Identifier: BSD-3-Clause
// The planning pass: start search, greedy walk, steering point and path end.
#include <algorithm>

#include <gtest/gtest.h>

#include "pathgrid_reference.h"

using namespace pgref;

namespace {

// Fresh planner with an empty scan and the given targets; returns OutLine's result.
bool passOnEmptyGrid(const std::vector<Cell>& targets, Model* model = nullptr) {
  InitHelper();
  std::vector<float> scan = emptyScan();
  SetRanges(scan.data());
  ClearTarget();
  for (const Cell& t : targets) SetTarget(t.first, t.second);
  const bool hit = OutLine();
  if (model) {
    model->init();
    model->setRanges(scan.data());
    for (const Cell& t : targets) model->setTarget(t.first, t.second);
    EXPECT_EQ(model->outLine(), hit);
  }
  return hit;
}

void expectResultsMatch(const Model& m) {
  EXPECT_EQ(libPath(), m.record);
  EXPECT_EQ(GetHelperNum(), static_cast<int>(m.record.size()));
  EXPECT_EQ(GetFixX(), m.fixx);
  EXPECT_EQ(GetFixY(), m.fixy);
  EXPECT_EQ(GetFaceX(), m.faceX());
  EXPECT_EQ(GetFaceY(), m.faceY());
  EXPECT_EQ(libCosts(), refCosts(m));  // path marks included
}

TEST(pathgridPass, StraightPathToTarget) {
  Model m;
  EXPECT_TRUE(passOnEmptyGrid({{50, 60}}, &m));
  std::vector<Cell> want;
  for (int y = 51; y <= 60; ++y) want.emplace_back(50, y);
  EXPECT_EQ(libPath(), want);
  EXPECT_EQ(GetHelperNum(), 10);
  EXPECT_EQ(GetFixX(), 0.15f);  // third entry, 3 cells out
  EXPECT_EQ(GetFixY(), 0.0f);
  EXPECT_EQ(GetFaceX(), 0.5f);
  EXPECT_EQ(GetFaceY(), 0.0f);
  // Start cell is not marked; each entry is.
  EXPECT_EQ(calPointCost(50, 50), -117);
  for (const Cell& c : want) EXPECT_EQ(calPointCost(c.first, c.second), 999);
  expectResultsMatch(m);
  // A second pass starts from a clean path field and repeats itself.
  EXPECT_TRUE(OutLine());
  expectResultsMatch(m);
}

TEST(pathgridPass, NoTargetWalksToTheCornerAndSticks) {
  Model m;
  EXPECT_FALSE(passOnEmptyGrid({}, &m));
  std::vector<Cell> want;
  for (int y = 51; y <= 99; ++y) want.emplace_back(50, y);
  for (int x = 49; x >= 0; --x) {
    want.emplace_back(x, 98);
    want.emplace_back(x, 99);
  }
  ASSERT_EQ(want.size(), 149u);
  EXPECT_EQ(libPath(), want);
  EXPECT_EQ(GetHelperNum(), 149);
  EXPECT_EQ(GetFaceX(), 2.45f);
  EXPECT_EQ(GetFaceY(), -2.5f);
  EXPECT_EQ(GetFixX(), 0.15f);
  EXPECT_EQ(GetFixY(), 0.0f);
  expectResultsMatch(m);
}

TEST(pathgridPass, WallIsPassedOnItsNearSide) {
  InitHelper();
  std::vector<float> scan = emptyScan();
  for (size_t i = 150; i <= 210; ++i) scan[i] = 1.0f;
  SetRanges(scan.data());
  ClearTarget();
  SetTarget(50, 85);
  EXPECT_TRUE(OutLine());
  EXPECT_EQ(GetHelperNum(), 60);
  EXPECT_EQ(GetFixX(), 0.15f);
  EXPECT_EQ(GetFixY(), 0.0f);
  EXPECT_EQ(GetFaceX(), 1.75f);
  EXPECT_EQ(GetFaceY(), 0.0f);
  const std::vector<Cell> path = libPath();
  ASSERT_EQ(path.size(), 60u);
  EXPECT_EQ(path[11], Cell(50, 62));
  int minColumn = 99;
  for (const Cell& c : path) minColumn = std::min(minColumn, c.first);
  EXPECT_EQ(minColumn, 33);
  Model m;
  m.init();
  m.setRanges(scan.data());
  m.setTarget(50, 85);
  EXPECT_TRUE(m.outLine());
  expectResultsMatch(m);
}

TEST(pathgridPass, TiesGoToTheNeighbourVisitedFirst) {
  // (49,51) and (51,51) both hold 115 and beat (50,51); order 2 precedes 3.
  Model m;
  passOnEmptyGrid({{40, 60}, {60, 60}}, &m);
  ASSERT_GE(GetHelperNum(), 1);
  EXPECT_EQ(libPath()[0], Cell(49, 51));
  expectResultsMatch(m);
  // Six neighbours tie at 118 here; (49,51) is the earliest of them.
  passOnEmptyGrid({{40, 50}, {60, 50}}, &m);
  ASSERT_GE(GetHelperNum(), 1);
  EXPECT_EQ(libPath()[0], Cell(49, 51));
  expectResultsMatch(m);
}

TEST(pathgridPass, TargetsNextToOrOnTheStart) {
  Model m;
  EXPECT_TRUE(passOnEmptyGrid({{51, 51}}, &m));
  EXPECT_EQ(libPath(), std::vector<Cell>({{51, 51}}));
  // No entry is 3 cells out: the steering point is the path end.
  EXPECT_EQ(GetFixX(), 0.05f);
  EXPECT_EQ(GetFixY(), 0.05f);
  expectResultsMatch(m);

  EXPECT_TRUE(passOnEmptyGrid({{50, 50}}, &m));
  EXPECT_EQ(libPath(), std::vector<Cell>({{50, 51}, {50, 50}}));
  EXPECT_EQ(GetFixX(), 0.0f);
  EXPECT_EQ(GetFaceX(), 0.0f);
  EXPECT_EQ(calPointCost(50, 50), 999);  // marked when stepped back onto
  expectResultsMatch(m);

  EXPECT_TRUE(passOnEmptyGrid({{52, 52}}, &m));  // 2.83 cells truncates to 2
  EXPECT_EQ(libPath(), std::vector<Cell>({{51, 51}, {52, 52}}));
  EXPECT_EQ(GetFixX(), 0.1f);
  EXPECT_EQ(GetFixY(), 0.1f);

  EXPECT_TRUE(passOnEmptyGrid({{50, 52}}, &m));
  EXPECT_EQ(GetFixX(), 0.1f);
  EXPECT_EQ(GetFixY(), 0.0f);

  // (52,52) is 2.83 cells out and must be skipped for (53,53).
  EXPECT_TRUE(passOnEmptyGrid({{53, 53}}, &m));
  EXPECT_EQ(libPath(), std::vector<Cell>({{51, 51}, {52, 52}, {53, 53}}));
  EXPECT_EQ(GetFixX(), 0.15f);
  EXPECT_EQ(GetFixY(), 0.15f);
  expectResultsMatch(m);
}

TEST(pathgridPass, BlockedTargetIsNeverReached) {
  InitHelper();
  SetObst(50, 70);
  ClearTarget();
  SetTarget(50, 70);
  EXPECT_FALSE(OutLine());
  const std::vector<Cell> path = libPath();
  ASSERT_FALSE(path.empty());
  for (const Cell& c : path) EXPECT_TRUE(ChkTarget(c.first, c.second));
  EXPECT_NE(path.back(), Cell(50, 70));
  Model m;
  m.init();
  m.setObst(50, 70);
  m.setTarget(50, 70);
  EXPECT_FALSE(m.outLine());
  expectResultsMatch(m);
}

TEST(pathgridPass, ZeroScanStartsAtFirstFreeCellOfTheSquare) {
  InitHelper();
  std::vector<float> zero = uniformScan(0.0f);
  SetRanges(zero.data());
  // Wall in (45,45) with one-cell stamps: the first step then finds nothing and
  // marks the start cell itself, which names it.
  SetBorder(0.05f);
  for (const Cell& c : {Cell(44, 44), Cell(45, 44), Cell(46, 44), Cell(44, 45), Cell(44, 46)})
    SetObst(c.first, c.second);
  const std::vector<int> before = libCosts();
  StartPos();
  EXPECT_FALSE(PathGrow());
  const std::vector<int> after = libCosts();
  int changed = 0;
  for (size_t i = 0; i < after.size(); ++i) changed += before[i] != after[i];
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(calPointCost(45, 45), 999);
  EXPECT_EQ(calPointCost(50, 43), 0);  // nearer, but later in row-major order

  InitHelper();
  SetRanges(zero.data());
  Model m;
  m.init();
  m.setRanges(zero.data());
  EXPECT_EQ(m.start(), Cell(45, 45));
  EXPECT_EQ(OutLine(), m.outLine());
  const std::vector<Cell> path = libPath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path[0], Cell(44, 46));  // first free neighbour of (45,45)
  expectResultsMatch(m);
}

// Everything blocked except the given cells (one-cell disks).
void blockAllBut(const std::vector<Cell>& free) {
  InitHelper();
  SetBorder(0.05f);
  for (int y = 0; y < kN; ++y)
    for (int x = 0; x < kN; ++x)
      if (std::find(free.begin(), free.end(), Cell(x, y)) == free.end()) SetObst(x, y);
}

TEST(pathgridPass, StartSearchBounds) {
  // Column 99 is outside every square: a pass can never start there.
  blockAllBut({{99, 50}, {99, 51}});
  EXPECT_FALSE(OutLine());
  EXPECT_EQ(GetHelperNum(), 0);
  // Column 1 and row 1 are inside the largest square.
  blockAllBut({{1, 1}, {0, 0}});
  ClearTarget();
  SetTarget(0, 0);
  EXPECT_TRUE(OutLine());
  EXPECT_EQ(libPath(), std::vector<Cell>({{0, 0}}));
  blockAllBut({{98, 98}, {98, 99}});
  EXPECT_FALSE(OutLine());
  // The start enters the record when the walk steps back onto it.
  EXPECT_EQ(libPath(), std::vector<Cell>({{98, 99}, {98, 98}}));
  blockAllBut({{0, 40}, {0, 41}});  // row/column 0 never examined
  EXPECT_FALSE(OutLine());
  EXPECT_EQ(GetHelperNum(), 0);
}

TEST(pathgridPass, EnclosedStartGivesEmptyResults) {
  EXPECT_TRUE(passOnEmptyGrid({{50, 60}}));  // leave non-zero results behind
  SetBorder(0.05f);
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx)
      if (dx || dy) SetObst(50 + dx, 50 + dy);
  EXPECT_FALSE(OutLine());
  EXPECT_EQ(GetHelperNum(), 0);
  EXPECT_EQ(GetFixX(), 0.0f);
  EXPECT_EQ(GetFixY(), 0.0f);
  EXPECT_EQ(GetFaceX(), 0.0f);
  EXPECT_EQ(GetFaceY(), 0.0f);
  EXPECT_EQ(calPointCost(50, 50), 999);  // stuck on the start: marked
  EXPECT_EQ(capturePrintPath(), "--------------------------\n");

  // Whole grid blocked: no start found, the walker stays on (50, 50).
  blockAllBut({});
  EXPECT_FALSE(OutLine());
  EXPECT_EQ(GetHelperNum(), 0);
  EXPECT_EQ(GetFixX(), 0.0f);
}

TEST(pathgridPass, ManualStepsContinueWithoutRecording) {
  EXPECT_TRUE(passOnEmptyGrid({{50, 60}}));
  const std::string listed = capturePrintPath();
  EXPECT_EQ(calPointCost(50, 61), -126);
  EXPECT_TRUE(PathGrow());  // from (50,60) on to (50,61)
  EXPECT_EQ(calPointCost(50, 61), 999);
  EXPECT_EQ(GetHelperNum(), 10);
  EXPECT_EQ(GetFaceX(), 0.5f);
  EXPECT_EQ(capturePrintPath(), listed);
  // InitHelper clears the fields but keeps the last results.
  InitHelper();
  EXPECT_EQ(GetHelperNum(), 10);
  EXPECT_EQ(GetFixX(), 0.15f);
  EXPECT_EQ(capturePrintPath(), listed);
  for (int c : libCosts()) ASSERT_EQ(c, 0);
  ShowMap();
  EXPECT_EQ(GetHelperNum(), 10);
}

// One hand-driven step; returns the cell it newly marked as visited, so the
// walker's position is read cell by cell without a path record.
Cell stepAndFindMark() {
  const std::vector<int> before = libCosts();
  EXPECT_TRUE(PathGrow());
  const std::vector<int> after = libCosts();
  Cell marked(-1, -1);
  for (int k = 0; k < kN * kN; ++k) {
    if (before[static_cast<size_t>(k)] != 999 && after[static_cast<size_t>(k)] == 999) {
      EXPECT_EQ(marked, Cell(-1, -1)) << "a step marked two cells";
      marked = Cell(k % kN, k / kN);
    }
  }
  return marked;
}

// The walk on the grid's low edges, where neighbours fall off the grid: down
// column 50 to row 0, west along row 0 (row 1 walled off) into the corner,
// then up column 0. A target at (99, 30) makes the cells a wrapped row index
// would reach from column 0 the most attractive ones, so taking a column-0
// cell's neighbours as if it were inside the grid shows up as a wrong step.
TEST(pathgridPass, WalkAlongRowZeroAndColumnZero) {
  InitHelper();
  SetBorder(0.05f);  // a one-cell disk: SetObst blocks exactly its cell
  ClearTarget();
  SetTarget(50, 0);
  StartPos();
  // Straight down: (0, -1) comes before both diagonals in the neighbour order
  // and is never farther from the target.
  for (int y = 49; y >= 0; --y) ASSERT_EQ(stepAndFindMark(), Cell(50, y));

  for (int x = 1; x <= 51; ++x) SetObst(x, 1);
  ClearTarget();
  SetTarget(0, 0);
  // Every neighbour above is blocked and those below are off the grid, so
  // the walker can only go sideways, toward the target.
  for (int x = 49; x >= 0; --x) ASSERT_EQ(stepAndFindMark(), Cell(x, 0));

  ClearTarget();
  SetTarget(0, 60);
  SetTarget(99, 30);
  // (0, y+1) ties with (1, y+1) and comes first; (99, 30)'s cone stays below
  // 30 on column 0, the (0, 60) cone above 67.
  for (int y = 1; y <= 60; ++y) ASSERT_EQ(stepAndFindMark(), Cell(0, y));

  // The model takes the same walk.
  Model m;
  m.init();
  m.setBorder(0.05f);
  m.setTarget(50, 0);
  m.startPos();
  for (int y = 49; y >= 0; --y) ASSERT_TRUE(m.grow());
  for (int x = 1; x <= 51; ++x) m.setObst(x, 1);
  m.clearTarget();
  m.setTarget(0, 0);
  for (int x = 49; x >= 0; --x) ASSERT_TRUE(m.grow());
  m.clearTarget();
  m.setTarget(0, 60);
  m.setTarget(99, 30);
  for (int y = 1; y <= 60; ++y) ASSERT_TRUE(m.grow());
  EXPECT_EQ(Cell(m.curx, m.cury), Cell(0, 60));
  EXPECT_EQ(libCosts(), refCosts(m));
}

}  // namespace
