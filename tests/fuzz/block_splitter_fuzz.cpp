// Fuzzes the parallel reader's block splitter: random bytes, cut into blocks
// of a random small size and read through a stdio buffer of a random size,
// must give exactly the serial line reader's lines, with the right first line
// number and line count on every block.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "line_model.h"
#include "molstamp.h"
#include "parallel.h"

namespace {

void check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "block splitter check failed: %s\n", what);
    abort();
  }
}

FILE* open_bytes(std::string& bytes, std::vector<char>& stdio_buffer) {
  FILE* in = bytes.empty() ? fopen("/dev/null", "rb") : fmemopen(bytes.data(), bytes.size(), "rb");
  check(in != nullptr, "open");
  setvbuf(in, stdio_buffer.data(), _IOFBF, stdio_buffer.size());
  return in;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  std::vector<char> stdio_buffer(1 + data[0] % 64);
  size_t block_bytes = 1 + data[1] % 32;
  std::string bytes(reinterpret_cast<const char*>(data) + 2, size - 2);

  std::vector<std::string> serial;
  FILE* in = open_bytes(bytes, stdio_buffer);
  char* buffer = nullptr;
  uint32_t capacity = 0, length = 0;
  int error = 0;
  while (const char* line = read_text_line(in, buffer, capacity, error, length))
    serial.emplace_back(line, length);
  check(error == kReadOk, "serial reader ends cleanly");
  free(buffer);
  fclose(in);
  check(serial == model_lines(bytes), "serial reader matches the model");

  in = open_bytes(bytes, stdio_buffer);
  Splitter sp;
  sp.block_bytes = block_bytes;
  Block b;
  std::vector<std::string> blocked;
  while (read_block(in, sp, b)) {
    check(b.first_line == static_cast<int64_t>(blocked.size()) + 1, "first line number");
    size_t before = blocked.size();
    for_each_line(b, [&](char* line, uint32_t n) {
      check(line[n] == '\0', "terminator");
      blocked.emplace_back(line, n);
    });
    check(static_cast<int64_t>(blocked.size() - before) == b.lines, "line count");
  }
  check(sp.error == kReadOk, "blocks end cleanly");
  check(sp.lines == static_cast<int64_t>(blocked.size()), "total line count");
  check(blocked == serial, "blocks give the serial reader's lines");
  release(b);
  release(sp);
  fclose(in);
  return 0;
}
