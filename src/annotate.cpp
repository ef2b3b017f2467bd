// What a line becomes: the line, then its InChIKey line; or, for tables, the
// row with the key of one field appended as a column.
#include <inchi_api.h>

#include <cinttypes>
#include <cstring>

#include "molstamp.h"

namespace {

// Computes the key of text if it looks like an InChI; counts the outcome and
// warns on log. True when key holds a key.
bool key_of(const char* text, int64_t line_number, FILE* log, char* key, int64_t& keys_added,
            int64_t& keys_failed, KeyFunction compute) {
  // Deliberately weak: the library does the real validation.
  if (text[0] != 'I' || text[1] != 'n' || text[2] != 'C') return false;
  int status = compute(text, key);
  if (status == 0) {
    ++keys_added;
    return true;
  }
  ++keys_failed;
  // Empty input and a wrong prefix are expected on loosely filtered files.
  if (status == 2 || status == 3) return false;
  const char* reason = "(unresolved program error)\n";
  if (status == 4) reason = "(not enough memory to treat the string)\n";
  if (status == 5) reason = "(detected error in flag character)\n";
  fprintf(log, "Warning: could not compute InChIKey for the line #%" PRId64 " %s", line_number,
          reason);
  return false;
}

// Field (from 1) of a TAB-separated line as [begin, end); false when the
// line has fewer fields. A line without TAB has only field 1.
bool find_field(char* line, uint32_t length, uint32_t field, char*& begin, char*& end) {
  char* stop = line + length;
  begin = line;
  for (uint32_t i = 1; i < field; ++i) {
    char* tab = static_cast<char*>(std::memchr(begin, '\t', static_cast<size_t>(stop - begin)));
    if (tab == nullptr) return false;
    begin = tab + 1;
  }
  end = static_cast<char*>(std::memchr(begin, '\t', static_cast<size_t>(stop - begin)));
  if (end == nullptr) end = stop;
  return true;
}

}  // namespace

int library_key(const char* inchi, char* key) {
  // This release can also produce hash extensions; we ask for none, but it
  // still wants somewhere to write them.
  char extra1[65];
  char extra2[65];
  return GetINCHIKeyFromINCHI(inchi, 0, 0, key, extra1, extra2);
}

void annotate_line(const char* line, int64_t line_number, FILE* out, FILE* log, char* key,
                   int64_t& keys_added, int64_t& keys_failed, KeyFunction compute) {
  if (key_of(line, line_number, log, key, keys_added, keys_failed, compute)) {
    fputs_unlocked("InChIKey=", out);
    fputs_unlocked(key, out);
    putc_unlocked('\n', out);
  }
}

void write_line(char* line, uint32_t length, int64_t line_number, bool header,
                const LineFormat& format, FILE* out, FILE* log, char* key, int64_t& keys_added,
                int64_t& keys_failed, KeyFunction compute) {
  if (!format.no_copy) fwrite_unlocked(line, 1, length, out);
  // A UTF-8 byte order mark (Windows editors and spreadsheets write one) is
  // copied, but the text begins after it.
  char* text = line;
  if (line_number == 1 && length >= 3 && std::memcmp(line, "\xef\xbb\xbf", 3) == 0) {
    text += 3;
    length -= 3;
  }
  if (format.field == 0) {
    if (!format.no_copy) putc_unlocked('\n', out);
    annotate_line(text, line_number, out, log, key, keys_added, keys_failed, compute);
    return;
  }
  // One output line per input line, so that rows stay joinable.
  if (!format.no_copy) putc_unlocked('\t', out);
  if (header) {
    fputs_unlocked("InChIKey\n", out);
    return;
  }
  char *begin, *end;
  if (find_field(text, length, format.field, begin, end)) {
    // The library reads NUL-terminated text: end the field in place.
    char saved = *end;
    *end = '\0';
    bool keyed = key_of(begin, line_number, log, key, keys_added, keys_failed, compute);
    *end = saved;
    if (keyed) fputs_unlocked(key, out);
  }
  putc_unlocked('\n', out);
}
