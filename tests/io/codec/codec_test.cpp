// The decoders against independent compressors (gzip, zstd, bzip2, xz, lz4,
// their multi-member, multi-stream and multi-frame files) and against
// damage; the encoders of every output format against the formats' own
// tools, whole, in blocks and flushed; the first decoded bytes; archives by
// their first bytes.
#include "io/codec/codec.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "io/codec/encoder.h"

namespace {

using namespace std::string_literals;

// Runs a shell filter over bytes and returns what it wrote.
std::string filter(const std::string& command, const std::string& bytes) {
  char in_name[] = "/tmp/molstamp-codec-XXXXXX";
  int fd = mkstemp(in_name);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(fd);
  std::string out_name = std::string(in_name) + ".out";
  std::string line = command + " < " + in_name + " > " + out_name;
  EXPECT_EQ(std::system(line.c_str()), 0) << line;
  std::ifstream f(out_name, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  unlink(in_name);
  unlink(out_name.c_str());
  return s.str();
}

// A descriptor reading bytes from its start.
int descriptor_of(const std::string& bytes) {
  FILE* f = tmpfile();
  fwrite(bytes.data(), 1, bytes.size(), f);
  fflush(f);
  int fd = dup(fileno(f));
  fclose(f);
  lseek(fd, 0, SEEK_SET);
  return fd;
}

struct Decoded {
  std::string bytes;
  bool error = false;
};

// Decodes bytes as the input path does: the first bytes decide the format;
// each read from the descriptor takes at most max_read bytes (0: no cap).
Decoded decode(const std::string& bytes, size_t max_read) {
  int fd = descriptor_of(bytes);
  unsigned char head[kMagicBytes];
  size_t n = static_cast<size_t>(read(fd, head, kMagicBytes));
  FILE* f = open_decoder(fd, format_of(head, n), head, n, max_read);
  Decoded d;
  if (f == nullptr) return {"", true};
  char chunk[5000];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) d.bytes.append(chunk, got);
  d.error = ferror(f) != 0;
  fclose(f);
  return d;
}

std::string encode(Format format, const std::string& bytes) {
  char* text = nullptr;
  size_t size = 0;
  FILE* sink = open_memstream(&text, &size);
  FILE* f = open_encoder(sink, format);
  EXPECT_NE(f, nullptr);
  // Odd-sized writes: the encoder sees stdio's flushes, not our pieces.
  for (size_t i = 0; i < bytes.size(); i += 7777)
    fwrite(bytes.data() + i, 1, std::min<size_t>(7777, bytes.size() - i), f);
  EXPECT_EQ(fclose(f), 0);
  EXPECT_EQ(fclose(sink), 0);
  std::string result(text, size);
  std::free(text);
  return result;
}

// Text lines with every line end and some binary bytes, repeatable.
std::string sample_text(size_t size) {
  std::mt19937 random(8);
  std::string s;
  while (s.size() < size) {
    s += "InChI=1S/C6H6/c1-2-4-6-5-3-1/h1-6H";
    s += std::to_string(random());
    const std::string ends[] = {"\n", "\r\n", "\r", std::string("\0\x1a\n", 3)};
    s += ends[random() % 4];
  }
  return s;
}

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

TEST(Codec, RecognisesFormatsByFirstBytesAndNamesBySuffix) {
  struct Case {
    std::string head;
    Format format;
  };
  const Case heads[] = {
      {"\x1f\x8b", Format::kGzip},
      {"\x1f\x8b\x08\x00", Format::kGzip},
      {"\x1f", Format::kPlain},
      {"\x28\xb5\x2f\xfd", Format::kZstd},
      {"\x28\xb5\x2f", Format::kPlain},
      {"\x28\xb5\x2f\xfe", Format::kPlain},
      {"InCh", Format::kPlain},
      {"", Format::kPlain},
      {"\x50\x2a\x4d\x18", Format::kZstd},
      {"\x5f\x2a\x4d\x18", Format::kZstd},
      {"\x60\x2a\x4d\x18", Format::kPlain},
      {"\x50\x2a\x4d\x19", Format::kPlain},
      {"P*M", Format::kPlain},
      {"BZh9", Format::kBzip2},
      {"BZh1", Format::kBzip2},
      {"BZh0", Format::kPlain},
      {"BZh", Format::kPlain},
      {"BZH9", Format::kPlain},
      {"\xfd"
       "7zXZ\0"s,
       Format::kXz},
      {"\xfd"
       "7zXZ",
       Format::kPlain},
      {"\xfd"
       "7zXZ\1",
       Format::kPlain},
      {"\x04\x22\x4d\x18", Format::kLz4},
      {"\x04\x22\x4d", Format::kPlain},
      {"\x02\x21\x4c\x18", Format::kPlain},  // lz4's legacy format: not read
      {"PK\x03\x04", Format::kPlain},
  };
  for (const Case& c : heads) {
    SCOPED_TRACE(testing::PrintToString(c.head));
    EXPECT_EQ(format_of(reinterpret_cast<const unsigned char*>(c.head.data()), c.head.size()),
              c.format);
  }
  struct Prefix {
    std::string head;
    bool more;  // worth reading another byte to decide
  };
  const Prefix prefixes[] = {
      {"", true},
      {"\x1f", true},
      {"\x28", true},
      {"\x28\xb5\x2f", true},
      {"\x1f\x8b", false},
      {"\x28\xb5\x2f\xfd", false},
      {"I", false},
      {"\x1f\x8c", false},
      {"\x28\xb5\x2e", false},
      {"\x5a", true},
      {"\x5a\x2a\x4d", true},
      {"\x4f", false},
      {"\x5a\x2a\x4e", false},
      {"B", true},
      {"BZh", true},
      {"BZh9", false},
      {"BZ!", false},
      {"\xfd"
       "7zX",
       true},
      {"\xfd"
       "7zXZ",
       true},
      {"\xfd"
       "7zXZ\0"s,
       false},
      {"\xfd"
       "8",
       false},
      {"\x04\x22\x4d", true},
      {"\x04\x23", false},
      {"PK\x03", true},
      {"PK\x05", true},
      {"PK\x03\x04", false},
      {"PK!", false},
      {"7z\xbc\xaf\x27", true},
      {"7z\xbc\xaf\x27\x1c", false},
      {"7-", false},
      {"\xff", true},  // a UTF-16 byte order mark
      {"\xfe", true},
      {"\xff\xfe", false},
  };
  for (const Prefix& p : prefixes) {
    SCOPED_TRACE(testing::PrintToString(p.head));
    EXPECT_EQ(
        may_become_magic(reinterpret_cast<const unsigned char*>(p.head.data()), p.head.size()),
        p.more);
  }
  // A pipe's first read shorter than a tar header: only what could begin
  // one waits for the rest; a line never does.
  std::string header = filter(
      "{ d=$(mktemp -d) && cat > $d/in.txt && tar --format=v7 -C $d -cf - in.txt && rm -r $d; }",
      "x\n");
  const Prefix tar_prefixes[] = {
      {header.substr(0, 1), true},
      {header.substr(0, 100), true},
      {header.substr(0, 104), true},
      {header.substr(0, 511), true},
      {header.substr(0, 512), false},
      {"InChI=1S/H2O/h1H2\n", false},
      {"name\rInC", false},
      {"in.txt\0\0x"s, false},  // text after the name's NUL
      {std::string("in.txt") + std::string(94, '\0') + "0006x", false},  // not an octal mode
      {"\0in.txt"s, false},
      {"", false},
  };
  for (const Prefix& p : tar_prefixes) {
    SCOPED_TRACE(testing::PrintToString(p.head));
    EXPECT_EQ(may_become_tar(reinterpret_cast<const unsigned char*>(p.head.data()), p.head.size()),
              p.more);
  }
  struct Name {
    const char* name;
    Format format;
  };
  const Name names[] = {
      {"keys.gz", Format::kGzip},      {"keys.GZ", Format::kGzip},   {".gz", Format::kGzip},
      {"keys.zst", Format::kZstd},     {"keys.ZST", Format::kZstd},  {"keys.bz2", Format::kBzip2},
      {"keys.xz", Format::kXz},        {"keys.lz4", Format::kLz4},   {"keys.Lz4", Format::kLz4},
      {"keys.gz.txt", Format::kPlain}, {"keys.tgz", Format::kPlain}, {"gz", Format::kPlain},
      {"keys.bz", Format::kPlain},     {"keys.xzz", Format::kPlain}, {"keys.lz", Format::kPlain},
      {"keys", Format::kPlain},
  };
  for (const Name& n : names) EXPECT_EQ(format_for_name(n.name), n.format) << n.name;
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

// Every output format and the command that decompresses it.
struct Unpacker {
  Format format;
  const char* command;
};
const Unpacker kUnpackers[] = {{Format::kGzip, "gzip -dc"},
                               {Format::kZstd, "zstd -qdc"},
                               {Format::kBzip2, "bzip2 -dc"},
                               {Format::kXz, "xz -dc"},
                               {Format::kLz4, "lz4 -dc"}};

TEST(Codec, EncodesWhatTheStandardToolsRead) {
  for (const std::string& text : {std::string(), sample_text(100), sample_text(3'000'000)}) {
    for (const Unpacker& u : kUnpackers) {
      SCOPED_TRACE(std::string(u.command) + ", " + std::to_string(text.size()));
      std::string packed = encode(u.format, text);
      EXPECT_TRUE(filter(u.command, packed) == text);
      EXPECT_TRUE(decode(packed, 0).bytes == text);
    }
  }
}

// Blocks compressed apart, as the parallel writer does, make one valid file.
TEST(Codec, IndependentBlocksConcatenateToOneFile) {
  std::string text = sample_text(1'000'000);
  for (const Unpacker& u : kUnpackers) {
    SCOPED_TRACE(u.command);
    Encoder* e = new_encoder(u.format);
    ASSERT_NE(e, nullptr);
    std::string packed;
    for (size_t at = 0; at < text.size(); at += 300'000)
      ASSERT_TRUE(
          encode_block(e, text.data() + at, std::min<size_t>(300'000, text.size() - at), packed));
    ASSERT_TRUE(encode_block(e, "", 0, packed));  // an empty block is a valid member too
    free_encoder(e);
    EXPECT_TRUE(filter(u.command, packed) == text);
    EXPECT_TRUE(decode(packed, 0).bytes == text);
  }
  EXPECT_EQ(new_encoder(Format::kPlain), nullptr);
}

// What a stream has written after a flush (as when a pipe input waits)
// already decodes to all the text given; a flush with nothing new writes
// nothing; the stream goes on to a whole file.
TEST(Codec, FlushedStreamHoldsAllGivenSoFar) {
  std::string first = sample_text(700'001), second = sample_text(5000);
  for (const Unpacker& u : kUnpackers) {
    SCOPED_TRACE(u.command);
    char* bytes = nullptr;
    size_t size = 0;
    FILE* sink = open_memstream(&bytes, &size);
    Encoder* e = nullptr;
    FILE* f = open_encoder(sink, u.format, &e);
    ASSERT_NE(f, nullptr);
    fwrite(first.data(), 1, first.size(), f);
    ASSERT_EQ(fflush(f), 0);
    ASSERT_TRUE(flush_encoder(e));
    ASSERT_EQ(fflush(sink), 0);
    std::string flushed(bytes, size);
    ASSERT_TRUE(flush_encoder(e));
    ASSERT_EQ(fflush(sink), 0);
    EXPECT_EQ(size, flushed.size());
    fwrite(second.data(), 1, second.size(), f);
    ASSERT_EQ(fclose(f), 0);
    ASSERT_EQ(fclose(sink), 0);
    std::string whole(bytes, size);
    std::free(bytes);
    EXPECT_TRUE(decode(flushed, 0).bytes == first);
    EXPECT_TRUE(filter(u.command, whole) == first + second);
    EXPECT_TRUE(decode(whole, 0).bytes == first + second);
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

TEST(Codec, RecognisesArchivesByTheirFirstBytes) {
  std::string tar(512, '\0');
  tar.replace(0, 6, "in.txt");
  std::string posix = tar, gnu = tar;
  posix.replace(257, 8,
                "ustar\0"
                "00"s);
  gnu.replace(257, 8, "ustar  \0"s);
  const std::string seven = "7z\xbc\xaf\x27\x1c";
  const std::string v7 = filter(
      "{ d=$(mktemp -d) && cat > $d/in.txt && tar --format=v7 -C $d -cf - in.txt && rm -r $d; }",
      "InChI=1S/H2O/h1H2\n");
  std::string v7_changed = v7;
  v7_changed[1] = 'N';
  struct Case {
    const char* name;
    std::string data;
    Archive archive;
  };
  const Case cases[] = {
      {"zip", "PK\x03\x04\x14\0\0\0"s, Archive::kZip},
      {"empty zip", "PK\x05\x06" + std::string(18, '\0'), Archive::kZip},
      {"zip written by zip", filter("zip -q - -", "InChI=1S/H2O/h1H2\n"), Archive::kZip},
      {"zip magic cut", "PK\x03", Archive::kNone},
      {"zip's spanning mark", "PK\x07\x08", Archive::kNone},
      {"7z", seven + "\0\x04", Archive::k7z},
      {"7z magic cut", seven.substr(0, 5), Archive::kNone},
      {"legacy lz4, written by lz4 -l", filter("lz4 -q -l -c", "InChI=1S/H2O/h1H2\n"),
       Archive::kLegacyLz4},
      {"legacy lz4 magic cut", "\x02\x21\x4c", Archive::kNone},
      {"POSIX tar", posix, Archive::kTar},
      {"GNU tar", gnu, Archive::kTar},
      {"V7 tar, no mark: its checksum", v7, Archive::kTar},
      {"V7 tar, a byte of its name changed", v7_changed, Archive::kNone},
      {"V7 tar cut inside its header", v7.substr(0, 511), Archive::kNone},
      {"tar header cut before its mark ends", posix.substr(0, 261), Archive::kNone},
      {"the mark a byte early", posix.substr(1), Archive::kNone},
      {"text", sample_text(1000), Archive::kNone},
      {"nothing", "", Archive::kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(archive_of(reinterpret_cast<const unsigned char*>(c.data.data()), c.data.size()),
              c.archive);
  }
}

}  // namespace
