// The decoders against independent compressors (gzip, zstd, bzip2, xz, lz4,
// their multi-member, multi-stream and multi-frame files) and against
// damage; the first decoded bytes.
#include "io/codec/codec.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <string>

#include "io/codec/codec_test_util.h"

namespace {

// A zstd skippable frame: magic 5X 2a 4d 18 (X from first), a 32-bit
// little-endian size, then that many bytes that the decoder must pass over.
std::string skippable(unsigned char first, const std::string& payload) {
  std::string frame = {static_cast<char>(first), '\x2a', '\x4d', '\x18'};
  for (int shift = 0; shift < 32; shift += 8)
    frame += static_cast<char>((payload.size() >> shift) & 0xff);
  return frame + payload;
}

// Where an xz file of one block with a CRC64 check keeps that check: just
// before the index, whose size the stream footer (the last 12 bytes) holds.
size_t xz_check_at(const std::string& xz) {
  const unsigned char* footer = reinterpret_cast<const unsigned char*>(xz.data()) + xz.size() - 12;
  size_t index_size = 4 * (1 + (footer[4] | footer[5] << 8 | footer[6] << 16 |
                                static_cast<size_t>(footer[7]) << 24));
  return xz.size() - 12 - index_size - 8;
}

// Files written by the standard tools decode to their exact bytes, whole
// however the reads from the descriptor are cut.
TEST(Codec, DecodesWhatTheStandardToolsWrite) {
  std::string text = sample_text(600'000);
  std::string a = text.substr(0, 250'000), b = text.substr(250'000);
  struct Case {
    const char* name;
    std::string compressed;
  };
  const Case cases[] = {
      {"gzip", filter("gzip -c", text)},
      {"gzip -1", filter("gzip -1c", text)},
      {"two gzip members", filter("gzip -c", a) + filter("gzip -9c", b)},
      {"empty member first", filter("gzip -c", "") + filter("gzip -c", text)},
      {"zstd", filter("zstd -qc", text)},
      {"zstd -19 with checksum", filter("zstd -19 -qc --check", text)},
      {"two zstd frames", filter("zstd -qc", a) + filter("zstd -qc --no-check", b)},
      {"pzstd, a skippable frame first", filter("pzstd -q -p 2 -c", text)},
      {"skippable frames around and between", skippable(0x50, "abc") + filter("zstd -qc", a) +
                                                  skippable(0x5f, "") + filter("zstd -qc", b) +
                                                  skippable(0x53, std::string(70'000, 'x'))},
      // Zero bytes after the last member or stream end the input, as gzip
      // and bzip2 read tape and block-device copies.
      {"gzip, zero padding", filter("gzip -c", text) + std::string(512, '\0')},
      {"two gzip members, zero padding", filter("gzip -c", a) + filter("gzip -c", b) + '\0'},
      {"bzip2, zero padding", filter("bzip2 -c", text) + std::string(70'000, '\0')},
      {"bzip2", filter("bzip2 -c", text)},
      {"lbzip2 -n 2, blocks of 100 kB", filter("lbzip2 -n 2 -1 -c", text)},
      {"pbzip2 -p2, a stream per 100 kB", filter("pbzip2 -p2 -b1 -c", text)},
      {"two bzip2 streams", filter("bzip2 -c", a) + filter("bzip2 -1c", b)},
      {"xz", filter("xz -c", text)},
      {"xz -T2, blocks of 100 kB", filter("xz -T2 --block-size=100000 -c", text)},
      {"two xz streams", filter("xz -c", a) + filter("xz -0 --check=crc32 -c", b)},
      {"xz stream padding between and after",
       filter("xz -c", a) + std::string(4, '\0') + filter("xz -c", b) + std::string(8, '\0')},
      {"lz4", filter("lz4 -q -c", text)},
      {"lz4, dependent 64 KiB blocks with checksums", filter("lz4 -q -B4 -BD -BX -c", text)},
      {"two lz4 frames", filter("lz4 -q -c", a) + filter("lz4 -q -9 --no-frame-crc -c", b)},
      {"lz4, skippable frames first and between",
       skippable(0x50, "abc") + skippable(0x5e, "") + filter("lz4 -q -c", a) +
           skippable(0x5f, "x") + filter("lz4 -q -c", b)},
  };
  for (const Case& c : cases) {
    for (size_t max_read : {0, 1, 3, 4096}) {
      SCOPED_TRACE(std::string(c.name) + ", reads of " + std::to_string(max_read));
      Decoded d = decode(c.compressed, max_read);
      EXPECT_FALSE(d.error);
      EXPECT_TRUE(d.bytes == text);
    }
  }
  for (const std::string& nothing :
       {filter("gzip -c", ""), skippable(0x50, "x"), filter("bzip2 -c", ""), filter("xz -c", ""),
        filter("lz4 -q -c", ""), skippable(0x50, "x") + filter("lz4 -q -c", "")}) {
    SCOPED_TRACE(testing::PrintToString(nothing));
    Decoded empty = decode(nothing, 0);
    EXPECT_FALSE(empty.error);
    EXPECT_EQ(empty.bytes, "");
  }
}

// Damage is a read error, never a hang or a silent success; whatever was
// decoded before it is the start of the original.
TEST(Codec, DamagedInputIsAReadError) {
  std::string text = sample_text(400'000);
  std::string gz = filter("gzip -c", text), zst = filter("zstd -qc", text);
  std::string bz = filter("bzip2 -c", text), xz = filter("xz -c", text);
  std::string lz = filter("lz4 -q -c", text);
  auto flipped = [](std::string s, size_t at) {
    s[at] = static_cast<char>(s[at] ^ 0x55);
    return s;
  };
  struct Case {
    const char* name;
    std::string bytes;
    bool prefix;  // the decoded bytes must be a prefix of the original
  };
  const Case cases[] = {
      {"gzip, a byte flipped in the middle", flipped(gz, gz.size() / 2), false},
      {"gzip, wrong CRC", flipped(gz, gz.size() - 8), true},
      {"gzip, wrong length", flipped(gz, gz.size() - 1), true},
      {"gzip, cut in two", gz.substr(0, gz.size() / 2), true},
      {"gzip, trailer cut", gz.substr(0, gz.size() - 3), true},
      {"gzip, header alone", gz.substr(0, 10), true},
      {"gzip, magic alone", gz.substr(0, 2), true},
      {"gzip, then plain text", gz + "InChI=1S/H2O/h1H2\n", true},
      {"gzip, zero padding, then plain text", gz + std::string(8, '\0') + "x", true},
      {"gzip, bad method", flipped(gz, 2), true},
      {"zstd, cut in two", zst.substr(0, zst.size() / 2), true},
      {"zstd, a byte flipped in the middle", flipped(zst, zst.size() / 2), false},
      {"zstd, wrong checksum", flipped(zst, zst.size() - 1), true},
      {"zstd, then plain text", zst + "hello\n", true},
      {"zstd, magic alone", zst.substr(0, 4), true},
      {"skippable frame cut short", skippable(0x50, "abcdef").substr(0, 11) + zst, true},
      {"skippable frame, then plain text", skippable(0x50, "abc") + text, true},
      {"bzip2, a byte flipped in the middle", flipped(bz, bz.size() / 2), false},
      {"bzip2, wrong stream CRC", flipped(bz, bz.size() - 3), true},
      {"bzip2, cut in two", bz.substr(0, bz.size() / 2), true},
      {"bzip2, last byte cut", bz.substr(0, bz.size() - 1), true},
      {"bzip2, magic alone", bz.substr(0, 4), true},
      {"bzip2, then plain text", bz + "InChI=1S/H2O/h1H2\n", true},
      {"bzip2, zero padding, then plain text", bz + std::string(600, '\0') + "x", true},
      {"xz, a byte flipped in the middle", flipped(xz, xz.size() / 2), false},
      {"xz, wrong block check", flipped(xz, xz_check_at(xz)), true},
      {"xz, wrong index", flipped(xz, xz_check_at(xz) + 9), true},
      {"xz, cut in two", xz.substr(0, xz.size() / 2), true},
      {"xz, last byte cut", xz.substr(0, xz.size() - 1), true},
      {"xz, magic alone", xz.substr(0, 6), true},
      {"xz, then plain text", xz + "hello\n", true},
      {"xz, padding not a multiple of four", xz + std::string(3, '\0'), true},
      {"lz4, a byte flipped in the middle", flipped(lz, lz.size() / 2), false},
      {"lz4, wrong content checksum", flipped(lz, lz.size() - 1), true},
      {"lz4, cut in two", lz.substr(0, lz.size() / 2), true},
      {"lz4, magic alone", lz.substr(0, 4), true},
      {"lz4, then plain text", lz + "hello\n", true},
      {"lz4, then zero bytes", lz + std::string(8, '\0'), true},
      {"lz4, then a zstd frame", lz + zst, true},
      {"skippable frame, then lz4 cut short", skippable(0x50, "ab") + lz.substr(0, 1000), true},
  };
  for (const Case& c : cases) {
    for (size_t max_read : {0, 1, 1000}) {
      SCOPED_TRACE(std::string(c.name) + ", reads of " + std::to_string(max_read));
      Decoded d = decode(c.bytes, max_read);
      EXPECT_TRUE(d.error);
      if (c.prefix) {
        EXPECT_EQ(text.compare(0, d.bytes.size(), d.bytes), 0);
      }
    }
  }
}

// Damage in a zstd file loses the damaged block, not the whole blocks
// decoded before it: what zstd itself gives back (garbled where the damage
// went unnoticed until the checksum), and no less.
TEST(Codec, DamagedZstdKeepsTheBlocksBeforeTheDamage) {
  std::string text;
  std::mt19937 random(3);
  while (text.size() < 3'000'000) text += std::to_string(random()) + (random() % 3 ? "\n" : "\r\n");
  std::string zst = filter("zstd -qc", text);
  for (double at : {0.3, 0.5, 0.7}) {
    SCOPED_TRACE(at);
    std::string damaged = zst;
    damaged[static_cast<size_t>(static_cast<double>(zst.size()) * at)] ^= 0x5a;
    std::string by_zstd = filter("zstd -qdc 2>/dev/null || true", damaged);
    Decoded d = decode(damaged, 0);
    EXPECT_TRUE(d.error);
    EXPECT_GE(d.bytes.size(), by_zstd.size());
    EXPECT_EQ(d.bytes.compare(0, by_zstd.size(), by_zstd), 0);
  }
}

}  // namespace

namespace {

// The first decoded bytes, seen before the stream is read: from a file as
// many as asked for, the file's offset left where it was and the stream
// whole afterwards; from the bytes already read alone, a start of the data,
// all of it when those bytes hold the whole file.
TEST(Codec, PreviewsTheFirstDecodedBytesWithoutTakingThem) {
  std::string text = sample_text(300'000), small = text.substr(0, 2000);
  const char* compressors[] = {"gzip -c",  "zstd -qc", "pzstd -q -p 2 -c",
                               "bzip2 -c", "xz -c",    "lz4 -q -c"};
  for (const char* compress : compressors) {
    std::string packed = filter(compress, text), whole = filter(compress, small);
    for (size_t want : {size_t{1}, kArchiveBytes, size_t{100'000}}) {
      SCOPED_TRACE(std::string(compress) + ", " + std::to_string(want) + " bytes");
      int fd = descriptor_of(packed);
      unsigned char head[kMagicBytes];
      ASSERT_EQ(read(fd, head, sizeof head), static_cast<ssize_t>(sizeof head));
      Format format = format_of(head, sizeof head);
      ASSERT_NE(format, Format::kPlain);
      std::string seen(want, '\0');
      auto* to = reinterpret_cast<unsigned char*>(&seen[0]);
      EXPECT_EQ(preview_decoded(fd, format, head, sizeof head, to, want), want);
      EXPECT_TRUE(seen == text.substr(0, want));
      EXPECT_EQ(lseek(fd, 0, SEEK_CUR), static_cast<off_t>(sizeof head));
      FILE* f = open_decoder(fd, format, head, sizeof head);
      ASSERT_NE(f, nullptr);
      std::string all;
      char chunk[65536];
      size_t got;
      while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) all.append(chunk, got);
      EXPECT_FALSE(ferror(f));
      fclose(f);
      EXPECT_TRUE(all == text);

      // Head alone: the start of a large file, or a small file whole.
      std::string start = packed.substr(0, 1000);
      size_t n = preview_decoded(-1, format, reinterpret_cast<const unsigned char*>(start.data()),
                                 start.size(), to, want);
      EXPECT_EQ(seen.compare(0, n, text, 0, n), 0);
      n = preview_decoded(-1, format, reinterpret_cast<const unsigned char*>(whole.data()),
                          whole.size(), to, want);
      EXPECT_EQ(n, std::min(want, small.size()));
      EXPECT_EQ(seen.compare(0, n, small, 0, n), 0);
    }
  }
}

}  // namespace
