#include "batch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

// The library's own answer for one string: its status and key.
struct Answer {
  int status = kNotAsked;
  std::string key;
};

Answer library_answer(const char* inchi) {
  Answer a;
  if (inchi == nullptr) return a;
  char key[256] = {};
  a.status = library_key(inchi, key);
  if (a.status == 0) a.key = key;
  return a;
}

// The strings' pointers, null where the entry is null.
std::vector<const char*> pointers(const std::vector<std::string>& strings,
                                  const std::vector<bool>& null) {
  std::vector<const char*> p;
  for (size_t i = 0; i < strings.size(); ++i)
    p.push_back(i < null.size() && null[i] ? nullptr : strings[i].c_str());
  return p;
}

// Every entry as the library gives it, whatever the number of threads.
void expect_library_keys(const std::vector<const char*>& inchis, unsigned threads) {
  std::vector<BatchKey> keys(inchis.size());
  for (BatchKey& k : keys) k.status = 99;  // must be overwritten, null entries too
  batch_keys(inchis.data(), inchis.size(), threads, keys.data());
  for (size_t i = 0; i < inchis.size(); ++i) {
    Answer want = library_answer(inchis[i]);
    ASSERT_EQ(keys[i].status, want.status) << "entry " << i << ", threads " << threads;
    ASSERT_EQ(keys[i].key, want.key) << "entry " << i << ", threads " << threads;
  }
}

TEST(BatchKeys, RealCompoundsGetTheLibrarysKeys) {
  const std::vector<std::string> inchis = {
      "InChI=1S/C6H6/c1-2-4-6-5-3-1/h1-6H",
      "InChI=1S/C8H10N4O2/c1-10-4-9-6-5(10)7(13)12(3)8(14)11(6)2/h4H,1-3H3",
      "InChI=1S/H2O/h1H2",
      "InChI=1/C2H6O/c1-2-3/h3H,2H2,1H3",
      "InChI=1S/",  // the library gives no key
      "InChIKey=UHOVQNZJYSORNB-UHFFFAOYSA-N",
      "",
      "null entry",
  };
  std::vector<bool> null(inchis.size());
  null.back() = true;
  for (unsigned threads : {1u, 2u, 8u}) expect_library_keys(pointers(inchis, null), threads);
}

TEST(BatchKeys, ThreadsAgreeOnFiveThousandCompounds) {
  std::ifstream in(std::string(MOLSTAMP_SOURCE_DIR) + "/bench/data/nci-5k.inchi");
  std::vector<std::string> inchis;
  for (std::string line; std::getline(in, line);) inchis.push_back(line);
  ASSERT_GT(inchis.size(), 4000u);
  std::vector<bool> null(inchis.size());
  for (size_t i = 0; i < null.size(); i += 97) null[i] = true;
  for (unsigned threads : {1u, 2u, 8u}) expect_library_keys(pointers(inchis, null), threads);
}

// Stands in for the library: the key is the string itself, the status the
// number after "InC" when there is one.
int echo_key(const char* inchi, char* key) {
  snprintf(key, 256, "%s", inchi);
  return std::strncmp(inchi, "InC", 3) == 0 ? std::atoi(inchi + 3) : 0;
}

TEST(BatchKeys, EachEntryGetsItsOwnResultAcrossChunks) {
  // Not a multiple of any chunk, so that the last one is short.
  std::vector<std::string> inchis;
  for (int i = 0; i < 1001; ++i) inchis.push_back(i % 10 == 3 ? "InC4" : "K" + std::to_string(i));
  inchis[500] = "a key longer than twenty-seven characters";
  std::vector<const char*> p = pointers(inchis, {});
  for (unsigned threads : {1u, 2u, 8u}) {
    std::vector<BatchKey> keys(p.size());
    batch_keys(p.data(), p.size(), threads, keys.data(), echo_key);
    for (size_t i = 0; i < p.size(); ++i) {
      bool failed = i % 10 == 3;
      ASSERT_EQ(keys[i].status, failed ? 4 : 0) << i;
      std::string want = failed ? "" : inchis[i].substr(0, kKeyBytes);
      ASSERT_EQ(keys[i].key, want) << i;
    }
  }
}

TEST(BatchKeys, EmptyInputTouchesNothing) {
  BatchKey untouched;
  untouched.status = 42;
  Verdict verdict = Verdict::kDiffers;
  for (unsigned threads : {1u, 8u}) {
    batch_keys(nullptr, 0, threads, &untouched);
    batch_check(nullptr, nullptr, 0, threads, &verdict);
    EXPECT_EQ(untouched.status, 42);
    EXPECT_EQ(verdict, Verdict::kDiffers);
  }
}

struct VerdictCase {
  const char* name;
  const char* inchi;   // null: no InChI
  const char* stored;  // "$KEY" stands for the InChI's own key
  Verdict verdict;
};

const char kBenzene[] = "InChI=1S/C6H6/c1-2-4-6-5-3-1/h1-6H";

const VerdictCase kVerdictCases[] = {
    {"own key", kBenzene, "$KEY", Verdict::kAgree},
    {"own key with prefix", kBenzene, "InChIKey=$KEY", Verdict::kAgree},
    {"another compound's key", kBenzene, "XLYOFNOQVPJJNP-UHFFFAOYSA-N", Verdict::kDiffers},
    {"trailing blank", kBenzene, "$KEY ", Verdict::kDiffers},
    {"prefix twice", kBenzene, "InChIKey=InChIKey=$KEY", Verdict::kDiffers},
    {"empty", kBenzene, "", Verdict::kMissing},
    {"prefix alone", kBenzene, "InChIKey=", Verdict::kMissing},
    {"no key from the library", "InChI=1S/", "$KEY", Verdict::kFailed},
    {"not an InChI, nothing stored", "benzene", "", Verdict::kFailed},
    {"no InChI", nullptr, "$KEY", Verdict::kDiffers},  // left as it was
};

TEST(BatchCheck, VerdictsFollowCheckMode) {
  std::string own = library_answer(kBenzene).key;
  ASSERT_EQ(own.size(), kKeyBytes);
  std::vector<const char*> inchis;
  std::vector<std::string> texts;
  for (const VerdictCase& c : kVerdictCases) {
    inchis.push_back(c.inchi);
    std::string s = c.stored;
    size_t at = s.find("$KEY");
    if (at != std::string::npos) s.replace(at, 4, own);
    texts.push_back(s);
  }
  std::vector<StoredKey> stored;
  for (const std::string& s : texts) stored.push_back({s.data(), s.size()});
  for (unsigned threads : {1u, 2u, 8u}) {
    std::vector<Verdict> verdicts(inchis.size(), Verdict::kDiffers);
    batch_check(inchis.data(), stored.data(), inchis.size(), threads, verdicts.data());
    for (size_t i = 0; i < inchis.size(); ++i) {
      EXPECT_EQ(verdict_word(verdicts[i]), std::string(verdict_word(kVerdictCases[i].verdict)))
          << kVerdictCases[i].name << ", threads " << threads;
    }
  }
}

TEST(BatchThreads, NeverMoreThanTheStringsNorFewerThanOne) {
  unsigned processors = static_cast<unsigned>(sysconf(_SC_NPROCESSORS_ONLN));
  struct Case {
    unsigned requested;
    size_t n;
    unsigned threads;
  };
  const Case cases[] = {
      {1, 1000, 1}, {2, 1000, 2}, {8, 1000, 8}, {8, 3, 3},
      {8, 1, 1},    {8, 0, 1},    {0, 0, 1},    {0, 1000000, processors},
  };
  for (const Case& c : cases)
    EXPECT_EQ(batch_threads(c.requested, c.n), c.threads) << c.requested << " for " << c.n;
}

}  // namespace
