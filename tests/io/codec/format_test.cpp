// Formats, archives and UTF-16 by their first bytes, and output formats by
// their names.
#include "io/codec/format.h"

#include <gtest/gtest.h>

#include <string>

#include "io/codec/codec_test_util.h"

namespace {

using namespace std::string_literals;

TEST(Format, RecognisesFormatsByFirstBytesAndNamesBySuffix) {
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

TEST(Format, RecognisesArchivesByTheirFirstBytes) {
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
