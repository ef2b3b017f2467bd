// What every decompressor shares: the compressed bytes read ahead from the
// input, how far the data has gone, how a failure is handed out, and the
// operations each format gives. Used by codec.cpp and the format units
// (gzip.cpp, zstd.cpp, bzip2.cpp, xz.cpp, lz4.cpp), nobody else.
#ifndef MOLSTAMP_DECODER_H
#define MOLSTAMP_DECODER_H

#include <sys/types.h>

#include <cstddef>

// The most compressed bytes read from the input at once.
constexpr size_t kReadChunk = 1 << 17;

// Where compressed bytes come from.
struct Source {
  int fd = -1;          // negative: nothing beyond the bytes handed over at the start
  bool owned = true;    // the decoder closes fd
  off_t at = -1;        // >= 0: read with pread from here, leaving fd's offset alone
  size_t max_read = 0;  // > 0 caps each read (for tests)
};

// A format's decompressor, its operations (below).
struct DecoderOps;

// A decompressor's state, whatever the format.
struct Decoder {
  Source src;
  const DecoderOps* ops = nullptr;  // the format's; lz4's once skippable frames lead to lz4
  unsigned char* in = nullptr;      // compressed bytes read ahead; [in_pos, in_len) not yet used
  size_t in_pos = 0, in_len = 0;
  bool failed = false;       // damage found after some bytes were handed out
  bool more_output = false;  // the last call filled its output: more may wait
  bool in_unit = false;      // inside a member, stream or frame
  bool settled = true;       // false until skippable frames at the start are passed over
  void* state = nullptr;     // the format's decompressor
};

// Reads at most n bytes from src into buf: how many, 0 at the end, -1 on an error.
ssize_t read_source(Source& src, unsigned char* buf, size_t n);

// Reads more compressed input into d.in once all of it is used: >0, 0 at the
// end, -1 on an error.
ssize_t refill(Decoder& d);

// What a decoder's next step has to work with.
enum class Input {
  kReady,   // compressed bytes, or decoded output still waiting
  kEnd,     // the end of the input, between members, streams or frames
  kFailed,  // a read error, or the end inside a member, stream or frame
};

// Reads more compressed input once all of it is used and no decoded output
// waits, and says what the next step has.
Input next_input(Decoder& d);

// What a decoder of members or streams (gzip, bzip2) meets between two:
// another one, the end of the input (also when only zero bytes are left, as
// tape and block-device copies pad files and gzip accepts), or a failure,
// a zero byte followed by anything else among them.
Input next_member(Decoder& d);

// Keeps at least k (<= kReadChunk) unused compressed bytes in d.in, reading
// as needed: how many there are, fewer than k only at the end of the input;
// -1 on a read error.
ssize_t gather(Decoder& d, size_t k);

// Hands out what was decoded before a failure (produced bytes); the failure
// itself, EIO, comes with the next call.
ssize_t fail(Decoder& d, size_t produced);

// One format's decompressor: the row of codec.cpp's table for that format.
struct DecoderOps {
  // Gives d this format's decompressor in d.state; false when memory runs out.
  bool (*start)(Decoder& d);
  // Decodes into buf (at most size bytes): how many, 0 at the end of the
  // data, or what fail(d, ...) returns on damage, truncation or anything
  // but another member, stream or frame where one may follow.
  ssize_t (*read)(Decoder& d, char* buf, size_t size);
  // Frees what start gave d, whatever state reads left it in.
  void (*end)(Decoder& d);
  // The least decoded bytes the format is best read in at a time, 0 for any.
  size_t decoded_chunk;
};

// gzip members (isa-l), in gzip.cpp.
extern const DecoderOps kGzipDecoder;
// zstd frames, skippable frames passed over, in zstd.cpp.
extern const DecoderOps kZstdDecoder;
// bzip2 streams (libbz2), in bzip2.cpp.
extern const DecoderOps kBzip2Decoder;
// xz streams and their padding (liblzma), in xz.cpp.
extern const DecoderOps kXzDecoder;
// lz4 frames (liblz4's frame format), in lz4.cpp.
extern const DecoderOps kLz4Decoder;

#endif
