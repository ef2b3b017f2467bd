// lz4 frames decoded by liblz4's frame decoder, which starts a new frame by
// itself after each one ends.
#include "io/codec/lz4_decoder.h"

#include <lz4frame.h>

bool lz4_start(Decoder& d) {
  LZ4F_dctx* lz = nullptr;
  if (LZ4F_isError(LZ4F_createDecompressionContext(&lz, LZ4F_VERSION))) return false;
  d.state = lz;
  return true;
}

void lz4_end(Decoder& d) {
  if (d.state != nullptr) LZ4F_freeDecompressionContext(static_cast<LZ4F_dctx*>(d.state));
  d.state = nullptr;
}

ssize_t lz4_read(Decoder& d, char* buf, size_t size) {
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
