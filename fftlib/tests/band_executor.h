#ifndef FFTLIB_TESTS_BAND_EXECUTOR_H
#define FFTLIB_TESTS_BAND_EXECUTOR_H

#include <thread>
#include <vector>

#include "q4_mp_hooks.h"

// An executor like the framework's: contiguous bands of equal size, the
// last one taking the remainder, each on its own thread.
struct BandExecutor {
  int bands = 1;
  int calls = 0;
};

inline void run_in_bands(void* context, mp_worker_fn worker, int count, void* object) {
  BandExecutor* ex = static_cast<BandExecutor*>(context);
  ++ex->calls;
  const int bands = ex->bands < count ? ex->bands : count;
  const int size = count / bands;
  std::vector<std::thread> threads;
  for (int i = 0; i < bands; ++i) {
    const int first = i * size;
    const int last = i == bands - 1 ? count - 1 : first + size - 1;
    threads.emplace_back(worker, object, first, last);
  }
  for (auto& t : threads) t.join();
}

#endif
