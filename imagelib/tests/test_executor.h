#ifndef IMAGELIB_TEST_EXECUTOR_H
#define IMAGELIB_TEST_EXECUTOR_H

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

#endif
