#ifndef Q4_THREADS_H
#define Q4_THREADS_H

#include <cstdint>

#include "q4_mp_hooks.h"

// The base library's own thread layer: detached service threads, a
// fork-join executor that runs one function on every worker of the process
// count, and the split of a row range into one band per worker (the thread
// layer's rule of q4_bands.h: a short range goes to worker 0).
//
// The plug-in does not use this layer. Its row bands run on the host's
// workers through its executor hook; it never starts threads here and never
// calls q4mp_scheduler_setup, which swaps the process's real and effective
// user and group ids.

// The process count: chosen once, by q4mp_set_nprocs or else from the
// processor count (1 until thread support is initialised) on first need.
int q4mp_get_nprocs();
void q4mp_set_nprocs(int n);

// Thread support: the processor count, the locks and the service-thread
// table. q4mp_close_threads waits for the calls in progress that use the
// locks (a q4mp_exec run included, so a worker must not close support),
// then cancels every service thread; afterwards support can be initialised
// again.
void q4mp_init_threads();
void q4mp_close_threads();

// Up to 32 detached service threads with ids from 4096 on; -1 when the
// table is full or the thread cannot be started. A service thread calls
// q4mp_leaving_thread as it ends, so that its entry does not outlive it.
int q4mp_start_thread(void* (*fn)(void*), void* arg);
int q4mp_threadid();
void q4mp_kill_thread(int id);
void q4mp_leaving_thread();

// With show non-zero: once per process swaps the real and effective user
// and group ids and writes the system's name; every time writes the memory
// sizes and the user.
void q4mp_scheduler_setup(int show);

struct q4mp_sysinfo {
  char text[128];  // "<system> Version <release> (<machine>)"
  int uptime;      // whole seconds, -1 when unknown
};
// From q4_malloc, released by the caller with q4_free; null when out of memory.
q4mp_sysinfo* q4mp_get_sysinfo();

// Runs fn(a1, ..., a6) once on each of the process count's workers, all at
// once on the project's worker pool, and returns when all have returned;
// integers travel as intptr_t. One run at a time; a run started inside a
// worker (or any task of the pool) runs its workers one after another on
// that thread, each with its own id. Should a worker thread fail to start,
// the calling thread runs that worker and the ones after it with their own
// ids, and the process count becomes 1.
typedef void (*q4mp_function)(void* a1, void* a2, void* a3, void* a4, void* a5, void* a6);
void q4mp_exec(q4mp_function fn, void* a1, void* a2, void* a3, void* a4, void* a5, void* a6);

// The worker number 0..N-1 inside q4mp_exec; 0 outside it or when the
// process count is below 2.
int q4mp_id();

// An executor hook over q4mp_exec: fn(data, first, last) on every worker's
// inclusive band of rows 0..n-1, empty bands included. The context is not
// used.
void q4mp_lib_mp_exec(void* context, mp_worker_fn fn, int n, void* data);
// Its worker body: a1 is the band function, a2 the row count, a3 the data.
void q4mp_lib_internal(void* fn, void* n, void* data, void* unused4, void* unused5, void* unused6);

// The calling worker's half-open band [lo, hi) of [from, to).
void q4mp_find_band(int from, int to, int& lo, int& hi);

#endif
