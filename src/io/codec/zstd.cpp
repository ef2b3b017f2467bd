// zstd by libzstd's streaming API, both ways. In: any number of frames,
// skippable frames passed over. Out: one frame per stream or block, at
// zstd's default level, with a checksum.
#include <zstd.h>

#include "io/codec/decoder.h"
#include "io/codec/encoder_ops.h"

namespace {

constexpr size_t kZstdBlockOut = size_t{1} << 17;  // zstd's largest block
constexpr int kZstdLevel = 3;                      // zstd's default

// Gives d a decompression context; false when memory runs out.
bool zstd_decoder_start(Decoder& d) {
  d.state = ZSTD_createDCtx();
  return d.state != nullptr;
}

// Frees d's decompression context.
void zstd_decoder_end(Decoder& d) {
  ZSTD_freeDCtx(static_cast<ZSTD_DCtx*>(d.state));
  d.state = nullptr;
}

// Fails on damage, truncation, or anything but a frame after a frame.
ssize_t zstd_decoder_read(Decoder& d, char* buf, size_t size) {
  auto* zs = static_cast<ZSTD_DCtx*>(d.state);
  size_t produced = 0;
  while (produced < size) {
    Input input = next_input(d);
    if (input == Input::kEnd) break;
    if (input == Input::kFailed) return fail(d, produced);  // a read error, or a frame cut short
    ZSTD_inBuffer in{d.in, d.in_len, d.in_pos};
    // A call that fails reports none of its output: give each call room for
    // one block only, so that damage loses the damaged block, not the whole
    // blocks decoded before it in the same call.
    size_t room = size - produced < kZstdBlockOut ? size - produced : kZstdBlockOut;
    ZSTD_outBuffer out{buf + produced, room, 0};
    size_t rc = ZSTD_decompressStream(zs, &out, &in);
    d.in_pos = in.pos;
    produced += out.pos;
    if (ZSTD_isError(rc)) return fail(d, produced);
    d.in_unit = rc != 0;  // 0: a frame ended, wholly flushed
    d.more_output = out.pos == out.size;
  }
  return static_cast<ssize_t>(produced);
}

// Makes a compression context at the level, with checksums; false when
// memory runs out.
bool zstd_encoder_make(Encoder& e) {
  auto* zs = ZSTD_createCCtx();
  e.state = zs;
  return zs != nullptr &&
         !ZSTD_isError(ZSTD_CCtx_setParameter(zs, ZSTD_c_compressionLevel, kZstdLevel)) &&
         !ZSTD_isError(ZSTD_CCtx_setParameter(zs, ZSTD_c_checksumFlag, 1));
}

// Begins a frame, keeping the parameters.
bool zstd_encoder_start(Encoder& e, size_t pledged) {
  auto* zs = static_cast<ZSTD_CCtx*>(e.state);
  // A known size lets zstd size its tables to the block, not to a stream.
  return !ZSTD_isError(ZSTD_CCtx_reset(zs, ZSTD_reset_session_only)) &&
         (pledged == 0 || !ZSTD_isError(ZSTD_CCtx_setPledgedSrcSize(zs, pledged)));
}

// Compresses n bytes, then flushes (kFlush) or ends the frame (kEnd).
bool zstd_encoder_write(Encoder& e, const char* data, size_t n, Push push) {
  auto* zs = static_cast<ZSTD_CCtx*>(e.state);
  ZSTD_inBuffer in{data, n, 0};
  ZSTD_EndDirective directive = push == Push::kEnd     ? ZSTD_e_end
                                : push == Push::kFlush ? ZSTD_e_flush
                                                       : ZSTD_e_continue;
  size_t left = 0;
  do {
    ZSTD_outBuffer out{e.out, kWriteChunk, 0};
    left = ZSTD_compressStream2(zs, &out, &in, directive);
    if (ZSTD_isError(left)) return false;
    if (!emit(e, out.pos)) return false;
  } while (in.pos < in.size || (push != Push::kNone && left != 0));
  return true;
}

// Frees the compression context (null: nothing).
void zstd_encoder_free(Encoder& e) {
  ZSTD_freeCCtx(static_cast<ZSTD_CCtx*>(e.state));
  e.state = nullptr;
}

}  // namespace

const DecoderOps kZstdDecoder{zstd_decoder_start, zstd_decoder_read, zstd_decoder_end, 0};

const EncoderOps kZstdEncoder{zstd_encoder_make, zstd_encoder_start, zstd_encoder_write,
                              zstd_encoder_free};
