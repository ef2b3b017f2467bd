#include "keys/batch.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "keys/structure.h"

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

const char kCaffeine[] = "InChI=1S/C8H10N4O2/c1-10-4-9-6-5(10)7(13)12(3)8(14)11(6)2/h4H,1-3H3";
const char kEthanol[] = "InChI=1S/C2H6O/c1-2-3/h3H,2H2,1H3";
const char kEthanolFixedH[] = "InChI=1/C2H6O/c1-2-3/h3H,2H2,1H3";

// The first `most` InChI strings of the cross-check set that begin with
// prefix.
std::vector<std::string> reference_inchis(const std::string& prefix, size_t most) {
  std::string command =
      "gzip -dc '" + std::string(MOLSTAMP_SOURCE_DIR) + "/tests/data/crosscheck.tsv.gz'";
  std::vector<std::string> found;
  FILE* in = popen(command.c_str(), "r");
  if (in == nullptr) return found;
  char line[8192];
  while (found.size() < most && fgets(line, sizeof line, in) != nullptr) {
    std::string text(line);
    if (text.compare(0, prefix.size(), prefix) == 0)
      found.push_back(text.substr(0, text.find('\t')));
  }
  // Read to its end: gzip must not die of a closed pipe.
  while (fgets(line, sizeof line, in) != nullptr) {
  }
  pclose(in);
  return found;
}

// Strings each rule treats in its own way, then standard and non-standard
// InChIs of real compounds; every 97th entry null.
std::vector<std::string> rule_strings() {
  std::vector<std::string> inchis = {"InChI=1S/H2O_h1H2",
                                     "InChI=1S/CH4/h1H4/garbage",
                                     "InChI=1S/C6H6/c1-2-3-4-5-6-1/h1-6H",
                                     kCaffeine,
                                     kEthanolFixedH,
                                     "InChI=1S/",
                                     "InChI=1/",
                                     "benzene"};
  for (const char* prefix : {"InChI=1S/", "InChI=1/"}) {
    std::vector<std::string> more = reference_inchis(prefix, 300);
    inchis.insert(inchis.end(), more.begin(), more.end());
  }
  return inchis;
}

// The rules, by name.
const struct {
  const char* name;
  KeyRules rules;
} kRuleCases[] = {
    {"-s", {true, Validation::kNone}},
    {"--validate=syntax", {false, Validation::kSyntax}},
    {"--validate=structure", {false, Validation::kStructure}},
    {"-s --validate=structure", {true, Validation::kStructure}},
};

// The batch gives what rule_key gives in this thread, with the structure
// calls in this process, whether one thread or four ask, each through a
// worker process of its own.
TEST(BatchKeys, UnderRulesGivesWhatRuleKeyGives) {
  std::vector<std::string> inchis = rule_strings();
  ASSERT_GT(inchis.size(), 600u);
  std::vector<const char*> p;
  for (size_t i = 0; i < inchis.size(); ++i)
    p.push_back(i % 97 == 96 ? nullptr : inchis[i].c_str());
  for (const auto& c : kRuleCases) {
    std::vector<BatchKey> want(p.size());
    for (size_t i = 0; i < p.size(); ++i) {
      if (p[i] == nullptr) continue;
      char key[kKeyBufferBytes] = {};
      KeyNote note;
      want[i].status = rule_key(c.rules, nullptr, p[i], key, note);
      if (want[i].status == 0) std::memcpy(want[i].key, key, strnlen(key, kKeyBytes));
    }
    // What tells the rules apart: caffeine passes them all; the others fail
    // validation where it looks far enough, or (-s) get the standard key.
    bool syntax = c.rules.validate != Validation::kNone;
    bool structure = c.rules.validate == Validation::kStructure;
    EXPECT_EQ(want[0].status, syntax ? kKeyNotValid : 0) << c.name;
    EXPECT_EQ(want[1].status, structure ? kKeyNotValid : 0) << c.name;
    EXPECT_EQ(want[2].status, structure ? kKeyNotValid : 0) << c.name;
    EXPECT_EQ(want[3].status, 0) << c.name;
    EXPECT_EQ(want[4].key, library_answer(c.rules.standard ? kEthanol : kEthanolFixedH).second)
        << c.name;
    for (unsigned threads : {1u, 4u}) {
      std::vector<BatchKey> keys(p.size());
      for (BatchKey& k : keys) k.status = 99;
      ASSERT_TRUE(
          batch_keys(p.data(), p.size(), threads, keys.data(), library_key, BatchPoll{}, c.rules));
      for (size_t i = 0; i < p.size(); ++i) {
        ASSERT_EQ(keys[i].status, want[i].status) << c.name << ", entry " << i << ", " << threads;
        ASSERT_STREQ(keys[i].key, want[i].key) << c.name << ", entry " << i << ", " << threads;
      }
    }
  }
}

// An InChI, a stored key ("$": the InChI's key without rules, "=": that of
// ethanol's standard InChI), the rules, and the verdict with its difference.
const struct {
  const char* inchi;
  const char* stored;
  KeyRules rules;
  Verdict verdict;
  const char* difference;
} kDifferenceCases[] = {
    {kCaffeine, "$", {}, Verdict::kAgree, ""},
    {kCaffeine, "", {}, Verdict::kMissing, ""},
    {kCaffeine, "InChIKey=InChIKey=$", {}, Verdict::kDiffers, "malformed"},
    {kEthanolFixedH, "=", {}, Verdict::kDiffers, "standard"},
    {kEthanolFixedH, "=", {true, Validation::kNone}, Verdict::kAgree, ""},
    {kEthanolFixedH, "$", {true, Validation::kNone}, Verdict::kDiffers, "standard"},
    {kEthanol, "$", {true, Validation::kStructure}, Verdict::kAgree, ""},
    {kEthanol, kCaffeine, {}, Verdict::kDiffers, "malformed"},
    {"InChI=1S/", "$", {}, Verdict::kFailed, "unresolved program error"},
    {"InChI=1S/H2O_h1H2", "$", {false, Validation::kSyntax}, Verdict::kFailed, "invalid"},
    {"InChI=1S/CH4/h1H4/garbage", "$", {false, Validation::kSyntax}, Verdict::kAgree, ""},
    {"InChI=1S/CH4/h1H4/garbage",
     "$",
     {false, Validation::kStructure},
     Verdict::kFailed,
     "invalid"},
    {"InChI=1/", "", {true, Validation::kNone}, Verdict::kFailed, nullptr},
    {"benzene", "$", {false, Validation::kStructure}, Verdict::kNone, "untouched"},
};

// Each case alone, then all of one rule at once on 1 and 4 threads: the
// verdict and difference of check mode.
TEST(BatchCheck, DifferencesOnRequest) {
  std::string ethanol = library_answer(kEthanol).second;
  ASSERT_EQ(ethanol.size(), kKeyBytes);
  for (const auto& c : kDifferenceCases) {
    std::string stored = c.stored;
    std::string own = library_answer(c.inchi).second;
    if (stored.find('$') != std::string::npos) stored.replace(stored.find('$'), 1, own);
    if (stored == "=") stored = ethanol;
    StoredKey key{stored.data(), stored.size()};
    for (unsigned threads : {1u, 4u}) {
      Verdict verdict = Verdict::kNone;
      std::string difference = "untouched";
      batch_check(&c.inchi, &key, 1, threads, &verdict, library_key, BatchPoll{}, c.rules,
                  &difference);
      EXPECT_STREQ(verdict_word(verdict), verdict_word(c.verdict)) << c.inchi << " " << stored;
      // A failed derivation says why in the library's words: "no structure: ..."
      if (c.difference == nullptr)
        EXPECT_EQ(difference.rfind("no ", 0), 0u) << difference;
      else
        EXPECT_EQ(difference, c.difference) << c.inchi << " " << stored;
    }
  }
}

// The PIDs of the children of the calling thread.
std::vector<pid_t> children_of_this_thread() {
  std::ifstream in("/proc/self/task/" + std::to_string(gettid()) + "/children");
  std::vector<pid_t> pids;
  for (pid_t pid; in >> pid;) pids.push_back(pid);
  return pids;
}

// What a poll that kills one worker saw: the workers when it killed one, and
// whether a worker it had not seen has started since.
struct Killer {
  std::vector<pid_t> seen;
  pid_t killed = 0;
  bool replaced = false;
};

// Kills the first worker it finds, then watches for its replacement.
bool kill_a_worker(void* context) {
  Killer& k = *static_cast<Killer*>(context);
  std::vector<pid_t> now = children_of_this_thread();
  if (k.killed == 0 && !now.empty()) {
    k.seen = now;
    k.killed = now.front();
    kill(k.killed, SIGKILL);
  }
  for (pid_t pid : now)
    if (std::find(k.seen.begin(), k.seen.end(), pid) == k.seen.end()) k.replaced = true;
  return true;
}

// A worker killed amid the batch costs no key: its thread gets a new one and
// asks again. None is left behind, running or unreaped.
TEST(BatchKeys, AKilledWorkerIsReplacedAndCostsNoKey) {
  std::vector<std::string> inchis = reference_inchis("InChI=1/", 2000);
  ASSERT_EQ(inchis.size(), 2000u);
  std::vector<const char*> p;
  for (const std::string& s : inchis) p.push_back(s.c_str());
  KeyRules rules{true, Validation::kStructure};
  std::vector<BatchKey> want(p.size()), keys(p.size());
  ASSERT_TRUE(batch_keys(p.data(), p.size(), 1, want.data(), library_key, BatchPoll{}, rules));
  Killer killer;
  ASSERT_TRUE(batch_keys(p.data(), p.size(), 4, keys.data(), library_key,
                         BatchPoll{kill_a_worker, &killer}, rules));
  EXPECT_NE(killer.killed, 0);
  EXPECT_TRUE(killer.replaced);
  for (size_t i = 0; i < p.size(); ++i) {
    ASSERT_EQ(keys[i].status, 0) << i;
    ASSERT_STREQ(keys[i].key, want[i].key) << i;
  }
  EXPECT_TRUE(children_of_this_thread().empty());
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
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
