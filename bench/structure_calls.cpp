// The library's structure calls (InChI -> structure -> standard InChI), one
// InChI per line of standard input, timed five ways: in this process; through
// one worker process; on two threads sharing this process's library without
// the lock (each run in a child process of its own, so that an abort shows
// as a result); on two threads through the lock; on two threads, each with
// its worker process.
//
//   zcat tests/data/crosscheck.tsv.gz | grep -v '^#' | cut -f1 | grep '^InChI=1/' |
//     build/release/molstamp_structure_calls [RUNS]
#include <inchi_api.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "keys/structure.h"
#include "keys/structure_service.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point begin) {
  return std::chrono::duration<double>(Clock::now() - begin).count();
}

// What a set of calls gave: successes, busy refusals, other failures.
struct Tally {
  long ok = 0, busy = 0, other = 0;
};

void count(Tally& t, int status) {
  if (status == inchi_Ret_OKAY || status == inchi_Ret_WARNING)
    ++t.ok;
  else if (status == inchi_Ret_BUSY)
    ++t.busy;
  else
    ++t.other;
}

// The structure call as the library offers it, with no lock: what two
// threads would do without one. The status of whichever call failed.
int unlocked_call(const char* inchi) {
  inchi_InputINCHI in{const_cast<char*>(inchi), const_cast<char*>("")};
  inchi_OutputStruct st;
  std::memset(&st, 0, sizeof st);
  int status = GetStructFromINCHI(&in, &st);
  if (status == inchi_Ret_OKAY || status == inchi_Ret_WARNING) {
    inchi_Input structure{st.atom, st.stereo0D, const_cast<char*>(""), st.num_atoms,
                          st.num_stereo0D};
    inchi_Output out;
    std::memset(&out, 0, sizeof out);
    status = GetStdINCHI(&structure, &out);
    FreeStdINCHI(&out);
  }
  FreeStructFromINCHI(&st);
  return status;
}

// Runs body(thread, half) on two threads, each over its half of the list.
template <typename Body>
void on_two_threads(const std::vector<std::string>& inchis, Body body) {
  std::vector<std::thread> threads;
  size_t half = inchis.size() / 2;
  for (int t = 0; t < 2; ++t)
    threads.emplace_back(body, t, t == 0 ? size_t{0} : half, t == 0 ? half : inchis.size());
  for (std::thread& t : threads) t.join();
}

// One unlocked run in a child process: its tally, or how the child ended.
std::string unlocked_run(const std::vector<std::string>& inchis) {
  int fds[2];
  if (pipe(fds) != 0) return "pipe failed";
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    Tally tally[2];
    on_two_threads(inchis, [&](int t, size_t begin, size_t end) {
      for (size_t i = begin; i < end; ++i) count(tally[t], unlocked_call(inchis[i].c_str()));
    });
    Tally sum{tally[0].ok + tally[1].ok, tally[0].busy + tally[1].busy,
              tally[0].other + tally[1].other};
    if (write(fds[1], &sum, sizeof sum) != sizeof sum) _exit(1);
    _exit(0);
  }
  close(fds[1]);
  Tally sum;
  ssize_t got = read(fds[0], &sum, sizeof sum);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) {
    const char* name = sigabbrev_np(WTERMSIG(status));
    return "child killed by signal " + std::to_string(WTERMSIG(status)) + " (SIG" +
           (name != nullptr ? name : "?") + ")";
  }
  if (got != sizeof sum) return "child ended without a tally";
  return "ok " + std::to_string(sum.ok) + ", busy " + std::to_string(sum.busy) + ", other " +
         std::to_string(sum.other);
}

}  // namespace

// The fastest of `rounds` timings of body(), in seconds: the machine's
// other load only ever adds.
template <typename Body>
double fastest(int rounds, Body body) {
  double best = 1e300;
  for (int r = 0; r < rounds; ++r) {
    auto begin = Clock::now();
    body();
    best = std::min(best, seconds_since(begin));
  }
  return best;
}

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::atoi(argv[1]) : 8;
  int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  std::vector<std::string> inchis;
  for (std::string line; std::getline(std::cin, line);)
    if (!line.empty()) inchis.push_back(line);
  if (inchis.size() < 2) {
    std::fprintf(stderr, "usage: ... | structure_calls [RUNS [ROUNDS]], one InChI per line\n");
    return 2;
  }
  const double n = static_cast<double>(inchis.size());
  std::printf("%zu InChIs, fastest of %d rounds; %s\n", inchis.size(), rounds,
              library_provenance().c_str());

  std::vector<StructureResult> want(inchis.size());
  double in_process = fastest(rounds, [&] {
    for (size_t i = 0; i < inchis.size(); ++i) want[i] = standard_inchi_of(inchis[i].c_str());
  });
  long failed = 0;
  for (const StructureResult& r : want) failed += !structure_succeeded(r);
  std::printf("in process:            %8.1f us/call  (%.2f s, %ld failed)\n", in_process / n * 1e6,
              in_process, failed);

  std::atomic<long> wrong{0};
  std::atomic<long> fallbacks{0};
  // Calls through a service of the calling thread over [first, end).
  auto through_worker = [&](size_t first, size_t end) {
    StructureService s;
    if (!start_structure_service(s)) ++fallbacks;
    for (size_t i = first; i < end; ++i) {
      StructureResult r = structure_call(s, inchis[i].c_str());
      if (r.status != want[i].status || r.text != want[i].text) ++wrong;
    }
    stop_structure_service(s);
  };
  double worker = fastest(rounds, [&] { through_worker(0, inchis.size()); });
  std::printf("one worker process:    %8.1f us/call  (%.2f s, %ld differ, %ld in process)\n",
              worker / n * 1e6, worker, wrong.load(), fallbacks.load());

  // The worker's own cost: a call the library refuses at once.
  constexpr int kEmpty = 20000;
  double empty_here = fastest(rounds, [&] {
    for (int i = 0; i < kEmpty; ++i) standard_inchi_of("");
  });
  StructureService trip;
  start_structure_service(trip);
  double empty_worker = fastest(rounds, [&] {
    for (int i = 0; i < kEmpty; ++i) structure_call(trip, "");
  });
  stop_structure_service(trip);
  std::printf("empty InChI:           %8.1f us/call in process, %.1f us/call through a worker\n",
              empty_here / kEmpty * 1e6, empty_worker / kEmpty * 1e6);

  std::printf("two threads, no lock, %d runs, each in a child process:\n", runs);
  for (int run = 0; run < runs; ++run)
    std::printf("  run %d: %s\n", run + 1, unlocked_run(inchis).c_str());

  wrong = 0;
  double locked = fastest(rounds, [&] {
    on_two_threads(inchis, [&](int, size_t first, size_t end) {
      for (size_t i = first; i < end; ++i) {
        StructureResult r = standard_inchi_of(inchis[i].c_str());
        if (r.status != want[i].status || r.text != want[i].text) ++wrong;
      }
    });
  });
  std::printf("two threads, the lock: %8.1f us/call  (%.2f s, %ld differ)\n", locked / n * 1e6,
              locked, wrong.load());

  wrong = 0;
  fallbacks = 0;
  double workers = fastest(rounds, [&] {
    on_two_threads(inchis, [&](int, size_t first, size_t end) { through_worker(first, end); });
  });
  std::printf("two threads, workers:  %8.1f us/call  (%.2f s, %ld differ, %ld in process)\n",
              workers / n * 1e6, workers, wrong.load(), fallbacks.load());
  std::printf("speedup of two workers: %.2fx over the lock, %.2fx over one worker\n",
              locked / workers, worker / workers);
  return 0;
}
