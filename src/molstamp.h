// Shared run state, line buffer and the functions of the annotation tool.
#ifndef MOLSTAMP_H
#define MOLSTAMP_H

#include <cstdint>
#include <cstdio>
#include <ctime>

#include "options.h"
#include "streams.h"

// The longest line the tool holds, in bytes.
constexpr uint32_t kMaxLineBytes = 2147483647u;

// Progress is shown after every this many lines.
constexpr int64_t kProgressEvery = 5000;

// Reader failure codes held in LineBuffer::error.
enum ReadError : int {
  kReadOk = 0,       // no failure: a null line means the end of the input
  kReadTooLong = 1,  // the line could not be held (memory or length limit)
  kReadFailed = 2,   // the input stream reported a read error
};

// The one growable line buffer of a run; owned by the run, filled by the reader.
struct LineBuffer {
  char* data = nullptr;   // heap block, null until the first read
  uint32_t capacity = 0;  // size of data; 4096 times a power of two
  uint32_t length = 0;    // bytes of the current line, NULs included
  int error = kReadOk;    // one of ReadError after each read
};

// Everything a run holds from start to end.
struct RunState {
  Options options;
  FILE* console = stdout;  // progress, summary, errors: stderr when stdout is the output
  Stream in;
  Stream out;
  FILE* log = nullptr;
  LineBuffer line;
  char key[256] = {};
  int64_t lines_read = 0;
  int64_t keys_added = 0;
  int64_t keys_failed = 0;
  int64_t progress = 0;        // lines since the last progress print
  bool output_broken = false;  // annotated lines could not be held or compressed
  std::time_t start = 0;
};

// Computes the key of a NUL-terminated InChI into key (at least 256 bytes);
// returns the library's status, 0 on success.
using KeyFunction = int (*)(const char* inchi, char* key);

// Reads the next line of in into buffer (growing it by doubling as needed),
// terminated by a NUL, with its byte count in length; LF, CR LF and a lone CR
// each end a line. Returns buffer, or null at the end of the input (error 0),
// when the line cannot be held (error kReadTooLong) or on a read error
// (error kReadFailed).
char* read_text_line(FILE* in, char*& buffer, uint32_t& capacity, int& error, uint32_t& length);

// The libinchi key call, asking for the key alone.
int library_key(const char* inchi, char* key);

// If line starts with "InC", computes its key: on success writes the key line
// to out and counts it in keys_added; otherwise counts keys_failed and, unless
// the status is 2 or 3, writes a warning naming line_number to log.
void annotate_line(const char* line, int64_t line_number, FILE* out, FILE* log, char* key,
                   int64_t& keys_added, int64_t& keys_failed, KeyFunction compute = library_key);

// How each line is written out.
struct LineFormat {
  bool no_copy = false;  // leave the input lines out
  uint32_t field = 0;    // tables: the InChI's field, from 1; 0: the whole line
};

// Writes what line (length bytes, NULs included, with a NUL at line[length])
// becomes to out. Whole lines: the line and LF unless no_copy, then the key
// line as annotate_line does. Tables: the line and a TAB unless no_copy, then
// the key of the field (or nothing: no field, no candidate, a failed key) and
// LF; a header gets "InChIKey". Failures are counted and logged as by
// annotate_line. line is restored before the return.
void write_line(char* line, uint32_t length, int64_t line_number, bool header,
                const LineFormat& format, FILE* out, FILE* log, char* key, int64_t& keys_added,
                int64_t& keys_failed, KeyFunction compute = library_key);

// The whole program: command line, files, loop, summary; returns the exit
// status (0 done, 1 bad switch, 2 input, 3 output, 4 log, 5 incomplete run).
int run_molstamp(int argc, char** argv);

#endif
