// What annotation and check share, below both: the line format, the counts,
// one thread's annotator, and the one place where a line's candidate is found
// and the library asked for its key.
#ifndef MOLSTAMP_ANNOTATOR_H
#define MOLSTAMP_ANNOTATOR_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "keys/key_rules.h"

// The key buffer a key call writes into: the key, with room to spare.
constexpr size_t kKeyBufferBytes = 256;

// Texts from this length on are keyed only when kKeyRoomFactor times their
// length can be allocated; else the key call's status is kKeyOutOfMemory.
constexpr size_t kKeyRoomCheckBytes = size_t{1} << 20;
constexpr size_t kKeyRoomFactor = 7;

// Computes the key of a NUL-terminated InChI into key (kKeyBufferBytes);
// returns the library's status, 0 on success.
using KeyFunction = int (*)(const char* inchi, char* key);

// The libinchi key call, asking for the key alone.
int library_key(const char* inchi, char* key);

// The library's statuses that this tool tells apart (any other is an
// unresolved program error).
constexpr int kKeyEmptyInput = 2;   // the text is empty
constexpr int kKeyWrongPrefix = 3;  // the text does not begin as an InChI does
constexpr int kKeyOutOfMemory = 4;  // not enough memory to treat the text
constexpr int kKeyFlagError = 5;    // an error in a flag character

// How lines are read and written: the same for every thread of a run.
struct LineFormat {
  bool no_copy = false;     // leave the input lines out
  uint32_t field = 0;       // tables: the InChI's field, from 1; 0: the whole line
  bool header = false;      // tables: line 1 is a header, never a candidate
  bool check = false;       // report the candidates whose stored key is not theirs
  uint32_t key_field = 0;   // tables, check: the stored key's field; 0: field + 1
  char delimiter = '\t';    // tables: between fields; any other than TAB makes them CSV
  KeyRules rules;           // -s and --validate: the rules candidates are keyed under
  bool difference = false;  // check: the report says what part of a key differs
};

struct Progress;

// What an annotator counted.
struct Counts {
  int64_t added = 0;    // keys the library gave
  int64_t failed = 0;   // candidates it gave none
  int64_t agree = 0;    // check: the stored key is the computed one
  int64_t differ = 0;   // check: it is not
  int64_t missing = 0;  // check: a key, but none stored
  int64_t derived = 0;  // -s: standard keys derived from non-standard InChIs
};

// Adds from's counts to to's.
void add_counts(Counts& to, const Counts& from);

// Check mode on line files: a candidate line whose stored key, if any, is on
// the line after it.
struct PendingCandidate {
  bool held = false;    // a candidate waits
  int64_t number = 0;   // its line's number
  bool keyed = false;   // the library gave key
  std::string key;      // its key, or empty
  std::string inchi;    // what the library was given
  std::string failure;  // when not keyed: the report's difference ("invalid", or the reason)
};

// What lines become, for one thread: the format and the key call, the key
// buffer, the log for warnings, the counts, and in check mode the candidate
// that waits for its next line.
struct Annotator {
  LineFormat format;                  // the run's
  KeyFunction compute = library_key;  // the key call
  FILE* log = nullptr;                // where warnings go
  Progress* progress = nullptr;  // the serial road's, cleared before a warning; null in workers
  // Parallel runs' annotators (parallel_annotator): a key call out of memory
  // ends the run (the serial run, with the address space to itself, would
  // not have run out) instead of giving a warning the serial run would not
  // give.
  bool out_of_memory_stops = false;
  bool out_of_memory = false;  // set when a key call ran out of memory and that stops the run
  StructureService* service = nullptr;  // this thread's worker process for structure calls, or
                                        // null: they run in this process, serialized
  KeyNote note;                         // what the last key call said beside its status
  bool worker_lost = false;             // a worker process ended under a key call: the run stops
  Counts counts;                        // what this annotator counted
  PendingCandidate pending;             // check mode on line files: the waiting candidate
  std::string field_text, stored_text;  // CSV fields without their quotes
  char key[kKeyBufferBytes] = {};       // the key call's buffer
};

// An annotator for one thread of a parallel run: run's format and key call,
// buffers and counts of its own, no log or progress yet; a key call out of
// memory stops the run.
Annotator parallel_annotator(const Annotator& run);

// Deliberately weak: text is a candidate when it begins with "InC"; the
// library does the real validation.
inline bool is_candidate(const char* text) {
  return text[0] == 'I' && text[1] == 'n' && text[2] == 'C';
}

// The one stripper of the "InChIKey=" prefix that key lines and stored keys
// may carry: moves text past it and n (text's bytes) down with it; false,
// with both left, when the n bytes do not begin with it.
bool strip_key_prefix(const char*& text, size_t& n);

// A line as key_candidate found it.
struct Candidate {
  char* text;             // the line's text: after a byte order mark on line 1
  uint32_t text_length;   // its bytes
  char* begin;            // the InChI's text: the whole text, or its field's (CSV: unquoted)
  char* end;              // where that text ends
  const char* line_key;   // check mode on line files: the key a key line holds, else null
  size_t line_key_bytes;  // its bytes, 0 without one
  bool asked;             // a candidate: the library was asked for its key
  int status;             // the key call's status when asked (0: the key is in a.key), else 0
};

// Finds the candidate of line number `number` (length bytes, with a NUL at
// line[length]) by a's format: the whole text, or its field (never a header's);
// in check mode on line files a key line is none. Asks for its key when the
// text begins with "InC": under a's rules through rule_key (a.note says what
// it said, a derived key is counted), else with a.compute. False, the line
// then left unwritten, when the run must stop there: with a.worker_lost set
// when the thread's worker process ended under the call, with
// a.out_of_memory set when the call ran out of memory and
// a.out_of_memory_stops. line is restored before the return.
bool key_candidate(Annotator& a, char* line, uint32_t length, int64_t number, Candidate& c);

// For the keys wing only: the text of field `field` of a table's line as
// [begin, end), NUL-terminable in place: a TAB-separated field where it
// stands, a CSV field without its quotes in text. False when the line has
// fewer fields.
bool field_text(const LineFormat& f, char* line, uint32_t length, uint32_t field, std::string& text,
                char*& begin, char*& end);

// The column (from 1) of a header line (length bytes, line 1: after a byte
// order mark) whose field text, by f's delimiter, is name; 0 when none is.
uint32_t header_column(const LineFormat& f, char* line, uint32_t length, const char* name);

// Why a key call gave no key, in the words of its warning: the note's reason
// for the statuses of key_rules.h, the library's for its own ("unresolved
// program error" for any it does not name). Valid while note is unchanged.
const char* failure_reason(int status, const KeyNote& note);

// Warns on a.log of a key call that failed, naming the line, but for empty
// input and a wrong prefix, which are expected on loosely filtered files: "not
// a valid InChI (<reason>) in the line #N" for a candidate validation refused,
// else "could not compute InChIKey for the line #N (<reason>)"; a progress
// print on the log's terminal is cleared first.
void log_failure(const Annotator& a, int status, int64_t number);

#endif
