// lz4 by liblz4's frame API, both ways. In: any number of frames, skippable
// frames passed over; the frame decoder starts a new frame by itself after
// each one ends. Out: one frame per stream or block, of linked 64 KiB blocks
// in lz4's fast mode.
#include <lz4frame.h>

#include <new>

#include "io/codec/decoder.h"
#include "io/codec/encoder_ops.h"

namespace {

// lz4's fast mode, as lz4 itself: level 3, the first of its slow ones, is
// 4 to 5 times slower for 20 % fewer bytes.
constexpr int kLz4Level = 0;
// lz4 takes its input in pieces whose worst case fits the output chunk.
constexpr size_t kLz4Piece = 1 << 16;

// Gives d a frame decompression context; false when memory runs out.
bool lz4_decoder_start(Decoder& d) {
  LZ4F_dctx* lz = nullptr;
  if (LZ4F_isError(LZ4F_createDecompressionContext(&lz, LZ4F_VERSION))) return false;
  d.state = lz;
  return true;
}

// Frees d's context.
void lz4_decoder_end(Decoder& d) {
  if (d.state != nullptr) LZ4F_freeDecompressionContext(static_cast<LZ4F_dctx*>(d.state));
  d.state = nullptr;
}

// Fails on damage (a wrong checksum included), truncation, or anything but
// a frame after a frame.
ssize_t lz4_decoder_read(Decoder& d, char* buf, size_t size) {
  auto* lz = static_cast<LZ4F_dctx*>(d.state);
  size_t produced = 0;
  while (produced < size) {
    Input input = next_input(d);
    if (input == Input::kEnd) break;
    if (input == Input::kFailed) return fail(d, produced);  // a read error, or a frame cut short
    size_t used = d.in_len - d.in_pos;
    size_t room = size - produced;
    size_t made = room;
    size_t rc = LZ4F_decompress(lz, buf + produced, &made, d.in + d.in_pos, &used, nullptr);
    d.in_pos += used;
    produced += made;
    if (LZ4F_isError(rc)) return fail(d, produced);
    d.in_unit = rc != 0;  // 0: a frame ended, wholly flushed
    d.more_output = made == room;
    // Input left, room left, and nothing moved: never spin on bad data.
    if (used == 0 && made == 0 && d.in_pos < d.in_len) return fail(d, produced);
  }
  return static_cast<ssize_t>(produced);
}

// The compression context, and whether a frame's header is written and its
// end not yet.
struct Lz4Encoder {
  LZ4F_cctx* context = nullptr;
  bool open = false;
};

// Makes the compression context; false when memory runs out.
bool lz4_encoder_make(Encoder& e) {
  auto* lz = new (std::nothrow) Lz4Encoder;
  e.state = lz;
  return lz != nullptr && !LZ4F_isError(LZ4F_createCompressionContext(&lz->context, LZ4F_VERSION));
}

// Begins a frame, whose header waits for the first write: a stream opened
// for output that the parallel run writes past must leave nothing before
// its blocks.
bool lz4_encoder_start(Encoder& e, size_t) {
  static_cast<Lz4Encoder*>(e.state)->open = false;
  return true;
}

// Compresses n bytes in linked 64 KiB blocks, as lz4 -BD: each block sees
// the one before, and the worst case of a piece fits the output chunk. Then
// flushes (kFlush) or ends the frame (kEnd).
bool lz4_encoder_write(Encoder& e, const char* data, size_t n, Push push) {
  auto* lz = static_cast<Lz4Encoder*>(e.state);
  if (!lz->open) {
    LZ4F_preferences_t prefs{};
    prefs.frameInfo.blockSizeID = LZ4F_max64KB;
    prefs.frameInfo.blockMode = LZ4F_blockLinked;
    prefs.frameInfo.contentChecksumFlag = LZ4F_contentChecksumEnabled;
    prefs.compressionLevel = kLz4Level;
    size_t header = LZ4F_compressBegin(lz->context, e.out, kWriteChunk, &prefs);
    if (LZ4F_isError(header) || !emit(e, header)) return false;
    lz->open = true;
  }
  for (size_t at = 0; at < n; at += kLz4Piece) {
    size_t take = n - at < kLz4Piece ? n - at : kLz4Piece;
    size_t made = LZ4F_compressUpdate(lz->context, e.out, kWriteChunk, data + at, take, nullptr);
    if (LZ4F_isError(made) || !emit(e, made)) return false;
  }
  if (push == Push::kNone) return true;
  lz->open = push == Push::kFlush;
  size_t made = push == Push::kFlush ? LZ4F_flush(lz->context, e.out, kWriteChunk, nullptr)
                                     : LZ4F_compressEnd(lz->context, e.out, kWriteChunk, nullptr);
  return !LZ4F_isError(made) && emit(e, made);
}

// Frees the context (null: nothing).
void lz4_encoder_free(Encoder& e) {
  auto* lz = static_cast<Lz4Encoder*>(e.state);
  if (lz != nullptr) LZ4F_freeCompressionContext(lz->context);
  delete lz;
  e.state = nullptr;
}

}  // namespace

const DecoderOps kLz4Decoder{lz4_decoder_start, lz4_decoder_read, lz4_decoder_end, 0};

const EncoderOps kLz4Encoder{lz4_encoder_make, lz4_encoder_start, lz4_encoder_write,
                             lz4_encoder_free};
