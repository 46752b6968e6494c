// The run page: outside text cannot inject markup, titles are cut on
// character boundaries, and the per-tick grid records decode to what went in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "run_html.h"

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
  EXPECT_EQ(Count(page, "\"grid\":["), 1u);
  EXPECT_NE(page.find("<title>{{DATA}} {{TITLE}}</title>"), std::string::npos);
}

TEST(RunHtmlPage, EmptyRunStillMakesAPage) {
  ViewerRun run;
  const std::string page = RunHtml(run);
  EXPECT_NE(page.find("\"info\":[]"), std::string::npos);
  EXPECT_NE(page.find("</html>"), std::string::npos);
}

TEST(RunHtmlText, HtmlEscapeCoversAttributesAndText) {
  EXPECT_EQ(run_html::HtmlEscape("a<b>&\"'c"), "a&lt;b&gt;&amp;&quot;&#39;c");
  EXPECT_EQ(run_html::HtmlEscape("\xc3\xa9t\xc3\xa9"), "\xc3\xa9t\xc3\xa9");
}

TEST(RunHtmlText, JsonStringEscapes) {
  EXPECT_EQ(run_html::JsonString("a\"b\\c\n\t\x01<>&"), "\"a\\\"b\\\\c\\u000a\\u0009\\u0001\\u003c\\u003e\\u0026\"");
  EXPECT_EQ(run_html::JsonString("\xe2\x80\xa8\xe2\x80\xa9\xe2\x82\xac"), "\"\\u2028\\u2029\xe2\x82\xac\"");
  EXPECT_EQ(run_html::JsonString("\xff"), "\"\xef\xbf\xbd\"");
}

TEST(RunHtmlText, InvalidUtf8BecomesReplacementCharacters) {
  const std::string r = "\xef\xbf\xbd";
  EXPECT_EQ(run_html::ValidUtf8("ok \xf0\x9f\x99\x82"), "ok \xf0\x9f\x99\x82");
  EXPECT_EQ(run_html::ValidUtf8("\xff"), r);
  EXPECT_EQ(run_html::ValidUtf8("\xc0\xaf"), r + r);          // overlong '/'
  EXPECT_EQ(run_html::ValidUtf8("\xe0\x80\xaf"), r + r + r);  // overlong, three bytes
  EXPECT_EQ(run_html::ValidUtf8("\xed\xa0\x80"), r + r + r);  // surrogate
  EXPECT_EQ(run_html::ValidUtf8("\xf4\x90\x80\x80"), r + r + r + r);  // above U+10FFFF
  EXPECT_EQ(run_html::ValidUtf8("a\xe2\x82"), "a" + r + r);   // cut at the end
  EXPECT_EQ(run_html::ValidUtf8("\xe2\x82" "b"), r + r + "b");
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
    EXPECT_EQ(run_html::ValidUtf8(cut), cut);
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
  static const int kCol[8] = {0, -1, 1, 0, -1, 1, -1, 1}, kRow[8] = {1, 1, 1, -1, -1, -1, 0, 0};
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
    for (std::uint64_t j = 0; j < n; ++j) d.blocked[k + j] = i % 2 ? 1 : 0;
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
  long long code = 0;
  for (int i = 0; i < 360; ++i) {
    code += r.Signed();
    if (code == 0) {
      d.scan.push_back(std::nan(""));
      continue;
    }
    const long long z = code - 1;
    d.scan.push_back(static_cast<double>(z % 2 ? -(z + 1) / 2 : z / 2) / 1000.0);
  }
  const std::uint64_t len = r.Varint();
  for (std::uint64_t i = 0; i < len && r.ok; ++i) {
    if (i == 0) {
      d.path.push_back(r.Cell());
      continue;
    }
    const unsigned step = r.Byte();
    if (step == 8) {
      d.path.push_back(r.Cell());
    } else if (step < 8) {
      d.path.push_back({d.path.back().col + kCol[step], d.path.back().row + kRow[step]});
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
    const int s = static_cast<int>(u(rng) * 8);
    static const int kCol[8] = {0, -1, 1, 0, -1, 1, -1, 1}, kRow[8] = {1, 1, 1, -1, -1, -1, 0, 0};
    c = {c.col + kCol[s], c.row + kRow[s]};
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

}  // namespace
