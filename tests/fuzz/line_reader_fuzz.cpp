// Fuzzes the line reader against the plain model, with every stdio buffer
// size from 1 to 8192 so that CR and CR LF land on each fill boundary.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "line_model.h"
#include "molstamp.h"

namespace {

void check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "line reader check failed: %s\n", what);
    abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t buffer_size = 1 + ((size_t{data[0]} << 8 | data[1]) % 8192);
  std::string bytes(reinterpret_cast<const char*>(data) + 2, size - 2);

  FILE* in = bytes.empty() ? fopen("/dev/null", "rb") : fmemopen(bytes.data(), bytes.size(), "rb");
  check(in != nullptr, "open");
  std::vector<char> stdio_buffer(buffer_size);
  setvbuf(in, stdio_buffer.data(), _IOFBF, buffer_size);

  std::vector<std::string> expected = model_lines(bytes);
  char* buffer = nullptr;
  uint32_t capacity = 0, length = 0;
  int error = -1;
  size_t count = 0, accounted = 0;
  while (const char* line = read_text_line(in, buffer, capacity, error, length)) {
    check(count < expected.size(), "more lines than the model");
    check(std::string(line, length) == expected[count], "line bytes differ from the model");
    check(line[length] == '\0', "terminator");
    check(length < capacity && capacity % 4096 == 0 && (capacity & (capacity - 1)) == 0,
          "capacity is 4096 times a power of two above the line");
    accounted += length;
    ++count;
  }
  check(error == kReadOk, "clean end");
  check(count == expected.size(), "fewer lines than the model");
  for (char c : bytes) accounted += c == '\r' || c == '\n';
  check(accounted == bytes.size(), "every input byte is a line byte or a line end");
  fclose(in);
  free(buffer);
  return 0;
}
