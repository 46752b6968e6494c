// SPDX-License-Identifier: BSD-3-Clause
#include "cli/command_line.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "base/messages.h"
#include "base/std_streams.h"
#include "scanpilot_version.h"

namespace {

// The help as robot-demo has always shown it: the synopsis first, each option
// with its argument's name only (the rules between options are said where
// they are broken), groups in the order declared.
class HelpFormat : public CLI::Formatter {
 public:
  HelpFormat() { column_width(24); }
  std::string make_usage(const CLI::App*, std::string) const override { return ""; }
  std::string make_group(std::string group, bool positional, std::vector<const CLI::Option*> opts) const override {
    std::string s = group + ":\n";
    for (const CLI::Option* opt : opts) s += make_option(opt, positional);
    return s;
  }
  std::string make_option_opts(const CLI::Option* opt) const override {
    return opt->get_type_name().empty() ? std::string() : " " + opt->get_type_name();
  }
};

bool ParseWhole(const std::string& s, unsigned long long& v) {
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return !s.empty() && r.ec == std::errc() && r.ptr == s.data() + s.size();
}

std::string ExactText(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

std::optional<int> PrintOut(const std::string& text) {
  // The help outgrows stdio's buffer: a full disk shows here, with its reason.
  if ((std::fputs(text.c_str(), stdout) == EOF || std::fflush(stdout) != 0) && (NoteStdoutError(errno), true))
    return Fail(kExitCannotWrite, std::string("standard output: ") + std::strerror(errno));
  return kExitOk;
}

std::string RunsText(unsigned runs) {
  static const std::pair<unsigned, const char*> kNames[] = {{kDemoRun, "the demo"}, {kReplayRun, "--scans"},
                                                            {kLiveRun, "--device"}, {kMapRun, "--map"},
                                                            {kSuiteRun, "--suite"}, {kMergeRun, "--merge"}};
  std::vector<std::string> names;
  for (const auto& [bit, name] : kNames)
    if (runs & bit) names.push_back(name);
  std::string s;
  for (std::size_t i = 0; i < names.size(); ++i) s += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
  return s;
}

// Edits from a to b: insertions, deletions, changes and swaps of two
// neighbours, the usual slips of a typing hand.
std::size_t Distance(const std::string& a, const std::string& b) {
  const std::size_t w = b.size() + 1;
  std::vector<std::size_t> d((a.size() + 1) * w);
  for (std::size_t i = 0; i <= a.size(); ++i) d[i * w] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i)
    for (std::size_t j = 1; j <= b.size(); ++j) {
      std::size_t v = std::min(
          {d[(i - 1) * w + j] + 1, d[i * w + j - 1] + 1, d[(i - 1) * w + j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) v = std::min(v, d[(i - 2) * w + j - 2] + 1);
      d[i * w + j] = v;
    }
  return d[a.size() * w + b.size()];
}

}  // namespace

bool ParseDecimal(const std::string& s, double& v) {
  const char* b = s.data();
  const char* e = b + s.size();
  if (b != e && *b == '+') ++b;
  const auto r = std::from_chars(b, e, v);
  return r.ec == std::errc() && r.ptr == e && std::isfinite(v);
}

bool ParseInteger(const std::string& s, int& v) {
  const char* e = s.data() + s.size();
  const auto r = std::from_chars(s.data(), e, v);
  return r.ec == std::errc() && r.ptr == e;
}

bool SplitAt(const std::string& s, char sep, std::string& a, std::string& b) {
  const auto at = s.find(sep);
  if (at == std::string::npos) return false;
  a = s.substr(0, at);
  b = s.substr(at + 1);
  return true;
}

std::string Wants(const std::string& what, const std::string& value) {
  return "wants " + what + ", got '" + value + "'";
}

CommandLine::Take NonEmpty(std::string& into, const std::string& missing) {
  return [&into, missing](const std::string& v) {
    if (v.empty()) return missing;
    into = v;
    return std::string();
  };
}

std::string NearestOption(const std::string& typed, const std::vector<std::string>& known) {
  // A unique option the typed text begins is what was meant ("--follo").
  std::string prefix_of;
  int prefixes = 0;
  for (const std::string& k : known)
    if (typed.size() >= 4 && k.compare(0, typed.size(), typed) == 0) prefix_of = k, ++prefixes;
  if (prefixes == 1) return prefix_of;
  // Else the nearest by edits, if a third of the name or less was mistyped
  // and no other is as near.
  std::string best;
  std::size_t best_d = 0;
  bool tie = false;
  for (const std::string& k : known) {
    const std::size_t d = Distance(typed, k);
    if (best.empty() || d < best_d)
      best = k, best_d = d, tie = false;
    else if (d == best_d)
      tie = true;
  }
  const std::size_t limit = std::max<std::size_t>(1, (std::max(typed.size(), best.size()) - 2) / 3);
  return !best.empty() && !tie && best_d <= limit ? best : std::string();
}

CommandLine::CommandLine() : app_("", "robot-demo") {
  app_.formatter(std::make_shared<HelpFormat>());
  app_.set_help_flag();
}

void CommandLine::AddOther() {
  if (app_.get_option_no_throw("--version") != nullptr) return;
  // Taken in order, as the options before them are: an error before --help wins.
  app_.add_flag_callback(
          "-h,--help", [] { throw CLI::CallForHelp(); }, "this text")
      ->group("Other")
      ->trigger_on_parse();
  app_.add_flag_callback(
          "--version", [] { throw CLI::CallForVersion(); }, "the release number")
      ->group("Other")
      ->trigger_on_parse();
}

std::string CommandLine::Help() {
  AddOther();
  return app_.help();
}

CLI::Option* CommandLine::Value(const std::string& name, const std::string& type, const std::string& help,
                                unsigned runs, Take take) {
  auto check = [name, take](const std::string& v) {
    const std::string why = take(v);
    if (!why.empty()) throw CLI::ValidationError(name + " " + why);
  };
  CLI::Option* opt = app_.add_option_function<std::string>(name, check, help);
  opt->type_name(type)->group(group_)->trigger_on_parse()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  runs_[opt] = runs;
  return opt;
}

CLI::Option* CommandLine::Real(const std::string& name, const std::string& type, const std::string& help, unsigned runs,
                               double lo, double hi, const std::string& wants, std::function<void(double)> set) {
  const CLI::Range range(lo, hi);
  return Value(name, type, help, runs, [=](const std::string& v) {
    double d = 0;
    if (!ParseDecimal(v, d) || !range(ExactText(d)).empty()) return Wants(wants, v);
    set(d);
    return std::string();
  });
}

CLI::Option* CommandLine::Whole(const std::string& name, const std::string& type, const std::string& help,
                                unsigned runs, unsigned long long lo, unsigned long long hi, const std::string& wants,
                                std::function<void(unsigned long long)> set) {
  const CLI::Range range(lo, hi);
  return Value(name, type, help, runs, [=](const std::string& v) {
    unsigned long long n = 0;
    if (!ParseWhole(v, n) || !range(std::to_string(n)).empty()) return Wants(wants, v);
    set(n);
    return std::string();
  });
}

CLI::Option* CommandLine::Flag(const std::string& name, const std::string& help, unsigned runs,
                               std::function<void()> set) {
  CLI::Option* opt = app_.add_flag_callback(name, std::move(set), help);
  opt->group(group_)->trigger_on_parse();
  runs_[opt] = runs;
  return opt;
}

void CommandLine::Bare(std::vector<std::string>& into) { app_.add_option("inputs", into)->group(""); }

void CommandLine::Excludes(CLI::Option* a, CLI::Option* b, const std::string& why) {
  a->excludes(b);
  why_[a->get_name() + " excludes " + b->get_name()] = why;
  why_[b->get_name() + " excludes " + a->get_name()] = why;
}

void CommandLine::Needs(CLI::Option* a, CLI::Option* b, const std::string& why) {
  a->needs(b);
  why_[a->get_name() + " requires " + b->get_name()] = why;
}

bool CommandLine::Given(const std::string& name) const { return app_.count(name) > 0; }

std::optional<int> CommandLine::Parse(int argc, char** argv, const std::function<std::string()>& help) {
  AddOther();
  // CLI11 reads "--out=" as "--out" and would take the next argument for its
  // value; it is an empty value. CLI11 wants the arguments last first.
  std::vector<std::string> args;
  for (int i = argc - 1; i >= 1; --i) {
    const std::string arg = argv[i];
    const CLI::Option* opt = arg.size() > 3 && arg.compare(0, 2, "--") == 0 && arg.find('=') == arg.size() - 1
                                 ? app_.get_option_no_throw(arg.substr(0, arg.size() - 1))
                                 : nullptr;
    if (opt != nullptr && opt->get_items_expected_max() > 0) {
      args.emplace_back();
      args.push_back(arg.substr(0, arg.size() - 1));
    } else {
      args.push_back(arg);
    }
  }
  try {
    app_.parse(std::move(args));
  } catch (const CLI::CallForHelp&) {
    return PrintOut(help());
  } catch (const CLI::CallForVersion&) {
    return PrintOut(std::string("robot-demo ") + SCANPILOT_VERSION_STRING + "\n");
  } catch (const CLI::RuntimeError& e) {  // an option that did the whole work (--scanner list)
    return e.get_exit_code();
  } catch (const CLI::ParseError& e) {
    return UsageError(Explain(e));
  }
  return std::nullopt;
}

std::string CommandLine::Explain(const CLI::ParseError& e) const {
  const std::string what = e.what();
  // A mistyped option is the cause of a rule it seems to break.
  const bool rule = dynamic_cast<const CLI::ExcludesError*>(&e) || dynamic_cast<const CLI::RequiresError*>(&e);
  if (dynamic_cast<const CLI::ExtrasError*>(&e) || (rule && !app_.remaining().empty())) return UnknownOption();
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&e)) return what.substr(0, what.find(':')) + " needs a value";
  const auto it = why_.find(what);
  if (it != why_.end()) return it->second;
  return what;  // a check's own line ("--seed wants ...")
}

std::string CommandLine::UnknownOption() const {
  const std::vector<std::string> left = app_.remaining();
  std::string typed = left.empty() ? std::string() : left.front();
  std::string msg = "unknown option '" + typed + "'" + unknown_in_;
  typed = typed.substr(0, typed.find('='));
  if (typed.compare(0, 2, "--") != 0) return msg;
  std::vector<std::string> known;
  for (const CLI::Option* opt : app_.get_options())
    for (const std::string& n : opt->get_lnames()) known.push_back("--" + n);
  const std::string near = NearestOption(typed, known);
  return near.empty() ? msg : msg + "; did you mean " + near + "?";
}

std::optional<int> CommandLine::CheckRun(RunKind kind) const {
  for (const CLI::Option* opt : app_.parse_order()) {
    const auto it = runs_.find(opt);
    if (it != runs_.end() && !(it->second & kind))
      return UsageError(opt->get_name() + " goes with " + RunsText(it->second));
  }
  return std::nullopt;
}
