// The workers: blocks annotated into memory, in parallel.
#include "pipeline/pipeline_worker.h"

#include <exception>
#include <string>
#include <utility>

#include "io/codec/encoder.h"
#include "io/progress.h"
#include "keys/annotator.h"
#include "keys/line_step.h"
#include "pipeline/slot_ring.h"

namespace {

// Annotates a slot's block into its out and log with the worker's annotator
// in the run's step, marking where progress prints and checkpoints fall.
void annotate_block(Slot& slot, Annotator& a, LineStep step) {
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
      const char* key = line;
      size_t n = length;
      slot.lead_is_key_line = strip_key_prefix(key, n);
      if (slot.lead_is_key_line) slot.lead_key.assign(key, n);
    }
    if (a.out_of_memory || a.worker_lost || !step(a, line, length, number, slot.out_file)) return;
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
  // A lost worker process stays lost for this thread: its later blocks are
  // left unannotated, and the writer stops at the first of them anyway.
  slot.worker_lost = a.worker_lost;
  if (a.worker_lost) slot.lost = a.note.reason;
  std::swap(slot.trailing, a.pending);
}

// A worker's part: the slot's block annotated, and compressed when the
// output is.
void annotate_slot(Slot& slot, Annotator& a, LineStep step, Encoder* encoder) {
  slot.out.clear();
  slot.log.clear();
  slot.packed.clear();
  slot.broken = false;
  slot.lead_is_key_line = false;
  slot.trailing.held = false;
  clearerr(slot.out_file);
  clearerr(slot.log_file);
  if (slot.long_block) return;  // the writer's
  annotate_block(slot, a, step);
  slot.broken = ferror(slot.out_file) != 0 || ferror(slot.log_file) != 0;
  if (encoder != nullptr && !slot.out.empty() &&
      !encode_block(encoder, slot.out.data(), slot.out.size(), slot.packed)) {
    slot.broken = true;
  }
}

}  // namespace

void* worker_main(void* arg) {
  Pipeline& p = *static_cast<Pipeline*>(arg);
  Annotator a = parallel_annotator(*p.road.annotator);
  a.service = take_service(p);
  LineStep step = p.road.step;
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
      annotate_slot(*slot, a, step, encoder);
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
