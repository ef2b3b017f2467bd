// What a line becomes: the one definition, for every mode, thread and path.
#ifndef MOLSTAMP_ANNOTATE_H
#define MOLSTAMP_ANNOTATE_H

#include <cstdint>
#include <cstdio>

// Computes the key of a NUL-terminated InChI into key (at least 256 bytes);
// returns the library's status, 0 on success.
using KeyFunction = int (*)(const char* inchi, char* key);

// The libinchi key call, asking for the key alone.
int library_key(const char* inchi, char* key);

// The library's status for a key it could not compute for want of memory.
constexpr int kKeyOutOfMemory = 4;

// How lines are read and written: the same for every thread of a run.
struct LineFormat {
  bool no_copy = false;  // leave the input lines out
  uint32_t field = 0;    // tables: the InChI's field, from 1; 0: the whole line
  bool header = false;   // tables: line 1 is a header, never a candidate
};

// What lines become, for one thread: the format and the key call, the key
// buffer, the log for warnings and the counts.
struct Annotator {
  LineFormat format;
  KeyFunction compute = library_key;
  FILE* log = nullptr;
  // Parallel runs: a key call out of memory ends the run (the serial run,
  // with the address space to itself, would not have run out) instead of
  // giving a warning the serial run would not give.
  bool out_of_memory_stops = false;
  bool out_of_memory = false;  // set when a key call ran out of memory and that stops the run
  int64_t added = 0;
  int64_t failed = 0;
  char key[256] = {};
};

// Writes what line number `number` (length bytes, NULs included, with a NUL
// at line[length]) becomes to out. Whole lines: the line and LF unless
// no_copy, then "InChIKey=<key>" and LF if the line starts with "InC" and the
// library gives its key. Tables: the line and a TAB unless no_copy, then the
// key of the field (or nothing: no field, no candidate, a failed key) and
// LF; a header gets "InChIKey". A byte order mark before line 1 is copied but
// not read. A failed key is counted and, unless the status is 2 or 3, logged
// with the line's number. line is restored before the return. False, with
// nothing written, when a key call ran out of memory and that stops the run.
bool annotate_line(Annotator& a, char* line, uint32_t length, int64_t number, FILE* out);

#endif
