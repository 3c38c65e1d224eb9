#ifndef Q4_WORKER_POOL_H
#define Q4_WORKER_POOL_H

// The project's one set of worker threads: started at the first run that
// needs them and kept to the end of the process, as a host keeps its worker
// processes. The stand-in host's sparkMpFork and the tests' band executor
// both run on it, so no caller starts threads per call.
//
// Between runs a thread spins for a millisecond (time the system holds it
// back not counted), since a simulation step forks every few microseconds
// and a wake-up through the kernel costs more than the work of a small
// band, and then sleeps: an idle pool takes no processor time that others
// need. Claimed runs use no more runners than have cores to run on
// (q4_pool_runners), down to the caller alone when other programs (renders
// side by side) hold the rest; the threads past that park until they have,
// so that no waiting thread spins on a core the work of another needs.

typedef void (*q4_pool_task)(void* context, int index, int workers);

// Runs task(context, i, count) once for every i in 0..count-1 and returns
// when all have returned. The indices are claimed, not assigned: the calling
// thread and up to q4_pool_runners(runners) - 1 of the pool's threads each
// take the index of their own number if no one has, then the indices past
// the runners' in order until none is left. The caller runs the indices of threads that
// have not taken theirs soon after it finished its own share, so a thread
// the system holds back claims nothing and the run ends when the last index
// is done, whoever ran it; a thread that wakes after the run has ended
// finds nothing left of it. Which thread runs which indices, and how many
// each, varies from run to run, so tasks must not wait for each other.
//
// One run at a time: concurrent callers wait their turn. A run started from
// inside a task runs its indices one after another on that thread. A thread
// that cannot be started (q4_thread_start.h) only leaves fewer runners.
void q4_pool_share(int count, int runners, q4_pool_task task, void* context);

// Runs task(context, i, workers) once for every i in 0..workers-1, each on a
// thread of its own, all at once, and returns when all have returned; the
// calling thread runs index 0 and pool thread k index k. Tasks may wait for
// each other here, which is also why one held-back thread holds up the run.
// Nesting and turns are as for q4_pool_share.
//
// When a thread cannot be started, the calling thread also runs that index
// and every one after it, so each index still runs once. Returns the first
// such index, or workers when none was short of a thread (0 when there was
// nothing to run).
int q4_pool_run(int workers, q4_pool_task task, void* context);

// The most runners a claimed run uses now: `wanted`, or fewer while other
// programs hold cores that the pool's threads would otherwise share with
// them (q4_runner_limit.h); at least 1. A host that sizes each frame's forks
// by it gives every runner one band of each pass, and a frame on one runner
// forks nothing: the call itself looks at the machine now and then, so the
// count comes back up when the other programs end.
int q4_pool_runners(int wanted);

// True on a thread that is running a task of the pool.
bool q4_pool_in_task();

#endif
