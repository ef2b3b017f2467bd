#include "keys/annotate.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "keys/line_step.h"
#include "keys/structure_service.h"
#include "reference_set.h"

namespace {

// Stands in for the library: "InC<n>..." answers status n, and a fixed key
// for status 0, so that statuses the real library never returns are reachable.
int fake_key(const char* inchi, char* key) {
  int status = std::atoi(inchi + 3);
  if (status == 0) std::snprintf(key, 256, "FAKE-KEY");
  return status;
}

// What annotate_line wrote and counted for one line.
struct Annotated {
  std::string out, log;
  int64_t added = 10, failed = 20;  // not zero: the counters must only grow
  int64_t derived = 30;             // likewise
  std::string line;                 // the line afterwards
};

// Runs annotate_line on a copy of line, with memory streams for the output
// and the log.
Annotated annotate(const std::string& line, int64_t number, LineFormat format,
                   KeyFunction compute) {
  Annotated result;
  result.line = line;  // writable, with its NUL
  char* out_text = nullptr;
  char* log_text = nullptr;
  size_t out_size = 0, log_size = 0;
  FILE* out = open_memstream(&out_text, &out_size);
  Annotator a;
  a.format = format;
  a.compute = compute;
  a.log = open_memstream(&log_text, &log_size);
  a.counts.added = result.added;
  a.counts.failed = result.failed;
  a.counts.derived = result.derived;
  EXPECT_TRUE(
      annotate_line(a, result.line.data(), static_cast<uint32_t>(result.line.size()), number, out));
  fclose(out);
  fclose(a.log);
  result.out.assign(out_text, out_size);
  result.log.assign(log_text, log_size);
  result.added = a.counts.added;
  result.failed = a.counts.failed;
  result.derived = a.counts.derived;
  std::free(out_text);
  std::free(log_text);
  return result;
}

// The key line alone that a whole line gets.
Annotated annotate(const char* line, int64_t line_number, KeyFunction compute) {
  LineFormat keys_only;
  keys_only.no_copy = true;
  return annotate(line, line_number, keys_only, compute);
}

struct StatusCase {
  const char* line;
  const char* out;
  const char* log;
  int added, failed;  // growth of each counter
};

const StatusCase kStatusCases[] = {
    {"InC0", "InChIKey=FAKE-KEY\n", "", 1, 0},
    {"InC1", "", "Warning: could not compute InChIKey for the line #7 (unresolved program error)\n",
     0, 1},
    {"InC2", "", "", 0, 1},
    {"InC3", "", "", 0, 1},
    {"InC4", "",
     "Warning: could not compute InChIKey for the line #7 (not enough memory to treat the "
     "string)\n",
     0, 1},
    {"InC5", "",
     "Warning: could not compute InChIKey for the line #7 (detected error in flag character)\n", 0,
     1},
    {"InC20", "",
     "Warning: could not compute InChIKey for the line #7 (unresolved program error)\n", 0, 1},
    {"InC21", "",
     "Warning: could not compute InChIKey for the line #7 (unresolved program error)\n", 0, 1},
    {"InC-1", "",
     "Warning: could not compute InChIKey for the line #7 (unresolved program error)\n", 0, 1},
    // Not candidates: the library is never asked.
    {"inC0", "", "", 0, 0},
    {" InC0", "", "", 0, 0},
    {"In", "", "", 0, 0},
    {"I", "", "", 0, 0},
    {"", "", "", 0, 0},
};

template <size_t N>
void expect_annotated(const StatusCase (&cases)[N], int64_t line_number, KeyFunction compute) {
  for (const StatusCase& c : cases) {
    SCOPED_TRACE(c.line);
    Annotated a = annotate(c.line, line_number, compute);
    EXPECT_EQ(a.out, c.out);
    EXPECT_EQ(a.log, c.log);
    EXPECT_EQ(a.added, 10 + c.added);
    EXPECT_EQ(a.failed, 20 + c.failed);
  }
}

TEST(AnnotateLine, EachStatusGivesItsOutputLogAndCount) {
  expect_annotated(kStatusCases, 7, fake_key);
}

TEST(AnnotateLine, WarningNamesLineNumbersBeyond32Bits) {
  Annotated a = annotate("InC1", 4294967301LL, fake_key);
  EXPECT_EQ(a.log,
            "Warning: could not compute InChIKey for the line #4294967301 "
            "(unresolved program error)\n");
}

// Published InChIKeys of real compounds, computed here by libinchi.
struct RealCase {
  const char* compound;
  const char* inchi;
  const char* key;
};

const RealCase kRealCases[] = {
    {"benzene", "InChI=1S/C6H6/c1-2-4-6-5-3-1/h1-6H", "UHOVQNZJYSORNB-UHFFFAOYSA-N"},
    {"ethanol", "InChI=1S/C2H6O/c1-2-3/h3H,2H2,1H3", "LFQSCWFLJHTTHZ-UHFFFAOYSA-N"},
    {"water", "InChI=1S/H2O/h1H2", "XLYOFNOQVPJJNP-UHFFFAOYSA-N"},
    {"caffeine", "InChI=1S/C8H10N4O2/c1-10-4-9-6-5(10)7(13)12(3)8(14)11(6)2/h4H,1-3H3",
     "RYYVLZVUVIJVGH-UHFFFAOYSA-N"},
    {"aspirin", "InChI=1S/C9H8O4/c1-6(10)13-8-5-3-2-4-7(8)9(11)12/h2-5H,1H3,(H,11,12)",
     "BSYNRYMUTXBXSQ-UHFFFAOYSA-N"},
    {"D-glucose", "InChI=1S/C6H12O6/c7-1-2-3(8)4(9)5(10)6(11)12-2/h2-11H,1H2/t2-,3-,4+,5-,6?/m1/s1",
     "WQZGKKKJIJFFOK-GASJEMHNSA-N"},
    {"morphine",
     "InChI=1S/C17H19NO3/c1-18-7-6-17-10-3-5-13(20)16(17)21-15-12(19)4-2-9(14(15)17)8-11(10)18/"
     "h2-5,10-11,13,16,19-20H,6-8H2,1H3/t10-,11+,13-,16-,17-/m0/s1",
     "BQJCRHHNABKAKU-KBQPJGBKSA-N"},
    {"sodium hydroxide", "InChI=1S/Na.H2O/h;1H2/q+1;/p-1", "HEMHJVSKTPXQMS-UHFFFAOYSA-M"},
    {"methane, non-standard", "InChI=1/CH4/h1H4", "VNWKTOKETHGBQD-UHFFFAOYNA-N"},
};

const std::string kBenzeneText = kRealCases[0].inchi;

TEST(AnnotateLine, RealLibraryGivesPublishedKeys) {
  for (const RealCase& c : kRealCases) {
    SCOPED_TRACE(c.compound);
    Annotated a = annotate(c.inchi, 1, library_key);
    EXPECT_EQ(a.out, std::string("InChIKey=") + c.key + "\n");
    EXPECT_EQ(a.log, "");
    EXPECT_EQ(a.added, 11);
    EXPECT_EQ(a.failed, 20);
  }
}

TEST(AnnotateLine, RealLibraryFailuresAreCountedAndOnlySomeLogged) {
  const StatusCase cases[] = {
      {"InChI=1S/", "",
       "Warning: could not compute InChIKey for the line #3 (unresolved program error)\n", 0, 1},
      {"InC", "", "", 0, 1},
      {"InChI=garbage", "", "", 0, 1},
      {"InChIKey=UHOVQNZJYSORNB-UHFFFAOYSA-N", "", "", 0, 1},  // our own output read back
  };
  expect_annotated(cases, 3, library_key);
}

// What write_line makes of one line, with the fake library.
struct LineCase {
  std::string line;
  uint32_t field;  // 0: whole lines
  bool no_copy, header;
  std::string out, log;
  int added, failed;
  int64_t number = 7;  // the line's number
};

using namespace std::string_literals;

const std::string kWarn7 =
    "Warning: could not compute InChIKey for the line #7 (unresolved program error)\n";

const LineCase kLineCases[] = {
    // Whole lines: the line, then its key line.
    {"InC0", 0, false, false, "InC0\nInChIKey=FAKE-KEY\n", "", 1, 0},
    {"InC0", 0, true, false, "InChIKey=FAKE-KEY\n", "", 1, 0},
    {"x\0y"s, 0, false, false, "x\0y\n"s, "", 0, 0},
    {"InC1", 0, false, false, "InC1\n", kWarn7, 0, 1},
    // Tables: the row, a TAB and the key of field N; one line per row.
    {"1\tInC0\tx", 2, false, false, "1\tInC0\tx\tFAKE-KEY\n", "", 1, 0},
    {"1\tInC0", 2, false, false, "1\tInC0\tFAKE-KEY\n", "", 1, 0},
    {"InC0", 1, false, false, "InC0\tFAKE-KEY\n", "", 1, 0},
    {"InC0\tx", 1, false, false, "InC0\tx\tFAKE-KEY\n", "", 1, 0},
    {"x\tInC0", 1, false, false, "x\tInC0\t\n", "", 0, 0},
    {"InC0", 2, false, false, "InC0\t\n", "", 0, 0},  // no TAB: no field 2
    {"1\tInC0", 3, false, false, "1\tInC0\t\n", "", 0, 0},
    {"1\tInC0", 2147483647, false, false, "1\tInC0\t\n", "", 0, 0},
    {"1\t\t", 2, false, false, "1\t\t\t\n", "", 0, 0},
    {"1\t\tInC0", 3, false, false, "1\t\tInC0\tFAKE-KEY\n", "", 1, 0},
    {"", 1, false, false, "\t\n", "", 0, 0},
    {"1\tInC1\tx", 2, false, false, "1\tInC1\tx\t\n", kWarn7, 0, 1},
    {"1\tInC2\tx", 2, false, false, "1\tInC2\tx\t\n", "", 0, 1},
    {"1\tinC0\tx", 2, false, false, "1\tinC0\tx\t\n", "", 0, 0},
    {"1\t InC0", 2, false, false, "1\t InC0\t\n", "", 0, 0},
    // The library sees the field up to a NUL; the row is copied whole.
    {"1\tIn\0C0\tx"s, 2, false, false, "1\tIn\0C0\tx\t\n"s, "", 0, 0},
    {"1\tInC0\0zz\tx"s, 2, false, false, "1\tInC0\0zz\tx\tFAKE-KEY\n"s, "", 1, 0},
    // -n: the key column alone, still one line per row.
    {"1\tInC0\tx", 2, true, false, "FAKE-KEY\n", "", 1, 0},
    {"1\tx", 2, true, false, "\n", "", 0, 0},
    {"1", 2, true, false, "\n", "", 0, 0},
    {"1\tInC1", 2, true, false, "\n", kWarn7, 0, 1},
    // A header is never a candidate.
    {"cid\tInC0", 2, false, true, "cid\tInC0\tInChIKey\n", "", 0, 0},
    {"cid\tInC0", 2, true, true, "InChIKey\n", "", 0, 0},
    // A byte order mark at the start of the input is copied, not read.
    {"\xef\xbb\xbfInC0", 0, false, false, "\xef\xbb\xbfInC0\nInChIKey=FAKE-KEY\n", "", 1, 0, 1},
    {"\xef\xbb\xbfInC0", 0, false, false, "\xef\xbb\xbfInC0\n", "", 0, 0},
    {"\xef\xbbInC0", 0, false, false, "\xef\xbbInC0\n", "", 0, 0, 1},
    {"\xef\xbb\xbf", 0, true, false, "", "", 0, 0, 1},
    {"\xef\xbb\xbfInC0\tx", 1, false, false, "\xef\xbb\xbfInC0\tx\tFAKE-KEY\n", "", 1, 0, 1},
    {"\xef\xbb\xbfid\tInC0", 2, false, false, "\xef\xbb\xbfid\tInC0\tFAKE-KEY\n", "", 1, 0, 1},
    {"\xef\xbb\xbf"
     "cid\tInC0",
     2, false, true,
     "\xef\xbb\xbf"
     "cid\tInC0\tInChIKey\n",
     "", 0, 0, 1},
};

// What annotate_line makes of one line as the case says; a header is line 1.
Annotated write(const std::string& line, uint32_t field, bool no_copy, bool header,
                KeyFunction compute, int64_t number = 7) {
  LineFormat f;
  f.no_copy = no_copy;
  f.field = field;
  f.header = header;
  return annotate(line, header ? 1 : number, f, compute);
}

TEST(AnnotateLine, LinesAndTableRows) {
  for (const LineCase& c : kLineCases) {
    SCOPED_TRACE(testing::PrintToString(c.line) + " line " + std::to_string(c.number) + " field " +
                 std::to_string(c.field) + (c.no_copy ? " -n" : "") + (c.header ? " header" : ""));
    Annotated w = write(c.line, c.field, c.no_copy, c.header, fake_key, c.number);
    EXPECT_EQ(w.out, c.out);
    EXPECT_EQ(w.log, c.log);
    EXPECT_EQ(w.added, 10 + c.added);
    EXPECT_EQ(w.failed, 20 + c.failed);
    EXPECT_EQ(w.line, c.line);  // the field's end is put back
  }
}

TEST(AnnotateLine, RealLibraryKeysATableField) {
  // A NUL in an earlier field must not hide the keyed one.
  for (const std::string& id : {"241"s, "a\0b"s}) {
    std::string row = id + "\t" + kRealCases[0].inchi + "\tbenzene";
    Annotated w = write(row, 2, false, false, library_key);
    EXPECT_TRUE(w.out == row + "\t" + kRealCases[0].key + "\n") << testing::PrintToString(w.out);
    EXPECT_EQ(w.log, "");
    EXPECT_EQ(w.added, 11);
  }
}

// Whole lines keyed under rules, the key line alone.
Annotated annotate_under(const std::string& line, KeyRules rules) {
  LineFormat f;
  f.no_copy = true;
  f.rules = rules;
  // Under a rule the key is rule_key's: the fake key call is never asked.
  return annotate(line, 7, f, fake_key);
}

// The key line the plain library call gives text, or "" when it gives none.
std::string plain_key_line(const std::string& text) {
  char key[kKeyBufferBytes] = {};
  return library_key(text.c_str(), key) == 0 ? "InChIKey=" + std::string(key) + "\n" : "";
}

const char* const kCaffeine = "InChI=1S/C8H10N4O2/c1-10-4-9-6-5(10)7(13)12(3)8(14)11(6)2/h4H,1-3H3";

struct ValidationCase {
  const char* inchi;
  Validation validate;
  const char* refusal;  // the warning's reason; "": keyed as the plain call keys it
};

// Syntax refuses what CheckINCHI refuses; structure also what does not come
// back from its structure as it stands.
TEST(AnnotateLine, ValidationRefusesWithAWarning) {
  const ValidationCase cases[] = {
      {"InChI=1S/H2O_h1H2", Validation::kSyntax, "invalid layout"},
      {"InChI=1S/H2O_h1H2", Validation::kStructure, "invalid layout"},
      {"InChI=1S/CH4/h1H4/garbage", Validation::kSyntax, ""},
      {"InChI=1S/CH4/h1H4/garbage", Validation::kStructure, "no structure: status -1"},
      {"InChI=1S/C6H6/c1-2-3-4-5-6-1/h1-6H", Validation::kSyntax, ""},
      {"InChI=1S/C6H6/c1-2-3-4-5-6-1/h1-6H", Validation::kStructure,
       "no structure: *Conversion failed on component(s) 1(C6H6)"},
      {kCaffeine, Validation::kSyntax, ""},
      {kCaffeine, Validation::kStructure, ""},
      {"InChI=1S/C6H6/c1-2-4-6-5-3-1/h1-6H", Validation::kSyntax, ""},
      {"InChI=1S/C6H6/c1-2-4-6-5-3-1/h1-6H", Validation::kStructure, ""},
      // A non-standard InChI holds when it gives a structure; its key is its own.
      {"InChI=1/C2H6O/c1-2-3/h3H,2H2,1H3", Validation::kStructure, ""},
      {"InChI=1/CH4/h1H4/garbage", Validation::kStructure, "no structure: status -1"},
      // What the plain call fails without a word is refused aloud.
      {"InChIKey=UHOVQNZJYSORNB-UHFFFAOYSA-N", Validation::kSyntax, "invalid prefix"},
      {"InC", Validation::kStructure, "invalid prefix"},
  };
  for (const ValidationCase& c : cases) {
    SCOPED_TRACE(std::string(c.inchi) +
                 (c.validate == Validation::kSyntax ? " syntax" : " structure"));
    KeyRules rules;
    rules.validate = c.validate;
    Annotated a = annotate_under(c.inchi, rules);
    bool refused = *c.refusal != '\0';
    EXPECT_EQ(a.out, refused ? "" : plain_key_line(c.inchi));
    if (!refused) {
      EXPECT_NE(a.out, "");  // the plain call keys every one that holds
    }
    EXPECT_EQ(a.log, refused ? "Warning: not a valid InChI (" + std::string(c.refusal) +
                                   ") in the line #7\n"
                             : "");
    EXPECT_EQ(a.added, refused ? 10 : 11);
    EXPECT_EQ(a.failed, refused ? 21 : 20);
    EXPECT_EQ(a.derived, 30);
  }
}

// -s: a non-standard InChI of the reference set gets the key RDKit computed
// for the standard InChI of its structure, a standard one its own key; both
// with validation too.
TEST(AnnotateLine, StandardKeysOfTheReferenceSet) {
  std::map<std::string, std::string> keys = reference_keys();
  ASSERT_GT(keys.size(), 13000u);
  int fixed_h = 0, plain = 0, standard = 0;
  for (const auto& [inchi, own_key] : keys) {
    bool non_standard = inchi.compare(0, 8, "InChI=1/") == 0;
    bool has_f = inchi.find("/f") != std::string::npos;
    int& taken = non_standard ? (has_f ? fixed_h : plain) : standard;
    if (taken == 8) continue;
    ++taken;
    SCOPED_TRACE(inchi);
    const std::string& want = non_standard ? keys.at(paired_standard(inchi)) : own_key;
    for (Validation v : {Validation::kNone, Validation::kStructure}) {
      KeyRules rules;
      rules.standard = true;
      rules.validate = v;
      Annotated a = annotate_under(inchi, rules);
      EXPECT_EQ(a.out, "InChIKey=" + want + "\n");
      EXPECT_EQ(a.log, "");
      EXPECT_EQ(a.added, 11);
      EXPECT_EQ(a.derived, non_standard ? 31 : 30);
    }
  }
  EXPECT_EQ(fixed_h + plain + standard, 24);
}

// -s: a structure that gives no standard InChI is a failed key, with the
// library's word on it.
TEST(AnnotateLine, StandardKeyThatCannotBeDerivedIsAWarning) {
  KeyRules rules;
  rules.standard = true;
  Annotated a = annotate_under("InChI=1/CH4/h1H4/garbage", rules);
  EXPECT_EQ(a.out, "");
  EXPECT_EQ(a.log,
            "Warning: could not compute InChIKey for the line #7 (no structure: status -1)\n");
  EXPECT_EQ(a.failed, 21);
  EXPECT_EQ(a.derived, 30);
}

// A worker process that ends under a key call stops the run at that line,
// in the serial run too: nothing of the line is written, nothing counted or
// logged, and the note says how the process ended. A standard InChI needs
// no structure call, and is keyed as always.
TEST(AnnotateLine, LostWorkerProcessStopsAtItsLine) {
  const std::string kNonStandard = "InChI=1/C2H6O/c1-2-3/h3H,2H2,1H3";
  for (bool check : {false, true}) {
    SCOPED_TRACE(check ? "check" : "annotate");
    StructureService service;
    ASSERT_TRUE(start_structure_service(service)) << service.start_error;
    pid_t pid = service.worker.pid;
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    char* out_text = nullptr;
    char* log_text = nullptr;
    size_t out_size = 0, log_size = 0;
    FILE* out = open_memstream(&out_text, &out_size);
    Annotator a;
    a.format.check = check;
    a.format.rules.standard = true;
    a.service = &service;
    a.log = open_memstream(&log_text, &log_size);
    LineStep step = line_step(a.format);
    std::string line = kBenzeneText;
    EXPECT_TRUE(step(a, line.data(), static_cast<uint32_t>(line.size()), 1, out));
    fflush(out);
    size_t written = out_size;
    EXPECT_GT(written, 0u);
    line = kNonStandard;
    EXPECT_FALSE(step(a, line.data(), static_cast<uint32_t>(line.size()), 2, out));
    EXPECT_EQ(line, kNonStandard);
    fclose(out);
    fclose(a.log);
    EXPECT_EQ(out_size, written);
    EXPECT_EQ(std::string(log_text, log_size), "");
    EXPECT_TRUE(a.worker_lost);
    EXPECT_FALSE(a.out_of_memory);
    EXPECT_EQ(a.note.reason,
              "worker process " + std::to_string(pid) + " killed by signal 9 (SIGKILL)");
    EXPECT_EQ(a.counts.added, 1);
    EXPECT_EQ(a.counts.failed, 0);
    EXPECT_EQ(a.counts.derived, 0);
    stop_structure_service(service);
    std::free(out_text);
    std::free(log_text);
  }
}

}  // namespace
