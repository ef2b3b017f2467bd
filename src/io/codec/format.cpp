// The formats, archives and UTF-16 text known by their first bytes, and the
// output formats by their names' suffixes.
#include "io/codec/format.h"

#include <strings.h>

#include <cstdint>
#include <cstring>

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

}  // namespace

Format format_of(const unsigned char* head, size_t n) {
  if (is(head, n, kGzipMagic)) return Format::kGzip;
  if (is(head, n, kZstdMagic)) return Format::kZstd;
  if (begins_skippable_frame(head, n)) return Format::kZstd;
  if (is(head, n, kBzip2Magic) && n > sizeof kBzip2Magic && head[3] >= '1' && head[3] <= '9')
    return Format::kBzip2;
  if (is(head, n, kXzMagic)) return Format::kXz;
  if (is(head, n, kLz4Magic)) return Format::kLz4;
  return Format::kPlain;
}

bool begins_skippable_frame(const unsigned char* head, size_t n) {
  return n >= sizeof kSkippableMagic && skippable_prefix(head, sizeof kSkippableMagic);
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
