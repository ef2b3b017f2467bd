// xz streams decoded by liblzma, which itself passes from one concatenated
// stream to the next and over stream padding.
#include "io/codec/xz_decoder.h"

#include <lzma.h>

#include <cstdint>
#include <new>

namespace {

struct XzState {
  lzma_stream stream = LZMA_STREAM_INIT;
  bool input_ended = false;  // all input read: liblzma is told to finish
  bool ended = false;        // the last stream is decoded, its checks passed
};

}  // namespace

bool xz_start(Decoder& d) {
  auto* xz = new (std::nothrow) XzState;
  d.state = xz;
  // No memory limit, as xz itself: a file is refused for damage, not for its
  // dictionary size.
  return xz != nullptr &&
         lzma_stream_decoder(&xz->stream, UINT64_MAX, LZMA_CONCATENATED) == LZMA_OK;
}

void xz_end(Decoder& d) {
  auto* xz = static_cast<XzState*>(d.state);
  if (xz != nullptr) lzma_end(&xz->stream);
  delete xz;
  d.state = nullptr;
}

ssize_t xz_read(Decoder& d, char* buf, size_t size) {
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
