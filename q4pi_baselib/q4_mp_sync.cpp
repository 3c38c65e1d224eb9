#include "q4_mp_sync.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "q4_log.h"
#include "q4_memory.h"

namespace {

int checked(int result) {
  if (result != 0) q4_notify(Q4_LOG_ERROR, "THREAD: mutex lock errors...\n");
  return result;
}

constexpr long long nanoseconds_per_second = 1000000000LL;

}  // namespace

pthread_mutex_t* q4mp_new_mutex(int locked) {
  pthread_mutex_t* mutex = static_cast<pthread_mutex_t*>(malloc(sizeof(pthread_mutex_t)));
  if (!mutex) return nullptr;
  pthread_mutex_init(mutex, nullptr);
  if (locked) pthread_mutex_lock(mutex);
  return mutex;
}

int q4mp_get_mutex(pthread_mutex_t* mutex) { return checked(pthread_mutex_lock(mutex)); }

int q4mp_release_mutex(pthread_mutex_t* mutex) { return checked(pthread_mutex_unlock(mutex)); }

int q4mp_test_mutex(pthread_mutex_t* mutex) { return pthread_mutex_trylock(mutex) == 0 ? 1 : 0; }

void q4mp_delete_mutex(pthread_mutex_t* mutex) {
  if (!mutex) return;
  pthread_mutex_destroy(mutex);
  free(mutex);
}

pthread_cond_t* q4mp_new_cond_block() {
  pthread_cond_t* cond = static_cast<pthread_cond_t*>(q4_malloc(sizeof(pthread_cond_t), __FILE__, __LINE__));
  if (cond) pthread_cond_init(cond, nullptr);
  return cond;
}

void q4mp_delete_cond_block(pthread_cond_t* cond) {
  if (!cond) return;
  pthread_cond_destroy(cond);
  q4_free(cond, __FILE__, __LINE__);
}

int q4mp_cond_signal(pthread_cond_t* cond) { return pthread_cond_signal(cond); }

int q4mp_cond_wait(pthread_cond_t* cond, pthread_mutex_t* mutex) { return pthread_cond_wait(cond, mutex); }

int q4mp_cond_timedwait(pthread_cond_t* cond, pthread_mutex_t* mutex, long long ns) {
  timespec deadline;
  clock_gettime(CLOCK_REALTIME, &deadline);
  // Division and remainder keep the nanoseconds in 0..1e9-1 for any wait,
  // longer than a second or negative; the wait refuses anything else.
  long long total = deadline.tv_nsec + ns % nanoseconds_per_second;
  long long seconds = ns / nanoseconds_per_second + total / nanoseconds_per_second;
  total %= nanoseconds_per_second;
  if (total < 0) {
    total += nanoseconds_per_second;
    --seconds;
  }
  deadline.tv_sec += static_cast<time_t>(seconds);
  deadline.tv_nsec = static_cast<long>(total);
  for (;;) {
    const int result = pthread_cond_timedwait(cond, mutex, &deadline);
    if (result == 0) continue;  // woken before the deadline: the timer runs on
    if (result != ETIMEDOUT) q4_notify(Q4_LOG_ERROR, "ERROR: Video frame timer error: '%s'\n", strerror(result));
    return result;
  }
}

sem_t* q4mp_new_sema(int value) {
  sem_t* sema = static_cast<sem_t*>(q4_malloc(sizeof(sem_t), __FILE__, __LINE__));
  if (!sema) return nullptr;
  if (value < 0 || sem_init(sema, 0, static_cast<unsigned>(value)) != 0) {
    q4_free(sema, __FILE__, __LINE__);
    return nullptr;
  }
  return sema;
}

int q4mp_delete_sema(sem_t* sema) {
  if (!sema) return 0;
  sem_destroy(sema);
  q4_free(sema, __FILE__, __LINE__);
  return 0;
}

int q4mp_post_sema(sem_t* sema) { return sem_post(sema); }

int q4mp_wait_sema(sem_t* sema) { return sem_wait(sema) == 0 ? 1 : -1; }

int q4mp_test_sema(sem_t* sema) {
  if (sem_trywait(sema) == 0) return 1;
  return errno == EAGAIN ? 0 : -1;
}
