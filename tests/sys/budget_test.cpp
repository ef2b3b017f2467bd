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

}  // namespace
