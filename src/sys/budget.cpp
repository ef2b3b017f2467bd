// The threads' memory budget under an address-space limit.
#include "sys/budget.h"

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>

namespace {

constexpr size_t kMiB = size_t{1} << 20;
// What the run needs beyond the address space in use when it starts, as a
// serial run would.
constexpr size_t kSerialReserve = 16 * kMiB;

// The address space the process uses now; a lot when it cannot be read.
size_t address_space_in_use() {
  FILE* f = fopen("/proc/self/statm", "r");
  unsigned long pages = 0;
  bool known = f != nullptr && fscanf(f, "%lu", &pages) == 1;
  if (f != nullptr) fclose(f);
  return known ? pages * static_cast<size_t>(sysconf(_SC_PAGESIZE)) : 1024 * kMiB;
}

}  // namespace

unsigned resolve_jobs(unsigned requested) {
  if (requested == 0) requested = static_cast<unsigned>(sysconf(_SC_NPROCESSORS_ONLN));
  return requested > kMostJobs ? kMostJobs : requested;
}

unsigned workers_that_fit(size_t room, size_t thread_bytes, unsigned requested) {
  size_t threads = room / thread_bytes;  // the writer among them
  if (threads > requested) return requested;
  return static_cast<unsigned>(threads > 0 ? threads - 1 : 0);
}

// Under an address-space limit (ulimit -v, as cluster schedulers set), every
// thread that calls malloc would get its own 64 MiB arena, and the library
// does not survive a malloc that fails: start only the threads that fit, and
// cap the arenas at one per worker that can run at once, in at most a
// quarter of the room left (an arena briefly reserves twice its size, and the
// rest stays free for long lines, which only the serial road holds). With no
// arena beside the main one, the workers would queue on its lock and cost
// more CPU than they save: none, go serial.
ThreadBudget budget_in_room(size_t room, unsigned requested, size_t cores) {
  unsigned workers = workers_that_fit(room, kThreadBytes, requested);
  if (workers < 2) return {};
  size_t left = room - (workers + 1) * kThreadBytes;
  size_t arenas = left / (4 * kArenaBytes);
  if (arenas > workers) arenas = workers;
  if (arenas > cores) arenas = cores;
  if (arenas == 0) return {};
  return {workers, arenas};
}

ThreadBudget thread_budget(unsigned requested) {
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return {requested, 0};
  size_t used = address_space_in_use() + kSerialReserve;
  size_t room = limit.rlim_cur > used ? limit.rlim_cur - used : 0;
  return budget_in_room(room, requested, static_cast<size_t>(sysconf(_SC_NPROCESSORS_ONLN)));
}

void cap_arenas(size_t arenas) { mallopt(M_ARENA_MAX, static_cast<int>(arenas + 1)); }

bool start_thread(pthread_t& thread, void* (*body)(void*), void* arg) {
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
  pthread_attr_setstacksize(&attr, kThreadStackBytes);
  bool ok = pthread_create(&thread, &attr, body, arg) == 0;
  pthread_attr_destroy(&attr);
  return ok;
}
