// Parallel workers: a pool of host worker threads, each told its index.
#include <condition_variable>
#include <cstdarg>
#include <mutex>
#include <thread>
#include <vector>

#include "standin_state.h"

namespace {

thread_local int worker_index = 0;
thread_local int worker_count = 1;
thread_local bool in_worker = false;

typedef void (*Routine0)();
typedef void (*Routine1)(void*);
typedef void (*Routine2)(void*, void*);
typedef void (*Routine3)(void*, void*, void*);
typedef void (*Routine4)(void*, void*, void*, void*);
typedef void (*Routine5)(void*, void*, void*, void*, void*);
typedef void (*Routine6)(void*, void*, void*, void*, void*, void*);

struct Job {
  SparkMpRoutine routine = nullptr;
  int argc = 0;
  void* args[SPARK_MP_MAX_ARGS] = {};
  int workers = 0;
};

void run_as_worker(const Job& job, int index) {
  worker_index = index;
  worker_count = job.workers;
  in_worker = true;
  void* const* a = job.args;
  switch (job.argc) {
    case 0: reinterpret_cast<Routine0>(job.routine)(); break;
    case 1: reinterpret_cast<Routine1>(job.routine)(a[0]); break;
    case 2: reinterpret_cast<Routine2>(job.routine)(a[0], a[1]); break;
    case 3: reinterpret_cast<Routine3>(job.routine)(a[0], a[1], a[2]); break;
    case 4: reinterpret_cast<Routine4>(job.routine)(a[0], a[1], a[2], a[3]); break;
    case 5: reinterpret_cast<Routine5>(job.routine)(a[0], a[1], a[2], a[3], a[4]); break;
    default: reinterpret_cast<Routine6>(job.routine)(a[0], a[1], a[2], a[3], a[4], a[5]); break;
  }
}

// Threads that live from their first fork to the end of the program, as a
// host's worker processes do; one fork at a time.
class WorkerPool {
 public:
  ~WorkerPool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    start_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }

  void run(const Job& job) {
    std::lock_guard<std::mutex> one_fork(fork_mutex_);
    std::unique_lock<std::mutex> lock(mutex_);
    while (static_cast<int>(threads_.size()) < job.workers) {
      const int index = static_cast<int>(threads_.size());
      threads_.emplace_back(&WorkerPool::serve, this, index, generation_);
    }
    job_ = job;
    pending_ = job.workers;
    ++generation_;
    start_.notify_all();
    done_.wait(lock, [this] { return pending_ == 0; });
  }

 private:
  void serve(int index, unsigned long seen) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      start_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
      if (index >= job_.workers) continue;
      const Job job = job_;
      lock.unlock();
      run_as_worker(job, index);
      lock.lock();
      if (--pending_ == 0) done_.notify_all();
    }
  }

  std::mutex fork_mutex_;
  std::mutex mutex_;
  std::condition_variable start_;
  std::condition_variable done_;
  std::vector<std::thread> threads_;
  Job job_;
  int pending_ = 0;
  unsigned long generation_ = 0;
  bool stopping_ = false;
};

}  // namespace

extern "C" int sparkMpFork(SparkMpRoutine routine, int argc, ...) {
  if (!routine || argc < 0 || argc > SPARK_MP_MAX_ARGS) {
    standin_logf("sparkMpFork(refused, %d)", argc);
    return 0;
  }
  Job job;
  job.routine = routine;
  job.argc = argc;
  va_list list;
  va_start(list, argc);
  for (int i = 0; i < argc; ++i) job.args[i] = va_arg(list, void*);
  va_end(list);
  job.workers = standin_processes();
  standin_logf("sparkMpFork(%d, %d)", argc, job.workers);

  if (in_worker) {
    // A fork from inside a worker cannot wait on the busy pool: it gets
    // threads of its own.
    std::vector<std::thread> threads;
    for (int i = 0; i < job.workers; ++i) threads.emplace_back(run_as_worker, std::cref(job), i);
    for (std::thread& thread : threads) thread.join();
  } else {
    static WorkerPool pool;
    pool.run(job);
  }
  return job.workers;
}

// a / b is the index; both are scaled so that a caller using a alone fails.
extern "C" void sparkMpInfo(unsigned long* a, unsigned long* b) {
  const unsigned long n = static_cast<unsigned long>(worker_count);
  if (a) *a = static_cast<unsigned long>(worker_index) * n + (n - 1);
  if (b) *b = n;
}
