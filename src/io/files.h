// The files of a run: the input, the output, the log and the console,
// opened together with every refusal decided before anything is written, and
// closed together with every write checked.
#ifndef MOLSTAMP_FILES_H
#define MOLSTAMP_FILES_H

#include <cstdio>
#include <string>

#include "io/streams.h"
#include "sys/exit_status.h"

// A look at the opened input once every file is open and before any is
// truncated: kDone to go on, else the status, with message (said on the
// console) saying why.
using InputLook = ExitStatus (*)(Stream& in, std::string& message, void* context);

// The names a run's files are given: null when not given (input: every
// argument was a switch).
struct FileNames {
  const char* input = nullptr;
  const char* output = nullptr;  // null: InChIKeys.txt, with a warning
  const char* log = nullptr;     // null or empty: standard error
  InputLook look = nullptr;      // a look at the input before anything is truncated, or none
  void* look_context = nullptr;  // given to look
};

struct Files {
  Stream in;
  Stream out;
  FILE* log = nullptr;     // a file of ours, or standard error or output
  FILE* console = stdout;  // progress, summary, errors: stderr when standard output is the output
};

// Holds closed standard descriptors, so that the run's own files never take
// them: input on a directory (no input to read), output and error on
// /dev/full (writing there fails and is reported, as on the closed
// descriptor).
void hold_standard_descriptors();

// Opens input, output and log (by their names; the output defaults to
// InChIKeys.txt with a warning, the log to standard error). Refuses, before
// any file is truncated or written: an input that is an archive (zip, 7z or
// tar, compressed or not), an output, log or standard stream that is the
// input's file, FIFO or pipe, a log that is the output's file, FIFO or pipe,
// and standard error as the console when it is the output. A name for
// standard output or error is written through that stream. Returns kDone,
// or the refusal (kInput, kOutput, kLog) after saying why where that is safe
// and removing any file this call created.
ExitStatus open_files(const FileNames& names, Files& f);

// Closes the input, output and log, each write checked; says on the console
// what could not be written. Returns status, or kIncomplete when a write
// failed.
ExitStatus close_files(Files& f, ExitStatus status);

#endif
