#include "text/line_reader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "line_model.h"

namespace {

using namespace std::string_literals;
using Lines = std::vector<std::string>;

// A read-only stream over bytes, with a stdio buffer of buffer_size bytes
// (0: the library's default), so that line ends can be put on fill edges.
struct Stream {
  FILE* f = nullptr;
  std::vector<char> vbuf;
  Stream(const std::string& bytes, size_t buffer_size = 0) {
    f = tmpfile();
    fwrite(bytes.data(), 1, bytes.size(), f);
    rewind(f);
    if (buffer_size > 0) {
      vbuf.resize(buffer_size);
      setvbuf(f, vbuf.data(), _IOFBF, buffer_size);
    }
  }
  ~Stream() { fclose(f); }
};

struct Reader {
  LineBuffer b;
  std::vector<uint64_t> ends;  // b.end after each line
  const char* next(FILE* f) { return read_text_line(f, b); }
  // Every line up to the end, with its full length; checks the clean end.
  Lines all(FILE* f) {
    Lines lines;
    while (const char* line = next(f)) {
      EXPECT_EQ(line, b.data);
      EXPECT_EQ(line[b.length], '\0');
      lines.emplace_back(line, b.length);
      ends.push_back(b.end);
    }
    EXPECT_EQ(b.error, kReadOk);
    return lines;
  }
};

struct SplitCase {
  std::string input;
  Lines lines;
};

const SplitCase kSplitCases[] = {
    {""s, {}},
    {"abc"s, {"abc"}},
    {"abc\n"s, {"abc"}},
    {"abc\r\n"s, {"abc"}},
    {"abc\r"s, {"abc"}},
    {"a\r\rb"s, {"a", "", "b"}},
    {"a\n\n"s, {"a", ""}},
    {"a\r\n\r\n"s, {"a", ""}},
    {"a\n\r"s, {"a", ""}},  // a lone CR ends an empty last line, as LF does
    {"\r"s, {""}},
    {"\n"s, {""}},
    {"\n\r\n"s, {"", ""}},
    {"\r\r"s, {"", ""}},
    {"\n\n"s, {"", ""}},
    {"a\r\r"s, {"a", ""}},
    {"a\n\rb"s, {"a", "", "b"}},
    {"\r\n\r"s, {"", ""}},
    {"a\r\nb\nc\rd\r\n"s, {"a", "b", "c", "d"}},
    {"x\0y\n\0\n"s, {"x\0y"s, "\0"s}},
    {"\x1a\nafter\n"s, {"\x1a", "after"}},  // Ctrl-Z is data, not an end
    {"\xff\xfe\x80 \t\n"s, {"\xff\xfe\x80 \t"}},
    {"InChI=1S/CH4/h1H4\r\n"s, {"InChI=1S/CH4/h1H4"}},
};

TEST(ReadTextLine, SplitsAtEveryLineEndWhateverTheStreamBuffer) {
  // Buffer sizes 1 to 9 put each CR and each CR LF pair on a fill edge.
  for (size_t buffer_size = 0; buffer_size < 10; ++buffer_size) {
    for (const SplitCase& c : kSplitCases) {
      SCOPED_TRACE(testing::PrintToString(c.input) + " buffer " + std::to_string(buffer_size));
      Stream s(c.input, buffer_size);
      Reader r;
      EXPECT_EQ(r.all(s.f), c.lines);
      EXPECT_EQ(r.ends, model_line_ends(c.input));
      EXPECT_EQ(r.next(s.f), nullptr);  // stays at the end
    }
  }
}

TEST(ReadTextLine, CrLfSplitOverTwoFillsIsOneLineEnd) {
  std::string x(4095, 'x');
  Stream s(x + "\r\ny\n", 4096);  // CR is the last byte of the first fill
  Reader r;
  EXPECT_EQ(r.all(s.f), (Lines{x, "y"}));
}

TEST(ReadTextLine, EveryLoneCrIsALine) {
  Stream s(std::string(4096, '\r'));
  Reader r;
  EXPECT_EQ(r.all(s.f), Lines(4096, ""));
}

TEST(ReadTextLine, BufferGrowsByDoublingAndNeverShrinks) {
  struct Step {
    size_t line_bytes;
    uint32_t capacity_after;
  };
  const Step steps[] = {{0, 4096},    {4095, 4096},  {4096, 8192}, {10, 8192},
                        {8191, 8192}, {8192, 16384}, {1, 16384}};
  std::string input;
  for (const Step& step : steps) input += std::string(step.line_bytes, 'a') + "\n";
  Stream s(input);
  Reader r;
  for (const Step& step : steps) {
    ASSERT_NE(r.next(s.f), nullptr);
    EXPECT_EQ(r.b.length, step.line_bytes);
    EXPECT_EQ(std::string(r.b.data, r.b.length), std::string(step.line_bytes, 'a'));
    EXPECT_EQ(r.b.capacity, step.capacity_after);
  }
  EXPECT_EQ(r.next(s.f), nullptr);
}

// A stream that yields some bytes and then fails the read.
struct FailingSource {
  std::string bytes;
  size_t pos = 0;
};

ssize_t read_then_fail(void* cookie, char* buf, size_t size) {
  auto* src = static_cast<FailingSource*>(cookie);
  if (src->pos == src->bytes.size()) {
    errno = EIO;
    return -1;
  }
  size_t n = std::min(size, src->bytes.size() - src->pos);
  std::memcpy(buf, src->bytes.data() + src->pos, n);
  src->pos += n;
  return static_cast<ssize_t>(n);
}

TEST(ReadTextLine, ReadErrorIsNotTheEndOfInput) {
  struct Case {
    std::string before_error;
    Lines lines;
  };
  const Case cases[] = {
      {"", {}},
      {"whole\n", {"whole"}},
      {"whole\npartial", {"whole"}},  // a cut-off line is not passed on
      {"a\r", {"a"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.before_error));
    FailingSource src{c.before_error};
    cookie_io_functions_t io = {read_then_fail, nullptr, nullptr, nullptr};
    FILE* f = fopencookie(&src, "r", io);
    ASSERT_NE(f, nullptr);
    Reader r;
    Lines lines;
    while (r.next(f)) lines.emplace_back(r.b.data, r.b.length);
    EXPECT_EQ(lines, c.lines);
    EXPECT_EQ(r.b.error, kReadFailed);
    EXPECT_EQ(r.next(f), nullptr);
    EXPECT_EQ(r.b.error, kReadFailed);
    fclose(f);
  }
}

}  // namespace
