// The block pipeline. The reader (the calling thread) fills slots with blocks
// of whole lines; workers annotate each block into memory with their own
// annotator (and compress it for a .gz or .zst output), marking where
// progress prints and checkpoints fall; the writer thread brings the blocks
// onto the serial road in input order. Locks are taken once per block, never
// per line.
#include "pipeline/pipeline.h"

#include <pthread.h>
#include <sys/types.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "io/streams.h"
#include "keys/key_rules.h"
#include "keys/structure_service.h"
#include "pipeline/block_reader.h"
#include "pipeline/pipeline_worker.h"
#include "pipeline/pipeline_writer.h"
#include "pipeline/slot_ring.h"
#include "sys/budget.h"
#include "text/line_reader.h"

namespace {

// A block this much larger than usual holds a very long line: the writer
// annotates it straight into the output, so that the line is not held twice.
constexpr size_t kLongBlockBytes = 4 * kBlockBytes;

// Blocks of lines that may need structure calls (some hundred microseconds a
// line, not a few): small enough that every worker gets blocks of its own on
// a file of a few thousand lines, large enough that a block's lock is taken
// once per hundred lines or so.
constexpr size_t kStructureBlockBytes = size_t{1} << 14;

// The string stream's write (fopencookie): appends all size bytes of buf to
// the string (the cookie, which the caller owns); returns size, or -1 when
// memory runs out (errno as the allocator left it).
ssize_t append_to_string(void* cookie, const char* buf, size_t size) {
  try {
    static_cast<std::string*>(cookie)->append(buf, size);
  } catch (...) {
    return -1;
  }
  return static_cast<ssize_t>(size);
}

// A write stream that appends to *s, which must outlive it; null on failure.
FILE* open_string_stream(std::string* s) {
  return fopencookie(s, "w", {nullptr, append_to_string, nullptr, nullptr});
}

// The reader: fills free slots in turn until the input ends or fails, or
// the writer stops the run. Returns why the reader stopped.
ReadError read_all(Pipeline& p, FILE* in, int wait_fd) {
  Splitter sp;
  if (p.road.annotator->format.delimiter != '\t') sp.delimiter = p.road.annotator->format.delimiter;
  // Lines the road took before (a header read for its column names).
  sp.lines = p.road.lines;
  sp.bytes = p.road.end;
  if (needs_structure(p.road.annotator->format.rules)) sp.block_bytes = kStructureBlockBytes;
  for (uint64_t sequence = 0;; ++sequence) {
    Slot& slot = p.slot(sequence);
    {
      std::unique_lock<std::mutex> lock(p.m);
      p.slot_free.wait(lock, [&] { return slot.state == Slot::kFree || p.stop; });
      if (p.stop) break;
    }
    if (!read_block(in, sp, slot.block)) break;
    slot.long_block = slot.block.size > kLongBlockBytes;
    slot.pushed = wait_fd >= 0 && input_would_wait(in, wait_fd);
    {
      std::unique_lock<std::mutex> lock(p.m);
      slot.state = Slot::kFilled;
      ++p.filled;
      p.block_filled.notify_one();
      // One long line at a time: its block goes out before another is read,
      // so that a run of them is held once, as in the serial run.
      if (slot.long_block) p.slot_free.wait(lock, [&] { return p.written == p.filled || p.stop; });
    }
    if (sp.done) break;
  }
  ReadError error = sp.error;
  free_splitter(sp);
  std::lock_guard<std::mutex> lock(p.m);
  p.reading_done = true;
  p.block_filled.notify_all();
  p.block_done.notify_all();
  return error;
}

}  // namespace

bool annotate_parallel(FILE* in, int wait_fd, Road& road, Format format, unsigned workers,
                       ReadError& read_error) {
  ThreadBudget budget = thread_budget(workers);
  if (budget.workers < 2) return false;
  workers = budget.workers;
  // The threads start next: malloc's arenas are capped for them now, for the
  // whole process.
  if (budget.arenas > 0) cap_arenas(budget.arenas);
  Pipeline p(road, format);
  // Enough slots that every worker has one at work and one waiting, and the
  // reader and the writer one each.
  p.slots.resize(2 * workers + 2);
  bool ok = true;
  for (Slot& slot : p.slots) {
    slot.out_file = open_string_stream(&slot.out);
    slot.log_file = open_string_stream(&slot.log);
    ok = ok && slot.out_file != nullptr && slot.log_file != nullptr;
  }
  // Each thread that keys gets its worker process for the structure calls,
  // forked now, while this is the process's only thread of ours (one that
  // cannot start leaves its thread's calls in this process, serialized).
  if (ok && needs_structure(road.annotator->format.rules)) {
    p.services.resize(workers + 1);
    for (StructureService& s : p.services) start_structure_service(s);
  }
  std::vector<pthread_t> threads(workers + 1);
  size_t started = 0;
  while (ok && started < threads.size()) {
    ok = start_thread(threads[started], started == 0 ? writer_main : worker_main, &p);
    if (ok) ++started;
  }
  if (ok) {
    read_error = read_all(p, in, wait_fd);
  } else {
    // Not every thread could start: the started ones see an empty input,
    // and the caller goes serial, since nothing has been read.
    std::lock_guard<std::mutex> lock(p.m);
    p.reading_done = true;
    p.block_filled.notify_all();
    p.block_done.notify_all();
  }
  for (size_t i = 0; i < started; ++i) pthread_join(threads[i], nullptr);
  for (StructureService& s : p.services) stop_structure_service(s);
  // The serial run, stopped at the same line, would not have read on to a
  // read error that the reader met ahead of the writer.
  const Annotator& a = *road.annotator;
  if (road.stopped || a.out_of_memory || a.worker_lost) read_error = kReadOk;
  for (Slot& slot : p.slots) {
    if (slot.out_file != nullptr) fclose(slot.out_file);
    if (slot.log_file != nullptr) fclose(slot.log_file);
    free_block(slot.block);
  }
  return ok;
}
