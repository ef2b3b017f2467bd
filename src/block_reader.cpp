// Cuts the input into blocks of whole lines with a reused buffer per block
// and a carry for the bytes read past the last line end.
#include "block_reader.h"

#include <cstdlib>
#include <cstring>

#include "line_reader.h"

namespace {

// Grows p to hold at least n bytes, by doubling; false when memory runs out
// (p unchanged).
bool reserve(char*& p, size_t& capacity, size_t n) {
  if (n <= capacity) return true;
  size_t grown = capacity == 0 ? kBlockBytes : capacity;
  while (grown < n) grown *= 2;
  char* q = static_cast<char*>(std::realloc(p, grown));
  if (q == nullptr) return false;
  p = q;
  capacity = grown;
  return true;
}

// Takes up to room bytes from in: what its buffer holds, or else what one
// read from its source gives (glibc's read pointers, as getc_unlocked uses
// them). 0 at the end of the input or on an error.
size_t take_available(FILE* in, char* to, size_t room) {
  size_t got = 0;
  if (in->_IO_read_ptr >= in->_IO_read_end) {
    int c = getc_unlocked(in);  // refills the buffer
    if (c == EOF) return 0;
    to[got++] = static_cast<char>(c);
  }
  auto held = static_cast<size_t>(in->_IO_read_end - in->_IO_read_ptr);
  size_t n = held < room - got ? held : room - got;
  std::memcpy(to + got, in->_IO_read_ptr, n);
  in->_IO_read_ptr += n;
  return got + n;
}

}  // namespace

void free_block(Block& b) {
  std::free(b.data);
  b = Block{};
}

void free_splitter(Splitter& sp) {
  std::free(sp.carry);
  sp.carry = nullptr;
  sp.carry_size = sp.carry_capacity = 0;
}

bool read_block(FILE* in, Splitter& sp, Block& b) {
  b.size = 0;
  b.lines = 0;
  b.first_line = sp.lines + 1;
  b.start = sp.bytes;
  if (sp.done) return false;
  size_t n = sp.carry_size;
  if (!reserve(b.data, b.capacity, (n > sp.block_bytes ? n : sp.block_bytes) + 1)) {
    sp.error = kReadTooLong;
    sp.done = true;
    return false;
  }
  if (n > 0) std::memcpy(b.data, sp.carry, n);
  sp.carry_size = 0;
  bool at_end = false;
  size_t cut = 0;
  size_t searched = 0;  // line ends in [0, searched) are known: only new bytes are searched
  for (;;) {
    if (n + 1 == b.capacity && !reserve(b.data, b.capacity, b.capacity * 2)) {
      sp.error = kReadTooLong;  // memory ran out inside a line
      break;
    }
    size_t room = b.capacity - 1 - n;  // the spare byte stays free
    if (room > sp.block_bytes) room = sp.block_bytes;
    size_t got = take_available(in, b.data + n, room);
    n += got;
    if (got == 0) {
      at_end = true;
      if (ferror_unlocked(in)) sp.error = kReadFailed;
    }
    // From the byte before the new ones: a CR there may now be settled.
    size_t from = searched > 0 ? searched - 1 : 0;
    size_t found = last_line_end(b.data + from, n - from, at_end);
    if (found > 0) cut = from + found;
    searched = n;
    // A pipe that has given all it has for now ends the block too, so that
    // its lines are annotated (and progress shown) as they come, as -j1 does.
    bool drained = in->_IO_read_ptr >= in->_IO_read_end;
    if (at_end || (cut > 0 && (n >= sp.block_bytes || drained))) break;
    if (cut == 0 && n - (b.data[n - 1] == '\r' ? 1 : 0) > kMaxLineBytes) {
      sp.error = kReadTooLong;  // one line over the limit
      break;
    }
  }
  bool last_line_open = at_end && sp.error == kReadOk;  // bytes after the last end are a line
  b.size = last_line_open ? n : cut;
  if (at_end || sp.error != kReadOk) {
    sp.done = true;
  } else if (!reserve(sp.carry, sp.carry_capacity, n - cut)) {
    sp.error = kReadTooLong;
    sp.done = true;
  } else {
    sp.carry_size = n - cut;
    if (sp.carry_size > 0) std::memcpy(sp.carry, b.data + cut, sp.carry_size);
  }
  b.lines = count_line_ends(b.data, b.size) + (b.size > cut ? 1 : 0);
  sp.lines += b.lines;
  sp.bytes += b.size;
  return b.size > 0;
}
