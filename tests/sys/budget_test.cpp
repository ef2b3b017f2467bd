// The threads' memory budget: how many workers fit in the room left.
#include "sys/budget.h"

#include <gtest/gtest.h>

#include <cstddef>

namespace {

// The writer takes one thread's room; the rest go to workers, never more
// than asked for, and no room at all must not wrap into a huge count.
TEST(Budget, WorkersThatFitStopAtTheRoom) {
  struct Case {
    size_t room, thread_bytes;
    unsigned requested, workers;
  };
  constexpr size_t kCost = size_t{5} << 20;
  const Case cases[] = {
      {9 * kCost, kCost, 8, 8},      // exactly 8 workers and the writer fit
      {9 * kCost - 1, kCost, 8, 7},  // one byte less
      {9 * kCost, kCost, 9, 8},      // asked for more than fit
      {100 * kCost, kCost, 8, 8},    // more room than asked for
      {2 * kCost, kCost, 3, 1},      // one worker and the writer
      {2 * kCost - 1, kCost, 3, 0},  // the writer alone
      {kCost - 1, kCost, 3, 0},      // not even the writer
      {0, kCost, 3, 0},              // nothing left
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.room << " / " << c.thread_bytes << ", " << c.requested);
    EXPECT_EQ(workers_that_fit(c.room, c.thread_bytes, c.requested), c.workers);
  }
}

// The arenas go with the workers: one per worker that can run at once, in a
// quarter of the room the threads leave; a budget without workers caps
// nothing (the caller would change the allocator of a process, a Python
// interpreter perhaps, for threads that never start), and one without an
// arena goes serial.
TEST(Budget, ArenasFollowTheWorkersThatStart) {
  struct Case {
    size_t room;
    unsigned requested;
    size_t cores;
    unsigned workers;
    size_t arenas;
  };
  constexpr size_t kArenaRoom = 4 * kArenaBytes;
  const Case cases[] = {
      {9 * kThreadBytes + 3 * kArenaRoom, 8, 16, 8, 3},      // room for 3 arenas
      {9 * kThreadBytes + 3 * kArenaRoom - 1, 8, 16, 8, 2},  // one byte less
      {9 * kThreadBytes + 20 * kArenaRoom, 8, 16, 8, 8},     // no more than the workers
      {9 * kThreadBytes + 20 * kArenaRoom, 8, 4, 8, 4},      // nor the cores
      {9 * kThreadBytes + kArenaRoom - 1, 8, 16, 0, 0},      // workers but no arena: serial
      {3 * kThreadBytes + 20 * kArenaRoom, 2, 16, 2, 2},     // two workers start
      {20 * kArenaRoom, 1, 16, 0, 0},                        // one worker: serial
      {kThreadBytes, 8, 16, 0, 0},                           // the writer alone
      {0, 8, 16, 0, 0},                                      // nothing left
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.room << " bytes, " << c.requested << " asked, " << c.cores << " cores");
    ThreadBudget b = budget_in_room(c.room, c.requested, c.cores);
    EXPECT_EQ(b.workers, c.workers);
    EXPECT_EQ(b.arenas, c.arenas);
  }
}

}  // namespace
