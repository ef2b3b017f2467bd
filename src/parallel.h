// The parallel block pipeline: one reader cuts the input into blocks of whole
// lines, workers annotate blocks into memory, one writer emits them in order.
#ifndef MOLSTAMP_PARALLEL_H
#define MOLSTAMP_PARALLEL_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

struct RunState;

// How many bytes a block gathers before it is cut after its last whole line;
// a longer line makes a longer block.
constexpr size_t kBlockBytes = size_t{1} << 18;

// A run of whole lines of the input, line ends included.
struct Block {
  char* data = nullptr;  // heap block, with a spare byte after size
  size_t capacity = 0;
  size_t size = 0;         // bytes of whole lines
  int64_t first_line = 0;  // the number of its first line
  int64_t lines = 0;
};

// The reader's state from one block to the next.
struct Splitter {
  size_t block_bytes = kBlockBytes;
  char* carry = nullptr;  // bytes read past the end of the last block
  size_t carry_size = 0, carry_capacity = 0;
  int64_t lines = 0;  // lines in the blocks so far
  int error = 0;      // a ReadError, once the input cannot go on
  bool done = false;  // the end of the input or an error was met
};

// Frees the buffers of a block or a splitter.
void release(Block& b);
void release(Splitter& sp);

// Where a block may be cut in data[0, n): just after the last line end whose
// kind is known (a CR at data[n-1] may yet be the start of CR LF, unless
// at_end). 0 when there is none.
size_t block_end(const char* data, size_t n, bool at_end);

// Reads the next block from in into b, reusing its buffer, with the line
// reader's rules: LF, CR LF (also across two reads) and a lone CR end a line;
// bytes after the last line end are a last line; a line may hold up to
// 2147483647 bytes. False when no line is left; sp.error then tells why (0:
// the end). A block may come with sp.error set: it holds the whole lines read
// before the failure, and is the last.
bool read_block(FILE* in, Splitter& sp, Block& b);

// Calls f(line, length) for each line of b in order, with its line end (or,
// for a last line without one, the spare byte) overwritten by NUL.
template <class F>
void for_each_line(Block& b, F f) {
  char* p = b.data;
  char* end = b.data + b.size;
  while (p < end) {
    auto span = static_cast<size_t>(end - p);
    char* stop = static_cast<char*>(std::memchr(p, '\n', span));
    if (stop != nullptr) span = static_cast<size_t>(stop - p);
    char* cr = static_cast<char*>(std::memchr(p, '\r', span));
    if (cr != nullptr) stop = cr;
    char* next = end;
    if (stop == nullptr) {
      stop = end;
    } else {
      next = stop + 1;
      if (*stop == '\r' && next < end && *next == '\n') ++next;
    }
    *stop = '\0';
    f(p, static_cast<uint32_t>(stop - p));
    p = next;
  }
}

// Annotates all of s.in into s.out as the serial loop does, byte for byte
// (output, log, progress and counts), with the given number of worker
// threads. False, with nothing read, when the threads cannot be started.
bool annotate_parallel(RunState& s, unsigned workers, bool console_is_terminal);

#endif
