// Splits the input into lines at LF, CR LF or a lone CR, into one reused
// buffer that only ever grows.
#include "text/line_reader.h"

#include <cstring>

#include "sys/stdio_peek.h"
#include "text/line_end.h"
#include "text/record_scanner.h"

namespace {

constexpr uint32_t kFirstCapacity = 4096;
// The most a line buffer grows to: the longest line and its terminator.
constexpr size_t kMostCapacity = size_t{kMaxLineBytes} + 1;

// Makes the buffer hold at least n bytes, by doubling from 4096; false when
// the limit is reached or memory runs out, the buffer unchanged.
bool hold(ByteBuffer& b, size_t n) { return reserve(b, n, kFirstCapacity, kMostCapacity); }

}  // namespace

char* read_text_line(FILE* in, LineBuffer& b) {
  b.error = kReadOk;
  b.length = 0;
  // A failed read leaves the stream's error flag set; stop here rather than
  // read past the hole.
  if (ferror_unlocked(in)) {
    b.error = kReadFailed;
    return nullptr;
  }
  if (b.data == nullptr && !hold(b, kFirstCapacity)) {
    b.error = kReadTooLong;
    return nullptr;
  }
  // Locals, not b's fields: a byte store could alias them, which would
  // force a reload of each for every byte.
  char* data = b.data;
  uint32_t last = static_cast<uint32_t>(b.capacity) - 1;  // room for the terminator
  uint32_t n = 0;
  uint64_t ends = 0;  // bytes of the line end
  unsigned char ending = kEndNone;
  for (;;) {
    // The bytes up to the next CR or LF come straight out of stdio's
    // buffer; getc_unlocked below takes the line end or refills.
    Buffered ahead = buffered(in);
    if (ahead.begin < ahead.end) {
      auto span = static_cast<size_t>(next_line_end(ahead.begin, ahead.end) - ahead.begin);
      if (span > last - n) {
        if (!hold(b, size_t{n} + span + 1)) {
          b.error = kReadTooLong;
          return nullptr;
        }
        data = b.data;
        last = static_cast<uint32_t>(b.capacity) - 1;
      }
      // Taken before the copy, while the compiler still knows where the
      // read pointer stands: no reload after memcpy.
      advance_buffered(in, span);
      std::memcpy(data + n, ahead.begin, span);
      n += static_cast<uint32_t>(span);
    }
    int c = getc_unlocked(in);
    if (c == '\n') {
      ends = 1;
      ending = kEndLf;
      break;
    }
    if (c == '\r') {
      // A CR LF split across two fills of the buffer is still one line end.
      int next = getc_unlocked(in);
      ends = next == '\n' ? 2 : 1;
      ending = next == '\n' ? kEndCrLf : kEndCr;
      if (next != '\n' && next != EOF) ungetc(next, in);
      break;
    }
    if (c == EOF) {
      if (ferror_unlocked(in)) {
        // The part read so far is not a whole line: do not pass it on.
        b.error = kReadFailed;
        return nullptr;
      }
      if (n == 0) return nullptr;  // every line end returns, so nothing was read
      break;
    }
    if (n == last) {
      if (!hold(b, b.capacity + 1)) {
        b.error = kReadTooLong;
        return nullptr;
      }
      data = b.data;
      last = static_cast<uint32_t>(b.capacity) - 1;
    }
    data[n++] = static_cast<char>(c);
  }
  data[n] = '\0';
  b.length = n;
  b.end += n + ends;
  b.ending = ending;
  return data;
}

namespace {

// Appends n bytes to a gathered record; false when it cannot be held.
bool append(LineBuffer& r, const char* bytes, uint32_t n) {
  if (n > kMaxLineBytes - r.length) return false;
  if (!hold(r, size_t{r.length} + n + 1)) return false;  // the terminator too
  std::memcpy(r.data + r.length, bytes, n);
  r.length += n;
  r.data[r.length] = '\0';
  return true;
}

// The bytes of a line end, as read.
const char* ending_bytes(unsigned char ending, uint32_t& n) {
  n = ending == kEndCrLf ? 2 : ending == kEndNone ? 0 : 1;
  return ending == kEndLf ? "\n" : "\r\n";
}

}  // namespace

char* read_record(FILE* in, RecordReader& r) {
  r.length = 0;
  if (r.unclosed) {
    r.error = kReadUnclosedQuote;
    return nullptr;
  }
  bool first = r.end == 0;
  char* line = read_text_line(in, r.line);
  r.error = r.line.error;
  if (line == nullptr) return nullptr;
  // A byte order mark before the first record opens no quote.
  size_t mark = first ? bom_length(line, r.line.length) : 0;
  Quote q = scan_quotes(line + mark, line + r.line.length, r.delimiter, Quote::kFieldStart);
  if (!inside_quotes(q)) {  // the common case: a record of one line, not copied
    r.length = r.line.length;
    r.end = r.line.end;
    return line;
  }
  LineBuffer& gathered = r.record;
  gathered.length = 0;
  for (;;) {
    uint32_t n;
    const char* ending = ending_bytes(r.line.ending, n);
    if (!append(gathered, r.line.data, r.line.length) || !append(gathered, ending, n)) {
      r.error = kReadTooLong;
      return nullptr;
    }
    r.end = r.line.end;
    if (!inside_quotes(q)) break;
    line = read_text_line(in, r.line);
    if (line == nullptr) {
      r.error = r.line.error;
      if (r.error != kReadOk) return nullptr;
      r.unclosed = true;  // the rest is one record, given whole
      break;
    }
    q = scan_quotes(line, line + r.line.length, r.delimiter, q);
  }
  // The record's own line end is not part of it.
  if (!r.unclosed) {
    uint32_t n;
    ending_bytes(r.line.ending, n);
    gathered.length -= n;
    gathered.data[gathered.length] = '\0';
  }
  r.length = gathered.length;
  return gathered.data;
}
