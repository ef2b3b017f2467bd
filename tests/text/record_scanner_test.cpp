#include "text/record_scanner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "csv_model.h"
#include "pipeline/block_reader.h"
#include "text/line_reader.h"

namespace {

using namespace std::string_literals;
using Records = std::vector<std::string>;

struct RecordCase {
  std::string bytes;
  char delimiter;
  Records records;
  bool unclosed;
};

const RecordCase kRecordCases[] = {
    {"a,b\nc,d\n", ',', {"a,b", "c,d"}, false},
    {"1,\"x,y\",z\r\n2,\"q\"\"r\",s\r", ',', {"1,\"x,y\",z", "2,\"q\"\"r\",s"}, false},
    // Line ends of every kind inside quotes belong to the field.
    {"1,\"line\nbreak\",2\n", ',', {"1,\"line\nbreak\",2"}, false},
    {"1,\"cr\rand\r\nend\"\n2", ',', {"1,\"cr\rand\r\nend\"", "2"}, false},
    {"\"\r\n\"\r\n\"\n\"", ',', {"\"\r\n\"", "\"\n\""}, false},
    {",,\n\n\n", ',', {",,", "", ""}, false},
    {"x\r", ',', {"x"}, false},
    // A '"' inside a field, unless it opens or closes one, is an ordinary byte.
    {"\"a\"b\",c\n", ',', {"\"a\"b\",c"}, false},
    {"ab\"c,\"d\"\n", ',', {"ab\"c,\"d\""}, false},
    // Text after a closing quote is plain: its quotes open nothing.
    {"a,\"b\" ,c\nd\n", ',', {"a,\"b\" ,c", "d"}, false},
    {"\"x\"y\"\nz\n", ',', {"\"x\"y\"", "z"}, false},
    {"\"x\"\"\"y\nz\",w\n", ',', {"\"x\"\"\"y", "z\",w"}, false},
    // A byte order mark is copied, and quotes are read from the byte after it.
    {"\xef\xbb\xbf\"water\nliquid\",x\nm,y\n",
     ',',
     {"\xef\xbb\xbf\"water\nliquid\",x", "m,y"},
     false},
    {"\xef\xbb\xbf", ',', {"\xef\xbb\xbf"}, false},
    {"a\n\xef\xbb\xbf\"b\nc\"\n", ',', {"a", "\xef\xbb\xbf\"b", "c\""}, false},
    // The end of the input inside quotes: the rest is one record.
    {"1,\"open\nno close", ',', {"1,\"open\nno close"}, true},
    {"1,\"x\"\n\"", ',', {"1,\"x\"", "\""}, true},
    {"\"a\"\"", ',', {"\"a\"\""}, true},
    {"\"a\"", ',', {"\"a\""}, false},
    // Another delimiter; TAB, CR and NUL are ordinary bytes then.
    {"1;\"a;b\";c\n2;x\ty;\0\n"s, ';', {"1;\"a;b\";c", "2;x\ty;\0"s}, false},
};

// Reads bytes through a stdio buffer of buffer_size bytes.
FILE* open_bytes(std::string& bytes, std::vector<char>& buffer) {
  FILE* in = bytes.empty() ? fopen("/dev/null", "rb") : fmemopen(bytes.data(), bytes.size(), "rb");
  setvbuf(in, buffer.data(), _IOFBF, buffer.size());
  return in;
}

TEST(RecordScanner, BothReadersGiveTheModelsRecords) {
  for (const RecordCase& c : kRecordCases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    ModelRecords model = model_records(c.bytes, c.delimiter);
    EXPECT_EQ(model.records, c.records);
    EXPECT_EQ(model.unclosed, c.unclosed);
    for (size_t buffer_size : {1, 2, 3, 5, 4096}) {
      SCOPED_TRACE("buffer " + std::to_string(buffer_size));
      std::string bytes = c.bytes;
      std::vector<char> buffer(buffer_size);
      FILE* in = open_bytes(bytes, buffer);
      RecordReader r;
      r.delimiter = c.delimiter;
      Records serial;
      while (const char* record = read_record(in, r)) serial.emplace_back(record, r.length);
      fclose(in);
      EXPECT_EQ(serial, c.records);
      EXPECT_EQ(r.error, c.unclosed ? kReadUnclosedQuote : kReadOk);
      for (size_t block_bytes : {1, 2, 7, 4096}) {
        SCOPED_TRACE("blocks of " + std::to_string(block_bytes));
        in = open_bytes(bytes, buffer);
        Splitter sp;
        sp.block_bytes = block_bytes;
        sp.delimiter = c.delimiter;
        Block b;
        Records blocked;
        while (read_block(in, sp, b)) {
          EXPECT_EQ(b.first_line, static_cast<int64_t>(blocked.size()) + 1);
          for_each_line(b,
                        [&](char* line, uint32_t n, uint64_t) { blocked.emplace_back(line, n); });
        }
        fclose(in);
        EXPECT_EQ(blocked, c.records);
        EXPECT_EQ(sp.error, c.unclosed ? kReadUnclosedQuote : kReadOk);
        EXPECT_EQ(sp.lines, static_cast<int64_t>(c.records.size()));
        free_block(b);
        free_splitter(sp);
      }
    }
  }
}

TEST(RecordScanner, FieldsLoseTheirQuotesAndNothingElse) {
  struct Case {
    std::string record;
    size_t field;
    std::optional<std::string> text;
  };
  const Case cases[] = {
      {"1,\"InChI=1S/C2H6O/c1-2-3/h3H,2H2,1H3\",x", 2, "InChI=1S/C2H6O/c1-2-3/h3H,2H2,1H3"},
      {"1,\"InChI=1S/C2H6O/c1-2-3/h3H,2H2,1H3\",x", 3, "x"},
      {"1,\"q\"\"r\",s", 2, "q\"r"},
      {"\"a\"b\",c", 1, "ab\""},
      {"1,\"InChI=1S/H2O/h1H2\" ,x", 2, "InChI=1S/H2O/h1H2 "},
      {"\"a\"\"b\"c\"\"d,e", 1, "a\"bc\"\"d"},
      {"\"a\"b\",c", 2, "c"},
      {"ab\"c,\"d\"", 1, "ab\"c"},
      {"ab\"c,\"d\"", 2, "d"},
      {",,", 2, ""},
      {",,", 3, ""},
      {",,", 4, std::nullopt},
      {"a", 2, std::nullopt},
      {"\"\"", 1, ""},
      {"\"", 1, ""},
      {"\"open, to the end", 1, "open, to the end"},
      {"1,\"line\nbreak\"", 2, "line\nbreak"},
      {"1,\"a\"\"\",2", 2, "a\""},
      // A doubled quote, then the delimiter, inside the quotes.
      {"1,\"a \"\"b\"\",c\",InChI=1S/H2O/h1H2", 2, "a \"b\",c"},
      {"1,\"a \"\"b\"\",c\",InChI=1S/H2O/h1H2", 3, "InChI=1S/H2O/h1H2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.record) + " field " + std::to_string(c.field));
    EXPECT_EQ(model_csv_field(c.record, c.field, ','), c.text);
    const char *begin, *end;
    bool found = find_csv_field(c.record.data(), c.record.size(), c.field, ',', begin, end);
    EXPECT_EQ(found, c.text.has_value());
    if (found && c.text) {
      std::string text;
      csv_field_text(begin, end, text);
      EXPECT_EQ(text, *c.text);
    }
  }
}

}  // namespace
