// The compressors of every output format as fopencookie write streams, or
// over whole blocks: the machinery they share. The cookie drains stdio's own
// buffer, so compressing costs no extra copy per byte on the way out. Each
// format is one row of operations in ops_for's table, in its own unit.
#include "io/codec/encoder.h"

#include <cerrno>
#include <cstdlib>
#include <new>
#include <string>

#include "io/codec/encoder_ops.h"

namespace {

// The operations of format's compressor; null for plain.
const EncoderOps* ops_for(Format format) {
  switch (format) {
    case Format::kGzip:
      return &kGzipEncoder;
    case Format::kZstd:
      return &kZstdEncoder;
    case Format::kBzip2:
      return &kBzip2Encoder;
    case Format::kXz:
      return &kXzEncoder;
    case Format::kLz4:
      return &kLz4Encoder;
    case Format::kPlain:
      break;
  }
  return nullptr;
}

// Compresses n bytes, pushed as far as push says; false on any failure.
bool encode(Encoder& e, const char* data, size_t n, Push push) {
  bool ok = e.ops->write(e, data, n, push);
  e.pending = push == Push::kNone && (e.pending || n > 0);
  return ok;
}

// The stream's write (fopencookie): compresses all size bytes of buf into
// the sink; returns size, or -1 with errno EIO once this or any earlier write
// to the sink has failed.
ssize_t encoder_write(void* cookie, const char* buf, size_t size) {
  Encoder& e = *static_cast<Encoder*>(cookie);
  if (e.failed || !encode(e, buf, size, Push::kNone)) {
    e.failed = true;
    errno = EIO;
    return -1;
  }
  return static_cast<ssize_t>(size);
}

// The stream's close (fopencookie): finishes the member, stream or frame,
// whose closing bytes reach the sink only here, and frees the compressor (the
// cookie); the sink stays open. Returns 0, or -1 when any write failed.
int encoder_close(void* cookie) {
  Encoder* e = static_cast<Encoder*>(cookie);
  bool ok = !e->failed && encode(*e, nullptr, 0, Push::kEnd);
  free_encoder(e);
  return ok ? 0 : -1;
}

}  // namespace

Encoder* new_encoder(Format format) {
  const EncoderOps* ops = ops_for(format);
  if (ops == nullptr) return nullptr;
  Encoder* e = new (std::nothrow) Encoder;
  if (e == nullptr) return nullptr;
  e->ops = ops;
  e->out = static_cast<char*>(std::malloc(kWriteChunk));
  if (e->out == nullptr || !ops->make(*e)) {
    free_encoder(e);
    return nullptr;
  }
  return e;
}

void free_encoder(Encoder* e) {
  if (e == nullptr) return;
  e->ops->free(*e);
  std::free(e->out);
  delete e;
}

bool encode_block(Encoder* e, const char* data, size_t n, std::string& out) {
  e->block = &out;
  bool ok = e->ops->start(*e, n) && encode(*e, data, n, Push::kEnd);
  e->block = nullptr;
  return ok;
}

FILE* open_encoder(FILE* sink, Format format, Encoder** handle) {
  Encoder* e = new_encoder(format);
  if (e == nullptr) return nullptr;
  e->sink = sink;
  FILE* f = e->ops->start(*e, 0)
                ? fopencookie(e, "wb", {nullptr, encoder_write, nullptr, encoder_close})
                : nullptr;
  if (f == nullptr) free_encoder(e);
  if (handle != nullptr) *handle = f == nullptr ? nullptr : e;
  return f;
}

bool flush_encoder(Encoder* e) {
  if (e->failed || !e->pending) return !e->failed;
  if (!encode(*e, nullptr, 0, Push::kFlush)) e->failed = true;
  return !e->failed;
}
