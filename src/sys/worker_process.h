// A child process that answers requests with a C++ function, over a pair of
// pipes: for library calls that one process can make only one at a time,
// or that may take the process down with them.
#ifndef MOLSTAMP_WORKER_PROCESS_H
#define MOLSTAMP_WORKER_PROCESS_H

#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <string>
#include <string_view>

// The largest request or reply a worker takes, in bytes: anything longer is
// a broken stream, not a message.
constexpr size_t kLargestWorkerMessage = size_t{64} << 20;

// Answers one request, in the child: the reply's status, its text in reply.
using ServeFunction = int (*)(const std::string& request, std::string& reply, void* context);

// What a worker process runs.
struct WorkerServer {
  ServeFunction serve = nullptr;              // answers each request
  void* context = nullptr;                    // passed to serve and in_child
  void (*in_child)(void* context) = nullptr;  // runs first in the child: releases what the
                                              // fork copied held (none: nothing to release)
};

// Makes a process: fork, replaceable so that a refused fork can be tried.
using ForkFunction = pid_t (*)();

// A worker process seen from its parent. One thread at a time calls it.
struct WorkerProcess {
  pid_t pid = -1;     // the child, -1 when none runs
  int requests = -1;  // the parent's end of the request pipe
  int replies = -1;   // the parent's end of the reply pipe
  // How the last child ended: "exited with status 0", "killed by signal 9 (SIGKILL)".
  std::string ended;
  int end_signal = 0;  // the signal that ended the last child, 0 when none did
  pid_t parent = -1;   // the process that started the child: its pipes are that process's
};

// True while w has a child that has not been seen to end.
bool worker_running(const WorkerProcess& w);

// Starts a child that serves requests with server until its request pipe
// closes, then exits with status 0. The child runs only C++ code (never the
// interpreter of a host such as Python), with SIGINT and SIGPIPE ignored,
// no other handler than the defaults, no signal blocked, /dev/null as its
// standard input, output and error, and no descriptor of the parent. False, with nothing left open
// and error saying why (pipe or fork refused), when it cannot start: the caller then does the work
// itself.
bool start_worker(WorkerProcess& w, const WorkerServer& server, std::string& error,
                  ForkFunction fork_call = fork);

// Sends one request and waits for its reply: true with the status and the
// reply's text. False with error saying why when the child is gone or broke
// the stream: it is then reaped (killed first if it lingers) and w.ended says
// how it ended. Never raises SIGPIPE: safe in a host that leaves SIGPIPE at
// its default.
bool call_worker(WorkerProcess& w, std::string_view request, int& status, std::string& reply,
                 std::string& error);

// Closes the request pipe and reaps the child, killing it after a second if
// it has not ended by then; w.ended says how it ended. Nothing when none runs.
void stop_worker(WorkerProcess& w);

// Ends w's child at once (SIGKILL) and reaps it, if one runs: for a worker
// whose state is not to be trusted, which need not finish anything.
void discard_worker(WorkerProcess& w);

// Lets go of a child that another process started, as this process's copy of
// w holds after a fork: closes this copy's ends of its pipes without a
// signal or a wait (the child is not ours, and serves its own parent). So
// two processes never talk to one worker. Nothing when w is this process's.
void forget_inherited_worker(WorkerProcess& w);

#endif
