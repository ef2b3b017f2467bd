// What the codec tests share: a shell filter (the formats' own tools), a
// descriptor over bytes, the input path's decoding, and sample text.
#ifndef MOLSTAMP_TESTS_CODEC_TEST_UTIL_H
#define MOLSTAMP_TESTS_CODEC_TEST_UTIL_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "io/codec/codec.h"

// Runs a shell filter over bytes and returns what it wrote.
inline std::string filter(const std::string& command, const std::string& bytes) {
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
inline int descriptor_of(const std::string& bytes) {
  FILE* f = tmpfile();
  fwrite(bytes.data(), 1, bytes.size(), f);
  fflush(f);
  int fd = dup(fileno(f));
  fclose(f);
  lseek(fd, 0, SEEK_SET);
  return fd;
}

// What decode read, and whether the stream met an error.
struct Decoded {
  std::string bytes;
  bool error = false;
};

// Decodes bytes as the input path does: the first bytes decide the format;
// each read from the descriptor takes at most max_read bytes (0: no cap).
inline Decoded decode(const std::string& bytes, size_t max_read) {
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

// Text lines with every line end and some binary bytes, repeatable.
inline std::string sample_text(size_t size) {
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

#endif
