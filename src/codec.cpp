// Which format an input is, by its first bytes, and the read stream that
// hands its decoded bytes to stdio: the fopencookie read function fills
// stdio's own buffer, so decoding costs no extra copy per byte on the way to
// the line reader. Each format's decoding is in its own unit.
#include "codec.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "decoder.h"
#include "gzip_decoder.h"
#include "zstd_decoder.h"

namespace {

constexpr unsigned char kGzipMagic[] = {0x1f, 0x8b};
constexpr unsigned char kZstdMagic[] = {0x28, 0xb5, 0x2f, 0xfd};
// A zstd skippable frame (pzstd writes one first) is 5X 2a 4d 18, any X.
constexpr unsigned char kSkippableMagic[] = {0x50, 0x2a, 0x4d, 0x18};

// The first n bytes (n <= 4) agree with a skippable frame's magic number.
bool skippable_prefix(const unsigned char* head, size_t n) {
  return (n == 0 || (head[0] & 0xf0) == kSkippableMagic[0]) &&
         std::memcmp(head + (n > 0 ? 1 : 0), kSkippableMagic + 1, n > 0 ? n - 1 : 0) == 0;
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
  if (d.failed) {
    errno = EIO;
    return -1;
  }
  switch (d.format) {
    case Format::kGzip:
      return gzip_read(d, buf, size);
    case Format::kZstd:
      return zstd_read(d, buf, size);
    case Format::kPlain:
      break;
  }
  return plain_read(d, buf, size);
}

// Frees what start_decoder gave d, and closes its input if d owns it.
void end_decoder(Decoder& d) {
  switch (d.format) {
    case Format::kGzip:
      gzip_end(d);
      break;
    case Format::kZstd:
      zstd_end(d);
      break;
    case Format::kPlain:
      break;
  }
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
  d.format = format;
  switch (format) {
    case Format::kGzip:
      return gzip_start(d);
    case Format::kZstd:
      return zstd_start(d);
    case Format::kPlain:
      break;
  }
  return true;
}

}  // namespace

Format format_of(const unsigned char* head, size_t n) {
  if (n >= sizeof kGzipMagic && std::memcmp(head, kGzipMagic, sizeof kGzipMagic) == 0)
    return Format::kGzip;
  if (n >= sizeof kZstdMagic && std::memcmp(head, kZstdMagic, sizeof kZstdMagic) == 0)
    return Format::kZstd;
  if (n >= sizeof kSkippableMagic && skippable_prefix(head, sizeof kSkippableMagic))
    return Format::kZstd;
  return Format::kPlain;
}

bool may_become_magic(const unsigned char* head, size_t n) {
  return (n < sizeof kGzipMagic && std::memcmp(head, kGzipMagic, n) == 0) ||
         (n < sizeof kZstdMagic && std::memcmp(head, kZstdMagic, n) == 0) ||
         (n < sizeof kSkippableMagic && skippable_prefix(head, n));
}

Format format_for_name(const char* name) {
  size_t n = std::strlen(name);
  if (n >= 3 && std::strcmp(name + n - 3, ".gz") == 0) return Format::kGzip;
  if (n >= 4 && std::strcmp(name + n - 4, ".zst") == 0) return Format::kZstd;
  return Format::kPlain;
}

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
