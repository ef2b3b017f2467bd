// The serial road: annotated lines go into the run's final streams in input
// order, each line's output and warnings, then its progress print and, at a
// checkpoint, a check of the output and log. The serial run travels it a
// line at a time; so does the pipeline's writer, which also brings whole
// annotated blocks onto it.
#ifndef MOLSTAMP_ROAD_H
#define MOLSTAMP_ROAD_H

#include <cstdint>
#include <cstdio>

#include "io/codec/encoder.h"
#include "io/progress.h"
#include "keys/line_step.h"

struct Road {
  Annotator* annotator = nullptr;  // its log is the run's log
  LineStep step = annotate_line;   // the run's mode: line_step(annotator->format)
  FILE* out = nullptr;             // where annotated lines go
  Encoder* encoder = nullptr;      // out's compressor, or null
  FILE* raw = nullptr;             // the file under out (out itself when plain)
  Progress* progress = nullptr;    // where progress is shown
  int64_t lines = 0;               // lines travelled: the run's count
  uint64_t end = 0;                // input offset at the end of the last line travelled
  bool stopped = false;            // the output or log failed at a checkpoint
};

// The checkpoint check: pushes the output through its compressor to its
// file and flushes the log; false, with stopped set, if any write to either
// has failed.
bool output_holds(Road& r);

// Pushes what the road has written to the output's file and to the log, so
// that a reader downstream sees it while the input waits; failures are left
// for the next checkpoint to find.
void push_output(Road& r);

// Takes one line, ending at input offset end, along the road; false when the
// run must stop: a checkpoint found the output or log failed (stopped), or a
// key call ran out of memory where that stops the run. Inline: the serial
// run's loop is this, once per line.
inline bool travel(Road& r, char* line, uint32_t length, uint64_t end) {
  if (!r.step(*r.annotator, line, length, r.lines + 1, r.out)) return false;
  ++r.lines;
  if (is_progress_line(r.lines)) print_progress(*r.progress, r.lines);
  uint64_t previous = r.end;
  r.end = end;
  return !is_checkpoint(previous, end) || output_holds(r);
}

#endif
