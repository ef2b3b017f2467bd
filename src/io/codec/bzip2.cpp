// bzip2 by libbz2, both ways. In: any number of streams, one after another,
// as pbzip2 and cat a.bz2 b.bz2 write them. Out: one stream per block, and in
// a stream a new one after each flush, in 900 kB blocks.
#include <bzlib.h>

#include <climits>
#include <new>

#include "io/codec/decoder.h"
#include "io/codec/encoder_ops.h"

namespace {

// Read 4 MiB at a time: the decoder walks a 3.6 MB table in random order, a
// table that the work on the lines between two reads pushes out of the
// caches (read 256 KiB at a time, the walk takes half again as long).
constexpr size_t kBzip2DecodedChunk = size_t{1} << 22;

// Measured by bench/codecs on annotated InChI lines. bzip2's level only
// sizes its blocks (900 kB at 9: a parallel run's block fits in one) and
// moves its speed by less than the noise.
constexpr int kBzip2Level = 9;

// Gives d a bz_stream, begun at each stream; false when memory runs out.
bool bzip2_decoder_start(Decoder& d) {
  d.state = new (std::nothrow) bz_stream();
  return d.state != nullptr;
}

// Ends the stream d is inside, if any, and frees its bz_stream.
void bzip2_decoder_end(Decoder& d) {
  auto* bz = static_cast<bz_stream*>(d.state);
  if (bz != nullptr && d.in_unit) BZ2_bzDecompressEnd(bz);
  delete bz;
  d.state = nullptr;
}

// Fails on damage, truncation, or anything but a stream or zero padding
// after a stream.
ssize_t bzip2_decoder_read(Decoder& d, char* buf, size_t size) {
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

// The compressor, and whether a stream is begun and not yet finished.
struct Bzip2Encoder {
  bz_stream stream{};
  bool open = false;
};

// Makes the compressor's holder; false when memory runs out.
bool bzip2_encoder_make(Encoder& e) {
  e.state = new (std::nothrow) Bzip2Encoder;
  return e.state != nullptr;
}

// Begins a stream: bzip2 has no reset, so each stream is a new compressor.
bool bzip2_encoder_start(Encoder& e, size_t) {
  auto* bz = static_cast<Bzip2Encoder*>(e.state);
  if (bz->open) BZ2_bzCompressEnd(&bz->stream);
  bz->open = BZ2_bzCompressInit(&bz->stream, kBzip2Level, 0, 0) == BZ_OK;
  return bz->open;
}

// Compresses n bytes; a flush finishes the stream, as kEnd does, and the
// next input begins another: bzip2's own flush leaves the last bits of the
// block unwritten, so no decoder could give its lines yet. bzip2 -d and our
// decoder read the streams as one file.
bool bzip2_encoder_write(Encoder& e, const char* data, size_t n, Push push) {
  auto* bz = static_cast<Bzip2Encoder*>(e.state);
  if (!bz->open && n == 0) return true;  // the stream ended at a flush: nothing since
  if (!bz->open && !bzip2_encoder_start(e, 0)) return false;
  bz->stream.next_in = const_cast<char*>(data);
  bz->stream.avail_in = static_cast<unsigned>(n);
  int action = push == Push::kNone ? BZ_RUN : BZ_FINISH;
  int rc = BZ_RUN_OK;
  do {
    bz->stream.next_out = e.out;
    bz->stream.avail_out = kWriteChunk;
    rc = BZ2_bzCompress(&bz->stream, action);
    if (rc < 0 || !emit(e, kWriteChunk - bz->stream.avail_out)) return false;
  } while (action == BZ_FINISH ? rc != BZ_STREAM_END
                               : bz->stream.avail_in > 0 || bz->stream.avail_out == 0);
  if (action == BZ_FINISH) {
    BZ2_bzCompressEnd(&bz->stream);
    bz->open = false;
  }
  return true;
}

// Ends an open stream and frees the holder (null: nothing).
void bzip2_encoder_free(Encoder& e) {
  auto* bz = static_cast<Bzip2Encoder*>(e.state);
  if (bz != nullptr && bz->open) BZ2_bzCompressEnd(&bz->stream);
  delete bz;
  e.state = nullptr;
}

}  // namespace

const DecoderOps kBzip2Decoder{bzip2_decoder_start, bzip2_decoder_read, bzip2_decoder_end,
                               kBzip2DecodedChunk};

const EncoderOps kBzip2Encoder{bzip2_encoder_make, bzip2_encoder_start, bzip2_encoder_write,
                               bzip2_encoder_free};
