// The writer: each annotated block onto the road, its warnings, progress
// prints and checkpoints where the serial run makes them.
#include "pipeline/pipeline_writer.h"

#include <string>
#include <utility>

#include "io/codec/encoder.h"
#include "io/progress.h"
#include "io/streams.h"
#include "keys/annotator.h"
#include "keys/check.h"
#include "pipeline/slot_ring.h"

namespace {

// Swaps what a run's annotator carries from line to line: the counts, the
// candidate waiting for its next line, whether memory ran out and whether a
// worker process was lost (with what its key call said).
void swap_carried(Annotator& x, Annotator& y) {
  std::swap(x.counts, y.counts);
  std::swap(x.pending, y.pending);
  std::swap(x.out_of_memory, y.out_of_memory);
  std::swap(x.worker_lost, y.worker_lost);
  std::swap(x.note, y.note);
}

// A long block: its lines travel the road one by one, as in the serial run,
// into its own member, stream or frame when the output is compressed. They
// are annotated by the writer's own annotator, which stops the run at a key
// call out of memory as a worker's does; what the run's annotator carries
// from line to line is lent to it for the block, and taken back however the
// block ends.
void travel_long_block(Pipeline& p, Slot& slot, Annotator& own_annotator) {
  Road& r = p.road;
  Road own = r;
  if (p.format != Format::kPlain) own.out = open_encoder(r.raw, p.format, &own.encoder);
  if (own.out == nullptr) {
    r.annotator->out_of_memory = true;
    return;
  }
  own.annotator = &own_annotator;
  swap_carried(*r.annotator, own_annotator);
  bool going = true;
  try {
    for_each_line(slot.block, [&](char* line, uint32_t length, uint64_t end) {
      going = going && travel(own, line, length, end);
    });
  } catch (...) {
    swap_carried(*r.annotator, own_annotator);
    throw;
  }
  swap_carried(*r.annotator, own_annotator);
  // A failed write shows in raw's error state, as for any other block.
  if (own.out != r.raw) fclose(own.out);
  r.lines = own.lines;
  r.end = own.end;
  r.stopped = own.stopped;
}

// Check mode on line files: judges the candidate that ended the block
// before against this block's first line, writing its report line (in a
// member, stream or frame of its own when the output is compressed) where
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
// makes them; a long block is annotated by own_annotator on the way. False
// when the run must stop.
bool bring_block(Pipeline& p, Slot& slot, Annotator& own_annotator) {
  Road& r = p.road;
  Annotator& a = *r.annotator;
  // A block whose output could not be held: memory ran out in its worker.
  if (slot.broken) {
    a.out_of_memory = true;
    return false;
  }
  if (slot.long_block) {
    travel_long_block(p, slot, own_annotator);
    return !r.stopped && !a.out_of_memory && !a.worker_lost;
  }
  if (a.pending.held && !settle_carried(p, slot)) return false;
  bool packed = p.format != Format::kPlain;
  if (packed) fwrite_unlocked(slot.packed.data(), 1, slot.packed.size(), r.raw);
  size_t out_at = 0, log_at = 0;
  auto bring_to = [&](size_t out_offset, size_t log_offset) {
    if (!packed) fwrite_unlocked(slot.out.data() + out_at, 1, out_offset - out_at, r.raw);
    if (log_offset > log_at) clear_progress(*r.progress, a.log);
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
  if (slot.worker_lost) {
    a.worker_lost = true;
    a.note.reason = slot.lost;
  }
  // A candidate that ends the block waits for the next block's first line.
  if (slot.trailing.held) std::swap(a.pending, slot.trailing);
  return !slot.out_of_memory && !slot.worker_lost;
}

}  // namespace

void* writer_main(void* arg) {
  Pipeline& p = *static_cast<Pipeline*>(arg);
  Annotator own_annotator = parallel_annotator(*p.road.annotator);
  own_annotator.log = p.road.annotator->log;
  own_annotator.progress = p.road.annotator->progress;
  own_annotator.service = take_service(p);
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
        going = bring_block(p, *slot, own_annotator);
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
