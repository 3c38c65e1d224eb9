#include "q4_worker_pool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "q4_thread_start.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define Q4_CPU_RELAX() _mm_pause()
#else
#define Q4_CPU_RELAX() std::this_thread::yield()
#endif

namespace {

thread_local bool in_task = false;

// How long an idle worker, or a caller waiting for the last band, watches
// for the next event before it blocks.
constexpr std::chrono::microseconds spin_time(200);
// Busy looks before the first yield: about the gap between the forks of a
// simulation step.
constexpr std::chrono::microseconds busy_spin_time(20);

// Spins until ready() or the spin time has passed; true when ready. After a
// short busy spin it yields between looks, so that on a loaded machine a
// waiting thread hands its core to a worker that still has work.
template <typename Ready>
bool spin_until(Ready ready) {
  const auto start = std::chrono::steady_clock::now();
  bool yielding = false;
  for (unsigned i = 1;; ++i) {
    if (ready()) return true;
    if (yielding)
      std::this_thread::yield();
    else
      Q4_CPU_RELAX();
    if ((i & 31) == 0) {
      const auto spent = std::chrono::steady_clock::now() - start;
      if (spent >= spin_time) return ready();
      yielding = spent >= busy_spin_time;
    }
  }
}

void run_task(q4_pool_task task, void* context, int index, int workers) {
  const bool outer = in_task;
  in_task = true;
  task(context, index, workers);
  in_task = outer;
}

class WorkerPool {
 public:
  int run(int workers, q4_pool_task task, void* context) {
    std::lock_guard<std::mutex> one_run(run_mutex_);
    // Threads serve indices 1..; the caller is index 0, so a run of as many
    // workers as cores never has a spinning thread more than it has cores.
    while (static_cast<int>(threads_.size()) < workers - 1 && start_thread()) {
    }
    const int threaded = std::min(workers, static_cast<int>(threads_.size()) + 1);
    // Only the threads of this run touch task_ and context_, and the next
    // run waits for all of them: the fields are stable while read.
    task_ = task;
    context_ = context;
    const unsigned long run = (state_.load(std::memory_order_relaxed) >> 16) + 1;
    publish(run << 16 | static_cast<unsigned>(workers));

    run_task(task, context, 0, workers);
    for (int index = threaded; index < workers; ++index) run_task(task, context, index, workers);

    auto all_done = [&] {
      for (int index = 1; index < threaded; ++index)
        if (finishes_[index - 1]->run.load() != run) return false;
      return true;
    };
    if (!spin_until(all_done)) {
      std::unique_lock<std::mutex> lock(mutex_);
      caller_waits_.store(true);
      done_.wait(lock, all_done);
      caller_waits_.store(false, std::memory_order_relaxed);
    }
    return threaded;
  }

 private:
  // Each thread reports the last run it finished on a line of its own: a
  // count shared by all would pass from core to core once per thread, one
  // after another, at the end of every run.
  struct alignas(64) Finish {
    std::atomic<unsigned long> run{0};
  };

  struct Start {
    WorkerPool* pool;
    int index;
    unsigned long seen;
    Finish* finish;
  };

  static void* enter(void* argument) {
    const Start start = *static_cast<Start*>(argument);
    delete static_cast<Start*>(argument);
    start.pool->serve(start.index, start.seen, *start.finish);
    return nullptr;
  }

  // A thread that cannot be started is tried again by the next run that
  // needs it.
  bool start_thread() {
    // A new thread has finished every run so far.
    Finish* finish = new Finish;
    finish->run.store(state_.load() >> 16, std::memory_order_relaxed);
    Start* start = new Start{this, static_cast<int>(threads_.size()) + 1, state_.load(), finish};
    pthread_t thread;
    if (q4_thread_start(&thread, enter, start) != 0) {
      delete start;
      delete finish;
      return false;
    }
    threads_.push_back(thread);
    finishes_.push_back(finish);
    return true;
  }

  // A run is published as one word, its number above its worker count, so a
  // thread that slept through some runs reads a matching pair.
  //
  // The store and the look at sleepers_ are sequentially consistent, as are
  // a sleeper's count and its look at state_ under the lock: either this
  // thread sees the sleeper and wakes it through the lock, or the sleeper
  // sees the run. A run with every thread awake takes no lock.
  void publish(unsigned long state) {
    state_.store(state);
    if (sleepers_.load() > 0) {
      { std::lock_guard<std::mutex> lock(mutex_); }
      start_.notify_all();
    }
  }

  void serve(int index, unsigned long seen, Finish& finish) {
    for (;;) {
      unsigned long state = seen;
      auto started = [&] {
        state = state_.load();
        return state != seen;
      };
      if (!spin_until(started)) {
        std::unique_lock<std::mutex> lock(mutex_);
        sleepers_.fetch_add(1);
        start_.wait(lock, started);
        sleepers_.fetch_sub(1);
      }
      seen = state;
      const int workers = static_cast<int>(state & 0xffff);
      if (index >= workers) continue;
      run_task(task_, context_, index, workers);
      // The same handshake with a caller that stopped spinning: it raises
      // caller_waits_ under the lock before it looks at the finishes again.
      finish.run.store(seen >> 16);
      if (caller_waits_.load()) {
        { std::lock_guard<std::mutex> lock(mutex_); }
        done_.notify_all();
      }
    }
  }

  std::mutex run_mutex_;
  std::mutex mutex_;
  std::condition_variable start_;
  std::condition_variable done_;
  std::vector<pthread_t> threads_;
  std::vector<Finish*> finishes_;  // of threads_, in the same order
  // What idle threads watch shares no cache line with what finishing
  // threads look at.
  alignas(64) std::atomic<unsigned long> state_{0};
  q4_pool_task task_ = nullptr;
  void* context_ = nullptr;
  alignas(64) std::atomic<int> sleepers_{0};
  std::atomic<bool> caller_waits_{false};
};

}  // namespace

int q4_pool_run(int workers, q4_pool_task task, void* context) {
  if (!task || workers < 1) return 0;
  // A run's worker count travels in 16 bits.
  if (workers == 1 || in_task || workers > 0xffff) {
    for (int i = 0; i < workers; ++i) run_task(task, context, i, workers);
    return workers;
  }
  // Never destroyed: a process forked from one with the pool's threads
  // asleep would wait at exit for sleepers it does not have, and the threads
  // end with the process anyway.
  static WorkerPool* const pool = new WorkerPool;
  return pool->run(workers, task, context);
}

bool q4_pool_in_task() { return in_task; }
