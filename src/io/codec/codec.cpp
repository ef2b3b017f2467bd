// The read stream that hands an input's decoded bytes to stdio: the
// fopencookie read function fills stdio's own buffer, so decoding costs no
// extra copy per byte on the way to the line reader. Each format's decoding
// is one row of decoder_of's table, in its own unit.
#include "io/codec/codec.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "io/codec/decoder.h"

namespace {

// Hands out the first bytes, read to recognise the input, then reads the
// input as it is: how many bytes, 0 at the end, -1 with errno EIO on a read
// error.
ssize_t plain_read(Decoder& d, char* buf, size_t size) {
  if (d.in_pos < d.in_len) {
    size_t k = d.in_len - d.in_pos < size ? d.in_len - d.in_pos : size;
    std::memcpy(buf, d.in + d.in_pos, k);
    d.in_pos += k;
    return static_cast<ssize_t>(k);
  }
  ssize_t r = read_source(d.src, reinterpret_cast<unsigned char*>(buf), size);
  if (r < 0) errno = EIO;
  return r;
}

// Plain input needs no decompressor.
bool plain_start(Decoder&) { return true; }

// Plain input has nothing to free.
void plain_end(Decoder&) {}

// The row of plain input: its bytes as they are.
constexpr DecoderOps kPlainDecoder{plain_start, plain_read, plain_end, 0};

// The operations of format's decompressor.
const DecoderOps& decoder_of(Format format) {
  switch (format) {
    case Format::kGzip:
      return kGzipDecoder;
    case Format::kZstd:
      return kZstdDecoder;
    case Format::kBzip2:
      return kBzip2Decoder;
    case Format::kXz:
      return kXzDecoder;
    case Format::kLz4:
      return kLz4Decoder;
    case Format::kPlain:
      break;
  }
  return kPlainDecoder;
}

// zstd and lz4 share skippable frames (the magic, a 32-bit little-endian
// size, that many bytes): an input that begins with them is lz4 when an lz4
// frame comes next, else zstd. Passes over them and settles d's format;
// false on a read error, a skippable frame cut short or no memory for lz4.
bool pass_skippable_frames(Decoder& d) {
  for (;;) {
    ssize_t held = gather(d, 8);
    if (held < 0) return false;
    const unsigned char* p = d.in + d.in_pos;
    auto n = static_cast<size_t>(held);
    if (!begins_skippable_frame(p, n)) {
      if (format_of(p, n) != Format::kLz4) return true;
      d.ops->end(d);
      d.ops = &kLz4Decoder;
      return d.ops->start(d);
    }
    if (n < 8) return false;
    uint64_t skip = 8 + (p[4] | p[5] << 8 | p[6] << 16 | static_cast<uint64_t>(p[7]) << 24);
    while (skip > 0) {
      if (d.in_pos == d.in_len && refill(d) <= 0) return false;
      size_t take = d.in_len - d.in_pos < skip ? d.in_len - d.in_pos : skip;
      d.in_pos += take;
      skip -= take;
    }
  }
}

// The stream's read (fopencookie): up to size decoded bytes into buf; how
// many, 0 at the end of the data, -1 with errno EIO on damage, truncation or
// a read error, once the bytes decoded before it have been handed out.
ssize_t decoder_read(void* cookie, char* buf, size_t size) {
  Decoder& d = *static_cast<Decoder*>(cookie);
  if (!d.settled) {
    d.settled = true;
    d.failed = !pass_skippable_frames(d);
  }
  if (d.failed) {
    errno = EIO;
    return -1;
  }
  return d.ops->read(d, buf, size);
}

// Frees what start_decoder gave d, and closes its input if d owns it.
void end_decoder(Decoder& d) {
  if (d.ops != nullptr) d.ops->end(d);
  d.ops = nullptr;
  std::free(d.in);
  d.in = nullptr;
  if (d.src.owned && d.src.fd >= 0) ::close(d.src.fd);
  d.src.fd = -1;
}

// The stream's close (fopencookie): frees the decoder (the cookie, made by
// open_decoder with new) and closes its descriptor; returns 0, never fails.
int decoder_close(void* cookie) {
  Decoder* d = static_cast<Decoder*>(cookie);
  end_decoder(*d);
  delete d;
  return 0;
}

// Gives d its buffer, holding the first n bytes (head), and format's
// decompressor; false when memory runs out.
bool start_decoder(Decoder& d, Format format, const unsigned char* head, size_t n) {
  d.in = static_cast<unsigned char*>(std::malloc(kReadChunk));
  if (d.in == nullptr) return false;
  d.in_len = n < kReadChunk ? n : kReadChunk;
  std::memcpy(d.in, head, d.in_len);
  d.settled = !begins_skippable_frame(d.in, d.in_len);
  d.ops = &decoder_of(format);
  return d.ops->start(d);
}

}  // namespace

size_t decoded_chunk_for(Format format) { return decoder_of(format).decoded_chunk; }

FILE* open_decoder(int fd, Format format, const unsigned char* head, size_t n, size_t max_read) {
  Decoder* d = new (std::nothrow) Decoder;
  if (d == nullptr) {
    ::close(fd);
    return nullptr;
  }
  d->src.fd = fd;
  d->src.max_read = max_read;
  FILE* f = start_decoder(*d, format, head, n)
                ? fopencookie(d, "rb", {decoder_read, nullptr, nullptr, decoder_close})
                : nullptr;
  if (f == nullptr) decoder_close(d);
  return f;
}

size_t preview_decoded(int fd, Format format, const unsigned char* head, size_t n,
                       unsigned char* to, size_t want) {
  Decoder d;
  d.src.owned = false;
  d.src.at = fd < 0 ? -1 : lseek(fd, 0, SEEK_CUR);
  d.src.fd = d.src.at < 0 ? -1 : fd;
  size_t got = 0;
  if (start_decoder(d, format, head, n)) {
    while (got < want) {
      ssize_t r = decoder_read(&d, reinterpret_cast<char*>(to + got), want - got);
      if (r <= 0) break;
      got += static_cast<size_t>(r);
    }
  }
  end_decoder(d);
  return got;
}
