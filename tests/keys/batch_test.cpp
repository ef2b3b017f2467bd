#include "keys/batch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

// The library's own status and key for one string.
std::pair<int, std::string> library_answer(const char* inchi) {
  char key[256] = {};
  int status = library_key(inchi, key);
  return {status, status == 0 ? key : ""};
}

// Real compounds, strings the library turns down, and the NCI set; every
// 97th entry null.
TEST(BatchKeys, EveryThreadCountGivesTheLibrarysKeys) {
  std::vector<std::string> inchis = {
      "InChI=1S/C8H10N4O2/c1-10-4-9-6-5(10)7(13)12(3)8(14)11(6)2/h4H,1-3H3",
      "InChI=1/C2H6O/c1-2-3/h3H,2H2,1H3", "InChI=1S/", "InChIKey=UHOVQNZJYSORNB-UHFFFAOYSA-N", ""};
  std::ifstream in(std::string(MOLSTAMP_SOURCE_DIR) + "/bench/data/nci-5k.inchi");
  for (std::string line; std::getline(in, line);) inchis.push_back(line);
  ASSERT_GT(inchis.size(), 4000u);
  std::vector<const char*> p;
  for (size_t i = 0; i < inchis.size(); ++i)
    p.push_back(i % 97 == 96 ? nullptr : inchis[i].c_str());
  for (unsigned threads : {1u, 2u, 8u}) {
    std::vector<BatchKey> keys(p.size());
    for (BatchKey& k : keys) k.status = 99;  // null entries are overwritten too
    batch_keys(p.data(), p.size(), threads, keys.data());
    for (size_t i = 0; i < p.size(); ++i) {
      auto want = p[i] == nullptr ? std::make_pair(kNotAsked, std::string()) : library_answer(p[i]);
      ASSERT_EQ(keys[i].status, want.first) << "entry " << i << ", threads " << threads;
      ASSERT_EQ(keys[i].key, want.second) << "entry " << i << ", threads " << threads;
    }
  }
}

// Stands in for the library: the key is the string, the status the number
// after "InC" when there is one.
int echo_key(const char* inchi, char* key) {
  snprintf(key, 256, "%s", inchi);
  return std::strncmp(inchi, "InC", 3) == 0 ? std::atoi(inchi + 3) : 0;
}

TEST(BatchKeys, EachEntryGetsItsOwnResultAcrossChunks) {
  std::vector<std::string> inchis;  // not a multiple of any chunk
  for (int i = 0; i < 1001; ++i) inchis.push_back(i % 10 == 3 ? "InC4" : "K" + std::to_string(i));
  inchis[500] = "a key longer than twenty-seven characters";
  std::vector<const char*> p;
  for (const std::string& s : inchis) p.push_back(s.c_str());
  for (unsigned threads : {1u, 2u, 8u}) {
    std::vector<BatchKey> keys(p.size());
    batch_keys(p.data(), p.size(), threads, keys.data(), echo_key);
    for (size_t i = 0; i < p.size(); ++i) {
      ASSERT_EQ(keys[i].status, i % 10 == 3 ? 4 : 0) << i;
      ASSERT_EQ(keys[i].key, i % 10 == 3 ? "" : inchis[i].substr(0, kKeyBytes)) << i;
    }
  }
}

TEST(BatchKeys, EmptyInputTouchesNothing) {
  BatchKey key;
  key.status = 42;
  Verdict verdict = Verdict::kDiffers;
  for (unsigned threads : {1u, 8u}) {
    batch_keys(nullptr, 0, threads, &key);
    batch_check(nullptr, nullptr, 0, threads, &verdict);
    EXPECT_EQ(key.status, 42);
    EXPECT_EQ(verdict, Verdict::kDiffers);
  }
}

const char kBenzene[] = "InChI=1S/C6H6/c1-2-4-6-5-3-1/h1-6H";

// An InChI (null: none), a stored key ("$" stands for the InChI's own key)
// and the verdict (kDiffers for a null InChI: the entry is left as it was).
const struct {
  const char* inchi;
  const char* stored;
  Verdict verdict;
} kVerdictCases[] = {
    {kBenzene, "$", Verdict::kAgree},
    {kBenzene, "InChIKey=$", Verdict::kAgree},
    {kBenzene, "XLYOFNOQVPJJNP-UHFFFAOYSA-N", Verdict::kDiffers},
    {kBenzene, "$ ", Verdict::kDiffers},
    {kBenzene, "InChIKey=InChIKey=$", Verdict::kDiffers},
    {kBenzene, "", Verdict::kMissing},
    {kBenzene, "InChIKey=", Verdict::kMissing},
    {"InChI=1S/", "$", Verdict::kFailed},
    // No candidate, and no string: left as they were (kDiffers below).
    {"benzene", "", Verdict::kDiffers},
    {"", "$", Verdict::kDiffers},
    {nullptr, "$", Verdict::kDiffers},
};

TEST(BatchCheck, VerdictsFollowCheckMode) {
  std::string own = library_answer(kBenzene).second;
  ASSERT_EQ(own.size(), kKeyBytes);
  std::vector<const char*> inchis;
  std::vector<std::string> texts;
  for (const auto& c : kVerdictCases) {
    inchis.push_back(c.inchi);
    std::string s = c.stored;
    if (s.find('$') != std::string::npos) s.replace(s.find('$'), 1, own);
    texts.push_back(s);
  }
  std::vector<StoredKey> stored;
  for (const std::string& s : texts) stored.push_back({s.data(), s.size()});
  for (unsigned threads : {1u, 2u, 8u}) {
    std::vector<Verdict> verdicts(inchis.size(), Verdict::kDiffers);
    batch_check(inchis.data(), stored.data(), inchis.size(), threads, verdicts.data());
    for (size_t i = 0; i < inchis.size(); ++i)
      EXPECT_STREQ(verdict_word(verdicts[i]), verdict_word(kVerdictCases[i].verdict))
          << "case " << i << ", threads " << threads;
  }
}

// Stands in for a slow library: a millisecond per string, then echo_key.
int slow_key(const char* inchi, char* key) {
  usleep(1000);
  return echo_key(inchi, key);
}

// Counts the polls, and answers what context points to.
bool answer_poll(void* context) {
  auto* answer = static_cast<std::pair<bool, int>*>(context);
  ++answer->second;
  return answer->first;
}

// A quarter of a second of work for one thread, polled: a yes lets it end,
// a no stops it with entries left as they were, and is asked once.
TEST(BatchPoll, ANoStopsTheBatchAYesLetsItEnd) {
  std::vector<const char*> p(250, "InC0");
  std::vector<StoredKey> stored(p.size(), StoredKey{"InC0", 4});
  for (bool yes : {true, false}) {
    for (unsigned threads : {1u, 2u, 8u}) {
      std::pair<bool, int> answer{yes, 0};
      std::vector<BatchKey> keys(p.size());
      std::vector<Verdict> verdicts(p.size(), Verdict::kMissing);
      EXPECT_EQ(batch_keys(p.data(), p.size(), threads, keys.data(), slow_key,
                           BatchPoll{answer_poll, &answer}),
                yes);
      EXPECT_EQ(batch_check(p.data(), stored.data(), p.size(), threads, verdicts.data(), slow_key,
                            BatchPoll{answer_poll, &answer}),
                yes);
      EXPECT_EQ(std::count_if(keys.begin(), keys.end(),
                              [](const BatchKey& k) { return k.status == kNotAsked; }) == 0,
                yes);
      EXPECT_EQ(std::count(verdicts.begin(), verdicts.end(), Verdict::kMissing) == 0, yes);
      EXPECT_TRUE(yes ? answer.second >= 2 : answer.second == 2) << answer.second;
    }
  }
}

TEST(BatchThreads, NeverMoreThanTheChunksNorTheJobsCapNorFewerThanOne) {
  auto processors = static_cast<unsigned>(sysconf(_SC_NPROCESSORS_ONLN));
  const struct {
    unsigned requested;
    size_t n;
    unsigned threads;
  } cases[] = {{1, 1000, 1},
               {2, 1000, 2},
               {8, 1000, 8},
               {8, 3, 1},
               {8, 1, 1},
               {8, 0, 1},
               {0, 0, 1},
               {0, 1000000, processors},
               {8, 64, 1},
               {8, 65, 2},
               {100000, 1000, 16},
               {100000, 1 << 30, 4096},
               {4097, 1 << 30, 4096}};
  for (const auto& c : cases)
    EXPECT_EQ(batch_threads(c.requested, c.n), c.threads) << c.requested << " for " << c.n;
}

}  // namespace
