#include "keys/structure.h"

#include <gtest/gtest.h>
#include <inchi_api.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "keys/batch.h"
#include "reference_set.h"
#include "sys/worker_process.h"

namespace {

const char* const kCaffeine = "InChI=1S/C8H10N4O2/c1-10-4-9-6-5(10)7(13)12(3)8(14)11(6)2/h4H,1-3H3";

struct SyntaxRow {
  const char* inchi;
  int code;           // CheckINCHI's
  const char* fault;  // inchi_fault's: "" when the InChI holds
};

// The syntax check lets through what only the structure shows.
TEST(StructureFaults, SyntaxThenStructure) {
  const SyntaxRow rows[] = {
      {"InChI=1S/H2O_h1H2", 3, "invalid layout"},
      {"XInChI=1S/CH4/h1H4", 1, "invalid prefix"},
      {"InChI=2S/CH4/h1H4", 2, "invalid version"},
      {"", 1, "invalid prefix"},
      {"InChI=1S/CH4/h1H4/garbage", 0, "no structure: status -1"},
      {"InChI=1S/C6H6/c1-2-3-4-5-6-1/h1-6H", 0,
       "no structure: *Conversion failed on component(s) 1(C6H6)"},
      // An empty isotopic layer: a structure, but not the string it gives.
      {"InChI=1S/C2H6O/c1-2-3/h3H,2H2,1H3/i", 0, "not canonical"},
      {kCaffeine, 0, ""},
      {"InChI=1S/C6H6/c1-2-4-6-5-3-1/h1-6H", 0, ""},
      {"InChI=1/C2H6O/c1-2-3/h3H,2H2,1H3", -1, ""},
      {"InChI=1/C6H6/c1-2-4-6-5-3-1/h1-6H", -1, ""},
      {"InChI=1/CH4/h1H4/garbage", -1, "no structure: status -1"},
      // Refused before the structure call, whose parser may abort the process.
      {"InChI=1/CH4.", -1, "no structure: a formula component without atoms"},
      {"InChI=1S/C34H39N5O3.", 0, "no structure: a formula component without atoms"},
  };
  for (const SyntaxRow& row : rows) {
    EXPECT_EQ(syntax_code(row.inchi), row.code) << row.inchi;
    EXPECT_EQ(inchi_fault(row.inchi), row.fault) << row.inchi;
  }
}

TEST(StructureFaults, ReasonOfEachCode) {
  const std::pair<int, const char*> rows[] = {
      {0, ""},
      {-1, ""},
      {1, "invalid prefix"},
      {2, "invalid version"},
      {3, "invalid layout"},
      {4, "InChI to InChI failed"},
      {7, "refused (code 7)"},
  };
  for (const auto& [code, reason] : rows) EXPECT_EQ(syntax_reason(code), reason) << code;
}

// What the structure gives: a standard InChI for a non-standard one, the
// message of a failure, and the standard InChI keyed as it stands.
TEST(StandardKeys, ThroughTheStructureOnlyWhenNonStandard) {
  StructureResult r = standard_inchi_of("InChI=1/C2H6O/c1-2-3/h3H,2H2,1H3");
  EXPECT_TRUE(structure_succeeded(r));
  EXPECT_EQ(r.text, "InChI=1S/C2H6O/c1-2-3/h3H,2H2,1H3");

  StandardKey plain = standard_key_of(kCaffeine);
  EXPECT_FALSE(plain.derived);
  char key[256] = {};
  ASSERT_EQ(library_key(kCaffeine, key), 0);
  EXPECT_EQ(plain.key, key);

  // Not canonical, yet keyed as it stands: no structure call for "1S".
  StandardKey odd = standard_key_of("InChI=1S/C2H6O/c1-2-3/h3H,2H2,1H3/i");
  EXPECT_FALSE(odd.derived);
  EXPECT_EQ(odd.status, 0);

  StandardKey failed = standard_key_of("InChI=1/CH4/h1H4/garbage");
  EXPECT_TRUE(failed.derived);
  EXPECT_EQ(failed.status, kKeyInvalidInchi);
  EXPECT_EQ(failed.message, "no structure: status -1");
  EXPECT_EQ(failed.key, "");
  EXPECT_EQ(standard_library_key("InChI=1/CH4/h1H4/garbage", key), kKeyInvalidInchi);
  EXPECT_STREQ(key, "");
}

// The set pairs each InChI with its own key, a non-standard key for a
// non-standard InChI. Its standard InChI of the same structure is the
// non-standard string's main layers, before the fixed-H layer (/f), under
// "InChI=1S/"; the standard key of the non-standard string must be that
// InChI's key, which RDKit computed apart from this library.
TEST(StandardKeys, NonStandardInChIsOfTheReferenceSet) {
  std::map<std::string, std::string> keys = reference_keys();
  ASSERT_GT(keys.size(), 13000u);
  size_t non_standard = 0;
  for (const auto& [inchi, own_key] : keys) {
    if (!is_non_standard_inchi(inchi)) continue;
    ++non_standard;
    std::string paired = paired_standard(inchi);
    auto standard = keys.find(paired);
    ASSERT_NE(standard, keys.end()) << "no standard InChI of " << inchi;
    StructureResult derived = standard_inchi_of(inchi.c_str());
    ASSERT_EQ(derived.text, paired) << inchi << ": " << derived.message;
    StandardKey k = standard_key_from(inchi.c_str(), derived);
    ASSERT_EQ(k.status, 0) << inchi;
    EXPECT_TRUE(k.derived);
    ASSERT_EQ(k.key, standard->second) << inchi;
    // The same skeleton; the layers differ where a fixed-H layer was.
    bool fixed_h = inchi.find("/f") != std::string::npos;
    EXPECT_EQ(key_difference(own_key, k.key), fixed_h ? "layers,standard" : "standard") << inchi;
  }
  EXPECT_GT(non_standard, 6000u);
}

// Two threads on the library's structure calls at once: without the lock
// one would be refused as busy.
TEST(StandardKeys, ThreadsShareTheStructureCallsThroughTheLock) {
  std::map<std::string, std::string> keys = reference_keys();
  std::vector<std::string> inchis;
  std::vector<std::string> want;
  for (const auto& [inchi, own_key] : keys) {
    if (!is_non_standard_inchi(inchi) || inchis.size() == 600) continue;
    inchis.push_back(inchi);
    want.push_back(keys[paired_standard(inchi)]);
  }
  ASSERT_EQ(inchis.size(), 600u);
  std::vector<const char*> p;
  for (const std::string& s : inchis) p.push_back(s.c_str());
  std::vector<BatchKey> got(p.size());
  batch_keys(p.data(), p.size(), 2, got.data(), standard_library_key);
  for (size_t i = 0; i < p.size(); ++i) {
    ASSERT_EQ(got[i].status, 0) << inchis[i];
    ASSERT_EQ(std::string(got[i].key), want[i]) << inchis[i];
  }
}

// key with the letter at each of `at` replaced by another valid one.
std::string changed(std::string key, std::vector<size_t> at) {
  for (size_t i : at) key[i] = key[i] == 'S' ? 'N' : key[i] == 'A' ? 'B' : 'A';
  return key;
}

struct DifferenceRow {
  std::vector<size_t> stored_changes, computed_changes;
  const char* parts;
};

TEST(KeyDifference, EachPartOfTheKey) {
  char key[256] = {};
  ASSERT_EQ(library_key(kCaffeine, key), 0);
  const std::string base = key;
  const DifferenceRow rows[] = {
      {{}, {}, ""},
      {{0}, {}, "skeleton"},
      {{13}, {}, "skeleton"},
      {{15}, {}, "layers"},
      {{22}, {}, "layers"},
      {{23}, {}, "standard"},
      {{26}, {}, "protonation"},
      // This release writes only version A: the computed side differs.
      {{}, {24}, "version"},
      {{0, 15, 23, 26}, {}, "skeleton,layers,standard,protonation"},
      {{5, 20}, {24}, "skeleton,layers,version"},
  };
  for (const DifferenceRow& row : rows) {
    std::string stored = changed(base, row.stored_changes);
    std::string computed = changed(base, row.computed_changes);
    EXPECT_EQ(key_difference(stored, computed), row.parts) << stored << " " << computed;
    EXPECT_EQ(key_difference("InChIKey=" + stored, computed), row.parts) << stored;
  }
}

TEST(KeyDifference, MalformedStoredKeys) {
  char key[256] = {};
  ASSERT_EQ(library_key(kCaffeine, key), 0);
  const std::string base = key;
  std::string lower = base;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string one_lower = base;
  one_lower[26] = static_cast<char>(std::tolower(static_cast<unsigned char>(one_lower[26])));
  const std::string rows[] = {
      lower,
      one_lower,
      base.substr(0, 26),
      base + "A",
      "E" + base.substr(1),                      // no letter triplet begins with E
      base.substr(0, 5) + "7" + base.substr(6),  // a digit
      base.substr(0, 14) + "_" + base.substr(15),
      changed(base, {24}),  // version B
      "InChIKey=" + lower,
      "InChIKey=",
      "",
      base + std::string(1, '\0'),
      std::string(base).insert(10, 1, '\0').substr(0, 27),
  };
  for (const std::string& stored : rows)
    EXPECT_EQ(key_difference(stored, base), "malformed") << stored;
}

// The release the running library states in its help text, which it gives
// for an input without atoms, then leaks a copy of the options: asked in a
// worker process, whose memory ends with it.
int help_release(const std::string&, std::string& reply, void*) {
  inchi_Input in{nullptr, nullptr, const_cast<char*>("-?"), 0, 0};
  inchi_Output out;
  std::memset(&out, 0, sizeof out);
  GetINCHI(&in, &out);
  std::string log = out.szLog != nullptr ? out.szLog : "";
  FreeINCHI(&out);
  size_t at = log.find("Software version ");
  if (at != std::string::npos) reply = upstream_release(log.substr(at + 17));
  return 0;
}

TEST(LibraryProvenance, ReleaseAndDebianVersion) {
  const std::pair<const char*, const char*> releases[] = {
      {"1.03+dfsg-4+b2", "1.03"},
      {"1:1.05-1", "1.05"},
      {"1.06", "1.06"},
      {"1.03.", "1.03"},
      {"dfsg", ""},
      {"", ""},
      {"1.03.\n\nUsage: inchi-1 inputFile", "1.03"},
      {"1:", ""},
      {":1.03", ""},
  };
  for (const auto& [debian, release] : releases)
    EXPECT_EQ(upstream_release(debian), release) << debian;
  EXPECT_EQ(provenance_text("1.03", "1.03+dfsg-4+b2"),
            "InChI library 1.03 (Debian 1.03+dfsg-4+b2)");
  EXPECT_EQ(provenance_text("1.03", ""), "InChI library 1.03");
  EXPECT_EQ(provenance_text("", ""), "InChI library");

  // The header's word, the Debian version as the build read it and as it
  // is now, and the running library's own word.
  std::string release = header_library_release();
  EXPECT_FALSE(release.empty());
  std::string debian = debian_library_version();
  std::string now;
  if (FILE* in = popen("dpkg-query -W -f='${Version}' libinchi-dev 2>/dev/null", "r")) {
    for (int c; (c = std::fgetc(in)) != EOF;) now += static_cast<char>(c);
    pclose(in);
  }
  EXPECT_EQ(debian, now);
  if (!debian.empty()) {
    EXPECT_EQ(upstream_release(debian), release);
  }
  EXPECT_EQ(library_provenance(), provenance_text(release, debian));

  WorkerProcess helper;
  WorkerServer server;
  server.serve = help_release;
  std::string error, reply;
  int status = 0;
  ASSERT_TRUE(start_worker(helper, server, error)) << error;
  ASSERT_TRUE(call_worker(helper, "", status, reply, error)) << error;
  stop_worker(helper);
  EXPECT_EQ(reply, release);
}

}  // namespace
