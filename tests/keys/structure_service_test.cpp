#include "keys/structure_service.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

// Standard, non-standard, refused with and without a message, not an InChI.
const char* const kInChIs[] = {
    "InChI=1S/C8H10N4O2/c1-10-4-9-6-5(10)7(13)12(3)8(14)11(6)2/h4H,1-3H3",
    "InChI=1/C2H6O/c1-2-3/h3H,2H2,1H3",
    "InChI=1S/C2H6O/c1-2-3/h3H,2H2,1H3/i",
    "InChI=1S/C6H6/c1-2-3-4-5-6-1/h1-6H",
    "InChI=1S/CH4/h1H4/garbage",
    "not an InChI",
    "",
};

void expect_same(const StructureResult& got, const StructureResult& want, const char* inchi) {
  EXPECT_EQ(got.status, want.status) << inchi;
  EXPECT_EQ(got.structure, want.structure) << inchi;
  EXPECT_EQ(got.text, want.text) << inchi;
  EXPECT_EQ(got.message, want.message) << inchi;
}

TEST(StructureService, WorkerGivesWhatThisProcessGives) {
  StructureService s;
  ASSERT_TRUE(start_structure_service(s)) << s.start_error;
  EXPECT_FALSE(s.in_process);
  for (const char* inchi : kInChIs)
    expect_same(structure_call(s, inchi), standard_inchi_of(inchi), inchi);
  structure_call(s, kInChIs[0]);  // the last one failed and ended its worker
  stop_structure_service(s);
  EXPECT_EQ(s.worker.ended, "exited with status 0");
}

// A call the library failed may leave the worker's memory corrupt: the next
// call gets a new worker. One that succeeded keeps its worker.
TEST(StructureService, FailedCallEndsItsWorker) {
  struct Case {
    const char* inchi;
    bool kept;
  } cases[] = {{kInChIs[0], true},  {kInChIs[1], true},  {kInChIs[3], false},
               {kInChIs[4], false}, {kInChIs[5], false}, {kInChIs[0], true}};
  StructureService s;
  ASSERT_TRUE(start_structure_service(s)) << s.start_error;
  for (const Case& c : cases) {
    pid_t before = s.worker.pid;
    expect_same(structure_call(s, c.inchi), standard_inchi_of(c.inchi), c.inchi);
    EXPECT_EQ(worker_running(s.worker), c.kept) << c.inchi;
    if (c.kept) {
      EXPECT_EQ(s.worker.pid, before) << c.inchi;
    } else {
      EXPECT_TRUE(waitpid(before, nullptr, WNOHANG) < 0 && errno == ECHILD) << c.inchi;
    }
    structure_call(s, kInChIs[0]);  // a worker again for the next row
  }
  stop_structure_service(s);
}

// A worker that dies fails the call it was on, within a second and without
// a zombie; the next call gets a new worker.
TEST(StructureService, KilledWorkerFailsOneCallThenIsReplaced) {
  StructureService s;
  ASSERT_TRUE(start_structure_service(s)) << s.start_error;
  pid_t pid = s.worker.pid;
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  auto begin = std::chrono::steady_clock::now();
  StructureResult lost = structure_call(s, kInChIs[1]);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(1));
  EXPECT_EQ(lost.status, kWorkerLost);
  EXPECT_FALSE(structure_succeeded(lost));
  EXPECT_EQ(structure_failure(lost), "no structure: worker process " + std::to_string(pid) +
                                         " killed by signal 9 (SIGKILL)");
  EXPECT_TRUE(waitpid(pid, nullptr, WNOHANG) < 0 && errno == ECHILD);
  expect_same(structure_call(s, kInChIs[1]), standard_inchi_of(kInChIs[1]), kInChIs[1]);
  EXPECT_NE(s.worker.pid, pid);
  EXPECT_FALSE(s.in_process);
  stop_structure_service(s);
}

pid_t refused_fork() {
  errno = EAGAIN;
  return -1;
}

TEST(StructureService, RefusedForkServesInThisProcess) {
  StructureService s;
  s.fork_call = refused_fork;
  EXPECT_FALSE(start_structure_service(s));
  EXPECT_TRUE(s.in_process);
  EXPECT_EQ(s.start_error, "fork: Resource temporarily unavailable");
  for (const char* inchi : kInChIs)
    expect_same(structure_call(s, inchi), standard_inchi_of(inchi), inchi);
  stop_structure_service(s);
}

// Workers forked while another thread is inside the library: each child's
// copy of it must be between calls, never busy for good.
TEST(StructureService, ForkedWhileAnotherThreadCallsTheLibrary) {
  std::atomic<bool> done{false};
  std::atomic<int> refused{0};
  std::thread busy([&] {
    while (!done)
      if (!structure_succeeded(standard_inchi_of(kInChIs[0]))) ++refused;
  });
  StructureResult want = standard_inchi_of(kInChIs[1]);
  for (int i = 0; i < 40; ++i) {
    StructureService s;
    ASSERT_TRUE(start_structure_service(s)) << s.start_error;
    expect_same(structure_call(s, kInChIs[1]), want, kInChIs[1]);
    stop_structure_service(s);
    ASSERT_EQ(s.worker.ended, "exited with status 0");
  }
  done = true;
  busy.join();
  EXPECT_EQ(refused, 0);
}

// Two threads, each with its worker: every call succeeds, as in one process.
TEST(StructureService, TwoThreadsEachWithItsWorker) {
  StructureResult want = standard_inchi_of(kInChIs[1]);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      StructureService s;
      start_structure_service(s);
      for (int i = 0; i < 300; ++i) {
        StructureResult r = structure_call(s, kInChIs[1]);
        if (r.status != want.status || r.text != want.text) ++wrong;
      }
      if (s.in_process) ++wrong;
      stop_structure_service(s);
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong, 0);
}

}  // namespace
