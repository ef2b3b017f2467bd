// zstd frames decoded by libzstd's streaming decoder.
#include "io/codec/zstd_decoder.h"

#include <zstd.h>

namespace {

constexpr size_t kZstdBlockOut = size_t{1} << 17;  // zstd's largest block

}  // namespace

bool zstd_start(Decoder& d) {
  d.state = ZSTD_createDCtx();
  return d.state != nullptr;
}

void zstd_end(Decoder& d) {
  ZSTD_freeDCtx(static_cast<ZSTD_DCtx*>(d.state));
  d.state = nullptr;
}

ssize_t zstd_read(Decoder& d, char* buf, size_t size) {
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
