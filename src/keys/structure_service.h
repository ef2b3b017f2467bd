// The structure calls of one thread, each in a worker process of its own:
// threads that would wait for each other on the process's one lock, or an
// InChI that takes the library down, do not hold up or end the run.
#ifndef MOLSTAMP_STRUCTURE_SERVICE_H
#define MOLSTAMP_STRUCTURE_SERVICE_H

#include <string>

#include "keys/structure.h"
#include "sys/worker_process.h"

// The status of a structure call whose worker process ended before it
// replied; the message says how it ended.
constexpr int kWorkerLost = 100;

// The status of a structure call whose worker process the library brought
// down on this InChI (a fault signal: SIGSEGV, SIGABRT, SIGBUS, SIGFPE,
// SIGILL): a failed call, the message says how; the next call starts another.
constexpr int kWorkerCrashed = 101;

// One thread's way to the structure calls: its worker process when one runs,
// else the process's serialized calls. One thread at a time uses it.
struct StructureService {
  WorkerProcess worker;           // this thread's worker process
  bool in_process = false;        // no worker could start: calls run here, serialized
  std::string start_error;        // why the last worker did not start
  ForkFunction fork_call = fork;  // how workers are forked
  // False in a database's process: a worker that cannot start fails the call
  // (kWorkerLost) and the next call tries again; the library is never called
  // in the host, where an InChI that corrupts it would take the host down.
  bool may_run_in_process = true;
};

// Starts s's worker process; false when it cannot start, with s.in_process
// set and s.start_error saying why.
bool start_structure_service(StructureService& s);

// standard_inchi_of(inchi), through s's worker; a worker is started first
// when none runs (one that cannot start leaves the call, and every later
// one, in this process). A worker that ends before it replies gives status
// kWorkerLost and a message naming how it ended; the next call starts another.
// So does a call the library failed, whose worker is ended after its reply.
// A worker inherited across a fork is left to its own parent, and this
// process starts its own.
StructureResult structure_call(StructureService& s, const char* inchi);

// Ends s's worker process, if one runs.
void stop_structure_service(StructureService& s);

#endif
