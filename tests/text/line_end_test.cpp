#include "text/line_end.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "line_model.h"

namespace {

using namespace std::string_literals;

TEST(LineEnd, LastLineEndCutsAfterTheLastSettledOne) {
  struct Case {
    std::string bytes;
    bool at_end;
    size_t cut;
  };
  const Case cases[] = {
      {"", false, 0},         {"abc", false, 0},   {"a\n", false, 2},   {"a\r", false, 0},
      {"a\r", true, 2},       {"a\r\n", false, 3}, {"a\rb", false, 2},  {"a\n\r", false, 2},
      {"a\n\r", true, 3},     {"\r\r", false, 1},  {"a\nbc", false, 2}, {"a\r\nb\r", false, 3},
      {"a\0\n\0"s, false, 3}, {"\n", false, 1},    {"\r", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes) + (c.at_end ? " at end" : ""));
    EXPECT_EQ(last_line_end(c.bytes.data(), c.bytes.size(), c.at_end), c.cut);
  }
}

// Cutting lines with next_line_end and line_end_size, and counting them,
// gives the model's lines, whatever mix of line ends and however long the
// stretch without one (the search window grows).
TEST(LineEnd, NextLineEndAndCountGiveTheModelsLines) {
  const std::string inputs[] = {
      "",
      "abc",
      "a\r\nb\rc\n",
      "\r\r\n\n\r",
      "x\0y\r\0\n"s,
      std::string(100'000, 'a') + "\r" + std::string(3000, 'b') + "\n" + std::string(70'000, 'c'),
      std::string(5000, '\r') + "\n",
  };
  for (const std::string& bytes : inputs) {
    SCOPED_TRACE(testing::PrintToString(bytes.substr(0, 20)) + " of " +
                 std::to_string(bytes.size()));
    std::vector<std::string> lines;
    const char* p = bytes.data();
    const char* end = p + bytes.size();
    while (p < end) {
      const char* stop = next_line_end(p, end);
      lines.emplace_back(p, stop);
      p = stop == end ? end : stop + line_end_size(stop, end);
    }
    std::vector<std::string> model = model_lines(bytes);
    EXPECT_EQ(lines, model);
    bool open_last = !bytes.empty() && bytes.back() != '\r' && bytes.back() != '\n';
    EXPECT_EQ(count_line_ends(bytes.data(), bytes.size()),
              static_cast<int64_t>(model.size()) - (open_last ? 1 : 0));
  }
}

}  // namespace
