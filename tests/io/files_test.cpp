// End to end: the files of a run, by name and through the standard streams,
// and every refusal made before anything is written.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "harness.h"
#include "keys/structure.h"

namespace {

// Archives of in.txt, made once for every case that reads one.
std::vector<std::pair<std::string, std::string>> make_archives() {
  Scratch dir;
  write_file(dir / "in.txt", kMixedInput);
  shell(dir, "zip -q in.zip in.txt && 7z a -bd -bso0 in.7z in.txt && tar cf in.tar in.txt");
  shell(dir,
        "gzip -c in.tar > in.tar.gz && xz -c in.tar > in.tar.xz && zstd -qc in.tar > in.tar.zst");
  shell(dir, "bzip2 -c in.tar > in.tar.bz2 && lz4 -q -c in.tar > in.tar.lz4");
  shell(dir, "lz4 -q -l -c in.txt > legacy.lz4");
  shell(dir, "zip -q empty.zip in.txt && zip -q -d empty.zip in.txt");
  shell(dir, "gzip -c in.zip > in.zip.gz && cp in.zip \"my data's.zip\"");
  shell(dir, "tar --format=v7 -cf v7.tar in.txt && cp in.zip ./-x.zip");
  shell(dir, "printf '\\377\\376I\\0n\\0C\\0h\\0I\\0\\r\\0\\n\\0' > utf16le.txt");
  shell(dir, "printf '\\376\\377\\0I\\0n\\0C\\0h\\0I' > utf16be.txt");
  shell(dir, "gzip -c utf16le.txt > utf16le.txt.gz");
  std::vector<std::pair<std::string, std::string>> archives;
  for (const char* name :
       {"in.zip", "empty.zip", "in.7z", "in.tar", "in.tar.gz", "in.tar.xz", "in.tar.zst",
        "in.tar.bz2", "in.tar.lz4", "legacy.lz4", "in.zip.gz", "my data's.zip", "utf16le.txt",
        "utf16be.txt", "utf16le.txt.gz", "v7.tar", "-x.zip"})
    archives.emplace_back(name, read_file(dir / name));
  return archives;
}

TEST(Files, RefusesBadCommandLinesAndUnopenableFiles) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string console;
    Env env = {};
  };
  const std::string out_is_in = "* Error: output file is the input file!\n";
  const std::string zip =
      "* Error: the input is a zip archive: extract the file first "
      "(unzip -p in.zip | molstamp - out.txt).\n";
  auto zip_in = [](const std::string& input) {
    return "* Error: the input is a zip archive: extract the file first (unzip -p " + input +
           " | molstamp - out.txt).\n";
  };
  const std::string utf16 =
      "* Error: the input is UTF-16; convert it to UTF-8 first (iconv -f UTF-16 -t UTF-8)!\n";
  const std::string seven =
      "* Error: the input is a 7z archive: extract the file first "
      "(7z x -so in.7z | molstamp - out.txt).\n";
  // The command names the real input where it can read it as it is.
  auto tar = [](const std::string& input) {
    return "* Error: the input is a tar archive: extract the file first (tar -xOf " + input +
           " | molstamp - out.txt).\n";
  };
  auto piped = [](const std::string& name) {
    Env e = from(name);
    e.stdin_pipe = true;
    return e;
  };
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
      // An archive is refused as the input is opened, whatever its name.
      {{"in.zip", "kept.txt"}, 2, zip},
      {{"empty.zip", "out.txt"}, 2, zip_in("empty.zip")},
      {{"in.7z", "kept.txt", "log.txt"}, 2, seven},
      {{"in.tar", "kept.txt"}, 2, tar("in.tar")},
      {{"in.tar.gz", "kept.txt"}, 2, tar("in.tar.gz")},
      {{"in.tar.xz", "out.txt"}, 2, tar("in.tar.xz")},
      {{"in.tar.zst", "out.txt"}, 2, tar("in.tar.zst")},
      {{"in.tar.bz2", "out.txt"}, 2, tar("in.tar.bz2")},
      {{"in.tar.lz4", "kept.txt"}, 2, tar("FILE")},  // GNU tar does not see through lz4
      {{"--", "-x.zip", "kept.txt"}, 2, zip_in("./-x.zip")},
      {{"v7.tar", "kept.txt"}, 2, tar("v7.tar")},
      {{"-", "kept.txt"}, 2, tar("FILE"), piped("in.tar")},
      {{"-", "out.txt"}, 2, tar("FILE"), piped("in.tar.gz")},
      {{"-j2", "-", "kept.txt"}, 2, zip_in("FILE"), piped("in.zip")},
      // A zip inside gzip: unzip cannot read the file as it is.
      {{"in.zip.gz", "kept.txt"}, 2, zip_in("FILE")},
      {{"my data's.zip", "kept.txt"}, 2, zip_in("'my data'\\''s.zip'")},
      // UTF-16 text (PowerShell 5's >, Notepad's "Unicode") is refused too.
      {{"utf16le.txt", "kept.txt"}, 2, utf16},
      {{"-j2", "utf16be.txt", "kept.txt"}, 2, utf16},
      {{"utf16le.txt.gz", "out.txt"}, 2, utf16},
      {{"-", "kept.txt"}, 2, utf16, piped("utf16le.txt")},
      // Neither is lz4's legacy format read as text: it is refused too.
      {{"legacy.lz4", "kept.txt"},
       2,
       "* Error: the input is lz4 in its legacy format: decompress it first "
       "(lz4 -dc legacy.lz4 | molstamp - out.txt).\n"},
  };
  const auto archives = make_archives();
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
    std::set<std::string> files{"in.txt",   "InChIKeys.txt", "sub",         "kept.txt",
                                "hard.txt", "soft.txt",      "soft-out.txt"};
    for (const auto& [name, bytes] : archives) {
      write_file(dir / name, bytes);
      files.insert(name);
    }

    Outcome o = dir.run(c.args, c.env);
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
TEST(Files, StandardStreamsAndHelp) {
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
  // The tool's version, then the library's, for users who compare keys
  // across library versions.
  const std::string version = "molstamp " MOLSTAMP_VERSION "\n" + library_provenance() + "\n";
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
      {{"-", "-"},
       from("in.zip"),
       2,
       "",
       "* Error: the input is a zip archive: extract the file first "
       "(unzip -p FILE | molstamp - out.txt).\n",
       "",
       ""},
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
    write_file(dir / "in.zip", "PK\x05\x06" + std::string(18, '\0'));
    write_file(dir / "-n", "dash\n");
    write_file(dir / "out.txt", "kept");
    fs::create_hard_link(dir / "in.txt", dir / "hard.txt");
    Outcome o = dir.run(c.args, c.env);
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.console(), c.out);
    EXPECT_EQ(mask_elapsed(o.err), c.err);
    if (!c.file.empty()) {
      EXPECT_EQ(read_file(dir / c.file), c.bytes);
    }
  }
}
// Standard streams under other names, and everything that would write over
// the input or mix the console or log into the output: the same bytes as
// with "-", or a refusal before any file is touched.
TEST(Files, StandardStreamsUnderOtherNamesAndRefusals) {
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
  Env piped_in = env([](Env& e) {
    e.stdin_path = "in.txt";
    e.stdin_pipe = true;
  });
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
      {{"-j2", "in.txt", "/proc/self/fd/1"},
       piped_into_f,
       0,
       "",
       to_stderr,
       {{"f.out", kMixedOutput}}},
      {{"in.txt", "kept.txt"},
       to("kept.txt"),
       0,
       "",
       to_stderr,
       {{"kept.txt", "kept\n" + kMixedOutput}}},
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
      {{"in.txt", "kept.txt"},
       stderr_into_in,
       4,
       "* Error: log file is the input file!\n",
       "",
       {{"in.txt", kMixedInput}, {"kept.txt", "kept\n"}}},
      {{"in.txt", "-"}, stderr_into_in, 4, "", "", {{"in.txt", kMixedInput}}},
      // A pipe (or FIFO) that is the input is never written into: the run
      // would wait for its own end.
      {{"-", "/dev/stdin"}, piped_in, 3, "* Error: output file is the input file!\n", "", {}},
      {{"-", "out.txt", "/proc/self/fd/0"},
       piped_in,
       4,
       "* Error: log file is the input file!\n",
       "",
       {}},
      // Standard error may get a last message even with a log file named.
      {{"in.txt", "out.txt", "log.txt"},
       stderr_into_in,
       4,
       "* Error: standard error is the input file!\n",
       "",
       {{"in.txt", kMixedInput}, {"log.txt", std::nullopt}}},
      // Closed standard streams fail as closed streams do.
      {{"-", "out.txt"},
       env([](Env& e) { e.stdin_closed = true; }),
       2,
       "* Error: could not open input file!\n",
       "",
       {{"out.txt", std::nullopt}}},
      {{"in.txt", "-"},
       env([](Env& e) { e.stdout_closed = true; }),
       5,
       "",
       kMixedLog + kMixedSummary + "* Error: could not write standard output!\n",
       {}},

      // A log in the output's FIFO or pipe, or the console in the output.
      {{"in.txt", "fifo", "fifo"}, {}, 4, log_is_out, "", {}},
      {{"in.txt", "-", "/dev/stdout"},
       env([](Env& e) { e.stdout_pipe = true; }),
       4,
       "",
       log_is_out,
       {}},
      {{"in.txt", "-", "log.txt"},
       env([](Env& e) { e.stderr_on_stdout = true; }),
       4,
       "* Error: standard error is the output file!\n",
       "",
       {{"log.txt", std::nullopt}}},
      // No log named: standard error carries the log, and with standard
      // output as the output, the console.
      {{"in.txt", "f.out"},
       env([](Env& e) { e.stderr_path = "f.out"; }),
       4,
       "* Error: standard error is the output; the log would go into it!\n",
       "",
       {{"f.out", ""}}},
      {{"-j2", "in.txt", "-"},
       env([](Env& e) { e.stderr_on_stdout = true; }),
       4,
       "* Error: standard error is the output; the console would go into it!\n",
       "",
       {}},
      // Standard error is checked like the log file it stands for.
      {{"in.txt", "out.txt"},
       stderr_full,
       5,
       kMixedSummary + no_stderr,
       "",
       {{"out.txt", kMixedOutput}}},
      {{"in.txt", "out.txt", "-"},
       env([](Env& e) { e.stderr_closed = true; }),
       5,
       kMixedSummary + no_stderr,
       "",
       {{"out.txt", kMixedOutput}}},
      {{"-j2", "in.txt", "-"}, stderr_full, 5, kMixedOutput, "", {}},
      {{"in.txt", "out.txt", "log.txt"},
       stderr_full,
       0,
       kMixedSummary,
       "",
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
    EXPECT_EQ(mask_elapsed(o.err), c.err);
    for (const auto& [name, bytes] : c.files) {
      SCOPED_TRACE(name);
      EXPECT_EQ(fs::exists(dir / name), bytes.has_value());
      if (bytes && fs::exists(dir / name)) {
        std::string got = mask_elapsed(read_file(dir / name));
        EXPECT_TRUE(got == *bytes) << testing::PrintToString(got);
      }
    }
  }
}
TEST(Files, DevicesMayBeSharedByOutputAndLog) {
  Scratch dir;
  write_file(dir / "in.txt", kMixedInput);
  Outcome o = dir.run({"in.txt", "/dev/null", "/dev/null"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.console(), kMixedSummary);
}
TEST(Files, ClosedConsoleDoesNotLeakIntoTheOutput) {
  // Enough lines for the progress prints to fill and flush standard output.
  std::string filler;
  for (int i = 0; i < 2'000'000; ++i) filler += "x\n";
  Scratch dir;
  write_file(dir / "in.txt", filler + kMixedInput);
  Env closed;
  closed.console_closed = true;
  Outcome o = dir.run({"in.txt", "out.txt"}, closed);
  // The console's prints are lost: a failed run, as on the closed descriptor.
  EXPECT_EQ(o.status, 5);
  EXPECT_EQ(o.err,
            "Processing 'in.txt'...\n"
            "Warning: could not compute InChIKey for the line #2000006 (unresolved program error)\n"
            "* Error: could not write standard output!\n");
  EXPECT_TRUE(read_file(dir / "out.txt") == filler + kMixedOutput);
}

}  // namespace
