#ifndef Q4_WORKER_POOL_H
#define Q4_WORKER_POOL_H

// The project's one set of worker threads: started at the first run that
// needs them and kept to the end of the process, as a host keeps its worker
// processes. The stand-in host's sparkMpFork and the tests' band executor
// both run on it, so no caller starts threads per call.
//
// Between runs the workers spin briefly before they sleep: a simulation step
// forks every few microseconds, and a wake-up through the kernel costs more
// than the work of a small band.

typedef void (*q4_pool_task)(void* context, int index, int workers);

// Runs task(context, i, workers) once for every i in 0..workers-1, each on a
// thread of its own, all at once, and returns when all have returned; the
// calling thread runs index 0. One run at a time: concurrent callers wait their turn. A run started from
// inside a task runs its indices one after another on that thread, since the
// pool is busy with its caller.
//
// When a thread cannot be started (q4_thread_start.h), the calling thread
// also runs that index and every one after it, so each index still runs
// once. Returns the first such index, or workers when none was short of a
// thread (0 when there was nothing to run).
int q4_pool_run(int workers, q4_pool_task task, void* context);

// True on a thread that is running a task of the pool.
bool q4_pool_in_task();

#endif
