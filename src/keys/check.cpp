// Check mode: the verdicts and the report.
#include "keys/check.h"

#include <cinttypes>
#include <cstring>

namespace {

constexpr char kKeyPrefix[] = "InChIKey=";
constexpr size_t kKeyPrefixBytes = sizeof kKeyPrefix - 1;

bool begins_with_key_prefix(const char* text, size_t n) {
  return n >= kKeyPrefixBytes && std::memcmp(text, kKeyPrefix, kKeyPrefixBytes) == 0;
}

// The escape of a byte in a field of the report, or null for the byte itself.
const char* escape_of(char c) {
  switch (c) {
    case '\t':
      return "\\t";
    case '\n':
      return "\\n";
    case '\r':
      return "\\r";
    case '\0':
      return "\\0";
    case '\\':
      return "\\\\";
    default:
      return nullptr;
  }
}

// Writes n bytes of a field of the report with TAB, LF, CR, NUL and the
// backslash escaped (\t, \n, \r, \0, \\), so that every report line holds
// five fields, whatever a stored key or an InChI holds; the bytes between
// them go out in runs.
void write_field(FILE* out, const char* bytes, size_t n) {
  const char* run = bytes;
  const char* end = bytes + n;
  for (const char* p = bytes; p < end; ++p) {
    const char* escape = escape_of(*p);
    if (escape == nullptr) continue;
    fwrite_unlocked(run, 1, static_cast<size_t>(p - run), out);
    fputs_unlocked(escape, out);
    run = p + 1;
  }
  fwrite_unlocked(run, 1, static_cast<size_t>(end - run), out);
}

// Counts a verdict; writes the report line of one that does not agree.
void report(Annotator& a, FILE* out, int64_t number, Verdict v, const char* stored, size_t n,
            const char* key, const char* inchi, size_t inchi_bytes) {
  Counts& c = a.counts;
  switch (v) {
    case Verdict::kAgree:
      ++c.agree;
      return;
    case Verdict::kDiffers:
      ++c.differ;
      break;
    case Verdict::kMissing:
      ++c.missing;
      break;
    case Verdict::kFailed:
      ++c.failed;
      break;
  }
  fprintf(out, "%" PRId64 "\t%s\t", number, verdict_word(v));
  write_field(out, stored, n);
  putc_unlocked('\t', out);
  fputs_unlocked(key, out);
  putc_unlocked('\t', out);
  write_field(out, inchi, inchi_bytes);
  putc_unlocked('\n', out);
}

}  // namespace

const char* verdict_word(Verdict v) {
  switch (v) {
    case Verdict::kAgree:
      return "agree";
    case Verdict::kDiffers:
      return "differs";
    case Verdict::kMissing:
      return "missing";
    case Verdict::kFailed:
      break;
  }
  return "failed";
}

const char* stored_key(const char* field, size_t& n) {
  if (begins_with_key_prefix(field, n)) {
    n -= kKeyPrefixBytes;
    return field + kKeyPrefixBytes;
  }
  return field;
}

Verdict judge(bool keyed, const char* key, const char* stored, size_t n) {
  if (!keyed) return Verdict::kFailed;
  if (n == 0) return Verdict::kMissing;
  return std::strlen(key) == n && std::memcmp(key, stored, n) == 0 ? Verdict::kAgree
                                                                   : Verdict::kDiffers;
}

void write_report_header(FILE* out) {
  fputs_unlocked("line\tverdict\tstored_key\tcomputed_key\tinchi\n", out);
}

void settle_pending(Annotator& a, const char* stored, size_t n, FILE* out) {
  PendingCandidate& p = a.pending;
  p.held = false;
  report(a, out, p.number, judge(p.keyed, p.key.c_str(), stored, n), stored, n, p.key.c_str(),
         p.inchi.data(), p.inchi.size());
}

bool check_line(Annotator& a, char* line, uint32_t length, int64_t number, FILE* out) {
  const LineFormat& f = a.format;
  uint32_t text_length = length;
  char* text = text_of(line, text_length, number);
  bool key_line = f.field == 0 && begins_with_key_prefix(text, text_length);
  char* begin = text;
  char* end = text + text_length;
  bool asked = f.field == 0
                   ? !key_line && is_candidate(text)
                   : !(f.header && number == 1) &&
                         field_text(f, text, text_length, f.field, a.field_text, begin, end) &&
                         is_candidate(begin);
  int status = asked ? key_status(a, begin, end) : 0;
  if (asked && status == kKeyOutOfMemory && a.out_of_memory_stops) {
    a.out_of_memory = true;
    return false;
  }
  if (number == 1) write_report_header(out);
  if (a.pending.held) {
    size_t n = key_line ? text_length - kKeyPrefixBytes : 0;
    settle_pending(a, key_line ? text + kKeyPrefixBytes : "", n, out);
  }
  if (!asked) return true;
  bool keyed = status == 0;
  if (keyed) ++a.counts.added;
  if (!keyed) log_failure(a, status, number);
  // What the library was given: the text up to its first NUL.
  size_t inchi_bytes = strnlen(begin, static_cast<size_t>(end - begin));
  if (f.field == 0) {
    PendingCandidate& p = a.pending;
    p.held = true;
    p.number = number;
    p.keyed = keyed;
    p.key.assign(keyed ? a.key : "");
    p.inchi.assign(begin, inchi_bytes);
    return true;
  }
  uint32_t stored_field = f.key_field != 0 ? f.key_field : f.field + 1;
  char *field_begin, *field_end;
  size_t n = 0;
  const char* stored = "";
  if (field_text(f, text, text_length, stored_field, a.stored_text, field_begin, field_end)) {
    n = static_cast<size_t>(field_end - field_begin);
    stored = stored_key(field_begin, n);
  }
  report(a, out, number, judge(keyed, a.key, stored, n), stored, n, keyed ? a.key : "", begin,
         inchi_bytes);
  return true;
}

const char* key_line_key(const char* line, size_t& n) {
  if (!begins_with_key_prefix(line, n)) return nullptr;
  n -= kKeyPrefixBytes;
  return line + kKeyPrefixBytes;
}
