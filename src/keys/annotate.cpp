// What a line becomes: the line, then its InChIKey line; or, for tables, the
// row with the key of one field appended as a column.
#include "keys/annotate.h"

#include <inchi_api.h>

#include <cinttypes>
#include <cstdlib>
#include <cstring>

#include "io/progress.h"
#include "keys/check.h"
#include "text/record_scanner.h"

void add_counts(Counts& to, const Counts& from) {
  to.added += from.added;
  to.failed += from.failed;
  to.agree += from.agree;
  to.differ += from.differ;
  to.missing += from.missing;
}

int library_key(const char* inchi, char* key) {
  // This release can also produce hash extensions; we ask for none, but it
  // still wants somewhere to write them.
  char extra1[65];
  char extra2[65];
  return GetINCHIKeyFromINCHI(inchi, 0, 0, key, extra1, extra2);
}

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

bool field_text(const LineFormat& f, char* line, uint32_t length, uint32_t field, std::string& text,
                char*& begin, char*& end) {
  if (f.delimiter == '\t') return find_field(line, length, field, begin, end);
  const char *raw_begin, *raw_end;
  if (!find_csv_field(line, length, field, f.delimiter, raw_begin, raw_end)) return false;
  csv_field_text(raw_begin, raw_end, text);
  begin = text.data();
  end = begin + text.size();
  return true;
}

namespace {

// Texts longer than this are keyed only once their copies fit in memory.
constexpr size_t kLongText = size_t{1} << 20;

// The library copies a text about twice and does not survive a copy it has
// no memory for: true when that much can be had now.
bool room_for_copies(size_t length) {
  // volatile: an allocation freed unused may otherwise be optimised away.
  void* volatile room = std::malloc(2 * length);
  bool held = room != nullptr;
  std::free(room);
  return held;
}

}  // namespace

int key_status(Annotator& a, char* begin, char* end) {
  auto length = static_cast<size_t>(end - begin);
  if (length > kLongText && !room_for_copies(length)) return kKeyOutOfMemory;
  char saved = *end;
  *end = '\0';
  int status = a.compute(begin, a.key);
  *end = saved;
  return status;
}

void log_failure(const Annotator& a, int status, int64_t number) {
  if (status == 2 || status == 3) return;
  const char* reason = "(unresolved program error)\n";
  if (status == kKeyOutOfMemory) reason = "(not enough memory to treat the string)\n";
  if (status == 5) reason = "(detected error in flag character)\n";
  if (a.progress != nullptr) clear_progress(*a.progress, a.log);
  fprintf(a.log, "Warning: could not compute InChIKey for the line #%" PRId64 " %s", number,
          reason);
}

bool annotate_line(Annotator& a, char* line, uint32_t length, int64_t number, FILE* out) {
  const LineFormat& f = a.format;
  if (f.check) return check_line(a, line, length, number, out);
  bool header = f.header && number == 1;
  uint32_t text_length = length;
  char* begin = text_of(line, text_length, number);
  char* end = begin + text_length;
  bool found = f.field == 0 ||
               (!header && field_text(f, begin, text_length, f.field, a.field_text, begin, end));
  // Safe before the field is ended: a TAB or the line's NUL stops the test.
  bool asked = found && is_candidate(begin);
  int status = asked ? key_status(a, begin, end) : 0;
  if (asked && status == kKeyOutOfMemory && a.out_of_memory_stops) {
    a.out_of_memory = true;
    return false;
  }
  if (!f.no_copy) {
    fwrite_unlocked(line, 1, length, out);
    putc_unlocked(f.field == 0 ? '\n' : f.delimiter, out);
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
  if (keyed) ++a.counts.added;
  if (asked && !keyed) {
    ++a.counts.failed;
    log_failure(a, status, number);
  }
  return true;
}

void end_lines(Annotator& a, int64_t lines, bool complete, FILE* out) {
  if (!a.format.check) return;
  if (lines == 0) write_report_header(out);
  if (a.pending.held && complete) settle_pending(a, "", 0, out);
}
