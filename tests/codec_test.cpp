// The decoders against independent compressors (gzip, zstd, pigz-style
// multi-member files) and against damage; the encoders against the same
// tools' decompressors.
#include "codec.h"
#include "encoder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace {

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

TEST(Codec, RecognisesFormatsByFirstBytesAndNamesBySuffix) {
  struct Case {
    std::string head;
    Format format;
  };
  const Case heads[] = {
      {"\x1f\x8b", Format::kGzip},      {"\x1f\x8b\x08\x00", Format::kGzip},
      {"\x1f", Format::kPlain},         {"\x28\xb5\x2f\xfd", Format::kZstd},
      {"\x28\xb5\x2f", Format::kPlain}, {"\x28\xb5\x2f\xfe", Format::kPlain},
      {"InCh", Format::kPlain},         {"", Format::kPlain},
      {"\x50\x2a\x4d\x18", Format::kZstd}, {"\x5f\x2a\x4d\x18", Format::kZstd},
      {"\x60\x2a\x4d\x18", Format::kPlain}, {"\x50\x2a\x4d\x19", Format::kPlain},
      {"P*M", Format::kPlain},
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
  };
  for (const Prefix& p : prefixes) {
    SCOPED_TRACE(testing::PrintToString(p.head));
    EXPECT_EQ(
        may_become_magic(reinterpret_cast<const unsigned char*>(p.head.data()), p.head.size()),
        p.more);
  }
  EXPECT_EQ(format_for_name("keys.gz"), Format::kGzip);
  EXPECT_EQ(format_for_name("keys.zst"), Format::kZstd);
  EXPECT_EQ(format_for_name(".gz"), Format::kGzip);
  EXPECT_EQ(format_for_name("keys.GZ"), Format::kPlain);
  EXPECT_EQ(format_for_name("keys.gz.txt"), Format::kPlain);
  EXPECT_EQ(format_for_name("keys.tgz"), Format::kPlain);
  EXPECT_EQ(format_for_name("gz"), Format::kPlain);
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
      {"skippable frames around and between",
       skippable(0x50, "abc") + filter("zstd -qc", a) + skippable(0x5f, "") +
           filter("zstd -qc", b) + skippable(0x53, std::string(70'000, 'x'))},
  };
  for (const Case& c : cases) {
    for (size_t max_read : {0, 1, 3, 4096}) {
      SCOPED_TRACE(std::string(c.name) + ", reads of " + std::to_string(max_read));
      Decoded d = decode(c.compressed, max_read);
      EXPECT_FALSE(d.error);
      EXPECT_TRUE(d.bytes == text);
    }
  }
  for (const std::string& nothing : {filter("gzip -c", ""), skippable(0x50, "x")}) {
    Decoded empty = decode(nothing, 0);
    EXPECT_FALSE(empty.error);
    EXPECT_EQ(empty.bytes, "");
  }
}

TEST(Codec, EncodesWhatTheStandardToolsRead) {
  for (const std::string& text : {std::string(), sample_text(100), sample_text(3'000'000)}) {
    SCOPED_TRACE(text.size());
    EXPECT_TRUE(filter("gzip -dc", encode(Format::kGzip, text)) == text);
    EXPECT_TRUE(filter("zstd -qdc", encode(Format::kZstd, text)) == text);
    EXPECT_TRUE(decode(encode(Format::kZstd, text), 0).bytes == text);
  }
}

// Blocks compressed apart, as the parallel writer does, make one valid file.
TEST(Codec, IndependentBlocksConcatenateToOneFile) {
  std::string text = sample_text(1'000'000);
  for (Format format : {Format::kGzip, Format::kZstd}) {
    Encoder* e = new_encoder(format);
    ASSERT_NE(e, nullptr);
    std::string packed;
    for (size_t at = 0; at < text.size(); at += 300'000)
      ASSERT_TRUE(
          encode_block(e, text.data() + at, std::min<size_t>(300'000, text.size() - at), packed));
    ASSERT_TRUE(encode_block(e, "", 0, packed));  // an empty block is a valid member too
    free_encoder(e);
    const char* unpack = format == Format::kGzip ? "gzip -dc" : "zstd -qdc";
    EXPECT_TRUE(filter(unpack, packed) == text);
    EXPECT_TRUE(decode(packed, 0).bytes == text);
  }
  EXPECT_EQ(new_encoder(Format::kPlain), nullptr);
}

// Damage is a read error, never a hang or a silent success; whatever was
// decoded before it is the start of the original.
TEST(Codec, DamagedInputIsAReadError) {
  std::string text = sample_text(400'000);
  std::string gz = filter("gzip -c", text), zst = filter("zstd -qc", text);
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
      {"gzip, then zero bytes", gz + std::string(8, '\0'), true},
      {"gzip, bad method", flipped(gz, 2), true},
      {"zstd, cut in two", zst.substr(0, zst.size() / 2), true},
      {"zstd, a byte flipped in the middle", flipped(zst, zst.size() / 2), false},
      {"zstd, wrong checksum", flipped(zst, zst.size() - 1), true},
      {"zstd, then plain text", zst + "hello\n", true},
      {"zstd, magic alone", zst.substr(0, 4), true},
      {"skippable frame cut short", skippable(0x50, "abcdef").substr(0, 11) + zst, true},
      {"skippable frame, then plain text", skippable(0x50, "abc") + text, true},
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

}  // namespace
