#include "fftw_threads.h"

#include <fftw3.h>

namespace {

int users = 0;
int threads_ready = 0;

}  // namespace

std::mutex& fftw_planner_lock() {
  static std::mutex lock;
  return lock;
}

int fftw_threads_acquire() {
  std::lock_guard<std::mutex> hold(fftw_planner_lock());
  if (users == 0 || !threads_ready) threads_ready = fftw_init_threads();
  ++users;
  return threads_ready;
}

void fftw_threads_release() {
  std::lock_guard<std::mutex> hold(fftw_planner_lock());
  if (users == 0) return;
  if (--users == 0) {
    fftw_cleanup_threads();
    threads_ready = 0;
  }
}

int fftw_threads_users() {
  std::lock_guard<std::mutex> hold(fftw_planner_lock());
  return users;
}
