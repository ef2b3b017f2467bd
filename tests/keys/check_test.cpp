#include "keys/check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "keys/line_step.h"
#include "keys/structure.h"
#include "reference_set.h"

namespace {

using namespace std::string_literals;

// Stands in for the library: "InC<n>..." answers status n, and a fixed key
// for status 0, so that statuses the real library never returns are reachable.
int fake_key(const char* inchi, char* key) {
  int status = std::atoi(inchi + 3);
  if (status == 0) std::snprintf(key, kKeyBufferBytes, "FAKE-KEY");
  return status;
}

// Check mode: the lines of a file, one after another, then their end.
struct CheckCase {
  std::vector<std::string> lines;
  uint32_t field, key_field;
  bool header;
  std::string report, log;  // report: after the header line
  int agree, differ, missing, failed;
  char delimiter = '\t';
};

const std::string kReportHeader = "line\tverdict\tstored_key\tcomputed_key\tinchi\n";
const std::string kWarn1 =
    "Warning: could not compute InChIKey for the line #1 (unresolved program error)\n";

const CheckCase kCheckCases[] = {
    {{}, 0, 0, false, "", "", 0, 0, 0, 0},  // an empty input's report is its header
    // Line files: the stored key is on the line after the candidate.
    {{"InC0", "InChIKey=FAKE-KEY"}, 0, 0, false, "", "", 1, 0, 0, 0},
    {{"InC0", "InChIKey=OTHER"},
     0,
     0,
     false,
     "1\tdiffers\tOTHER\tFAKE-KEY\tInC0\n",
     "",
     0,
     1,
     0,
     0},
    {{"InC0"}, 0, 0, false, "1\tmissing\t\tFAKE-KEY\tInC0\n", "", 0, 0, 1, 0},
    {{"InC0", "x", "InChIKey=FAKE-KEY"},
     0,
     0,
     false,
     "1\tmissing\t\tFAKE-KEY\tInC0\n",
     "",
     0,
     0,
     1,
     0},
    {{"InC0", "InC0", "InChIKey=FAKE-KEY"},
     0,
     0,
     false,
     "1\tmissing\t\tFAKE-KEY\tInC0\n",
     "",
     1,
     0,
     1,
     0},
    {{"InC1", "InChIKey=FAKE-KEY"},
     0,
     0,
     false,
     "1\tfailed\tFAKE-KEY\t\tInC1\n",
     kWarn1,
     0,
     0,
     0,
     1},
    {{"InC2"}, 0, 0, false, "1\tfailed\t\t\tInC2\n", "", 0, 0, 0, 1},
    // A key line is never a candidate, and one that follows no candidate
    // (or a key line) is nobody's.
    {{"InChIKey=FAKE-KEY"}, 0, 0, false, "", "", 0, 0, 0, 0},
    {{"InC0", "InChIKey=FAKE-KEY", "InChIKey=OTHER"}, 0, 0, false, "", "", 1, 0, 0, 0},
    // A stored key is compared byte for byte and shown as found.
    {{"InC0", "InChIKey="}, 0, 0, false, "1\tmissing\t\tFAKE-KEY\tInC0\n", "", 0, 0, 1, 0},
    {{"InC0", "InChIKey=fake-key"},
     0,
     0,
     false,
     "1\tdiffers\tfake-key\tFAKE-KEY\tInC0\n",
     "",
     0,
     1,
     0,
     0},
    {{"InC0", "InChIKey=FAKE-KEY "},
     0,
     0,
     false,
     "1\tdiffers\tFAKE-KEY \tFAKE-KEY\tInC0\n",
     "",
     0,
     1,
     0,
     0},
    // TAB, LF, CR, NUL and the backslash are escaped: five fields a line.
    {{"InC0\tcomment", "InChIKey=FAKE-KEY\tsrc\\"},
     0,
     0,
     false,
     "1\tdiffers\tFAKE-KEY\\tsrc\\\\\tFAKE-KEY\tInC0\\tcomment\n",
     "",
     0,
     1,
     0,
     0},
    {{"1,\"InC0\r\nx\",OTHER"},
     2,
     0,
     false,
     "1\tdiffers\tOTHER\tFAKE-KEY\tInC0\\r\\nx\n",
     "",
     0,
     1,
     0,
     0,
     ','},
    {{"InC0", "InChIKey=FAKE-KEY\0"s},
     0,
     0,
     false,
     "1\tdiffers\tFAKE-KEY\\0\tFAKE-KEY\tInC0\n",
     "",
     0,
     1,
     0,
     0},
    {{"\xef\xbb\xbfInC0", "InChIKey=FAKE-KEY"}, 0, 0, false, "", "", 1, 0, 0, 0},
    {{"inC0", "InChIKey=FAKE-KEY"}, 0, 0, false, "", "", 0, 0, 0, 0},
    {{"InC0\0x"s, "InChIKey=OTHER"},
     0,
     0,
     false,
     "1\tdiffers\tOTHER\tFAKE-KEY\tInC0\n",
     "",
     0,
     1,
     0,
     0},
    // Tables: the stored key is field N+1, or the field -k names.
    {{"1\tInC0\tFAKE-KEY"}, 2, 0, false, "", "", 1, 0, 0, 0},
    {{"1\tInC0\tInChIKey=FAKE-KEY\tx"}, 2, 0, false, "", "", 1, 0, 0, 0},
    {{"1\tInC0\tOTHER"}, 2, 0, false, "1\tdiffers\tOTHER\tFAKE-KEY\tInC0\n", "", 0, 1, 0, 0},
    {{"1\tInC0\t"}, 2, 0, false, "1\tmissing\t\tFAKE-KEY\tInC0\n", "", 0, 0, 1, 0},
    {{"1\tInC0"}, 2, 0, false, "1\tmissing\t\tFAKE-KEY\tInC0\n", "", 0, 0, 1, 0},
    {{"1\tInC0\tInChIKey="}, 2, 0, false, "1\tmissing\t\tFAKE-KEY\tInC0\n", "", 0, 0, 1, 0},
    {{"FAKE-KEY\tx\tInC0"}, 3, 1, false, "", "", 1, 0, 0, 0},
    {{"1\tInC0\tx\tOTHER"}, 2, 4, false, "1\tdiffers\tOTHER\tFAKE-KEY\tInC0\n", "", 0, 1, 0, 0},
    {{"cid\tInC0\tkey", "1\tInC0\tFAKE-KEY"}, 2, 0, true, "", "", 1, 0, 0, 0},
    {{"1\tInC1\tFAKE-KEY"}, 2, 0, false, "1\tfailed\tFAKE-KEY\t\tInC1\n", kWarn1, 0, 0, 0, 1},
    {{"1\tx\tFAKE-KEY", "2\t\tFAKE-KEY", "3"}, 2, 0, false, "", "", 0, 0, 0, 0},
    {{"1\tInC0\tFAKE-KEY", "InChIKey=OTHER"}, 2, 0, false, "", "", 1, 0, 0, 0},
};

// A check of lines in format f with key call compute: the report, the log
// and the counts.
struct Checked {
  std::string report, log;
  Counts counts;
};

Checked check(const std::vector<std::string>& lines, const LineFormat& f, KeyFunction compute) {
  Checked result;
  char* out_text = nullptr;
  char* log_text = nullptr;
  size_t out_size = 0, log_size = 0;
  FILE* out = open_memstream(&out_text, &out_size);
  Annotator a;
  a.format = f;
  a.format.check = true;
  a.compute = compute;
  a.log = open_memstream(&log_text, &log_size);
  LineStep step = line_step(a.format);
  int64_t number = 0;
  for (const std::string& line : lines) {
    std::string copy = line;
    EXPECT_TRUE(step(a, copy.data(), static_cast<uint32_t>(copy.size()), ++number, out));
    EXPECT_EQ(copy, line);
  }
  end_lines(a, number, true, out);
  fclose(out);
  fclose(a.log);
  result.report.assign(out_text, out_size);
  result.log.assign(log_text, log_size);
  result.counts = a.counts;
  std::free(out_text);
  std::free(log_text);
  return result;
}

TEST(CheckLine, EveryVerdictInLinesAndTables) {
  for (const CheckCase& c : kCheckCases) {
    SCOPED_TRACE(testing::PrintToString(c.lines) + " field " + std::to_string(c.field) + " key " +
                 std::to_string(c.key_field) + (c.header ? " header" : ""));
    LineFormat f;
    f.field = c.field;
    f.header = c.header;
    f.key_field = c.key_field;
    f.delimiter = c.delimiter;
    Checked got = check(c.lines, f, fake_key);
    EXPECT_EQ(got.report, kReportHeader + c.report);
    EXPECT_EQ(got.log, c.log);
    EXPECT_EQ(got.counts.agree, c.agree);
    EXPECT_EQ(got.counts.differ, c.differ);
    EXPECT_EQ(got.counts.missing, c.missing);
    EXPECT_EQ(got.counts.failed, c.failed);
  }
}

// Caffeine, its key (the library's, published), and stored keys that differ
// from it in each part.
const std::string kCaffeine = "InChI=1S/C8H10N4O2/c1-10-4-9-6-5(10)7(13)12(3)8(14)11(6)2/h4H,1-3H3";
const std::string kCaffeineKey = "RYYVLZVUVIJVGH-UHFFFAOYSA-N";
const std::string kOtherSkeleton = "RYYVLZVUVIJVGA-UHFFFAOYSA-N";
const std::string kOtherLayers = "RYYVLZVUVIJVGH-AHFFFAOYSA-N";
const std::string kNonStandardFlag = "RYYVLZVUVIJVGH-UHFFFAOYNA-N";
const std::string kOtherProtonation = "RYYVLZVUVIJVGH-UHFFFAOYSA-O";
const std::string kNonCanonical = "InChI=1S/C6H6/c1-2-3-4-5-6-1/h1-6H";

const std::string kDifferenceHeader =
    "line\tverdict\tdifference\tstored_key\tcomputed_key\tinchi\n";

// Check mode with the difference column, under rules, with the library.
struct DifferenceCase {
  std::vector<std::string> lines;
  uint32_t field;  // 0: line files
  KeyRules rules;
  std::string report, log;  // report: after the header line
  KeyFunction compute = library_key;
  char delimiter = '\t';
};

const KeyRules kNoRule;
const KeyRules kSyntax{false, Validation::kSyntax};
const KeyRules kStructure{false, Validation::kStructure};
const KeyRules kStandard{true, Validation::kNone};

const DifferenceCase kDifferenceCases[] = {
    {{}, 0, kNoRule, "", ""},
    {{kCaffeine, "InChIKey=" + kCaffeineKey}, 0, kNoRule, "", ""},
    {{kCaffeine, "InChIKey=" + kOtherSkeleton},
     0,
     kNoRule,
     "1\tdiffers\tskeleton\t" + kOtherSkeleton + "\t" + kCaffeineKey + "\t" + kCaffeine + "\n",
     ""},
    {{"1\t" + kCaffeine + "\t" + kOtherLayers},
     2,
     kNoRule,
     "1\tdiffers\tlayers\t" + kOtherLayers + "\t" + kCaffeineKey + "\t" + kCaffeine + "\n",
     ""},
    {{kCaffeine, "InChIKey=" + kNonStandardFlag},
     0,
     kStructure,
     "1\tdiffers\tstandard\t" + kNonStandardFlag + "\t" + kCaffeineKey + "\t" + kCaffeine + "\n",
     ""},
    {{"1\t" + kCaffeine + "\t" + kOtherProtonation},
     2,
     kStandard,
     "1\tdiffers\tprotonation\t" + kOtherProtonation + "\t" + kCaffeineKey + "\t" + kCaffeine +
         "\n",
     ""},
    {{kCaffeine, "InChIKey=RYYVLZVUVIJVGA-AHFFFAOYSA-O"},
     0,
     kSyntax,
     "1\tdiffers\tskeleton,layers,protonation\tRYYVLZVUVIJVGA-AHFFFAOYSA-O\t" + kCaffeineKey +
         "\t" + kCaffeine + "\n",
     ""},
    // A stored key that is no key at all; a CSV field's line end escaped.
    {{kCaffeine, "InChIKey=ryyvlzvuvijvgh-uhfffaoysa-n"},
     0,
     kNoRule,
     "1\tdiffers\tmalformed\tryyvlzvuvijvgh-uhfffaoysa-n\t" + kCaffeineKey + "\t" + kCaffeine +
         "\n",
     ""},
    {{"1,\"" + kCaffeine + "\",\"" + kCaffeineKey + "\r\n\""},
     2,
     kNoRule,
     "1\tdiffers\tmalformed\t" + kCaffeineKey + "\\r\\n\t" + kCaffeineKey + "\t" + kCaffeine + "\n",
     "",
     library_key,
     ','},
    {{kCaffeine}, 0, kStandard, "1\tmissing\t\t\t" + kCaffeineKey + "\t" + kCaffeine + "\n", ""},
    // Failed: refused by validation, or the key call's reason.
    {{"InChI=1S/H2O_h1H2", "InChIKey=" + kCaffeineKey},
     0,
     kSyntax,
     "1\tfailed\tinvalid\t" + kCaffeineKey + "\t\tInChI=1S/H2O_h1H2\n",
     "Warning: not a valid InChI (invalid layout) in the line #1\n"},
    {{"7\t" + kNonCanonical + "\t" + kCaffeineKey},
     2,
     kStructure,
     "1\tfailed\tinvalid\t" + kCaffeineKey + "\t\t" + kNonCanonical + "\n",
     "Warning: not a valid InChI (no structure: *Conversion failed on component(s) 1(C6H6)) in "
     "the line #1\n"},
    {{"InChI=1/CH4/h1H4/garbage"},
     0,
     kStandard,
     "1\tfailed\tno structure: status -1\t\t\tInChI=1/CH4/h1H4/garbage\n",
     "Warning: could not compute InChIKey for the line #1 (no structure: status -1)\n"},
    {{"InChI=1S/", "InChIKey=" + kCaffeineKey},
     0,
     kNoRule,
     "1\tfailed\tunresolved program error\t" + kCaffeineKey + "\t\tInChI=1S/\n",
     kWarn1},
    {{"InC5"},
     0,
     kNoRule,
     "1\tfailed\tdetected error in flag character\t\t\tInC5\n",
     "Warning: could not compute InChIKey for the line #1 (detected error in flag character)\n",
     fake_key},
    // Failures the log leaves out still say why in the report.
    {{"InChI=garbage"}, 0, kNoRule, "1\tfailed\tinvalid prefix\t\t\tInChI=garbage\n", ""},
    {{"InC2"}, 0, kNoRule, "1\tfailed\tempty input\t\t\tInC2\n", "", fake_key},
};

TEST(CheckLine, DifferenceColumn) {
  for (const DifferenceCase& c : kDifferenceCases) {
    SCOPED_TRACE(testing::PrintToString(c.lines) + " field " + std::to_string(c.field) +
                 (c.rules.standard ? " -s" : "") + " validate " +
                 std::to_string(static_cast<int>(c.rules.validate)));
    LineFormat f;
    f.field = c.field;
    f.delimiter = c.delimiter;
    f.rules = c.rules;
    f.difference = true;
    Checked got = check(c.lines, f, c.compute);
    EXPECT_EQ(got.report, kDifferenceHeader + c.report);
    EXPECT_EQ(got.log, c.log);
  }
}

// Without the difference column a report under rules is laid out as always.
TEST(CheckLine, NoDifferenceColumnUnlessAsked) {
  LineFormat f;
  f.rules = kSyntax;
  Checked got = check({"InChI=1S/H2O_h1H2", "InChIKey=" + kCaffeineKey, kCaffeine,
                       "InChIKey=" + kOtherSkeleton, kCaffeine},
                      f, library_key);
  EXPECT_EQ(got.report, kReportHeader + "1\tfailed\t" + kCaffeineKey +
                            "\t\tInChI=1S/H2O_h1H2\n"
                            "3\tdiffers\t" +
                            kOtherSkeleton + "\t" + kCaffeineKey + "\t" + kCaffeine +
                            "\n"
                            "5\tmissing\t\t" +
                            kCaffeineKey + "\t" + kCaffeine + "\n");
  EXPECT_EQ(got.log, "Warning: not a valid InChI (invalid layout) in the line #1\n");
  EXPECT_EQ(got.counts.failed, 1);
  EXPECT_EQ(got.counts.differ, 1);
  EXPECT_EQ(got.counts.missing, 1);
}

// Check under -s compares the stored keys with standard keys: a
// non-standard InChI of the reference set agrees with the standard key of
// its structure, and its own non-standard key differs from it in the
// standard flag (and the layers, where a fixed-H layer was).
TEST(CheckLine, StandardKeysOfTheReferenceSet) {
  std::map<std::string, std::string> keys = reference_keys();
  ASSERT_GT(keys.size(), 13000u);
  int taken = 0;
  std::vector<std::string> lines;
  std::string report;
  int64_t number = 0;
  for (const auto& [inchi, own_key] : keys) {
    if (inchi.compare(0, 8, "InChI=1/") != 0 || taken++ % 500 != 0) continue;
    const std::string& standard = keys.at(paired_standard(inchi));
    bool fixed_h = inchi.find("/f") != std::string::npos;
    lines.insert(lines.end(), {inchi, "InChIKey=" + standard, inchi, "InChIKey=" + own_key});
    number += 4;
    report += std::to_string(number - 1) + "\tdiffers\t" +
              (fixed_h ? "layers,standard\t" : "standard\t") + own_key + "\t" + standard + "\t" +
              inchi + "\n";
  }
  ASSERT_GT(number, 40);
  LineFormat f;
  f.rules = kStandard;
  f.difference = true;
  Checked got = check(lines, f, fake_key);
  EXPECT_EQ(got.report, kDifferenceHeader + report);
  EXPECT_EQ(got.log, "");
  EXPECT_EQ(got.counts.agree, number / 4);
  EXPECT_EQ(got.counts.differ, number / 4);
  EXPECT_EQ(got.counts.derived, number / 2);
}

// A stored key as check mode compares it: stripped of its prefix, then judged
// byte for byte against the computed key "FAKE-KEY".
TEST(Judge, EveryVerdictOfAStoredKey) {
  const size_t all = std::string::npos;
  const struct {
    bool keyed;
    std::string stored;
    size_t bytes;  // of stored that hold the key; all: every one
    Verdict verdict;
  } cases[] = {
      {true, "FAKE-KEY", all, Verdict::kAgree},
      {true, "InChIKey=FAKE-KEY", all, Verdict::kAgree},
      {true, "FAKE-KEY and more", 8, Verdict::kAgree},  // n bytes, not up to a NUL
      {true, "", all, Verdict::kMissing},
      {true, "InChIKey=", all, Verdict::kMissing},
      {true, "FAKE-KEZ", all, Verdict::kDiffers},
      {true, "fake-key", all, Verdict::kDiffers},
      {true, "FAKE-KEYS", all, Verdict::kDiffers},  // one byte longer
      {true, "FAKE-KE", all, Verdict::kDiffers},    // one byte shorter
      {true, "FAKE-KEY\0"s, all, Verdict::kDiffers},
      {true, " FAKE-KEY", all, Verdict::kDiffers},
      {true, "InChIKey=InChIKey=FAKE-KEY", all, Verdict::kDiffers},  // one prefix only
      {true, "InChIKey:FAKE-KEY", all, Verdict::kDiffers},
      {false, "FAKE-KEY", all, Verdict::kFailed},  // whatever the key buffer still holds
      {false, "", all, Verdict::kFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.stored) + (c.keyed ? " keyed" : " not keyed"));
    const char* stored = c.stored.data();
    size_t n = c.bytes == all ? c.stored.size() : c.bytes;
    strip_key_prefix(stored, n);
    EXPECT_STREQ(verdict_word(judge(c.keyed, "FAKE-KEY", stored, n)), verdict_word(c.verdict));
  }
}

TEST(StripKeyPrefix, StripsOnePrefixWithinTheBytesGiven) {
  const size_t all = std::string::npos;
  const struct {
    std::string text;
    size_t bytes;  // of text given; all: every one
    bool stripped;
    std::string rest;  // what is left: the bytes given when not stripped
  } cases[] = {
      {"InChIKey=FAKE-KEY", all, true, "FAKE-KEY"},
      {"InChIKey=", all, true, ""},
      {"InChIKey=InChIKey=X", all, true, "InChIKey=X"},
      {"InChIKey=X\tY", all, true, "X\tY"},
      {"InChIKey=X", 9, true, ""},
      {"InChIKey=X", 8, false, "InChIKey"},  // the bytes end inside the prefix
      {"InChIKey", all, false, "InChIKey"},
      {"inchikey=X", all, false, "inchikey=X"},
      {"InChIKey:X", all, false, "InChIKey:X"},
      {" InChIKey=X", all, false, " InChIKey=X"},
      {"InChI=1S/H2O/h1H2", all, false, "InChI=1S/H2O/h1H2"},
      {"", all, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text) + " of " + std::to_string(c.bytes));
    const char* text = c.text.data();
    size_t n = c.bytes == all ? c.text.size() : c.bytes;
    EXPECT_EQ(strip_key_prefix(text, n), c.stripped);
    EXPECT_EQ(std::string(text, n), c.rest);
    EXPECT_EQ(text + n, c.text.data() + (c.bytes == all ? c.text.size() : c.bytes));
  }
}

// The report line of a waiting candidate judged against its stored key: its
// fields escaped so that each line holds five, whatever they hold.
TEST(Report, EscapesTabLineEndsNulAndBackslash) {
  const struct {
    std::string inchi, stored;
    std::string line;  // "" for a verdict that is not reported
  } cases[] = {
      {"InC0", "FAKE-KEY", ""},
      {"InC0", "OTHER", "12\tdiffers\tOTHER\tFAKE-KEY\tInC0\n"},
      {"InC0", "", "12\tmissing\t\tFAKE-KEY\tInC0\n"},
      {"In\tC", "\tX", "12\tdiffers\t\\tX\tFAKE-KEY\tIn\\tC\n"},
      {"In\nC\r", "X\r\n", "12\tdiffers\tX\\r\\n\tFAKE-KEY\tIn\\nC\\r\n"},
      {"In\0C"s, "\0\0"s, "12\tdiffers\t\\0\\0\tFAKE-KEY\tIn\\0C\n"},
      {"In\\C\\", "\\n", "12\tdiffers\t\\\\n\tFAKE-KEY\tIn\\\\C\\\\\n"},
      {"\t\n\r\0\\"s, "a\\\tb", "12\tdiffers\ta\\\\\\tb\tFAKE-KEY\t\\t\\n\\r\\0\\\\\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.inchi) + " " + testing::PrintToString(c.stored));
    char* out_text = nullptr;
    size_t out_size = 0;
    FILE* out = open_memstream(&out_text, &out_size);
    Annotator a;
    a.pending = PendingCandidate{true, 12, true, "FAKE-KEY", c.inchi, ""};
    settle_pending(a, c.stored.data(), c.stored.size(), out);
    fclose(out);
    EXPECT_EQ(std::string(out_text, out_size), c.line);
    EXPECT_FALSE(a.pending.held);
    EXPECT_EQ(a.counts.agree + a.counts.differ + a.counts.missing, 1);
    std::free(out_text);
  }
}

// A candidate still waiting at the end of the input is missing its key when
// the input was read to its end, and gets no verdict when a read error may
// have taken its key line.
TEST(EndCheck, AWaitingCandidateIsJudgedOnlyAfterACompleteInput) {
  for (bool complete : {true, false}) {
    SCOPED_TRACE(complete);
    char* out_text = nullptr;
    size_t out_size = 0;
    FILE* out = open_memstream(&out_text, &out_size);
    Annotator a;
    a.pending = PendingCandidate{true, 3, true, "FAKE-KEY", "InC0", ""};
    end_check(a, 3, complete, out);
    fclose(out);
    EXPECT_EQ(std::string(out_text, out_size), complete ? "3\tmissing\t\tFAKE-KEY\tInC0\n" : "");
    EXPECT_EQ(a.counts.missing, complete ? 1 : 0);
    std::free(out_text);
  }
}

}  // namespace
