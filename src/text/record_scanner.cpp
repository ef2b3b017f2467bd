// A memchr-driven scan: between quotes only line ends matter, and inside a
// quoted field only the next '"'.
#include "text/record_scanner.h"

#include <cstring>

#include "text/line_end.h"

namespace {

bool is_line_end(char c) { return c == '\n' || c == '\r'; }

// What the byte after a '"' inside a quoted field does to the scan: "" is
// one '"'; the delimiter or a line end ends the field; anything else ends
// the quoting, and the field goes on as plain text.
Quote after_closing(char next, char delimiter) {
  if (next == '"') return Quote::kQuoted;
  if (next == delimiter) return Quote::kFieldStart;
  return Quote::kUnquoted;  // at a line end, the caller sees the record's end
}

}  // namespace

const char* next_record_end(const char* p, const char* end, char delimiter, Quote& q) {
  while (p < end) {
    if (q == Quote::kClosing) {
      q = after_closing(*p, delimiter);
      if (is_line_end(*p)) return p;
      ++p;
      continue;
    }
    if (q == Quote::kQuoted) {
      auto quote = static_cast<const char*>(std::memchr(p, '"', static_cast<size_t>(end - p)));
      if (quote == nullptr) return end;
      q = Quote::kClosing;
      p = quote + 1;
      continue;
    }
    // Outside quotes: the next line end ends the record, unless a quoted
    // field opens before it.
    const char* line_end = next_line_end(p, end);
    const char* quote = p;
    for (;;) {
      quote =
          static_cast<const char*>(std::memchr(quote, '"', static_cast<size_t>(line_end - quote)));
      if (quote == nullptr) break;
      bool opens = quote == p ? q == Quote::kFieldStart : quote[-1] == delimiter;
      if (opens) break;
      ++quote;  // an ordinary byte inside an unquoted field
    }
    if (quote == nullptr) {
      if (line_end < end) return line_end;
      if (end > p) q = end[-1] == delimiter ? Quote::kFieldStart : Quote::kUnquoted;
      return end;
    }
    q = Quote::kQuoted;
    p = quote + 1;
  }
  return end;
}

Quote scan_quotes(const char* p, const char* end, char delimiter, Quote q) {
  while (p < end) {
    if (q == Quote::kClosing) {
      q = after_closing(*p, delimiter);
      ++p;
      continue;
    }
    auto quote = static_cast<const char*>(std::memchr(p, '"', static_cast<size_t>(end - p)));
    if (q == Quote::kQuoted) {
      if (quote == nullptr) return q;
      q = Quote::kClosing;
      p = quote + 1;
      continue;
    }
    // Outside quotes, only a '"' that begins a field matters.
    if (quote == nullptr) return end[-1] == delimiter ? Quote::kFieldStart : Quote::kUnquoted;
    bool opens = quote == p ? q == Quote::kFieldStart : quote[-1] == delimiter;
    q = opens ? Quote::kQuoted : Quote::kUnquoted;
    p = quote + 1;
  }
  return q;
}

bool find_csv_field(const char* record, size_t length, size_t field, char delimiter,
                    const char*& begin, const char*& end) {
  const char* stop = record + length;
  const char* p = record;
  for (size_t i = 1;; ++i) {
    const char* field_end;
    if (p < stop && *p == '"') {
      // A quoted field's closing '"' (not "") ends its quoting; the field
      // then runs on as plain text to the delimiter.
      const char* q = p + 1;
      for (;;) {
        q = static_cast<const char*>(std::memchr(q, '"', static_cast<size_t>(stop - q)));
        if (q == nullptr) {
          field_end = stop;  // open to the end of the record
          break;
        }
        if (q + 1 < stop && q[1] == '"') {
          q += 2;
          continue;
        }
        ++q;
        field_end =
            static_cast<const char*>(std::memchr(q, delimiter, static_cast<size_t>(stop - q)));
        if (field_end == nullptr) field_end = stop;
        break;
      }
    } else {
      field_end =
          static_cast<const char*>(std::memchr(p, delimiter, static_cast<size_t>(stop - p)));
      if (field_end == nullptr) field_end = stop;
    }
    if (i == field) {
      begin = p;
      end = field_end;
      return true;
    }
    if (field_end == stop) return false;
    p = field_end + 1;
  }
}

void csv_field_text(const char* begin, const char* end, std::string& text) {
  text.clear();
  if (begin == end || *begin != '"') {
    text.append(begin, end);
    return;
  }
  const char* p = begin + 1;
  for (;;) {
    auto quote = static_cast<const char*>(std::memchr(p, '"', static_cast<size_t>(end - p)));
    if (quote == nullptr) {
      text.append(p, end);  // never closed
      return;
    }
    if (quote + 1 < end && quote[1] == '"') {  // "" is one '"'
      text.append(p, quote + 1);
      p = quote + 2;
      continue;
    }
    // The closing quote: what follows it, if anything, is plain text.
    text.append(p, quote);
    text.append(quote + 1, end);
    return;
  }
}
