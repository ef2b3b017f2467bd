// Which format an input is, by its first bytes, and the read stream that
// hands its decoded bytes to stdio: the fopencookie read function fills
// stdio's own buffer, so decoding costs no extra copy per byte on the way to
// the line reader. Each format's decoding is in its own unit.
#include "io/codec/codec.h"

#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "io/codec/bzip2_decoder.h"
#include "io/codec/decoder.h"
#include "io/codec/gzip_decoder.h"
#include "io/codec/lz4_decoder.h"
#include "io/codec/xz_decoder.h"
#include "io/codec/zstd_decoder.h"

namespace {

constexpr unsigned char kGzipMagic[] = {0x1f, 0x8b};
constexpr unsigned char kZstdMagic[] = {0x28, 0xb5, 0x2f, 0xfd};
// A zstd or lz4 skippable frame (pzstd writes one first) is 5X 2a 4d 18, any X.
constexpr unsigned char kSkippableMagic[] = {0x50, 0x2a, 0x4d, 0x18};
constexpr unsigned char kBzip2Magic[] = {'B', 'Z', 'h'};  // then the block size, '1' to '9'
constexpr unsigned char kXzMagic[] = {0xfd, 0x37, 0x7a, 0x58, 0x5a, 0x00};
constexpr unsigned char kLz4Magic[] = {0x04, 0x22, 0x4d, 0x18};
constexpr unsigned char kLegacyLz4Magic[] = {0x02, 0x21, 0x4c, 0x18};
constexpr unsigned char kZipMagic[] = {'P', 'K', 0x03, 0x04};
constexpr unsigned char kEmptyZipMagic[] = {'P', 'K', 0x05, 0x06};
constexpr unsigned char k7zMagic[] = {0x37, 0x7a, 0xbc, 0xaf, 0x27, 0x1c};
constexpr unsigned char kTarMark[] = {'u', 's', 't', 'a', 'r'};
constexpr size_t kTarMarkAt = 257;

// The first n bytes (n <= 4) agree with a skippable frame's magic number.
bool skippable_prefix(const unsigned char* head, size_t n) {
  return (n == 0 || (head[0] & 0xf0) == kSkippableMagic[0]) &&
         std::memcmp(head + (n > 0 ? 1 : 0), kSkippableMagic + 1, n > 0 ? n - 1 : 0) == 0;
}

// The first n bytes are magic, all of it (n >= its length).
template <size_t size>
bool is(const unsigned char* head, size_t n, const unsigned char (&magic)[size]) {
  return n >= size && std::memcmp(head, magic, size) == 0;
}

// The first n bytes could still grow into magic: fewer, and the same.
template <size_t size>
bool may_become(const unsigned char* head, size_t n, const unsigned char (&magic)[size]) {
  return n < size && std::memcmp(head, magic, n) == 0;
}

// A tar header's checksum field: at offset 148, 8 bytes, octal digits
// between spaces and NULs.
constexpr size_t kTarSumAt = 148;
constexpr size_t kTarSumBytes = 8;
constexpr size_t kTarHeaderBytes = 512;

constexpr size_t kTarNameBytes = 100;
constexpr size_t kTarModeBytes = 8;  // right after the name

bool is_octal_field_byte(unsigned char c) { return (c >= '0' && c <= '7') || c == ' ' || c == 0; }

// True when a 512-byte record is a tar header by its checksum (the sum of
// its bytes, the checksum field counted as spaces), as V7 tar, which has no
// "ustar" mark, writes it; a record of text almost never passes.
bool is_tar_header(const unsigned char* h) {
  if (h[0] == 0) return false;  // no name: an end record, or no tar
  const unsigned char* field = h + kTarSumAt;
  size_t i = 0;
  while (i < kTarSumBytes && field[i] == ' ') ++i;
  uint32_t stored = 0;
  size_t digits = 0;
  for (; i < kTarSumBytes && field[i] >= '0' && field[i] <= '7'; ++i, ++digits)
    stored = stored * 8 + static_cast<uint32_t>(field[i] - '0');
  for (; i < kTarSumBytes; ++i)
    if (field[i] != ' ' && field[i] != 0) return false;
  if (digits == 0) return false;
  uint32_t sum = 8 * ' ';
  for (size_t k = 0; k < kTarHeaderBytes; ++k)
    if (k < kTarSumAt || k >= kTarSumAt + kTarSumBytes) sum += h[k];
  return sum == stored;
}

// Starts format's decompressor in d; false when memory runs out.
bool start_format(Decoder& d, Format format) {
  d.format = format;
  switch (format) {
    case Format::kGzip:
      return gzip_start(d);
    case Format::kZstd:
      return zstd_start(d);
    case Format::kBzip2:
      return bzip2_start(d);
    case Format::kXz:
      return xz_start(d);
    case Format::kLz4:
      return lz4_start(d);
    case Format::kPlain:
      break;
  }
  return true;
}

// Frees d's decompressor.
void end_format(Decoder& d) {
  switch (d.format) {
    case Format::kGzip:
      gzip_end(d);
      break;
    case Format::kZstd:
      zstd_end(d);
      break;
    case Format::kBzip2:
      bzip2_end(d);
      break;
    case Format::kXz:
      xz_end(d);
      break;
    case Format::kLz4:
      lz4_end(d);
      break;
    case Format::kPlain:
      break;
  }
}

// zstd and lz4 share skippable frames (the magic, a 32-bit little-endian
// size, that many bytes): an input that begins with them is lz4 when an lz4
// frame comes next, else zstd. Passes over them and settles d's format;
// false on a read error, a skippable frame cut short or no memory for lz4.
bool pass_skippable_frames(Decoder& d) {
  for (;;) {
    ssize_t held = gather(d, 8);
    if (held < 0) return false;
    const unsigned char* p = d.in + d.in_pos;
    auto n = static_cast<size_t>(held);
    if (n < 4 || !skippable_prefix(p, 4)) {
      if (!is(p, n, kLz4Magic)) return true;
      end_format(d);
      return start_format(d, Format::kLz4);
    }
    if (n < 8) return false;
    uint64_t skip = 8 + (p[4] | p[5] << 8 | p[6] << 16 | static_cast<uint64_t>(p[7]) << 24);
    while (skip > 0) {
      if (d.in_pos == d.in_len && refill(d) <= 0) return false;
      size_t take = d.in_len - d.in_pos < skip ? d.in_len - d.in_pos : skip;
      d.in_pos += take;
      skip -= take;
    }
  }
}

ssize_t plain_read(Decoder& d, char* buf, size_t size) {
  if (d.in_pos < d.in_len) {  // the first bytes, read to recognise the input
    size_t k = d.in_len - d.in_pos < size ? d.in_len - d.in_pos : size;
    std::memcpy(buf, d.in + d.in_pos, k);
    d.in_pos += k;
    return static_cast<ssize_t>(k);
  }
  ssize_t r = read_source(d.src, reinterpret_cast<unsigned char*>(buf), size);
  if (r < 0) errno = EIO;
  return r;
}

ssize_t decoder_read(void* cookie, char* buf, size_t size) {
  Decoder& d = *static_cast<Decoder*>(cookie);
  if (!d.settled) {
    d.settled = true;
    d.failed = !pass_skippable_frames(d);
  }
  if (d.failed) {
    errno = EIO;
    return -1;
  }
  switch (d.format) {
    case Format::kGzip:
      return gzip_read(d, buf, size);
    case Format::kZstd:
      return zstd_read(d, buf, size);
    case Format::kBzip2:
      return bzip2_read(d, buf, size);
    case Format::kXz:
      return xz_read(d, buf, size);
    case Format::kLz4:
      return lz4_read(d, buf, size);
    case Format::kPlain:
      break;
  }
  return plain_read(d, buf, size);
}

// Frees what start_decoder gave d, and closes its input if d owns it.
void end_decoder(Decoder& d) {
  end_format(d);
  std::free(d.in);
  d.in = nullptr;
  if (d.src.owned && d.src.fd >= 0) ::close(d.src.fd);
  d.src.fd = -1;
}

int decoder_close(void* cookie) {
  Decoder* d = static_cast<Decoder*>(cookie);
  end_decoder(*d);
  delete d;
  return 0;
}

// Gives d its buffer, holding the first n bytes (head), and format's
// decompressor; false when memory runs out.
bool start_decoder(Decoder& d, Format format, const unsigned char* head, size_t n) {
  d.in = static_cast<unsigned char*>(std::malloc(kReadChunk));
  if (d.in == nullptr) return false;
  d.in_len = n < kReadChunk ? n : kReadChunk;
  std::memcpy(d.in, head, d.in_len);
  d.settled = !(d.in_len >= 4 && skippable_prefix(d.in, 4));
  return start_format(d, format);
}

}  // namespace

Format format_of(const unsigned char* head, size_t n) {
  if (is(head, n, kGzipMagic)) return Format::kGzip;
  if (is(head, n, kZstdMagic)) return Format::kZstd;
  if (n >= sizeof kSkippableMagic && skippable_prefix(head, sizeof kSkippableMagic))
    return Format::kZstd;
  if (is(head, n, kBzip2Magic) && n > sizeof kBzip2Magic && head[3] >= '1' && head[3] <= '9')
    return Format::kBzip2;
  if (is(head, n, kXzMagic)) return Format::kXz;
  if (is(head, n, kLz4Magic)) return Format::kLz4;
  return Format::kPlain;
}

bool may_become_magic(const unsigned char* head, size_t n) {
  return may_become(head, n, kGzipMagic) || may_become(head, n, kZstdMagic) ||
         (n < sizeof kSkippableMagic && skippable_prefix(head, n)) ||
         (n <= sizeof kBzip2Magic && std::memcmp(head, kBzip2Magic, n) == 0) ||
         may_become(head, n, kXzMagic) || may_become(head, n, kLz4Magic) ||
         may_become(head, n, kZipMagic) || may_become(head, n, kEmptyZipMagic) ||
         may_become(head, n, k7zMagic) || may_become(head, n, kLegacyLz4Magic) ||
         (n == 1 && (head[0] == 0xff || head[0] == 0xfe));  // a UTF-16 byte order mark
}

bool may_become_tar(const unsigned char* head, size_t n) {
  if (n == 0 || n >= kTarHeaderBytes || head[0] == 0) return false;
  size_t name = n < kTarNameBytes ? n : kTarNameBytes;
  auto nul = static_cast<const unsigned char*>(std::memchr(head, 0, name));
  size_t text = nul == nullptr ? name : static_cast<size_t>(nul - head);
  if (std::memchr(head, '\n', text) != nullptr || std::memchr(head, '\r', text) != nullptr)
    return false;
  for (size_t i = text; i < name; ++i)
    if (head[i] != 0) return false;
  for (size_t i = kTarNameBytes; i < n && i < kTarNameBytes + kTarModeBytes; ++i)
    if (!is_octal_field_byte(head[i])) return false;
  return true;
}

Archive archive_of(const unsigned char* data, size_t n) {
  if (is(data, n, kZipMagic) || is(data, n, kEmptyZipMagic)) return Archive::kZip;
  if (is(data, n, k7zMagic)) return Archive::k7z;
  if (is(data, n, kLegacyLz4Magic)) return Archive::kLegacyLz4;
  if (n >= kTarMarkAt && is(data + kTarMarkAt, n - kTarMarkAt, kTarMark)) return Archive::kTar;
  if (n >= kTarHeaderBytes && is_tar_header(data)) return Archive::kTar;
  return Archive::kNone;
}

bool is_utf16(const unsigned char* data, size_t n) {
  return n >= 2 && ((data[0] == 0xff && data[1] == 0xfe) || (data[0] == 0xfe && data[1] == 0xff));
}

Format format_for_name(const char* name) {
  struct Suffix {
    const char* text;
    Format format;
  };
  static constexpr Suffix kSuffixes[] = {{".gz", Format::kGzip},
                                         {".zst", Format::kZstd},
                                         {".bz2", Format::kBzip2},
                                         {".xz", Format::kXz},
                                         {".lz4", Format::kLz4}};
  size_t n = std::strlen(name);
  for (const Suffix& s : kSuffixes) {
    size_t k = std::strlen(s.text);
    if (n >= k && strcasecmp(name + n - k, s.text) == 0) return s.format;
  }
  return Format::kPlain;
}

size_t decoded_chunk_for(Format format) { return format == Format::kBzip2 ? 1 << 22 : 0; }

FILE* open_decoder(int fd, Format format, const unsigned char* head, size_t n, size_t max_read) {
  Decoder* d = new (std::nothrow) Decoder;
  if (d == nullptr) {
    ::close(fd);
    return nullptr;
  }
  d->src.fd = fd;
  d->src.max_read = max_read;
  FILE* f = start_decoder(*d, format, head, n)
                ? fopencookie(d, "rb", {decoder_read, nullptr, nullptr, decoder_close})
                : nullptr;
  if (f == nullptr) decoder_close(d);
  return f;
}

size_t preview_decoded(int fd, Format format, const unsigned char* head, size_t n,
                       unsigned char* to, size_t want) {
  Decoder d;
  d.src.owned = false;
  d.src.at = fd < 0 ? -1 : lseek(fd, 0, SEEK_CUR);
  d.src.fd = d.src.at < 0 ? -1 : fd;
  size_t got = 0;
  if (start_decoder(d, format, head, n)) {
    while (got < want) {
      ssize_t r = decoder_read(&d, reinterpret_cast<char*>(to + got), want - got);
      if (r <= 0) break;
      got += static_cast<size_t>(r);
    }
  }
  end_decoder(d);
  return got;
}
