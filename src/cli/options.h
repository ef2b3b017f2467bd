// The command line, parsed into plain values before anything is opened.
#ifndef MOLSTAMP_OPTIONS_H
#define MOLSTAMP_OPTIONS_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "keys/annotator.h"
#include "sys/budget.h"

// What the command line asks for.
enum class Action {
  kRun,        // annotate input into output
  kUsage,      // no arguments, -h or --help: the usage text, status 0
  kVersion,    // --version: one line with the version, status 0
  kBadSwitch,  // an unknown or malformed switch: error, usage text, status 1
};

// Everything the run takes from the command line; names point into argv.
struct Options {
  Action action = Action::kRun;
  std::string error;  // with kBadSwitch: the "Error: ..." line
  // -n (no_copy: key lines only), -t N (field: the InChI is field N of
  // TAB-separated lines), -H (header), -c (check the stored keys instead of
  // annotating), -k M (key_field: with -c -t N, the stored key's field),
  // -d C (delimiter: the fields of -t are split by C; any but TAB: CSV).
  // -s and --validate (format.rules), --difference (with -c).
  LineFormat format;
  const char* field_name = nullptr;      // -t NAME, with -H: the InChI's column by its header
  const char* key_field_name = nullptr;  // -k NAME, with -H: the stored key's column by its header
  uint32_t jobs = 1;                     // -j N: lines annotated by N threads; 0: one per processor
  const char* input_name = nullptr;      // null when every argument was a switch
  const char* output_name = nullptr;     // null when not given
  const char* log_name = nullptr;        // null when not given
};

// Parses argv: switches first (-- ends them; a lone - is a file name), then
// input, output and log names; further arguments are ignored.
Options parse_options(int argc, char** argv);

// Writes the usage text to f.
void print_usage(FILE* f = stdout);

#endif
