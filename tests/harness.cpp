// The end-to-end harness.
#include "harness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>

#include "keys/annotate.h"
#include "line_model.h"

// The summary, with the elapsed seconds written as "T" (see Outcome::console).
std::string summary(int64_t lines, int64_t added, int64_t failed) {
  return "\nCompleted processing of " + std::to_string(lines) + " lines." + "\nInChIKey: added " +
         std::to_string(added) + ", failed " + std::to_string(failed) + ".\n" +
         "\nElapsed time: T\n";
}

std::string mask_elapsed(const std::string& text) {
  static const std::regex elapsed("\nElapsed time: -?[0-9]+\n");
  return std::regex_replace(text, elapsed, "\nElapsed time: T\n");
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

namespace {

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

}  // namespace

Outcome Scratch::run(const std::vector<std::string>& args, const Env& env) const {
  fs::path out = root_ / "stdout", err = root_ / "stderr";
  int copied[2] = {-1, -1};  // with stdout_pipe: the tool writes [1], we copy [0]
  if (env.stdout_pipe && pipe(copied) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    int in_fd =
        open(env.stdin_path.empty() ? "/dev/null" : in_work(env.stdin_path).c_str(), O_RDONLY);
    int out_fd = env.stdout_path.empty()
                     ? open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)
                     : open(in_work(env.stdout_path).c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
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
    if (env.stdin_closed) close(0);
    if (env.stdout_closed) close(1);
    if (env.file_size_limit > 0) {
      rlimit limit{env.file_size_limit, env.file_size_limit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
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

void Scratch::exec_tool(const std::vector<std::string>& args) const {
  std::vector<char*> argv{const_cast<char*>(MOLSTAMP_BINARY)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  if (chdir(work().c_str()) == 0) execv(argv[0], argv.data());
  _exit(127);
}

std::set<std::string> Scratch::files() const {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(work()))
    names.insert(entry.path().filename().string());
  return names;
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
    } else if (r < 66) {
      // With their stored keys, right and wrong, for check mode.
      bytes += r % 2 ? "\nInChI=1S/H2O/h1H2\nInChIKey=XLYOFNOQVPJJNP-UHFFFAOYSA-N"
                     : "\rInChI=1S/CH4/h1H4\r\nInChIKey=XLYOFNOQVPJJNP-UHFFFAOYSA-N";
    } else if (r < 68) {
      bytes += r % 2 ? "\n9\tInChI=1S/H2O/h1H2\tXLYOFNOQVPJJNP-UHFFFAOYSA-N\n"
                     : "\n9\tInChI=1S/CH4/h1H4\tInChIKey=VNWKTOKETHGBQD-UHFFFAOYSA-N";
    } else if (r < 70) {
      // CSV records: a quoted InChI with commas, a quoted field over lines.
      bytes += r % 2 ? "\n5,\"InChI=1S/C2H6O/c1-2-3/h3H,2H2,1H3\",LFQSCWFLJHTTHZ-UHFFFAOYSA-N\n"
                     : "\r\n6,\"InChI=1S/H2O/h1H2\",\"a \"\"b\"\"\nc\",";
    } else {
      bytes += static_cast<char>(random());
    }
  }
  return bytes;
}

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

Expected model_run(const std::string& bytes, uint32_t field) {
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

Snapshot snapshot(const Scratch& dir, const std::vector<std::string>& args, const Env& env,
                  const std::string& unpack) {
  fs::remove(dir / "log.txt");
  Outcome o = dir.run(args, env);
  Snapshot s{o.status, o.console(), mask_elapsed(o.err), "", ""};
  if (!unpack.empty()) {
    shell(dir, unpack + " > unpacked.txt || true");
    s.output = read_file(dir / "unpacked.txt");
  }
  if (fs::exists(dir / "log.txt")) s.log = read_file(dir / "log.txt");
  return s;
}

// Runs args with -j1, then with 2, 3 and 8 threads: every byte the same.
void expect_same_in_parallel(const Scratch& dir, const std::vector<std::string>& args,
                             const Env& env, const std::string& unpack, int status) {
  std::vector<std::string> serial = args;
  serial.insert(serial.begin(), "-j1");
  SCOPED_TRACE(testing::PrintToString(serial));
  Snapshot expected = snapshot(dir, serial, env, unpack);
  if (status >= 0) {
    EXPECT_EQ(expected.status, status);
  }
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

// Benzene lines with a name line every third line.
std::string named_benzene(int lines) {
  std::string text;
  for (int i = 0; i < lines; ++i)
    text += (i % 3 ? kBenzene : "molecule " + std::to_string(i)) + "\n";
  return text;
}
