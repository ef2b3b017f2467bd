// Finding line ends with memchr and memrchr, a kind at a time.
#include "line_end.h"

#include <cstring>

namespace {

// The first window searched for a line end; it doubles while none is found.
constexpr size_t kFirstWindow = 256;

}  // namespace

const char* next_line_end(const char* p, const char* end) {
  // A window that grows keeps one memchr per line for short lines, without
  // scanning a whole buffer for the LF that a CR-ended file never has.
  for (size_t window = kFirstWindow;; window *= 2) {
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

size_t last_line_end(const char* data, size_t n, bool at_end) {
  if (!at_end && n > 0 && data[n - 1] == '\r') --n;
  const void* lf = memrchr(data, '\n', n);
  const void* cr = memrchr(data, '\r', n);
  const char* last = static_cast<const char*>(lf > cr ? lf : cr);
  return last == nullptr ? 0 : static_cast<size_t>(last - data) + 1;
}

int64_t count_line_ends(const char* data, size_t n) {
  int64_t ends = 0;
  const char* end = data + n;
  for (const char* p = data; (p = static_cast<const char*>(std::memchr(p, '\n', end - p)));) {
    ++ends;
    ++p;
  }
  for (const char* p = data; (p = static_cast<const char*>(std::memchr(p, '\r', end - p)));) {
    ++p;
    if (p == end || *p != '\n') ++ends;  // CR LF was counted with its LF
  }
  return ends;
}
