// The run: the command line, the files, the lines along the road (serially
// or by the pipeline), the summary.
#include "cli/run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <csignal>
#include <ctime>
#include <new>

#include "cli/options.h"
#include "io/codec/encoder.h"
#include "io/files.h"
#include "keys/line_step.h"
#include "keys/structure.h"
#include "keys/structure_service.h"
#include "pipeline/pipeline.h"
#include "pipeline/road.h"
#include "sys/exit_status.h"
#include "sys/version.h"
#include "text/line_reader.h"

namespace {

// Everything a run holds from start to end.
struct RunState {
  Options options;
  Files files;
  LineBuffer line;
  RecordReader records;  // CSV
  Annotator annotator;
  Progress progress;
  Road road;
  ReadError read_error = kReadOk;
  std::time_t start = 0;
  StructureService structures;  // the serial run's worker process, started at its first call
  char* header = nullptr;       // line 1, read to find named columns, not yet on the road
  uint32_t header_length = 0;
  uint64_t header_end = 0;
};

// The input's line 1 read before anything is truncated, to give the columns
// named by -t NAME and -k NAME their numbers; the line then travels first.
// A name the header lacks is a usage error.
ExitStatus find_named_columns(Stream& in, std::string& message, void* context) {
  RunState& s = *static_cast<RunState*>(context);
  LineFormat& f = s.options.format;
  bool lines = f.delimiter == '\t';
  s.records.delimiter = f.delimiter;
  s.header = lines ? read_text_line(in.file, s.line) : read_record(in.file, s.records);
  s.header_length = lines ? s.line.length : s.records.length;
  s.header_end = lines ? s.line.end : s.records.end;
  for (const char* name : {s.options.field_name, s.options.key_field_name}) {
    if (name == nullptr) continue;
    uint32_t column = s.header == nullptr ? 0 : header_column(f, s.header, s.header_length, name);
    if (column == 0) {
      message = std::string("Error: the header has no column '") + name + "'\n";
      return ExitStatus::kBadSwitch;
    }
    (name == s.options.field_name ? f.field : f.key_field) = column;
  }
  if (f.key_field != 0 && f.key_field == f.field) {
    message = "Error: -k and -t name the same field\n";
    return ExitStatus::kBadSwitch;
  }
  return ExitStatus::kDone;
}

// The descriptor of an input that can make a reader wait (a pipe, a
// terminal), or -1 for a file, which never does.
int waiting_input(const Stream& in) { return S_ISREG(in.st.st_mode) ? -1 : in.fd; }

// The serial run: the reader's lines (or CSV records) along the road, until
// the input ends or the road says stop. Not inlined into run, whose many
// values would push the loop's own out of registers: an instruction a line.
[[gnu::noinline]] void annotate_serially(RunState& s) {
  FILE* in = s.files.in.file;
  int wait_fd = waiting_input(s.files.in);
  bool lines = s.annotator.format.delimiter == '\t';
  RecordReader& r = s.records;
  r.delimiter = s.annotator.format.delimiter;
  for (;;) {
    // Lines that came before a pause of the input go out before it.
    if (wait_fd >= 0 && input_would_wait(in, wait_fd)) push_output(s.road);
    char* line = lines ? read_text_line(in, s.line) : read_record(in, r);
    if (line == nullptr) break;
    uint32_t length = lines ? s.line.length : r.length;
    if (!travel(s.road, line, length, lines ? s.line.end : r.end)) break;
  }
  s.read_error = lines ? s.line.error : r.error;
}

// The end of a run: what stopped it, the summary, then the checked closes;
// returns the exit status.
ExitStatus finish(RunState& s) {
  FILE* console = s.files.console;
  ExitStatus status = ExitStatus::kDone;
  // The last count before any message, which then starts on a clear line.
  end_progress(s.progress);
  if (s.read_error != kReadOk || s.annotator.out_of_memory) clear_progress(s.progress, console);
  if (s.read_error == kReadTooLong) {
    fprintf(console, "\n* Error: could not process line %" PRId64 " (too long).", s.road.lines + 1);
    status = ExitStatus::kIncomplete;
  } else if (s.read_error == kReadFailed) {
    fprintf(console, "\n* Error: could not read input file!");
    status = ExitStatus::kIncomplete;
  } else if (s.read_error == kReadUnclosedQuote) {
    fprintf(console,
            "\n* Error: the input ends inside a quoted field that begins in line #%" PRId64 "!",
            s.road.lines);
    status = ExitStatus::kIncomplete;
  }
  if (s.annotator.out_of_memory) {
    fprintf(console, "\n* Error: out of memory!");
    status = ExitStatus::kIncomplete;
  }
  if (s.annotator.worker_lost) {
    clear_progress(s.progress, console);
    fprintf(console, "\n* Error: a worker process for structure calls ended (%s)!",
            s.annotator.note.reason.c_str());
    status = ExitStatus::kIncomplete;
  }
  // A run that stops at a failed write leaves its last candidate unjudged,
  // whatever the number of threads; so does input lost to a read error,
  // which may have held its key line.
  if (!s.road.stopped && !s.annotator.out_of_memory && !s.annotator.worker_lost)
    end_lines(s.annotator, s.road.lines, input_complete(s.read_error), s.road.out);
  const Counts& c = s.annotator.counts;
  int64_t checked = c.agree + c.differ + c.missing + c.failed;
  if (s.options.format.check && checked == 0) {
    clear_progress(s.progress, console);
    fprintf(console, "\n* Warning: no InChI to check!");
  }
  // A check that finds a wrong or missing key, or nothing to check, fails.
  if (s.options.format.check && status == ExitStatus::kDone && checked != c.agree)
    status = ExitStatus::kCheckFailed;
  if (s.options.format.check && status == ExitStatus::kDone && checked == 0)
    status = ExitStatus::kCheckFailed;
  if (status != ExitStatus::kDone && s.progress.terminal) fflush(console);
  fprintf(console, "\nCompleted processing of %" PRId64 " lines.", s.road.lines);
  if (s.options.format.check) {
    fprintf(console,
            "\nInChIKey: checked %" PRId64 ": agree %" PRId64 ", differ %" PRId64
            ", missing %" PRId64 ", failed %" PRId64 ".\n",
            checked, c.agree, c.differ, c.missing, c.failed);
  } else {
    fprintf(console, "\nInChIKey: added %" PRId64 ", failed %" PRId64 ".\n", c.added, c.failed);
  }
  if (s.options.format.rules.standard)
    fprintf(console, "Standard keys derived for %" PRId64 " non-standard InChIs.\n", c.derived);
  fprintf(console, "\nElapsed time: %ld\n", static_cast<long>(std::time(nullptr) - s.start));
  return close_files(s.files, status);
}

// Flushes standard output when it was the console: a full disk or a closed
// pipe there must not pass for success.
ExitStatus check_stdout(ExitStatus status) {
  if (fflush(stdout) != 0 || ferror(stdout)) {
    fputs("* Error: could not write standard output!\n", stderr);
    return ExitStatus::kIncomplete;
  }
  return status;
}

// Annotates the open files, in parallel when asked for and possible.
// Takes line 1, read for its column names, along the road, through an own
// compressor when the output has one; false when the run must stop.
bool travel_first(RunState& s) {
  Road first = s.road;
  if (s.files.out.format != Format::kPlain)
    first.out = open_encoder(s.road.raw, s.files.out.format, &first.encoder);
  if (first.out == nullptr) {
    s.annotator.out_of_memory = true;
    return false;
  }
  bool going = travel(first, s.header, s.header_length, s.header_end);
  if (first.out != s.road.out) fclose(first.out);
  s.road.lines = first.lines;
  s.road.end = first.end;
  s.road.stopped = first.stopped;
  return going;
}

void annotate(RunState& s) {
  Files& f = s.files;
  const Options& o = s.options;
  s.annotator.format = o.format;
  s.annotator.log = f.log;
  uint64_t size = S_ISREG(f.in.st.st_mode) ? static_cast<uint64_t>(f.in.st.st_size) : 0;
  s.progress = start_progress(f.console, f.log, f.in.fd, size);
  s.annotator.progress = &s.progress;
  s.road =
      Road{&s.annotator, line_step(o.format), f.out.file, f.out.encoder, f.out.raw, &s.progress};
  fprintf(f.log, "Processing '%s'...\n", o.input_name);
  s.start = std::time(nullptr);
  // The serial run's structure calls run in a worker process too, so that
  // an InChI the library goes down on fails alone, as with -j N.
  if (needs_structure(o.format.rules)) s.annotator.service = &s.structures;
  // Line 1, read for its column names, goes first, in a member or frame of
  // its own when the output is compressed: the pipeline's blocks follow it.
  if (s.header != nullptr && !travel_first(s)) {
    s.read_error = kReadOk;
    return;
  }
  unsigned workers = resolve_jobs(o.jobs);
  if (workers <= 1 || !annotate_parallel(f.in.file, waiting_input(f.in), s.road, f.out.format,
                                         workers, s.read_error))
    annotate_serially(s);
}

// The whole run; returns the exit status.
ExitStatus run(int argc, char** argv) {
  hold_standard_descriptors();
  // A file-size limit (ulimit -f) is a write error like a full disk, to be
  // reported, not a signal that kills the run with its output cut.
  signal(SIGXFSZ, SIG_IGN);
  RunState s;
  s.options = parse_options(argc, argv);
  switch (s.options.action) {
    case Action::kUsage:
      print_usage();
      return check_stdout(ExitStatus::kDone);
    case Action::kVersion:
      printf("molstamp %s\n%s\n", molstamp_version(), library_provenance().c_str());
      return check_stdout(ExitStatus::kDone);
    case Action::kBadSwitch:
      fputs(s.options.error.c_str(), stdout);
      print_usage();
      return check_stdout(ExitStatus::kBadSwitch);
    case Action::kRun:
      break;
  }
  const Options& o = s.options;
  bool named = o.field_name != nullptr || o.key_field_name != nullptr;
  ExitStatus status = open_files(
      FileNames{o.input_name, o.output_name, o.log_name, named ? find_named_columns : nullptr, &s},
      s.files);
  if (status == ExitStatus::kDone) {
    annotate(s);
    stop_structure_service(s.structures);
    status = finish(s);
  }
  return s.files.console == stdout ? check_stdout(status) : status;
}

}  // namespace

int run_molstamp(int argc, char** argv) {
  try {
    return exit_code(run(argc, argv));
  } catch (const std::bad_alloc&) {
    // Only a nearly exhausted address space gets here (the strings of the
    // command line, the stream buffers): an incomplete run like any other.
    fputs("* Error: out of memory!\n", stderr);
    return exit_code(ExitStatus::kIncomplete);
  }
}
