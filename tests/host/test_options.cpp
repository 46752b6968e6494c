// SPDX-License-Identifier: BSD-3-Clause
// robot-demo's command line: both forms of a value, the order options are
// taken in, the numbers it accepts, and what a mistyped option is told.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/options.h"
#ifdef SCANPILOT_HAVE_SCANSIM
#include "sim_runs/sim_options.h"
#endif

namespace {

struct Argv {
  explicit Argv(std::vector<std::string> a) : args(std::move(a)) {
    args.insert(args.begin(), "robot-demo");
    for (std::string& s : args) ptrs.push_back(s.data());
    ptrs.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(args.size()); }
  std::vector<std::string> args;
  std::vector<char*> ptrs;
};

std::string Help() { return "help\n"; }

// The status ParseOptions stops with (-1: the run goes on) and what it said.
struct Parsed {
  int status;
  std::string err;
  Options o;
};

Parsed Parse(const std::vector<std::string>& args) {
  Argv a(args);
  Parsed p{};
  testing::internal::CaptureStderr();
  const auto st = ParseOptions(a.argc(), a.ptrs.data(), p.o, Help);
  p.err = testing::internal::GetCapturedStderr();
  p.status = st ? *st : -1;
  return p;
}

const char kTry[] = "\nTry 'robot-demo --help'.\n";

TEST(Options, EqualsFormTakesTheSameValues) {
  const std::vector<std::pair<std::string, std::string>> opts = {
      {"--scans", "s.txt"},   {"--format", "samples"},  {"--zero-at", "90"},   {"--min-range", "0.25"},
      {"--max-range", "7.5"}, {"--mount-yaw", "180"},   {"--follow", "1.5"},   {"--robot-radius", "0.25"},
      {"--margin", "0.1"},    {"--max-speed", "0.75"},  {"--snapshot", "3,4"}, {"--out", "pics"},
      {"--seed", "11"},       {"--save-scans", "o.txt"}};
  std::vector<std::string> spaced, joined;
  for (const auto& [k, v] : opts) {
    spaced.insert(spaced.end(), {k, v});
    joined.push_back(k + "=" + v);
  }
  const Parsed a = Parse(spaced), b = Parse(joined);
  ASSERT_EQ(a.status, -1) << a.err;
  ASSERT_EQ(b.status, -1) << b.err;
  EXPECT_EQ(b.o.scans, "s.txt");
  EXPECT_EQ(b.o.format, ScanFormat::kSamples);
  EXPECT_EQ(b.o.layout.zero_deg, 90.0);
  EXPECT_EQ(b.o.layout.min_range, 0.25f);
  EXPECT_EQ(b.o.layout.max_range, 7.5f);
  EXPECT_EQ(b.o.mount_yaw, 180.0);
  EXPECT_TRUE(b.o.follow);
  EXPECT_EQ(b.o.follow_from, 1.5f);
  EXPECT_EQ(b.o.snapshots, (std::vector<int>{3, 4}));
  EXPECT_EQ(b.o.seed, 11u);
  for (const Parsed* p : {&a, &b}) {
    EXPECT_EQ(p->o.robot_radius, 0.25);
    EXPECT_EQ(p->o.margin, 0.1);
    EXPECT_EQ(p->o.max_speed, 0.75);
    EXPECT_EQ(p->o.out, "pics");
    EXPECT_EQ(p->o.save_scans, "o.txt");
  }
  // A bad value says the same either way.
  const Parsed c = Parse({"--scans", "s.txt", "--follow=7"}), d = Parse({"--scans", "s.txt", "--follow", "7"});
  EXPECT_EQ(c.status, 2);
  EXPECT_EQ(c.err, d.err);
  EXPECT_EQ(c.err, std::string("robot-demo: --follow wants the starting distance ahead in metres, > 0 and at most 6, "
                               "got '7'") +
                       kTry);
}

TEST(Options, TakenInTheOrderGiven) {
  // A preset sets the baud; a --baud after it wins, one before it does not.
  const Parsed after = Parse({"--device", "/dev/ttyX", "--scanner", "rplidar-a1", "--baud", "9600"});
  const Parsed before = Parse({"--device", "/dev/ttyX", "--baud", "9600", "--scanner", "rplidar-a1"});
  ASSERT_EQ(after.status, -1) << after.err;
  ASSERT_EQ(before.status, -1) << before.err;
  EXPECT_EQ(after.o.baud, 9600);
  EXPECT_NE(before.o.baud, 9600);
  EXPECT_EQ(before.o.format, ScanFormat::kLds);
  // The last of a repeated option counts; the first error stops the parse.
  EXPECT_EQ(Parse({"--out", "a", "--out=b"}).o.out, "b");
  const Parsed two = Parse({"--seed", "x", "--margin", "-1"});
  EXPECT_EQ(two.err, std::string("robot-demo: --seed wants a whole number from 0 to 2147483647, got 'x'") + kTry);
  // --scanner list prints the table and ends the run there, well.
  testing::internal::CaptureStdout();
  const Parsed list = Parse({"--scanner", "list", "--frobnicate"});
  const std::string table = testing::internal::GetCapturedStdout();
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.err, "");
  EXPECT_NE(table.find("rplidar-a1"), std::string::npos);
  // --help is taken where it stands: after an error it comes too late.
  EXPECT_EQ(Parse({"--help", "--seed", "x"}).status, 0);
  EXPECT_EQ(Parse({"--seed", "x", "--help"}).status, 2);
}

TEST(Options, NumbersAreDecimalAndWithinTheirRange) {
  const auto status = [](std::vector<std::string> args) {
    args.insert(args.begin(), {"--scans", "s.txt", "--format", "lds"});
    return Parse(args).status;
  };
  EXPECT_EQ(Parse({"--scans", "s", "--format", "lds", "--turns", "010"}).o.turns, 10);  // not octal
  for (const char* bad : {"0x10", "-1", "0", "1e3", " 5", "5 ", "", "2147483648"})
    EXPECT_EQ(status({"--turns", bad}), 2) << bad;
  EXPECT_EQ(status({"--min-packets", "0"}), -1);
  EXPECT_EQ(status({"--min-packets", "100"}), -1);
  EXPECT_EQ(status({"--min-packets", "101"}), 2);
  // A closed range at both ends; --follow's start is above 0, at most 6.
  EXPECT_EQ(Parse({"--max-speed", "100"}).status, -1);
  EXPECT_EQ(Parse({"--max-speed", "100.00000000001"}).status, 2);
  EXPECT_EQ(Parse({"--scans", "s", "--follow", "6"}).status, -1);
  EXPECT_EQ(Parse({"--scans", "s", "--follow", "1e-300"}).status, -1);
  EXPECT_EQ(Parse({"--scans", "s", "--follow", "0"}).status, 2);
  EXPECT_EQ(Parse({"--scans", "s", "--follow", "-0"}).status, 2);
  for (const char* bad : {"nan", "inf", "0x1p-2", "1e400", "0.1.2"})
    EXPECT_EQ(Parse({"--margin", bad}).status, 2) << bad;
  EXPECT_EQ(Parse({"--margin", "+0.1"}).o.margin, 0.1);
  EXPECT_EQ(Parse({"--seed", "2147483647"}).o.seed, 2147483647u);
}

TEST(Options, EachRuleSaysItsOwnLine) {
  const auto err = [](const std::vector<std::string>& args) { return Parse(args).err; };
  const std::string follow =
      std::string("robot-demo: --follow chooses the target itself: drop --target/--target-cell") + kTry;
  EXPECT_EQ(err({"--scans", "s", "--follow", "1", "--target-cell", "50,60"}), follow);
  EXPECT_EQ(err({"--scans", "s", "--target-cell", "50,60", "--follow", "1"}), follow);
  EXPECT_EQ(err({"--device", "/dev/x", "--format", "lds", "--scans", "s"}),
            std::string("robot-demo: --device and --scans are two inputs: give one of them") + kTry);
  EXPECT_EQ(err({"--scans", "s", "--goals", "g", "--target", "1,0"}),
            std::string("robot-demo: --goals gives a goal per scan: drop --follow, --target and --target-cell") + kTry);
  EXPECT_EQ(err({"--snapshot", "1", "--baud", "9600"}), std::string("robot-demo: --baud goes with --device") + kTry);
  EXPECT_EQ(err({"--scans", "s", "--topic", ""}),
            std::string("robot-demo: --topic needs a topic name, such as /scan") + kTry);
  EXPECT_EQ(err({"--out"}), std::string("robot-demo: --out needs a value") + kTry);
  // "--opt=" is an empty value, not a call for the next argument.
  EXPECT_EQ(err({"--scans=", "--json"}),
            std::string("robot-demo: --scans needs a file name, or - for standard input") + kTry);
  EXPECT_EQ(err({"--out=", "--json"}), std::string("robot-demo: --out needs a directory") + kTry);
}

TEST(Options, MistypedOptionIsToldTheNearest) {
  const std::vector<std::string> known = {"--scans",       "--scanner", "--follow",       "--format", "--target",
                                          "--target-cell", "--turns",   "--turn-timeout", "--out"};
  EXPECT_EQ(NearestOption("--scan", known), "--scans");
  EXPECT_EQ(NearestOption("--folow", known), "--follow");
  EXPECT_EQ(NearestOption("--fromat", known), "--format");
  EXPECT_EQ(NearestOption("--target-cel", known), "--target-cell");
  EXPECT_EQ(NearestOption("--turn", known), "--turns");           // nearer than --turn-timeout
  EXPECT_EQ(NearestOption("--turn-t", known), "--turn-timeout");  // the one it begins
  EXPECT_EQ(NearestOption("--frobnicate", known), "");
  EXPECT_EQ(NearestOption("--x", known), "");
  EXPECT_EQ(NearestOption("--tar", {"--target", "--targets"}), "");  // two as near: no guess
  EXPECT_EQ(Parse({"--scan", "s.txt"}).err,
            std::string("robot-demo: unknown option '--scan'; did you mean --scans?") + kTry);
  EXPECT_EQ(Parse({"--scans", "s.txt", "--folow=1"}).err,
            std::string("robot-demo: unknown option '--folow=1'; did you mean --follow?") + kTry);
  EXPECT_EQ(Parse({"--frobnicate"}).err, std::string("robot-demo: unknown option '--frobnicate'") + kTry);
}

#ifdef SCANPILOT_HAVE_SCANSIM
Parsed ParseSim(const std::vector<std::string>& args, SimOptions& o) {
  Argv a(args);
  Parsed p{};
  testing::internal::CaptureStderr();
  const auto st = ParseSimOptions(a.argc(), a.ptrs.data(), o, Help);
  p.err = testing::internal::GetCapturedStderr();
  p.status = st ? *st : -1;
  return p;
}

TEST(Options, MapSuiteAndMerge) {
  SimOptions m;
  EXPECT_EQ(ParseSim({"--json", "--merge", "a", "b", "--min-success=0.5", "c"}, m).status, -1);
  EXPECT_EQ(m.merge, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(m.min_success, 0.5);
  SimOptions s;
  EXPECT_EQ(ParseSim({"--suite", "s.yaml", "--shard=2/3", "--seed", "18446744073709551615"}, s).status, -1);
  EXPECT_EQ(s.shard_k, 2);
  EXPECT_EQ(s.over.seed, 18446744073709551615ull);
  const auto err = [](const std::vector<std::string>& args) {
    SimOptions o;
    return ParseSim(args, o).err;
  };
  EXPECT_EQ(err({"--map", "m", "--suite", "s"}),
            std::string("robot-demo: give one of --map, --suite and --merge") + kTry);
  EXPECT_EQ(err({"--map", "m", "--goal", "1,1"}), std::string("robot-demo: --map needs --start X,Y,YAW_DEG") + kTry);
  EXPECT_EQ(err({"--map", "m", "--start", "1,1,0"}),
            std::string("robot-demo: --map needs --goal X,Y or --person-route FILE (one of them)") + kTry);
  EXPECT_EQ(err({"--map", "m", "--start", "1,1,0", "--goal", "1,1", "--shard", "1/2"}),
            std::string("robot-demo: --shard goes with --suite") + kTry);
  EXPECT_EQ(err({"--merge"}), std::string("robot-demo: --merge needs the shards' JSON files") + kTry);
  EXPECT_EQ(err({"--map", "m", "--robot-radius", "0"}),
            std::string("robot-demo: --robot-radius wants a number in above 0..0.5, got '0'") + kTry);
  EXPECT_EQ(
      err({"--map", "m", "--gaol", "1,1"}),
      std::string("robot-demo: unknown option '--gaol' for a map run, suite or merge; did you mean --goal?") + kTry);
  // The options a replay has too keep a map run's own limits there.
  EXPECT_EQ(err({"--map", "m", "--max-speed", "11"}),
            std::string("robot-demo: --max-speed wants a number in 0..10, got '11'") + kTry);
  EXPECT_EQ(Parse({"--max-speed", "11"}).status, -1);
  EXPECT_EQ(err({"--suite", "s", "--min-success", "1.5"}),
            std::string("robot-demo: --min-success wants a number in 0..1, got '1.5'") + kTry);
  EXPECT_EQ(err({"--suite", "s", "--save-scans", "x"}), std::string("robot-demo: --save-scans goes with --map") + kTry);
  EXPECT_EQ(err({"--map", "m", "--start", "1,1,0", "--goal", "1,1", "--min-success", "0.5"}),
            std::string("robot-demo: --min-success goes with --suite or --merge") + kTry);
  EXPECT_EQ(err({"--map=m", "--start", "1,1", "--goal", "1,1"}),
            std::string("robot-demo: --start wants X,Y,YAW_DEG (metres, degrees), got '1,1'") + kTry);
  EXPECT_EQ(err({"--suite", "s", "--scans", "x"}),
            std::string("robot-demo: unknown option '--scans' for a map run, suite or merge") + kTry);
}
#endif

}  // namespace
