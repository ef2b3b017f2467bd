// End to end: -j N against -j1, byte for byte, in every mode and failure.
#include "pipeline/pipeline.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"
#include "io/progress.h"
#include "keys/annotate.h"
#include "keys/line_step.h"
#include "pipeline/road.h"
#include "reference_set.h"

namespace {

// One run of the tool: its arguments, environment, and the command that
// turns its output file back into plain text ("" for stdout).
struct ParallelRun {
  std::vector<std::string> args;
  Env env;
  std::string unpack;
};

// Writes bytes to in.bin and in.gz; returns the environment that pipes
// in.gz to the tool's stdin.
Env write_random_input(const Scratch& dir, const std::string& bytes) {
  write_file(dir / "in.bin", bytes);
  shell(dir, "gzip -c in.bin > in.gz");
  Env piped = from("in.gz");
  piped.stdin_pipe = true;
  return piped;
}

// Random bytes with every line end, NULs, TABs, keyed lines and table rows,
// lines across block boundaries and lines far longer than a block, through
// every mode: threads change nothing in what is written.
TEST(Parallel, RunsWriteTheSameBytes) {
  std::string bytes = random_input(3'000'000, 99) + std::string(3'000'000, 'a') + "\r" +
                      "InChI=1S/" + std::string(1'500'000, 'C') + "\n7\t" +
                      std::string(1'200'000, 'x') + "\r\n" + random_input(1'000'000, 100);
  Scratch dir;
  Env piped = write_random_input(dir, bytes);
  const ParallelRun cases[] = {
      {{"in.bin", "out.txt", "log.txt"}, {}, "cat out.txt"},
      {{"-n", "in.gz", "out.txt", "log.txt"}, {}, "cat out.txt"},
      {{"-t", "2", "in.gz", "out.gz", "log.txt"}, {}, "gzip -dc out.gz"},
      {{"-H", "-t2", "-n", "in.bin", "out.zst"}, {}, "zstd -qdc out.zst"},
      {{"-t1", "-", "-"}, piped, ""},
  };
  for (const ParallelRun& c : cases) expect_same_in_parallel(dir, c.args, c.env, c.unpack);
}

// The same for check mode, where a candidate's stored key may be in the
// next block, and for CSV, whose records must not be cut inside quotes.
TEST(Parallel, RunsWriteTheSameBytesInCheckModeAndCsv) {
  std::string bytes = random_input(3'000'000, 101) + "\r\n" + random_input(1'000'000, 102);
  Scratch dir;
  Env piped = write_random_input(dir, bytes);
  const ParallelRun checks[] = {
      {{"-c", "in.bin", "out.txt", "log.txt"}, {}, "cat out.txt"},
      {{"-c", "in.gz", "out.gz"}, {}, "gzip -dc out.gz"},
      {{"-c", "-t", "2", "in.gz", "out.zst", "log.txt"}, {}, "zstd -qdc out.zst"},
      {{"-c", "-H", "-t2", "-k", "1", "-", "-"}, piped, ""},
      {{"-c", "-d", ",", "-t", "2", "in.bin", "out.txt", "log.txt"}, {}, "cat out.txt"},
  };
  for (const ParallelRun& c : checks) expect_same_in_parallel(dir, c.args, c.env, c.unpack, 6);
  // Random bytes may leave a quote open at the end (status 5), or not.
  const ParallelRun csv[] = {
      {{"-d", ",", "-t", "2", "in.bin", "out.txt", "log.txt"}, {}, "cat out.txt"},
      {{"-d;", "-t1", "-n", "in.gz", "out.zst"}, {}, "zstd -qdc out.zst"},
      {{"-d", ",", "-H", "-t", "2", "-", "-"}, piped, ""},
  };
  for (const ParallelRun& c : csv) expect_same_in_parallel(dir, c.args, c.env, c.unpack, -1);
}
// Check mode on a file of InChI lines and their key lines: a block boundary
// falls between a candidate and its key line about every other block, a
// long line (annotated by the writer) holds a candidate at its end, and a
// pipe cuts blocks where its reads end.
TEST(Parallel, CheckAcrossBlockBoundaries) {
  std::string text;
  for (int i = 0; i < 60000; ++i) {
    text += kBenzene + (i % 2 ? "\r\n" : "\n");
    if (i % 11 == 0) continue;  // missing
    text +=
        i % 7 ? "InChIKey=UHOVQNZJYSORNB-UHFFFAOYSA-N\n" : "InChIKey=UHOVQNZJYSORNB-UHFFFAOYSA-M\n";
    if (i % 20000 == 5) text += std::string(1'500'000, 'x') + "\n" + kWater + "\n";
  }
  Scratch dir;
  write_file(dir / "in.txt", text + kMethane);
  Env piped = from("in.txt");
  piped.stdin_pipe = true;
  expect_same_in_parallel(dir, {"-c", "in.txt", "out.txt", "log.txt"}, {}, "cat out.txt", 6);
  expect_same_in_parallel(dir, {"-c", "-", "out.gz"}, piped, "gzip -dc out.gz", 6);
  // 60,000 benzene lines: every 11th without its key line (5,455), every 7th
  // of the others with a wrong one (7,792); three water lines and the last
  // line without theirs.
  Outcome o = dir.run({"-j3", "-c", "in.txt", "out.txt"});
  EXPECT_EQ(o.console(),
            "5000        \r10000        \r15000        \r20000        \r25000        \r"
            "30000        \r35000        \r40000        \r45000        \r50000        \r"
            "55000        \r60000        \r65000        \r70000        \r75000        \r"
            "80000        \r85000        \r90000        \r95000        \r100000        \r"
            "105000        \r110000        \r"
            "\nCompleted processing of 114552 lines."
            "\nInChIKey: checked 60004: agree 46753, differ 7792, missing 5459, failed 0.\n"
            "\nElapsed time: T\n");
}

// Failures end a parallel run exactly where and how they end a serial one.
TEST(Parallel, FailuresMatchTheSerialRun) {
  std::string text = named_benzene(30000);
  Scratch dir;
  write_file(dir / "in.txt", text);
  shell(dir, "gzip -c in.txt | cat - in.txt > trailing.gz");
  shell(dir, "gzip -c in.txt | head -c 15000 > cut.gz");
  shell(dir, "zstd -qc in.txt | head -c -1 > cut.zst");
  shell(dir, "ln -s /dev/full full.gz && ln -s /dev/full full.bz2");
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
      {{"in.txt", "full.bz2"}, ""},
      {{"in.txt", "out.txt", "/dev/full"}, "cat out.txt"},
  };
  for (const Case& c : cases) expect_same_in_parallel(dir, c.args, {}, c.unpack, 5);
}

// The serial run logs a line's warning before its progress print; so must
// every parallel run, where the two come from different threads.
TEST(Parallel, WarningComesBeforeItsLinesProgressPrint) {
  std::string text;
  for (int i = 0; i < 4999; ++i) text += "x\n";
  Scratch dir;
  write_file(dir / "in.txt", text + "InChI=1S/\nlast\n");
  const std::string stderr_bytes =
      "Processing 'in.txt'...\n"
      "Warning: could not compute InChIKey for the line #5000 (unresolved program error)\n"
      "5000        \r" +
      summary(5001, 0, 1);
  for (const char* jobs : {"-j1", "-j2", "-j3"}) {
    SCOPED_TRACE(jobs);
    Outcome o = dir.run({jobs, "in.txt", "-"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(mask_elapsed(o.err), stderr_bytes);
  }
}

// An output that fills the stdio buffer exactly before its last line end: a
// flush that fails empties the buffer, so only the stream's error state says
// that the bytes were lost.
TEST(Parallel, OutputFillingTheBufferExactlyIntoAFullDiskFails) {
  Scratch dir;
  write_file(dir / "in.txt", std::string(262144, 'a') + "\n");
  for (const char* jobs : {"-j1", "-j2"}) {
    SCOPED_TRACE(jobs);
    Outcome copied = dir.run({jobs, "in.txt", "/dev/full"});
    EXPECT_EQ(copied.status, 5);
    EXPECT_EQ(copied.console(), summary(1, 0, 0) + "* Error: could not write output file!\n");
  }
}

// Once the output or log cannot be written, the run stops reading soon, at
// the same line with any number of threads.
TEST(Parallel, StopsSoonAfterAWriteErrorAtTheSameLine) {
  const int kLines = 300000;
  Scratch dir;
  write_file(dir / "in.txt", named_benzene(kLines) + "InChI=1S/\n");  // a warning for the log
  shell(dir, "gzip -c in.txt > in.gz && ln -s /dev/full full.zst");
  Env broken;
  broken.broken_pipe = true;
  struct Case {
    std::vector<std::string> args;
    Env env;
  };
  const Case cases[] = {
      {{"in.gz", "-"}, broken},
      {{"-n", "in.txt", "/dev/full"}, {}},
      {{"in.txt", "full.zst"}, {}},
      {{"in.txt", "out.txt", "/dev/full"}, {}},
  };
  for (const Case& c : cases) {
    expect_same_in_parallel(dir, c.args, c.env, "", 5);
    Outcome o = dir.run(c.args, c.env);
    std::string console = c.env.broken_pipe ? o.err : o.out;
    size_t at = console.find("Completed processing of ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_LT(std::stol(console.substr(at + 24)), kLines / 10) << console;
  }
}

// A key call out of memory in a parallel run ends the run there: the lines
// before it are written as the serial run writes them, then the run stops.
TEST(Parallel, KeyCallOutOfMemoryEndsTheRun) {
  // "InC4" answers the library's out-of-memory status; other candidates a key.
  KeyFunction fake = [](const char* inchi, char* key) {
    if (std::strcmp(inchi, "InC4") == 0) return kKeyOutOfMemory;
    std::snprintf(key, 256, "KEY");
    return 0;
  };
  for (int64_t failing : {1, 2, 4999, 5000, 70001}) {
    SCOPED_TRACE(failing);
    std::string text, expected;
    for (int64_t i = 1; i <= 100000; ++i) {
      std::string line = i == failing ? "InC4" : i % 3 ? "InChI" : "name";
      text += line + "\n";
      if (i < failing) expected += line + "\n" + (i % 3 ? "InChIKey=KEY\n" : "");
    }
    FILE* in = fmemopen(text.data(), text.size(), "rb");
    char* out_text = nullptr;
    char* console_text = nullptr;
    size_t out_size = 0, console_size = 0;
    Annotator a;
    a.compute = fake;
    a.log = stderr;
    Road road;
    road.annotator = &a;
    road.out = road.raw = open_memstream(&out_text, &out_size);
    Progress shown = start_progress(open_memstream(&console_text, &console_size), a.log, -1, 0);
    road.progress = &shown;
    ReadError read_error = kReadOk;
    ASSERT_TRUE(annotate_parallel(in, -1, road, Format::kPlain, 3, read_error));
    fclose(in);
    fclose(road.out);
    fclose(shown.console);
    EXPECT_TRUE(a.out_of_memory);
    EXPECT_FALSE(a.out_of_memory_stops);  // only the pipeline's own annotators stop
    EXPECT_EQ(road.lines, failing - 1);
    EXPECT_EQ(a.counts.added, (failing - 1) - (failing - 1) / 3);
    EXPECT_TRUE(std::string(out_text, out_size) == expected);
    std::string progress;
    for (int64_t n = 5000; n < failing; n += 5000) progress += std::to_string(n) + "        \r";
    EXPECT_EQ(std::string(console_text, console_size), progress);
    std::free(out_text);
    std::free(console_text);
  }
}

// What a run along the road left: the output, the log, the progress prints,
// the counts and how the run ended.
struct RoadRun {
  std::string out, log, console;
  Counts counts;
  int64_t lines = 0;
  ReadError read_error = kReadOk;
  bool out_of_memory = false, worker_lost = false;
  std::string note;  // the run's annotator's last note
};

bool operator==(const Counts& x, const Counts& y) {
  return x.added == y.added && x.failed == y.failed && x.agree == y.agree && x.differ == y.differ &&
         x.missing == y.missing && x.derived == y.derived;
}

// Runs text (lines) along a road in format f: serially with the run's own
// annotator (structure calls in this process) when jobs is 1, else through
// annotate_parallel with jobs workers; then ends the lines as the run does.
RoadRun run_road(const std::string& text, const LineFormat& f, unsigned jobs) {
  RoadRun r;
  std::string input = text;
  FILE* in = fmemopen(input.data(), input.size(), "rb");
  char *out_text = nullptr, *log_text = nullptr, *console_text = nullptr;
  size_t out_size = 0, log_size = 0, console_size = 0;
  Annotator a;
  a.format = f;
  a.log = open_memstream(&log_text, &log_size);
  Road road;
  road.annotator = &a;
  road.step = line_step(f);
  road.out = road.raw = open_memstream(&out_text, &out_size);
  Progress shown = start_progress(open_memstream(&console_text, &console_size), a.log, -1, 0);
  road.progress = &shown;
  a.progress = &shown;
  if (jobs == 1) {
    LineBuffer line;
    while (char* l = read_text_line(in, line))
      if (!travel(road, l, line.length, line.end)) break;
    r.read_error = line.error;
  } else {
    EXPECT_TRUE(annotate_parallel(in, -1, road, Format::kPlain, jobs, r.read_error));
  }
  if (!road.stopped && !a.out_of_memory && !a.worker_lost)
    end_lines(a, road.lines, input_complete(r.read_error), road.out);
  fclose(in);
  fclose(road.out);
  fclose(a.log);
  fclose(shown.console);
  r.out.assign(out_text, out_size);
  r.log.assign(log_text, log_size);
  r.console.assign(console_text, console_size);
  r.counts = a.counts;
  r.lines = road.lines;
  r.out_of_memory = a.out_of_memory;
  r.worker_lost = a.worker_lost;
  r.note = a.note.reason;
  std::free(out_text);
  std::free(log_text);
  std::free(console_text);
  return r;
}

// A random mix of lines: the reference set's standard and non-standard
// InChIs, some followed by a key line (their own key, the standard key of a
// non-standard one, a key wrong in a part, a malformed one), InChIs that
// validation refuses, and junk; LF and CR LF ends; about `bytes` long.
std::string qa_mix(const std::map<std::string, std::string>& keys, size_t bytes, uint32_t seed) {
  std::vector<const std::pair<const std::string, std::string>*> set;
  for (const auto& entry : keys) set.push_back(&entry);
  const char* const refused[] = {"InChI=1S/H2O_h1H2",
                                 "InChI=1S/CH4/h1H4/garbage",
                                 "InChI=1S/C6H6/c1-2-3-4-5-6-1/h1-6H",
                                 "InChI=1/CH4/h1H4/garbage",
                                 "InChI=1S/",
                                 "InC"};
  const char* const junk[] = {"", "# comment", "x", "inchi=1S/H2O/h1H2", "InChIKey="};
  std::mt19937 random(seed);
  std::string text;
  while (text.size() < bytes) {
    unsigned r = random() % 100;
    const char* end = random() % 4 ? "\n" : "\r\n";
    if (r < 70) {
      const auto& [inchi, own_key] = *set[random() % set.size()];
      text += inchi + end;
      unsigned k = random() % 6;
      if (k == 0) continue;  // no key line
      std::string key = own_key;
      if (k == 2 && inchi.compare(0, 8, "InChI=1/") == 0) key = keys.at(paired_standard(inchi));
      if (k == 3) key[random() % 27 == 14 ? 0 : random() % 27] ^= 1;
      if (k == 4) key[5] = static_cast<char>(std::tolower(static_cast<unsigned char>(key[5])));
      text += "InChIKey=" + key + end;
    } else if (r < 85) {
      text += std::string(refused[random() % std::size(refused)]) + end;
    } else {
      text += std::string(junk[random() % std::size(junk)]) + end;
    }
  }
  return text;
}

// The rules through the pipeline: -j2 and -j4 write what -j1 writes, byte
// for byte, with each thread's structure calls in its own worker process.
// A failed structure call costs a fork (its worker is replaced), which the
// sanitizers make some ten times dearer: a third of the mix there, still
// many blocks for every worker.
#ifdef MOLSTAMP_SANITIZED
constexpr int kQaScale = 3;
#else
constexpr int kQaScale = 1;
#endif

TEST(Parallel, KeyRulesWriteTheSameBytes) {
  std::map<std::string, std::string> keys = reference_keys();
  ASSERT_GT(keys.size(), 13000u);
  std::string text = qa_mix(keys, 600'000 / kQaScale, 23);
  struct Case {
    const char* name;
    KeyRules rules;
    bool check, difference;
  };
  const Case cases[] = {
      {"-s", {true, Validation::kNone}, false, false},
      {"--validate=syntax", {false, Validation::kSyntax}, false, false},
      {"--validate=structure", {false, Validation::kStructure}, false, false},
      {"-c -s --difference", {true, Validation::kNone}, true, true},
      {"-c --validate=structure --difference", {false, Validation::kStructure}, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LineFormat f;
    f.rules = c.rules;
    f.check = c.check;
    f.difference = c.difference;
    RoadRun serial = run_road(text, f, 1);
    // Not a vacuous run: keys given and refused, and derived under -s.
    EXPECT_GT(serial.counts.failed, 300 / kQaScale);
    EXPECT_GT(c.check ? serial.counts.agree + serial.counts.differ : serial.counts.added,
              2000 / kQaScale);
    EXPECT_EQ(serial.counts.derived > 1000 / kQaScale, c.rules.standard);
    EXPECT_GT(serial.lines, 5000 / kQaScale);
    for (unsigned jobs : {2u, 4u}) {
      SCOPED_TRACE(jobs);
      RoadRun parallel = run_road(text, f, jobs);
      EXPECT_TRUE(parallel.out == serial.out);
      EXPECT_TRUE(parallel.log == serial.log);
      EXPECT_EQ(parallel.console, serial.console);
      EXPECT_TRUE(parallel.counts == serial.counts);
      EXPECT_EQ(parallel.lines, serial.lines);
      EXPECT_FALSE(parallel.worker_lost);
    }
  }
}

// This process's children: the pids whose parent it is.
std::vector<pid_t> children() {
  std::vector<pid_t> pids;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return pids;
  while (dirent* e = readdir(proc)) {
    std::string stat = "/proc/" + std::string(e->d_name) + "/stat";
    if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
    FILE* f = std::fopen(stat.c_str(), "r");
    if (f == nullptr) continue;
    char text[1024];
    size_t n = std::fread(text, 1, sizeof text - 1, f);
    std::fclose(f);
    text[n] = '\0';
    // "pid (command) state ppid ...": the command may hold spaces and ')'.
    const char* after = std::strrchr(text, ')');
    char state = 0;
    int parent = 0;
    if (after != nullptr && std::sscanf(after + 1, " %c %d", &state, &parent) == 2 &&
        parent == getpid())
      pids.push_back(std::atoi(text));
  }
  closedir(proc);
  return pids;
}

// Worker processes killed while a -s run goes: the run stops after the
// lines before the first key call that lost its worker, written as the
// serial run writes them, with the loss named; nothing hangs, and every
// worker process is reaped.
TEST(Parallel, KilledWorkerProcessesStopTheRun) {
  std::map<std::string, std::string> keys = reference_keys();
  std::vector<std::string> non_standard;
  for (const auto& [inchi, key] : keys)
    if (inchi.compare(0, 8, "InChI=1/") == 0 && non_standard.size() < 300)
      non_standard.push_back(inchi);
  ASSERT_EQ(non_standard.size(), 300u);
  // Far more lines than the run gets through before the kill.
  const int kLines = 400'000;
  std::vector<std::string> line_output(non_standard.size());
  std::string text;
  for (size_t i = 0; i < non_standard.size(); ++i)
    line_output[i] =
        non_standard[i] + "\nInChIKey=" + keys.at(paired_standard(non_standard[i])) + "\n";
  for (int i = 0; i < kLines; ++i) text += non_standard[i % non_standard.size()] + "\n";
  ASSERT_TRUE(children().empty());
  std::atomic<bool> done{false};
  std::atomic<int> killed{0};
  std::thread killer([&] {
    // The workers are forked before the pipeline's threads start; let them
    // work a little, then kill every one.
    while (!done && children().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (pid_t pid : children())
      if (kill(pid, SIGKILL) == 0) ++killed;
  });
  LineFormat f;
  f.rules.standard = true;
  RoadRun r = run_road(text, f, 2);
  done = true;
  killer.join();
  EXPECT_GE(killed, 2);
  EXPECT_TRUE(r.worker_lost);
  EXPECT_FALSE(r.out_of_memory);
  EXPECT_NE(r.note.find("killed by signal 9 (SIGKILL)"), std::string::npos) << r.note;
  ASSERT_LT(r.lines, kLines);
  std::string expected;
  for (int64_t i = 0; i < r.lines; ++i) expected += line_output[i % non_standard.size()];
  EXPECT_TRUE(r.out == expected) << r.out.size() << " bytes, not " << expected.size();
  EXPECT_EQ(r.log, "");
  EXPECT_EQ(r.counts.added, r.lines);
  EXPECT_EQ(r.counts.derived, r.lines);
  EXPECT_TRUE(children().empty());
  EXPECT_TRUE(waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD);
}

#ifndef MOLSTAMP_SANITIZED  // the sanitizers' shadow memory needs the address space
// Under an address-space limit, -jN gives the -j1 result, never a signal;
// where the limit leaves -j1 (10 MiB) less than a few MiB per worker to
// spare, it may also fail cleanly (status 5).
TEST(Parallel, MemorySweep) {
  std::string seed = read_file(fs::path(MOLSTAMP_SOURCE_DIR) / "bench/data/nci-5k.inchi");
  std::string text;
  for (int i = 0; i < 32; ++i) text += seed;  // 160,000 real InChI lines
  Scratch dir;
  write_file(dir / "in.txt", text + "InChI=1S/\n");
  Snapshot expected = snapshot(dir, {"-j1", "in.txt", "out.txt", "log.txt"}, {}, "cat out.txt");
  ASSERT_EQ(expected.status, 0);
  for (rlim_t megabytes : {24, 32, 48, 64, 100, 200, 400}) {
    for (const char* jobs : {"-j1", "-j2", "-j4", "-j16"}) {
      SCOPED_TRACE(std::string(jobs) + " under " + std::to_string(megabytes) + " MB");
      Env limited;
      limited.address_limit = megabytes << 20;
      Snapshot got = snapshot(dir, {jobs, "in.txt", "out.txt", "log.txt"}, limited, "cat out.txt");
      EXPECT_TRUE(got.status == 0 || (got.status == 5 && megabytes < 100)) << got.status;
      if (got.status == 0) {
        EXPECT_TRUE(got == expected);
      }
    }
  }
}

TEST(Parallel, RunsUnderATightAddressSpace) {
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

}  // namespace
