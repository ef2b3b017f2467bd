// The line-end rule, in one place: LF, CR LF and a lone CR each end a line.
// The serial line reader and the block reader both cut lines with it.
#ifndef MOLSTAMP_LINE_END_H
#define MOLSTAMP_LINE_END_H

#include <cstddef>
#include <cstdint>
#include <cstring>

// The bytes of the UTF-8 byte order mark that the n bytes at p begin with
// (3), or 0. Windows editors and spreadsheets put one before line 1: it is
// copied, but it is no part of the line's text or of its first field.
inline size_t bom_length(const char* p, size_t n) {
  return n >= 3 && static_cast<unsigned char>(p[0]) == 0xef &&
                 static_cast<unsigned char>(p[1]) == 0xbb &&
                 static_cast<unsigned char>(p[2]) == 0xbf
             ? 3
             : 0;
}

// The first window searched for a line end; it doubles while none is found.
constexpr size_t kFirstLineEndWindow = 256;

// The first LF or CR in [p, end), or end when there is none. Costs about the
// bytes before it, whichever of the two ends the file uses: a window that
// grows keeps one memchr per kind for short lines, without scanning a whole
// buffer for the LF that a CR-ended file never has. Inline: it runs once per
// line on both readers.
inline const char* next_line_end(const char* p, const char* end) {
  for (size_t window = kFirstLineEndWindow;; window *= 2) {
    auto span = static_cast<size_t>(end - p);
    if (span > window) span = window;
    auto lf = static_cast<const char*>(std::memchr(p, '\n', span));
    if (lf != nullptr) span = static_cast<size_t>(lf - p);
    auto cr = static_cast<const char*>(std::memchr(p, '\r', span));
    if (cr != nullptr) return cr;
    if (lf != nullptr) return lf;
    p += span;
    if (p == end) return end;
  }
}

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
