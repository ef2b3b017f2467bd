// What a line becomes: the line, then its InChIKey line; or, for tables, the
// row with the key of one field appended as a column.
#include "annotate.h"

#include <inchi_api.h>

#include <cinttypes>
#include <cstring>

namespace {

// Deliberately weak: the library does the real validation.
bool is_candidate(const char* text) { return text[0] == 'I' && text[1] == 'n' && text[2] == 'C'; }

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

// Asks the library for the key of a line's text (its field, for tables), if
// it is a candidate: true, with the library's status, when it was asked. The
// library reads NUL-terminated text: the field is ended in place, then
// restored.
bool ask_key(Annotator& a, char* line, uint32_t length, int64_t number, bool header, int& status) {
  const LineFormat& f = a.format;
  // A UTF-8 byte order mark (Windows editors and spreadsheets write one) is
  // copied, but the text begins after it.
  if (number == 1 && length >= 3 && std::memcmp(line, "\xef\xbb\xbf", 3) == 0) {
    line += 3;
    length -= 3;
  }
  char* begin = line;
  char* end = line + length;
  if (f.field > 0 && (header || !find_field(line, length, f.field, begin, end))) return false;
  // Safe before the field is ended: a TAB or the line's NUL stops the test.
  if (!is_candidate(begin)) return false;
  char saved = *end;
  *end = '\0';
  status = a.compute(begin, a.key);
  *end = saved;
  return true;
}

// Counts a key call's outcome and warns of a failure, but for empty input
// and a wrong prefix, which are expected on loosely filtered files.
void count(Annotator& a, int status, int64_t number) {
  if (status == 0) {
    ++a.added;
    return;
  }
  ++a.failed;
  if (status == 2 || status == 3) return;
  const char* reason = "(unresolved program error)\n";
  if (status == kKeyOutOfMemory) reason = "(not enough memory to treat the string)\n";
  if (status == 5) reason = "(detected error in flag character)\n";
  fprintf(a.log, "Warning: could not compute InChIKey for the line #%" PRId64 " %s", number,
          reason);
}

}  // namespace

int library_key(const char* inchi, char* key) {
  // This release can also produce hash extensions; we ask for none, but it
  // still wants somewhere to write them.
  char extra1[65];
  char extra2[65];
  return GetINCHIKeyFromINCHI(inchi, 0, 0, key, extra1, extra2);
}

bool annotate_line(Annotator& a, char* line, uint32_t length, int64_t number, FILE* out) {
  const LineFormat& f = a.format;
  bool header = f.header && number == 1;
  int status = 0;
  bool asked = ask_key(a, line, length, number, header, status);
  if (asked && status == kKeyOutOfMemory && a.out_of_memory_stops) {
    a.out_of_memory = true;
    return false;
  }
  if (!f.no_copy) {
    fwrite_unlocked(line, 1, length, out);
    putc_unlocked(f.field == 0 ? '\n' : '\t', out);
  }
  bool keyed = asked && status == 0;
  if (f.field == 0) {
    if (keyed) {
      fputs_unlocked("InChIKey=", out);
      fputs_unlocked(a.key, out);
      putc_unlocked('\n', out);
    }
  } else {
    // One output line per input line, so that rows stay joinable.
    if (header) fputs_unlocked("InChIKey", out);
    if (keyed) fputs_unlocked(a.key, out);
    putc_unlocked('\n', out);
  }
  if (asked) count(a, status, number);
  return true;
}
