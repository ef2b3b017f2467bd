// bzip2 streams decoded by libbz2, one after another.
#include "io/codec/bzip2_decoder.h"

#include <bzlib.h>

#include <climits>
#include <new>

bool bzip2_start(Decoder& d) {
  d.state = new (std::nothrow) bz_stream();
  return d.state != nullptr;
}

void bzip2_end(Decoder& d) {
  auto* bz = static_cast<bz_stream*>(d.state);
  if (bz != nullptr && d.in_unit) BZ2_bzDecompressEnd(bz);
  delete bz;
  d.state = nullptr;
}

ssize_t bzip2_read(Decoder& d, char* buf, size_t size) {
  auto* bz = static_cast<bz_stream*>(d.state);
  size_t produced = 0;
  while (produced < size) {
    if (!d.in_unit) {
      // Between streams: the end of the file, or another stream (pbzip2 and
      // cat a.bz2 b.bz2 write several), or zero padding. Anything else fails
      // its magic check.
      Input input = next_member(d);
      if (input == Input::kEnd) break;
      if (input == Input::kFailed) return fail(d, produced);
      if (BZ2_bzDecompressInit(bz, 0, 0) != BZ_OK) return fail(d, produced);
      d.in_unit = true;
    }
    if (next_input(d) != Input::kReady) return fail(d, produced);  // cut short
    size_t held = d.in_len - d.in_pos;
    auto offered = static_cast<unsigned>(held > UINT_MAX ? UINT_MAX : held);
    auto room = static_cast<unsigned>(size - produced > UINT_MAX ? UINT_MAX : size - produced);
    bz->next_in = reinterpret_cast<char*>(d.in + d.in_pos);
    bz->avail_in = offered;
    bz->next_out = buf + produced;
    bz->avail_out = room;
    int rc = BZ2_bzDecompress(bz);
    size_t used = offered - bz->avail_in;
    size_t made = room - bz->avail_out;
    d.in_pos += used;
    produced += made;
    if (rc == BZ_STREAM_END) {
      BZ2_bzDecompressEnd(bz);
      d.in_unit = false;
      d.more_output = false;
      continue;
    }
    if (rc != BZ_OK) return fail(d, produced);
    d.more_output = bz->avail_out == 0;
    // Input left, room left, and nothing moved: never spin on bad data.
    if (used == 0 && made == 0 && !d.more_output && d.in_pos < d.in_len) return fail(d, produced);
  }
  return static_cast<ssize_t>(produced);
}
