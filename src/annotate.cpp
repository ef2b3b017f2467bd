// Adds the InChIKey line after each line that looks like an InChI string.
#include <inchi_api.h>

#include <cinttypes>

#include "molstamp.h"

int library_key(const char* inchi, char* key) {
  // This release can also produce hash extensions; we ask for none, but it
  // still wants somewhere to write them.
  char extra1[65];
  char extra2[65];
  return GetINCHIKeyFromINCHI(inchi, 0, 0, key, extra1, extra2);
}

void annotate_line(const char* line, int64_t line_number, FILE* out, FILE* log, char* key,
                   int64_t& keys_added, int64_t& keys_failed, KeyFunction compute) {
  // Deliberately weak: the library does the real validation.
  if (line[0] != 'I' || line[1] != 'n' || line[2] != 'C') return;
  int status = compute(line, key);
  if (status == 0) {
    fputs_unlocked("InChIKey=", out);
    fputs_unlocked(key, out);
    putc_unlocked('\n', out);
    ++keys_added;
    return;
  }
  ++keys_failed;
  // Empty input and a wrong prefix are expected on loosely filtered files.
  if (status == 2 || status == 3) return;
  const char* reason = "(unresolved program error)\n";
  if (status == 4) reason = "(not enough memory to treat the string)\n";
  if (status == 5) reason = "(detected error in flag character)\n";
  fprintf(log, "Warning: could not compute InChIKey for the line #%" PRId64 " %s", line_number,
          reason);
}
