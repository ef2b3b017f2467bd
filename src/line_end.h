// The line-end rule, in one place: LF, CR LF and a lone CR each end a line.
// The serial line reader and the block reader both cut lines with it.
#ifndef MOLSTAMP_LINE_END_H
#define MOLSTAMP_LINE_END_H

#include <cstddef>
#include <cstdint>

// The first LF or CR in [p, end), or end when there is none. Costs about the
// bytes before it, whichever of the two ends the file uses.
const char* next_line_end(const char* p, const char* end);

// The bytes taken by the line end at p (p < end): 2 for CR LF, else 1.
inline size_t line_end_size(const char* p, const char* end) {
  return *p == '\r' && p + 1 < end && p[1] == '\n' ? 2 : 1;
}

// Just past the last line end in data[0, n) whose kind is known: a CR at
// data[n-1] may yet begin a CR LF, unless at_end. 0 when there is none.
size_t last_line_end(const char* data, size_t n, bool at_end);

// The lines ended in data[0, n) (CR LF counted once), a memchr per line end
// rather than a test per byte.
int64_t count_line_ends(const char* data, size_t n);

#endif
