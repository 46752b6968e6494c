// SPDX-License-Identifier: BSD-3-Clause
// The host's outputs: text from outside made safe for pictures, the per-pass
// line, and the output folder that shows a whole run or the previous one.
#include "base/safe_text.h"
#include "output/output_set.h"
#include "output/pass_line.h"
#include "output/pictures.h"
#include "output/scan_saver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const std::string kFffd = "\xEF\xBF\xBD";

std::size_t CodePoints(const std::string& s) {
  std::size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

TEST(SafeText, EscapesMarkupAndKeepsValidText) {
  EXPECT_EQ(XmlEscape("<script>alert(1)</script>.txt"), "&lt;script&gt;alert(1)&lt;/script&gt;.txt");
  EXPECT_EQ(XmlEscape("a&b \"q\" 'a'"), "a&amp;b &quot;q&quot; &#39;a&#39;");
  EXPECT_EQ(XmlEscape("&amp;"), "&amp;amp;");  // not taken for a reference
  EXPECT_EQ(XmlEscape("t\u00e9st \u2026 \xF0\x9F\x99\x82\t\n\r"), "t\u00e9st \u2026 \xF0\x9F\x99\x82\t\n\r");
}

TEST(SafeText, ReplacesWhatXmlCannotHold) {
  // One replacement per byte that starts no valid sequence.
  EXPECT_EQ(CleanUtf8(std::string("a\x01" "b\x1B" "c\x7F", 6)), "a" + kFffd + "b" + kFffd + "c\x7F");
  EXPECT_EQ(CleanUtf8(std::string("x\0y", 3)), "x" + kFffd + "y");
  EXPECT_EQ(CleanUtf8("\x80"), kFffd);                                  // stray continuation
  EXPECT_EQ(CleanUtf8("\xC0\xAF"), kFffd + kFffd);                      // overlong '/'
  EXPECT_EQ(CleanUtf8("\xED\xA0\x80"), kFffd + kFffd + kFffd);          // surrogate
  EXPECT_EQ(CleanUtf8("\xF4\x90\x80\x80"), kFffd + kFffd + kFffd + kFffd);  // past U+10FFFF
  EXPECT_EQ(CleanUtf8("ok\xE2\x82"), "ok" + kFffd + kFffd);            // cut short at the end
  EXPECT_EQ(CleanUtf8("\xEF\xBF\xBE"), kFffd);                          // U+FFFE
  EXPECT_EQ(CleanUtf8("\xF4\x8F\xBF\xBF"), "\xF4\x8F\xBF\xBF");         // U+10FFFF is allowed
}

TEST(SafeText, FitCutsBetweenCharactersKeepingHeadAndTail) {
  EXPECT_EQ(FitText("short", 80), "short");
  EXPECT_EQ(FitText("abcdefghij", 10), "abcdefghij");
  EXPECT_EQ(FitText("abcdefghij", 6), "abc\u2026ij");
  EXPECT_EQ(FitText("abcdefghij", 0), "");
  std::string e200;
  for (int i = 0; i < 200; ++i) e200 += "\u00e9";
  const std::string fit = FitText("scan of " + e200 + ".txt", 80);
  EXPECT_EQ(CodePoints(fit), 80u);
  EXPECT_EQ(fit.substr(fit.size() - 6), "\u00e9.txt");
  // Whatever the limit, a cut never leaves half a character.
  const std::string mixed = "a\u00e9\u2026\xF0\x9F\x99\x82" + e200.substr(0, 10) + "\xF0\x9F\x99\x82z";
  for (std::size_t max = 1; max <= CodePoints(mixed) + 1; ++max) {
    const std::string s = FitText(mixed, max);
    EXPECT_EQ(CleanUtf8(s), s) << max;
    EXPECT_LE(CodePoints(s), max);
  }
}

TEST(SafeText, TerminalTextShowsWhatCouldForgeALine) {
  EXPECT_EQ(TerminalText("plain/na\u00efve \u2026 \xF0\x9F\x99\x82.txt"), "plain/na\u00efve \u2026 \xF0\x9F\x99\x82.txt");
  EXPECT_EQ(TerminalText("a\nrobot-demo: ok\r\tb"), "a\\nrobot-demo: ok\\r\\tb");
  EXPECT_EQ(TerminalText("\x1b[2J\x07\x7f"), "\\x1b[2J\\x07\\x7f");
  EXPECT_EQ(TerminalText(std::string("x\0y", 3)), "x\\x00y");
  EXPECT_EQ(TerminalText("\xC2\x9B" "31m"), "\\u009b31m");                // C1 CSI, well-formed UTF-8
  EXPECT_EQ(TerminalText("abc\xE2\x80\xAEtxt.exe"), "abc\\u202etxt.exe");  // right-to-left override
  EXPECT_EQ(TerminalText("\xE2\x80\xA8"), "\\u2028");
  EXPECT_EQ(TerminalText("\xff\xC0\xAF" "e\xE2\x82"), "\\xff\\xc0\\xafe\\xe2\\x82");  // bytes that are no UTF-8
}

TEST(PassLine, NoSignOnAZero) {
  EXPECT_EQ(Fixed(-0.004, 2), "0.00");
  EXPECT_EQ(Fixed(-0.0, 1), "0.0");
  EXPECT_EQ(Fixed(-0.4, 0), "0");
  EXPECT_EQ(Fixed(-0.005001, 2), "-0.01");
  EXPECT_EQ(Fixed(-10.0, 0), "-10");
  EXPECT_EQ(Fixed(0.125, 2), "0.12");  // as printf rounds
  EXPECT_EQ(Fixed(-std::numeric_limits<double>::infinity(), 2), "-inf");
  const PassFigures p{true, 3, 0.15f, -0.0f, 0.35f, -0.0f, -0.0001f};
  const TickFigures t{0.0, p, true, 0.74f, -0.003f, 0.9};
  EXPECT_EQ(TickLine(0, t), "tick 0: t=0.0s, reached, path 3 cells, steering (0.15, 0.00) m, path end (0.35, 0.00) m, "
                            "bearing 0.0 deg, tracked (0.74, 0.00) m, distance 0.90 m");
}

TEST(PassLine, SameFiguresSameTextInBothLines) {
  const PassFigures p{true, 60, 0.15f, 0.0f, 1.75f, -0.05f, 0.0f};
  const std::string text = "reached, path 60 cells, steering (0.15, 0.00) m, path end (1.75, -0.05) m, bearing 0.0 deg";
  EXPECT_EQ(PassText(p), text);
  EXPECT_EQ(ScanLine(3, p, true), "scan 3: " + text);
  EXPECT_EQ(ScanLine(3, p, false), "scan 3: " + text + " (target cell is blocked)");
  const TickFigures t{1.2, p, true, 0.74f, -0.02f, 0.9};
  EXPECT_EQ(TickLine(12, t), "tick 12: t=1.2s, " + text + ", tracked (0.74, -0.02) m, distance 0.90 m");
  const PassFigures none{false, 0, 0.0f, 0.0f, 0.0f, 0.0f, std::nanf("")};
  const TickFigures lost{0.0, none, false, 3e38f, -3e38f, 1.0};
  const std::string line = TickLine(0, lost);
  EXPECT_NE(line.find("not reached, path 0 cells"), std::string::npos);
  EXPECT_NE(line.find("bearing none deg"), std::string::npos);
  const std::string tail = ".00) m, distance 1.00 m (no free target cell)";  // huge values not cut off
  EXPECT_EQ(line.substr(line.size() - tail.size()), tail);
}

// ---- the output folder --------------------------------------------------------

class OutputFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("robot-demo-output-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  static void Write(const fs::path& p, const std::string& text) { std::ofstream(p) << text; }
  // Every entry and what it holds ("<dir>" for folders).
  static std::map<std::string, std::string> Listing(const fs::path& dir) {
    std::map<std::string, std::string> m;
    for (const auto& e : fs::directory_iterator(dir)) {
      std::stringstream ss;
      if (e.is_directory()) ss << "<dir>"; else ss << std::ifstream(e.path()).rdbuf();
      m[e.path().filename().string()] = ss.str();
    }
    return m;
  }
  fs::path root_;
};

TEST(OutputNames, OwnOutputsAreExactlyTheProgramsNames) {
  for (const char* n : {"run.svg", "run.html", "tick-000.svg", "tick-299.svg", "tick-1280.svg"})
    EXPECT_TRUE(OutputSet::IsOwnOutput(n)) << n;
  for (const char* n : {"tick-00.svg", "tick-000.svg.bak", "tick-0a0.svg", "Run.svg", "tick-000.SVG",
                        "xtick-000.svg", "tick-.svg", "run.svg~", "notes.txt", ".robot-demo-abc123"})
    EXPECT_FALSE(OutputSet::IsOwnOutput(n)) << n;
}

TEST_F(OutputFolder, CommitReplacesTheEarlierRunAndNothingElse) {
  const fs::path dir = root_ / "out";
  fs::create_directories(dir / "tick-998.svg");  // a folder of the user's, however named
  Write(dir / "tick-999.svg", "stale");
  Write(dir / "run.svg", "old run");
  Write(dir / "tick-99.svg", "not ours");
  Write(dir / "notes.txt", "keep me");
  OutputSet out;
  ASSERT_TRUE(out.Open(dir.string())) << out.Error();
  EXPECT_TRUE(out.Add("run.svg", "new run"));
  std::FILE* f = out.Create("tick-001.svg");
  ASSERT_NE(f, nullptr);
  std::fputs("piece 1, ", f);
  std::fputs("piece 2", f);
  EXPECT_TRUE(out.Close(f));
  EXPECT_EQ(Listing(dir).count("run.svg"), 1u);  // nothing moves before Commit
  EXPECT_EQ(Listing(dir)["run.svg"], "old run");
  ASSERT_TRUE(out.Commit()) << out.Error();
  const std::map<std::string, std::string> want{{"run.svg", "new run"},     {"tick-001.svg", "piece 1, piece 2"},
                                                {"tick-998.svg", "<dir>"},  {"tick-99.svg", "not ours"},
                                                {"notes.txt", "keep me"}};
  EXPECT_EQ(Listing(dir), want);
}

TEST_F(OutputFolder, FailedCommitPutsThePreviousContentBack) {
  const fs::path dir = root_ / "out";
  fs::create_directories(dir / "run.svg");  // the new run.svg cannot replace a folder
  Write(dir / "tick-000.svg", "previous picture");
  Write(dir / "notes.txt", "keep me");
  const auto before = Listing(dir);
  OutputSet out;
  ASSERT_TRUE(out.Open(dir.string()));
  EXPECT_TRUE(out.Add("tick-005.svg", "new picture"));  // moved in first, then taken back
  EXPECT_TRUE(out.Add("run.svg", "new run"));
  EXPECT_FALSE(out.Commit());
  EXPECT_NE(out.Error().find("run.svg"), std::string::npos) << out.Error();
  EXPECT_EQ(Listing(dir), before);
}

TEST_F(OutputFolder, AbandonedSetLeavesNoTrace) {
  const fs::path dir = root_ / "new" / "deeper";
  {
    OutputSet out;
    ASSERT_TRUE(out.Open(dir.string() + "/"));
    EXPECT_TRUE(out.Add("run.svg", "x"));
    EXPECT_FALSE(out.Add("../escape.svg", "x"));  // only plain names, and the failure sticks
    EXPECT_FALSE(out.Add("tick-001.svg", "x"));
    EXPECT_EQ(out.Create("tick-002.svg"), nullptr);
    EXPECT_FALSE(out.Commit());
  }
  EXPECT_FALSE(fs::exists(root_ / "new"));  // made by Open, empty again, so removed
  EXPECT_FALSE(fs::exists(root_ / "escape.svg"));
  {
    fs::create_directories(dir);
    Write(dir / "run.svg", "previous");
    OutputSet out;
    ASSERT_TRUE(out.Open(dir.string()));
    EXPECT_TRUE(out.Add("run.svg", "never committed"));
  }
  EXPECT_EQ(Listing(dir), (std::map<std::string, std::string>{{"run.svg", "previous"}}));
}

TEST_F(OutputFolder, UnusableFolderIsRefusedAtOpen) {
  Write(root_ / "file", "x");
  OutputSet a, b;
  EXPECT_FALSE(a.Open((root_ / "file").string()));
  EXPECT_EQ(a.Error(), (root_ / "file").string() + ": not a directory");
  EXPECT_FALSE(b.Open((root_ / "file" / "sub").string()));
  EXPECT_NE(b.Error().find("Not a directory"), std::string::npos) << b.Error();
  EXPECT_EQ(Listing(root_).size(), 1u);
}

TEST_F(OutputFolder, PicturesAreListedInTickOrder) {
  OutputSet out;
  ASSERT_TRUE(out.Open((root_ / "out").string()));
  for (const char* n : {"tick-1000.svg", "tick-010.svg", "run.svg", "tick-999.svg", "run.html", "tick-002.svg"})
    out.Add(n, "x");
  EXPECT_EQ(NamesInTickOrder(out), (std::vector<std::string>{"run.html", "run.svg", "tick-002.svg", "tick-010.svg",
                                                             "tick-999.svg", "tick-1000.svg"}));
}

TEST_F(OutputFolder, OneRunAtATime) {
  const fs::path dir = root_ / "out";
  OutputSet a;
  ASSERT_TRUE(a.Open(dir.string()));
  {
    OutputSet b;
    EXPECT_FALSE(b.Open(dir.string()));
    EXPECT_EQ(b.Error(), dir.string() + ": in use by another robot-demo run; wait for it to end or choose another --out");
  }
  EXPECT_TRUE(a.Add("run.svg", "a's"));
  ASSERT_TRUE(a.Commit()) << a.Error();
  OutputSet c;  // free again once the first has committed
  EXPECT_TRUE(c.Open(dir.string())) << c.Error();
  EXPECT_EQ(Listing(dir)["run.svg"], "a's");
}

// A staging folder as a run killed during its commit leaves it: `staged` are
// still in it, the rest of the journal's names were moved in already.
class InterruptedCommit : public OutputFolder {
 protected:
  fs::path Staging(const fs::path& dir, const std::vector<std::string>& staged, const std::string& journal) {
    const fs::path st = dir / ".robot-demo-kILLed";
    fs::create_directories(st / ".previous");
    for (const auto& n : staged) Write(st / n, "new " + n);
    Write(st / ".commit", journal);
    return st;
  }
};

TEST_F(InterruptedCommit, NextRunFinishesIt) {
  const fs::path dir = root_ / "out";
  fs::create_directories(dir);
  Write(dir / "run.svg", "old run.svg");     // not moved aside yet
  Write(dir / "tick-007.svg", "new tick-007.svg");  // moved in already
  Write(dir / "tick-003.svg", "old tick-003.svg");  // the old set's, not in the new one
  Write(dir / "notes.txt", "mine");
  Write(dir / ".previous-notes", "mine too");
  Staging(dir, {"run.svg", "run.html"}, "robot-demo commit 1\nrun.svg\nrun.html\ntick-007.svg\nend\n");
  OutputSet out;
  ASSERT_TRUE(out.Open(dir.string())) << out.Error();
  out.Abort();
  const std::map<std::string, std::string> want{{"run.svg", "new run.svg"}, {"run.html", "new run.html"},
                                                {"tick-007.svg", "new tick-007.svg"}, {"notes.txt", "mine"},
                                                {".previous-notes", "mine too"}};
  EXPECT_EQ(Listing(dir), want);
}

TEST_F(InterruptedCommit, WithoutAWholeJournalNothingMovedSoTheOldSetStays) {
  const fs::path dir = root_ / "out";
  fs::create_directories(dir);
  Write(dir / "run.svg", "old run.svg");
  Write(dir / "tick-003.svg", "old tick-003.svg");
  const auto before = Listing(dir);
  for (const std::string journal : {"", "robot-demo commit 1\nrun.svg\n", "robot-demo commit 1\n../x\nend\n"}) {
    Staging(dir, {"run.svg", "tick-009.svg"}, journal);
    OutputSet out;
    ASSERT_TRUE(out.Open(dir.string())) << out.Error();
    out.Abort();
    EXPECT_EQ(Listing(dir), before) << "journal: " << journal;
  }
}

TEST_F(OutputFolder, SavedScansGoInWholeOrNotAtAll) {
  const fs::path path = root_ / "saved.txt";
  Write(path, "earlier");
  Scan scan{};
  scan.fill(1.5f);
  {
    ScanSaver saver;
    std::string why;
    ASSERT_TRUE(saver.Open(path.string(), why)) << why;
    EXPECT_TRUE(saver.Add(scan));
  }  // never committed
  EXPECT_EQ(Listing(root_), (std::map<std::string, std::string>{{"saved.txt", "earlier"}}));
  // A killed run's temporary (nobody holds its lock) goes with the next save.
  Write(root_ / ".saved.txt.robot-demo-AbC123", "half a scan");
  Write(root_ / ".saved.txt.robot-demo-toolong", "not ours");
  ScanSaver saver;
  std::string why;
  ASSERT_TRUE(saver.Open(path.string(), why)) << why;
  EXPECT_TRUE(saver.Add(scan));
  ASSERT_TRUE(saver.Commit(why)) << why;
  const auto after = Listing(root_);
  EXPECT_EQ(after.size(), 2u);
  EXPECT_EQ(after.count(".saved.txt.robot-demo-toolong"), 1u);
  std::string line;
  AppendScanLine(scan, line);
  EXPECT_EQ(after.at("saved.txt"), line);
  ScanSaver dir_saver;
  EXPECT_FALSE(dir_saver.Open(root_.string(), why));
  EXPECT_EQ(why, "is a directory");
}

}  // namespace
