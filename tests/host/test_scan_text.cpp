// SPDX-License-Identifier: BSD-3-Clause
// Scan-file parser: accepted spellings, exact values, and every rejected form
// with the line it is reported on.
#include "input/scan_text.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

// One line of 360 readings: `first` tokens up front, then "1" for the rest.
std::string Line(const std::vector<std::string>& first, int count = 360,
                 const std::string& sep = " ") {
  std::string out;
  for (int i = 0; i < count; ++i) {
    if (i > 0) out += sep;
    out += (static_cast<std::size_t>(i) < first.size()) ? first[static_cast<std::size_t>(i)] : "1";
  }
  return out;
}

using tsup::SameBits;

struct Parsed {
  bool ok;
  std::vector<Scan> scans;
  ScanParseError error;
};

Parsed Parse(const std::string& text) {
  Parsed p{false, {}, {-1, "untouched"}};
  p.ok = ParseScanText(text, p.scans, p.error);
  return p;
}

TEST(ScanFileGood, ValuesAreTheNearestFloats) {
  const Parsed p = Parse(Line({"1.5", "0.1", "2", "-0.25", "1e-3", "+3.75", "0", "-0", ".5", "7."}) + "\n");
  ASSERT_TRUE(p.ok) << p.error.message;
  ASSERT_EQ(p.scans.size(), 1u);
  const Scan& s = p.scans[0];
  EXPECT_TRUE(SameBits(s[0], 1.5f));
  EXPECT_TRUE(SameBits(s[1], 0.1f));
  EXPECT_TRUE(SameBits(s[2], 2.0f));
  EXPECT_TRUE(SameBits(s[3], -0.25f));
  EXPECT_TRUE(SameBits(s[4], 1e-3f));
  EXPECT_TRUE(SameBits(s[5], 3.75f));
  EXPECT_TRUE(SameBits(s[6], 0.0f));
  EXPECT_TRUE(SameBits(s[7], -0.0f));
  EXPECT_TRUE(SameBits(s[8], 0.5f));
  EXPECT_TRUE(SameBits(s[9], 7.0f));
  for (std::size_t i = 10; i < 360; ++i) ASSERT_TRUE(SameBits(s[i], 1.0f)) << i;
}

TEST(ScanFileGood, NoReturnSpellings) {
  const Parsed p = Parse(Line({"inf", "-inf", "nan", "INF", "Infinity", "NaN", "-nan"}));
  ASSERT_TRUE(p.ok) << p.error.message;
  const Scan& s = p.scans[0];
  EXPECT_TRUE(std::isinf(s[0]) && s[0] > 0);
  EXPECT_TRUE(std::isinf(s[1]) && s[1] < 0);
  EXPECT_TRUE(std::isnan(s[2]));
  EXPECT_TRUE(std::isinf(s[3]) && s[3] > 0);
  EXPECT_TRUE(std::isinf(s[4]) && s[4] > 0);
  EXPECT_TRUE(std::isnan(s[5]));
  EXPECT_TRUE(std::isnan(s[6]));
}

TEST(ScanFileGood, SeparatorsCommentsBlankLinesAndCrlf) {
  const std::string text = "# recorded in the hall\r\n" + Line({"2"}, 360, ",") + "\r\n\r\n   \n" +
                           Line({"3"}, 360, ", ") + "\r\n\t# another comment\n" +
                           Line({"4"}, 360, " \t ") + "\r\n" + Line({"5", "6"}, 360, " , ");
  const Parsed p = Parse(text);
  ASSERT_TRUE(p.ok) << p.error.line << ": " << p.error.message;
  ASSERT_EQ(p.scans.size(), 4u);
  EXPECT_TRUE(SameBits(p.scans[0][0], 2.0f));
  EXPECT_TRUE(SameBits(p.scans[1][0], 3.0f));
  EXPECT_TRUE(SameBits(p.scans[2][0], 4.0f));
  EXPECT_TRUE(SameBits(p.scans[3][0], 5.0f));
  EXPECT_TRUE(SameBits(p.scans[3][1], 6.0f));
  EXPECT_TRUE(SameBits(p.scans[3][359], 1.0f));
}

TEST(ScanFileGood, LeadingAndTrailingSeparatorsAreIgnored) {
  const Parsed p = Parse("  ,\t" + Line({}) + " , \r");
  ASSERT_TRUE(p.ok) << p.error.message;
  EXPECT_EQ(p.scans.size(), 1u);
}

TEST(ScanFileGood, ByteOrderMarkOnlyAtTheStart) {
  const Parsed p = Parse("\xEF\xBB\xBF" + Line({"2.5"}));
  ASSERT_TRUE(p.ok) << p.error.message;
  EXPECT_TRUE(SameBits(p.scans[0][0], 2.5f));
  const Parsed q = Parse(Line({}) + "\n\xEF\xBB\xBF" + Line({}));
  EXPECT_FALSE(q.ok);
  EXPECT_EQ(q.error.line, 2);
  EXPECT_EQ(q.error.message, "reading 1 '???1' is not a number");
}

TEST(ScanFileBad, WrongReadingCountNamesTheLine) {
  for (int count : {359, 361, 1, 720}) {
    const Parsed p = Parse("# header\n" + Line({}) + "\n\n" + Line({}, count) + "\n" + Line({}));
    EXPECT_FALSE(p.ok) << count;
    EXPECT_TRUE(p.scans.empty());
    EXPECT_EQ(p.error.line, 4) << count;
    EXPECT_EQ(p.error.message, "expected 360 readings, found " + std::to_string(count));
  }
}

TEST(ScanFileBad, TokensThatAreNotWholeNumbers) {
  for (const char* tok : {"abc", "1.0abc", "1..2", "1e", "--1", "+-1", "++1", "+", "-", "0x10",
                          "1.5m", "1;2", "inf5", "nanx", "#1"}) {
    const Parsed p = Parse(Line({}) + "\n" + Line({"1", "2", tok}));
    EXPECT_FALSE(p.ok) << tok;
    EXPECT_TRUE(p.scans.empty()) << tok;
    EXPECT_EQ(p.error.line, 2) << tok;
    EXPECT_EQ(p.error.message, std::string("reading 3 '") + tok + "' is not a number") << tok;
  }
}

TEST(ScanFileBad, NumbersBeyondFloatRange) {
  const Parsed p = Parse(Line({"1e39"}));
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.error.line, 1);
  EXPECT_EQ(p.error.message, "reading 1 '1e39' is out of the range of a float");
}

TEST(ScanFileBad, TooSmallIsUnderflowNotOutOfRange) {
  for (const char* tok : {"1e-50", "-1e-50", "0.0000001e-45", "1e-999999999999"}) {
    const Parsed p = Parse(Line({"1", tok}));
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.error.message, std::string("reading 2 '") + tok + "' is too small for a float (underflow)");
  }
  for (const char* tok : {"1e39", "-1e39", "123456789e31", "0.001e42"}) {
    const Parsed p = Parse(Line({"1", tok}));
    EXPECT_EQ(p.error.message, std::string("reading 2 '") + tok + "' is out of the range of a float");
  }
  EXPECT_TRUE(Parse(Line({"1e-45", "1e-40"})).ok);  // subnormals are floats
}

TEST(ScanFileGood, LoneCarriageReturnsEndLines) {
  const Parsed p = Parse("# c\r" + Line({"2"}) + "\r\r" + Line({"3"}) + "\r\n" + Line({"4"}));
  ASSERT_TRUE(p.ok) << p.error.message;
  ASSERT_EQ(p.scans.size(), 3u);
  EXPECT_EQ(p.scans[2][0], 4.0f);
  const Parsed bad = Parse(Line({}) + "\r\r7\r");
  EXPECT_EQ(bad.error.line, 3);
}

TEST(ScanFileBad, EmptyTextsHaveNoLine) {
  for (const char* text : {"", "\n", "\r\n\r\n", "# only a comment\n", "  \t\n#x"}) {
    const Parsed p = Parse(text);
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.error.line, 0);
    EXPECT_EQ(p.error.message, "no scans in file");
  }
}

TEST(ScanFileBad, GarbageBytesAreQuotedPrintably) {
  std::string tok = "1";
  tok += '\0';
  tok += "\x01\xff";
  tok += std::string(40, 'z');
  const Parsed p = Parse(Line({tok}));
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.error.message, "reading 1 '1???zzzzzzzzzzzzzzzzzzzz...' is not a number");
}

TEST(ScanFileBad, ErrorClearsEarlierScansAndLaterOnesAreNotRead) {
  std::vector<Scan> scans(3);
  ScanParseError err{};
  EXPECT_FALSE(ParseScanText(Line({}) + "\n7\n" + Line({"bad"}), scans, err));
  EXPECT_TRUE(scans.empty());
  EXPECT_EQ(err.line, 2);
  EXPECT_EQ(err.message, "expected 360 readings, found 1");
}

}  // namespace
