// Opening the run's streams by name or "-", and closing them with a check.
#ifndef MOLSTAMP_STREAMS_H
#define MOLSTAMP_STREAMS_H

#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "codec.h"

// An open input or output: the stdio stream the run uses, and what it is on.
struct Stream {
  FILE* file = nullptr;
  FILE* raw = nullptr;    // output: the file itself, under file's compression
  struct stat st {};      // the file or device underneath
  bool standard = false;  // standard input or output
  Format format = Format::kPlain;
  std::unique_ptr<char[]> buffer;  // stdio's buffers: must outlive file and raw
  std::unique_ptr<char[]> raw_buffer;
};

// Opens name for reading ("-": standard input) with a large buffer,
// decompressing gzip and zstd recognised by their first bytes. False when it
// cannot be opened.
bool open_input(const char* name, Stream& in);

// True when name is an existing regular file and the same file as st;
// devices such as /dev/null may be shared freely.
bool same_regular_file(const char* name, const struct stat& st);

// True when both are the same regular file.
bool same_regular_file(const struct stat& a, const struct stat& b);

// Fills st for the stream that opening name for writing would reach: the
// file if it exists, standard output for "-"; false when there is none yet.
bool stat_output(const char* name, struct stat& st);

// Opens name for writing ("-": standard output), created or truncated, with
// a large buffer; .gz and .zst names are compressed. False on failure.
bool open_output(const char* name, Stream& out);

// Closes a stream we wrote; false if any write to it or the close failed.
bool close_written(FILE* f);

// Finishes and closes an output opened by open_output; false if any write or
// the close failed.
bool close_output(Stream& out);

#endif
