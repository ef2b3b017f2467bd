// Compressed input behind an ordinary stdio stream, recognised by its first
// bytes, so that the line reader works on compressed files exactly as on
// plain ones.
#ifndef MOLSTAMP_CODEC_H
#define MOLSTAMP_CODEC_H

#include <cstddef>
#include <cstdio>

enum class Format { kPlain, kGzip, kZstd };

// The longest magic number; format_of needs at most this many first bytes.
constexpr size_t kMagicBytes = 4;

// gzip (1f 8b) or zstd (28 b5 2f fd, or a skippable frame 5X 2a 4d 18) by a
// stream's first n bytes, else plain.
Format format_of(const unsigned char* head, size_t n);

// True while the first n bytes could still grow into a magic number: reading
// further is needed to decide, and only then (a pipe's first short line must
// not wait for more).
bool may_become_magic(const unsigned char* head, size_t n);

// The output format a file name asks for: .gz gzip, .zst zstd, else plain.
Format format_for_name(const char* name);

// A read stream over fd, whose first n bytes (head) have already been read
// from it; decompresses format. Takes fd, which fclose closes. Reads fail
// (ferror) on corrupt or truncated data, after every byte decoded before the
// damage was found; max_read > 0 caps each read from fd (for tests). Null
// when memory runs out (fd is then closed).
FILE* open_decoder(int fd, Format format, const unsigned char* head, size_t n, size_t max_read = 0);

#endif
