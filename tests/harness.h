// The end-to-end harness: the built binary run in a scratch directory with
// its standard streams and limits set up, exact console, log and output
// bytes and exit statuses read back, and a model of what a run must give.
#ifndef MOLSTAMP_TESTS_HARNESS_H
#define MOLSTAMP_TESTS_HARNESS_H

#include <sys/resource.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace std::string_literals;

inline const std::string kUsage =
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
    "\n       -c      check the keys the input holds; report those that are not theirs."
    "\n       -k M    with -c -t N: the stored key is field M (default N+1)."
    "\n       -d C    with -t: fields split by C (default TAB); others: CSV quoting."
    "\n       -t NAME, -k NAME with -H: the column whose header is NAME."
    "\n       -s      standard keys: an InChI=1/ gets the key of its standard InChI."
    "\n       --validate[=syntax|structure] key only what the library accepts."
    "\n       --difference with -c: say which part of each key differs."
    "\n\n"
    "!This program is only for demo purposes!\nIt only weakly checks if the input is valid InChI "
    "string.\n";

inline const std::string kNoOutputName =
    "* Warning: got no output file name, using 'InChIKeys.txt'.\n";

// The summary, with the elapsed seconds written as "T" (see Outcome::console).
std::string summary(int64_t lines, int64_t added, int64_t failed);

// Text with every "Elapsed time: <seconds>" line written as "Elapsed time: T".
std::string mask_elapsed(const std::string& text);

std::string read_file(const fs::path& path);
void write_file(const fs::path& path, const std::string& bytes);

struct Outcome {
  int status = -1;
  std::string out, err;
  long max_rss_kib = 0;  // the tool's peak resident memory
  // Standard output with the run's elapsed seconds replaced by "T".
  std::string console() const { return mask_elapsed(out); }
};

// How a run's standard streams and limits are set up.
struct Env {
  std::string stdin_path;         // empty: /dev/null; relative names are in work/
  std::string stdout_path;        // empty: captured; else appended to, not captured
  rlim_t address_limit = 0;       // > 0 caps the tool's address space
  rlim_t file_size_limit = 0;     // > 0 caps the size of a file it writes (ulimit -f)
  bool console_closed = false;    // start with standard input and output closed
  bool stdin_pipe = false;        // feed stdin_path through a pipe, not as a file
  bool broken_pipe = false;       // stdout: a pipe nobody reads, SIGPIPE ignored
  bool stdout_pipe = false;       // stdout: a pipe into stdout_path (or the capture)
  std::string stderr_path;        // empty: captured; else appended to, not captured
  bool stderr_closed = false;     // start with standard error closed
  bool stdin_closed = false;      // start with standard input closed
  bool stdout_closed = false;     // start with standard output closed
  bool stderr_on_stdout = false;  // 2>&1
};

// Standard input from a file in work/.
Env from(const std::string& stdin_path);

// Standard output appended to a file in work/.
Env to(const std::string& stdout_path);

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
  Outcome run(const std::vector<std::string>& args, const Env& env = {}) const;

  // An absolute path stays; a relative one is taken in work/.
  fs::path in_work(const std::string& path) const {
    return path[0] == '/' ? fs::path(path) : work() / path;
  }

  // In a forked child: runs the tool in work/ with args, never returns.
  [[noreturn]] void exec_tool(const std::vector<std::string>& args) const;

  // The names in work/.
  std::set<std::string> files() const;

 private:
  fs::path root_;
};

// Runs a shell command in dir's work/; fails the test when it fails.
void shell(const Scratch& dir, const std::string& command);

inline const std::string kBenzene = "InChI=1S/C6H6/c1-2-4-6-5-3-1/h1-6H";
inline const std::string kWater = "InChI=1S/H2O/h1H2";
inline const std::string kMethane = "InChI=1S/CH4/h1H4";

// Comments, blank lines, every line end, a NUL byte, a non-candidate, a
// library failure that is logged (line 6) and one that is not (line 7).
inline const std::string kMixedInput = "# comment\r\n" + kBenzene + "\r\n\r\n" + kWater +
                                       "\ninchi=1S/H2O/h1H2\nInChI=1S/\rInC\nx\0y\n"s + kMethane;
inline const std::string kMixedKeys =
    "InChIKey=UHOVQNZJYSORNB-UHFFFAOYSA-N\n"
    "InChIKey=XLYOFNOQVPJJNP-UHFFFAOYSA-N\n"
    "InChIKey=VNWKTOKETHGBQD-UHFFFAOYSA-N\n";
inline const std::string kMixedOutput = "# comment\n" + kBenzene +
                                        "\nInChIKey=UHOVQNZJYSORNB-UHFFFAOYSA-N\n\n" + kWater +
                                        "\nInChIKey=XLYOFNOQVPJJNP-UHFFFAOYSA-N\n"
                                        "inchi=1S/H2O/h1H2\nInChI=1S/\nInC\nx\0y\n"s +
                                        kMethane + "\nInChIKey=VNWKTOKETHGBQD-UHFFFAOYSA-N\n";
inline const std::string kMixedLog =
    "Processing 'in.txt'...\n"
    "Warning: could not compute InChIKey for the line #6 (unresolved program error)\n";
inline const std::string kMixedSummary = summary(9, 3, 2);

// Random bytes with many line ends, NULs, Ctrl-Z and some real InChI lines.
std::string random_input(size_t size, uint32_t seed);

// What a run over bytes must give, from the line model and the library;
// field > 0: as a table keyed on that field.
struct Expected {
  std::string output, warnings, console;
  int64_t added = 0;
};

// Field (from 1) of a TAB-separated line, or nothing.
std::optional<std::string> model_field(const std::string& line, uint32_t field);

Expected model_run(const std::string& bytes, uint32_t field = 0);

// What a run leaves behind, with the elapsed seconds masked.
struct Snapshot {
  int status;
  std::string out, err, output, log;
  bool operator==(const Snapshot& o) const {
    return status == o.status && out == o.out && err == o.err && output == o.output && log == o.log;
  }
};

// Runs args; unpack (a shell command over work/) reads the output back.
Snapshot snapshot(const Scratch& dir, const std::vector<std::string>& args, const Env& env,
                  const std::string& unpack);

// Runs args with -j1, then with 2, 3 and 8 threads: every byte the same;
// the status is the one given, unless that is -1.
void expect_same_in_parallel(const Scratch& dir, const std::vector<std::string>& args,
                             const Env& env, const std::string& unpack, int status = 0);

// Benzene lines with a name line every third line.
std::string named_benzene(int lines);

#endif
