// The annotator's shared part: where a line's candidate is, the key call, and
// what becomes of a key call that fails.
#include "keys/annotator.h"

#include <inchi_api.h>

#include <cinttypes>
#include <cstdlib>
#include <cstring>

#include "io/progress.h"
#include "text/line_end.h"
#include "text/record_scanner.h"

static_assert(kKeyEmptyInput == INCHIKEY_EMPTY_INPUT, "the library's status for empty input");
static_assert(kKeyWrongPrefix == INCHIKEY_INVALID_INCHI_PREFIX,
              "the library's status for a prefix");
static_assert(kKeyOutOfMemory == INCHIKEY_NOT_ENOUGH_MEMORY, "the library's status for memory");

namespace {

constexpr char kKeyPrefix[] = "InChIKey=";
constexpr size_t kKeyPrefixBytes = sizeof kKeyPrefix - 1;

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

// True when a key is asked under a rule (-s, --validate) rather than by the
// plain key call.
inline bool rules_in_force(const KeyRules& r) {
  return r.standard || r.validate != Validation::kNone;
}

// The status of a NUL-terminated text keyed under a's rules, the key in
// a.key and what the call said in a.note; a derived standard key counted.
// Out of line: the plain key call's path stays as short as it was.
[[gnu::noinline]] int rule_status(Annotator& a, const char* text) {
  int status = rule_key(a.format.rules, a.service, text, a.key, a.note);
  if (status == 0 && a.note.derived) ++a.counts.derived;
  return status;
}

// The library's status for the text [begin, end), which it reads ended by a
// NUL put in place and then taken away; the key, on success, in a.key. Under
// a rule the key is rule_key's, else a.compute's (tests inject theirs there).
int key_status(Annotator& a, char* begin, char* end) {
  auto length = static_cast<size_t>(end - begin);
  if (length > kLongText && !room_for_copies(length)) return kKeyOutOfMemory;
  char saved = *end;
  *end = '\0';
  int status = rules_in_force(a.format.rules) ? rule_status(a, begin) : a.compute(begin, a.key);
  *end = saved;
  return status;
}

// True when a failed key call ends the run: its worker process was lost, or
// it ran out of memory where that stops the run; the annotator's flag is set.
[[gnu::noinline]] bool stops_the_run(Annotator& a, int status) {
  if (status == kKeyWorkerLost) {
    a.worker_lost = true;
    return true;
  }
  if (status == kKeyOutOfMemory && a.out_of_memory_stops) {
    a.out_of_memory = true;
    return true;
  }
  return false;
}

// The text of line number `number`: after a UTF-8 byte order mark on line 1
// (Windows editors and spreadsheets write one), else all of it. Inline: it
// is asked of every line.
inline char* text_of(char* line, uint32_t& length, int64_t number) {
  size_t mark = number == 1 ? bom_length(line, length) : 0;
  length -= static_cast<uint32_t>(mark);
  return line + mark;
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

void add_counts(Counts& to, const Counts& from) {
  to.added += from.added;
  to.failed += from.failed;
  to.agree += from.agree;
  to.differ += from.differ;
  to.missing += from.missing;
  to.derived += from.derived;
}

int library_key(const char* inchi, char* key) {
  // The key call holds about six copies of a long text at once, and one of
  // its allocations goes unchecked: where the room runs out at that one, it
  // writes through a null pointer. Asking for the room first makes that its
  // own out-of-memory status. Short texts need no asking.
  size_t bytes = std::strlen(inchi);
  if (bytes >= kKeyRoomCheckBytes) {
    void* volatile room = std::malloc(kKeyRoomFactor * bytes);  // volatile: kept by the optimiser
    if (room == nullptr) return kKeyOutOfMemory;
    std::free(room);
  }
  // This release can also produce hash extensions; we ask for none, but it
  // still wants somewhere to write them.
  char extra1[65];
  char extra2[65];
  return GetINCHIKeyFromINCHI(inchi, 0, 0, key, extra1, extra2);
}

Annotator parallel_annotator(const Annotator& run) {
  Annotator a;
  a.format = run.format;
  a.compute = run.compute;
  a.out_of_memory_stops = true;
  return a;
}

bool strip_key_prefix(const char*& text, size_t& n) {
  if (n < kKeyPrefixBytes || std::memcmp(text, kKeyPrefix, kKeyPrefixBytes) != 0) return false;
  text += kKeyPrefixBytes;
  n -= kKeyPrefixBytes;
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

bool key_candidate(Annotator& a, char* line, uint32_t length, int64_t number, Candidate& c) {
  const LineFormat& f = a.format;
  c.text_length = length;
  c.text = text_of(line, c.text_length, number);
  c.begin = c.text;
  c.end = c.text + c.text_length;
  c.line_key = nullptr;
  c.line_key_bytes = 0;
  bool found = true;
  if (f.field != 0) {
    found = !(f.header && number == 1) &&
            field_text(f, c.text, c.text_length, f.field, a.field_text, c.begin, c.end);
  } else if (f.check) {
    // A key line holds the stored key of the candidate before it.
    const char* key = c.text;
    size_t n = c.text_length;
    if (strip_key_prefix(key, n)) {
      c.line_key = key;
      c.line_key_bytes = n;
      found = false;
    }
  }
  // Safe before the field is ended: a TAB or the line's NUL stops the test.
  c.asked = found && is_candidate(c.begin);
  c.status = c.asked ? key_status(a, c.begin, c.end) : 0;
  // One test on the way of a key given (or never asked for).
  return c.status == 0 || !stops_the_run(a, c.status);
}

const char* failure_reason(int status, const KeyNote& note) {
  switch (status) {
    case kKeyNotValid:
    case kKeyNotDerived:
    case kKeyWorkerLost:
      return note.reason.c_str();
    case kKeyEmptyInput:
      return "empty input";
    case kKeyWrongPrefix:
      return "invalid prefix";
    case kKeyOutOfMemory:
      return "not enough memory to treat the string";
    case kKeyFlagError:
      return "detected error in flag character";
    default:
      return "unresolved program error";
  }
}

void log_failure(const Annotator& a, int status, int64_t number) {
  if (status == kKeyEmptyInput || status == kKeyWrongPrefix) return;
  const char* reason = failure_reason(status, a.note);
  if (a.progress != nullptr) clear_progress(*a.progress, a.log);
  if (status == kKeyNotValid) {
    fprintf(a.log, "Warning: not a valid InChI (%s) in the line #%" PRId64 "\n", reason, number);
  } else {
    fprintf(a.log, "Warning: could not compute InChIKey for the line #%" PRId64 " (%s)\n", number,
            reason);
  }
}

uint32_t header_column(const LineFormat& f, char* line, uint32_t length, const char* name) {
  char* text = text_of(line, length, 1);
  std::string unquoted;
  size_t n = std::strlen(name);
  char *begin, *end;
  for (uint32_t column = 1; field_text(f, text, length, column, unquoted, begin, end); ++column) {
    if (static_cast<size_t>(end - begin) == n && std::memcmp(begin, name, n) == 0) return column;
    if (column == UINT32_MAX) break;
  }
  return 0;
}
