#include "q4_thread_start.h"

#include <atomic>

namespace {

int system_start(pthread_t* thread, void* (*entry)(void*), void* argument) {
  return pthread_create(thread, nullptr, entry, argument);
}

std::atomic<q4_thread_starter> starter{system_start};

}  // namespace

int q4_thread_start(pthread_t* thread, void* (*entry)(void*), void* argument) {
  return starter.load()(thread, entry, argument);
}

void q4_set_thread_starter(q4_thread_starter replacement) {
  starter.store(replacement ? replacement : system_start);
}
