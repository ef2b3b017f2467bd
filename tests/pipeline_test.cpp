// End to end: -j N against -j1, byte for byte, in every mode and failure.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"

namespace {

// Random bytes with every line end, NULs, TABs, keyed lines and table rows,
// lines across block boundaries and lines far longer than a block, through
// every mode: threads change nothing in what is written.
TEST(Parallel, RunsWriteTheSameBytes) {
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
// Failures end a parallel run exactly where and how they end a serial one.
TEST(Parallel, FailuresMatchTheSerialRun) {
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
