#include "sys/worker_process.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <string>

namespace {

// Replies with the request reversed and its length as the status; "exit N"
// ends the child with status N.
int reverse_request(const std::string& request, std::string& reply, void*) {
  if (request.rfind("exit ", 0) == 0) _exit(std::stoi(request.substr(5)));
  reply.assign(request.rbegin(), request.rend());
  return static_cast<int>(request.size());
}

WorkerServer reverser() {
  WorkerServer server;
  server.serve = reverse_request;
  return server;
}

// True when pid is no child of ours, alive or a zombie: it was reaped.
bool reaped(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) < 0 && errno == ECHILD; }

// The descriptors this process has open.
int open_descriptors() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d) != nullptr) ++n;
    closedir(d);
  }
  return n;
}

// SIGPIPE at its default for a test's span, whatever the runner set: a
// write that raised it would end the test binary.
struct DefaultSigpipe {
  struct sigaction old;
  DefaultSigpipe() {
    struct sigaction d = {};
    d.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &d, &old);
  }
  ~DefaultSigpipe() { sigaction(SIGPIPE, &old, nullptr); }
};

TEST(WorkerProcess, RepliesToEachRequest) {
  WorkerProcess w;
  std::string error;
  ASSERT_TRUE(start_worker(w, reverser(), error)) << error;
  // Empty, short, and beyond a pipe's buffer each way.
  for (std::string request : {std::string(), std::string("abc"), std::string(300000, 'x') + "y"}) {
    int status = -1;
    std::string reply;
    ASSERT_TRUE(call_worker(w, request, status, reply, error)) << error;
    EXPECT_EQ(status, static_cast<int>(request.size()));
    EXPECT_EQ(reply, std::string(request.rbegin(), request.rend()));
  }
  pid_t pid = w.pid;
  stop_worker(w);
  EXPECT_EQ(w.ended, "exited with status 0");
  EXPECT_FALSE(worker_running(w));
  EXPECT_TRUE(reaped(pid));
}

// A child killed from outside: the next call fails at once, with how it
// ended, the child is reaped and this process goes on, SIGPIPE and all.
TEST(WorkerProcess, KilledChildFailsTheNextCallCleanly) {
  DefaultSigpipe sigpipe;
  for (size_t size : {size_t{10}, size_t{200000}}) {
    WorkerProcess w;
    std::string error, reply;
    int status = 0;
    ASSERT_TRUE(start_worker(w, reverser(), error)) << error;
    ASSERT_TRUE(call_worker(w, "first", status, reply, error)) << error;
    pid_t pid = w.pid;
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(call_worker(w, std::string(size, 'z'), status, reply, error));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(1));
    EXPECT_EQ(error, "worker process " + std::to_string(pid) + " killed by signal 9 (SIGKILL)");
    EXPECT_FALSE(worker_running(w));
    EXPECT_TRUE(reaped(pid));
    sigset_t pending;
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
    // Later calls fail the same way, and stop has nothing left to do.
    EXPECT_FALSE(call_worker(w, "again", status, reply, error));
    EXPECT_EQ(error, "worker process killed by signal 9 (SIGKILL)");
    stop_worker(w);
  }
}

TEST(WorkerProcess, ChildThatExitsMidRequest) {
  WorkerProcess w;
  std::string error, reply;
  int status = 0;
  ASSERT_TRUE(start_worker(w, reverser(), error)) << error;
  pid_t pid = w.pid;
  EXPECT_FALSE(call_worker(w, "exit 7", status, reply, error));
  EXPECT_EQ(error, "worker process " + std::to_string(pid) + " exited with status 7");
  EXPECT_TRUE(reaped(pid));
}

// Ctrl-C reaches the whole process group; the worker leaves it to the parent.
TEST(WorkerProcess, ChildIgnoresInterrupts) {
  WorkerProcess w;
  std::string error, reply;
  int status = 0;
  ASSERT_TRUE(start_worker(w, reverser(), error)) << error;
  ASSERT_EQ(kill(w.pid, SIGINT), 0);
  EXPECT_TRUE(call_worker(w, "ab", status, reply, error)) << error;
  EXPECT_EQ(reply, "ba");
  stop_worker(w);
  EXPECT_EQ(w.ended, "exited with status 0");
}

// The child holds no descriptor of its parent's: a pipe the parent closes
// reaches its reader, and a worker stops when its own pipe closes, however
// many others were started after it.
TEST(WorkerProcess, ChildHoldsNoneOfTheParentsDescriptors) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  WorkerProcess first, second;
  std::string error;
  ASSERT_TRUE(start_worker(first, reverser(), error)) << error;
  ASSERT_TRUE(start_worker(second, reverser(), error)) << error;
  close(fds[1]);
  struct pollfd p = {fds[0], POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 2000), 1);
  char c;
  EXPECT_EQ(read(fds[0], &c, 1), 0);
  close(fds[0]);
  // Killed after a second, had the second child held its request pipe.
  stop_worker(first);
  EXPECT_EQ(first.ended, "exited with status 0");
  stop_worker(second);
  EXPECT_EQ(second.ended, "exited with status 0");
}

pid_t refused_fork() {
  errno = EAGAIN;
  return -1;
}

TEST(WorkerProcess, RefusedForkLeavesNothingOpen) {
  int before = open_descriptors();
  WorkerProcess w;
  std::string error;
  EXPECT_FALSE(start_worker(w, reverser(), error, refused_fork));
  EXPECT_EQ(error, "fork: Resource temporarily unavailable");
  EXPECT_FALSE(worker_running(w));
  EXPECT_EQ(open_descriptors(), before);
  int status = 0;
  std::string reply;
  EXPECT_FALSE(call_worker(w, "x", status, reply, error));
  EXPECT_EQ(error, "no worker process");
}

}  // namespace
