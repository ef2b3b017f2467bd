// Compressed input behind an ordinary stdio stream, its format recognised by
// its first bytes (format.h), so that the line reader works on compressed
// files exactly as on plain ones; and a look at the first decoded bytes, so
// that archives and UTF-16 text are refused.
#ifndef MOLSTAMP_CODEC_H
#define MOLSTAMP_CODEC_H

#include <cstddef>
#include <cstdio>

#include "io/codec/format.h"

// The most first bytes open_decoder takes back: what one read of a pipe can
// give at most.
constexpr size_t kHeadBytes = 1 << 16;

// The least decoded bytes an input of format is best read in at a time, 0
// for any: 4 MiB for bzip2, whose decoder walks a large table in random
// order that the work between two reads pushes out of the caches.
size_t decoded_chunk_for(Format format);

// A read stream over fd, whose first n bytes (head) have already been read
// from it; decompresses format. Takes fd, which fclose closes. Reads fail
// (ferror) on corrupt or truncated data, after every byte decoded before the
// damage was found; max_read > 0 caps each read from fd (for tests). Null
// when memory runs out (fd is then closed).
FILE* open_decoder(int fd, Format format, const unsigned char* head, size_t n, size_t max_read = 0);

// Decodes the first bytes of what open_decoder would give, without taking
// them: up to want bytes into to, from head (the first n bytes, already read
// from fd) and, when fd is not negative, the rest of fd, read with pread from
// its offset, which stays where it is. With fd negative, head alone is
// decoded: a pipe is never made to wait for a look. Returns how many bytes it
// decoded, fewer than want at the end of the data, at damage, or when head
// runs out.
size_t preview_decoded(int fd, Format format, const unsigned char* head, size_t n,
                       unsigned char* to, size_t want);

#endif
