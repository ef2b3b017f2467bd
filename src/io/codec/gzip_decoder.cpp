// gzip members decoded by isa-l's inflate, one after another.
#include "io/codec/gzip_decoder.h"

#include <isa-l/igzip_lib.h>

#include <cstdint>
#include <new>

bool gzip_start(Decoder& d) {
  auto* gz = new (std::nothrow) inflate_state;
  if (gz != nullptr) isal_inflate_init(gz);
  d.state = gz;
  return gz != nullptr;
}

void gzip_end(Decoder& d) {
  delete static_cast<inflate_state*>(d.state);
  d.state = nullptr;
}

ssize_t gzip_read(Decoder& d, char* buf, size_t size) {
  auto* gz = static_cast<inflate_state*>(d.state);
  size_t produced = 0;
  while (produced < size) {
    if (!d.in_unit) {
      // Between members: the end of the file, or another member (pigz,
      // bgzip and cat a.gz b.gz write several), or zero padding. Anything
      // else is refused by the header check.
      Input input = next_member(d);
      if (input == Input::kEnd) break;
      if (input == Input::kFailed) return fail(d, produced);
      isal_inflate_reset(gz);
      gz->crc_flag = ISAL_GZIP;
      d.in_unit = true;
    }
    if (next_input(d) != Input::kReady) return fail(d, produced);  // cut short
    gz->next_in = d.in + d.in_pos;
    gz->avail_in = static_cast<uint32_t>(d.in_len - d.in_pos);
    gz->next_out = reinterpret_cast<uint8_t*>(buf + produced);
    uint32_t room =
        size - produced > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size - produced);
    gz->avail_out = room;
    int rc = isal_inflate(gz);
    size_t used = d.in_len - d.in_pos - gz->avail_in;
    size_t made = room - gz->avail_out;
    d.in_pos += used;
    produced += made;
    if (rc != ISAL_DECOMP_OK) return fail(d, produced);
    if (gz->block_state == ISAL_BLOCK_FINISH) {
      d.in_unit = false;
      d.more_output = false;
      continue;
    }
    d.more_output = gz->avail_out == 0;
    // Input left, room left, and nothing moved: never spin on bad data.
    if (used == 0 && made == 0 && !d.more_output && d.in_pos < d.in_len) return fail(d, produced);
  }
  return static_cast<ssize_t>(produced);
}
