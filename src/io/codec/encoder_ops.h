// What every compressor shares: the Encoder's state, how its compressed
// bytes are handed on, and the operations each format gives. Used by
// encoder.cpp and the format units (gzip.cpp, zstd.cpp, bzip2.cpp, xz.cpp,
// lz4.cpp), nobody else.
#ifndef MOLSTAMP_ENCODER_OPS_H
#define MOLSTAMP_ENCODER_OPS_H

#include <cstddef>
#include <cstdio>
#include <string>

#include "io/codec/encoder.h"

// The room for compressed bytes on their way: a stdio buffer and room to grow.
constexpr size_t kWriteChunk = (1 << 18) + (1 << 12);

// How far a call to the compressor goes with its output.
enum class Push { kNone, kFlush, kEnd };

// A format's compressor, its operations (below).
struct EncoderOps;

// Compresses into a FILE (a stream) or into memory (one block at a time).
struct Encoder {
  const EncoderOps* ops = nullptr;  // the format's operations
  FILE* sink = nullptr;             // stream mode: where compressed bytes go
  std::string* block = nullptr;     // block mode: where they go
  char* out = nullptr;              // compressed bytes on their way, kWriteChunk of them
  bool failed = false;              // a write to the sink failed: every later one fails too
  bool pending = false;             // input given since the last flush, not yet all emitted
  void* state = nullptr;            // the format's compressor
};

// Hands n compressed bytes from e.out on; false when the sink failed.
inline bool emit(Encoder& e, size_t n) {
  if (e.block != nullptr) {
    e.block->append(e.out, n);
    return true;
  }
  return fwrite(e.out, 1, n, e.sink) == n;
}

// One format's compressor: the row of encoder.cpp's table for that format.
struct EncoderOps {
  // Makes the compressor in e.state; false when memory runs out.
  bool (*make)(Encoder& e);
  // Begins a member, stream or frame; pledged > 0 is all its input's size.
  bool (*start)(Encoder& e, size_t pledged);
  // Compresses n bytes; then kFlush makes all given so far decodable, kEnd
  // finishes what start began. False on any failure.
  bool (*write)(Encoder& e, const char* data, size_t n, Push push);
  // Frees what make and start took, whatever state they left.
  void (*free)(Encoder& e);
};

// gzip at isa-l's level 3, in gzip.cpp.
extern const EncoderOps kGzipEncoder;
// zstd at its default level, with a checksum, in zstd.cpp.
extern const EncoderOps kZstdEncoder;
// bzip2 in 900 kB blocks, in bzip2.cpp.
extern const EncoderOps kBzip2Encoder;
// xz at -1 with CRC64, in xz.cpp.
extern const EncoderOps kXzEncoder;
// lz4 frames of linked 64 KiB blocks, in lz4.cpp.
extern const EncoderOps kLz4Encoder;

#endif
