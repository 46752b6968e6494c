// SPDX-License-Identifier: BSD-3-Clause
// robot-demo's command line, read by CLI11: each option is declared once with
// its help, the check of its value and the runs it goes with, and each rule
// between two options once with the line that explains it.
#ifndef SCANPILOT_CLI_COMMAND_LINE_H
#define SCANPILOT_CLI_COMMAND_LINE_H

#include <CLI/CLI.hpp>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

// The runs of robot-demo, chosen by its input option.
enum RunKind : unsigned {
  kDemoRun = 1u,    // no input
  kReplayRun = 2u,  // --scans, or a bag after --format rosbag or rosbag2
  kLiveRun = 4u,    // --device
  kMapRun = 8u,     // --map
  kSuiteRun = 16u,  // --suite
  kMergeRun = 32u,  // --merge
};
constexpr unsigned kEveryRun = 63u;
constexpr unsigned kScanRuns = kReplayRun | kLiveRun;
constexpr unsigned kSimRuns = kMapRun | kSuiteRun | kMergeRun;

class CommandLine {
 public:
  // Checks a value, stores it when good and returns "" then; else returns
  // what is wrong, said after the option's name.
  using Take = std::function<std::string(const std::string&)>;

  CommandLine();

  // Options declared after this are shown under `heading` in the help.
  void Group(const std::string& heading) { group_ = heading; }
  // An option with a value, taken in the order the command line gives it.
  CLI::Option* Value(const std::string& name, const std::string& type, const std::string& help, unsigned runs,
                     Take take);
  // A decimal number in lo..hi (CLI11's range check), said as "NAME wants
  // WANTS, got 'VALUE'" otherwise.
  CLI::Option* Real(const std::string& name, const std::string& type, const std::string& help, unsigned runs, double lo,
                    double hi, const std::string& wants, std::function<void(double)> set);
  CLI::Option* Whole(const std::string& name, const std::string& type, const std::string& help, unsigned runs,
                     unsigned long long lo, unsigned long long hi, const std::string& wants,
                     std::function<void(unsigned long long)> set);
  CLI::Option* Flag(const std::string& name, const std::string& help, unsigned runs, std::function<void()> set);
  // The bare arguments (a bag, or shards to merge); hidden from the help.
  void Bare(std::vector<std::string>& into);

  // Rules CLI11 checks once every option is read; `why` is the error line.
  void Excludes(CLI::Option* a, CLI::Option* b, const std::string& why);
  void Needs(CLI::Option* a, CLI::Option* b, const std::string& why);

  // The help's opening lines and its closing ones.
  void Synopsis(const std::string& text) { app_.description(text); }
  void Footer(const std::string& text) { app_.footer(text); }
  // Said after "unknown option 'X'" (" for a map run, suite or merge").
  void UnknownIn(const std::string& where) { unknown_in_ = where; }

  // Reads the command line. Returns the exit status when the program ends
  // here: --help (printing help()), --version, an option that did its whole
  // work, or a usage error already said.
  std::optional<int> Parse(int argc, char** argv, const std::function<std::string()>& help);
  // A usage error unless every option given goes with the run `kind`.
  std::optional<int> CheckRun(RunKind kind) const;
  bool Given(const std::string& name) const;
  CLI::Option* Find(const std::string& name) { return app_.get_option(name); }
  std::string Help();

 private:
  void AddOther();  // --help and --version, last in the help
  std::string Explain(const CLI::ParseError& e) const;
  std::string UnknownOption() const;

  CLI::App app_;
  std::string group_;
  std::string unknown_in_;
  std::map<const CLI::Option*, unsigned> runs_;
  std::map<std::string, std::string> why_;  // "A excludes B", "A requires B" -> the error line
};

// Decimal text only, as the scan files are read: no hex, no octal, no inf or
// nan; a leading '+' is allowed for reals.
bool ParseDecimal(const std::string& s, double& v);
bool ParseInteger(const std::string& s, int& v);
// "A,B" (or "A/B"...) split at its first `sep`.
bool SplitAt(const std::string& s, char sep, std::string& a, std::string& b);
// "wants WHAT, got 'VALUE'": the complaint after an option's name.
std::string Wants(const std::string& what, const std::string& value);
// A value naming a file or a folder: empty is no name, and says `missing`.
CommandLine::Take NonEmpty(std::string& into, const std::string& missing);

// The known option a mistyped one most likely meant ("--scan" -> "--scans"),
// or "" when none is near enough to guess.
std::string NearestOption(const std::string& typed, const std::vector<std::string>& known);

#endif
