// Check mode: the verdicts and the report.
#include "keys/check.h"

#include <cinttypes>
#include <cstring>
#include <string>
#include <string_view>

#include "keys/structure.h"

namespace {

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
// its five fields (six with the difference), whatever a stored key or an InChI holds; the bytes
// between them go out in runs.
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

// Writes the report's header line, with the difference column when asked.
void write_report_header(const LineFormat& f, FILE* out) {
  fputs_unlocked(f.difference ? "line\tverdict\tdifference\tstored_key\tcomputed_key\tinchi\n"
                              : "line\tverdict\tstored_key\tcomputed_key\tinchi\n",
                 out);
}

// Writes the difference field of a reported verdict: the parts of the key
// that differ (or "malformed"), a failure's word, nothing for a missing key.
void write_difference(FILE* out, Verdict v, const char* stored, size_t n, const char* key,
                      const char* failure) {
  if (v == Verdict::kDiffers) {
    std::string parts = key_difference(std::string_view(stored, n), key);
    write_field(out, parts.data(), parts.size());
  } else if (v == Verdict::kFailed) {
    write_field(out, failure, std::strlen(failure));
  }
}

// The difference of a candidate with no key: "invalid" when validation
// refused it, else why the key call failed.
const char* failure_word(int status, const KeyNote& note) {
  return status == kKeyNotValid ? "invalid" : failure_reason(status, note);
}

// Counts a verdict; writes the report line of one that does not agree
// (failure: what a failed one's difference says).
void report(Annotator& a, FILE* out, int64_t number, Verdict v, const char* stored, size_t n,
            const char* key, const char* inchi, size_t inchi_bytes, const char* failure) {
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
    case Verdict::kNone:  // judge never gives it: a candidate has a verdict
      return;
  }
  fprintf(out, "%" PRId64 "\t%s\t", number, verdict_word(v));
  if (a.format.difference) {
    write_difference(out, v, stored, n, key, failure);
    putc_unlocked('\t', out);
  }
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
      return "failed";
    case Verdict::kNone:
      break;
  }
  return "";
}

Verdict judge(bool keyed, const char* key, const char* stored, size_t n) {
  if (!keyed) return Verdict::kFailed;
  if (n == 0) return Verdict::kMissing;
  return std::strlen(key) == n && std::memcmp(key, stored, n) == 0 ? Verdict::kAgree
                                                                   : Verdict::kDiffers;
}

void settle_pending(Annotator& a, const char* stored, size_t n, FILE* out) {
  PendingCandidate& p = a.pending;
  p.held = false;
  report(a, out, p.number, judge(p.keyed, p.key.c_str(), stored, n), stored, n, p.key.c_str(),
         p.inchi.data(), p.inchi.size(), p.failure.c_str());
}

bool check_line(Annotator& a, char* line, uint32_t length, int64_t number, FILE* out) {
  const LineFormat& f = a.format;
  Candidate c;
  if (!key_candidate(a, line, length, number, c)) return false;
  if (number == 1) write_report_header(f, out);
  if (a.pending.held) {
    bool key_line = c.line_key != nullptr;
    settle_pending(a, key_line ? c.line_key : "", c.line_key_bytes, out);
  }
  if (!c.asked) return true;
  bool keyed = c.status == 0;
  if (keyed) ++a.counts.added;
  if (!keyed) log_failure(a, c.status, number);
  const char* failure = keyed ? "" : failure_word(c.status, a.note);
  // What the library was given: the text up to its first NUL.
  size_t inchi_bytes = strnlen(c.begin, static_cast<size_t>(c.end - c.begin));
  if (f.field == 0) {
    PendingCandidate& p = a.pending;
    p.held = true;
    p.number = number;
    p.keyed = keyed;
    p.key.assign(keyed ? a.key : "");
    p.inchi.assign(c.begin, inchi_bytes);
    if (!keyed) p.failure.assign(failure);
    return true;
  }
  uint32_t stored_field = f.key_field != 0 ? f.key_field : f.field + 1;
  char *field_begin, *field_end;
  size_t n = 0;
  const char* stored = "";
  if (field_text(f, c.text, c.text_length, stored_field, a.stored_text, field_begin, field_end)) {
    stored = field_begin;
    n = static_cast<size_t>(field_end - field_begin);
    strip_key_prefix(stored, n);
  }
  report(a, out, number, judge(keyed, a.key, stored, n), stored, n, keyed ? a.key : "", c.begin,
         inchi_bytes, failure);
  return true;
}

void end_check(Annotator& a, int64_t lines, bool complete, FILE* out) {
  if (lines == 0) write_report_header(a.format, out);
  if (a.pending.held && complete) settle_pending(a, "", 0, out);
}

std::string check_difference(Verdict v, int status, const KeyNote& note, const char* key,
                             const char* stored, size_t n) {
  if (v == Verdict::kDiffers) return key_difference(std::string_view(stored, n), key);
  if (v == Verdict::kFailed) return failure_word(status, note);
  return "";
}
