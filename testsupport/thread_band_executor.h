#ifndef Q4_TESTSUPPORT_THREAD_BAND_EXECUTOR_H
#define Q4_TESTSUPPORT_THREAD_BAND_EXECUTOR_H

#include <atomic>
#include <utility>
#include <vector>

#include "q4_bands.h"
#include "q4_mp_hooks.h"
#include "q4_worker_pool.h"

// An mp_exec_fn for tests and benchmarks: splits 0..count-1 into contiguous
// bands and runs them on the project's worker pool, one runner a band,
// claimed as the host's are, so workers meet real concurrency and not only
// the band bounds.
//
// Even splits are the host's: q4_band with the rows of a short split on the
// last band, empty bands never started. With never_empty, a count smaller
// than bands gets one band per item instead. Uneven splits give band k a
// share proportional to k + 1, so bands of different sizes meet at the seams.
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
    Run run{self, worker, object, count, self->never_empty && count < self->bands ? count : self->bands};
    if (run.bands >= 1) q4_pool_share(run.bands, run.bands, run_band, &run);
  }

 private:
  struct Run {
    const ThreadBandExecutor* self;
    mp_worker_fn worker;
    void* object;
    int count;
    int bands;
  };

  static void run_band(void* context, int k, int) {
    const Run& run = *static_cast<const Run*>(context);
    long first, last;
    if (run.self->uneven) {
      // Band k ends where the first k + 1 shares end; the last takes the rest.
      const long long weights = static_cast<long long>(run.bands) * (run.bands + 1) / 2;
      auto end_of = [&](int j) {
        long long end = 0;
        for (int i = 0; i <= j; ++i) end += static_cast<long long>(run.count) * (i + 1) / weights;
        return static_cast<long>(end);
      };
      first = k == 0 ? 0 : end_of(k - 1);
      last = k == run.bands - 1 ? run.count - 1 : end_of(k) - 1;
    } else {
      q4_band(k, run.count, run.bands, ShortSplit::to_last, first, last);
    }
    if (last >= first) run.worker(run.object, static_cast<int>(first), static_cast<int>(last));
  }
};

// Runs every split of the pool executor, and first hands the worker empty
// bands (first > last) at the start, middle and end of the range, as a
// host does when it has more workers than rows.
struct EmptyBandExecutor {
  ThreadBandExecutor bands;
  explicit EmptyBandExecutor(int count) : bands(count) {}
  static void exec(void* context, mp_worker_fn worker, int count, void* object) {
    EmptyBandExecutor* self = static_cast<EmptyBandExecutor*>(context);
    worker(object, 0, -1);
    worker(object, count / 2, count / 2 - 1);
    worker(object, count, count - 1);
    ThreadBandExecutor::exec(&self->bands, worker, count, object);
  }
};

// The executors every banded operation is checked with: one, three and
// eight even bands, uneven bands, and empty bands before the real ones.
struct BandSplits {
  ThreadBandExecutor one{1}, three{3}, eight{8}, uneven{5, true};
  EmptyBandExecutor empty{4};
  std::vector<std::pair<void*, mp_exec_fn>> all() {
    return {{&one, ThreadBandExecutor::exec},
            {&three, ThreadBandExecutor::exec},
            {&eight, ThreadBandExecutor::exec},
            {&uneven, ThreadBandExecutor::exec},
            {&empty, EmptyBandExecutor::exec}};
  }
};

#endif
