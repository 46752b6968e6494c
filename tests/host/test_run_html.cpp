// SPDX-License-Identifier: BSD-3-Clause
// The run page: outside text cannot inject markup, titles are cut on
// character boundaries, and the per-tick grid records decode to what went in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "base/safe_text.h"
#include "grid_frame.h"
#include "output/viewer/run_html.h"
#include "output/viewer/viewer_glue.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

std::size_t Count(const std::string& s, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
  return n;
}

ViewerTick SmallTick(const std::string& info) {
  ViewerTick t;
  t.blocked.assign(10000, 0);
  t.attraction.assign(10000, 0);
  t.scan.fill(std::numeric_limits<float>::infinity());
  t.info = info;
  return t;
}

TEST(RunHtmlPage, HostileTitleAndInfoStayText) {
  ViewerRun plain;
  plain.title = "plain";
  plain.ticks.push_back(SmallTick("scan 0: ok"));
  const std::string base = RunHtml(plain);

  ViewerRun bad = plain;
  bad.title = "</script><script>alert(1)</script> & \"x\" 'y' a&b.txt <!--";
  bad.ticks[0].info = "scan 0: </script><img src=x onerror=alert(1)> & \xe2\x80\xa8";
  bad.tick_name = "</script>";
  const std::string page = RunHtml(bad);

  EXPECT_EQ(Count(page, "<script"), Count(base, "<script"));
  EXPECT_EQ(Count(page, "</script"), Count(base, "</script"));
  EXPECT_EQ(Count(page, "<img"), 0u);
  EXPECT_EQ(Count(page, "<!--"), Count(base, "<!--"));
  const std::string shown = "&lt;/script&gt;&lt;script&gt;alert(1)&lt;/script&gt; &amp; &quot;x&quot; &#39;y&#39; "
                            "a&amp;b.txt &lt;!--";
  EXPECT_NE(page.find("<title>" + shown + "</title>"), std::string::npos);
  EXPECT_NE(page.find(">" + shown + "</h1>"), std::string::npos);
  // The data carries the line with every markup character escaped.
  EXPECT_NE(page.find("scan 0: \\u003c/script\\u003e\\u003cimg src=x onerror=alert(1)\\u003e \\u0026 \\u2028"),
            std::string::npos);
}

TEST(RunHtmlPage, MarkersInOutsideTextAreNotExpanded) {
  ViewerRun run;
  run.title = "{{DATA}} {{TITLE}}";
  run.ticks.push_back(SmallTick("{{DATA}}"));
  const std::string page = RunHtml(run);
  EXPECT_EQ(Count(page, "\"ticks\":["), 1u);
  EXPECT_NE(page.find("<title>{{DATA}} {{TITLE}}</title>"), std::string::npos);
}

TEST(RunHtmlPage, CarriesTheStepTableItsRecordsAreCodedWith) {
  ViewerRun run;
  run.ticks.push_back(SmallTick("scan 0"));
  const std::string page = RunHtml(run);
  std::string steps = "\"steps\":[";
  for (int i = 0; i < kSteps; ++i)
    steps += (i ? ",[" : "[") + std::to_string(kStepCol[i]) + "," + std::to_string(kStepRow[i]) + "]";
  EXPECT_EQ(Count(page, steps + "]"), 1u);
}

TEST(RunHtmlPage, EmptyRunStillMakesAPage) {
  ViewerRun run;
  const std::string page = RunHtml(run);
  EXPECT_NE(page.find("\"ticks\":[],\"total\":0}"), std::string::npos);
  EXPECT_NE(page.find("</html>"), std::string::npos);
}

TEST(RunHtmlText, HtmlEscapeCoversAttributesAndText) {
  EXPECT_EQ(XmlEscape("a<b>&\"'c"), "a&lt;b&gt;&amp;&quot;&#39;c");
  EXPECT_EQ(XmlEscape("\xc3\xa9t\xc3\xa9"), "\xc3\xa9t\xc3\xa9");
}

TEST(RunHtmlText, BothJsonWritersEscapeEveryControlByteAlikeDelIncluded) {
  // The page's writer also escapes < > & (markup); every other ASCII byte,
  // DEL among them, must come out of both the same.
  for (int c = 1; c < 0x80; ++c) {
    if (c == '<' || c == '>' || c == '&') continue;
    const std::string one(1, static_cast<char>(c));
    EXPECT_EQ(JsonString(one), run_html::JsonString(one)) << "byte " << c;
  }
  EXPECT_EQ(JsonString("\x7f"), "\"\\u007f\"");
}

TEST(RunHtmlText, JsonStringEscapes) {
  // A control character other than tab, LF and CR is no text: it arrives as U+FFFD.
  EXPECT_EQ(run_html::JsonString("a\"b\\c\n\t\x01<>&"),
            "\"a\\\"b\\\\c\\u000a\\u0009\xef\xbf\xbd\\u003c\\u003e\\u0026\"");
  EXPECT_EQ(run_html::JsonString("\xe2\x80\xa8\xe2\x80\xa9\xe2\x82\xac"), "\"\\u2028\\u2029\xe2\x82\xac\"");
  EXPECT_EQ(run_html::JsonString("\xff"), "\"\xef\xbf\xbd\"");
}

TEST(RunHtmlText, InvalidUtf8BecomesReplacementCharacters) {
  const std::string r = "\xef\xbf\xbd";
  EXPECT_EQ(CleanUtf8("ok \xf0\x9f\x99\x82"), "ok \xf0\x9f\x99\x82");
  EXPECT_EQ(CleanUtf8("\xff"), r);
  EXPECT_EQ(CleanUtf8("\xc0\xaf"), r + r);          // overlong '/'
  EXPECT_EQ(CleanUtf8("\xe0\x80\xaf"), r + r + r);  // overlong, three bytes
  EXPECT_EQ(CleanUtf8("\xed\xa0\x80"), r + r + r);  // surrogate
  EXPECT_EQ(CleanUtf8("\xf4\x90\x80\x80"), r + r + r + r);  // above U+10FFFF
  EXPECT_EQ(CleanUtf8("a\xe2\x82"), "a" + r + r);   // cut at the end
  EXPECT_EQ(CleanUtf8("\xe2\x82" "b"), r + r + "b");
}

TEST(RunHtmlText, TitlesAreCutOnCharacterBoundaries) {
  // One-, two-, three- and four-byte characters in turn.
  std::string title;
  for (int i = 0; i < 40; ++i) title += "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x99\x82";
  const std::string mark = "\xe2\x80\xa6";
  for (std::size_t max = 0; max <= 60; ++max) {
    const std::string cut = run_html::CutTitle(title, max);
    SCOPED_TRACE(max);
    EXPECT_LE(cut.size(), max);
    EXPECT_EQ(CleanUtf8(cut), cut);
    if (cut.empty()) continue;
    ASSERT_GE(cut.size(), mark.size());
    EXPECT_EQ(cut.substr(cut.size() - mark.size()), mark);
    const std::string kept = cut.substr(0, cut.size() - mark.size());
    EXPECT_EQ(title.compare(0, kept.size(), kept), 0);
    EXPECT_GT(kept.size() + 4, max - mark.size());  // gives up less than one character
  }
  EXPECT_EQ(run_html::CutTitle("short", kViewerTitleMax), "short");
  ViewerRun run;
  run.title = title;
  const std::string page = RunHtml(run);
  const std::size_t open = page.find("<title>") + 7;
  EXPECT_LE(page.find("</title>") - open, kViewerTitleMax);
}

TEST(RunHtmlText, Base64MatchesTheStandardVectors) {
  const auto b = [](const std::string& s) { return run_html::Base64(std::vector<unsigned char>(s.begin(), s.end())); };
  EXPECT_EQ(b(""), "");
  EXPECT_EQ(b("f"), "Zg==");
  EXPECT_EQ(b("fo"), "Zm8=");
  EXPECT_EQ(b("foo"), "Zm9v");
  EXPECT_EQ(b("foob"), "Zm9vYg==");
  EXPECT_EQ(b("fooba"), "Zm9vYmE=");
  EXPECT_EQ(b("foobar"), "Zm9vYmFy");
}

// ---- an independent reader of the grid record ---------------------------------

struct Reader {
  const std::vector<unsigned char>& u;
  std::size_t p = 0;
  bool ok = true;
  unsigned Byte() {
    if (p >= u.size()) {
      ok = false;
      return 0;
    }
    return u[p++];
  }
  std::uint64_t Varint() {
    std::uint64_t v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      const unsigned b = Byte();
      v |= static_cast<std::uint64_t>(b & 0x7f) << shift;
      if (!(b & 0x80)) return v;
    }
    ok = false;
    return 0;
  }
  long long Signed() {
    const std::uint64_t z = Varint();
    return (z & 1) ? -static_cast<long long>((z + 1) / 2) : static_cast<long long>(z / 2);
  }
  ViewerCell Cell() {
    const auto c = static_cast<int>(Signed());
    return {c, static_cast<int>(Signed())};
  }
};

struct Decoded {
  bool has_target = false, has_raw = false;
  ViewerCell start{}, target{}, raw{};
  std::vector<unsigned char> blocked = std::vector<unsigned char>(10000, 0);
  int mode = -1;
  std::vector<unsigned char> attraction;
  std::vector<double> scan;  // NaN: not drawn
  std::vector<ViewerCell> path;
  bool ok = false;
};

// `keyframe`: the attraction of the last record in mode 1.
Decoded Decode(const std::vector<unsigned char>& bytes, const std::vector<unsigned char>& keyframe) {
  Decoded d;
  Reader r{bytes};
  const unsigned flags = r.Byte();
  d.has_target = flags & 1;
  d.has_raw = flags & 2;
  d.start = r.Cell();
  if (d.has_target) d.target = r.Cell();
  if (d.has_raw) d.raw = r.Cell();
  const std::uint64_t runs = r.Varint();
  std::uint64_t k = 0;
  for (std::uint64_t i = 0; i < runs && r.ok; ++i) {
    const std::uint64_t n = r.Varint();
    if (k + n > 10000) return d;
    for (std::uint64_t j = 0; j < n; ++j) d.blocked[static_cast<std::size_t>(k + j)] = i % 2 ? 1 : 0;
    k += n;
  }
  if (k != 10000) return d;
  d.mode = static_cast<int>(r.Byte());
  if (d.mode > 2 || (d.mode == 0 && keyframe.size() != 10000)) return d;
  {
    d.attraction.assign(10000, 0);
    std::uint64_t zeros = r.Varint();
    for (int row = 0; row < 100; ++row)
      for (int col = 0; col < 100; ++col) {
        const auto at = [&](int c, int w) { return static_cast<int>(d.attraction[static_cast<std::size_t>(w * 100 + c)]); };
        int p = row == 0 ? (col == 0 ? 0 : at(col - 1, 0))
                         : (col == 0 ? at(0, row - 1) : at(col - 1, row) + at(col, row - 1) - at(col - 1, row - 1));
        p = std::max(0, std::min(255, p));
        if (d.mode == 0) p = keyframe[static_cast<std::size_t>(row * 100 + col)];
        if (d.mode == 2) {
          const int dc = col - d.target.col, dr = row - d.target.row;
          const double dist = std::sqrt(static_cast<double>(dc * dc + dr * dr));
          p = !d.has_target ? 0 : (dc == 0 && dr == 0) ? 255 : dist >= 127.0 ? 0 : 127 - static_cast<int>(dist);
        }
        long long v = p;
        if (zeros > 0) {
          --zeros;
        } else {
          v += r.Signed();
          if (row * 100 + col + 1 < 10000) zeros = r.Varint();
        }
        if (v < 0 || v > 255) return d;
        d.attraction[static_cast<std::size_t>(row * 100 + col)] = static_cast<unsigned char>(v);
      }
  }
  // Scan: 4-bit codes, low half of each byte first, then byte-aligned again.
  long long before = 0, last = 0;
  bool high = false;
  unsigned byte = 0;
  for (int i = 0; i < 360 && r.ok; ++i) {
    std::uint64_t z = 0;
    unsigned nibble = 0;
    int shift = 0;
    do {
      if (!high) byte = r.Byte();
      nibble = high ? byte >> 4 : byte & 15u;
      high = !high;
      z |= static_cast<std::uint64_t>(nibble & 7u) << shift;
      shift += 3;
    } while ((nibble & 8u) && shift < 60);
    const long long residual = (z & 1) ? -static_cast<long long>((z + 1) / 2) : static_cast<long long>(z / 2);
    const long long code = residual + (before != 0 && last != 0 ? 2 * last - before : last);
    d.scan.push_back(code == 0 ? std::nan("") : static_cast<double>(code - 4096) / 1000.0);
    before = last;
    last = code;
  }
  const std::uint64_t len = r.Varint();
  for (std::uint64_t i = 0; i < len && r.ok; ++i) {
    if (i == 0) {
      d.path.push_back(r.Cell());
      continue;
    }
    const unsigned step = r.Byte();
    if (step == kSteps) {
      d.path.push_back(r.Cell());
    } else if (step < kSteps) {
      d.path.push_back({d.path.back().col + kStepCol[step], d.path.back().row + kStepRow[step]});
    } else {
      return d;
    }
  }
  d.ok = r.ok && r.p == bytes.size();
  return d;
}

// Pull falling off around the target; `steps` makes it a cone of whole-cell
// steps, as the planner stamps it, else a smooth slope.
ViewerTick RandomTick(std::mt19937& rng, int target_col, int target_row, bool steps = false) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  ViewerTick t = SmallTick("");
  for (int k = 0; k < 10000; ++k) {
    const int col = k % 100, row = k / 100;
    const double d = std::hypot(col - target_col, row - target_row);
    const double fall = steps ? std::floor(d) : 1.5 * d;
    t.attraction[static_cast<std::size_t>(k)] = static_cast<unsigned char>(std::max(0.0, 127.0 - fall));
  }
  t.attraction[static_cast<std::size_t>(target_row * 100 + target_col)] = 255;
  for (int disk = 0; disk < 12; ++disk) {
    const double cc = u(rng) * 100, rr = u(rng) * 100;
    for (int k = 0; k < 10000; ++k)
      if (std::hypot(k % 100 - cc, k / 100 - rr) < 7) {
        t.blocked[static_cast<std::size_t>(k)] = 1;
        t.attraction[static_cast<std::size_t>(k)] = static_cast<unsigned char>(u(rng) * 255);  // ignored
      }
  }
  for (int i = 0; i < 360; ++i) {
    const double pick = u(rng);
    float v = static_cast<float>(0.3 + 3.5 * u(rng));
    if (pick < 0.05) v = std::numeric_limits<float>::quiet_NaN();
    else if (pick < 0.1) v = -v;
    else if (pick < 0.15) v = -std::numeric_limits<float>::infinity();
    t.scan[static_cast<std::size_t>(i)] = v;
  }
  t.start = {50, 49};
  ViewerCell c = t.start;
  for (int i = 0; i < 40; ++i) {
    const int s = static_cast<int>(u(rng) * kSteps);
    c = {c.col + kStepCol[s], c.row + kStepRow[s]};
    if (i == 20) c = {c.col + 5, c.row};  // not a neighbour
    t.path.push_back(c);
  }
  t.has_target = true;
  t.target = {target_col, target_row};
  t.has_raw_target = target_col % 2 == 0;
  t.raw_target = {target_col + 3, -1};
  return t;
}

void ExpectRoundTrip(const ViewerTick& t, const Decoded& d) {
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.start.col, t.start.col);
  EXPECT_EQ(d.start.row, t.start.row);
  EXPECT_EQ(d.has_target, t.has_target);
  EXPECT_EQ(d.target.col, t.target.col);
  EXPECT_EQ(d.target.row, t.target.row);
  EXPECT_EQ(d.has_raw, t.has_raw_target);
  if (t.has_raw_target) {
    EXPECT_EQ(d.raw.row, t.raw_target.row);
  }
  EXPECT_EQ(d.blocked, t.blocked);
  for (std::size_t k = 0; k < 10000; ++k)
    if (!t.blocked[k]) {
      ASSERT_EQ(d.attraction[k], t.attraction[k]) << k;
    }
  for (int i = 0; i < 360; ++i) {
    const double v = static_cast<double>(t.scan[static_cast<std::size_t>(i)]);
    const double x = -v * std::cos(i * kPi / 180.0), y = -v * std::sin(i * kPi / 180.0);
    const bool drawn = std::isfinite(v) && std::fabs(x) < 2.5 && std::fabs(y) < 2.5;
    SCOPED_TRACE(i);
    if (drawn) {
      EXPECT_NEAR(d.scan[static_cast<std::size_t>(i)], v, 0.0005);
    } else {
      EXPECT_TRUE(std::isnan(d.scan[static_cast<std::size_t>(i)]));
    }
  }
  ASSERT_EQ(d.path.size(), t.path.size());
  for (std::size_t i = 0; i < t.path.size(); ++i) {
    EXPECT_EQ(d.path[i].col, t.path[i].col);
    EXPECT_EQ(d.path[i].row, t.path[i].row);
  }
}

TEST(RunHtmlGrid, RecordsDecodeToWhatWentIn) {
  std::mt19937 rng(11);
  std::vector<unsigned char> reference, keyframe;
  // A target that stays (other obstacles), one that moves, one in a corner.
  const int targets[][3] = {{50, 80, 0}, {50, 80, 0}, {50, 80, 1}, {30, 75, 0}, {0, 99, 1}, {20, 20, 0}};
  for (const auto& tc : targets) {
    SCOPED_TRACE(&tc - targets);
    const ViewerTick t = RandomTick(rng, tc[0], tc[1], tc[2] != 0);
    const Decoded d = Decode(run_html::EncodeGrid(t, reference), keyframe);
    ExpectRoundTrip(t, d);
    if (tc[2]) {
      EXPECT_EQ(d.mode, 2);
    }
    if (d.mode == 1) keyframe = d.attraction;
    EXPECT_EQ(keyframe, reference);
  }
}

TEST(RunHtmlGrid, UnchangedFieldCostsAlmostNothing) {
  std::mt19937 rng(5);
  std::vector<unsigned char> reference, keyframe;
  ViewerTick t = RandomTick(rng, 60, 90);
  const std::vector<unsigned char> first = run_html::EncodeGrid(t, reference);
  keyframe = Decode(first, keyframe).attraction;
  t.path.clear();  // same field, other scan
  t.scan.fill(1.0f);
  const std::vector<unsigned char> again = run_html::EncodeGrid(t, reference);
  const Decoded d = Decode(again, keyframe);
  ExpectRoundTrip(t, d);
  EXPECT_EQ(d.mode, 0);
  EXPECT_LT(again.size() + 200, first.size());
}

TEST(RunHtmlGrid, ShortOrMissingFieldsCountAsFreeAndZero) {
  ViewerTick t;  // no blocked or attraction vectors at all
  t.scan.fill(1.0f);
  std::vector<unsigned char> reference;
  const Decoded d = Decode(run_html::EncodeGrid(t, reference), {});
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.blocked, std::vector<unsigned char>(10000, 0));
  EXPECT_EQ(d.attraction, std::vector<unsigned char>(10000, 0));
  EXPECT_TRUE(d.path.empty());
}

TEST(RunHtmlGrid, ScanAlongAStraightRampCostsHalfAByteAReading) {
  ViewerTick none = SmallTick("");  // nothing on the grid: 360 zero residuals
  ViewerTick ramp = SmallTick("");
  for (int i = 0; i < 360; ++i) ramp.scan[static_cast<std::size_t>(i)] = 0.5f + 0.007f * static_cast<float>(i % 200);
  std::vector<unsigned char> r1, r2;
  const std::vector<unsigned char> empty = run_html::EncodeGrid(none, r1);
  const std::vector<unsigned char> bytes = run_html::EncodeGrid(ramp, r2);
  // Only the first readings and the one jump back cost more than one code.
  EXPECT_LE(bytes.size(), empty.size() + 12);
  const Decoded d = Decode(bytes, {});
  ExpectRoundTrip(ramp, d);
}

// ---- the streaming writer ---------------------------------------------------

ViewerRun RandomRun(int ticks) {
  std::mt19937 rng(3);
  ViewerRun run;
  run.title = "run <1>";
  run.tick_name = "scan";
  run.has_room = true;
  run.room.width = 4;
  run.room.depth = 3;
  run.room.walls = {{0, 0, 4, 0}};
  run.room.pillars = {{1, 1, 0.2}};
  run.dt = 0.1;
  for (int n = 0; n < ticks; ++n) {
    ViewerTick t = RandomTick(rng, 50 + n % 3, 80, n % 2 == 0);
    t.info = "scan " + std::to_string(n) + ": x";
    t.has_pose = n % 2 == 1;
    t.pose_x = n;
    t.bearing_deg = n == 1 ? std::numeric_limits<float>::quiet_NaN() : static_cast<float>(n);
    run.ticks.push_back(t);
  }
  return run;
}

std::string ReadAll(std::FILE* f) {
  std::rewind(f);
  std::string s;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
  return s;
}

TEST(RunHtmlWriter, FileAndStringAndWholeRunGiveTheSameBytes) {
  const ViewerRun run = RandomRun(5);
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  RunHtmlWriter w(f);
  ASSERT_TRUE(w.Begin(run));
  for (const ViewerTick& t : run.ticks) EXPECT_TRUE(w.AddTick(t));
  EXPECT_TRUE(w.End());
  EXPECT_EQ(w.count(), 5u);
  const std::string page = ReadAll(f);
  std::fclose(f);
  EXPECT_EQ(page, RunHtml(run));
  EXPECT_EQ(Count(page, "\"scan "), 5u);
  EXPECT_NE(page.find("\"total\":5}"), std::string::npos);
  // One record per tick, in order, NaN bearing as null.
  EXPECT_LT(page.find("\"scan 0: x\""), page.find("\"scan 4: x\""));
  EXPECT_NE(page.find("\"scan 1: x\",0,0,null,"), std::string::npos);
}

// The command strip's class is the summary's, judged on the command itself:
// a crawl or a slow turn that prints as 0.00 is not standing still.
TEST(RunHtmlWriter, CommandClassIsJudgedBeforeRounding) {
  ViewerRun run;
  const double commands[][2] = {{0.0004, 0.0}, {0.0, 0.001}, {0.0, 0.0}, {-0.0, -0.0}, {0.3, 0.5}};
  for (const auto& c : commands) {
    ViewerTick t;
    t.has_command = true;
    t.speed = c[0];
    t.turn_rate = c[1];
    t.reason = c[0] > 0.0 ? "driving" : "arrived";
    run.ticks.push_back(t);
  }
  const std::string page = RunHtml(run);
  EXPECT_NE(page.find("[0,0,\"driving\",0]"), std::string::npos);
  EXPECT_NE(page.find("[0,0,\"arrived\",1]"), std::string::npos);
  EXPECT_EQ(Count(page, ",\"arrived\",2]"), 2u);
  EXPECT_NE(page.find("[0.3,0.5,\"driving\",0]"), std::string::npos);
}

TEST(RunHtmlWriter, StopsAtItsCapAndTheTotalSaysHowManyThereWere) {
  const ViewerRun run = RandomRun(4);
  std::string page;
  RunHtmlWriter w(&page, 2);
  ASSERT_TRUE(w.Begin(run));
  EXPECT_TRUE(w.AddTick(run.ticks[0]));
  EXPECT_FALSE(w.full());
  EXPECT_TRUE(w.AddTick(run.ticks[1]));
  EXPECT_TRUE(w.full());
  const std::size_t before = page.size();
  EXPECT_FALSE(w.AddTick(run.ticks[2]));
  EXPECT_EQ(page.size(), before);
  EXPECT_TRUE(w.ok());
  EXPECT_TRUE(w.End(4));
  EXPECT_EQ(w.count(), 2u);
  EXPECT_EQ(Count(page, "\"scan "), 2u);
  EXPECT_NE(page.find("],\"total\":4}"), std::string::npos);
  // Only the first two, and the page still ends.
  EXPECT_NE(page.find("\"scan 1: x\""), std::string::npos);
  EXPECT_EQ(page.find("\"scan 2: x\""), std::string::npos);
  EXPECT_NE(page.find("</html>"), std::string::npos);
}

TEST(RunHtmlWriter, CallsOutOfOrderAreRefused) {
  const ViewerRun run = RandomRun(1);
  std::string page;
  RunHtmlWriter w(&page);
  EXPECT_FALSE(w.AddTick(run.ticks[0]));
  EXPECT_FALSE(w.End());
  EXPECT_TRUE(page.empty());
  EXPECT_TRUE(w.Begin(run));
  EXPECT_FALSE(w.Begin(run));
  EXPECT_TRUE(w.End());
  EXPECT_FALSE(w.AddTick(run.ticks[0]));
  EXPECT_FALSE(w.End());
  EXPECT_EQ(Count(page, "</html>"), 1u);
}

TEST(RunHtmlWriter, WriteErrorsAreReported) {
  const ViewerRun run = RandomRun(2);
  std::FILE* f = std::fopen("/dev/null", "rb");  // writes fail on a stream opened for reading
  ASSERT_NE(f, nullptr);
  RunHtmlWriter w(f);
  EXPECT_FALSE(w.Begin(run));
  EXPECT_FALSE(w.AddTick(run.ticks[0]));
  EXPECT_FALSE(w.End());
  EXPECT_FALSE(w.ok());
  std::fclose(f);
  RunHtmlWriter none(static_cast<std::FILE*>(nullptr));
  EXPECT_FALSE(none.Begin(run));
  EXPECT_FALSE(none.End());
}

// ---- from the host's types ---------------------------------------------------

TEST(ViewerGlue, GridViewFieldsArriveInTheTick) {
  GridView v{};
  v.blocked.assign(10000, 0);
  v.attraction.assign(10000, 0);
  v.blocked[120] = 1;
  v.attraction[120] = -1;
  v.blocked[121] = 7;  // any nonzero value is blocked
  v.attraction[121] = -1;
  v.attraction[5] = 255;
  v.attraction[6] = 17;
  v.path = {{50, 51}, {49, 52}, {60, 60}};
  v.start = {50, 50};
  v.has_target = true;
  v.target = {48, 70};
  v.raw_target = {47, 80};
  v.reached = true;
  v.fix_x = 0.25f;
  v.fix_y = -0.5f;
  v.face_x = 0.5f;
  v.face_y = 0.75f;
  v.bearing = static_cast<float>(kPi / 2);
  v.scan.fill(std::numeric_limits<float>::infinity());
  v.scan[3] = 1.5f;
  v.has_tracked = true;
  v.tracked_x = 1.25f;
  v.tracked_y = std::numeric_limits<float>::quiet_NaN();
  const ViewerTick t = ViewerTickFromGridView(v, "scan 9: line");
  ASSERT_EQ(t.blocked.size(), 10000u);
  ASSERT_EQ(t.attraction.size(), 10000u);
  EXPECT_EQ(t.blocked[120], 1);
  EXPECT_EQ(t.blocked[121], 1);
  EXPECT_EQ(t.blocked[122], 0);
  EXPECT_EQ(t.attraction[120], 0);
  EXPECT_EQ(t.attraction[5], 255);
  EXPECT_EQ(t.attraction[6], 17);
  ASSERT_EQ(t.path.size(), 3u);
  EXPECT_EQ(t.path[1].col, 49);
  EXPECT_EQ(t.path[1].row, 52);
  EXPECT_EQ(t.path[2].col, 60);
  EXPECT_EQ(t.path_length, 3);
  EXPECT_EQ(t.start.col, 50);
  EXPECT_EQ(t.start.row, 50);
  EXPECT_TRUE(t.has_target);
  EXPECT_EQ(t.target.col, 48);
  EXPECT_EQ(t.target.row, 70);
  EXPECT_TRUE(t.has_raw_target);
  EXPECT_EQ(t.raw_target.col, 47);
  EXPECT_EQ(t.raw_target.row, 80);
  EXPECT_TRUE(t.reached);
  EXPECT_EQ(t.steering.x, 0.25f);
  EXPECT_EQ(t.steering.y, -0.5f);
  EXPECT_EQ(t.path_end.x, 0.5f);
  EXPECT_EQ(t.path_end.y, 0.75f);
  EXPECT_FLOAT_EQ(t.bearing_deg, 90.0f);
  EXPECT_EQ(t.scan[3], 1.5f);
  EXPECT_TRUE(std::isinf(t.scan[4]));
  EXPECT_TRUE(t.has_tracked);
  EXPECT_EQ(t.tracked.x, 1.25f);
  EXPECT_TRUE(std::isnan(t.tracked.y));
  EXPECT_FALSE(t.has_pose);
  EXPECT_EQ(t.info, "scan 9: line");

  v.bearing = static_cast<float>(-kPi / 4);
  EXPECT_FLOAT_EQ(ViewerTickFromGridView(v, "").bearing_deg, -45.0f);
  v.bearing = std::numeric_limits<float>::quiet_NaN();
  v.has_target = false;
  const ViewerTick none = ViewerTickFromGridView(v, "");
  EXPECT_TRUE(std::isnan(none.bearing_deg));
  EXPECT_FALSE(none.has_target);
  EXPECT_FALSE(none.has_raw_target);
}

TEST(ViewerGlue, RoomKeepsEveryWallPillarAndRoutePoint) {
  Room room{};
  room.width = 6;
  room.depth = 4;
  room.walls = {{{0, 0}, {6, 0}}, {{1, 2}, {1, 3.5}}};
  room.pillars = {{{2.5, 1.5}, 0.1}};
  const ViewerRoom r = ViewerRoomFromRoom(room, {{1, 1}, {2, 1.5}, {3, 2}});
  EXPECT_EQ(r.width, 6);
  EXPECT_EQ(r.depth, 4);
  ASSERT_EQ(r.walls.size(), 2u);
  EXPECT_EQ(r.walls[1].ax, 1);
  EXPECT_EQ(r.walls[1].ay, 2);
  EXPECT_EQ(r.walls[1].bx, 1);
  EXPECT_EQ(r.walls[1].by, 3.5);
  ASSERT_EQ(r.pillars.size(), 1u);
  EXPECT_EQ(r.pillars[0].x, 2.5);
  EXPECT_EQ(r.pillars[0].y, 1.5);
  EXPECT_EQ(r.pillars[0].r, 0.1);
  ASSERT_EQ(r.route.size(), 3u);
  EXPECT_EQ(r.route[1][0], 2);
  EXPECT_EQ(r.route[1][1], 1.5);
}

}  // namespace
