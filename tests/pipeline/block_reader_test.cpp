#include "pipeline/block_reader.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "line_model.h"
#include "text/line_reader.h"

namespace {

using namespace std::string_literals;

// Reads bytes in blocks of at least block_bytes through a stdio buffer of
// buffer_size bytes; returns the lines and checks the numbering.
std::vector<std::string> blocked_lines(std::string bytes, size_t block_bytes, size_t buffer_size,
                                       int& error) {
  FILE* in = bytes.empty() ? fopen("/dev/null", "rb") : fmemopen(bytes.data(), bytes.size(), "rb");
  std::vector<char> stdio_buffer(buffer_size);
  setvbuf(in, stdio_buffer.data(), _IOFBF, buffer_size);
  Splitter sp;
  sp.block_bytes = block_bytes;
  Block b;
  std::vector<std::string> lines;
  std::vector<uint64_t> ends;
  while (read_block(in, sp, b)) {
    EXPECT_EQ(b.first_line, static_cast<int64_t>(lines.size()) + 1);
    uint64_t end = b.start;
    for_each_line(b, [&](char* line, uint32_t n, uint64_t line_end) {
      lines.emplace_back(line, n);
      ends.push_back(line_end);
      end = line_end;
    });
    EXPECT_EQ(end, b.start + b.size);
    EXPECT_EQ(sp.lines, static_cast<int64_t>(lines.size()));
  }
  error = sp.error;
  EXPECT_EQ(ends, model_line_ends(bytes));
  free_block(b);
  free_splitter(sp);
  fclose(in);
  return lines;
}

// Every line end on every block and buffer edge gives the serial lines.
TEST(ReadBlock, GivesTheSerialReadersLines) {
  const std::string inputs[] = {
      "",
      "abc",
      "abc\n",
      "abc\r",
      "abc\r\n",
      "a\r\rb",
      "a\n\n",
      "a\r\n\r\n",
      "a\n\r",
      "\r",
      "\n\r\n",
      "a\n\rb",
      "x\0y\r\nI\x1a\n\r\r\n"s,
      std::string(100, '\r'),
      std::string(50, 'a') + "\r\n" + std::string(70, 'b') + "\r" + std::string(3, 'c'),
  };
  for (const std::string& bytes : inputs) {
    for (size_t block_bytes = 1; block_bytes <= 9; ++block_bytes) {
      for (size_t buffer_size : {1, 2, 3, 7, 4096}) {
        SCOPED_TRACE(testing::PrintToString(bytes) + " blocks of " + std::to_string(block_bytes) +
                     ", buffer " + std::to_string(buffer_size));
        int error = -1;
        EXPECT_EQ(blocked_lines(bytes, block_bytes, buffer_size, error), model_lines(bytes));
        EXPECT_EQ(error, kReadOk);
      }
    }
  }
}

// A stream that gives its bytes and then fails, as a damaged file does.
struct Failing {
  std::string bytes;
  size_t at = 0;
};

ssize_t failing_read(void* cookie, char* buf, size_t size) {
  Failing& f = *static_cast<Failing*>(cookie);
  if (f.at == f.bytes.size()) {
    errno = EIO;
    return -1;
  }
  size_t n = std::min(size, f.bytes.size() - f.at);
  std::copy_n(f.bytes.data() + f.at, n, buf);
  f.at += n;
  return static_cast<ssize_t>(n);
}

TEST(ReadBlock, AReadErrorKeepsTheWholeLinesBeforeIt) {
  struct Case {
    std::string bytes;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"abc\ndef", {"abc"}}, {"abc\r", {"abc"}},  // a CR ends its line, whatever comes next
      {"abc\r\n", {"abc"}},  {"abc", {}},        {"", {}},
  };
  for (const Case& c : cases) {
    for (size_t block_bytes : {1, 3, 4096}) {
      SCOPED_TRACE(testing::PrintToString(c.bytes) + " blocks of " + std::to_string(block_bytes));
      Failing source{c.bytes};
      FILE* in = fopencookie(&source, "rb", {failing_read, nullptr, nullptr, nullptr});
      Splitter sp;
      sp.block_bytes = block_bytes;
      Block b;
      std::vector<std::string> lines;
      while (read_block(in, sp, b)) {
        for_each_line(b, [&](char* line, uint32_t n, uint64_t) { lines.emplace_back(line, n); });
      }
      EXPECT_EQ(lines, c.lines);
      EXPECT_EQ(sp.error, kReadFailed);
      free_block(b);
      free_splitter(sp);
      fclose(in);
    }
  }
}

}  // namespace
