#ifndef Q4_TESTSUPPORT_THREAD_BAND_EXECUTOR_H
#define Q4_TESTSUPPORT_THREAD_BAND_EXECUTOR_H

#include <atomic>
#include <thread>
#include <vector>

#include "q4_mp_hooks.h"

// An mp_exec_fn for tests and benchmarks: splits 0..count-1 into contiguous
// bands and runs every band on its own thread at once, so workers meet real
// concurrency and not only the band bounds.
//
// Even splits follow the framework's rule: count / bands per band, the last
// band taking the remainder, and empty bands (never started) when count is
// smaller than bands. With never_empty, a count smaller than bands gets one
// band per item instead. Uneven splits give band k a share proportional to
// k + 1, so bands of different sizes meet at the seams.
//
// Install it with its own address as the context and exec as the function.
struct ThreadBandExecutor {
  int bands = 1;
  bool uneven = false;
  bool never_empty = false;
  std::atomic<int> calls{0};
  std::atomic<int> last_count{0};

  ThreadBandExecutor() = default;
  explicit ThreadBandExecutor(int band_count, bool uneven_split = false, bool no_empty_bands = false)
      : bands(band_count), uneven(uneven_split), never_empty(no_empty_bands) {}

  static void exec(void* context, mp_worker_fn worker, int count, void* object) {
    ThreadBandExecutor* self = static_cast<ThreadBandExecutor*>(context);
    self->calls++;
    self->last_count = count;
    const int bands = self->never_empty && count < self->bands ? count : self->bands;
    if (bands < 1) return;
    std::vector<std::thread> threads;
    int first = 0;
    const long long weights = static_cast<long long>(bands) * (bands + 1) / 2;
    for (int k = 0; k < bands; ++k) {
      const int size = self->uneven ? static_cast<int>(static_cast<long long>(count) * (k + 1) / weights)
                                    : count / bands;
      const int last = k == bands - 1 ? count - 1 : first + size - 1;
      if (last >= first) threads.emplace_back(worker, object, first, last);
      first = last + 1;
    }
    for (std::thread& t : threads) t.join();
  }
};

#endif
