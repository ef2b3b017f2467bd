// What the fuzz targets share: a check that aborts with a message (so that
// libFuzzer keeps the input), streams over the fuzzer's bytes, and the
// serial reader's lines as the reference.
#ifndef MOLSTAMP_FUZZ_UTIL_H
#define MOLSTAMP_FUZZ_UTIL_H

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "text/line_reader.h"

inline void check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "fuzz check failed: %s\n", what);
    abort();
  }
}

// A read stream over bytes with a stdio buffer of stdio_buffer's size.
inline FILE* open_bytes(std::string& bytes, std::vector<char>& stdio_buffer) {
  FILE* in = bytes.empty() ? fopen("/dev/null", "rb") : fmemopen(bytes.data(), bytes.size(), "rb");
  check(in != nullptr, "open");
  setvbuf(in, stdio_buffer.data(), _IOFBF, stdio_buffer.size());
  return in;
}

// A descriptor reading bytes from their start.
inline int memory_file(const std::string& bytes) {
  int fd = memfd_create("fuzz", 0);
  check(fd >= 0, "memfd");
  check(write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()), "write");
  lseek(fd, 0, SEEK_SET);
  return fd;
}

// The lines the serial reader gives for in, with the input offset after
// each; error gets its ReadError.
inline std::vector<std::string> serial_lines(FILE* in, int& error,
                                             std::vector<uint64_t>* ends = nullptr) {
  std::vector<std::string> lines;
  LineBuffer b;
  while (const char* line = read_text_line(in, b)) {
    check(line[b.length] == '\0', "terminator");
    check(b.length < b.capacity && b.capacity % 4096 == 0 && (b.capacity & (b.capacity - 1)) == 0,
          "capacity is 4096 times a power of two above the line");
    lines.emplace_back(line, b.length);
    if (ends != nullptr) ends->push_back(b.end);
  }
  error = b.error;
  return lines;
}

#endif
