// The parallel block pipeline of -j: one reader cuts the input into blocks
// of whole lines, workers annotate blocks into memory, one writer brings them
// onto the serial road in input order.
#ifndef MOLSTAMP_PIPELINE_H
#define MOLSTAMP_PIPELINE_H

#include <cstdio>

#include "io/codec/codec.h"
#include "pipeline/road.h"
#include "text/line_reader.h"

// Annotates all of in along road as the serial run does, byte for byte:
// output (compressed as format), log, progress prints, counts, and the line
// a failed output stops at. Each worker, and the writer for the block of a
// very long line, annotates in road's step with an annotator of its own
// (parallel_annotator of road's), whose key call out of memory stops the run
// where it is; road's annotator is left as it was. When the rules need
// structure calls, each of those threads makes them in a worker process of
// its own, forked before any thread starts and ended after all have joined;
// a worker process that ends under a key call stops the run after the lines
// before it, with road's annotator's worker_lost set and its note's reason
// saying how the process ended. read_error gets the reader's ReadError. When
// wait_fd (in's descriptor, or -1) has nothing to read, what was read before
// is pushed out. False, with nothing read, when fewer than two workers can
// be started (under an address-space limit, say): the caller goes serial.
bool annotate_parallel(FILE* in, int wait_fd, Road& road, Format format, unsigned workers,
                       ReadError& read_error);

#endif
