// Where a run looks up from its lines, the same in every mode: a progress
// print every 5000 lines, and a check of its output every 256 KiB of input.
#ifndef MOLSTAMP_PROGRESS_H
#define MOLSTAMP_PROGRESS_H

#include <cstdint>
#include <cstdio>

// Progress is shown after every this many lines.
constexpr int64_t kProgressEvery = 5000;

// True when the line numbered `number` is followed by a progress print.
inline bool is_progress_line(int64_t number) { return number % kProgressEvery == 0; }

// Shows that `lines` lines are done, overwriting the previous print; on a
// terminal at once.
void print_progress(FILE* console, int64_t lines, bool terminal);

// The output and log are checked (flushed, and their errors read) after the
// line in which each this many bytes of input end, so that a run whose
// output cannot be written stops reading soon, at the same line whatever the
// number of threads.
constexpr uint64_t kCheckpointBytes = uint64_t{1} << 18;

// True when the line that ends at input offset `end`, after a line that
// ended at `previous`, is a checkpoint.
inline bool is_checkpoint(uint64_t previous, uint64_t end) {
  return previous / kCheckpointBytes != end / kCheckpointBytes;
}

#endif
