// The block pipeline. The reader (the calling thread) fills slots with blocks
// of whole lines; workers annotate each block into memory with their own
// annotator (and compress it for a .gz or .zst output), marking where
// progress prints and checkpoints fall; the writer thread brings the blocks
// onto the serial road in input order. Locks are taken once per block, never
// per line.
#include "pipeline.h"

#include <pthread.h>
#include <sys/types.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "block_reader.h"
#include "budget.h"
#include "check.h"
#include "line_reader.h"
#include "progress.h"
#include "streams.h"

namespace {

// A block this much larger than usual holds a very long line: the writer
// annotates it straight into the output, so that the line is not held twice.
constexpr size_t kLongBlockBytes = 4 * kBlockBytes;

// A write stream that appends to a string; fails when memory runs out.
ssize_t append_to_string(void* cookie, const char* buf, size_t size) {
  try {
    static_cast<std::string*>(cookie)->append(buf, size);
  } catch (...) {
    return -1;
  }
  return static_cast<ssize_t>(size);
}

FILE* open_string_stream(std::string* s) {
  return fopencookie(s, "w", {nullptr, append_to_string, nullptr, nullptr});
}

// A line inside a block after which the serial road prints progress or
// checks its output: where the block's output and log stand there, and its
// counts up to there.
struct Mark {
  int64_t line;
  size_t out_offset, log_offset;
  Counts counts;
  bool progress, checkpoint;
};

// The slot ring. A slot carries one block from the reader through a worker
// to the writer, and its state moves only forward around the ring:
//   kFree   -> kFilled  by the reader, once it has read a block into it;
//   kFilled -> kDone    by the worker that took it (taken counts those),
//                       once the block is annotated;
//   kDone   -> kFree    by the writer, once the block is on the road.
// Slot number n (counting blocks from 0) is slots[n % slots.size()]. The
// states and the counters change under the mutex; every other field of a
// slot belongs to whichever thread its state gives it to (the reader while
// kFree, its worker while kFilled, the writer while kDone), and needs no lock.
struct Slot {
  enum State { kFree, kFilled, kDone };
  State state = kFree;
  Block block;
  bool long_block = false;   // annotated by the writer, straight into the output
  bool pushed = false;       // the input paused after it: its output goes out at once
  std::string out;           // the annotated block
  std::string packed;        // out compressed, for a .gz or .zst output
  std::string log;           // the block's warnings
  FILE* out_file = nullptr;  // appends to out
  FILE* log_file = nullptr;  // appends to log
  std::vector<Mark> marks;
  int64_t lines = 0;  // lines annotated: all of the block's, unless memory ran out
  Counts counts;
  // Check mode on line files, where a candidate's stored key is on the line
  // after it: the block's first line as the stored key of the candidate that
  // ended the block before (lead_key, or none when lead_is_key_line is
  // false), and a candidate that ends this block, waiting for the next.
  bool lead_is_key_line = false;
  std::string lead_key;
  PendingCandidate trailing;
  bool out_of_memory = false;  // a key call ran out of memory after `lines` lines
  bool broken = false;         // its output could not be held or compressed
};

struct Pipeline {
  Road& road;
  Format format;
  std::mutex m;
  std::condition_variable block_filled, block_done, slot_free;
  std::vector<Slot> slots;
  uint64_t filled = 0;   // blocks handed out by the reader
  uint64_t taken = 0;    // blocks taken by workers
  uint64_t written = 0;  // blocks brought onto the road by the writer
  bool reading_done = false;
  bool stop = false;  // the writer met a failure: read no more

  Pipeline(Road& r, Format f) : road(r), format(f) {}
  Slot& slot(uint64_t sequence) { return slots[sequence % slots.size()]; }
};

// Annotates a slot's block into its out and log with the worker's annotator,
// marking where progress prints and checkpoints fall.
void annotate_block(Slot& slot, Annotator& a) {
  slot.marks.clear();
  a.counts = Counts{};
  a.out_of_memory = false;
  a.pending.held = false;
  a.log = slot.log_file;
  slot.lines = 0;
  int64_t number = slot.block.first_line;
  uint64_t previous = slot.block.start;
  bool lines_checked = a.format.check && a.format.field == 0;
  for_each_line(slot.block, [&](char* line, uint32_t length, uint64_t end) {
    if (lines_checked && number == slot.block.first_line && number > 1) {
      size_t n = length;
      const char* key = key_line_key(line, n);
      slot.lead_is_key_line = key != nullptr;
      if (key != nullptr) slot.lead_key.assign(key, n);
    }
    if (a.out_of_memory || !annotate_line(a, line, length, number, slot.out_file)) return;
    ++slot.lines;
    bool progress = is_progress_line(number);
    bool checkpoint = is_checkpoint(previous, end);
    if (progress || checkpoint) {
      fflush(slot.out_file);
      fflush(slot.log_file);
      slot.marks.push_back(
          {number, slot.out.size(), slot.log.size(), a.counts, progress, checkpoint});
    }
    previous = end;
    ++number;
  });
  fflush(slot.out_file);
  fflush(slot.log_file);
  slot.counts = a.counts;
  slot.out_of_memory = a.out_of_memory;
  std::swap(slot.trailing, a.pending);
}

// A worker's part: the slot's block annotated, and compressed when the
// output is.
void annotate_slot(Slot& slot, Annotator& a, Encoder* encoder) {
  slot.out.clear();
  slot.log.clear();
  slot.packed.clear();
  slot.broken = false;
  slot.lead_is_key_line = false;
  slot.trailing.held = false;
  clearerr(slot.out_file);
  clearerr(slot.log_file);
  if (slot.long_block) return;  // the writer's
  annotate_block(slot, a);
  slot.broken = ferror(slot.out_file) != 0 || ferror(slot.log_file) != 0;
  if (encoder != nullptr && !slot.out.empty() &&
      !encode_block(encoder, slot.out.data(), slot.out.size(), slot.packed)) {
    slot.broken = true;
  }
}

void* worker_main(void* arg) {
  Pipeline& p = *static_cast<Pipeline*>(arg);
  Annotator a;
  a.format = p.road.annotator->format;
  a.compute = p.road.annotator->compute;
  a.out_of_memory_stops = true;
  Encoder* encoder = p.format == Format::kPlain ? nullptr : new_encoder(p.format);
  bool no_encoder = p.format != Format::kPlain && encoder == nullptr;
  for (;;) {
    Slot* slot;
    {
      std::unique_lock<std::mutex> lock(p.m);
      p.block_filled.wait(lock, [&] { return p.taken < p.filled || p.reading_done; });
      if (p.taken == p.filled) break;
      slot = &p.slot(p.taken++);
    }
    // Out of memory in a thread must not end the process: the block is lost,
    // and the run will say that the output is incomplete.
    try {
      annotate_slot(*slot, a, encoder);
    } catch (...) {
      slot->broken = true;
    }
    if (no_encoder) slot->broken = true;
    {
      std::lock_guard<std::mutex> lock(p.m);
      slot->state = Slot::kDone;
      p.block_done.notify_all();
    }
  }
  free_encoder(encoder);
  return nullptr;
}

// A long block: its lines travel the road one by one, as in the serial run,
// into its own gzip member or zstd frame when the output is compressed.
void travel_long_block(Pipeline& p, Slot& slot) {
  Road& r = p.road;
  Road own = r;
  if (p.format != Format::kPlain) own.out = open_encoder(r.raw, p.format, &own.encoder);
  if (own.out == nullptr) {
    r.annotator->out_of_memory = true;
    return;
  }
  bool going = true;
  for_each_line(slot.block, [&](char* line, uint32_t length, uint64_t end) {
    going = going && travel(own, line, length, end);
  });
  // A failed write shows in raw's error state, as for any other block.
  if (own.out != r.raw) fclose(own.out);
  r.lines = own.lines;
  r.end = own.end;
  r.stopped = own.stopped;
}

// Check mode on line files: judges the candidate that ended the block
// before against this block's first line, writing its report line (in a
// gzip member or zstd frame of its own when the output is compressed) where
// the serial run writes it, as part of that first line's output. False when
// memory ran out.
bool settle_carried(Pipeline& p, const Slot& slot) {
  Road& r = p.road;
  FILE* out = r.raw;
  if (p.format != Format::kPlain) out = open_encoder(r.raw, p.format);
  if (out == nullptr) {
    r.annotator->out_of_memory = true;
    return false;
  }
  const std::string& key = slot.lead_key;
  settle_pending(*r.annotator, slot.lead_is_key_line ? key.data() : "",
                 slot.lead_is_key_line ? key.size() : 0, out);
  if (out != r.raw) fclose(out);
  return true;
}

// Brings an annotated block onto the road: its output and log up to each
// mark, then the mark's progress print or checkpoint, as the serial road
// makes them. False when the run must stop.
bool bring_block(Pipeline& p, Slot& slot) {
  Road& r = p.road;
  Annotator& a = *r.annotator;
  // A block whose output could not be held: memory ran out in its worker.
  if (slot.broken) {
    a.out_of_memory = true;
    return false;
  }
  if (slot.long_block) {
    travel_long_block(p, slot);
    return !r.stopped && !a.out_of_memory;
  }
  if (a.pending.held && !settle_carried(p, slot)) return false;
  bool packed = p.format != Format::kPlain;
  if (packed) fwrite_unlocked(slot.packed.data(), 1, slot.packed.size(), r.raw);
  size_t out_at = 0, log_at = 0;
  auto bring_to = [&](size_t out_offset, size_t log_offset) {
    if (!packed) fwrite_unlocked(slot.out.data() + out_at, 1, out_offset - out_at, r.raw);
    fwrite(slot.log.data() + log_at, 1, log_offset - log_at, a.log);
    out_at = out_offset;
    log_at = log_offset;
  };
  for (const Mark& mark : slot.marks) {
    bring_to(mark.out_offset, mark.log_offset);
    r.lines = mark.line;
    if (mark.progress) print_progress(*r.progress, mark.line);
    if (mark.checkpoint && !output_holds(r)) {
      add_counts(a.counts, mark.counts);
      return false;
    }
  }
  bring_to(slot.out.size(), slot.log.size());
  r.lines = slot.block.first_line + slot.lines - 1;
  r.end = slot.block.start + slot.block.size;
  add_counts(a.counts, slot.counts);
  a.out_of_memory = slot.out_of_memory;
  // A candidate that ends the block waits for the next block's first line.
  if (slot.trailing.held) std::swap(a.pending, slot.trailing);
  return !slot.out_of_memory;
}

void* writer_main(void* arg) {
  Pipeline& p = *static_cast<Pipeline*>(arg);
  for (;;) {
    Slot* slot;
    bool going;
    {
      std::unique_lock<std::mutex> lock(p.m);
      p.block_done.wait(lock, [&] {
        return (p.written < p.filled && p.slot(p.written).state == Slot::kDone) ||
               (p.reading_done && p.written == p.filled);
      });
      if (p.written == p.filled) break;
      slot = &p.slot(p.written);
      going = !p.stop;  // after a failure, blocks are only handed back
    }
    if (going) {
      try {
        going = bring_block(p, *slot);
      } catch (...) {
        p.road.annotator->out_of_memory = true;
        going = false;
      }
      if (going && slot->pushed) push_output(p.road);
    }
    // A long line's buffer is not kept for the blocks that follow.
    if (slot->long_block) free_block(slot->block);
    {
      std::lock_guard<std::mutex> lock(p.m);
      if (!going) p.stop = true;
      slot->state = Slot::kFree;
      ++p.written;
      p.slot_free.notify_all();
    }
  }
  return nullptr;
}

// The reader: fills free slots in turn until the input ends or fails, or
// the writer stops the run. Returns the reader's ReadError.
int read_all(Pipeline& p, FILE* in, int wait_fd) {
  Splitter sp;
  if (p.road.annotator->format.delimiter != '\t') sp.delimiter = p.road.annotator->format.delimiter;
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
  int error = sp.error;
  free_splitter(sp);
  std::lock_guard<std::mutex> lock(p.m);
  p.reading_done = true;
  p.block_filled.notify_all();
  p.block_done.notify_all();
  return error;
}

}  // namespace

bool annotate_parallel(FILE* in, int wait_fd, Road& road, Format format, unsigned workers,
                       int& read_error) {
  workers = affordable_workers(workers);
  if (workers < 2) return false;
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
  // The writer's long blocks stop the run when memory runs out, as blocks
  // annotated by the workers do.
  road.annotator->out_of_memory_stops = true;
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
  road.annotator->out_of_memory_stops = false;
  // The serial run, stopped at the same line, would not have read on to a
  // read error that the reader met ahead of the writer.
  if (road.stopped || road.annotator->out_of_memory) read_error = kReadOk;
  for (Slot& slot : p.slots) {
    if (slot.out_file != nullptr) fclose(slot.out_file);
    if (slot.log_file != nullptr) fclose(slot.log_file);
    free_block(slot.block);
  }
  return ok;
}
