// Worker processes: a request is its length (4 bytes, this machine's order)
// and its bytes; a reply its status, its length and its bytes.
#include "sys/worker_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <system_error>

namespace {

// The text of an errno value; thread-safe, unlike strerror.
std::string errno_text(int error) { return std::generic_category().message(error); }

// Writes n bytes to fd with SIGPIPE held off the calling thread: a reader
// that is gone gives EPIPE instead of a signal that would end the process.
// The SIGPIPE the write raised is taken back before the mask is restored,
// unless one was already waiting. 0, or the errno of the failed write.
int write_quietly(int fd, const char* data, size_t n) {
  sigset_t pipe_signal, old;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_signal, &old);
  sigset_t pending;
  sigpending(&pending);
  bool was_pending = sigismember(&pending, SIGPIPE) == 1;
  int error = 0;
  while (n > 0) {
    ssize_t k = write(fd, data, n);
    if (k < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    data += k;
    n -= static_cast<size_t>(k);
  }
  if (error == EPIPE && !was_pending) {
    // Ignored SIGPIPE (Python ignores it) raises none: nothing to take back.
    struct timespec now = {0, 0};
    while (sigtimedwait(&pipe_signal, nullptr, &now) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return error;
}

// Reads n bytes from fd into data: 1 when all came, 0 at the end of the
// stream (before or amid them), -1 on a read error.
int read_fully(int fd, char* data, size_t n) {
  while (n > 0) {
    ssize_t k = read(fd, data, n);
    if (k < 0 && errno == EINTR) continue;
    if (k < 0) return -1;
    if (k == 0) return 0;
    data += k;
    n -= static_cast<size_t>(k);
  }
  return 1;
}

// How a wait status reads: "exited with status N", "killed by signal N (SIGNAME)".
std::string describe_end(int status) {
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) {
    int sig = WTERMSIG(status);
    const char* name = sigabbrev_np(sig);
    return "killed by signal " + std::to_string(sig) +
           (name != nullptr ? std::string(" (SIG") + name + ")" : std::string());
  }
  return "ended with wait status " + std::to_string(status);
}

// Reaps w's child: waits up to grace_ms for it to end, then kills it; closes
// the parent's ends and records how it ended.
void reap(WorkerProcess& w, int grace_ms) {
  int status = 0;
  bool reaped = false;
  for (int waited = 0;;) {
    pid_t r = waitpid(w.pid, &status, WNOHANG);
    if (r == w.pid) {
      reaped = true;
      break;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) break;  // reaped by someone else: a host's wait for any child
    if (waited >= grace_ms) {
      kill(w.pid, SIGKILL);
      while ((r = waitpid(w.pid, &status, 0)) < 0 && errno == EINTR) {
      }
      reaped = r == w.pid;
      break;
    }
    struct timespec millisecond = {0, 1000000};
    nanosleep(&millisecond, nullptr);
    ++waited;
  }
  w.ended = reaped ? describe_end(status) : "ended, reaped by another wait";
  w.end_signal = reaped && WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  if (w.requests >= 0) close(w.requests);
  if (w.replies >= 0) close(w.replies);
  w.requests = w.replies = -1;
  w.pid = -1;
}

// Closes every descriptor from `from` up to and including `to`.
void close_between(unsigned from, unsigned to) {
  if (from > to) return;
  if (close_range(from, to, 0) == 0) return;
  // Kernels before 5.9 have no close_range: one by one, as far as the limit.
  long most = sysconf(_SC_OPEN_MAX);
  unsigned last = most > 0 && most < (1L << 20) ? static_cast<unsigned>(most) - 1 : (1u << 20);
  for (unsigned fd = from; fd <= to && fd <= last; ++fd) close(static_cast<int>(fd));
}

// The child's signals, set while all are blocked: SIGINT ignored (its life
// ends with its request pipe, not with the terminal's Ctrl-C, which the
// parent handles), SIGPIPE ignored (a write to a parent that is gone fails
// instead), every handler it inherited back to the default; then nothing
// blocked.
void child_signals() {
  for (int sig = 1; sig < NSIG; ++sig) {
    struct sigaction action;
    if (sigaction(sig, nullptr, &action) != 0) continue;
    if (action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN) signal(sig, SIG_DFL);
  }
  signal(SIGINT, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

// The child's descriptors: its request and reply ends moved to 3 or above,
// /dev/null as standard input, output and error (a pipe the parent writes to
// must reach its reader's end when the parent closes it, and what a library
// that goes down says there would land in the run's log at no fixed place:
// the parent reports how the child ended), and nothing else: another
// worker's request pipe held here would never close. Sets in and out.
void child_descriptors(const int (&request_pipe)[2], const int (&reply_pipe)[2], int& in,
                       int& out) {
  in = fcntl(request_pipe[0], F_DUPFD, 3);
  out = fcntl(reply_pipe[1], F_DUPFD, 3);
  if (in < 0 || out < 0) _exit(4);
  for (int fd : {request_pipe[0], request_pipe[1], reply_pipe[0], reply_pipe[1]}) close(fd);
  int null = open("/dev/null", O_RDWR);
  if (null >= 0) {
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
  } else {
    close(0);
    close(1);
    close(2);
  }
  unsigned low = static_cast<unsigned>(in < out ? in : out);
  unsigned high = static_cast<unsigned>(in < out ? out : in);
  close_between(3, low - 1);
  close_between(low + 1, high - 1);
  close_between(high + 1, UINT_MAX);
}

// The child's life: requests answered until the request pipe closes.
[[noreturn]] void serve_requests(const WorkerServer& server, int in, int out) {
  std::string request, reply;
  for (;;) {
    uint32_t length = 0;
    int got = read_fully(in, reinterpret_cast<char*>(&length), sizeof length);
    if (got == 0) _exit(0);  // the parent closed the pipe, or is gone
    if (got < 0 || length > kLargestWorkerMessage) _exit(1);
    int status = 0;
    try {
      request.resize(length);
      if (length > 0 && read_fully(in, request.data(), length) != 1) _exit(1);
      reply.clear();
      status = server.serve(request, reply, server.context);
    } catch (...) {
      _exit(3);  // no exception leaves the child: the parent sees its end
    }
    if (reply.size() > kLargestWorkerMessage) _exit(1);
    int32_t head[2] = {static_cast<int32_t>(status), static_cast<int32_t>(reply.size())};
    if (write_quietly(out, reinterpret_cast<const char*>(head), sizeof head) != 0) _exit(0);
    if (write_quietly(out, reply.data(), reply.size()) != 0) _exit(0);
  }
}

}  // namespace

bool worker_running(const WorkerProcess& w) { return w.pid > 0; }

bool start_worker(WorkerProcess& w, const WorkerServer& server, std::string& error,
                  ForkFunction fork_call) {
  if (worker_running(w)) {
    error = "a worker process already runs";
    return false;
  }
  // Close-on-exec: a command the parent runs later must not hold them open.
  int request_pipe[2], reply_pipe[2];
  if (pipe2(request_pipe, O_CLOEXEC) != 0) {
    error = "pipe: " + errno_text(errno);
    return false;
  }
  if (pipe2(reply_pipe, O_CLOEXEC) != 0) {
    error = "pipe: " + errno_text(errno);
    close(request_pipe[0]);
    close(request_pipe[1]);
    return false;
  }
  // Every signal held across the fork: none reaches the child before it has
  // its own dispositions (a Ctrl-C then, or a host's handler run there).
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  pid_t pid = fork_call();
  int fork_error = errno;
  if (pid != 0) pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (pid < 0) {
    error = "fork: " + errno_text(fork_error);
    for (int fd : {request_pipe[0], request_pipe[1], reply_pipe[0], reply_pipe[1]}) close(fd);
    return false;
  }
  if (pid == 0) {
    if (server.in_child != nullptr) server.in_child(server.context);
    child_signals();
    int in = -1, out = -1;
    child_descriptors(request_pipe, reply_pipe, in, out);
    serve_requests(server, in, out);
  }
  close(request_pipe[0]);
  close(reply_pipe[1]);
  w.pid = pid;
  w.parent = getpid();
  w.requests = request_pipe[1];
  w.replies = reply_pipe[0];
  w.ended.clear();
  return true;
}

bool call_worker(WorkerProcess& w, std::string_view request, int& status, std::string& reply,
                 std::string& error) {
  if (!worker_running(w)) {
    error = w.ended.empty() ? "no worker process" : "worker process " + w.ended;
    return false;
  }
  if (request.size() > kLargestWorkerMessage) {
    error = "request of " + std::to_string(request.size()) + " bytes, too long for a worker";
    return false;
  }
  std::string message(sizeof(uint32_t), '\0');
  uint32_t length = static_cast<uint32_t>(request.size());
  std::memcpy(message.data(), &length, sizeof length);
  message.append(request);
  pid_t pid = w.pid;
  int32_t head[2] = {0, 0};  // the reply's status and length
  bool malformed = false, received = false;
  if (write_quietly(w.requests, message.data(), message.size()) == 0 &&
      read_fully(w.replies, reinterpret_cast<char*>(head), sizeof head) == 1) {
    malformed = head[1] < 0 || static_cast<size_t>(head[1]) > kLargestWorkerMessage;
    if (!malformed) {
      reply.resize(static_cast<size_t>(head[1]));
      received = reply.empty() || read_fully(w.replies, reply.data(), reply.size()) == 1;
    }
  }
  if (received) {
    status = head[0];
    return true;
  }
  // The child ends when its pipe breaks; one that broke the stream but lives
  // would hang the next call, so it is killed.
  reap(w, malformed ? 0 : 1000);
  error = "worker process " + std::to_string(pid) + " " + w.ended +
          (malformed ? ", after a malformed reply" : "");
  return false;
}

void stop_worker(WorkerProcess& w) {
  if (!worker_running(w)) return;
  close(w.requests);
  w.requests = -1;
  reap(w, 1000);
}

void discard_worker(WorkerProcess& w) {
  if (worker_running(w)) reap(w, 0);
}

void forget_inherited_worker(WorkerProcess& w) {
  if (!worker_running(w) || w.parent == getpid()) return;
  if (w.requests >= 0) close(w.requests);
  if (w.replies >= 0) close(w.replies);
  w.requests = w.replies = -1;
  w.pid = -1;
  w.ended = "left to the process that started it";
  w.end_signal = 0;
}
