// Fuzzes the block reader: random bytes, cut into blocks of a random small
// size and read through a stdio buffer of a random size, must give exactly
// the serial reader's lines and line end offsets, with the right first line
// number, line count and start on every block; as CSV records too (the
// first byte's top bit), where both readers must give the plain model's
// records, and the record scanner its fields.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "csv_model.h"
#include "fuzz_util.h"
#include "line_model.h"
#include "pipeline/block_reader.h"
#include "text/record_scanner.h"

namespace {

// The serial reader's CSV records; error gets its ReadError.
std::vector<std::string> serial_records(FILE* in, char delimiter, int& error,
                                        std::vector<uint64_t>& ends) {
  RecordReader r;
  r.delimiter = delimiter;
  std::vector<std::string> records;
  while (const char* record = read_record(in, r)) {
    check(record[r.length] == '\0', "record terminator");
    records.emplace_back(record, r.length);
    ends.push_back(r.end);
  }
  error = r.error;
  return records;
}

// Each record's first fields, as the annotator takes them, against the model.
void check_fields(const std::vector<std::string>& records, char delimiter) {
  std::string text;
  for (const std::string& record : records) {
    for (size_t field = 1; field <= 3; ++field) {
      const char *begin, *end;
      bool found = find_csv_field(record.data(), record.size(), field, delimiter, begin, end);
      auto model = model_csv_field(record, field, delimiter);
      check(found == model.has_value(), "field found as in the model");
      if (!found) break;
      csv_field_text(begin, end, text);
      check(text == *model, "field text as in the model");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  std::vector<char> stdio_buffer(1 + data[0] % 64);
  bool csv = (data[0] & 0x80) != 0;
  char delimiter = csv ? (data[1] & 0x40 ? ';' : ',') : 0;
  size_t block_bytes = 1 + data[1] % 32;
  std::string bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
  FILE* in = open_bytes(bytes, stdio_buffer);
  int error = -1;
  std::vector<uint64_t> serial_ends;
  std::vector<std::string> serial;
  if (csv) {
    serial = serial_records(in, delimiter, error, serial_ends);
    ModelRecords model = model_records(bytes, delimiter);
    check(serial == model.records, "serial records match the model");
    check(error == (model.unclosed ? kReadUnclosedQuote : kReadOk), "serial reader's end");
    check_fields(serial, delimiter);
  } else {
    serial = serial_lines(in, error, &serial_ends);
    check(error == kReadOk, "serial reader ends cleanly");
    check(serial == model_lines(bytes), "serial reader matches the model");
  }
  fclose(in);
  int serial_error = error;

  in = open_bytes(bytes, stdio_buffer);
  Splitter sp;
  sp.block_bytes = block_bytes;
  sp.delimiter = delimiter;
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
  check(sp.error == serial_error, "blocks end as the serial reader does");
  check(sp.lines == static_cast<int64_t>(blocked.size()), "total line count");
  check(blocked == serial, "blocks give the serial reader's lines");
  check(blocked_ends == serial_ends, "blocks give the serial reader's line end offsets");
  free_block(b);
  free_splitter(sp);
  fclose(in);
  return 0;
}
