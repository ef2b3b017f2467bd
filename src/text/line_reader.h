// The serial line reader: the input, a line at a time, into one buffer that
// only ever grows.
#ifndef MOLSTAMP_LINE_READER_H
#define MOLSTAMP_LINE_READER_H

#include <cstdint>
#include <cstdio>

#include "sys/buffer.h"

// The longest line the tool holds, in bytes.
constexpr uint32_t kMaxLineBytes = 2147483647u;

// Why a reader gave no more lines.
enum ReadError : int {
  kReadOk = 0,             // no failure: the end of the input
  kReadTooLong = 1,        // the line could not be held (memory or length limit)
  kReadFailed = 2,         // the input stream reported a read error
  kReadUnclosedQuote = 3,  // CSV: the input ended inside a quoted field (its record was given)
};

// True when a reader that stopped with error read all of its input: its
// end, or the end inside an unclosed quote (the rest given as one record).
inline bool input_complete(ReadError error) {
  return error == kReadOk || error == kReadUnclosedQuote;
}

// The line end a line was read with.
enum LineEnding : unsigned char { kEndNone, kEndLf, kEndCr, kEndCrLf };

// The one growable line buffer of a run; owned by the run, filled by the
// reader. Its bytes (data, capacity) are a ByteBuffer's, null until the first
// read, then 4096 times a power of two, at most 2^31.
struct LineBuffer : ByteBuffer {
  uint32_t length = 0;        // bytes of the current line, NULs included
  ReadError error = kReadOk;  // after each read
  uint64_t end = 0;  // input bytes read up to the end of the current line, its line end included
  unsigned char ending = kEndNone;  // the current line's line end
};

// Reads the next line of in into b (growing the buffer by doubling as
// needed), terminated by a NUL, with its byte count in b.length; LF, CR LF
// and a lone CR each end a line. Returns b.data, or null at the end of the
// input (error kReadOk), when the line cannot be held (kReadTooLong) or on a
// read error (kReadFailed).
char* read_text_line(FILE* in, LineBuffer& b);

// The serial reader of CSV records: lines, joined (with their line ends)
// while a quoted field is open.
struct RecordReader {
  char delimiter = ',';
  LineBuffer line;            // the line being read
  LineBuffer record;          // a record of several lines, gathered
  uint32_t length = 0;        // bytes of the record given
  ReadError error = kReadOk;  // after each read, as LineBuffer::error
  uint64_t end = 0;           // input bytes read up to the end of the record given
  bool unclosed = false;      // the record given ran to the end inside quotes
};

// Reads the next record of in as read_text_line reads a line, NUL-terminated
// with its byte count in r.length; a record ends at a line end outside
// quotes. A quoted field still open at the end of the input makes the rest
// one record, given whole; the next call then gives null with error
// kReadUnclosedQuote. A record cut short by a read error is not given.
char* read_record(FILE* in, RecordReader& r);

#endif
