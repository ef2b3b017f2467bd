// The block reader: the input cut into blocks of whole lines, each with the
// number of its first line, by the serial line reader's rules.
#ifndef MOLSTAMP_BLOCK_READER_H
#define MOLSTAMP_BLOCK_READER_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "sys/buffer.h"
#include "text/line_end.h"
#include "text/line_reader.h"
#include "text/record_scanner.h"

// How many bytes a block gathers before it is cut after its last whole line;
// a longer line makes a longer block.
constexpr size_t kBlockBytes = size_t{1} << 18;

// A run of whole lines of the input, line ends included, in a ByteBuffer's
// bytes (data, capacity) with a spare byte after size.
struct Block : ByteBuffer {
  size_t size = 0;         // bytes of whole lines
  int64_t first_line = 0;  // the number of its first line
  int64_t lines = 0;
  uint64_t start = 0;  // input bytes before it
  char delimiter = 0;  // CSV: its lines are records of fields split by this
};

// The reader's state from one block to the next.
struct Splitter {
  size_t block_bytes = kBlockBytes;
  char delimiter = 0;         // CSV: cut blocks between records (never inside quotes)
  ByteBuffer carry;           // bytes read past the end of the last block
  size_t carry_size = 0;      // of them, in carry
  int64_t lines = 0;          // lines in the blocks so far
  uint64_t bytes = 0;         // input bytes in the blocks so far
  ReadError error = kReadOk;  // once the input cannot go on
  bool done = false;          // the end of the input or an error was met
};

// Frees a block's buffer; the block can be read into again.
void free_block(Block& b);

// Frees the splitter's carry.
void free_splitter(Splitter& sp);

// Reads the next block from in into b, reusing its buffer, with the line
// reader's rules: LF, CR LF (also across two reads) and a lone CR end a line;
// bytes after the last line end are a last line; a line may hold up to
// 2147483647 bytes. With a delimiter, the same for CSV records, as
// read_record reads them. A long line costs time in proportion to its
// length. False when no line is left; sp.error then tells why (kReadOk: the
// end).
// A block may come with sp.error set: it holds the whole lines read before
// the failure (with kReadUnclosedQuote, all the rest), and is the last.
bool read_block(FILE* in, Splitter& sp, Block& b);

// Calls f(line, length, end) for each line (CSV: record) of b in order, with
// its line end (or, for a last line without one, the spare byte)
// overwritten by NUL; end is the input offset just past the line's end, as
// LineBuffer::end.
template <class F>
void for_each_line(Block& b, F f) {
  char* p = b.data;
  char* end = b.data + b.size;
  // A byte order mark before the input's first record opens no quote.
  char* from = p + (b.start == 0 ? bom_length(p, b.size) : 0);
  while (p < end) {
    Quote q = Quote::kFieldStart;
    char* stop = const_cast<char*>(b.delimiter == 0 ? next_line_end(from, end)
                                                    : next_record_end(from, end, b.delimiter, q));
    char* next = stop == end ? end : stop + line_end_size(stop, end);
    *stop = '\0';
    f(p, static_cast<uint32_t>(stop - p), b.start + static_cast<uint64_t>(next - b.data));
    p = from = next;
  }
}

#endif
