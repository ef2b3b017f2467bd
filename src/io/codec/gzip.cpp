// gzip by isa-l, both ways. In: any number of members, one after another, as
// pigz, bgzip and cat a.gz b.gz write them. Out: one member per stream or
// block, at isa-l's level 3.
#include <isa-l/igzip_lib.h>

#include <cstdint>
#include <cstdlib>
#include <new>

#include "io/codec/decoder.h"
#include "io/codec/encoder_ops.h"

namespace {

constexpr int kGzipLevel = 3;  // isa-l's best ratio, still several times faster than zlib -1

// Gives d an inflate state; false when memory runs out.
bool gzip_decoder_start(Decoder& d) {
  auto* gz = new (std::nothrow) inflate_state;
  if (gz != nullptr) isal_inflate_init(gz);
  d.state = gz;
  return gz != nullptr;
}

// Frees d's inflate state.
void gzip_decoder_end(Decoder& d) {
  delete static_cast<inflate_state*>(d.state);
  d.state = nullptr;
}

// Fails on damage, truncation, or anything but a member or zero padding
// after a member.
ssize_t gzip_decoder_read(Decoder& d, char* buf, size_t size) {
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

// isa-l's compressor and the level buffer it borrows.
struct GzipEncoder {
  isal_zstream stream;
  unsigned char* level_buf = nullptr;
};

// Makes the compressor and its level buffer; false when memory runs out.
bool gzip_encoder_make(Encoder& e) {
  auto* gz = new (std::nothrow) GzipEncoder;
  e.state = gz;
  if (gz != nullptr)
    gz->level_buf = static_cast<unsigned char*>(std::malloc(ISAL_DEF_LVL3_DEFAULT));
  return gz != nullptr && gz->level_buf != nullptr;
}

// Begins a gzip member (header and trailer, not raw deflate) at level 3.
bool gzip_encoder_start(Encoder& e, size_t) {
  auto* gz = static_cast<GzipEncoder*>(e.state);
  isal_deflate_init(&gz->stream);
  gz->stream.level = kGzipLevel;
  gz->stream.level_buf = gz->level_buf;
  gz->stream.level_buf_size = ISAL_DEF_LVL3_DEFAULT;
  gz->stream.gzip_flag = IGZIP_GZIP;
  return true;
}

// Deflates n bytes, then syncs (kFlush) or ends the member (kEnd).
bool gzip_encoder_write(Encoder& e, const char* data, size_t n, Push push) {
  isal_zstream& gz = static_cast<GzipEncoder*>(e.state)->stream;
  gz.next_in = reinterpret_cast<uint8_t*>(const_cast<char*>(data));
  gz.avail_in = static_cast<uint32_t>(n);
  gz.end_of_stream = push == Push::kEnd ? 1 : 0;
  gz.flush = push == Push::kFlush ? SYNC_FLUSH : NO_FLUSH;
  bool more = true;
  while (more) {
    gz.next_out = reinterpret_cast<uint8_t*>(e.out);
    gz.avail_out = kWriteChunk;
    if (isal_deflate(&gz) != COMP_OK) return false;
    if (!emit(e, kWriteChunk - gz.avail_out)) return false;
    // A flush is complete once the output has room left over.
    more = gz.avail_in > 0 || (push == Push::kEnd && gz.internal_state.state != ZSTATE_END) ||
           (push == Push::kFlush && gz.avail_out == 0);
  }
  gz.flush = NO_FLUSH;
  return true;
}

// Frees the compressor, made or half made.
void gzip_encoder_free(Encoder& e) {
  auto* gz = static_cast<GzipEncoder*>(e.state);
  if (gz != nullptr) std::free(gz->level_buf);
  delete gz;
  e.state = nullptr;
}

}  // namespace

const DecoderOps kGzipDecoder{gzip_decoder_start, gzip_decoder_read, gzip_decoder_end, 0};

const EncoderOps kGzipEncoder{gzip_encoder_make, gzip_encoder_start, gzip_encoder_write,
                              gzip_encoder_free};
