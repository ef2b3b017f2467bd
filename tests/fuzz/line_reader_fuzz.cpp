// Fuzzes the line reader against the plain model, with every stdio buffer
// size from 1 to 8192 so that CR and CR LF land on each fill boundary.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "line_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  std::vector<char> stdio_buffer(1 + ((size_t{data[0]} << 8 | data[1]) % 8192));
  std::string bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
  FILE* in = open_bytes(bytes, stdio_buffer);
  int error = -1;
  std::vector<uint64_t> ends;
  std::vector<std::string> lines = serial_lines(in, error, &ends);
  fclose(in);
  check(error == kReadOk, "clean end");
  check(lines == model_lines(bytes), "lines differ from the model");
  // Every input byte is a line byte or a line end, and each line's end is
  // where the model puts it.
  check(ends == model_line_ends(bytes), "line end offsets differ from the model");
  return 0;
}
