// gzip (isa-l) and zstd compressors, as fopencookie write streams or over
// whole blocks. The cookie drains stdio's own buffer, so compressing costs
// no extra copy per byte on the way out.
#include "encoder.h"

#include <isa-l/igzip_lib.h>
#include <zstd.h>

#include <cerrno>
#include <cstdlib>
#include <new>
#include <string>

namespace {

constexpr size_t kWriteChunk = (1 << 18) + (1 << 12);  // a stdio buffer and room to grow
constexpr int kGzipLevel = 3;  // isa-l's best ratio, still several times faster than zlib -1
constexpr int kZstdLevel = 3;  // zstd's default

}  // namespace

// Compresses into a FILE (a stream) or into memory (one block at a time).
struct Encoder {
  Format format = Format::kPlain;
  FILE* sink = nullptr;          // stream mode: where compressed bytes go
  std::string* block = nullptr;  // block mode: where they go
  char* out = nullptr;           // compressed bytes on their way
  bool failed = false;
  bool pending = false;  // input given since the last flush, not yet all emitted
  isal_zstream* gz = nullptr;
  unsigned char* gz_level_buf = nullptr;
  ZSTD_CCtx* zs = nullptr;

  ~Encoder() {
    std::free(out);
    delete gz;
    std::free(gz_level_buf);
    ZSTD_freeCCtx(zs);
  }

  bool emit(size_t n) {
    if (block != nullptr) {
      block->append(out, n);
      return true;
    }
    return fwrite(out, 1, n, sink) == n;
  }

  // Starts a new gzip member or zstd frame.
  bool start(size_t pledged) {
    if (format == Format::kGzip) {
      isal_deflate_init(gz);
      gz->level = kGzipLevel;
      gz->level_buf = gz_level_buf;
      gz->level_buf_size = ISAL_DEF_LVL3_DEFAULT;
      gz->gzip_flag = IGZIP_GZIP;
      return true;
    }
    // A known size lets zstd size its tables to the block, not to a stream.
    return !ZSTD_isError(ZSTD_CCtx_reset(zs, ZSTD_reset_session_only)) &&
           (pledged == 0 || !ZSTD_isError(ZSTD_CCtx_setPledgedSrcSize(zs, pledged)));
  }
};

namespace {

// Compresses n bytes, finishing the member or frame when last; false on any
// failure.
// How far a call to the compressor goes with its output.
enum class Push { kNone, kFlush, kEnd };

bool gzip_write(Encoder& e, const char* data, size_t n, Push push) {
  e.gz->next_in = reinterpret_cast<uint8_t*>(const_cast<char*>(data));
  e.gz->avail_in = static_cast<uint32_t>(n);
  e.gz->end_of_stream = push == Push::kEnd ? 1 : 0;
  e.gz->flush = push == Push::kFlush ? SYNC_FLUSH : NO_FLUSH;
  bool more = true;
  while (more) {
    e.gz->next_out = reinterpret_cast<uint8_t*>(e.out);
    e.gz->avail_out = kWriteChunk;
    if (isal_deflate(e.gz) != COMP_OK) return false;
    if (!e.emit(kWriteChunk - e.gz->avail_out)) return false;
    // A flush is complete once the output has room left over.
    more = e.gz->avail_in > 0 || (push == Push::kEnd && e.gz->internal_state.state != ZSTATE_END) ||
           (push == Push::kFlush && e.gz->avail_out == 0);
  }
  e.gz->flush = NO_FLUSH;
  return true;
}

bool zstd_write(Encoder& e, const char* data, size_t n, Push push) {
  ZSTD_inBuffer in{data, n, 0};
  ZSTD_EndDirective directive = push == Push::kEnd     ? ZSTD_e_end
                                : push == Push::kFlush ? ZSTD_e_flush
                                                       : ZSTD_e_continue;
  size_t left = 0;
  do {
    ZSTD_outBuffer out{e.out, kWriteChunk, 0};
    left = ZSTD_compressStream2(e.zs, &out, &in, directive);
    if (ZSTD_isError(left)) return false;
    if (!e.emit(out.pos)) return false;
  } while (in.pos < in.size || (push != Push::kNone && left != 0));
  return true;
}

bool encode(Encoder& e, const char* data, size_t n, Push push) {
  bool ok = e.format == Format::kGzip ? gzip_write(e, data, n, push) : zstd_write(e, data, n, push);
  e.pending = push == Push::kNone && (e.pending || n > 0);
  return ok;
}

ssize_t encoder_write(void* cookie, const char* buf, size_t size) {
  Encoder& e = *static_cast<Encoder*>(cookie);
  if (e.failed || !encode(e, buf, size, Push::kNone)) {
    e.failed = true;
    errno = EIO;
    return -1;
  }
  return static_cast<ssize_t>(size);
}

// Finishes the member or frame: a last write can only fail here. The sink
// stays open.
int encoder_close(void* cookie) {
  Encoder* e = static_cast<Encoder*>(cookie);
  bool ok = !e->failed && encode(*e, nullptr, 0, Push::kEnd);
  delete e;
  return ok ? 0 : -1;
}

}  // namespace

Encoder* new_encoder(Format format) {
  Encoder* e = new (std::nothrow) Encoder;
  if (e == nullptr) return nullptr;
  e->format = format;
  e->out = static_cast<char*>(std::malloc(kWriteChunk));
  bool ok = e->out != nullptr;
  if (ok && format == Format::kGzip) {
    e->gz = new (std::nothrow) isal_zstream;
    e->gz_level_buf = static_cast<unsigned char*>(std::malloc(ISAL_DEF_LVL3_DEFAULT));
    ok = e->gz != nullptr && e->gz_level_buf != nullptr;
  }
  if (ok && format == Format::kZstd) {
    e->zs = ZSTD_createCCtx();
    ok = e->zs != nullptr &&
         !ZSTD_isError(ZSTD_CCtx_setParameter(e->zs, ZSTD_c_compressionLevel, kZstdLevel)) &&
         !ZSTD_isError(ZSTD_CCtx_setParameter(e->zs, ZSTD_c_checksumFlag, 1));
  }
  ok = ok && format != Format::kPlain;
  if (!ok) {
    delete e;
    return nullptr;
  }
  return e;
}

void free_encoder(Encoder* e) { delete e; }

bool encode_block(Encoder* e, const char* data, size_t n, std::string& out) {
  e->block = &out;
  bool ok = e->start(n) && encode(*e, data, n, Push::kEnd);
  e->block = nullptr;
  return ok;
}

FILE* open_encoder(FILE* sink, Format format, Encoder** handle) {
  Encoder* e = new_encoder(format);
  if (e == nullptr) return nullptr;
  e->sink = sink;
  FILE* f = e->start(0) ? fopencookie(e, "wb", {nullptr, encoder_write, nullptr, encoder_close})
                        : nullptr;
  if (f == nullptr) delete e;
  if (handle != nullptr) *handle = f == nullptr ? nullptr : e;
  return f;
}

bool flush_encoder(Encoder* e) {
  if (e->failed || !e->pending) return !e->failed;
  if (!encode(*e, nullptr, 0, Push::kFlush)) e->failed = true;
  return !e->failed;
}
