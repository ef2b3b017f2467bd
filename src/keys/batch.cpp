// The batch: threads take chunks of the strings from a shared index, so that
// a thread slowed by other load does not hold the others up.
#include "keys/batch.h"

#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "keys/structure.h"
#include "keys/structure_service.h"
#include "sys/budget.h"

namespace {

// Small enough to balance the threads, large enough that the shared index
// is touched once per 100 microseconds or so.
constexpr size_t kChunk = 64;

// Between two polls: well within the 0.2 s in which an interrupt should take
// effect, seldom enough that whatever the poll locks (Python's GIL) costs
// nothing.
constexpr long long kPollNanoseconds = 20 * 1000 * 1000;

// One batch: its strings, how they are keyed, where its results go, the
// next chunk to take, whether to stop, and how many started threads have
// ended.
struct Job {
  const char* const* inchis;
  size_t n;
  KeyFunction compute;
  const KeyRules& rules;
  BatchKey* keys;            // batch_keys
  const StoredKey* stored;   // batch_check
  Verdict* verdicts;         // batch_check
  std::string* differences;  // batch_check, when asked
  // A rule is in force: rule_key keys the strings, not compute.
  bool ruled = rules.standard || rules.validate != Validation::kNone;
  std::atomic<size_t> next{0};
  std::atomic<bool> stop{false};
  std::mutex mutex{};  // guards ended
  std::condition_variable one_ended{};
  size_t ended = 0;
};

// What one thread keys with: the library's buffer, what a key under rules
// says beside its status, and the thread's structure service (null: none).
struct Keyer {
  char key[kKeyBufferBytes];
  KeyNote note;
  StructureService* service;
};

// A thread of the batch: its job and its structure service.
struct Share {
  Job* job;
  StructureService* service;
};

// The key of inchi under the job's rules, or by its key call when none is in
// force. A worker lost under the string is replaced and asked once more: a
// worker killed from outside does not cost a key, an InChI that takes the
// library down fails.
int key_of(const Job& job, Keyer& k, const char* inchi) {
  if (!job.ruled) return job.compute(inchi, k.key);
  int status = rule_key(job.rules, k.service, inchi, k.key, k.note);
  if (status == kKeyWorkerLost) status = rule_key(job.rules, k.service, inchi, k.key, k.note);
  return status;
}

// The i-th string's result.
void do_one(Job& job, size_t i, Keyer& k) {
  char* key = k.key;
  const char* inchi = job.inchis[i];
  if (inchi == nullptr) {
    if (job.keys != nullptr) job.keys[i] = BatchKey{};
    return;
  }
  // A check judges candidates only, as the tool does: the others get no
  // verdict.
  if (job.keys == nullptr && !is_candidate(inchi)) return;
  int status = key_of(job, k, inchi);
  if (job.keys != nullptr) {
    BatchKey& out = job.keys[i];
    out.status = status;
    size_t bytes = status == 0 ? strnlen(key, kKeyBytes) : 0;
    std::memcpy(out.key, key, bytes);
    out.key[bytes] = '\0';
    return;
  }
  size_t n = job.stored[i].bytes;
  const char* stored = job.stored[i].text;
  strip_key_prefix(stored, n);
  Verdict v = judge(status == 0, key, stored, n);
  job.verdicts[i] = v;
  if (job.differences != nullptr)
    job.differences[i] =
        check_difference(v, status, k.note, key, job.stored[i].text, job.stored[i].bytes);
}

// Nanoseconds of a clock cheap enough to read after every string.
long long coarse_now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
  return t.tv_sec * 1000000000LL + t.tv_nsec;
}

// Asks poll when `due` has passed, and sets the next due time; a no stops the
// job.
void poll_when_due(Job& job, const BatchPoll& poll, long long& due) {
  long long now = coarse_now();
  if (now < due) return;
  due = now + kPollNanoseconds;
  if (!poll.keep_going(poll.context)) job.stop.store(true, std::memory_order_relaxed);
}

// Takes chunks until none is left or the job stops, with service for the
// structure calls, asking poll (when not null) between strings.
void take_chunks(Job& job, StructureService* service, const BatchPoll* poll) {
  Keyer k;
  k.service = service;
  long long due = coarse_now() + kPollNanoseconds;
  while (!job.stop.load(std::memory_order_relaxed)) {
    size_t begin = job.next.fetch_add(kChunk, std::memory_order_relaxed);
    if (begin >= job.n) break;
    size_t end = job.n - begin < kChunk ? job.n : begin + kChunk;
    for (size_t i = begin; i < end && !job.stop.load(std::memory_order_relaxed); ++i) {
      do_one(job, i, k);
      if (poll != nullptr) poll_when_due(job, *poll, due);
    }
  }
}

// A started thread: its chunks, then word to the calling thread.
void* work(void* arg) {
  Share& share = *static_cast<Share*>(arg);
  Job& job = *share.job;
  take_chunks(job, share.service, nullptr);
  std::lock_guard<std::mutex> lock(job.mutex);
  ++job.ended;
  job.one_ended.notify_one();
  return nullptr;
}

// Waits for the started threads, asking poll (when not null) meanwhile, then
// joins them: none outlives the batch.
void wait_for_threads(Job& job, const std::vector<pthread_t>& started, const BatchPoll* poll) {
  if (poll != nullptr) {
    auto due = std::chrono::steady_clock::now() + std::chrono::nanoseconds(kPollNanoseconds);
    std::unique_lock<std::mutex> lock(job.mutex);
    while (job.ended < started.size() && !job.stop.load(std::memory_order_relaxed)) {
      if (job.one_ended.wait_until(lock, due) != std::cv_status::timeout) continue;
      // Not under the lock: the poll may wait for a lock of its own.
      lock.unlock();
      if (!poll->keep_going(poll->context)) job.stop.store(true, std::memory_order_relaxed);
      due = std::chrono::steady_clock::now() + std::chrono::nanoseconds(kPollNanoseconds);
      lock.lock();
    }
  }
  for (pthread_t thread : started) pthread_join(thread, nullptr);
}

// True when some string of the job will need a structure call: under
// --validate=structure any string may (a check's candidates only), under -s
// alone the non-standard InChIs. A batch with none forks no worker.
bool needs_workers(const Job& job) {
  if (!needs_structure(job.rules)) return false;
  for (size_t i = 0; i < job.n; ++i) {
    const char* inchi = job.inchis[i];
    if (inchi == nullptr || (job.keys == nullptr && !is_candidate(inchi))) continue;
    if (job.rules.validate == Validation::kStructure || is_non_standard_inchi(inchi)) return true;
  }
  return false;
}

// Runs the job on the calling thread and threads - 1 more, each with a worker
// process of its own when structure calls are needed: all forked here first,
// so that none is forked while the batch's threads run, and ended once they
// have; false when poll stopped it.
bool run(Job& job, unsigned threads, const BatchPoll& poll) {
  const BatchPoll* asked = poll.keep_going != nullptr ? &poll : nullptr;
  std::vector<StructureService> services(needs_workers(job) ? threads : 0);
  // One that cannot start leaves its thread's calls in this process.
  for (StructureService& s : services) start_structure_service(s);
  std::vector<Share> shares(threads);
  for (unsigned t = 0; t < threads; ++t)
    shares[t] = Share{&job, services.empty() ? nullptr : &services[t]};
  std::vector<pthread_t> started;
  if (threads > 1) started.reserve(threads - 1);
  for (unsigned t = 1; t < threads; ++t) {
    pthread_t thread;
    if (start_thread(thread, work, &shares[t])) started.push_back(thread);
  }
  take_chunks(job, shares[0].service, asked);
  wait_for_threads(job, started, asked);
  for (StructureService& s : services) stop_structure_service(s);
  return !job.stop.load(std::memory_order_relaxed);
}

}  // namespace

unsigned batch_threads(unsigned requested, size_t n) {
  requested = resolve_jobs(requested);
  // A thread without a chunk of its own would only start and end.
  size_t chunks = n / kChunk + (n % kChunk != 0 ? 1 : 0);
  if (requested > chunks) requested = static_cast<unsigned>(chunks);
  if (requested <= 1) return 1;
  ThreadBudget budget = thread_budget(requested);
  if (budget.workers < 2) return 1;
  // The batch's threads start next: their arenas are capped now, for the
  // whole process (the Python interpreter's allocator too).
  if (budget.arenas > 0) cap_arenas(budget.arenas);
  return budget.workers;
}

bool batch_keys(const char* const* inchis, size_t n, unsigned threads, BatchKey* keys,
                KeyFunction compute, BatchPoll poll, const KeyRules& rules) {
  Job job{inchis, n, compute, rules, keys, nullptr, nullptr, nullptr};
  return run(job, threads, poll);
}

bool batch_check(const char* const* inchis, const StoredKey* stored, size_t n, unsigned threads,
                 Verdict* verdicts, KeyFunction compute, BatchPoll poll, const KeyRules& rules,
                 std::string* differences) {
  Job job{inchis, n, compute, rules, nullptr, stored, verdicts, differences};
  return run(job, threads, poll);
}
