// End to end: what a run writes for the lines it reads, its progress and
// summary, and the runs that cannot complete.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "csv_model.h"
#include "harness.h"
#include "line_model.h"

namespace {

TEST(Run, AnnotatesAMixedFile) {
  struct Case {
    std::vector<std::string> args;
    std::string console, log_on_stderr, output_file, output, log_file;
  };
  std::string long_name;  // longer than any fixed name buffer would hold
  for (int i = 0; i < 200; ++i) long_name += "./";
  const Case cases[] = {
      {{"in.txt", "out.txt"}, kMixedSummary, kMixedLog, "out.txt", kMixedOutput, ""},
      {{"in.txt", long_name + "out.txt", long_name + "log.txt"},
       kMixedSummary,
       "",
       "out.txt",
       kMixedOutput,
       "log.txt"},
      {{"-n", "in.txt", "out.txt"}, kMixedSummary, kMixedLog, "out.txt", kMixedKeys, ""},
      {{"-nq", "-n", "in.txt", "out.txt"}, kMixedSummary, kMixedLog, "out.txt", kMixedKeys, ""},
      {{"in.txt"}, kNoOutputName + kMixedSummary, kMixedLog, "InChIKeys.txt", kMixedOutput, ""},
      {{"in.txt", "out.txt", ""}, kMixedSummary, kMixedLog, "out.txt", kMixedOutput, ""},
      {{"in.txt", "-out.txt", "log.txt", "ignored"},
       kMixedSummary,
       "",
       "-out.txt",
       kMixedOutput,
       "log.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Scratch dir;
    write_file(dir / "in.txt", kMixedInput);
    Outcome o = dir.run(c.args);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.console(), c.console);
    EXPECT_EQ(o.err, c.log_on_stderr);
    EXPECT_EQ(read_file(dir / c.output_file), c.output);
    if (!c.log_file.empty()) {
      EXPECT_EQ(read_file(dir / c.log_file), kMixedLog);
    }
    EXPECT_EQ(read_file(dir / "in.txt"), kMixedInput);
  }
}
TEST(Run, EmptyInputGivesEmptyOutput) {
  Scratch dir;
  write_file(dir / "in.txt", "");
  Outcome o = dir.run({"-n", "in.txt", "out.txt"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.console(), summary(0, 0, 0));
  EXPECT_EQ(o.err, "Processing 'in.txt'...\n");
  EXPECT_TRUE(fs::exists(dir / "out.txt"));
  EXPECT_EQ(read_file(dir / "out.txt"), "");
}
// Starts the tool in dir with args and its standard output (and standard
// error with log_too) on a pseudo-terminal in raw mode (the bytes as
// written); returns its pid, and the terminal's other side in master.
pid_t start_on_a_terminal(const Scratch& dir, const std::vector<std::string>& args, int& master,
                          bool log_too = false) {
  master = posix_openpt(O_RDWR | O_NOCTTY);
  EXPECT_GE(master, 0);
  EXPECT_EQ(grantpt(master), 0);
  EXPECT_EQ(unlockpt(master), 0);
  std::string terminal = ptsname(master);
  pid_t pid = fork();
  if (pid == 0) {
    int tty = open(terminal.c_str(), O_RDWR);
    int null = open("/dev/null", O_RDWR);
    if (tty < 0 || null < 0) _exit(126);
    termios raw{};
    tcgetattr(tty, &raw);
    cfmakeraw(&raw);
    tcsetattr(tty, TCSANOW, &raw);
    dup2(null, 0);
    dup2(tty, 1);
    dup2(log_too ? tty : null, 2);
    dir.exec_tool(args);
  }
  return pid;
}

// On a terminal the progress count must show while the run goes on, though it
// ends in a carriage return: feed 5000 lines through a pipe, wait for the
// count, and only then end the input.
void progress_shows_at_once(const char* jobs) {
  Scratch dir;
  ASSERT_EQ(mkfifo((dir / "in.fifo").c_str(), 0600), 0);
  int master = -1;
  pid_t pid = start_on_a_terminal(dir, {jobs, "-n", "in.fifo", "out.txt"}, master);
  int fifo = open((dir / "in.fifo").c_str(), O_WRONLY);
  ASSERT_GE(fifo, 0);
  std::string lines;
  for (int i = 0; i < 5000; ++i) lines += "x\n";
  ASSERT_EQ(write(fifo, lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));

  // A FIFO's size is unknown: the count and the rate, no share or time left.
  std::string shown;
  std::regex print("5000 lines, [0-9]+ lines/s {8}\r");
  while (!std::regex_match(shown, print)) {
    pollfd ready{master, POLLIN, 0};
    if (poll(&ready, 1, 10000) != 1) break;  // not shown within 10 s
    char chunk[256];
    ssize_t n = read(master, chunk, sizeof chunk);
    if (n <= 0) break;
    shown.append(chunk, static_cast<size_t>(n));
  }
  EXPECT_TRUE(std::regex_match(shown, print)) << testing::PrintToString(shown);
  close(fifo);
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  close(master);
  EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0);
}
TEST(Run, ProgressShowsAtOnceOnATerminal) {
  for (const char* jobs : {"-j1", "-j2"}) {
    SCOPED_TRACE(jobs);
    progress_shows_at_once(jobs);
  }
}
// Runs args with standard output (and standard error with log_too) on a
// pseudo-terminal; returns what it showed there, and the exit status.
std::string on_a_terminal(const Scratch& dir, const std::vector<std::string>& args, int& status,
                          bool log_too = false) {
  int master = -1;
  pid_t pid = start_on_a_terminal(dir, args, master, log_too);
  std::string shown;
  for (;;) {
    pollfd ready{master, POLLIN, 0};
    if (poll(&ready, 1, 30000) != 1) break;
    char chunk[4096];
    ssize_t n = read(master, chunk, sizeof chunk);
    if (n <= 0) break;  // EIO once the tool has closed the terminal
    shown.append(chunk, static_cast<size_t>(n));
  }
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  close(master);
  status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  return shown;
}

// On a terminal a file of known size shows the rate, the share read and the
// time left, at most about ten prints a second, and the last count before
// the summary whatever the limit held back; the same with -j2, and for
// compressed input (the share of its compressed bytes).
TEST(Run, TerminalProgressShowsRateShareAndTimeLeft) {
  Scratch dir;
  std::string text;
  for (int i = 0; i < 400'000; ++i) text += i % 2 ? "x\n" : "y\r\n";
  write_file(dir / "in.txt", text);
  shell(dir, "gzip -c in.txt > in.gz");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-j1", "in.txt", "out.txt"}, {"-j2", "in.gz", "out.txt"}}) {
    SCOPED_TRACE(testing::PrintToString(args));
    auto start = std::chrono::steady_clock::now();
    int status = -1;
    std::string shown = on_a_terminal(dir, args, status);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(status, 0);
    size_t summary_at = shown.find("\nCompleted processing of 400000 lines.");
    ASSERT_NE(summary_at, std::string::npos) << shown;
    std::vector<std::string> prints;
    std::stringstream progress(shown.substr(0, summary_at));
    for (std::string print; std::getline(progress, print, '\r');) prints.push_back(print);
    ASSERT_FALSE(prints.empty());
    static const std::regex form(
        "([0-9]+) lines, [0-9]+ lines/s, [0-9]+\\.[0-9] %, [0-9]+ (s|min [0-9]{2} s) left +");
    std::smatch m;
    for (const std::string& print : prints) {
      EXPECT_TRUE(std::regex_match(print, m, form)) << print;
    }
    EXPECT_TRUE(std::regex_match(prints.back(), m, form));
    EXPECT_EQ(m[1], "400000");
    EXPECT_LE(prints.size(), 2 + static_cast<size_t>(seconds * 10 * 1.5)) << seconds;
  }
}

// The last print before the summary says that the whole input is read and no
// time is left: 100.0 %, 0 s. Its output, a FIFO read slowly, makes the run
// last long enough that the time taken could not pass for the time left.
TEST(Run, TerminalProgressEndsAtTheWholeInputAndNoTimeLeft) {
  Scratch dir;
  std::string text;
  for (int i = 0; i < 400'000; ++i) text += i % 2 ? "x\n" : "y\r\n";
  write_file(dir / "in.txt", text);
  const std::string fifo = (dir / "out.fifo").string();
  for (const char* jobs : {"-j1", "-j2"}) {
    SCOPED_TRACE(jobs);
    fs::remove(fifo);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    pid_t reader = fork();
    if (reader == 0) {
      int fd = open(fifo.c_str(), O_RDONLY);
      char chunk[16384];
      while (fd >= 0 && read(fd, chunk, sizeof chunk) > 0) usleep(40'000);
      _exit(0);
    }
    int status = -1;
    std::string shown = on_a_terminal(dir, {jobs, "in.txt", "out.fifo"}, status);
    // A reader still waiting for a writer that never came gets its end.
    int unblock = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (unblock >= 0) close(unblock);
    waitpid(reader, nullptr, 0);
    EXPECT_EQ(status, 0);
    size_t summary_at = shown.find("\nCompleted processing of 400000 lines.");
    ASSERT_NE(summary_at, std::string::npos) << shown;
    std::string prints = shown.substr(0, summary_at);
    ASSERT_FALSE(prints.empty());
    prints.pop_back();  // the last print's carriage return
    std::string last = prints.substr(prints.rfind('\r') + 1);
    static const std::regex form("400000 lines, ([0-9]+) lines/s, 100\\.0 %, 0 s left +");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(last, m, form)) << testing::PrintToString(last);
    // Else this run could not tell the time taken from the time left.
    EXPECT_GT(400000 / std::stod(m[1]), 0.5) << "the slow reader did not hold the run back";
  }
}

// A warning or an error that goes to the terminal the progress shows on
// starts on a cleared line, not over what the last print leaves there; a
// log off that terminal leaves the prints as they were.
TEST(Run, MessagesOnATerminalClearTheProgressLine) {
  struct Case {
    std::vector<std::string> args;
    bool log_on_terminal;
    std::string message;  // shown right after the clear; empty: no clear shown
  };
  const std::string warning = "Warning: could not compute InChIKey for the line #5201 ";
  const std::string unclosed = "\n* Error: the input ends inside a quoted field";
  const Case cases[] = {
      {{"-j1", "in.txt", "out.txt"}, true, warning},
      {{"-j2", "in.txt", "out.txt"}, true, warning},
      {{"-j1", "in.txt", "out.txt"}, false, ""},
      {{"-j2", "in.txt", "out.txt", "log.txt"}, true, ""},
      {{"-j1", "-d,", "-t2", "open.csv", "out.txt"}, false, unclosed},
      {{"-j2", "-d,", "-t2", "open.csv", "out.txt"}, false, unclosed},
  };
  Scratch dir;
  std::string lines;
  for (int i = 0; i < 5200; ++i) lines += kBenzene + "\n";
  // Line 5201: a key the library refuses with a status that is logged.
  write_file(dir / "in.txt", lines + kBenzene + "/p\nx\n");
  std::string csv;
  for (int i = 0; i < 12000; ++i) csv += std::to_string(i) + ",x\n";
  write_file(dir / "open.csv", csv + "1,\"open");
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    int status = -1;
    std::string shown = on_a_terminal(dir, c.args, status, c.log_on_terminal);
    EXPECT_EQ(status, c.message == unclosed ? 5 : 0);
    if (c.message.empty()) {
      EXPECT_EQ(shown.find("\033[K"), std::string::npos) << testing::PrintToString(shown);
    } else {
      size_t at = shown.find("\r\033[K" + c.message);
      EXPECT_NE(at, std::string::npos) << testing::PrintToString(shown);
      // Nor does a print come after it, over it: this input has none left.
      EXPECT_EQ(shown.find("lines/s", at), std::string::npos) << testing::PrintToString(shown);
    }
  }
}

// A pipe's lines come out while the pipe waits for more, not when it ends:
// a line goes in, its copy and key line must come out with the writer still
// there; also for a table, and with two threads.
TEST(Run, OutputFlowsWhileTheInputWaits) {
  struct Case {
    std::vector<std::string> args;
    std::string in, out;
  };
  const Case cases[] = {
      {{"-j1", "-", "-"}, kWater + "\n", kWater + "\nInChIKey=XLYOFNOQVPJJNP-UHFFFAOYSA-N\n"},
      {{"-j2", "-", "-"}, kWater + "\n", kWater + "\nInChIKey=XLYOFNOQVPJJNP-UHFFFAOYSA-N\n"},
      {{"-j1", "-d,", "-t2", "-n", "-", "-"},
       "1,\"" + kWater + "\"\n",
       "XLYOFNOQVPJJNP-UHFFFAOYSA-N\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Scratch dir;
    int in[2], out[2];
    ASSERT_EQ(pipe(in), 0);
    ASSERT_EQ(pipe(out), 0);
    pid_t pid = fork();
    if (pid == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 2);
      close(in[1]);
      close(out[0]);
      dir.exec_tool(c.args);
    }
    close(in[0]);
    close(out[1]);
    ASSERT_EQ(write(in[1], c.in.data(), c.in.size()), static_cast<ssize_t>(c.in.size()));
    std::string shown;
    while (shown.size() < c.out.size()) {
      pollfd ready{out[0], POLLIN, 0};
      if (poll(&ready, 1, 10000) != 1) break;  // not out within 10 s
      char chunk[256];
      ssize_t n = read(out[0], chunk, sizeof chunk);
      if (n <= 0) break;
      shown.append(chunk, static_cast<size_t>(n));
    }
    EXPECT_EQ(shown, c.out);
    close(in[1]);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    close(out[0]);
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0);
  }
}

TEST(Run, ShowsProgressAfterEvery5000thLine) {
  struct Case {
    int lines;
    std::string progress;
  };
  const Case cases[] = {
      {4999, ""},
      {5000, "5000        \r"},
      {14999, "5000        \r10000        \r"},
      {15000, "5000        \r10000        \r15000        \r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    Scratch dir;
    std::string input;
    for (int i = 0; i < c.lines; ++i) input += i % 2 ? "x\r\n" : "y\n";
    write_file(dir / "in.txt", input);
    Outcome o = dir.run({"-n", "in.txt", "out.txt"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.console(), c.progress + summary(c.lines, 0, 0));
  }
}
TEST(Run, IncompleteRunsFailWithStatus5) {
  struct Case {
    std::vector<std::string> args;
    std::string console, output;
  };
  const std::string no_write = "* Error: could not write output file!\n";
  const std::string no_log = "* Error: could not write log file!\n";
  const std::string nci = MOLSTAMP_SOURCE_DIR "/bench/data/nci-5k.inchi";
  const Case cases[] = {
      {{"in.txt", "/dev/full"}, kMixedSummary + no_write, ""},
      // The first checkpoint, after 256 KiB of input, stops it, whatever the threads.
      {{"-j1", nci, "/dev/full"}, summary(3236, 3236, 0) + no_write, ""},
      {{"-j2", nci, "/dev/full"}, summary(3236, 3236, 0) + no_write, ""},
      {{"-n", "in.txt", "/dev/full"}, kMixedSummary + no_write, ""},
      {{"in.txt", "out.txt", "/dev/full"}, kMixedSummary + no_log, kMixedOutput},
      {{"in.txt", "/dev/full", "/dev/full"}, kMixedSummary + no_write + no_log, ""},
      {{"cut.gz", "out.txt"}, "\n* Error: could not read input file!" + summary(0, 0, 0), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Scratch dir;
    write_file(dir / "in.txt", kMixedInput);
    write_file(dir / "cut.gz", "\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03"s);  // a header alone
    Outcome o = dir.run(c.args);
    EXPECT_EQ(o.status, 5);
    EXPECT_EQ(o.console(), c.console);
    if (fs::exists(dir / "out.txt")) {
      EXPECT_EQ(read_file(dir / "out.txt"), c.output);
    }
  }
}
#ifndef MOLSTAMP_SANITIZED  // the sanitizers' shadow memory needs the address space
// A file-size limit (ulimit -f) is a write error like a full disk: the
// output holds what fitted, and the run says so, whatever the threads.
TEST(Run, FileSizeLimitIsAWriteError) {
  // Real InChIs: their compressed output outgrows the limit too.
  const std::string input = read_file(MOLSTAMP_SOURCE_DIR "/bench/data/nci-5k.inchi");
  const std::string no_write = "* Error: could not write output file!\n";
  const std::string no_stdout = "* Error: could not write standard output!\n";
  struct Case {
    const char* name;
    std::string message;  // the console's last line
  };
  // Standard output under another name fails as "-" does.
  const Case cases[] = {{"out.txt", no_write}, {"out.zst", no_write}, {"/dev/stdout", no_stdout}};
  for (const char* jobs : {"-j1", "-j2"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(jobs) + " " + c.name);
      Scratch dir;
      write_file(dir / "in.txt", input);
      Outcome whole = dir.run({"in.txt", "whole.txt"});
      bool to_stdout = std::string(c.name) == "/dev/stdout";
      Env limited = to_stdout ? to("out.txt") : Env{};
      limited.file_size_limit = 20000;  // the captured console fits beside it
      Outcome o = dir.run({jobs, "in.txt", c.name}, limited);
      EXPECT_EQ(o.status, 5);
      const std::string& console = to_stdout ? o.err : o.out;
      ASSERT_GE(console.size(), c.message.size());
      EXPECT_EQ(console.substr(console.size() - c.message.size()), c.message) << console;
      if (std::string(c.name) != "out.zst") {
        EXPECT_EQ(read_file(dir / "out.txt"), read_file(dir / "whole.txt").substr(0, 20000));
      }
    }
  }
}

TEST(Run, LineTooLongForMemoryFailsWithStatus5AndKeepsEarlierLines) {
  Scratch dir;
  std::string head = "first\r\n" + kWater + "\n";
  write_file(dir / "in.txt", head + std::string(80 << 20, 'a') + "\nlast\n");
  Env limited;
  limited.address_limit = rlim_t{64} << 20;
  Outcome o = dir.run({"in.txt", "out.txt"}, limited);
  EXPECT_EQ(o.status, 5);
  EXPECT_EQ(o.console(), "\n* Error: could not process line 3 (too long)." + summary(2, 1, 0));
  EXPECT_EQ(read_file(dir / "out.txt"),
            "first\n" + kWater + "\nInChIKey=XLYOFNOQVPJJNP-UHFFFAOYSA-N\n");
}
#endif
#ifndef MOLSTAMP_SANITIZED  // the sanitizers' shadow memory needs the address space
// A candidate too long for the library's copies under an address-space
// limit: the library is not called (it would not survive the copy), and the
// line gets the library's out-of-memory warning instead of a crash.
TEST(Run, CandidateTooLongForTheLibrarysCopiesIsAWarning) {
  Scratch dir;
  write_file(dir / "in.txt",
             kWater + "\nInChI=1S/" + std::string(100'000'000, 'C') + "\n" + kMethane);
  for (const char* jobs : {"-j1", "-j2"}) {
    SCOPED_TRACE(jobs);
    Env limited;
    limited.address_limit = rlim_t{250} << 20;
    Outcome o = dir.run({jobs, "-n", "in.txt", "out.txt"}, limited);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.console(), summary(3, 2, 1));
    EXPECT_EQ(o.err,
              "Processing 'in.txt'...\nWarning: could not compute InChIKey for the line #2 (not "
              "enough memory to treat the string)\n");
    EXPECT_EQ(read_file(dir / "out.txt"),
              "InChIKey=XLYOFNOQVPJJNP-UHFFFAOYSA-N\nInChIKey=VNWKTOKETHGBQD-UHFFFAOYSA-N\n");
  }
}
#endif

// True when the file holds exactly count bytes of fill followed by tail.
bool holds_run_of(const fs::path& path, size_t count, char fill, const std::string& tail) {
  std::ifstream f(path, std::ios::binary);
  std::vector<char> chunk(1 << 20);
  while (count > 0) {
    size_t n = std::min(count, chunk.size());
    if (!f.read(chunk.data(), static_cast<std::streamsize>(n))) return false;
    for (size_t i = 0; i < n; ++i) {
      if (chunk[i] != fill) return false;
    }
    count -= n;
  }
  std::string rest(tail.size() + 1, '\0');
  f.read(rest.data(), static_cast<std::streamsize>(rest.size()));
  return f.gcount() == static_cast<std::streamsize>(tail.size()) &&
         rest.compare(0, tail.size(), tail) == 0;
}
TEST(Run, HundredMegabyteLineIsCopiedWhole) {
  const size_t kLine = 100'000'000;
  for (const std::string end : {"", "\r", "\r\n"}) {
    SCOPED_TRACE(testing::PrintToString(end));
    Scratch dir;
    {
      std::ofstream in(dir / "in.txt", std::ios::binary);
      std::string chunk(1'000'000, 'a');
      for (size_t i = 0; i < kLine / chunk.size(); ++i) in << chunk;
      in << end << "InChI=1S/H2O/h1H2";
    }
    Env piped = from("in.txt");
    piped.stdin_pipe = true;
    struct Run {
      std::vector<std::string> args;
      Env env;
    };
    // From a pipe too, where the line arrives 64 KiB at a time.
    const Run runs[] = {{{"-j1", "in.txt", "out.txt"}, {}},
                        {{"-j2", "in.txt", "out.txt"}, {}},
                        {{"-j2", "-", "out.txt"}, piped}};
    for (const Run& r : runs) {
      SCOPED_TRACE(testing::PrintToString(r.args));
      Outcome o = dir.run(r.args, r.env);
      EXPECT_EQ(o.status, 0);
      EXPECT_EQ(o.console(), summary(end.empty() ? 1 : 2, end.empty() ? 0 : 1, 0));
      std::string tail = end.empty()
                             ? "InChI=1S/H2O/h1H2\n"
                             : "\nInChI=1S/H2O/h1H2\nInChIKey=XLYOFNOQVPJJNP-UHFFFAOYSA-N\n";
      EXPECT_TRUE(holds_run_of(dir / "out.txt", kLine, 'a', tail));
#ifndef MOLSTAMP_SANITIZED
      // The line's buffer doubles up to 128 MiB for it; nothing else holds it.
      EXPECT_LT(o.max_rss_kib, long{2 * kLine / 1024});
#endif
    }
  }
}

// Table mode over the same kind of random bytes, TABs included, keyed on a
// field drawn at random: one row out per row in, with the model's keys.
TEST(Run, RandomTableMatchesTheModel) {
  std::mt19937 random(42);
  std::string bytes = random_input(5'000'000, 7);
  Scratch dir;
  write_file(dir / "in.bin", bytes);
  shell(dir, "gzip -c in.bin > in.gz");
  // Field 2 holds the InChI strings the generator plants after a TAB.
  const uint32_t fields[] = {2, static_cast<uint32_t>(1 + random() % 3),
                             static_cast<uint32_t>(1 + random() % 5)};
  for (uint32_t field : fields) {
    Expected e = model_run(bytes, field);
    if (field == 2) {
      ASSERT_GT(e.added, 100);
    }
    for (const std::string input : {"in.bin", "in.gz"}) {
      SCOPED_TRACE(input + " -t " + std::to_string(field));
      Outcome o = dir.run({"-t", std::to_string(field), input, "out.txt", "log.txt"});
      EXPECT_EQ(o.status, 0);
      EXPECT_EQ(o.console(), e.console);
      EXPECT_TRUE(read_file(dir / "out.txt") == e.output);
      EXPECT_EQ(read_file(dir / "log.txt"), "Processing '" + input + "'...\n" + e.warnings);
    }
  }
}
// The example tables, made with an independent implementation: the key that
// molstamp appends equals the key column already there.
TEST(Run, ExampleTablesGetTheKeysTheyHold) {
  struct Case {
    std::string table;
    std::vector<std::string> switches;
    uint32_t key_column;
    bool header;
    char delimiter;
  };
  const Case cases[] = {
      {"pubchem-like.tsv", {"-t", "2"}, 3, false, '\t'},
      {"chembl-like.tsv", {"-H", "-t3"}, 4, true, '\t'},
      {"chembl-like.csv", {"-d", ",", "-H", "-t3"}, 4, true, ','},  // written by pandas
  };
  for (const Case& c : cases) {
    std::string table = read_file(fs::path(MOLSTAMP_SOURCE_DIR) / "examples" / c.table);
    std::string with_keys, keys;
    size_t rows = 0;
    for (const std::string& row : model_lines(table)) {
      std::string key = rows++ == 0 && c.header ? "InChIKey"
                        : c.delimiter == '\t'   ? *model_field(row, c.key_column)
                                                : *model_csv_field(row, c.key_column, c.delimiter);
      with_keys += row + c.delimiter + key + "\n";
      keys += key + "\n";
    }
    ASSERT_GE(rows, 8u);
    Scratch dir;
    write_file(dir / "in.tsv", table);
    shell(dir, "gzip -c in.tsv > in.tsv.gz");
    struct Run {
      std::vector<std::string> args;
      std::string unpack, output;
    };
    const Run runs[] = {
        {{"in.tsv", "out.tsv"}, "cat out.tsv", with_keys},
        {{"-n", "in.tsv", "out.tsv"}, "cat out.tsv", keys},
        {{"in.tsv.gz", "out.tsv.zst"}, "zstd -qdc out.tsv.zst", with_keys},
    };
    for (const Run& r : runs) {
      std::vector<std::string> args = c.switches;
      args.insert(args.end(), r.args.begin(), r.args.end());
      SCOPED_TRACE(testing::PrintToString(args));
      Outcome o = dir.run(args);
      EXPECT_EQ(o.status, 0);
      int64_t keyed = static_cast<int64_t>(rows) - (c.header ? 1 : 0);
      EXPECT_EQ(o.console(), summary(static_cast<int64_t>(rows), keyed, 0));
      shell(dir, r.unpack + " > unpacked.tsv");
      EXPECT_EQ(read_file(dir / "unpacked.tsv"), r.output);
    }
    Env piped = from("in.tsv.gz");
    piped.stdin_pipe = true;
    std::vector<std::string> args = c.switches;
    args.insert(args.end(), {"-", "-"});
    Outcome o = dir.run(args, piped);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, with_keys);
  }
}

// Check mode end to end: the report, the summary and the statuses, with the
// fault statuses before the check's own.
TEST(Run, CheckModeReportsAndFails) {
  const std::string pairs = kBenzene + "\nInChIKey=UHOVQNZJYSORNB-UHFFFAOYSA-N\n" + kWater +
                            "\r\nInChIKey=XLYOFNOQVPJJNP-UHFFFAOYSA-N\r\n";
  const std::string header = "line\tverdict\tstored_key\tcomputed_key\tinchi\n";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string console, report;
  };
  const std::string checked4 = "\nInChIKey: checked 4: agree 2, differ 0, missing 2, failed 0.\n";
  const std::string damaged =
      "\n* Error: could not read input file!\nCompleted processing of 7 lines.\nInChIKey: "
      "checked 3: agree 2, differ 0, missing 1, failed 0.\n\nElapsed time: T\n";
  const std::string damaged_report =
      header + "5\tmissing\t\tUHOVQNZJYSORNB-UHFFFAOYSA-N\t" + kBenzene + "\n";
  const Case cases[] = {
      {{"-c", "pairs.txt", "report.txt"},
       0,
       "\nCompleted processing of 4 lines.\nInChIKey: checked 2: agree 2, differ 0, missing 0, "
       "failed 0.\n\nElapsed time: T\n",
       header},
      {{"-c", "twice.txt", "report.txt"},
       6,
       "\nCompleted processing of 7 lines." + checked4 + "\nElapsed time: T\n",
       header + "5\tmissing\t\tUHOVQNZJYSORNB-UHFFFAOYSA-N\t" + kBenzene +
           "\n7\tmissing\t\tXLYOFNOQVPJJNP-UHFFFAOYSA-N\t" + kWater + "\n"},
      // A wrong field checks nothing, and that must not pass.
      {{"-c", "-t", "9", "pairs.txt", "report.txt"},
       6,
       "\n* Warning: no InChI to check!\nCompleted processing of 4 lines.\nInChIKey: checked 0: "
       "agree 0, differ 0, missing 0, failed 0.\n\nElapsed time: T\n",
       header},
      {{"-c", "empty.txt", "report.txt"},
       6,
       "\n* Warning: no InChI to check!\nCompleted processing of 0 lines.\nInChIKey: checked 0: "
       "agree 0, differ 0, missing 0, failed 0.\n\nElapsed time: T\n",
       header},
      // A read error after a difference is a failed run first; the last
      // candidate, whose key line the damage may have taken, gets no verdict.
      {{"-c", "cut.gz", "report.txt"}, 5, damaged, damaged_report},
      {{"-j2", "-c", "cut.gz", "report.txt"}, 5, damaged, damaged_report},
      {{"-c", "-n", "pairs.txt", "report.txt"}, 1, "Error: -n does not go with -c\n" + kUsage, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Scratch dir;
    write_file(dir / "pairs.txt", pairs);
    write_file(dir / "twice.txt", pairs + kBenzene + "\nname\n" + kWater);
    write_file(dir / "empty.txt", "");
    shell(dir, "{ cat twice.txt; echo; } | gzip -c > cut.gz && echo damage >> cut.gz");
    Outcome o = dir.run(c.args);
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.console(), c.console);
    if (c.status != 1) {
      EXPECT_EQ(read_file(dir / "report.txt"), c.report);
    } else {
      EXPECT_FALSE(fs::exists(dir / "report.txt"));
    }
  }
}

// CSV tables end to end: quoted InChIs with commas, a quoted field over two
// lines, CR LF records, a header, -n, a European ';', check mode, and a quote
// left open at the end (its record is keyed and written whole: the library
// reads an InChI up to its first line end).
TEST(Run, CsvTables) {
  const std::string ethanol = "InChI=1S/C2H6O/c1-2-3/h3H,2H2,1H3";
  const std::string csv = "id,inchi,name\r\n1,\"" + ethanol + "\",\"ethanol, \"\"abs\"\"\"\r\n" +
                          "2,\"" + kWater + "\",\"two\nlines\"\r\n3," + kMethane + ",x\r\n";
  const std::string keyed = "id,inchi,name,InChIKey\n1,\"" + ethanol +
                            "\",\"ethanol, \"\"abs\"\"\",LFQSCWFLJHTTHZ-UHFFFAOYSA-N\n2,\"" +
                            kWater + "\",\"two\nlines\",XLYOFNOQVPJJNP-UHFFFAOYSA-N\n3," +
                            kMethane + ",x,VNWKTOKETHGBQD-UHFFFAOYSA-N\n";
  const std::string stored = "1;\"" + ethanol + "\";LFQSCWFLJHTTHZ-UHFFFAOYSA-N\n2;\"" + kWater +
                             "\";\"InChIKey=XLYOFNOQVPJJNP-UHFFFAOYSA-N\"\n3;\"" + kMethane +
                             "\";\"XLYOFNOQVPJJNP-UHFFFAOYSA-N\"\n";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string console, output;
  };
  const Case cases[] = {
      {{"-d", ",", "-H", "-t", "2", "in.csv", "out.csv"}, 0, summary(4, 3, 0), keyed},
      {{"-d,", "-H", "-t2", "-n", "in.csv", "out.csv"},
       0,
       summary(4, 3, 0),
       "InChIKey\nLFQSCWFLJHTTHZ-UHFFFAOYSA-N\nXLYOFNOQVPJJNP-UHFFFAOYSA-N\n"
       "VNWKTOKETHGBQD-UHFFFAOYSA-N\n"},
      // The record over two lines is one line for the counts.
      {{"-d", ",", "-t", "3", "in.csv", "out.csv"}, 0, summary(4, 0, 0), ""},
      {{"-c", "-d", ";", "-t", "2", "stored.csv", "out.csv"},
       6,
       "\nCompleted processing of 3 lines.\nInChIKey: checked 3: agree 2, differ 1, missing 0, "
       "failed 0.\n\nElapsed time: T\n",
       "line\tverdict\tstored_key\tcomputed_key\tinchi\n3\tdiffers\tXLYOFNOQVPJJNP-UHFFFAOYSA-N\t"
       "VNWKTOKETHGBQD-UHFFFAOYSA-N\t" +
           kMethane + "\n"},
      // A byte order mark before a quoted first field: two records, not three.
      {{"-n", "-d", ",", "-t", "2", "bom.csv", "out.csv"},
       0,
       summary(2, 2, 0),
       "XLYOFNOQVPJJNP-UHFFFAOYSA-N\nVNWKTOKETHGBQD-UHFFFAOYSA-N\n"},
      // Text after a closing quote is plain: the records stay apart.
      {{"-d", ",", "-t", "2", "after.csv", "out.csv"},
       0,
       summary(2, 2, 0),
       "1,\"" + kWater + "\" ,XLYOFNOQVPJJNP-UHFFFAOYSA-N\n2,\"" + kMethane +
           "\",VNWKTOKETHGBQD-UHFFFAOYSA-N\n"},
      {{"-d", ",", "-t", "2", "open.csv", "out.csv"},
       5,
       "\n* Error: the input ends inside a quoted field that begins in line #2!" + summary(2, 2, 0),
       "1," + kWater + ",XLYOFNOQVPJJNP-UHFFFAOYSA-N\n2,\"" + ethanol +
           "\nmore\n,LFQSCWFLJHTTHZ-UHFFFAOYSA-N\n"},
  };
  for (const Case& c : cases) {
    for (const char* jobs : {"-j1", "-j2"}) {
      std::vector<std::string> args = c.args;
      args.insert(args.begin(), jobs);
      SCOPED_TRACE(testing::PrintToString(args));
      Scratch dir;
      write_file(dir / "in.csv", csv);
      write_file(dir / "stored.csv", stored);
      write_file(dir / "open.csv", "1," + kWater + "\n2,\"" + ethanol + "\nmore\n");
      write_file(dir / "bom.csv",
                 "\xef\xbb\xbf\"water\nliquid\"," + kWater + ",x\nmethane," + kMethane + ",y\n");
      write_file(dir / "after.csv", "1,\"" + kWater + "\" \n2,\"" + kMethane + "\"\n");
      Outcome o = dir.run(args);
      EXPECT_EQ(o.status, c.status);
      EXPECT_EQ(o.console(), c.console);
      if (!c.output.empty()) {
        EXPECT_EQ(read_file(dir / "out.csv"), c.output);
      }
    }
  }
}

}  // namespace

namespace {

// Columns named by the header give what their numbers give, on every
// thread count; a name the header lacks is a usage error that touches no
// file.
TEST(Run, ColumnsByTheirHeadersNames) {
  const std::string tsv = "molregno\tstandard_inchi\tstandard_inchi_key\n1\t" + kWater +
                          "\tXLYOFNOQVPJJNP-UHFFFAOYSA-N\n2\t" + kMethane +
                          "\tXLYOFNOQVPJJNP-UHFFFAOYSA-N\n";
  const std::string csv = "\xef\xbb\xbf\"id\",\"standard_inchi\",\"the key\"\r\n1,\"" + kWater +
                          "\",XLYOFNOQVPJJNP-UHFFFAOYSA-N\r\n";
  struct Case {
    std::vector<std::string> named, numbered;
  };
  const Case cases[] = {
      {{"-H", "-t", "standard_inchi", "in.tsv", "out.txt"}, {"-H", "-t", "2", "in.tsv", "out.txt"}},
      {{"-c", "-H", "-t", "standard_inchi", "-k", "standard_inchi_key", "in.tsv", "out.txt"},
       {"-c", "-H", "-t", "2", "-k", "3", "in.tsv", "out.txt"}},
      {{"-c", "-H", "-k", "molregno", "-tstandard_inchi", "in.tsv", "out.txt"},
       {"-c", "-H", "-k", "1", "-t2", "in.tsv", "out.txt"}},
      {{"-d", ",", "-H", "-t", "standard_inchi", "in.csv", "out.txt"},
       {"-d", ",", "-H", "-t", "2", "in.csv", "out.txt"}},
      {{"-c", "-d", ",", "-H", "-t", "2", "-k", "the key", "in.csv", "out.txt"},
       {"-c", "-d", ",", "-H", "-t", "2", "-k", "3", "in.csv", "out.txt"}},
  };
  for (const Case& c : cases) {
    for (const char* jobs : {"-j1", "-j2"}) {
      SCOPED_TRACE(testing::PrintToString(c.named) + jobs);
      Scratch dir;
      write_file(dir / "in.tsv", tsv);
      write_file(dir / "in.csv", csv);
      std::vector<std::string> numbered = c.numbered, named = c.named;
      numbered.insert(numbered.begin(), jobs);
      named.insert(named.begin(), jobs);
      Outcome want = dir.run(numbered);
      std::string want_output = read_file(dir / "out.txt");
      Outcome got = dir.run(named);
      EXPECT_EQ(got.status, want.status);
      EXPECT_EQ(got.console(), want.console());
      EXPECT_EQ(got.err, want.err);
      EXPECT_EQ(read_file(dir / "out.txt"), want_output);
    }
  }
  // A compressed output of -j: the header, read first, stays first.
  for (const char* jobs : {"-j1", "-j2"}) {
    SCOPED_TRACE(jobs);
    Scratch dir;
    std::string rows = tsv;
    for (int i = 0; i < 3000; ++i) rows += std::to_string(i) + "\t" + kBenzene + "\tx\n";
    write_file(dir / "in.tsv", rows);
    ASSERT_EQ(dir.run({"-H", "-t", "2", "in.tsv", "want.txt"}).status, 0);
    ASSERT_EQ(dir.run({jobs, "-H", "-t", "standard_inchi", "in.tsv", "out.gz"}).status, 0);
    shell(dir, "gzip -dc out.gz > got.txt");
    EXPECT_EQ(read_file(dir / "got.txt"), read_file(dir / "want.txt"));
  }
  const std::vector<std::vector<std::string>> unknown = {
      {"-H", "-t", "inchi", "in.tsv", "kept.txt"},
      {"-j2", "-c", "-H", "-t", "standard_inchi", "-k", "key", "in.tsv", "kept.txt"},
      {"-H", "-t", "standard_inchi", "empty.tsv", "kept.txt"},
  };
  for (const auto& args : unknown) {
    SCOPED_TRACE(testing::PrintToString(args));
    Scratch dir;
    write_file(dir / "in.tsv", tsv);
    write_file(dir / "empty.tsv", "");
    write_file(dir / "kept.txt", "kept");
    Outcome o = dir.run(args);
    EXPECT_EQ(o.status, 1);
    std::string name = args[args.size() - 3];
    EXPECT_EQ(o.out, "Error: the header has no column '" + name + "'\n");
    EXPECT_EQ(read_file(dir / "kept.txt"), "kept");
  }
}

}  // namespace
