// Progress off a terminal (the bare count, as logs and scripts read it) and
// where progress prints and checkpoints fall.
#include "io/progress.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Off a terminal every print is the count, eight blanks and a carriage
// return, never held back; the end and a clear add nothing.
TEST(Progress, OffATerminalEachPrintIsTheBareCount) {
  char* text = nullptr;
  size_t size = 0;
  FILE* console = open_memstream(&text, &size);
  ASSERT_NE(console, nullptr);
  Progress p = start_progress(console, console, -1, 0);
  EXPECT_FALSE(p.terminal);
  std::string expected;
  // Back to back, as no terminal print may be: none is held back. The last
  // is wider than 32 bits.
  for (int64_t lines : {int64_t{5000}, int64_t{10000}, int64_t{15000}, int64_t{1234567890123}}) {
    print_progress(p, lines);
    expected += std::to_string(lines) + "        \r";
  }
  end_progress(p);
  clear_progress(p, console);
  ASSERT_EQ(fclose(console), 0);
  EXPECT_EQ(std::string(text, size), expected);
  std::free(text);
}

TEST(Progress, PrintsAndCheckpointsFallOnTheirBoundaries) {
  struct Line {
    int64_t number;
    bool printed;
  };
  const Line lines[] = {{1, false},    {4999, false},     {5000, true},
                        {5001, false}, {10000, true},     {12500, false},
                        {15000, true}, {1'000'000, true}, {1'000'001, false}};
  for (const Line& l : lines) EXPECT_EQ(is_progress_line(l.number), l.printed) << l.number;

  constexpr uint64_t k = kCheckpointBytes;
  ASSERT_EQ(k, uint64_t{1} << 18);
  struct Span {
    uint64_t previous, end;
    bool checkpoint;
  };
  const Span spans[] = {
      {0, 1, false},
      {0, k - 1, false},
      {0, k, true},
      {k - 1, k, true},
      {k, k + 1, false},
      {k, 2 * k - 1, false},
      {2 * k - 1, 2 * k, true},
      {k - 1, 3 * k, true},  // one line over two boundaries
      {k, k, false},
      {5 * k + 7, 5 * k + 9, false},
      {5 * k - 1, 5 * k + 9, true},
  };
  for (const Span& s : spans) {
    SCOPED_TRACE(std::to_string(s.previous) + " to " + std::to_string(s.end));
    EXPECT_EQ(is_checkpoint(s.previous, s.end), s.checkpoint);
  }
}

}  // namespace
