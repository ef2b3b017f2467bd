// The compressors of every output format (gzip by isa-l, zstd, bzip2, xz,
// lz4), as fopencookie write streams or over whole blocks. The cookie drains
// stdio's own buffer, so compressing costs no extra copy per byte on the way
// out. Each format is one row of operations in ops_for's table.
#include "io/codec/encoder.h"

#include <bzlib.h>
#include <isa-l/igzip_lib.h>
#include <lz4frame.h>
#include <lzma.h>
#include <zstd.h>

#include <cerrno>
#include <cstdlib>
#include <new>
#include <string>

namespace {

constexpr size_t kWriteChunk = (1 << 18) + (1 << 12);  // a stdio buffer and room to grow
constexpr int kGzipLevel = 3;  // isa-l's best ratio, still several times faster than zlib -1
constexpr int kZstdLevel = 3;  // zstd's default
// Measured by bench/codecs on annotated InChI lines. bzip2's level only
// sizes its blocks (900 kB at 9: a parallel run's block fits in one) and
// moves its speed by less than the noise.
constexpr int kBzip2Level = 9;
// xz's knee: a fifth slower than -0 for 10 to 30 % fewer bytes; -2 costs
// another quarter of the speed for 3 to 10 %, and -6, xz's own default, is
// five times slower.
constexpr uint32_t kXzPreset = 1;
// lz4's fast mode, as lz4 itself: level 3, the first of its slow ones, is
// 4 to 5 times slower for 20 % fewer bytes.
constexpr int kLz4Level = 0;
// lz4 takes its input in pieces whose worst case fits the output chunk.
constexpr size_t kLz4Piece = 1 << 16;

// How far a call to the compressor goes with its output.
enum class Push { kNone, kFlush, kEnd };

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
  bz_stream* bz = nullptr;
  bool bz_open = false;  // a bzip2 stream is begun and not yet finished
  lzma_stream* xz = nullptr;
  LZ4F_cctx* lz = nullptr;
  bool lz_open = false;  // an lz4 frame's header is written, its end not yet
};

namespace {

// Hands n compressed bytes from e.out on; false when the sink failed.
bool emit(Encoder& e, size_t n) {
  if (e.block != nullptr) {
    e.block->append(e.out, n);
    return true;
  }
  return fwrite(e.out, 1, n, e.sink) == n;
}

// One format's compressor.
struct EncoderOps {
  // Makes the compressor; false when memory runs out.
  bool (*make)(Encoder& e);
  // Begins a member, stream or frame; pledged > 0 is all its input's size.
  bool (*start)(Encoder& e, size_t pledged);
  // Compresses n bytes; then kFlush makes all given so far decodable, kEnd
  // finishes what start began. False on any failure.
  bool (*write)(Encoder& e, const char* data, size_t n, Push push);
  // Frees what make and start took, whatever state they left.
  void (*free)(Encoder& e);
};

bool gzip_make(Encoder& e) {
  e.gz = new (std::nothrow) isal_zstream;
  e.gz_level_buf = static_cast<unsigned char*>(std::malloc(ISAL_DEF_LVL3_DEFAULT));
  return e.gz != nullptr && e.gz_level_buf != nullptr;
}

bool gzip_start(Encoder& e, size_t) {
  isal_deflate_init(e.gz);
  e.gz->level = kGzipLevel;
  e.gz->level_buf = e.gz_level_buf;
  e.gz->level_buf_size = ISAL_DEF_LVL3_DEFAULT;
  e.gz->gzip_flag = IGZIP_GZIP;
  return true;
}

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
    if (!emit(e, kWriteChunk - e.gz->avail_out)) return false;
    // A flush is complete once the output has room left over.
    more = e.gz->avail_in > 0 || (push == Push::kEnd && e.gz->internal_state.state != ZSTATE_END) ||
           (push == Push::kFlush && e.gz->avail_out == 0);
  }
  e.gz->flush = NO_FLUSH;
  return true;
}

void gzip_free(Encoder& e) {
  delete e.gz;
  std::free(e.gz_level_buf);
}

bool zstd_make(Encoder& e) {
  e.zs = ZSTD_createCCtx();
  return e.zs != nullptr &&
         !ZSTD_isError(ZSTD_CCtx_setParameter(e.zs, ZSTD_c_compressionLevel, kZstdLevel)) &&
         !ZSTD_isError(ZSTD_CCtx_setParameter(e.zs, ZSTD_c_checksumFlag, 1));
}

bool zstd_start(Encoder& e, size_t pledged) {
  // A known size lets zstd size its tables to the block, not to a stream.
  return !ZSTD_isError(ZSTD_CCtx_reset(e.zs, ZSTD_reset_session_only)) &&
         (pledged == 0 || !ZSTD_isError(ZSTD_CCtx_setPledgedSrcSize(e.zs, pledged)));
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
    if (!emit(e, out.pos)) return false;
  } while (in.pos < in.size || (push != Push::kNone && left != 0));
  return true;
}

void zstd_free(Encoder& e) { ZSTD_freeCCtx(e.zs); }

bool bzip2_make(Encoder& e) {
  e.bz = new (std::nothrow) bz_stream{};
  return e.bz != nullptr;
}

// bzip2 has no reset: each stream is a new compressor.
bool bzip2_start(Encoder& e, size_t) {
  if (e.bz_open) BZ2_bzCompressEnd(e.bz);
  e.bz_open = BZ2_bzCompressInit(e.bz, kBzip2Level, 0, 0) == BZ_OK;
  return e.bz_open;
}

// A flush finishes the stream, and the next input begins another: bzip2's
// own flush leaves the last bits of the block unwritten, so no decoder could
// give its lines yet. bzip2 -d and our decoder read the streams as one file.
bool bzip2_write(Encoder& e, const char* data, size_t n, Push push) {
  if (!e.bz_open && n == 0) return true;  // the stream ended at a flush: nothing since
  if (!e.bz_open && !bzip2_start(e, 0)) return false;
  e.bz->next_in = const_cast<char*>(data);
  e.bz->avail_in = static_cast<unsigned>(n);
  int action = push == Push::kNone ? BZ_RUN : BZ_FINISH;
  int rc = BZ_RUN_OK;
  do {
    e.bz->next_out = e.out;
    e.bz->avail_out = kWriteChunk;
    rc = BZ2_bzCompress(e.bz, action);
    if (rc < 0 || !emit(e, kWriteChunk - e.bz->avail_out)) return false;
  } while (action == BZ_FINISH ? rc != BZ_STREAM_END : e.bz->avail_in > 0 || e.bz->avail_out == 0);
  if (action == BZ_FINISH) {
    BZ2_bzCompressEnd(e.bz);
    e.bz_open = false;
  }
  return true;
}

void bzip2_free(Encoder& e) {
  if (e.bz_open) BZ2_bzCompressEnd(e.bz);
  delete e.bz;
}

bool xz_make(Encoder& e) {
  e.xz = new (std::nothrow) lzma_stream;
  if (e.xz != nullptr) *e.xz = LZMA_STREAM_INIT;
  return e.xz != nullptr;
}

// Starting again reuses the compressor's memory; CRC64, as xz itself.
bool xz_start(Encoder& e, size_t) {
  return lzma_easy_encoder(e.xz, kXzPreset, LZMA_CHECK_CRC64) == LZMA_OK;
}

bool xz_write(Encoder& e, const char* data, size_t n, Push push) {
  e.xz->next_in = reinterpret_cast<const uint8_t*>(data);
  e.xz->avail_in = n;
  lzma_action action = push == Push::kEnd     ? LZMA_FINISH
                       : push == Push::kFlush ? LZMA_SYNC_FLUSH
                                              : LZMA_RUN;
  lzma_ret rc = LZMA_OK;
  do {
    e.xz->next_out = reinterpret_cast<uint8_t*>(e.out);
    e.xz->avail_out = kWriteChunk;
    rc = lzma_code(e.xz, action);
    if ((rc != LZMA_OK && rc != LZMA_STREAM_END) || !emit(e, kWriteChunk - e.xz->avail_out))
      return false;
  } while (action == LZMA_RUN ? e.xz->avail_in > 0 || e.xz->avail_out == 0 : rc != LZMA_STREAM_END);
  return true;
}

void xz_free(Encoder& e) {
  if (e.xz != nullptr) lzma_end(e.xz);
  delete e.xz;
}

bool lz4_make(Encoder& e) {
  return !LZ4F_isError(LZ4F_createCompressionContext(&e.lz, LZ4F_VERSION));
}

// The frame begins with the first write: a stream opened for output that
// the parallel run writes past must leave nothing before its blocks.
bool lz4_start(Encoder& e, size_t) {
  e.lz_open = false;
  return true;
}

// Linked 64 KiB blocks, as lz4 -BD: each block sees the one before, and the
// worst case of a piece fits the output chunk.
bool lz4_write(Encoder& e, const char* data, size_t n, Push push) {
  if (!e.lz_open) {
    LZ4F_preferences_t prefs{};
    prefs.frameInfo.blockSizeID = LZ4F_max64KB;
    prefs.frameInfo.blockMode = LZ4F_blockLinked;
    prefs.frameInfo.contentChecksumFlag = LZ4F_contentChecksumEnabled;
    prefs.compressionLevel = kLz4Level;
    size_t header = LZ4F_compressBegin(e.lz, e.out, kWriteChunk, &prefs);
    if (LZ4F_isError(header) || !emit(e, header)) return false;
    e.lz_open = true;
  }
  for (size_t at = 0; at < n; at += kLz4Piece) {
    size_t take = n - at < kLz4Piece ? n - at : kLz4Piece;
    size_t made = LZ4F_compressUpdate(e.lz, e.out, kWriteChunk, data + at, take, nullptr);
    if (LZ4F_isError(made) || !emit(e, made)) return false;
  }
  if (push == Push::kNone) return true;
  e.lz_open = push == Push::kFlush;
  size_t made = push == Push::kFlush ? LZ4F_flush(e.lz, e.out, kWriteChunk, nullptr)
                                     : LZ4F_compressEnd(e.lz, e.out, kWriteChunk, nullptr);
  return !LZ4F_isError(made) && emit(e, made);
}

void lz4_free(Encoder& e) { LZ4F_freeCompressionContext(e.lz); }

// The operations of format's compressor; null for plain.
const EncoderOps* ops_for(Format format) {
  static constexpr EncoderOps kGzip{gzip_make, gzip_start, gzip_write, gzip_free};
  static constexpr EncoderOps kZstd{zstd_make, zstd_start, zstd_write, zstd_free};
  static constexpr EncoderOps kBzip2{bzip2_make, bzip2_start, bzip2_write, bzip2_free};
  static constexpr EncoderOps kXz{xz_make, xz_start, xz_write, xz_free};
  static constexpr EncoderOps kLz4{lz4_make, lz4_start, lz4_write, lz4_free};
  switch (format) {
    case Format::kGzip:
      return &kGzip;
    case Format::kZstd:
      return &kZstd;
    case Format::kBzip2:
      return &kBzip2;
    case Format::kXz:
      return &kXz;
    case Format::kLz4:
      return &kLz4;
    case Format::kPlain:
      break;
  }
  return nullptr;
}

// Compresses n bytes, pushed as far as push says; false on any failure.
bool encode(Encoder& e, const char* data, size_t n, Push push) {
  bool ok = ops_for(e.format)->write(e, data, n, push);
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

// Finishes the member, stream or frame: a last write can only fail here. The
// sink stays open.
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
  e->format = format;
  e->out = static_cast<char*>(std::malloc(kWriteChunk));
  if (e->out == nullptr || !ops->make(*e)) {
    free_encoder(e);
    return nullptr;
  }
  return e;
}

void free_encoder(Encoder* e) {
  if (e == nullptr) return;
  ops_for(e->format)->free(*e);
  std::free(e->out);
  delete e;
}

bool encode_block(Encoder* e, const char* data, size_t n, std::string& out) {
  e->block = &out;
  bool ok = ops_for(e->format)->start(*e, n) && encode(*e, data, n, Push::kEnd);
  e->block = nullptr;
  return ok;
}

FILE* open_encoder(FILE* sink, Format format, Encoder** handle) {
  Encoder* e = new_encoder(format);
  if (e == nullptr) return nullptr;
  e->sink = sink;
  FILE* f = ops_for(format)->start(*e, 0)
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
