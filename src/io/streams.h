// Opening the run's streams by name or "-", and closing them with a check.
#ifndef MOLSTAMP_STREAMS_H
#define MOLSTAMP_STREAMS_H

#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "io/codec/encoder.h"

// An open input or output: the stdio stream the run uses, and what it is on.
struct Stream {
  FILE* file = nullptr;
  FILE* raw = nullptr;    // output: the file itself, under file's compression
  struct stat st {};      // the file or device underneath
  int fd = -1;            // input: the descriptor underneath (owned by file)
  bool standard = false;  // named "-": standard input or output
  bool created = false;   // output: this run made the file (removed if abandoned)
  Format format = Format::kPlain;
  Archive archive = Archive::kNone;  // input: the archive it is, not to be read as text
  bool utf16 = false;                // input: UTF-16 text, not to be read as lines
  Encoder* encoder = nullptr;        // output: file's compressor, null when plain
  std::unique_ptr<char[]> buffer;    // stdio's buffers: must outlive file and raw
  std::unique_ptr<char[]> raw_buffer;
};

// Where a name for writing leads, found before anything is opened.
struct Destination {
  int standard_fd = -1;  // STDOUT_FILENO or STDERR_FILENO: the name is, or reaches, that stream
  bool exists = false;   // st describes it
  struct stat st {};
};

// The name that means a standard stream: stdin, stdout, or stderr for the log.
bool is_standard_stream(const char* name);

// Opens name for reading ("-": standard input) with a large buffer,
// decompressing gzip, zstd, bzip2, xz and lz4 recognised by their first
// bytes, and sets archive when the data is one and utf16 when it is UTF-16
// text. False when it cannot be opened or is a directory.
bool open_input(const char* name, Stream& in);

// True when both are the same inode on the same device, whatever it is.
bool same_inode(const struct stat& a, const struct stat& b);

// True when both are the same file, FIFO or pipe; character devices
// (terminals, /dev/null) may be shared freely.
bool same_file(const struct stat& a, const struct stat& b);

// True when writing to a (by name or descriptor) would write into b's file
// or FIFO: the same regular file, or the same FIFO or pipe, whose writer
// would never see its reader's end. Sockets and devices are not refused.
bool writes_into(const struct stat& a, const struct stat& b);

// True when writing to the open descriptor fd would write into st's file,
// FIFO or pipe.
bool descriptor_writes_into(int fd, const struct stat& st);

// What writing to name would reach: "-" is dash_fd; a name for the same file
// or pipe as standard output or error (/dev/stdout, /proc/self/fd/2, ...) is
// that stream, so that it is neither reopened nor truncated under it.
Destination find_destination(const char* name, int dash_fd);

// Opens name for writing at dest (a standard stream, or the file itself,
// created if missing but not yet truncated) with a large buffer; "-" is
// never compressed, other names are by their suffix (format_for_name). False
// on failure, with nothing left behind.
bool open_output(const char* name, const Destination& dest, Stream& out);

// Opens name for writing ("-": standard output) as above.
bool open_output(const char* name, Stream& out);

// Opens a file for writing without truncating it; sets created when this
// call made it. -1 on failure.
int open_for_writing(const char* name, bool& created);

// Empties an existing regular file opened by open_for_writing: the truncation
// that opening deferred until every file of the run could be opened.
bool truncate_opened(int fd, const struct stat& st, bool created);

// Closes an output that the run abandons before writing to it, removing the
// file if this run created it.
void abandon_output(const char* name, Stream& out);

// True when reading in would wait: its stdio buffer is empty and its
// descriptor fd has nothing to read now (a pipe or terminal between writes).
bool input_would_wait(FILE* in, int fd);

// Pushes everything written to file so far through its compressor (if any)
// into raw and raw to its file; false if any write to them has failed.
bool sync_output(FILE* file, Encoder* encoder, FILE* raw);

// Closes a stream we wrote; false if any write to it or the close failed.
bool close_written(FILE* f);

// Finishes and closes an output opened by open_output; false if any write or
// the close failed.
bool close_output(Stream& out);

#endif
