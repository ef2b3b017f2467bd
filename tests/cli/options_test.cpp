#include "cli/options.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    EXPECT_EQ(o.format.no_copy, c.no_copy);
    EXPECT_EQ(name(o.input_name), c.input);
    EXPECT_EQ(name(o.output_name), c.output);
    EXPECT_EQ(name(o.log_name), c.log);
  }
}

TEST(Options, ParsesNumberSwitches) {
  struct Case {
    std::vector<std::string> args;
    std::string error;  // empty: parsed, with these values
    uint32_t field, jobs;
    bool header, no_copy;
    std::string input;
    char delimiter = '\t';
  };
  const std::string from1 = "Error: -t takes a number from 1, not ";
  const std::string from0 = "Error: -j takes a number from 0, not ";
  const std::string dbyte = "Error: -d takes one byte other than '\"', CR and LF, not ";
  const Case cases[] = {
      {{"-t", "2", "in"}, "", 2, 1, false, false, "in"},
      {{"-t2", "in"}, "", 2, 1, false, false, "in"},
      {{"-H", "-n", "-t", "3", "in"}, "", 3, 1, true, true, "in"},
      {{"-t3", "-n", "-H", "in"}, "", 3, 1, true, true, "in"},
      {{"-t", "1", "-t", "4", "in"}, "", 4, 1, false, false, "in"},
      {{"-t2147483647", "in"}, "", 2147483647, 1, false, false, "in"},
      {{"-t", "007", "in"}, "", 7, 1, false, false, "in"},
      {{"-t", "2", "--", "-t"}, "", 2, 1, false, false, "-t"},
      {{"-t"}, "Error: -t needs a number\n", 0, 1, false, false, "(none)"},
      {{"-t0", "in"}, from1 + "'0'\n", 0, 1, false, false, "(none)"},
      {{"-t-1", "in"}, from1 + "'-1'\n", 0, 1, false, false, "(none)"},
      {{"-t", "-1", "in"}, from1 + "'-1'\n", 0, 1, false, false, "(none)"},
      {{"-tx", "in"}, from1 + "'x'\n", 0, 1, false, false, "(none)"},
      {{"-t", "2x", "in"}, from1 + "'2x'\n", 0, 1, false, false, "(none)"},
      {{"-t", "", "in"}, from1 + "''\n", 0, 1, false, false, "(none)"},
      {{"-t", "in.txt", "out"}, from1 + "'in.txt'\n", 0, 1, false, false, "(none)"},
      {{"-t2147483648", "in"},
       "Error: -t number '2147483648' is too big\n",
       0,
       1,
       false,
       false,
       "(none)"},
      {{"-t", "99999999999999999999999", "in"},
       "Error: -t number '99999999999999999999999' is too big\n",
       0,
       1,
       false,
       false,
       "(none)"},
      // 2^64 + 2: a parser that wraps around would take it for 2.
      {{"-t", "18446744073709551618", "in"},
       "Error: -t number '18446744073709551618' is too big\n",
       0,
       1,
       false,
       false,
       "(none)"},
      {{"-H", "in"}, "Error: -H needs -t\n", 0, 1, true, false, "(none)"},
      {{"-Hx", "-t1", "in"}, "Error: unknown key 'H'\n", 0, 1, false, false, "(none)"},
      {{"-j", "2", "in"}, "", 0, 2, false, false, "in"},
      {{"-j8", "-t2", "in"}, "", 2, 8, false, false, "in"},
      {{"-j0", "in"}, "", 0, 0, false, false, "in"},
      {{"-j", "4096", "in"}, "", 0, 4096, false, false, "in"},
      {{"-j"}, "Error: -j needs a number\n", 0, 1, false, false, "(none)"},
      {{"-jx", "in"}, from0 + "'x'\n", 0, 1, false, false, "(none)"},
      {{"-j-2", "in"}, from0 + "'-2'\n", 0, 1, false, false, "(none)"},
      {{"-j", "3x", "in"}, from0 + "'3x'\n", 0, 1, false, false, "(none)"},
      {{"-j", "+3", "in"}, from0 + "'+3'\n", 0, 1, false, false, "(none)"},
      {{"-j", " 3", "in"}, from0 + "' 3'\n", 0, 1, false, false, "(none)"},
      {{"-j", "4097", "in"}, "Error: -j number '4097' is too big\n", 0, 1, false, false, "(none)"},
      // -c and -k, in any order, and what they do not go with.
      {{"-c", "-t", "2", "-k", "4", "in"}, "", 2, 1, false, false, "in"},
      {{"-k4", "-t2", "-c", "in"}, "", 2, 1, false, false, "in"},
      {{"-c", "-n", "in"}, "Error: -n does not go with -c\n", 0, 1, false, true, "(none)"},
      {{"-n", "-c", "in"}, "Error: -n does not go with -c\n", 0, 1, false, true, "(none)"},
      {{"-t2", "-k3", "in"}, "Error: -k needs -c\n", 0, 1, false, false, "(none)"},
      {{"-c", "-k3", "in"}, "Error: -k needs -t\n", 0, 1, false, false, "(none)"},
      {{"-c", "-t3", "-k3", "in"},
       "Error: -k and -t name the same field\n",
       0,
       1,
       false,
       false,
       "(none)"},
      {{"-c", "-t3", "-k0", "in"},
       "Error: -k takes a number from 1, not '0'\n",
       0,
       1,
       false,
       false,
       "(none)"},
      {{"-c", "-t3", "-k"}, "Error: -k needs a number\n", 0, 1, false, false, "(none)"},
      {{"-cx", "in"}, "Error: unknown key 'c'\n", 0, 1, false, false, "(none)"},
      // -d: one byte that can split fields, and only for tables.
      {{"-d", ",", "-t", "2", "in"}, "", 2, 1, false, false, "in", ','},
      {{"-t2", "-d;", "in"}, "", 2, 1, false, false, "in", ';'},
      {{"-d", "\t", "-t2", "in"}, "", 2, 1, false, false, "in", '\t'},
      {{"-d", ",", "in"}, "Error: -d needs -t\n", 0, 1, false, false, "(none)"},
      {{"-t2", "-d"}, "Error: -d needs a delimiter\n", 0, 1, false, false, "(none)"},
      {{"-t2", "-d", "\"", "in"}, dbyte + "'\"'\n", 0, 1, false, false, "(none)"},
      {{"-t2", "-d", "\r", "in"}, dbyte + "'\r'\n", 0, 1, false, false, "(none)"},
      {{"-t2", "-d", "\n", "in"}, dbyte + "'\n'\n", 0, 1, false, false, "(none)"},
      {{"-t2", "-d", "", "in"}, dbyte + "''\n", 0, 1, false, false, "(none)"},
      {{"-t2", "-d", ";;", "in"}, dbyte + "';;'\n", 0, 1, false, false, "(none)"},
      {{"-j", "4294967297", "in"},
       "Error: -j number '4294967297' is too big\n",
       0,
       1,
       false,
       false,
       "(none)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Options o = parse(c.args);
    EXPECT_EQ(o.action, c.error.empty() ? Action::kRun : Action::kBadSwitch);
    EXPECT_EQ(o.error, c.error);
    if (c.error.empty()) {
      EXPECT_EQ(o.format.check, std::find(c.args.begin(), c.args.end(), "-c") != c.args.end());
      EXPECT_EQ(o.format.key_field, o.format.check ? 4u : 0u);
      EXPECT_EQ(o.format.field, c.field);
      EXPECT_EQ(o.format.delimiter, c.delimiter);
      EXPECT_EQ(o.jobs, c.jobs);
      EXPECT_EQ(o.format.header, c.header);
      EXPECT_EQ(o.format.no_copy, c.no_copy);
      EXPECT_EQ(name(o.input_name), c.input);
    }
  }
}

}  // namespace

namespace {

TEST(Options, ParsesKeyRulesAndColumnNames) {
  struct Case {
    std::vector<std::string> args;
    std::string error;  // empty: parsed, with these values
    bool standard = false;
    Validation validate = Validation::kNone;
    bool difference = false;
    std::string field_name = "(none)", key_field_name = "(none)";
  };
  const Case cases[] = {
      {{"-s", "in"}, "", true},
      {{"--standard", "in"}, "", true},
      {{"--validate", "in"}, "", false, Validation::kSyntax},
      {{"--validate=syntax", "in"}, "", false, Validation::kSyntax},
      {{"--validate=structure", "-s", "in"}, "", true, Validation::kStructure},
      {{"--validate=", "in"}, "Error: --validate takes syntax or structure, not ''\n"},
      {{"--validate=Structure", "in"},
       "Error: --validate takes syntax or structure, not 'Structure'\n"},
      {{"--validated", "in"}, "Error: unknown key '-'\n"},
      {{"-c", "--difference", "in"}, "", false, Validation::kNone, true},
      {{"--difference", "in"}, "Error: --difference needs -c\n"},
      {{"-sx", "in"}, "Error: unknown key 's'\n"},
      // Columns by their header's names, as ChEMBL's chemreps file has them.
      {{"-c", "-H", "-t", "standard_inchi", "-k", "standard_inchi_key", "in"},
       "",
       false,
       Validation::kNone,
       false,
       "standard_inchi",
       "standard_inchi_key"},
      {{"-tinchi", "-H", "in"}, "", false, Validation::kNone, false, "inchi"},
      {{"-c", "-H", "-t", "2", "-k", "key", "in"},
       "",
       false,
       Validation::kNone,
       false,
       "(none)",
       "key"},
      // A number is a number; without -H a name is none.
      {{"-t", "inchi", "in"}, "Error: -t takes a number from 1, not 'inchi'\n"},
      {{"-c", "-t", "2", "-k", "key", "in"}, "Error: -k takes a number from 1, not 'key'\n"},
      {{"-H", "-t", "-x", "in"}, "Error: -t takes a number from 1, not '-x'\n"},
      {{"-H", "-t", "2nd", "in"}, "Error: -t takes a number from 1, not '2nd'\n"},
      {{"-H", "-t", "2", "-k", "key", "in"}, "Error: -k needs -c\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Options o = parse(c.args);
    EXPECT_EQ(o.error, c.error);
    EXPECT_EQ(o.action, c.error.empty() ? Action::kRun : Action::kBadSwitch);
    if (!c.error.empty()) continue;
    EXPECT_EQ(o.format.rules.standard, c.standard);
    EXPECT_EQ(o.format.rules.validate, c.validate);
    EXPECT_EQ(o.format.difference, c.difference);
    EXPECT_EQ(name(o.field_name), c.field_name);
    EXPECT_EQ(name(o.key_field_name), c.key_field_name);
  }
}

}  // namespace
