// End to end: -j N against -j1, byte for byte, in every mode and failure.
#include "pipeline/pipeline.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "harness.h"
#include "io/progress.h"
#include "keys/annotate.h"
#include "pipeline/road.h"

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
