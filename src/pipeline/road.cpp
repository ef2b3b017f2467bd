// The checkpoint check of the serial road.
#include "pipeline/road.h"

#include "io/streams.h"

bool output_holds(Road& r) {
  FILE* log = r.annotator->log;
  bool log_ok = fflush(log) == 0 && ferror(log) == 0;
  r.stopped = !sync_output(r.out, r.encoder, r.raw) || !log_ok;
  return !r.stopped;
}

void push_output(Road& r) {
  sync_output(r.out, r.encoder, r.raw);
  fflush(r.annotator->log);
}
