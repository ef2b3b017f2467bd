// A deliberately plain model of CSV records and fields, a byte at a time,
// to check the record scanner and both readers against: a field is quoted
// when it begins with '"'; inside it "" is one '"', and a '"' followed by the
// delimiter, a line end or the end closes it, while one followed by anything
// else ends the quoting, the rest of the field being plain text where '"' is
// an ordinary byte (Python's csv reads it so); a record ends at a line end
// (LF, CR LF, CR) outside quotes; a byte order mark before the first record
// is no part of its quoting.
#ifndef MOLSTAMP_CSV_MODEL_H
#define MOLSTAMP_CSV_MODEL_H

#include <optional>
#include <string>
#include <vector>

struct ModelRecords {
  std::vector<std::string> records;  // without their own line ends
  bool unclosed = false;             // the input ended inside a quoted field
};

inline ModelRecords model_records(const std::string& bytes, char delimiter) {
  enum { kStart, kUnquoted, kQuoted, kClosing } state = kStart;
  ModelRecords m;
  std::string record;
  bool pending = false;
  // A UTF-8 byte order mark before the first record opens no quote.
  size_t mark = bytes.compare(0, 3, "\xef\xbb\xbf") == 0 ? 3 : 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    char c = bytes[i];
    if (i < mark) {
      record += c;
      pending = true;
      continue;
    }
    bool line_end = c == '\r' || c == '\n';
    if (line_end && state != kQuoted) {
      m.records.push_back(record);
      record.clear();
      pending = false;
      state = kStart;
      if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      continue;
    }
    record += c;
    pending = true;
    if (state == kStart) {
      state = c == '"' ? kQuoted : c == delimiter ? kStart : kUnquoted;
    } else if (state == kUnquoted) {
      if (c == delimiter) state = kStart;
    } else if (state == kQuoted) {
      if (c == '"') state = kClosing;
    } else {  // kClosing: the '"' before c
      state = c == delimiter ? kStart : c == '"' ? kQuoted : kUnquoted;
    }
  }
  if (pending) m.records.push_back(record);
  m.unclosed = state == kQuoted;
  return m;
}

// Field (from 1) of a record, without its quotes and with "" as '"'.
inline std::optional<std::string> model_csv_field(const std::string& record, size_t field,
                                                  char delimiter) {
  enum { kStart, kUnquoted, kQuoted, kClosing } state = kStart;
  std::vector<std::string> fields(1);
  for (char c : record) {
    if (state == kClosing) {
      if (c == '"') {
        fields.back() += '"';
        state = kQuoted;
        continue;
      }
      if (c == delimiter) {
        fields.emplace_back();
        state = kStart;
        continue;
      }
      state = kUnquoted;  // the quoting is over; c is plain text
    }
    if (state == kStart) {
      if (c == '"') {
        state = kQuoted;
        continue;
      }
      state = kUnquoted;
    }
    if (state == kQuoted) {
      if (c == '"') {
        state = kClosing;
      } else {
        fields.back() += c;
      }
    } else if (c == delimiter) {
      fields.emplace_back();
      state = kStart;
    } else {
      fields.back() += c;
    }
  }
  if (field < 1 || field > fields.size()) return std::nullopt;
  return fields[field - 1];
}

#endif
