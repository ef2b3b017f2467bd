// What a line becomes: the one definition, for every mode, thread and path.
#ifndef MOLSTAMP_ANNOTATE_H
#define MOLSTAMP_ANNOTATE_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "text/line_end.h"

// Computes the key of a NUL-terminated InChI into key (at least 256 bytes);
// returns the library's status, 0 on success.
using KeyFunction = int (*)(const char* inchi, char* key);

// The libinchi key call, asking for the key alone.
int library_key(const char* inchi, char* key);

// The library's status for a key it could not compute for want of memory.
constexpr int kKeyOutOfMemory = 4;

// How lines are read and written: the same for every thread of a run.
struct LineFormat {
  bool no_copy = false;    // leave the input lines out
  uint32_t field = 0;      // tables: the InChI's field, from 1; 0: the whole line
  bool header = false;     // tables: line 1 is a header, never a candidate
  bool check = false;      // report the candidates whose stored key is not theirs
  uint32_t key_field = 0;  // tables, check: the stored key's field; 0: field + 1
  char delimiter = '\t';   // tables: between fields; any other than TAB makes them CSV
};

struct Progress;

// What an annotator counted.
struct Counts {
  int64_t added = 0;    // keys the library gave
  int64_t failed = 0;   // candidates it gave none
  int64_t agree = 0;    // check: the stored key is the computed one
  int64_t differ = 0;   // check: it is not
  int64_t missing = 0;  // check: a key, but none stored
};

// Adds from's counts to to's.
void add_counts(Counts& to, const Counts& from);

// Check mode on line files: a candidate line whose stored key, if any, is on
// the line after it.
struct PendingCandidate {
  bool held = false;
  int64_t number = 0;
  bool keyed = false;  // the library gave key
  std::string key;
  std::string inchi;
};

// What lines become, for one thread: the format and the key call, the key
// buffer, the log for warnings, the counts, and in check mode the candidate
// that waits for its next line.
struct Annotator {
  LineFormat format;
  KeyFunction compute = library_key;
  FILE* log = nullptr;
  Progress* progress = nullptr;  // the serial road's, cleared before a warning; null in workers
  // Parallel runs: a key call out of memory ends the run (the serial run,
  // with the address space to itself, would not have run out) instead of
  // giving a warning the serial run would not give.
  bool out_of_memory_stops = false;
  bool out_of_memory = false;  // set when a key call ran out of memory and that stops the run
  Counts counts;
  PendingCandidate pending;
  std::string field_text, stored_text;  // CSV fields without their quotes
  char key[256] = {};
};

// Writes what line number `number` (length bytes, NULs included, with a NUL
// at line[length]) becomes to out. Whole lines: the line and LF unless
// no_copy, then "InChIKey=<key>" and LF if the line starts with "InC" and the
// library gives its key. Tables: the line and a TAB unless no_copy, then the
// key of the field (or nothing: no field, no candidate, a failed key) and
// LF; a header gets "InChIKey". Check mode: the report lines of check.h
// instead. A byte order mark before line 1 is copied but not read. A failed
// key is counted and, unless the status is 2 or 3, logged with the line's
// number. line is restored before the return. False, with nothing written,
// when a key call ran out of memory and that stops the run.
bool annotate_line(Annotator& a, char* line, uint32_t length, int64_t number, FILE* out);

// Ends the lines, `lines` of them: in check mode, a candidate still waiting
// for its next line has none when the input was read to its end (complete),
// and gets no verdict when a read error may have taken it; the report of an
// empty input is its header alone.
void end_lines(Annotator& a, int64_t lines, bool complete, FILE* out);

// Deliberately weak: text is a candidate when it begins with "InC"; the
// library does the real validation.
inline bool is_candidate(const char* text) {
  return text[0] == 'I' && text[1] == 'n' && text[2] == 'C';
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
bool find_field(char* line, uint32_t length, uint32_t field, char*& begin, char*& end);

// The text of field `field` of a table's line as [begin, end), NUL-terminable
// in place: a TAB-separated field where it stands, a CSV field without its
// quotes in text. False when the line has fewer fields.
bool field_text(const LineFormat& f, char* line, uint32_t length, uint32_t field, std::string& text,
                char*& begin, char*& end);

// The library's status for the text [begin, end), which it reads ended by a
// NUL put in place and then taken away; the key, on success, in a.key.
int key_status(Annotator& a, char* begin, char* end);

// Warns on a.log of a key call that failed, naming the line, but for empty
// input and a wrong prefix (statuses 2 and 3), which are expected on loosely
// filtered files; a progress print on the log's terminal is cleared first.
void log_failure(const Annotator& a, int status, int64_t number);

#endif
