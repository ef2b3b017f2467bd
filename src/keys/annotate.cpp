// What a line becomes: the line, then its InChIKey line; or, for tables, the
// row with the key of one field appended as a column.
#include "keys/annotate.h"

bool annotate_line(Annotator& a, char* line, uint32_t length, int64_t number, FILE* out) {
  const LineFormat& f = a.format;
  Candidate c;
  if (!key_candidate(a, line, length, number, c)) return false;
  if (!f.no_copy) {
    fwrite_unlocked(line, 1, length, out);
    putc_unlocked(f.field == 0 ? '\n' : f.delimiter, out);
  }
  bool keyed = c.asked && c.status == 0;
  if (f.field == 0) {
    if (keyed) {
      fputs_unlocked("InChIKey=", out);
      fputs_unlocked(a.key, out);
      putc_unlocked('\n', out);
    }
  } else {
    // One output line per input line, so that rows stay joinable.
    if (f.header && number == 1) fputs_unlocked("InChIKey", out);
    if (keyed) fputs_unlocked(a.key, out);
    putc_unlocked('\n', out);
  }
  if (keyed) ++a.counts.added;
  if (c.asked && !keyed) {
    ++a.counts.failed;
    log_failure(a, c.status, number);
  }
  return true;
}
