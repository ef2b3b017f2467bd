// Fuzzes the block reader: random bytes, cut into blocks of a random small
// size and read through a stdio buffer of a random size, must give exactly
// the serial line reader's lines and line end offsets, with the right first
// line number, line count and start on every block.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "block_reader.h"
#include "fuzz_util.h"
#include "line_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  std::vector<char> stdio_buffer(1 + data[0] % 64);
  size_t block_bytes = 1 + data[1] % 32;
  std::string bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
  FILE* in = open_bytes(bytes, stdio_buffer);
  int error = -1;
  std::vector<uint64_t> serial_ends;
  std::vector<std::string> serial = serial_lines(in, error, &serial_ends);
  fclose(in);
  check(error == kReadOk, "serial reader ends cleanly");
  check(serial == model_lines(bytes), "serial reader matches the model");

  in = open_bytes(bytes, stdio_buffer);
  Splitter sp;
  sp.block_bytes = block_bytes;
  Block b;
  std::vector<std::string> blocked;
  std::vector<uint64_t> blocked_ends;
  uint64_t next_start = 0;
  while (read_block(in, sp, b)) {
    check(b.first_line == static_cast<int64_t>(blocked.size()) + 1, "first line number");
    check(b.start == next_start, "block start");
    next_start = b.start + b.size;
    size_t before = blocked.size();
    for_each_line(b, [&](char* line, uint32_t n, uint64_t end) {
      check(line[n] == '\0', "terminator");
      blocked.emplace_back(line, n);
      blocked_ends.push_back(end);
    });
    check(static_cast<int64_t>(blocked.size() - before) == b.lines, "line count");
  }
  check(sp.error == kReadOk, "blocks end cleanly");
  check(sp.lines == static_cast<int64_t>(blocked.size()), "total line count");
  check(blocked == serial, "blocks give the serial reader's lines");
  check(blocked_ends == serial_ends, "blocks give the serial reader's line end offsets");
  free_block(b);
  free_splitter(sp);
  fclose(in);
  return 0;
}
