// Structure calls through worker processes. A reply is a flag ('1': the
// library rebuilt a structure), the standard InChI, a NUL and the message.
#include "keys/structure_service.h"

#include <csignal>
#include <cstring>
#include <mutex>
#include <string>

namespace {

// In the child: the fork copied the structure lock held by the thread that
// forked (see start_structure_service); nothing else there will release it.
void release_structure_lock(void*) { structure_lock().unlock(); }

// Serves one structure request (an InChI) in a worker: the status of
// standard_inchi_of and its result as reply.
int serve_structure_request(const std::string& request, std::string& reply, void*) {
  StructureResult r = standard_inchi_of(request.c_str());
  reply.assign(1, r.structure ? '1' : '0');
  reply.append(r.text).append(1, '\0').append(r.message);
  return r.status;
}

// The result a structure reply stands for, given its status.
StructureResult structure_reply(int status, const std::string& reply) {
  StructureResult r;
  r.status = status;
  if (reply.empty()) return r;
  r.structure = reply[0] == '1';
  size_t nul = reply.find('\0', 1);
  if (nul == std::string::npos) nul = reply.size();
  r.text.assign(reply, 1, nul - 1);
  if (nul < reply.size()) r.message.assign(reply, nul + 1, std::string::npos);
  return r;
}

}  // namespace

bool start_structure_service(StructureService& s) {
  WorkerServer server;
  server.serve = serve_structure_request;
  server.in_child = release_structure_lock;
  // Forked with the lock held: no other thread is inside the library then,
  // so the child's copy of it is between calls and free to serve.
  std::lock_guard<std::mutex> hold(structure_lock());
  if (start_worker(s.worker, server, s.start_error, s.fork_call)) return true;
  s.in_process = true;
  return false;
}

StructureResult structure_call(StructureService& s, const char* inchi) {
  forget_inherited_worker(s.worker);
  if (!s.in_process && !worker_running(s.worker) && !start_structure_service(s) &&
      !s.may_run_in_process) {
    s.in_process = false;  // the next call tries again
    StructureResult none;
    none.status = kWorkerLost;
    none.message = "no worker process for structure calls could start (" + s.start_error + ")";
    return none;
  }
  if (s.in_process) return standard_inchi_of(inchi);
  int status = 0;
  std::string reply, error;
  if (call_worker(s.worker, inchi, status, reply, error)) {
    StructureResult r = structure_reply(status, reply);
    // On some damaged InChIs the library writes out of bounds and fails, and
    // the worker's memory is then not to be trusted with the next InChI: a
    // failed call ends its worker, and the next call starts a fresh one.
    if (!structure_succeeded(r)) discard_worker(s.worker);
    return r;
  }
  StructureResult lost;
  int sig = s.worker.end_signal;
  bool crashed =
      sig == SIGSEGV || sig == SIGABRT || sig == SIGBUS || sig == SIGFPE || sig == SIGILL;
  lost.status = crashed ? kWorkerCrashed : kWorkerLost;
  // The same words at every -j: neither the process nor the signal, which
  // hangs on what the worker's library did before.
  lost.message = crashed ? "the InChI library crashed on it" : error;
  return lost;
}

void stop_structure_service(StructureService& s) { stop_worker(s.worker); }
