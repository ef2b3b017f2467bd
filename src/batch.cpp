// The batch: threads take chunks of the strings from a shared index, so that
// a thread slowed by other load does not hold the others up.
#include "batch.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "budget.h"

namespace {

// Small enough to balance the threads, large enough that the shared index
// is touched once per 100 microseconds or so.
constexpr size_t kChunk = 64;

// One batch: its strings, where its results go, the next chunk to take.
struct Job {
  const char* const* inchis;
  size_t n;
  KeyFunction compute;
  BatchKey* keys;           // batch_keys
  const StoredKey* stored;  // batch_check
  Verdict* verdicts;        // batch_check
  std::atomic<size_t> next{0};
};

// The i-th string's result, with key as the library's buffer.
void do_one(Job& job, size_t i, char* key) {
  const char* inchi = job.inchis[i];
  if (inchi == nullptr) {
    if (job.keys != nullptr) job.keys[i] = BatchKey{};
    return;
  }
  // A check judges candidates only, as the tool does.
  if (job.keys == nullptr && !is_candidate(inchi)) return;
  int status = job.compute(inchi, key);
  if (job.keys != nullptr) {
    BatchKey& k = job.keys[i];
    k.status = status;
    size_t bytes = status == 0 ? strnlen(key, kKeyBytes) : 0;
    std::memcpy(k.key, key, bytes);
    k.key[bytes] = '\0';
    return;
  }
  size_t n = job.stored[i].bytes;
  const char* stored = stored_key(job.stored[i].text, n);
  job.verdicts[i] = judge(status == 0, key, stored, n);
}

void* work(void* arg) {
  Job& job = *static_cast<Job*>(arg);
  char key[256];
  for (;;) {
    size_t begin = job.next.fetch_add(kChunk, std::memory_order_relaxed);
    if (begin >= job.n) break;
    size_t end = job.n - begin < kChunk ? job.n : begin + kChunk;
    for (size_t i = begin; i < end; ++i) do_one(job, i, key);
  }
  return nullptr;
}

// Runs the job on the calling thread and threads - 1 more.
void run(Job& job, unsigned threads) {
  std::vector<pthread_t> started;
  if (threads > 1) started.reserve(threads - 1);
  for (unsigned t = 1; t < threads; ++t) {
    pthread_t thread;
    if (start_thread(thread, work, &job)) started.push_back(thread);
  }
  work(&job);
  for (pthread_t thread : started) pthread_join(thread, nullptr);
}

}  // namespace

unsigned batch_threads(unsigned requested, size_t n) {
  if (requested == 0) requested = static_cast<unsigned>(sysconf(_SC_NPROCESSORS_ONLN));
  if (requested > n) requested = static_cast<unsigned>(n);
  if (requested <= 1) return 1;
  unsigned workers = affordable_workers(requested);
  return workers < 2 ? 1 : workers;
}

void batch_keys(const char* const* inchis, size_t n, unsigned threads, BatchKey* keys,
                KeyFunction compute) {
  Job job{inchis, n, compute, keys, nullptr, nullptr};
  run(job, threads);
}

void batch_check(const char* const* inchis, const StoredKey* stored, size_t n, unsigned threads,
                 Verdict* verdicts, KeyFunction compute) {
  Job job{inchis, n, compute, nullptr, stored, verdicts};
  run(job, threads);
}
