// The memory budget of threads under an address-space limit: how many may
// start, and starting one on the stack the budget counts.
#ifndef MOLSTAMP_BUDGET_H
#define MOLSTAMP_BUDGET_H

#include <pthread.h>

#include <cstddef>
#include <cstdint>

// The most threads -j takes: more than any machine has cores would only waste
// memory.
constexpr uint32_t kMostJobs = 4096;

// The threads a run asked for `requested` runs on before the budget: 0 is one
// per online processor; never more than kMostJobs.
unsigned resolve_jobs(unsigned requested);

// How many workers, at most `requested`, fit beside one more thread and a
// serial run's reserve in the address space left under RLIMIT_AS, with the
// malloc arenas capped to match; 0 (go serial) when fewer than two fit or no
// arena beside the main one does. Without a limit, `requested`.
unsigned affordable_workers(unsigned requested);

// How many workers, at most `requested`, fit with one more thread in `room`
// bytes when each thread costs thread_bytes; 0 when not even one does.
unsigned workers_that_fit(size_t room, size_t thread_bytes, unsigned requested);

// Starts a thread running body(arg) on a stack of the size the budget
// counts; false when it cannot start.
bool start_thread(pthread_t& thread, void* (*body)(void*), void* arg);

#endif
