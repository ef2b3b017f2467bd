// The memory budget of threads under an address-space limit: how many may
// start and how many malloc arenas they may use, capping those arenas, and
// starting a thread on the stack the budget counts.
#ifndef MOLSTAMP_BUDGET_H
#define MOLSTAMP_BUDGET_H

#include <pthread.h>

#include <cstddef>
#include <cstdint>

// The most threads -j takes: more than any machine has cores would only waste
// memory.
constexpr uint32_t kMostJobs = 4096;

// The stack a thread of ours starts on.
constexpr size_t kThreadStackBytes = size_t{2} << 20;

// The address space a thread costs: its stack and two slots (a block, its
// annotated copy, compressed copy and log).
constexpr size_t kThreadBytes = kThreadStackBytes + (size_t{3} << 20);

// The address space each malloc arena of glibc reserves (and twice that
// while it is being made).
constexpr size_t kArenaBytes = size_t{64} << 20;

// The threads a run asked for `requested` runs on before the budget: 0 is one
// per online processor; never more than kMostJobs.
unsigned resolve_jobs(unsigned requested);

// What a run can afford of the workers it asks for.
struct ThreadBudget {
  unsigned workers = 0;  // workers beside one more thread; 0: go serial
  size_t arenas = 0;     // malloc arenas beside the main one to cap at; 0: no cap
};

// The budget under RLIMIT_AS: the workers, at most `requested`, that fit
// beside one more thread and a serial run's reserve in the address space
// left, and the arenas to cap malloc at for them; no workers (go serial) when
// fewer than two fit or no arena beside the main one does. Without a limit,
// `requested` and no cap. Only asks: the caller caps the arenas.
ThreadBudget thread_budget(unsigned requested);

// The budget `room` bytes of address space afford on `cores` cores: the
// workers that fit with one more thread, at kThreadBytes each, and one arena
// per worker that can run at once in a quarter of the room they leave; no
// workers and no arenas when fewer than two workers or no arena fit.
ThreadBudget budget_in_room(size_t room, unsigned requested, size_t cores);

// How many workers, at most `requested`, fit with one more thread in `room`
// bytes when each thread costs thread_bytes; 0 when not even one does.
unsigned workers_that_fit(size_t room, size_t thread_bytes, unsigned requested);

// Caps glibc's malloc arenas at `arenas` beside the main one, for the whole
// process (a Python interpreter that hosts the module too) and for good:
// called where threads are about to start.
void cap_arenas(size_t arenas);

// Starts a thread running body(arg) on a stack of the size the budget
// counts; false when it cannot start.
bool start_thread(pthread_t& thread, void* (*body)(void*), void* arg);

#endif
