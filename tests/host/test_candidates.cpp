// SPDX-License-Identifier: BSD-3-Clause
// A detector's output file: one line per scan, a position or nothing.
#include "input/candidates.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

Candidate Parse(const std::string& line, bool& ok, std::string& why) {
  Candidate c{};
  ok = ParseCandidateLine(line.data(), line.data() + line.size(), c, why);
  return c;
}

TEST(candidates, PositionsAndEmptyLines) {
  bool ok = false;
  std::string why;
  Candidate c = Parse("1.25 -0.5", ok, why);
  EXPECT_TRUE(ok && c.present);
  EXPECT_EQ(c.x, 1.25f);
  EXPECT_EQ(c.y, -0.5f);
  c = Parse("  0.8,0.1\r", ok, why);
  EXPECT_TRUE(ok && c.present);
  EXPECT_EQ(c.y, 0.1f);
  c = Parse("", ok, why);
  EXPECT_TRUE(ok);
  EXPECT_FALSE(c.present);
  c = Parse(" \t ", ok, why);
  EXPECT_TRUE(ok);
  EXPECT_FALSE(c.present);
}

TEST(candidates, AnythingElseIsAnErrorThatSaysWhat) {
  bool ok = true;
  std::string why;
  Parse("1.0", ok, why);
  EXPECT_FALSE(ok);
  EXPECT_NE(why.find("one number"), std::string::npos);
  Parse("1 2 3", ok, why);
  EXPECT_FALSE(ok);
  Parse("1 nan", ok, why);
  EXPECT_FALSE(ok) << "a NaN position is no position: say so rather than guess";
  Parse("inf 0", ok, why);
  EXPECT_FALSE(ok);
  Parse("x=1 y=2", ok, why);
  EXPECT_FALSE(ok);
  EXPECT_NE(why.find("'x=1'"), std::string::npos) << why;
  Parse("# comment", ok, why);
  EXPECT_FALSE(ok) << "every line is a scan: a comment would shift the rest";
}

TEST(candidates, StreamKeepsLineNumbersAndStopsAtTheFirstBadLine) {
  const std::string text = "1 0\n\n0.5 0.5\nbad\n2 2\n";
  std::FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  ASSERT_NE(f, nullptr);
  CandidateSource src(f);
  Candidate c{};
  ASSERT_EQ(src.Next(c), CandidateSource::kCandidate);
  EXPECT_TRUE(c.present);
  ASSERT_EQ(src.Next(c), CandidateSource::kCandidate);
  EXPECT_FALSE(c.present);
  ASSERT_EQ(src.Next(c), CandidateSource::kCandidate);
  EXPECT_EQ(c.x, 0.5f);
  ASSERT_EQ(src.Next(c), CandidateSource::kError);
  EXPECT_EQ(src.Error().rfind("4: ", 0), 0u) << src.Error();
  EXPECT_EQ(src.Next(c), CandidateSource::kError);
  std::fclose(f);
}

TEST(candidates, EndIsReportedAfterTheLastLine) {
  const std::string text = "1 0\n2 0";
  std::FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  ASSERT_NE(f, nullptr);
  CandidateSource src(f);
  Candidate c{};
  EXPECT_EQ(src.Next(c), CandidateSource::kCandidate);
  EXPECT_EQ(src.Next(c), CandidateSource::kCandidate);
  EXPECT_EQ(c.x, 2.0f);
  EXPECT_EQ(src.Next(c), CandidateSource::kEnd);
  EXPECT_EQ(src.Lines(), 2u);
  std::fclose(f);
}

}  // namespace
