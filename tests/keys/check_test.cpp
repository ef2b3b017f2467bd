#include "keys/check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "keys/line_step.h"

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

TEST(CheckLine, EveryVerdictInLinesAndTables) {
  for (const CheckCase& c : kCheckCases) {
    SCOPED_TRACE(testing::PrintToString(c.lines) + " field " + std::to_string(c.field) + " key " +
                 std::to_string(c.key_field) + (c.header ? " header" : ""));
    char* out_text = nullptr;
    char* log_text = nullptr;
    size_t out_size = 0, log_size = 0;
    FILE* out = open_memstream(&out_text, &out_size);
    Annotator a;
    a.format.field = c.field;
    a.format.header = c.header;
    a.format.check = true;
    a.format.key_field = c.key_field;
    a.format.delimiter = c.delimiter;
    a.compute = fake_key;
    a.log = open_memstream(&log_text, &log_size);
    LineStep step = line_step(a.format);
    int64_t number = 0;
    for (const std::string& line : c.lines) {
      std::string copy = line;
      ASSERT_TRUE(step(a, copy.data(), static_cast<uint32_t>(copy.size()), ++number, out));
      EXPECT_EQ(copy, line);
    }
    end_lines(a, number, true, out);
    fclose(out);
    fclose(a.log);
    EXPECT_EQ(std::string(out_text, out_size), kReportHeader + c.report);
    EXPECT_EQ(std::string(log_text, log_size), c.log);
    EXPECT_EQ(a.counts.agree, c.agree);
    EXPECT_EQ(a.counts.differ, c.differ);
    EXPECT_EQ(a.counts.missing, c.missing);
    EXPECT_EQ(a.counts.failed, c.failed);
    std::free(out_text);
    std::free(log_text);
  }
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
