// Decoders and encoders for gzip (isa-l) and zstd, as fopencookie streams.
// The cookie functions fill and drain stdio's own buffer, so compressed data
// costs no extra copy per byte on the way to the line reader.
#include "codec.h"

#include <isa-l/igzip_lib.h>
#include <unistd.h>
#include <zstd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

constexpr size_t kReadChunk = 1 << 17;
constexpr size_t kWriteChunk = (1 << 18) + (1 << 12);  // a stdio buffer and room to grow
constexpr int kGzipLevel = 3;  // isa-l's best ratio, still several times faster than zlib -1
constexpr int kZstdLevel = 3;  // zstd's default
constexpr size_t kZstdBlockOut = size_t{1} << 17;  // zstd's largest block
constexpr unsigned char kGzipMagic[] = {0x1f, 0x8b};
constexpr unsigned char kZstdMagic[] = {0x28, 0xb5, 0x2f, 0xfd};
// A zstd skippable frame (pzstd writes one first) is 5X 2a 4d 18, any X.
constexpr unsigned char kSkippableMagic[] = {0x50, 0x2a, 0x4d, 0x18};

// The first n bytes (n <= 4) agree with a skippable frame's magic number.
bool skippable_prefix(const unsigned char* head, size_t n) {
  return (n == 0 || (head[0] & 0xf0) == kSkippableMagic[0]) &&
         std::memcmp(head + (n > 0 ? 1 : 0), kSkippableMagic + 1, n > 0 ? n - 1 : 0) == 0;
}

// Reads from fd, first giving back the bytes already taken to recognise it.
struct Source {
  int fd = -1;
  unsigned char head[kMagicBytes] = {};
  size_t head_len = 0, head_pos = 0;
  size_t max_read = 0;

  // Bytes read into buf (at most n), 0 at the end, -1 on an error.
  ssize_t read_some(unsigned char* buf, size_t n) {
    if (head_pos < head_len) {
      size_t k = head_len - head_pos < n ? head_len - head_pos : n;
      std::memcpy(buf, head + head_pos, k);
      head_pos += k;
      return static_cast<ssize_t>(k);
    }
    if (max_read > 0 && n > max_read) n = max_read;
    for (;;) {
      ssize_t r = ::read(fd, buf, n);
      if (r >= 0 || errno != EINTR) return r;
    }
  }
};

struct Decoder {
  Source src;
  Format format = Format::kPlain;
  unsigned char* in = nullptr;  // compressed bytes read ahead
  size_t in_pos = 0, in_len = 0;
  bool failed = false;       // damage found after some bytes were handed out
  bool more_output = false;  // the last call filled its output: more may wait
  bool in_unit = false;      // inside a gzip member or a zstd frame
  inflate_state* gz = nullptr;
  ZSTD_DCtx* zs = nullptr;

  ~Decoder() {
    std::free(in);
    delete gz;
    ZSTD_freeDCtx(zs);
    if (src.fd >= 0) ::close(src.fd);
  }

  // Reads more compressed input once all of it is used: >0, 0 at the end, -1.
  ssize_t refill() {
    ssize_t r = src.read_some(in, kReadChunk);
    in_pos = 0;
    in_len = r > 0 ? static_cast<size_t>(r) : 0;
    return r;
  }
};

// Hands out what was decoded before a failure; the failure comes next call.
ssize_t fail(Decoder& d, size_t produced) {
  if (produced > 0) {
    d.failed = true;
    return static_cast<ssize_t>(produced);
  }
  errno = EIO;
  return -1;
}

ssize_t gzip_read(Decoder& d, char* buf, size_t size) {
  size_t produced = 0;
  while (produced < size) {
    if (!d.in_unit) {
      // Between members: the end of the file, or another member (pigz,
      // bgzip and cat a.gz b.gz write several). Anything else is refused by
      // the header check.
      if (d.in_pos == d.in_len) {
        ssize_t r = d.refill();
        if (r < 0) return fail(d, produced);
        if (r == 0) break;
      }
      isal_inflate_reset(d.gz);
      d.gz->crc_flag = ISAL_GZIP;
      d.in_unit = true;
    }
    if (d.in_pos == d.in_len && !d.more_output) {
      if (d.refill() <= 0) return fail(d, produced);  // cut short
    }
    d.gz->next_in = d.in + d.in_pos;
    d.gz->avail_in = static_cast<uint32_t>(d.in_len - d.in_pos);
    d.gz->next_out = reinterpret_cast<uint8_t*>(buf + produced);
    uint32_t room =
        size - produced > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size - produced);
    d.gz->avail_out = room;
    int rc = isal_inflate(d.gz);
    size_t used = d.in_len - d.in_pos - d.gz->avail_in;
    size_t made = room - d.gz->avail_out;
    d.in_pos += used;
    produced += made;
    if (rc != ISAL_DECOMP_OK) return fail(d, produced);
    if (d.gz->block_state == ISAL_BLOCK_FINISH) {
      d.in_unit = false;
      d.more_output = false;
      continue;
    }
    d.more_output = d.gz->avail_out == 0;
    // Input left, room left, and nothing moved: never spin on bad data.
    if (used == 0 && made == 0 && !d.more_output && d.in_pos < d.in_len) return fail(d, produced);
  }
  return static_cast<ssize_t>(produced);
}

ssize_t zstd_read(Decoder& d, char* buf, size_t size) {
  size_t produced = 0;
  while (produced < size) {
    if (d.in_pos == d.in_len && !d.more_output) {
      ssize_t r = d.refill();
      if (r < 0) return fail(d, produced);
      if (r == 0) {
        if (d.in_unit) return fail(d, produced);  // a frame cut short
        break;
      }
    }
    ZSTD_inBuffer in{d.in, d.in_len, d.in_pos};
    // A call that fails reports none of its output: give each call room for
    // one block only, so that damage loses the damaged block, not the whole
    // blocks decoded before it in the same call.
    size_t room = size - produced < kZstdBlockOut ? size - produced : kZstdBlockOut;
    ZSTD_outBuffer out{buf + produced, room, 0};
    size_t rc = ZSTD_decompressStream(d.zs, &out, &in);
    d.in_pos = in.pos;
    produced += out.pos;
    if (ZSTD_isError(rc)) return fail(d, produced);
    d.in_unit = rc != 0;  // 0: a frame ended, wholly flushed
    d.more_output = out.pos == out.size;
  }
  return static_cast<ssize_t>(produced);
}

ssize_t plain_read(Decoder& d, char* buf, size_t size) {
  ssize_t r = d.src.read_some(reinterpret_cast<unsigned char*>(buf), size);
  if (r < 0) errno = EIO;
  return r;
}

ssize_t decoder_read(void* cookie, char* buf, size_t size) {
  Decoder& d = *static_cast<Decoder*>(cookie);
  if (d.failed) {
    errno = EIO;
    return -1;
  }
  switch (d.format) {
    case Format::kGzip:
      return gzip_read(d, buf, size);
    case Format::kZstd:
      return zstd_read(d, buf, size);
    case Format::kPlain:
      break;
  }
  return plain_read(d, buf, size);
}

int decoder_close(void* cookie) {
  delete static_cast<Decoder*>(cookie);
  return 0;
}

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

Format format_of(const unsigned char* head, size_t n) {
  if (n >= sizeof kGzipMagic && std::memcmp(head, kGzipMagic, sizeof kGzipMagic) == 0)
    return Format::kGzip;
  if (n >= sizeof kZstdMagic && std::memcmp(head, kZstdMagic, sizeof kZstdMagic) == 0)
    return Format::kZstd;
  if (n >= sizeof kSkippableMagic && skippable_prefix(head, sizeof kSkippableMagic))
    return Format::kZstd;
  return Format::kPlain;
}

bool may_become_magic(const unsigned char* head, size_t n) {
  return (n < sizeof kGzipMagic && std::memcmp(head, kGzipMagic, n) == 0) ||
         (n < sizeof kZstdMagic && std::memcmp(head, kZstdMagic, n) == 0) ||
         (n < sizeof kSkippableMagic && skippable_prefix(head, n));
}

Format format_for_name(const char* name) {
  size_t n = std::strlen(name);
  if (n >= 3 && std::strcmp(name + n - 3, ".gz") == 0) return Format::kGzip;
  if (n >= 4 && std::strcmp(name + n - 4, ".zst") == 0) return Format::kZstd;
  return Format::kPlain;
}

FILE* open_decoder(int fd, Format format, const unsigned char* head, size_t n, size_t max_read) {
  Decoder* d = new (std::nothrow) Decoder;
  if (d == nullptr) {
    ::close(fd);
    return nullptr;
  }
  d->src.fd = fd;
  d->src.max_read = max_read;
  d->src.head_len = n < kMagicBytes ? n : kMagicBytes;
  std::memcpy(d->src.head, head, d->src.head_len);
  d->format = format;
  bool ok = true;
  if (format != Format::kPlain) {
    d->in = static_cast<unsigned char*>(std::malloc(kReadChunk));
    ok = d->in != nullptr;
  }
  if (ok && format == Format::kGzip) {
    d->gz = new (std::nothrow) inflate_state;
    ok = d->gz != nullptr;
    if (ok) isal_inflate_init(d->gz);
  }
  if (ok && format == Format::kZstd) {
    d->zs = ZSTD_createDCtx();
    ok = d->zs != nullptr;
  }
  FILE* f = ok ? fopencookie(d, "rb", {decoder_read, nullptr, nullptr, decoder_close}) : nullptr;
  if (f == nullptr) delete d;
  return f;
}

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
