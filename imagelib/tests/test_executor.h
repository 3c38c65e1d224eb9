#ifndef IMAGELIB_TEST_EXECUTOR_H
#define IMAGELIB_TEST_EXECUTOR_H

#include <vector>

#include "image_data.h"
#include "thread_band_executor.h"

// Installs a threaded band executor as the library's for the life of the
// scope.
struct ScopedExecutor {
  ThreadBandExecutor executor;
  ScopedExecutor(int bands, bool uneven) : executor(bands, uneven) {
    imagelib_set_mp_exec(&executor, ThreadBandExecutor::exec);
  }
  ~ScopedExecutor() { imagelib_set_mp_exec(nullptr, nullptr); }
};

// Installs an executor that notes the row count of every dispatch, in order,
// then hands the rows to a threaded band executor.
struct ScopedCountRecorder {
  ThreadBandExecutor executor;
  std::vector<int> counts;
  explicit ScopedCountRecorder(int bands) : executor(bands, false) { imagelib_set_mp_exec(this, exec); }
  ~ScopedCountRecorder() { imagelib_set_mp_exec(nullptr, nullptr); }
  static void exec(void* context, mp_worker_fn worker, int count, void* object) {
    ScopedCountRecorder* self = static_cast<ScopedCountRecorder*>(context);
    self->counts.push_back(count);
    ThreadBandExecutor::exec(&self->executor, worker, count, object);
  }
};

#endif
