// Parallel workers: the project's worker pool, each routine call told its
// worker index. The indices are claimed by whichever threads are running, so
// a worker the system holds back leaves its call to the others.
#include <cstdarg>

#include "q4_worker_pool.h"
#include "standin_state.h"

namespace {

thread_local int worker_index = 0;
thread_local int worker_count = 1;

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

// A thread may run several calls of one fork, and the forking thread runs
// some itself: it is itself again afterwards.
void run_as_worker(const Job& job, int index) {
  const int outer_index = worker_index, outer_count = worker_count;
  worker_index = index;
  worker_count = job.workers;
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
  worker_index = outer_index;
  worker_count = outer_count;
}

void run_job(void* job, int index, int) { run_as_worker(*static_cast<const Job*>(job), index); }

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
  job.workers = standin_fork_processes();
  standin_logf("sparkMpFork(%d, %d)", argc, job.workers);

  q4_pool_share(job.workers, job.workers, run_job, &job);
  return job.workers;
}

// a / b is the index; both are scaled so that a caller using a alone fails.
extern "C" void sparkMpInfo(unsigned long* a, unsigned long* b) {
  const unsigned long n = static_cast<unsigned long>(worker_count);
  if (a) *a = static_cast<unsigned long>(worker_index) * n + (n - 1);
  if (b) *b = n;
}
