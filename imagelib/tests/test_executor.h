#ifndef IMAGELIB_TEST_EXECUTOR_H
#define IMAGELIB_TEST_EXECUTOR_H

#include <atomic>
#include <thread>
#include <vector>

#include "image_data.h"

// Executor for tests: splits 0..count-1 into bands and runs every band on its
// own thread at once. Even splits follow the framework's rule (count / bands
// per band, the last band takes the remainder, empty bands when count is
// small); uneven splits give band k a share proportional to k + 1.
struct TestExecutor {
  int bands = 1;
  bool uneven = false;
  std::atomic<int> calls{0};
  std::atomic<int> last_count{0};

  static void exec(void* context, mp_worker_fn worker, int count, void* object) {
    TestExecutor* self = static_cast<TestExecutor*>(context);
    self->calls++;
    self->last_count = count;
    std::vector<std::thread> threads;
    int first = 0;
    const int weights = self->bands * (self->bands + 1) / 2;
    for (int k = 0; k < self->bands; ++k) {
      int size = self->uneven ? static_cast<int>(static_cast<long long>(count) * (k + 1) / weights)
                              : count / self->bands;
      const int last = k == self->bands - 1 ? count - 1 : first + size - 1;
      if (last >= first) threads.emplace_back(worker, object, first, last);
      first = last + 1;
    }
    for (std::thread& t : threads) t.join();
  }
};

// Installs an executor for the life of the scope.
struct ScopedExecutor {
  TestExecutor executor;
  ScopedExecutor(int bands, bool uneven) {
    executor.bands = bands;
    executor.uneven = uneven;
    imagelib_set_mp_exec(&executor, TestExecutor::exec);
  }
  ~ScopedExecutor() { imagelib_set_mp_exec(nullptr, nullptr); }
};

#endif
