// The progress print.
#include "progress.h"

#include <cinttypes>

void print_progress(FILE* console, int64_t lines, bool terminal) {
  // Eight blanks and a carriage return: the next print overwrites this one.
  fprintf(console, "%" PRId64 "        \r", lines);
  if (terminal) fflush(console);
}
