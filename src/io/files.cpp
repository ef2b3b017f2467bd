// Opening a run's files safely, and closing them with every write checked.
#include "io/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace {

constexpr const char* kDefaultOutputName = "InChIKeys.txt";

// A refusal found before anything is written: the message and the status.
struct Refusal {
  const char* message = nullptr;
  ExitStatus status = ExitStatus::kDone;
};

// What the output and the standard streams must not be, judged before the
// output is opened: the input (its file, FIFO or pipe), by name or through a
// standard stream (standard error gets the last word of a failed run even
// when a log is named); nor may an existing output be the log.
Refusal refuse_before_opening(const Files& s, const Destination& out, const Destination& log) {
  if (out.exists && writes_into(out.st, s.in.st))
    return {"* Error: output file is the input file!\n", ExitStatus::kOutput};
  if (descriptor_writes_into(STDOUT_FILENO, s.in.st))
    return {"* Error: standard output is the input file!\n", ExitStatus::kOutput};
  if (descriptor_writes_into(STDERR_FILENO, s.in.st)) {
    if (log.standard_fd == STDERR_FILENO)
      return {"* Error: log file is the input file!\n", ExitStatus::kLog};
    return {"* Error: standard error is the input file!\n", ExitStatus::kLog};
  }
  // Before the output is opened: opening a FIFO would wait for a reader.
  if (out.exists && log.exists && same_file(out.st, log.st)) {
    // Unnamed, the log is standard error, where the console goes too when
    // the output is standard output.
    if (log.standard_fd == STDERR_FILENO && out.standard_fd == STDOUT_FILENO)
      return {"* Error: standard error is the output; the console would go into it!\n",
              ExitStatus::kLog};
    if (log.standard_fd == STDERR_FILENO)
      return {"* Error: standard error is the output; the log would go into it!\n",
              ExitStatus::kLog};
    return {"* Error: log file is the output file!\n", ExitStatus::kLog};
  }
  return {};
}

// What the log and the console must not be, judged once the output is open
// (and so exists): the input, or the output's own file or pipe.
Refusal refuse_log(const Files& s, const Destination& log) {
  if (log.exists && writes_into(log.st, s.in.st))
    return {"* Error: log file is the input file!\n", ExitStatus::kLog};
  if (log.exists && same_file(log.st, s.out.st))
    return {"* Error: log file is the output file!\n", ExitStatus::kLog};
  struct stat console;
  if (s.console == stderr && fstat(STDERR_FILENO, &console) == 0 && same_file(console, s.out.st))
    return {"* Error: standard error is the output file!\n", ExitStatus::kLog};
  return {};
}

// Where a refusal may be said: the console, unless it is the input; then
// standard error, unless it is the input too (standard output, when the
// console left it, is the output: no message goes there).
FILE* safe_console(const Files& s) {
  if (!descriptor_writes_into(fileno(s.console), s.in.st)) return s.console;
  if (s.console == stdout && !descriptor_writes_into(STDERR_FILENO, s.in.st)) return stderr;
  return nullptr;
}

// Opens the output, then the log, refusing a log that is the input or the
// output; nothing is truncated yet.
Refusal open_output_and_log(Files& s, const char* output_name, const Destination& out,
                            const char* log_name, bool& log_created) {
  if (!open_output(output_name, out, s.out))
    return {"* Error: could not open output file!\n", ExitStatus::kOutput};
  Destination log = find_destination(log_name, STDERR_FILENO);  // the output may be new
  Refusal refusal = refuse_log(s, log);
  if (refusal.status != ExitStatus::kDone) return refusal;
  if (log.standard_fd >= 0) {
    s.log = log.standard_fd == STDOUT_FILENO ? stdout : stderr;
    return {};
  }
  int fd = open_for_writing(log_name, log_created);
  s.log = fd < 0 ? nullptr : fdopen(fd, "w");
  if (s.log != nullptr) return {};
  if (fd >= 0) close(fd);
  if (log_created) unlink(log_name);
  return {"* Error: could not open log file!\n", ExitStatus::kLog};
}

// Empties the output and log files that held something, now that every
// file of the run is open.
Refusal truncate_files(const Files& s, bool log_created) {
  if (s.out.raw != stdout && s.out.raw != stderr &&
      !truncate_opened(fileno(s.out.raw), s.out.st, s.out.created))
    return {"* Error: could not open output file!\n", ExitStatus::kOutput};
  struct stat st;
  if (s.log != stdout && s.log != stderr &&
      (fstat(fileno(s.log), &st) != 0 || !truncate_opened(fileno(s.log), st, log_created)))
    return {"* Error: could not open log file!\n", ExitStatus::kLog};
  return {};
}

// A name as the shell reads it, and a command as its file operand: as it
// is when that is safe, else quoted; after "./" when it begins with '-'.
std::string shell_word(const char* name) {
  std::string word = name[0] == '-' ? std::string("./") + name : std::string(name);
  if (!word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                              "0123456789._/+-,:@%=") == std::string::npos)
    return word;
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// What to say of an archive given as input: which kind, and the command
// that takes the file out of it into a pipe, with the user's own names where
// that command can read the input as it is (FILE where it cannot: a pipe, or
// an archive inside a compressor that only tar sees through); the output's
// name is a placeholder.
std::string archive_refusal(Archive archive, const Stream& in, const char* input_name) {
  const char* what = nullptr;
  const char* command = nullptr;
  switch (archive) {
    case Archive::kZip:
      what = "a zip archive: extract the file first";
      command = "unzip -p";
      break;
    case Archive::k7z:
      what = "a 7z archive: extract the file first";
      command = "7z x -so";
      break;
    case Archive::kTar:
      what = "a tar archive: extract the file first";
      command = "tar -xOf";
      break;
    case Archive::kLegacyLz4:
      what = "lz4 in its legacy format: decompress it first";
      command = "lz4 -dc";
      break;
    case Archive::kNone:
      return {};
  }
  // GNU tar sees through every compressor but lz4.
  bool readable = !in.standard && (in.format == Format::kPlain ||
                                   (archive == Archive::kTar && in.format != Format::kLz4));
  return std::string("* Error: the input is ") + what + " (" + command + " " +
         (readable ? shell_word(input_name) : "FILE") + " | molstamp - out.txt).\n";
}

}  // namespace

// Started with standard input, output or error closed, our own files would
// take those descriptors and console messages would land in the output file.
// Each is held by something that fails as the closed descriptor would: a
// directory for input (reading it fails, so "-" is no input), /dev/full for
// output and error (every write fails, and is reported).
void hold_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int held = fd == STDIN_FILENO ? open("/", O_RDONLY | O_DIRECTORY) : open("/dev/full", O_WRONLY);
    if (held != fd) return;
  }
}

// Opens input, output and log in that order. Everything that would write
// over the input or mix the log or console into the output is refused, and
// every file opened, before any file is truncated; a file this run created
// for a run it abandons is removed. Returns kDone, or the exit status after
// reporting the failure.
ExitStatus open_files(const FileNames& o, Files& s) {
  const char* output_name = o.output == nullptr ? kDefaultOutputName : o.output;
  const char* log_name = o.log == nullptr || o.log[0] == '\0' ? "-" : o.log;
  Destination out = find_destination(output_name, STDOUT_FILENO);
  // Standard output as the output carries the annotated copy and nothing else.
  if (out.standard_fd == STDOUT_FILENO) s.console = stderr;
  if (o.input == nullptr || !open_input(o.input, s.in)) {
    fprintf(s.console, "* Error: could not open input file!\n");
    return ExitStatus::kInput;
  }
  if (s.in.archive != Archive::kNone || s.in.utf16) {
    fputs(s.in.utf16 ? "* Error: the input is UTF-16; convert it to UTF-8 first (iconv -f "
                       "UTF-16 -t UTF-8)!\n"
                     : archive_refusal(s.in.archive, s.in, o.input).c_str(),
          s.console);
    fclose(s.in.file);
    return ExitStatus::kInput;
  }
  Refusal refusal = refuse_before_opening(s, out, find_destination(log_name, STDERR_FILENO));
  FILE* say = safe_console(s);
  if (o.output == nullptr && say != nullptr)
    fprintf(say, "* Warning: got no output file name, using '%s'.\n", kDefaultOutputName);
  bool log_created = false;
  if (refusal.status == ExitStatus::kDone)
    refusal = open_output_and_log(s, output_name, out, log_name, log_created);
  std::string looked;  // the look's refusal, kept for the message below
  if (refusal.status == ExitStatus::kDone && o.look != nullptr) {
    ExitStatus status = o.look(s.in, looked, o.look_context);
    if (status != ExitStatus::kDone) refusal = {looked.c_str(), status};
  }
  if (refusal.status == ExitStatus::kDone) refusal = truncate_files(s, log_created);
  if (refusal.status == ExitStatus::kDone) return ExitStatus::kDone;
  if (say != nullptr) fputs(refusal.message, say);
  if (s.log != nullptr && s.log != stdout && s.log != stderr) {
    fclose(s.log);
    if (log_created) unlink(log_name);
  }
  s.log = nullptr;
  if (s.out.file != nullptr) abandon_output(output_name, s.out);
  fclose(s.in.file);
  return refusal.status;
}

ExitStatus close_files(Files& f, ExitStatus status) {
  FILE* console = f.console;
  fclose(f.in.file);
  if (!close_output(f.out)) {
    fputs(f.out.raw == stdout ? "* Error: could not write standard output!\n"
                              : "* Error: could not write output file!\n",
          console);
    status = ExitStatus::kIncomplete;
  }
  if (f.log != stderr && f.log != stdout && !close_written(f.log)) {
    fprintf(console, "* Error: could not write log file!\n");
    status = ExitStatus::kIncomplete;
  }
  // Standard error stands for the log file (or the console): a warning lost
  // there is as incomplete a run as one lost in a file.
  if ((f.log == stderr || console == stderr) && ferror(stderr)) {
    fprintf(console, "* Error: could not write standard error!\n");
    status = ExitStatus::kIncomplete;
  }
  return status;
}
