// Splits the input into lines at LF, CR LF or a lone CR, into one reused
// buffer that only ever grows.
#include <cstdlib>
#include <cstring>

#include "molstamp.h"

namespace {

constexpr uint32_t kFirstCapacity = 4096;

// Doubles the buffer; false when the limit is reached or memory runs out, in
// which case buffer still points at the old, valid block.
bool grow(char*& buffer, uint32_t& capacity) {
  if (capacity > kMaxLineBytes) return false;
  uint32_t doubled = capacity * 2;
  char* bigger = static_cast<char*>(std::realloc(buffer, doubled));
  if (bigger == nullptr) return false;
  buffer = bigger;
  capacity = doubled;
  return true;
}

}  // namespace

char* read_text_line(FILE* in, char*& buffer, uint32_t& capacity, int& error, uint32_t& length) {
  error = kReadOk;
  length = 0;
  // A failed read leaves the stream's error flag set; stop here rather than
  // read past the hole.
  if (ferror_unlocked(in)) {
    error = kReadFailed;
    return nullptr;
  }
  if (buffer == nullptr) {
    capacity = kFirstCapacity;
    buffer = static_cast<char*>(std::malloc(capacity));
    if (buffer == nullptr) {
      error = kReadTooLong;
      return nullptr;
    }
  }
  // Locals, not the by-reference parameters: a byte store could alias them,
  // which would force a reload of each for every byte.
  char* data = buffer;
  uint32_t last = capacity - 1;  // room for the terminator
  uint32_t n = 0;
  for (;;) {
    // The bytes up to the next CR or LF come straight out of stdio's buffer
    // (glibc's read pointers, the ones getc_unlocked itself moves), a memchr
    // at a time; getc_unlocked below takes the line end or refills.
    char* ahead = in->_IO_read_ptr;
    char* filled = in->_IO_read_end;
    if (ahead < filled) {
      auto span = static_cast<size_t>(filled - ahead);
      char* stop = static_cast<char*>(std::memchr(ahead, '\n', span));
      if (stop != nullptr) span = static_cast<size_t>(stop - ahead);
      stop = static_cast<char*>(std::memchr(ahead, '\r', span));
      if (stop != nullptr) span = static_cast<size_t>(stop - ahead);
      while (span > last - n) {
        if (!grow(buffer, capacity)) {
          error = kReadTooLong;
          return nullptr;
        }
        data = buffer;
        last = capacity - 1;
      }
      std::memcpy(data + n, ahead, span);
      n += static_cast<uint32_t>(span);
      in->_IO_read_ptr = ahead + span;
    }
    int c = getc_unlocked(in);
    if (c == '\n') break;
    if (c == '\r') {
      int next = getc_unlocked(in);
      if (next != '\n' && next != EOF) ungetc(next, in);
      break;
    }
    if (c == EOF) {
      if (ferror_unlocked(in)) {
        // The part read so far is not a whole line: do not pass it on.
        error = kReadFailed;
        return nullptr;
      }
      if (n == 0) return nullptr;  // every line end returns, so nothing was read
      break;
    }
    if (n == last) {
      if (!grow(buffer, capacity)) {
        error = kReadTooLong;
        return nullptr;
      }
      data = buffer;
      last = capacity - 1;
    }
    data[n++] = static_cast<char>(c);
  }
  data[n] = '\0';
  length = n;
  return buffer;
}
