// End to end: gzip, zstd, bzip2, xz and lz4 input and output, whole, in
// several members, streams or frames, through pipes, and damaged.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "harness.h"

namespace {

// The output must be the model's lines, each ended by LF, with the library's
// key after every candidate that has one; and the same whether the input
// comes plain, compressed in one piece or several, by name or through a
// pipe, and whether the output is compressed or not.
TEST(Compressed, RandomBinaryInputMatchesTheModel) {
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
  shell(dir,
        "bzip2 -c in.bin > in.bz2 && xz -0 -T2 -c in.bin > in.xz && lz4 -q -c in.bin > in.lz4");
  shell(dir, "for p in a b c; do lz4 -q -c $p.bin; done > multi.lz4");
  struct Case {
    std::vector<std::string> args;
    Env env;
    std::string unpack;  // how to read the output back
  };
  Env pipe_bin = from("in.bin"), pipe_gz = from("multi.gz"), pipe_lz4 = from("multi.lz4");
  pipe_bin.stdin_pipe = pipe_gz.stdin_pipe = pipe_lz4.stdin_pipe = true;
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
      {{"in.bz2", "out.txt", "log.txt"}, {}, "cat"},
      {{"in.xz", "out.txt", "log.txt"}, {}, "cat"},
      {{"in.lz4", "out.txt", "log.txt"}, {}, "cat"},
      {{"-", "out.txt", "log.txt"}, pipe_lz4, "cat"},
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

// An output is compressed in the format its name's suffix says, in any case,
// serially and in parallel: the format's own tool gives back the plain output.
TEST(Compressed, EveryOutputSuffixIsWrittenInItsFormat) {
  std::string bytes = random_input(3'000'000, 20261209);
  Expected e = model_run(bytes);
  Scratch dir;
  write_file(dir / "in.bin", bytes);
  struct Case {
    const char* name;
    const char* unpack;
  };
  const Case cases[] = {
      {"out.gz", "gzip -dc"},   {"out.GZ", "gzip -dc"},   {"out.zst", "zstd -qdc"},
      {"out.ZST", "zstd -qdc"}, {"out.bz2", "bzip2 -dc"}, {"out.xz", "xz -dc"},
      {"out.lz4", "lz4 -dc"},   {"out.Bz2", "bzip2 -dc"},
  };
  for (const Case& c : cases) {
    for (const char* jobs : {"-j1", "-j2"}) {
      SCOPED_TRACE(std::string(jobs) + " " + c.name);
      Outcome o = dir.run({jobs, "in.bin", c.name, "log.txt"});
      EXPECT_EQ(o.status, 0);
      EXPECT_EQ(o.console(), e.console);
      shell(dir, std::string(c.unpack) + " " + c.name + " > unpacked.txt");
      EXPECT_TRUE(read_file(dir / "unpacked.txt") == e.output);
      fs::remove(dir / c.name);
    }
  }
}

// A damaged compressed input ends the run with a read error: the whole lines
// decoded before the damage are written and annotated, the partial one is not.
// Zero bytes after the last gzip member or bzip2 stream (a tape or
// block-device copy) end the input: the last line, without a line end, and
// its key are kept, the run succeeds, by name and through a pipe.
TEST(Compressed, ZeroPaddingEndsTheInput) {
  Scratch dir;
  write_file(dir / "in.txt", kBenzene + "\nname\n" + kWater);
  Outcome plain = dir.run({"in.txt", "plain.txt"});
  ASSERT_EQ(plain.status, 0);
  shell(dir, "{ gzip -c in.txt; head -c 512 /dev/zero; } > p.gz");
  shell(dir, "{ bzip2 -c in.txt; head -c 512 /dev/zero; } > p.bz2");
  for (const char* name : {"p.gz", "p.bz2"}) {
    for (bool piped : {false, true}) {
      for (const char* jobs : {"-j1", "-j2"}) {
        SCOPED_TRACE(std::string(name) + " " + jobs + (piped ? " piped" : ""));
        Env env;
        if (piped) {
          env.stdin_path = name;
          env.stdin_pipe = true;
        }
        Outcome o = dir.run({jobs, piped ? "-" : name, "out.txt"}, env);
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.console(), plain.console());
        EXPECT_EQ(read_file(dir / "out.txt"), read_file(dir / "plain.txt"));
      }
    }
  }
}

TEST(Compressed, DamagedInputKeepsTheLinesBeforeIt) {
  std::string text = named_benzene(20000);
  Scratch dir;
  write_file(dir / "in.txt", text);
  shell(dir, "gzip -c in.txt > in.gz && zstd -qc in.txt > in.zst");
  shell(dir, "bzip2 -c in.txt > in.bz2 && xz -c in.txt > in.xz && lz4 -q -c in.txt > in.lz4");
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
      "head -c $(($(stat -c %s in.bz2) / 2)) in.bz2",
      "cat in.bz2 in.txt",
      "head -c -1 in.xz",
      "cat in.xz in.txt",
      "head -c $(($(stat -c %s in.lz4) / 2)) in.lz4",
      "head -c -1 in.lz4",
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
