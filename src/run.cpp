// The command line and the run: open the files, annotate line by line, report.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdlib>

#include "molstamp.h"

namespace {

constexpr const char* kDefaultOutputName = "InChIKeys.txt";
constexpr int64_t kProgressEvery = 5000;
constexpr size_t kStreamBuffer = 1 << 18;

// True when name is an existing regular file and the same file as other;
// devices such as /dev/null may be shared freely.
bool same_regular_file(const char* name, const struct stat& other) {
  struct stat st;
  if (stat(name, &st) != 0) return false;
  return S_ISREG(st.st_mode) && S_ISREG(other.st_mode) && st.st_dev == other.st_dev &&
         st.st_ino == other.st_ino;
}

bool same_regular_file(const char* name, FILE* open_file) {
  struct stat st;
  return fstat(fileno(open_file), &st) == 0 && same_regular_file(name, st);
}

// Started with standard input, output or error closed, our own files would
// take those descriptors and console messages would land in the output file.
// Holding them on /dev/null keeps the files ours.
void hold_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && open("/dev/null", O_RDWR) != fd) return;
  }
}

// Reads the switches; returns the index of the first file argument, or -1
// after reporting an unknown switch.
int parse_switches(int argc, char** argv, RunState& s) {
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    if (argv[i][1] != 'n') {
      printf("Error: unknown key '%c'\n", argv[i][1]);
      print_usage();
      return -1;
    }
    s.no_copy = true;
  }
  return i;
}

// Opens input, output and log in that order; returns 0, or the exit status
// after reporting the failure and closing what was opened.
int open_streams(int argc, char** argv, int i, RunState& s) {
  s.input_name = i < argc ? argv[i] : nullptr;
  if (s.input_name != nullptr) s.in = fopen(s.input_name, "rb");
  if (s.in == nullptr) {
    printf("* Error: could not open input file!\n");
    return 2;
  }
  if (i + 1 < argc) {
    s.output_name = argv[i + 1];
  } else {
    printf("* Warning: got no output file name, using '%s'.\n", kDefaultOutputName);
    s.output_name = kDefaultOutputName;
  }
  // Opening for writing truncates: make sure that is not the input first.
  if (same_regular_file(s.output_name, s.in)) {
    printf("* Error: output file is the input file!\n");
    fclose(s.in);
    return 3;
  }
  s.out = fopen(s.output_name, "w");
  if (s.out == nullptr) {
    printf("* Error: could not open output file!\n");
    fclose(s.in);
    return 3;
  }
  s.log_name = i + 2 < argc ? argv[i + 2] : nullptr;
  if (s.log_name == nullptr || s.log_name[0] == '\0') {
    s.log = stderr;
    return 0;
  }
  const char* clash = nullptr;
  if (same_regular_file(s.log_name, s.in)) {
    clash = "* Error: log file is the input file!\n";
  } else if (same_regular_file(s.log_name, s.out)) {
    clash = "* Error: log file is the output file!\n";
  } else {
    s.log = fopen(s.log_name, "w");
    if (s.log == nullptr) clash = "* Error: could not open log file!\n";
  }
  if (clash != nullptr) {
    fputs(clash, stdout);
    fclose(s.in);
    fclose(s.out);
    return 4;
  }
  return 0;
}

// The read loop: copy, annotate, show progress.
void annotate_stream(RunState& s, bool console_is_terminal) {
  LineBuffer& b = s.line;
  while (const char* line = read_text_line(s.in, b.data, b.capacity, b.error, b.length)) {
    ++s.lines_read;
    if (!s.no_copy) {
      fwrite_unlocked(line, 1, b.length, s.out);
      putc_unlocked('\n', s.out);
    }
    annotate_line(line, s.lines_read, s.out, s.log, s.key, s.keys_added, s.keys_failed);
    if (++s.progress == kProgressEvery) {
      printf("%" PRId64 "        \r", s.lines_read);
      if (console_is_terminal) fflush(stdout);
      s.progress = 0;
    }
  }
}

// Closes a stream we wrote; false if any write to it or the close failed.
bool close_written(FILE* f) {
  bool ok = ferror(f) == 0;
  return fclose(f) == 0 && ok;
}

}  // namespace

void print_usage() {
  printf("Demo program illustrating usage of InChIKey API.\n");
  printf("Copies the file to output file adding InChIKey string as a separate line after\n");
  printf("each found line containing a single InChI string (LF-terminated)\n");
  printf("\nUsage: molstamp [switches] input file name [output file name [log file name] ]");
  printf("\n       switches:");
  printf("\n       -n      do not copy source to output, just print keys.");
  printf("\n\n");
  printf(
      "!This program is only for demo purposes!\nIt only weakly checks if the input is valid InChI "
      "string.\n");
}

int run_molstamp(int argc, char** argv) {
  hold_standard_descriptors();
  if (argc < 2) {
    print_usage();
    return 0;
  }
  RunState s;
  int first_file = parse_switches(argc, argv, s);
  if (first_file < 0) return 1;
  if (int status = open_streams(argc, argv, first_file, s)) return status;

  // Fewer, larger reads and writes: the stdio default of one page per call
  // costs more in system time than the copying itself.
  s.in_buffer.resize(kStreamBuffer);
  s.out_buffer.resize(kStreamBuffer);
  setvbuf(s.in, s.in_buffer.data(), _IOFBF, kStreamBuffer);
  setvbuf(s.out, s.out_buffer.data(), _IOFBF, kStreamBuffer);
  bool console_is_terminal = isatty(fileno(stdout)) != 0;
  fprintf(s.log, "Processing '%s'...\n", s.input_name);
  s.start = std::time(nullptr);
  annotate_stream(s, console_is_terminal);

  int status = 0;
  if (s.line.error == kReadTooLong) {
    printf("\n* Error: could not process line %" PRId64 " (too long).", s.lines_read + 1);
    status = 5;
  } else if (s.line.error == kReadFailed) {
    printf("\n* Error: could not read input file!");
    status = 5;
  }
  if (status != 0 && console_is_terminal) fflush(stdout);
  printf("\nCompleted processing of %" PRId64 " lines.", s.lines_read);
  printf("\nInChIKey: added %" PRId64 ", failed %" PRId64 ".\n", s.keys_added, s.keys_failed);
  printf("\nElapsed time: %ld\n", static_cast<long>(std::time(nullptr) - s.start));

  fclose(s.in);
  if (!close_written(s.out)) {
    printf("* Error: could not write output file!\n");
    status = 5;
  }
  // Standard error as the log is the console's business, not ours.
  if (s.log != stderr && !close_written(s.log)) {
    printf("* Error: could not write log file!\n");
    status = 5;
  }
  std::free(s.line.data);
  return status;
}
