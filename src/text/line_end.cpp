// Finding line ends with memchr and memrchr, a kind at a time.
#include "text/line_end.h"

#include <cstring>

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
