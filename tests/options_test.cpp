#include "options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

Options parse(std::vector<std::string> args) {
  static std::vector<std::vector<std::string>> kept;  // outlives each case
  args.insert(args.begin(), "molstamp");
  kept.push_back(args);
  std::vector<char*> argv;
  for (std::string& a : kept.back()) argv.push_back(a.data());
  argv.push_back(nullptr);
  return parse_options(static_cast<int>(argv.size()) - 1, argv.data());
}

std::string name(const char* s) { return s == nullptr ? "(none)" : s; }

TEST(Options, ParsesSwitchesAndNames) {
  struct Case {
    std::vector<std::string> args;
    Action action;
    std::string error;
    bool no_copy;
    std::string input, output, log;
  };
  const Case cases[] = {
      {{}, Action::kUsage, "", false, "(none)", "(none)", "(none)"},
      {{"in"}, Action::kRun, "", false, "in", "(none)", "(none)"},
      {{"in", "out", "log", "more"}, Action::kRun, "", false, "in", "out", "log"},
      {{"-n", "-nq", "in", "-out"}, Action::kRun, "", true, "in", "-out", "(none)"},
      {{"-n"}, Action::kRun, "", true, "(none)", "(none)", "(none)"},
      {{"-", "-", "-"}, Action::kRun, "", false, "-", "-", "-"},
      {{"-n", "-", "out"}, Action::kRun, "", true, "-", "out", "(none)"},
      {{"--", "-n", "out"}, Action::kRun, "", false, "-n", "out", "(none)"},
      {{"-n", "--", "--", "-"}, Action::kRun, "", true, "--", "-", "(none)"},
      {{"--"}, Action::kRun, "", false, "(none)", "(none)", "(none)"},
      {{"", "out"}, Action::kRun, "", false, "", "out", "(none)"},
      {{"-h"}, Action::kUsage, "", false, "(none)", "(none)", "(none)"},
      {{"-n", "--help", "in"}, Action::kUsage, "", true, "(none)", "(none)", "(none)"},
      {{"--version", "-x"}, Action::kVersion, "", false, "(none)", "(none)", "(none)"},
      {{"in", "--help"}, Action::kRun, "", false, "in", "--help", "(none)"},
      {{"-x", "in"},
       Action::kBadSwitch,
       "Error: unknown key 'x'\n",
       false,
       "(none)",
       "(none)",
       "(none)"},
      {{"--n", "in"},
       Action::kBadSwitch,
       "Error: unknown key '-'\n",
       false,
       "(none)",
       "(none)",
       "(none)"},
      {{"-N"}, Action::kBadSwitch, "Error: unknown key 'N'\n", false, "(none)", "(none)", "(none)"},
      {{"-hx"},
       Action::kBadSwitch,
       "Error: unknown key 'h'\n",
       false,
       "(none)",
       "(none)",
       "(none)"},
      {{"--versions"},
       Action::kBadSwitch,
       "Error: unknown key '-'\n",
       false,
       "(none)",
       "(none)",
       "(none)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Options o = parse(c.args);
    EXPECT_EQ(o.action, c.action);
    EXPECT_EQ(o.error, c.error);
    EXPECT_EQ(o.no_copy, c.no_copy);
    EXPECT_EQ(name(o.input_name), c.input);
    EXPECT_EQ(name(o.output_name), c.output);
    EXPECT_EQ(name(o.log_name), c.log);
  }
}

}  // namespace
