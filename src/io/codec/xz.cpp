// xz by liblzma, both ways. In: any number of streams with stream padding
// between and after them, as xz -T and cat a.xz b.xz write them; liblzma
// itself passes from one to the next. Out: one stream per stream or block,
// at -1, with CRC64.
#include <lzma.h>

#include <cstdint>
#include <new>

#include "io/codec/decoder.h"
#include "io/codec/encoder_ops.h"

namespace {

// xz's knee: a fifth slower than -0 for 10 to 30 % fewer bytes; -2 costs
// another quarter of the speed for 3 to 10 %, and -6, xz's own default, is
// five times slower.
constexpr uint32_t kXzPreset = 1;

// The decompressor, and how far the input has gone.
struct XzState {
  lzma_stream stream = LZMA_STREAM_INIT;
  bool input_ended = false;  // all input read: liblzma is told to finish
  bool ended = false;        // the last stream is decoded, its checks passed
};

// Gives d a stream decoder of concatenated streams; false when memory runs
// out.
bool xz_decoder_start(Decoder& d) {
  auto* xz = new (std::nothrow) XzState;
  d.state = xz;
  // No memory limit, as xz itself: a file is refused for damage, not for its
  // dictionary size.
  return xz != nullptr &&
         lzma_stream_decoder(&xz->stream, UINT64_MAX, LZMA_CONCATENATED) == LZMA_OK;
}

// Frees d's decoder.
void xz_decoder_end(Decoder& d) {
  auto* xz = static_cast<XzState*>(d.state);
  if (xz != nullptr) lzma_end(&xz->stream);
  delete xz;
  d.state = nullptr;
}

// Fails on damage (a wrong check included), truncation, or anything but a
// stream or padding after a stream.
ssize_t xz_decoder_read(Decoder& d, char* buf, size_t size) {
  auto* xz = static_cast<XzState*>(d.state);
  size_t produced = 0;
  while (produced < size && !xz->ended) {
    if (d.in_pos == d.in_len && !d.more_output && !xz->input_ended) {
      ssize_t r = refill(d);
      if (r < 0) return fail(d, produced);
      xz->input_ended = r == 0;
    }
    lzma_stream& s = xz->stream;
    s.next_in = d.in + d.in_pos;
    s.avail_in = d.in_len - d.in_pos;
    s.next_out = reinterpret_cast<uint8_t*>(buf + produced);
    s.avail_out = size - produced;
    // Once told to finish, liblzma says LZMA_BUF_ERROR where more input was
    // needed: a truncated file.
    lzma_ret rc = lzma_code(&s, xz->input_ended ? LZMA_FINISH : LZMA_RUN);
    d.in_pos = d.in_len - s.avail_in;
    produced = size - s.avail_out;
    if (rc == LZMA_STREAM_END) {
      xz->ended = true;
    } else if (rc != LZMA_OK) {
      return fail(d, produced);
    }
    d.more_output = s.avail_out == 0;
  }
  return static_cast<ssize_t>(produced);
}

// Makes an idle lzma_stream; false when memory runs out.
bool xz_encoder_make(Encoder& e) {
  auto* xz = new (std::nothrow) lzma_stream;
  if (xz != nullptr) *xz = LZMA_STREAM_INIT;
  e.state = xz;
  return xz != nullptr;
}

// Begins a stream: starting again reuses the compressor's memory; CRC64, as
// xz itself.
bool xz_encoder_start(Encoder& e, size_t) {
  return lzma_easy_encoder(static_cast<lzma_stream*>(e.state), kXzPreset, LZMA_CHECK_CRC64) ==
         LZMA_OK;
}

// Compresses n bytes, then sync-flushes (kFlush) or finishes the stream
// (kEnd).
bool xz_encoder_write(Encoder& e, const char* data, size_t n, Push push) {
  auto* xz = static_cast<lzma_stream*>(e.state);
  xz->next_in = reinterpret_cast<const uint8_t*>(data);
  xz->avail_in = n;
  lzma_action action = push == Push::kEnd     ? LZMA_FINISH
                       : push == Push::kFlush ? LZMA_SYNC_FLUSH
                                              : LZMA_RUN;
  lzma_ret rc = LZMA_OK;
  do {
    xz->next_out = reinterpret_cast<uint8_t*>(e.out);
    xz->avail_out = kWriteChunk;
    rc = lzma_code(xz, action);
    if ((rc != LZMA_OK && rc != LZMA_STREAM_END) || !emit(e, kWriteChunk - xz->avail_out))
      return false;
  } while (action == LZMA_RUN ? xz->avail_in > 0 || xz->avail_out == 0 : rc != LZMA_STREAM_END);
  return true;
}

// Frees the compressor (null: nothing).
void xz_encoder_free(Encoder& e) {
  auto* xz = static_cast<lzma_stream*>(e.state);
  if (xz != nullptr) lzma_end(xz);
  delete xz;
  e.state = nullptr;
}

}  // namespace

const DecoderOps kXzDecoder{xz_decoder_start, xz_decoder_read, xz_decoder_end, 0};

const EncoderOps kXzEncoder{xz_encoder_make, xz_encoder_start, xz_encoder_write, xz_encoder_free};
