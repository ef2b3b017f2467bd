// End to end: the built binary in a scratch directory, with exact console,
// log and output bytes and exit statuses.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "line_model.h"
#include "molstamp.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

const std::string kUsage =
    "Demo program illustrating usage of InChIKey API.\n"
    "Copies the file to output file adding InChIKey string as a separate line after\n"
    "each found line containing a single InChI string (LF-terminated)\n"
    "\nUsage: molstamp [switches] input file name [output file name [log file name] ]"
    "\n       switches:"
    "\n       -n      do not copy source to output, just print keys."
    "\n       -h      print this text and exit (also --help)."
    "\n       --version print the version and exit."
    "\n       --      end of switches; a file name - is standard input or output."
    "\n       -t N    table: key field N of TAB-separated lines, as a last field."
    "\n       -H      with -t: the first line is a header."
    "\n       -j N    N threads (0: one per processor), same output as -j 1."
    "\n\n"
    "!This program is only for demo purposes!\nIt only weakly checks if the input is valid InChI "
    "string.\n";

const std::string kNoOutputName = "* Warning: got no output file name, using 'InChIKeys.txt'.\n";

// The summary, with the elapsed seconds written as "T" (see Outcome::console).
std::string summary(int64_t lines, int64_t added, int64_t failed) {
  return "\nCompleted processing of " + std::to_string(lines) + " lines." + "\nInChIKey: added " +
         std::to_string(added) + ", failed " + std::to_string(failed) + ".\n" +
         "\nElapsed time: T\n";
}

std::string read_file(const fs::path& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

struct Outcome {
  int status = -1;
  std::string out, err;
  long max_rss_kib = 0;  // the tool's peak resident memory
  // Standard output with the run's elapsed seconds replaced by "T".
  std::string console() const {
    static const std::regex elapsed("\nElapsed time: -?[0-9]+\n");
    return std::regex_replace(out, elapsed, "\nElapsed time: T\n");
  }
};

// How a run's standard streams and limits are set up.
struct Env {
  std::string stdin_path;       // empty: /dev/null; relative names are in work/
  std::string stdout_path;      // empty: captured; else appended to, not captured
  rlim_t address_limit = 0;     // > 0 caps the tool's address space
  bool console_closed = false;  // start with standard input and output closed
  bool stdin_pipe = false;      // feed stdin_path through a pipe, not as a file
  bool broken_pipe = false;     // stdout: a pipe nobody reads, SIGPIPE ignored
  bool stdout_pipe = false;     // stdout: a pipe into stdout_path (or the capture)
  std::string stderr_path;      // empty: captured; else appended to, not captured
  bool stderr_closed = false;   // start with standard error closed
  bool stderr_on_stdout = false;  // 2>&1
};

Env from(const std::string& stdin_path) {
  Env e;
  e.stdin_path = stdin_path;
  return e;
}

Env to(const std::string& stdout_path) {
  Env e;
  e.stdout_path = stdout_path;
  return e;
}

// In a forked child: a pipe whose other end a further child fills from fd.
int pipe_from(int fd) {
  int ends[2];
  if (pipe(ends) != 0) _exit(126);
  if (fork() == 0) {
    close(ends[0]);
    char chunk[65536];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0) {
      if (write(ends[1], chunk, static_cast<size_t>(n)) != n) _exit(1);
    }
    _exit(0);
  }
  close(ends[1]);
  return ends[0];
}

// A scratch directory: the tool runs in work/, its console goes beside it.
class Scratch {
 public:
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "molstamp-test-XXXXXX").string();
    root_ = mkdtemp(pattern.data());
    fs::create_directory(work());
  }
  ~Scratch() { fs::remove_all(root_); }
  fs::path work() const { return root_ / "work"; }
  fs::path operator/(const std::string& name) const { return work() / name; }

  // Runs the tool with args in the environment env.
  Outcome run(const std::vector<std::string>& args, const Env& env = {}) const {
    fs::path out = root_ / "stdout", err = root_ / "stderr";
    int copied[2] = {-1, -1};  // with stdout_pipe: the tool writes [1], we copy [0]
    if (env.stdout_pipe && pipe(copied) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
      int in_fd =
          open(env.stdin_path.empty() ? "/dev/null" : in_work(env.stdin_path).c_str(), O_RDONLY);
      int out_fd = env.stdout_path.empty() ? open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)
                                           : open(in_work(env.stdout_path).c_str(),
                                                  O_WRONLY | O_CREAT | O_APPEND, 0644);
      int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (in_fd < 0 || out_fd < 0 || err_fd < 0) _exit(126);
      if (!env.stderr_path.empty()) {
        close(err_fd);
        err_fd = open(in_work(env.stderr_path).c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (err_fd < 0) _exit(126);
      }
      if (env.stdin_pipe) in_fd = pipe_from(in_fd);
      if (env.stdout_pipe) out_fd = copied[1];
      if (env.broken_pipe) {
        int ends[2];
        if (pipe(ends) != 0) _exit(126);
        close(ends[0]);
        out_fd = ends[1];
        signal(SIGPIPE, SIG_IGN);  // kept across exec
      }
      dup2(in_fd, 0);
      dup2(out_fd, 1);
      dup2(env.stderr_on_stdout ? out_fd : err_fd, 2);
      if (env.console_closed) {
        close(0);
        close(1);
      }
      if (env.stderr_closed) close(2);
      if (env.address_limit > 0) {
        rlimit limit{env.address_limit, env.address_limit};
        setrlimit(RLIMIT_AS, &limit);
      }
      exec_tool(args);
    }
    if (env.stdout_pipe) {
      close(copied[1]);
      int to = env.stdout_path.empty()
                   ? open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)
                   : open(in_work(env.stdout_path).c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      char chunk[65536];
      ssize_t n;
      while ((n = read(copied[0], chunk, sizeof chunk)) > 0) {
        EXPECT_EQ(write(to, chunk, static_cast<size_t>(n)), n);
      }
      close(to);
      close(copied[0]);
    }
    int wstatus = 0;
    rusage usage{};
    wait4(pid, &wstatus, 0, &usage);
    Outcome o;
    o.max_rss_kib = usage.ru_maxrss;
    o.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    o.out = env.stdout_path.empty() ? read_file(out) : "";
    o.err = env.stderr_path.empty() ? read_file(err) : "";
    return o;
  }

  // An absolute path stays; a relative one is taken in work/.
  fs::path in_work(const std::string& path) const {
    return path[0] == '/' ? fs::path(path) : work() / path;
  }

  // In a forked child: runs the tool in work/ with args, never returns.
  [[noreturn]] void exec_tool(const std::vector<std::string>& args) const {
    std::vector<char*> argv{const_cast<char*>(MOLSTAMP_BINARY)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (chdir(work().c_str()) == 0) execv(argv[0], argv.data());
    _exit(127);
  }

  std::set<std::string> files() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(work()))
      names.insert(entry.path().filename().string());
    return names;
  }

 private:
  fs::path root_;
};

// Runs a shell command in dir's work/; fails the test when it fails.
void shell(const Scratch& dir, const std::string& command);

const std::string kBenzene = "InChI=1S/C6H6/c1-2-4-6-5-3-1/h1-6H";
const std::string kWater = "InChI=1S/H2O/h1H2";
const std::string kMethane = "InChI=1S/CH4/h1H4";

// Comments, blank lines, every line end, a NUL byte, a non-candidate, a
// library failure that is logged (line 6) and one that is not (line 7).
const std::string kMixedInput = "# comment\r\n" + kBenzene + "\r\n\r\n" + kWater +
                                "\ninchi=1S/H2O/h1H2\nInChI=1S/\rInC\nx\0y\n"s + kMethane;
const std::string kMixedKeys =
    "InChIKey=UHOVQNZJYSORNB-UHFFFAOYSA-N\n"
    "InChIKey=XLYOFNOQVPJJNP-UHFFFAOYSA-N\n"
    "InChIKey=VNWKTOKETHGBQD-UHFFFAOYSA-N\n";
const std::string kMixedOutput = "# comment\n" + kBenzene +
                                 "\nInChIKey=UHOVQNZJYSORNB-UHFFFAOYSA-N\n\n" + kWater +
                                 "\nInChIKey=XLYOFNOQVPJJNP-UHFFFAOYSA-N\n"
                                 "inchi=1S/H2O/h1H2\nInChI=1S/\nInC\nx\0y\n"s +
                                 kMethane + "\nInChIKey=VNWKTOKETHGBQD-UHFFFAOYSA-N\n";
const std::string kMixedLog =
    "Processing 'in.txt'...\n"
    "Warning: could not compute InChIKey for the line #6 (unresolved program error)\n";
const std::string kMixedSummary = summary(9, 3, 2);

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

TEST(Run, RefusesBadCommandLinesAndUnopenableFiles) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string console;
  };
  const std::string out_is_in = "* Error: output file is the input file!\n";
  const std::string log_is_in = "* Error: log file is the input file!\n";
  const std::string log_is_out = "* Error: log file is the output file!\n";
  const Case cases[] = {
      {{}, 0, kUsage},
      {{"-x", "in.txt", "out.txt"}, 1, "Error: unknown key 'x'\n" + kUsage},
      {{"-n", "-N", "in.txt"}, 1, "Error: unknown key 'N'\n" + kUsage},
      {{"--n", "in.txt"}, 1, "Error: unknown key '-'\n" + kUsage},
      {{"-hx", "in.txt"}, 1, "Error: unknown key 'h'\n" + kUsage},
      {{"-in.txt"}, 1, "Error: unknown key 'i'\n" + kUsage},
      {{"-n"}, 2, "* Error: could not open input file!\n"},
      {{""}, 2, "* Error: could not open input file!\n"},
      {{"missing.txt", "out.txt"}, 2, "* Error: could not open input file!\n"},
      {{"in.txt", ""}, 3, "* Error: could not open output file!\n"},
      {{"in.txt", "no/dir/out.txt"}, 3, "* Error: could not open output file!\n"},
      {{"in.txt", "sub"}, 3, "* Error: could not open output file!\n"},
      {{"in.txt", "in.txt"}, 3, out_is_in},
      {{"in.txt", "./sub/../in.txt"}, 3, out_is_in},
      {{"in.txt", "hard.txt"}, 3, out_is_in},
      {{"in.txt", "soft.txt"}, 3, out_is_in},
      {{"soft.txt", "hard.txt"}, 3, out_is_in},
      {{"InChIKeys.txt"}, 3, kNoOutputName + out_is_in},
      {{"in.txt", "out.txt", "no/dir/log.txt"}, 4, "* Error: could not open log file!\n"},
      {{"in.txt", "out.txt", "in.txt"}, 4, log_is_in},
      {{"in.txt", "out.txt", "hard.txt"}, 4, log_is_in},
      {{"in.txt", "out.txt", "soft.txt"}, 4, log_is_in},
      {{"in.txt", "out.txt", "out.txt"}, 4, log_is_out},
      {{"in.txt", "out.txt", "soft-out.txt"}, 4, log_is_out},
      // A refusal found late still touches nothing that was there before.
      {{"in.txt", "kept.txt", "no/dir/log.txt"}, 4, "* Error: could not open log file!\n"},
      {{"in.txt", "kept.txt", "in.txt"}, 4, log_is_in},
      {{"in.txt", "kept.txt", "kept.txt"}, 4, log_is_out},
      {{"sub", "kept.txt"}, 2, "* Error: could not open input file!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Scratch dir;
    write_file(dir / "in.txt", kMixedInput);
    write_file(dir / "InChIKeys.txt", kMixedInput);
    fs::create_directory(dir / "sub");
    fs::create_hard_link(dir / "in.txt", dir / "hard.txt");
    fs::create_symlink("in.txt", dir / "soft.txt");
    fs::create_symlink("out.txt", dir / "soft-out.txt");  // dangling until the run
    write_file(dir / "kept.txt", "kept");
    // A file this run created for a run it abandons is gone again.
    std::set<std::string> files{"in.txt",   "InChIKeys.txt", "sub",     "kept.txt",
                                "hard.txt", "soft.txt",      "soft-out.txt"};

    Outcome o = dir.run(c.args);
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.out, c.console);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(dir.files(), files);
    EXPECT_EQ(read_file(dir / "in.txt"), kMixedInput);
    EXPECT_EQ(read_file(dir / "InChIKeys.txt"), kMixedInput);
    EXPECT_EQ(read_file(dir / "kept.txt"), "kept");
  }
}

// "-" names standard input and output; with the annotated copy on standard
// output, the console moves to standard error.
TEST(Run, StandardStreamsAndHelp) {
  struct Case {
    std::vector<std::string> args;
    Env env;
    int status;
    std::string out, err;     // console() of standard output, and standard error
    std::string file, bytes;  // a file in work/ afterwards, when named
  };
  const std::string log_of_stdin =
      "Processing '-'...\n"
      "Warning: could not compute InChIKey for the line #6 (unresolved program error)\n";
  const std::string no_stdout = "* Error: could not write standard output!\n";
  const std::string version = "molstamp " MOLSTAMP_VERSION "\n";
  Env broken;
  broken.broken_pipe = true;
  const Case cases[] = {
      {{"-", "-"}, from("in.txt"), 0, kMixedOutput, log_of_stdin + kMixedSummary, "", ""},
      {{"-", "out.txt"}, from("in.txt"), 0, kMixedSummary, log_of_stdin, "out.txt", kMixedOutput},
      {{"-n", "-", "-", "-"}, from("in.txt"), 0, kMixedKeys, log_of_stdin + kMixedSummary, "", ""},
      {{"in.txt", "-", "log.txt"}, {}, 0, kMixedOutput, kMixedSummary, "log.txt", kMixedLog},
      {{"-", "-"}, from("empty.txt"), 0, "", "Processing '-'...\n" + summary(0, 0, 0), "", ""},
      {{"--", "-n", "out.txt"},
       {},
       0,
       summary(1, 0, 0),
       "Processing '-n'...\n",
       "out.txt",
       "dash\n"},
      {{"--help"}, {}, 0, kUsage, "", "", ""},
      {{"-h", "in.txt", "out.txt"}, {}, 0, kUsage, "", "", ""},
      {{"-n", "--version", "in.txt"}, {}, 0, version, "", "", ""},
      // Never write over the input, whichever way it comes in or goes out.
      {{"-", "in.txt"},
       from("in.txt"),
       3,
       "* Error: output file is the input file!\n",
       "",
       "in.txt",
       kMixedInput},
      {{"-", "out.txt", "hard.txt"},
       from("in.txt"),
       4,
       "* Error: log file is the input file!\n",
       "",
       "in.txt",
       kMixedInput},
      {{"in.txt", "-"},
       to("in.txt"),
       3,
       "",
       "* Error: output file is the input file!\n",
       "in.txt",
       kMixedInput},
      {{"in.txt", "-", "out.txt"},
       to("out.txt"),
       4,
       "",
       "* Error: log file is the output file!\n",
       "out.txt",
       "kept"},
      {{"missing.txt", "-"}, {}, 2, "", "* Error: could not open input file!\n", "", ""},
      // A console that cannot be written is a failed run.
      {{"in.txt", "out.txt"},
       to("/dev/full"),
       5,
       "",
       kMixedLog + no_stdout,
       "out.txt",
       kMixedOutput},
      {{"in.txt", "-"}, to("/dev/full"), 5, "", kMixedLog + kMixedSummary + no_stdout, "", ""},
      {{"--version"}, to("/dev/full"), 5, "", no_stdout, "", ""},
      {{"in.txt", "-"}, broken, 5, "", kMixedLog + kMixedSummary + no_stdout, "", ""},
      {{"-j2", "in.txt", "-"}, broken, 5, "", kMixedLog + kMixedSummary + no_stdout, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Scratch dir;
    write_file(dir / "in.txt", kMixedInput);
    write_file(dir / "empty.txt", "");
    write_file(dir / "-n", "dash\n");
    write_file(dir / "out.txt", "kept");
    fs::create_hard_link(dir / "in.txt", dir / "hard.txt");
    Outcome o = dir.run(c.args, c.env);
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.console(), c.out);
    std::regex elapsed("\nElapsed time: -?[0-9]+\n");
    EXPECT_EQ(std::regex_replace(o.err, elapsed, "\nElapsed time: T\n"), c.err);
    if (!c.file.empty()) {
      EXPECT_EQ(read_file(dir / c.file), c.bytes);
    }
  }
}

// Standard streams under other names, and everything that would write over
// the input or mix the console or log into the output: the same bytes as
// with "-", or a refusal before any file is touched.
TEST(Run, StandardStreamsUnderOtherNamesAndRefusals) {
  struct Case {
    std::vector<std::string> args;
    Env env;
    int status;
    std::string out, err;  // captured standard output (console()) and error
    std::vector<std::pair<std::string, std::optional<std::string>>> files;  // nullopt: absent
  };
  const std::string to_stderr = kMixedLog + kMixedSummary;
  const std::string no_stderr = "* Error: could not write standard error!\n";
  const std::string log_is_out = "* Error: log file is the output file!\n";
  auto env = [](auto set) {
    Env e;
    set(e);
    return e;
  };
  Env into_f = to("f.out");
  Env piped_into_f = env([](Env& e) {
    e.stdout_path = "f.out";
    e.stdout_pipe = true;
  });
  Env stderr_into_in = env([](Env& e) { e.stderr_path = "in.txt"; });
  Env stderr_full = env([](Env& e) { e.stderr_path = "/dev/full"; });
  const Case cases[] = {
      {{"in.pz.zst", "out.txt"},
       {},
       0,
       kMixedSummary,
       "Processing 'in.pz.zst'...\n" + kMixedLog.substr(kMixedLog.find('\n') + 1),
       {{"out.txt", kMixedOutput}}},
      // The output is standard output under another name: the console moves.
      {{"in.txt", "/dev/stdout"}, into_f, 0, "", to_stderr, {{"f.out", kMixedOutput}}},
      {{"in.txt", "/dev/stdout"}, piped_into_f, 0, "", to_stderr, {{"f.out", kMixedOutput}}},
      {{"-j2", "in.txt", "/proc/self/fd/1"}, piped_into_f, 0, "", to_stderr, {{"f.out", kMixedOutput}}},
      {{"in.txt", "kept.txt"}, to("kept.txt"), 0, "", to_stderr, {{"kept.txt", "kept\n" + kMixedOutput}}},
      {{"in.txt", "-", "/dev/stderr"}, {}, 0, kMixedOutput, to_stderr, {}},
      // Nothing is written over the input through a standard stream.
      {{"in.txt", "out.txt"},
       to("in.txt"),
       3,
       "",
       "* Error: standard output is the input file!\n",
       {{"in.txt", kMixedInput}, {"out.txt", std::nullopt}}},
      {{"in.txt", "out.txt", "-"},
       stderr_into_in,
       4,
       "* Error: log file is the input file!\n",
       "",
       {{"in.txt", kMixedInput}, {"out.txt", std::nullopt}}},
      {{"in.txt", "kept.txt"}, stderr_into_in, 4, "* Error: log file is the input file!\n", "",
       {{"in.txt", kMixedInput}, {"kept.txt", "kept\n"}}},
      {{"in.txt", "-"}, stderr_into_in, 4, "", "", {{"in.txt", kMixedInput}}},
      // A log in the output's FIFO or pipe, or the console in the output.
      {{"in.txt", "fifo", "fifo"}, {}, 4, log_is_out, "", {}},
      {{"in.txt", "-", "/dev/stdout"}, env([](Env& e) { e.stdout_pipe = true; }), 4, "", log_is_out,
       {}},
      {{"in.txt", "-", "log.txt"},
       env([](Env& e) { e.stderr_on_stdout = true; }),
       4,
       "* Error: standard error is the output file!\n",
       "",
       {{"log.txt", std::nullopt}}},
      // Standard error is checked like the log file it stands for.
      {{"in.txt", "out.txt"}, stderr_full, 5, kMixedSummary + no_stderr, "",
       {{"out.txt", kMixedOutput}}},
      {{"in.txt", "out.txt", "-"}, env([](Env& e) { e.stderr_closed = true; }), 5,
       kMixedSummary + no_stderr, "", {{"out.txt", kMixedOutput}}},
      {{"-j2", "in.txt", "-"}, stderr_full, 5, kMixedOutput, "", {}},
      {{"in.txt", "out.txt", "log.txt"}, stderr_full, 0, kMixedSummary, "",
       {{"log.txt", kMixedLog}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Scratch dir;
    write_file(dir / "in.txt", kMixedInput);
    write_file(dir / "kept.txt", "kept\n");
    shell(dir, "pzstd -q -p 2 -c in.txt > in.pz.zst");
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    Outcome o = dir.run(c.args, c.env);
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.console(), c.out);
    static const std::regex elapsed("\nElapsed time: -?[0-9]+\n");
    EXPECT_EQ(std::regex_replace(o.err, elapsed, "\nElapsed time: T\n"), c.err);
    for (const auto& [name, bytes] : c.files) {
      SCOPED_TRACE(name);
      EXPECT_EQ(fs::exists(dir / name), bytes.has_value());
      if (bytes && fs::exists(dir / name)) {
        std::string got = std::regex_replace(read_file(dir / name), elapsed, "\nElapsed time: T\n");
        EXPECT_TRUE(got == *bytes) << testing::PrintToString(got);
      }
    }
  }
}

TEST(Run, DevicesMayBeSharedByOutputAndLog) {
  Scratch dir;
  write_file(dir / "in.txt", kMixedInput);
  Outcome o = dir.run({"in.txt", "/dev/null", "/dev/null"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.console(), kMixedSummary);
}

TEST(Run, ClosedConsoleDoesNotLeakIntoTheOutput) {
  // Enough lines for the progress prints to fill and flush standard output.
  std::string filler;
  for (int i = 0; i < 2'000'000; ++i) filler += "x\n";
  Scratch dir;
  write_file(dir / "in.txt", filler + kMixedInput);
  Env closed;
  closed.console_closed = true;
  Outcome o = dir.run({"in.txt", "out.txt"}, closed);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(
      o.err,
      "Processing 'in.txt'...\n"
      "Warning: could not compute InChIKey for the line #2000006 (unresolved program error)\n");
  EXPECT_TRUE(read_file(dir / "out.txt") == filler + kMixedOutput);
}

// On a terminal the progress count must show while the run goes on, though it
// ends in a carriage return: feed 5000 lines through a pipe, wait for the
// count, and only then end the input.
void progress_shows_at_once(const char* jobs) {
  Scratch dir;
  ASSERT_EQ(mkfifo((dir / "in.fifo").c_str(), 0600), 0);
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  std::string terminal = ptsname(master);
  pid_t pid = fork();
  if (pid == 0) {
    int tty = open(terminal.c_str(), O_RDWR);
    int null = open("/dev/null", O_RDWR);
    if (tty < 0 || null < 0) _exit(126);
    dup2(null, 0);
    dup2(tty, 1);
    dup2(null, 2);
    dir.exec_tool({jobs, "-n", "in.fifo", "out.txt"});
  }
  int fifo = open((dir / "in.fifo").c_str(), O_WRONLY);
  ASSERT_GE(fifo, 0);
  std::string lines;
  for (int i = 0; i < 5000; ++i) lines += "x\n";
  ASSERT_EQ(write(fifo, lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));

  std::string shown;
  while (shown.find("5000        \r") == std::string::npos) {
    pollfd ready{master, POLLIN, 0};
    if (poll(&ready, 1, 10000) != 1) break;  // not shown within 10 s
    char chunk[256];
    ssize_t n = read(master, chunk, sizeof chunk);
    if (n <= 0) break;
    shown.append(chunk, static_cast<size_t>(n));
  }
  EXPECT_EQ(shown, "5000        \r");
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
  const Case cases[] = {
      {{"in.txt", "/dev/full"}, kMixedSummary + no_write, ""},
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
    for (const std::string jobs : {"-j1", "-j2"}) {
      SCOPED_TRACE(jobs);
      Outcome o = dir.run({jobs, "in.txt", "out.txt"});
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

// Random bytes with many line ends, NULs, Ctrl-Z and some real InChI lines.
std::string random_input(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  const char kSpecial[] = {'\r', '\n', '\0', '\x1a', '\xff', 'I', '\t'};
  std::string bytes;
  while (bytes.size() < size) {
    unsigned r = random() % 1000;
    if (r < 60) {
      bytes += kSpecial[r % sizeof kSpecial];
    } else if (r < 62) {
      bytes += r % 2 ? "\nInChI=1S/H2O/h1H2" : "\rInChI=1S/";
    } else if (r < 64) {
      bytes += r % 2 ? "\n7\tInChI=1S/H2O/h1H2\t" : "\r\n8\tInChI=1S/CH4/h1H4";
    } else {
      bytes += static_cast<char>(random());
    }
  }
  return bytes;
}

// What a run over bytes must give, from the line model and the library;
// field > 0: as a table keyed on that field.
struct Expected {
  std::string output, warnings, console;
  int64_t added = 0;
};

// Field (from 1) of a TAB-separated line, or nothing.
std::optional<std::string> model_field(const std::string& line, uint32_t field) {
  size_t begin = 0;
  for (uint32_t i = 1; i < field; ++i) {
    begin = line.find('\t', begin);
    if (begin == std::string::npos) return std::nullopt;
    ++begin;
  }
  return line.substr(begin, line.find('\t', begin) - begin);
}

Expected model_run(const std::string& bytes, uint32_t field = 0) {
  Expected e;
  int64_t failed = 0;
  std::vector<std::string> lines = model_lines(bytes);
  for (size_t i = 0; i < lines.size(); ++i) {
    std::optional<std::string> inchi = field == 0 ? lines[i] : model_field(lines[i], field);
    std::string key_text;
    if (inchi && std::strncmp(inchi->c_str(), "InC", 3) == 0) {
      char key[256];
      int status = library_key(inchi->c_str(), key);
      if (status == 0) {
        key_text = key;
        ++e.added;
      } else {
        ++failed;
        if (status != 2 && status != 3) {
          e.warnings += "Warning: could not compute InChIKey for the line #" +
                        std::to_string(i + 1) + " (unresolved program error)\n";
        }
      }
    }
    if (field == 0) {
      e.output += lines[i] + "\n" + (key_text.empty() ? "" : "InChIKey=" + key_text + "\n");
    } else {
      e.output += lines[i] + "\t" + key_text + "\n";
    }
  }
  for (size_t n = 5000; n <= lines.size(); n += 5000) e.console += std::to_string(n) + "        \r";
  e.console += summary(static_cast<int64_t>(lines.size()), e.added, failed);
  return e;
}

// Runs a shell command in dir's work/; fails the test when it fails.
void shell(const Scratch& dir, const std::string& command) {
  std::string line = "cd '" + dir.work().string() + "' && " + command;
  ASSERT_EQ(std::system(line.c_str()), 0) << line;
}

// The output must be the model's lines, each ended by LF, with the library's
// key after every candidate that has one; and the same whether the input
// comes plain, compressed in one piece or several, by name or through a
// pipe, and whether the output is compressed or not.
TEST(Run, RandomBinaryInputMatchesTheModel) {
  std::string bytes = random_input(10'000'000, 20261208);
  Expected e = model_run(bytes);
  ASSERT_GT(e.added, 100);
  ASSERT_GT(e.warnings.size(), 1000u);

  Scratch dir;
  write_file(dir / "in.bin", bytes);
  write_file(dir / "a.bin", bytes.substr(0, 3'000'001));
  write_file(dir / "b.bin", bytes.substr(3'000'001, 2'000'000));
  write_file(dir / "c.bin", bytes.substr(5'000'001));
  shell(dir, "gzip -c in.bin > in.gz && zstd -qc in.bin > in.zst");
  shell(dir, "for p in a b c; do gzip -c $p.bin; done > multi.gz");
  shell(dir, "for p in a b c; do zstd -qc $p.bin; done > multi.zst");
  struct Case {
    std::vector<std::string> args;
    Env env;
    std::string unpack;  // how to read the output back
  };
  Env pipe_bin = from("in.bin"), pipe_gz = from("multi.gz");
  pipe_bin.stdin_pipe = pipe_gz.stdin_pipe = true;
  const Case cases[] = {
      {{"in.bin", "out.txt", "log.txt"}, {}, "cat"},
      {{"in.gz", "out.txt", "log.txt"}, {}, "cat"},
      {{"in.zst", "out.txt", "log.txt"}, {}, "cat"},
      {{"multi.gz", "out.txt", "log.txt"}, {}, "cat"},
      {{"multi.zst", "out.txt", "log.txt"}, {}, "cat"},
      {{"-", "out.txt", "log.txt"}, pipe_bin, "cat"},
      {{"-", "out.txt", "log.txt"}, pipe_gz, "cat"},
      {{"-", "out.txt", "log.txt"}, from("in.zst"), "cat"},
      {{"in.bin", "out.gz", "log.txt"}, {}, "gzip -dc"},
      {{"in.zst", "out.zst", "log.txt"}, {}, "zstd -qdc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args) + " < " + c.env.stdin_path);
    Outcome o = dir.run(c.args, c.env);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.console(), e.console);
    shell(dir, c.unpack + " " + c.args[1] + " > unpacked.txt");
    EXPECT_TRUE(read_file(dir / "unpacked.txt") == e.output);
    EXPECT_EQ(read_file(dir / "log.txt"), "Processing '" + c.args[0] + "'...\n" + e.warnings);
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
  };
  const Case cases[] = {
      {"pubchem-like.tsv", {"-t", "2"}, 3, false},
      {"chembl-like.tsv", {"-H", "-t3"}, 4, true},
  };
  for (const Case& c : cases) {
    std::string table = read_file(fs::path(MOLSTAMP_SOURCE_DIR) / "examples" / c.table);
    std::string with_keys, keys;
    size_t rows = 0;
    for (const std::string& row : model_lines(table)) {
      std::string key = rows++ == 0 && c.header ? "InChIKey" : *model_field(row, c.key_column);
      with_keys += row + "\t" + key + "\n";
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

// What a run leaves behind, with the elapsed seconds masked.
struct Snapshot {
  int status;
  std::string out, err, output, log;
  bool operator==(const Snapshot& o) const {
    return status == o.status && out == o.out && err == o.err && output == o.output && log == o.log;
  }
};

Snapshot snapshot(const Scratch& dir, const std::vector<std::string>& args, const Env& env,
                  const std::string& unpack) {
  fs::remove(dir / "log.txt");
  Outcome o = dir.run(args, env);
  static const std::regex elapsed("\nElapsed time: -?[0-9]+\n");
  Snapshot s{o.status, o.console(), std::regex_replace(o.err, elapsed, "\nElapsed time: T\n"), "",
             ""};
  if (!unpack.empty()) {
    shell(dir, unpack + " > unpacked.txt || true");
    s.output = read_file(dir / "unpacked.txt");
  }
  if (fs::exists(dir / "log.txt")) s.log = read_file(dir / "log.txt");
  return s;
}

// Runs args with -j1, then with 2, 3 and 8 threads: every byte the same.
void expect_same_in_parallel(const Scratch& dir, const std::vector<std::string>& args,
                             const Env& env, const std::string& unpack, int status = 0) {
  std::vector<std::string> serial = args;
  serial.insert(serial.begin(), "-j1");
  SCOPED_TRACE(testing::PrintToString(serial));
  Snapshot expected = snapshot(dir, serial, env, unpack);
  EXPECT_EQ(expected.status, status);
  for (const char* jobs : {"-j2", "-j3", "-j8"}) {
    std::vector<std::string> parallel = args;
    parallel.insert(parallel.begin(), jobs);
    SCOPED_TRACE(testing::PrintToString(parallel));
    Snapshot got = snapshot(dir, parallel, env, unpack);
    EXPECT_EQ(got.status, expected.status);
    EXPECT_EQ(got.out, expected.out);
    EXPECT_EQ(got.err, expected.err);
    EXPECT_TRUE(got.output == expected.output);
    EXPECT_EQ(got.log, expected.log);
  }
}

// Random bytes with every line end, NULs, TABs, keyed lines and table rows,
// lines across block boundaries and lines far longer than a block, through
// every mode: threads change nothing in what is written.
TEST(Run, ParallelRunsWriteTheSameBytes) {
  std::string bytes = random_input(3'000'000, 99) + std::string(3'000'000, 'a') + "\r" +
                      "InChI=1S/" + std::string(1'500'000, 'C') + "\n7\t" +
                      std::string(1'200'000, 'x') + "\r\n" + random_input(1'000'000, 100);
  Scratch dir;
  write_file(dir / "in.bin", bytes);
  shell(dir, "gzip -c in.bin > in.gz");
  Env piped = from("in.gz");
  piped.stdin_pipe = true;
  struct Case {
    std::vector<std::string> args;
    Env env;
    std::string unpack;
  };
  const Case cases[] = {
      {{"in.bin", "out.txt", "log.txt"}, {}, "cat out.txt"},
      {{"-n", "in.gz", "out.txt", "log.txt"}, {}, "cat out.txt"},
      {{"-t", "2", "in.gz", "out.gz", "log.txt"}, {}, "gzip -dc out.gz"},
      {{"-H", "-t2", "-n", "in.bin", "out.zst"}, {}, "zstd -qdc out.zst"},
      {{"-t1", "-", "-"}, piped, ""},
  };
  for (const Case& c : cases) expect_same_in_parallel(dir, c.args, c.env, c.unpack);
}

// Benzene lines with a name line every third line.
std::string named_benzene(int lines) {
  std::string text;
  for (int i = 0; i < lines; ++i)
    text += (i % 3 ? kBenzene : "molecule " + std::to_string(i)) + "\n";
  return text;
}

// Failures end a parallel run exactly where and how they end a serial one.
TEST(Run, ParallelFailuresMatchTheSerialRun) {
  std::string text = named_benzene(30000);
  Scratch dir;
  write_file(dir / "in.txt", text);
  shell(dir, "gzip -c in.txt | cat - in.txt > trailing.gz");
  shell(dir, "gzip -c in.txt | head -c 15000 > cut.gz");
  shell(dir, "zstd -qc in.txt | head -c -1 > cut.zst");
  shell(dir, "ln -s /dev/full full.gz");
  struct Case {
    std::vector<std::string> args;
    std::string unpack;
  };
  const Case cases[] = {
      {{"trailing.gz", "out.txt"}, "cat out.txt"},
      {{"cut.gz", "out.txt", "log.txt"}, "cat out.txt"},
      {{"cut.zst", "out.gz"}, "gzip -dc out.gz"},
      {{"in.txt", "/dev/full", "log.txt"}, ""},
      {{"in.txt", "full.gz"}, ""},
      {{"in.txt", "out.txt", "/dev/full"}, "cat out.txt"},
  };
  for (const Case& c : cases) expect_same_in_parallel(dir, c.args, {}, c.unpack, 5);
}

#ifndef MOLSTAMP_SANITIZED  // the sanitizers' shadow memory needs the address space
TEST(Run, ParallelRunsUnderATightAddressSpace) {
  Scratch dir;
  // A line too long for memory: the lines before it, the same message.
  write_file(dir / "long.txt",
             "first\r\n" + kWater + "\n" + std::string(80 << 20, 'a') + "\nlast\n");
  // Too little room for 65 thread stacks: the run goes serial, same bytes.
  std::string text;
  for (int i = 0; i < 20000; ++i) text += kMethane + "\r";
  write_file(dir / "in.txt", text);
  struct Case {
    std::vector<std::string> args;
    rlim_t limit;
    int status;
  };
  const Case cases[] = {
      {{"long.txt", "out.txt"}, rlim_t{64} << 20, 5},
      {{"in.txt", "out.txt"}, rlim_t{24} << 20, 0},
  };
  for (const Case& c : cases) {
    Env limited;
    limited.address_limit = c.limit;
    std::vector<std::string> serial = c.args, parallel = c.args;
    serial.insert(serial.begin(), "-j1");
    parallel.insert(parallel.begin(), "-j64");
    SCOPED_TRACE(testing::PrintToString(parallel));
    Snapshot expected = snapshot(dir, serial, limited, "cat out.txt");
    Snapshot got = snapshot(dir, parallel, limited, "cat out.txt");
    EXPECT_EQ(expected.status, c.status);
    EXPECT_TRUE(got == expected);
    EXPECT_NE(expected.output, "");
  }
}
#endif

// A damaged compressed input ends the run with a read error: the whole lines
// decoded before the damage are written and annotated, the partial one is not.
TEST(Run, DamagedCompressedInputKeepsTheLinesBeforeIt) {
  std::string text = named_benzene(20000);
  Scratch dir;
  write_file(dir / "in.txt", text);
  shell(dir, "gzip -c in.txt > in.gz && zstd -qc in.txt > in.zst");
  Outcome whole = dir.run({"in.txt", "whole.txt"});
  ASSERT_EQ(whole.status, 0);
  std::string full = read_file(dir / "whole.txt");
  full += full;  // for damage in a second copy
  std::string flipped = read_file(dir / "in.gz");
  flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x55);
  write_file(dir / "flipped.gz", flipped);
  const char* damage[] = {
      "head -c $(($(stat -c %s in.gz) / 2)) in.gz",
      "head -c $(($(stat -c %s in.zst) / 2)) in.zst",
      "head -c -3 in.gz",
      "head -c 10 in.gz",
      "cat in.gz in.txt",
      "cat in.zst in.zst | head -c -1",
      "cat flipped.gz",  // a byte in the middle changed: the lines before it may be garbled
  };
  for (const char* make : damage) {
    SCOPED_TRACE(make);
    shell(dir, std::string(make) + " > bad");
    Outcome o = dir.run({"bad", "out.txt"});
    EXPECT_EQ(o.status, 5);
    EXPECT_NE(o.console().find("\n* Error: could not read input file!\nCompleted processing of "),
              std::string::npos);
    std::string out = read_file(dir / "out.txt");
    EXPECT_TRUE(out.empty() || out.back() == '\n');
    if (std::strstr(make, "flipped") == nullptr) {
      EXPECT_EQ(full.compare(0, out.size(), out), 0);
    }
  }
}

}  // namespace
