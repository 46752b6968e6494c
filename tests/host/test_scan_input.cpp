// SPDX-License-Identifier: BSD-3-Clause
// Streaming reader and scanner formats: line ends at every position of the
// read buffer, the line cap's boundary, turns of samples and their batching.
#include "input/line_reader.h"
#include "input/scan_source.h"
#include "output/scan_saver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

// A FILE* over a copy of `text`; closed by the fixture's owner.
struct MemFile {
  explicit MemFile(const std::string& text) : f(std::tmpfile()) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
  }
  ~MemFile() { std::fclose(f); }
  std::FILE* f;
};

std::vector<std::string> Lines(const std::string& text, std::size_t cap = kMaxLineBytes,
                               LineReader::Status* last = nullptr) {
  MemFile m(text);
  LineReader r(m.f, cap);
  std::vector<std::string> out;
  std::string_view v;
  LineReader::Status st;
  while ((st = r.Next(v)) == LineReader::kLine) out.emplace_back(v);
  if (last != nullptr) *last = st;
  return out;
}

TEST(LineReader, EveryLineEndAndNoEndAtAll) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Lines("a\nb\r\nc\rd"), (V{"a", "b", "c", "d"}));
  EXPECT_EQ(Lines("a\r\r\nb\n\n"), (V{"a", "", "b", ""}));
  EXPECT_EQ(Lines("\xEF\xBB\xBF" "x\n\xEF\xBB\xBF"), (V{"x", "\xEF\xBB\xBF"}));
  EXPECT_EQ(Lines(""), V{});
  EXPECT_EQ(Lines("\r"), V{""});
}

TEST(LineReader, CrLfSplitAcrossTheReadBuffer) {
  // The reader fills 64 KiB at a time: put the CR last in one fill and the
  // LF first in the next, and every position around it.
  for (std::size_t at = 65530; at < 65540; ++at) {
    const std::string text = std::string(at, 'x') + "\r\nyz\r\n";
    const auto lines = Lines(text);
    ASSERT_EQ(lines.size(), 2u) << at;
    EXPECT_EQ(lines[0].size(), at);
    EXPECT_EQ(lines[1], "yz");
  }
}

TEST(LineReader, CapIsInclusiveAndNamesTheLine) {
  LineReader::Status st;
  EXPECT_EQ(Lines("abcd\nef\n", 4, &st).size(), 2u);
  EXPECT_EQ(st, LineReader::kEnd);
  MemFile m("ab\nabcde\nx\n");
  LineReader r(m.f, 4);
  std::string_view v;
  EXPECT_EQ(r.Next(v), LineReader::kLine);
  EXPECT_EQ(r.Next(v), LineReader::kTooLong);
  EXPECT_EQ(r.LineNumber(), 2u);
}

std::vector<Scan> Turns(const std::string& text, ScanFormat f, const ScanLayout& lay,
                        std::string* error = nullptr) {
  MemFile m(text);
  ScanSource src(m.f, f, lay);
  std::vector<Scan> out;
  Scan s{};
  ScanSource::Result r;
  while ((r = src.Next(s)) == ScanSource::kScan) out.push_back(s);
  if (error != nullptr) *error = r == ScanSource::kError ? std::to_string(src.ErrorLine()) + ": " + src.ErrorMessage() : "";
  return out;
}

int OnlyHit(const Scan& s) {
  int hit = -1;
  for (int i = 0; i < kScanReadings; ++i)
    if (s[static_cast<std::size_t>(i)] != kInf && !std::isnan(s[static_cast<std::size_t>(i)])) {
      if (hit >= 0) return -2;
      hit = i;
    }
  return hit;
}

TEST(ScanSourceSamples, TurnsEndAtFallBackAndBlankLinesNotAtComments) {
  ScanLayout lay;
  std::string err;
  // Equal angles do not start a turn; a NaN angle neither counts nor moves the turn on.
  const auto t = Turns("10 1\n10 2\n# note\nnan 1\n20 3 q\n5 4\n\n\n7 5\n", ScanFormat::kSamples, lay, &err);
  EXPECT_EQ(err, "");
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0][190], 1.0f);  // smallest of the two at 10 deg
  EXPECT_EQ(t[0][200], 3.0f);
  EXPECT_EQ(t[1][185], 4.0f);
  EXPECT_EQ(OnlyHit(t[1]), 185);
  EXPECT_EQ(OnlyHit(t[2]), 187);
  // A NaN first angle does not make the next sample "fall back".
  EXPECT_EQ(Turns("nan 1\n-5 1\n", ScanFormat::kSamples, lay).size(), 1u);
}

TEST(ScanSourceSamples, LongTurnsBinInBatchesLikeOneCall) {
  // 10,000 samples in one turn: more than one batch, the nearest in each bin
  // sometimes in the first batch and sometimes in a later one.
  std::vector<float> angles, ranges;
  std::string text;
  for (int k = 0; k < 10000; ++k) {
    const float a = static_cast<float>(k) * 0.036f;
    const float r = 1.0f + static_cast<float>((k * 7919) % 1000) * 0.001f;
    angles.push_back(a);
    ranges.push_back(r);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.9g %.9g\n", static_cast<double>(a), static_cast<double>(r));
    text += buf;
  }
  ScanLayout lay;
  lay.zero_deg = 37.5;
  lay.clockwise = true;
  Scan want{};
  ASSERT_TRUE(BinSamples(angles.data(), ranges.data(), angles.size(), lay, want.data()));
  const auto t = Turns(text, ScanFormat::kSamples, lay);
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(std::memcmp(t[0].data(), want.data(), sizeof want), 0);
}

TEST(ScanSourceSamples, BadLinesNameTheirNumber) {
  ScanLayout lay;
  std::string err;
  Turns("1 2\n3\n", ScanFormat::kSamples, lay, &err);
  EXPECT_EQ(err, "2: expected 'angle range' or 'angle range quality', found one value");
  Turns("1 2 3 4\n", ScanFormat::kSamples, lay, &err);
  EXPECT_EQ(err, "1: expected 'angle range' or 'angle range quality', found 4 values");
  std::string turn;
  for (int i = 0; i < 360; ++i) turn += "1.5 ";
  Turns(turn + "\n", ScanFormat::kSamples, lay, &err);
  EXPECT_EQ(err, "1: expected 'angle range' or 'angle range quality', found 360 values (one turn per line is "
                 "--format ranges)");
  Turns("1 2\n\nx 2\n", ScanFormat::kSamples, lay, &err);
  EXPECT_EQ(err, "3: angle 'x' is not a number");
  Turns("1 2mm\n", ScanFormat::kSamples, lay, &err);
  EXPECT_EQ(err, "1: range '2mm' is not a number");
}

TEST(ScanSourceRanges, AnyCountOneTurnPerLine) {
  ScanLayout lay;
  lay.range_scale = kScanMillimetres;
  std::string err;
  const auto t = Turns("1500\n0,0,0,2000\n# x\n\n1 2 3 4 5 6 7 8\n", ScanFormat::kRanges, lay, &err);
  EXPECT_EQ(err, "");
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(OnlyHit(t[0]), 180);
  EXPECT_EQ(t[0][180], 1.5f);
  EXPECT_EQ(OnlyHit(t[1]), 90);  // the fourth of four: 270 deg counter-clockwise = right
  EXPECT_EQ(t[1][90], 2.0f);
  // Degrees no sample reached, and zero ranges, saw nothing: NaN, not free.
  EXPECT_EQ(std::count_if(t[0].begin(), t[0].end(), [](float v) { return std::isnan(v); }), 359);
  EXPECT_EQ(std::count_if(t[1].begin(), t[1].end(), [](float v) { return std::isnan(v); }), 359);
  Turns("1 2 x\n", ScanFormat::kRanges, lay, &err);
  EXPECT_EQ(err, "1: range 3 'x' is not a number");
}

TEST(ScanSourceRanges, NotesTheFirstLineThatLooksLikeASample) {
  // One number is a one-sample turn; 2 or 3 are what a samples log holds.
  MemFile m("1500\n0,0,0,2000\n12.5 800\n1 2 3\n");
  ScanSource src(m.f, ScanFormat::kRanges, ScanLayout{});
  Scan s{};
  ASSERT_EQ(src.Next(s), ScanSource::kScan);
  ASSERT_EQ(src.Next(s), ScanSource::kScan);
  EXPECT_EQ(src.FewValuesLine(), 0u);
  ASSERT_EQ(src.Next(s), ScanSource::kScan);
  EXPECT_EQ(src.FewValuesLine(), 3u);
  ASSERT_EQ(src.Next(s), ScanSource::kScan);
  EXPECT_EQ(src.FewValuesLine(), 3u) << "the first such line is the one to name";
}

TEST(ScanSourceDegrees, SameAsTheWholeTextParser) {
  std::string line;
  for (int i = 0; i < 360; ++i) line += (i ? " " : "") + std::to_string(i % 7) + ".25";
  const std::string text = "# c\r" + line + "\r\r\n" + line + "\n";
  std::vector<Scan> whole;
  ScanParseError e{};
  ASSERT_TRUE(ParseScanText(text, whole, e));
  const auto streamed = Turns(text, ScanFormat::kDegrees, ScanLayout{});
  ASSERT_EQ(streamed.size(), 2u);
  ASSERT_EQ(whole.size(), 2u);
  EXPECT_EQ(std::memcmp(streamed[1].data(), whole[1].data(), sizeof(Scan)), 0);
}

TEST(ScanSaverLines, ReadBackToTheSameBits) {
  Scan s{};
  const float specials[] = {kInf, -kInf, std::nanf(""), -0.0f, 1e-45f, 3.4028235e38f, 0.1f, 16777216.0f};
  for (std::size_t i = 0; i < s.size(); ++i)
    s[i] = i < 8 ? specials[i] : std::nextafter(static_cast<float>(i) * 0.01f, 10.0f);
  std::string text;
  AppendScanLine(s, text);
  EXPECT_EQ(text.compare(0, 14, "inf -inf nan -"), 0) << text.substr(0, 20);
  std::vector<Scan> back;
  ScanParseError e{};
  ASSERT_TRUE(ParseScanText(text, back, e)) << e.message;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (std::isnan(s[i])) {
      EXPECT_TRUE(std::isnan(back[0][i]));
      continue;
    }
    EXPECT_EQ(std::memcmp(&s[i], &back[0][i], sizeof(float)), 0) << i;
  }
}

}  // namespace
