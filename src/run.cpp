// The run: open the streams, annotate line by line, report, close.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <new>

#include "molstamp.h"
#include "parallel.h"

#ifndef MOLSTAMP_VERSION
#define MOLSTAMP_VERSION "unknown"
#endif

namespace {

constexpr const char* kDefaultOutputName = "InChIKeys.txt";

// Started with standard input, output or error closed, our own files would
// take those descriptors and console messages would land in the output file.
// Holding them on /dev/null keeps the files ours.
void hold_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && open("/dev/null", O_RDWR) != fd) return;
  }
}

// Opens input, output and log in that order, refusing to write over the
// input; returns 0, or the exit status after reporting the failure and
// closing what was opened.
int open_streams(RunState& s) {
  const Options& o = s.options;
  if (o.input_name == nullptr || !open_input(o.input_name, s.in)) {
    fprintf(s.console, "* Error: could not open input file!\n");
    return 2;
  }
  const char* output_name = o.output_name;
  if (output_name == nullptr) {
    fprintf(s.console, "* Warning: got no output file name, using '%s'.\n", kDefaultOutputName);
    output_name = kDefaultOutputName;
  }
  // Opening for writing truncates: make sure that is not the input first.
  struct stat target;
  if (stat_output(output_name, target) && same_regular_file(target, s.in.st)) {
    fprintf(s.console, "* Error: output file is the input file!\n");
    fclose(s.in.file);
    return 3;
  }
  if (!open_output(output_name, s.out)) {
    fprintf(s.console, "* Error: could not open output file!\n");
    fclose(s.in.file);
    return 3;
  }
  const char* log_name = o.log_name;
  if (log_name == nullptr || log_name[0] == '\0' || is_standard_stream(log_name)) {
    s.log = stderr;
    return 0;
  }
  const char* clash = nullptr;
  if (same_regular_file(log_name, s.in.st)) {
    clash = "* Error: log file is the input file!\n";
  } else if (same_regular_file(log_name, s.out.st)) {
    clash = "* Error: log file is the output file!\n";
  } else {
    s.log = fopen(log_name, "w");
    if (s.log == nullptr) clash = "* Error: could not open log file!\n";
  }
  if (clash != nullptr) {
    fputs(clash, s.console);
    fclose(s.in.file);
    if (!s.out.standard) close_output(s.out);
    return 4;
  }
  return 0;
}

// The read loop: copy, annotate, show progress.
void annotate_stream(RunState& s, bool console_is_terminal) {
  LineBuffer& b = s.line;
  LineFormat format{s.options.no_copy, s.options.table_field};
  while (char* line = read_text_line(s.in.file, b.data, b.capacity, b.error, b.length)) {
    ++s.lines_read;
    bool header = s.options.header && s.lines_read == 1;
    write_line(line, b.length, s.lines_read, header, format, s.out.file, s.log, s.key, s.keys_added,
               s.keys_failed);
    if (++s.progress == kProgressEvery) {
      fprintf(s.console, "%" PRId64 "        \r", s.lines_read);
      if (console_is_terminal) fflush(s.console);
      s.progress = 0;
    }
  }
}

// The end of a run: the summary, then the checked closes; returns status
// unless a write failed (5).
int finish(RunState& s, int status, bool console_is_terminal) {
  FILE* console = s.console;
  if (s.line.error == kReadTooLong) {
    fprintf(console, "\n* Error: could not process line %" PRId64 " (too long).", s.lines_read + 1);
    status = 5;
  } else if (s.line.error == kReadFailed) {
    fprintf(console, "\n* Error: could not read input file!");
    status = 5;
  }
  if (status != 0 && console_is_terminal) fflush(console);
  fprintf(console, "\nCompleted processing of %" PRId64 " lines.", s.lines_read);
  fprintf(console, "\nInChIKey: added %" PRId64 ", failed %" PRId64 ".\n", s.keys_added,
          s.keys_failed);
  fprintf(console, "\nElapsed time: %ld\n", static_cast<long>(std::time(nullptr) - s.start));

  fclose(s.in.file);
  if (!close_output(s.out) || s.output_broken) {
    fputs(s.out.standard ? "* Error: could not write standard output!\n"
                         : "* Error: could not write output file!\n",
          console);
    status = 5;
  }
  // Standard error as the log is the console's business, not ours.
  if (s.log != stderr && !close_written(s.log)) {
    fprintf(console, "* Error: could not write log file!\n");
    status = 5;
  }
  return status;
}

// Flushes standard output when it was the console: a full disk or a closed
// pipe there must not pass for success.
int check_stdout(int status) {
  if (fflush(stdout) != 0 || ferror(stdout)) {
    fputs("* Error: could not write standard output!\n", stderr);
    return 5;
  }
  return status;
}

// The whole run; returns the exit status.
int run(int argc, char** argv) {
  hold_standard_descriptors();
  RunState s;
  s.options = parse_options(argc, argv);
  switch (s.options.action) {
    case Action::kUsage:
      print_usage();
      return check_stdout(0);
    case Action::kVersion:
      printf("molstamp %s\n", MOLSTAMP_VERSION);
      return check_stdout(0);
    case Action::kBadSwitch:
      fputs(s.options.error.c_str(), stdout);
      print_usage();
      return check_stdout(1);
    case Action::kRun:
      break;
  }
  // Standard output as the output carries the annotated copy and nothing else.
  const char* output_name = s.options.output_name;
  if (output_name != nullptr && is_standard_stream(output_name)) s.console = stderr;
  int status = open_streams(s);
  if (status == 0) {
    bool console_is_terminal = isatty(fileno(s.console)) != 0;
    fprintf(s.log, "Processing '%s'...\n", s.options.input_name);
    s.start = std::time(nullptr);
    unsigned workers = s.options.jobs;
    if (workers == 0) workers = static_cast<unsigned>(sysconf(_SC_NPROCESSORS_ONLN));
    if (workers <= 1 || !annotate_parallel(s, workers, console_is_terminal)) {
      annotate_stream(s, console_is_terminal);
    }
    status = finish(s, status, console_is_terminal);
  }
  std::free(s.line.data);
  return s.console == stdout ? check_stdout(status) : status;
}

}  // namespace

int run_molstamp(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    // Only a nearly exhausted address space gets here (the strings of the
    // command line, the stream buffers): an incomplete run like any other.
    fputs("* Error: out of memory!\n", stderr);
    return 5;
  }
}
