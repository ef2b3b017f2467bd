// Keys and check verdicts of many InChI strings at once, on several threads:
// what a binding for another language calls, free of that language's types.
#ifndef MOLSTAMP_BATCH_H
#define MOLSTAMP_BATCH_H

#include <cstddef>

#include "annotate.h"
#include "check.h"

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

// The threads a batch of n strings runs on when `requested` are asked for
// (0: one per online processor): at most n, within the address-space budget
// of the pipeline, at least 1 (the calling thread).
unsigned batch_threads(unsigned requested, size_t n);

// keys[i] for each of the n NUL-terminated strings inchis[i] (null: status
// kNotAsked), computed by compute on `threads` threads, the calling thread
// among them. Threads that cannot start leave their share to the others.
void batch_keys(const char* const* inchis, size_t n, unsigned threads, BatchKey* keys,
                KeyFunction compute = library_key);

// verdicts[i] for each inchis[i] that is a candidate (begins with "InC"): its
// key judged against stored[i] by check mode's rules (a prefix "InChIKey="
// ignored, an empty key none); the other entries are left as they were.
// Threads as batch_keys.
void batch_check(const char* const* inchis, const StoredKey* stored, size_t n, unsigned threads,
                 Verdict* verdicts, KeyFunction compute = library_key);

#endif
