// Keys and check verdicts of many InChI strings at once, on several threads:
// what a binding for another language calls, free of that language's types.
#ifndef MOLSTAMP_BATCH_H
#define MOLSTAMP_BATCH_H

#include <cstddef>
#include <string>

#include "keys/annotator.h"
#include "keys/check.h"
#include "keys/key_rules.h"

// The characters of an InChIKey.
constexpr size_t kKeyBytes = 27;

// The status of a null string's entry: the library was not asked.
constexpr int kNotAsked = -1;

// One string's key: the library's status and, when it is 0, the key
// (NUL-terminated, cut to kKeyBytes).
struct BatchKey {
  int status = kNotAsked;
  char key[kKeyBytes + 1] = {};
};

// A stored key to judge against: `bytes` bytes at text, an "InChIKey="
// prefix allowed; none when bytes is 0.
struct StoredKey {
  const char* text = "";
  size_t bytes = 0;
};

// Asked by the calling thread every few tens of milliseconds while a batch
// runs: keep_going(context) false stops the batch, each thread after its
// current string. None: the batch runs to its end.
struct BatchPoll {
  bool (*keep_going)(void* context) = nullptr;
  void* context = nullptr;
};

// The threads a batch of n strings runs on when `requested` are asked for
// (0: one per online processor): no more than its chunks of work nor
// kMostJobs, within the address-space budget of the pipeline, at least 1
// (the calling thread). Under a limit, caps malloc's arenas for them, for
// the whole process.
unsigned batch_threads(unsigned requested, size_t n);

// keys[i] for each of the n NUL-terminated strings inchis[i] (null: status
// kNotAsked), computed by compute on `threads` threads, the calling thread
// among them, or by rule_key when rules has one in force (then compute is not
// used). Threads that cannot start leave their share to the others. When
// the strings need structure calls under rules, each thread has a worker
// process of its own for them, all started by the calling thread before the
// batch's threads and ended after they are: none outlives the call. A worker
// that ends under a string is replaced and the string asked once more; if
// that one ends too, the string's status is kKeyWorkerLost. False when poll
// stopped it: the entries not reached are left as they were; every thread
// and worker has ended either way.
bool batch_keys(const char* const* inchis, size_t n, unsigned threads, BatchKey* keys,
                KeyFunction compute = library_key, BatchPoll poll = {},
                const KeyRules& rules = KeyRules{});

// verdicts[i] for each inchis[i] that is a candidate (begins with "InC"): its
// key judged against stored[i] by check mode's rules (a prefix "InChIKey="
// ignored, an empty key none); the other entries, which get no verdict, are
// left as they were: verdicts filled with Verdict::kNone keep it there.
// With differences not null, differences[i] of a candidate is check mode's
// difference (check_difference). Threads, poll and rules as batch_keys.
bool batch_check(const char* const* inchis, const StoredKey* stored, size_t n, unsigned threads,
                 Verdict* verdicts, KeyFunction compute = library_key, BatchPoll poll = {},
                 const KeyRules& rules = KeyRules{}, std::string* differences = nullptr);

#endif
