// Cuts the input into blocks of whole lines with a reused buffer per block
// and a carry for the bytes read past the last line end.
#include "pipeline/block_reader.h"

#include <cstring>

#include "sys/stdio_peek.h"
#include "text/line_reader.h"

namespace {

// Makes b hold at least n bytes, by doubling from kBlockBytes; false when
// memory runs out (b unchanged).
bool hold(ByteBuffer& b, size_t n) { return reserve(b, n, kBlockBytes); }

// Takes up to room bytes from in: what its buffer holds, or else what one
// read from its source gives. 0 at the end of the input or on an error.
size_t take_available(FILE* in, char* to, size_t room) {
  size_t got = 0;
  if (nothing_buffered(in)) {
    int c = getc_unlocked(in);  // refills the buffer
    if (c == EOF) return 0;
    to[got++] = static_cast<char>(c);
  }
  Buffered held = buffered(in);
  auto available = static_cast<size_t>(held.end - held.begin);
  size_t n = available < room - got ? available : room - got;
  std::memcpy(to + got, held.begin, n);
  advance_buffered(in, n);
  return got + n;
}

// Where the lines or records of a block being read end, searched once, a
// read at a time: cut is just past the last end whose kind is settled.
struct Cuts {
  size_t cut = 0;
  size_t searched = 0;           // bytes searched
  Quote q = Quote::kFieldStart;  // CSV: the scan's state at searched
  int64_t records = 0;           // CSV: records ended before cut
};

// Searches the bytes a read added to data[0, n), at the end of the input or
// not (a CR at data[n-1] may yet begin a CR LF); data begins the input when
// input_start.
void find_cuts(const char* data, size_t n, bool at_end, bool input_start, char delimiter, Cuts& c) {
  if (delimiter == 0) {
    // From the byte before the new ones: a CR there may now be settled.
    size_t from = c.searched > 0 ? c.searched - 1 : 0;
    size_t found = last_line_end(data + from, n - from, at_end);
    if (found > 0) c.cut = from + found;
    c.searched = n;
    return;
  }
  if (input_start && c.searched == 0) {
    // A byte order mark before the first record opens no quote; a part of
    // one waits for the rest.
    static const char kMark[] = "\xef\xbb\xbf";
    if (n < 3 && !at_end && std::memcmp(data, kMark, n) == 0) return;
    c.searched = bom_length(data, n);
  }
  const char* end = data + n;
  const char* p = data + c.searched;
  for (;;) {
    const char* stop = next_record_end(p, end, delimiter, c.q);
    if (stop == end) {
      p = end;  // searched through, c.q the state at the end
      break;
    }
    if (stop + 1 == end && *stop == '\r' && !at_end) {
      c.q = Quote::kUnquoted;  // searched again once the byte after it is known
      p = stop;
      break;
    }
    p = stop + line_end_size(stop, end);
    c.cut = static_cast<size_t>(p - data);
    c.q = Quote::kFieldStart;
    ++c.records;
    if (p == end) break;
  }
  c.searched = static_cast<size_t>(p - data);
}

}  // namespace

void free_block(Block& b) { b = Block{}; }

void free_splitter(Splitter& sp) {
  release(sp.carry);
  sp.carry_size = 0;
}

bool read_block(FILE* in, Splitter& sp, Block& b) {
  b.size = 0;
  b.lines = 0;
  b.first_line = sp.lines + 1;
  b.start = sp.bytes;
  b.delimiter = sp.delimiter;
  if (sp.done) return false;
  size_t n = sp.carry_size;
  if (!hold(b, (n > sp.block_bytes ? n : sp.block_bytes) + 1)) {
    sp.error = kReadTooLong;
    sp.done = true;
    return false;
  }
  if (n > 0) std::memcpy(b.data, sp.carry.data, n);
  sp.carry_size = 0;
  bool at_end = false;
  Cuts cuts;  // only the bytes each read adds are searched
  for (;;) {
    if (n + 1 == b.capacity && !hold(b, b.capacity * 2)) {
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
    find_cuts(b.data, n, at_end, b.start == 0, sp.delimiter, cuts);
    size_t cut = cuts.cut;
    // A pipe that has given all it has for now ends the block too, so that
    // its lines are annotated (and progress shown) as they come, as -j1 does.
    bool drained = nothing_buffered(in);
    if (at_end || (cut > 0 && (n >= sp.block_bytes || drained))) break;
    if (cut == 0 && n - (b.data[n - 1] == '\r' ? 1 : 0) > kMaxLineBytes) {
      sp.error = kReadTooLong;  // one line over the limit
      break;
    }
  }
  size_t cut = cuts.cut;
  // A quoted field open at the end makes the rest one record, given whole.
  if (at_end && sp.error == kReadOk && sp.delimiter != 0 && inside_quotes(cuts.q))
    sp.error = kReadUnclosedQuote;
  bool last_line_open = at_end && input_complete(sp.error);
  b.size = last_line_open ? n : cut;
  if (at_end || sp.error != kReadOk) {
    sp.done = true;
  } else if (!hold(sp.carry, n - cut)) {
    sp.error = kReadTooLong;
    sp.done = true;
  } else {
    sp.carry_size = n - cut;
    if (sp.carry_size > 0) std::memcpy(sp.carry.data, b.data + cut, sp.carry_size);
  }
  int64_t ended = sp.delimiter == 0 ? count_line_ends(b.data, cut) : cuts.records;
  b.lines = ended + (b.size > cut ? 1 : 0);
  sp.lines += b.lines;
  sp.bytes += b.size;
  return b.size > 0;
}
