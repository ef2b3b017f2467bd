// What a stdio input stream holds ahead of its read position, read and
// taken straight out of its buffer.
//
// glibc only: these reach into glibc's FILE, whose read pointers are the ones
// getc_unlocked itself moves; no portable interface shows the buffered
// bytes, and a line taken from them with one search and one copy, not a
// call per byte, is most of the line reader's speed.
// Inline: the serial reader calls them for every line.
#ifndef MOLSTAMP_STDIO_PEEK_H
#define MOLSTAMP_STDIO_PEEK_H

#include <cstddef>
#include <cstdio>

// Bytes stdio has read from the source and not yet given: [begin, end).
struct Buffered {
  char* begin;
  char* end;
};

// The bytes in holds ahead of its read position; empty (begin >= end) when
// the next read refills the buffer.
inline Buffered buffered(FILE* in) { return {in->_IO_read_ptr, in->_IO_read_end}; }

// True when in holds no byte ahead of its read position.
inline bool nothing_buffered(FILE* in) { return in->_IO_read_ptr >= in->_IO_read_end; }

// Takes n of the bytes buffered(in) gives (n at most their number), as n
// calls of getc_unlocked would.
inline void advance_buffered(FILE* in, size_t n) { in->_IO_read_ptr += n; }

#endif
