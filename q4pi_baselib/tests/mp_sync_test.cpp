// Mutexes, the frame timer and semaphores of the thread layer.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <ctime>

#include <gtest/gtest.h>

#include "failing_heap.h"
#include "log_capture.h"
#include "q4_mp_sync.h"
#include "q4_sysinfo.h"
#include "q4_worker_pool.h"

namespace {

long long realtime_ns() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return now.tv_sec * 1000000000LL + now.tv_nsec;
}

struct ErrorCheckMutex {
  pthread_mutex_t mutex;
  ErrorCheckMutex() {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_ERRORCHECK);
    pthread_mutex_init(&mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
  }
  ~ErrorCheckMutex() { pthread_mutex_destroy(&mutex); }
};

// How long a timed wait took, and what it returned.
struct TimedWait {
  int result;
  long long waited_ns;
};

TimedWait timed_wait(pthread_cond_t* cond, pthread_mutex_t* mutex, long long ns) {
  pthread_mutex_lock(mutex);
  const long long start = realtime_ns();
  const int result = q4mp_cond_timedwait(cond, mutex, ns);
  const long long waited = realtime_ns() - start;
  pthread_mutex_unlock(mutex);
  return TimedWait{result, waited};
}

void on_signal(int) {}

}  // namespace

TEST(MpSync, MutexesLockTestAndReportFailures) {
  pthread_mutex_t* mutex = q4mp_new_mutex(0);
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(q4mp_test_mutex(mutex), 1);
  EXPECT_EQ(q4mp_test_mutex(mutex), 0);  // held, by this thread as it happens
  EXPECT_EQ(q4mp_release_mutex(mutex), 0);
  EXPECT_EQ(q4mp_get_mutex(mutex), 0);
  EXPECT_EQ(q4mp_release_mutex(mutex), 0);
  q4mp_delete_mutex(mutex);

  pthread_mutex_t* locked = q4mp_new_mutex(1);
  ASSERT_NE(locked, nullptr);
  EXPECT_EQ(q4mp_test_mutex(locked), 0);
  EXPECT_EQ(q4mp_release_mutex(locked), 0);
  q4mp_delete_mutex(locked);
  q4mp_delete_mutex(nullptr);

  ErrorCheckMutex checked;
  LogCapture capture;
  EXPECT_EQ(q4mp_release_mutex(&checked.mutex), EPERM);
  EXPECT_TRUE(capture.contains("ERROR: THREAD: mutex lock errors...\n")) << capture.text();
}

TEST(MpSync, TheFrameTimerNeverReturnsBeforeItsDeadline) {
  pthread_cond_t* cond = q4mp_new_cond_block();
  pthread_mutex_t* mutex = q4mp_new_mutex(0);
  ASSERT_NE(cond, nullptr);

  TimedWait wait = timed_wait(cond, mutex, 30000000);
  EXPECT_EQ(wait.result, ETIMEDOUT);
  EXPECT_GE(wait.waited_ns, 30000000);

  // More than a second: the nanoseconds carry into seconds of the deadline.
  wait = timed_wait(cond, mutex, 1500000000);
  EXPECT_EQ(wait.result, ETIMEDOUT);
  EXPECT_GE(wait.waited_ns, 1500000000);
  EXPECT_LT(wait.waited_ns, 3000000000LL);

  wait = timed_wait(cond, mutex, -2500000000LL);  // a deadline already past
  EXPECT_EQ(wait.result, ETIMEDOUT);
  EXPECT_LT(wait.waited_ns, 1000000000);

  // Signals during the wait do not end it early. The waiter holds the mutex
  // from before it marks itself waiting until the wait lets it go, so the
  // signaller, holding it and finding the mark, knows the wait is on.
  struct Signalled {
    pthread_cond_t* cond;
    pthread_mutex_t* mutex;
    bool waiting = false;  // under the mutex
    bool done = false;     // under the mutex
    TimedWait wait{0, 0};
    int signals = 0;
  } run{cond, mutex};
  q4_pool_run(
      2,
      [](void* context, int index, int) {
        Signalled& r = *static_cast<Signalled*>(context);
        if (index == 1) {
          pthread_mutex_lock(r.mutex);
          r.waiting = true;
          const long long start = realtime_ns();
          r.wait.result = q4mp_cond_timedwait(r.cond, r.mutex, 200000000);
          r.wait.waited_ns = realtime_ns() - start;
          r.done = true;
          pthread_mutex_unlock(r.mutex);
          return;
        }
        for (bool done = false; !done;) {
          pthread_mutex_lock(r.mutex);
          if (r.waiting && !r.done) {
            q4mp_cond_signal(r.cond);
            ++r.signals;
          }
          done = r.done;
          pthread_mutex_unlock(r.mutex);
          q4mp_timedwait(2000000);
        }
      },
      &run);
  EXPECT_EQ(run.wait.result, ETIMEDOUT);
  EXPECT_GE(run.wait.waited_ns, 200000000);
  EXPECT_GE(run.signals, 1);

  // A wait the system refuses (the mutex is not held) is reported.
  ErrorCheckMutex unheld;
  LogCapture capture;
  EXPECT_EQ(q4mp_cond_timedwait(cond, &unheld.mutex, 1000), EPERM);
  EXPECT_TRUE(capture.contains("ERROR: Video frame timer error: 'Operation not permitted'")) << capture.text();

  q4mp_delete_cond_block(cond);
  q4mp_delete_mutex(mutex);
  FailingHeap heap(0);
  EXPECT_EQ(q4mp_new_cond_block(), nullptr);
}

TEST(MpSync, SemaphoresTakeRefuseAndFail) {
  sem_t* sema = q4mp_new_sema(0);
  ASSERT_NE(sema, nullptr);
  EXPECT_EQ(q4mp_test_sema(sema), 0);
  EXPECT_EQ(q4mp_post_sema(sema), 0);
  EXPECT_EQ(q4mp_test_sema(sema), 1);
  EXPECT_EQ(q4mp_test_sema(sema), 0);
  EXPECT_EQ(q4mp_post_sema(sema), 0);
  EXPECT_EQ(q4mp_wait_sema(sema), 1);

  // A wait cut short by a signal fails.
  struct sigaction action = {}, old_action;
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGUSR1, &action, &old_action);
  struct Interrupted {
    sem_t* sema;
    std::atomic<bool> started{false};
    std::atomic<bool> done{false};
    pthread_t waiter{};
    int result = 0;
  } run{sema};
  q4_pool_run(
      2,
      [](void* context, int index, int) {
        Interrupted& r = *static_cast<Interrupted*>(context);
        if (index == 1) {
          r.waiter = pthread_self();
          r.started = true;
          r.result = q4mp_wait_sema(r.sema);
          r.done = true;
          return;
        }
        while (!r.started) {
        }
        while (!r.done) {
          pthread_kill(r.waiter, SIGUSR1);
          q4mp_timedwait(2000000);
        }
      },
      &run);
  sigaction(SIGUSR1, &old_action, nullptr);
  EXPECT_EQ(run.result, -1);
  EXPECT_EQ(q4mp_delete_sema(sema), 0);

  EXPECT_EQ(q4mp_new_sema(-1), nullptr);
  FailingHeap heap(0);
  EXPECT_EQ(q4mp_new_sema(1), nullptr);
}
