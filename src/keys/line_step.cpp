// The mode's choice, above annotation and check.
#include "keys/line_step.h"

LineStep line_step(const LineFormat& f) { return f.check ? check_line : annotate_line; }

void end_lines(Annotator& a, int64_t lines, bool complete, FILE* out) {
  if (a.format.check) end_check(a, lines, complete, out);
}
