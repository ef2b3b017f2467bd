// One line along the serial road.
#include "road.h"

#include "progress.h"
#include "streams.h"

bool travel(Road& r, char* line, uint32_t length, uint64_t end) {
  if (!annotate_line(*r.annotator, line, length, r.lines + 1, r.out)) return false;
  ++r.lines;
  if (is_progress_line(r.lines)) print_progress(r.console, r.lines, r.terminal);
  uint64_t previous = r.end;
  r.end = end;
  return !is_checkpoint(previous, end) || output_holds(r);
}

bool output_holds(Road& r) {
  FILE* log = r.annotator->log;
  bool log_ok = fflush(log) == 0 && ferror(log) == 0;
  r.stopped = !sync_output(r.out, r.encoder, r.raw) || !log_ok;
  return !r.stopped;
}
