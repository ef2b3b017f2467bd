// Which names and descriptors are one file: the same file, a hard link, a
// symlink, a FIFO, a pipe, a socket, a character device that may be shared;
// and where a name for writing leads when it is standard output or error.
#include "io/streams.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

// A directory of its own for the files of one test, removed at the end.
struct Scratch {
  std::string dir;
  Scratch() {
    char name[] = "/tmp/molstamp-streams-XXXXXX";
    dir = mkdtemp(name);
  }
  ~Scratch() { std::system(("rm -rf '" + dir + "'").c_str()); }
  std::string operator/(const char* name) const { return dir + "/" + name; }
};

// The file or device name leads to.
struct stat stat_of(const std::string& name) {
  struct stat st {};
  EXPECT_EQ(stat(name.c_str(), &st), 0) << name;
  return st;
}

// The file or pipe fd is open on.
struct stat stat_of(int fd) {
  struct stat st {};
  EXPECT_EQ(fstat(fd, &st), 0) << fd;
  return st;
}

TEST(Streams, SameInodeSameFileAndWritesInto) {
  Scratch s;
  std::string file = s / "file", other = s / "other", fifo = s / "fifo";
  ASSERT_EQ(std::system(("echo a > '" + file + "' && echo b > '" + other + "'").c_str()), 0);
  ASSERT_EQ(link(file.c_str(), (s / "hard").c_str()), 0);
  ASSERT_EQ(symlink(file.c_str(), (s / "soft").c_str()), 0);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  int other_ends[2];
  ASSERT_EQ(pipe(other_ends), 0);
  int sockets[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sockets), 0);
  struct Case {
    const char* name;
    struct stat a, b;
    bool inode, file, into;  // same_inode, same_file, writes_into
  };
  const Case cases[] = {
      {"a file and itself", stat_of(file), stat_of(file), true, true, true},
      {"a file and its hard link", stat_of(s / "hard"), stat_of(file), true, true, true},
      {"a file and a symlink to it", stat_of(s / "soft"), stat_of(file), true, true, true},
      {"two files", stat_of(file), stat_of(other), false, false, false},
      {"a FIFO and itself", stat_of(fifo), stat_of(fifo), true, true, true},
      {"a FIFO and a file", stat_of(fifo), stat_of(file), false, false, false},
      {"a pipe's two ends", stat_of(ends[1]), stat_of(ends[0]), true, true, true},
      {"two pipes", stat_of(ends[1]), stat_of(other_ends[0]), false, false, false},
      // Devices and sockets are shared freely, or refused elsewhere.
      {"/dev/null and itself", stat_of("/dev/null"), stat_of("/dev/null"), true, false, false},
      {"/dev/null and /dev/zero", stat_of("/dev/null"), stat_of("/dev/zero"), false, false, false},
      {"a socket and itself", stat_of(sockets[0]), stat_of(sockets[0]), true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(same_inode(c.a, c.b), c.inode);
    EXPECT_EQ(same_file(c.a, c.b), c.file);
    EXPECT_EQ(writes_into(c.a, c.b), c.into);
  }
  EXPECT_TRUE(descriptor_writes_into(ends[1], stat_of(ends[0])));
  EXPECT_FALSE(descriptor_writes_into(other_ends[1], stat_of(ends[0])));
  for (int fd : {ends[0], ends[1], other_ends[0], other_ends[1], sockets[0], sockets[1]}) close(fd);
}

// What find_destination found, as one number: (standard_fd + 1) * 2 + exists.
int code_of(int standard_fd, bool exists) { return (standard_fd + 1) * 2 + (exists ? 1 : 0); }

// find_destination(name, dash_fd) in a child whose standard output is out
// and standard error err: what it found (code_of), or -1 when the child
// failed.
int destination_in_child(int out, int err, const std::string& name, int dash_fd) {
  pid_t child = fork();
  if (child == 0) {
    if (dup2(out, STDOUT_FILENO) < 0 || dup2(err, STDERR_FILENO) < 0) _exit(100);
    Destination d = find_destination(name.c_str(), dash_fd);
    _exit(code_of(d.standard_fd, d.exists));
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status) >= 100 ? -1 : WEXITSTATUS(status);
}

TEST(Streams, FindsTheStandardStreamANameLeadsTo) {
  Scratch s;
  std::string file = s / "out", fifo = s / "fifo";
  ASSERT_EQ(std::system(("touch '" + file + "' '" + (s / "other") + "'").c_str()), 0);
  ASSERT_EQ(link(file.c_str(), (s / "hard").c_str()), 0);
  ASSERT_EQ(symlink(file.c_str(), (s / "soft").c_str()), 0);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  int to_file = open(file.c_str(), O_WRONLY);
  int to_fifo = open(fifo.c_str(), O_RDWR);  // read and write: opening waits for no reader
  int null = open("/dev/null", O_WRONLY);
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  ASSERT_GE(to_file, 0);
  ASSERT_GE(to_fifo, 0);
  ASSERT_GE(null, 0);
  constexpr int kNone = -1, kOut = STDOUT_FILENO, kErr = STDERR_FILENO;
  struct Case {
    const char* what;
    int out, err;  // the child's standard output and error
    std::string name;
    int dash_fd;
    int standard_fd;
    bool exists;
  };
  const Case cases[] = {
      {"the file itself", to_file, null, file, kOut, kOut, true},
      {"its hard link", to_file, null, s / "hard", kOut, kOut, true},
      {"a symlink to it", to_file, null, s / "soft", kOut, kOut, true},
      {"/dev/stdout", to_file, null, "/dev/stdout", kOut, kOut, true},
      {"standard error's file", null, to_file, file, kOut, kErr, true},
      {"another file", to_file, null, s / "other", kOut, kNone, true},
      {"a name not there", to_file, null, s / "missing", kOut, kNone, false},
      {"a FIFO standard output is on", to_fifo, null, fifo, kOut, kOut, true},
      {"the pipe standard output is on", ends[1], null, "/proc/self/fd/1", kOut, kOut, true},
      {"/dev/null, shared freely", null, null, "/dev/null", kOut, kNone, true},
      {"-, for output", null, to_file, "-", kOut, kOut, true},
      {"-, for the log", to_file, null, "-", kErr, kErr, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(destination_in_child(c.out, c.err, c.name, c.dash_fd),
              code_of(c.standard_fd, c.exists));
  }
  for (int fd : {to_file, to_fifo, null, ends[0], ends[1]}) close(fd);
}

}  // namespace
