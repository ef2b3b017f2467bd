// The slot ring of the block pipeline, shared by its reader, workers and
// writer.
#ifndef MOLSTAMP_SLOT_RING_H
#define MOLSTAMP_SLOT_RING_H

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "io/codec/codec.h"
#include "keys/annotator.h"
#include "pipeline/block_reader.h"
#include "pipeline/road.h"

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
  bool worker_lost = false;    // the worker process of a key call ended after `lines` lines
  std::string lost;            // how it ended, when it did
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
  // One worker process for the structure calls of each thread that keys
  // (the workers and the writer), started before them, when the rules need
  // structure calls; empty otherwise.
  std::vector<StructureService> services;
  size_t services_taken = 0;  // services handed to threads, under the mutex

  Pipeline(Road& r, Format f) : road(r), format(f) {}
  Slot& slot(uint64_t sequence) { return slots[sequence % slots.size()]; }
};

// A thread's own structure service from p's, null when there are none (the
// rules need no structure call).
inline StructureService* take_service(Pipeline& p) {
  std::lock_guard<std::mutex> lock(p.m);
  return p.services_taken < p.services.size() ? &p.services[p.services_taken++] : nullptr;
}

#endif
