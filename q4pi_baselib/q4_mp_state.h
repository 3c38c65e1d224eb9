#ifndef Q4_MP_STATE_H
#define Q4_MP_STATE_H

#include <pthread.h>

#include <atomic>

// State of the thread layer shared by its source files.

extern std::atomic<int> q4mp_cpu_count;      // 1 until thread support is initialised
extern std::atomic<int> q4mp_process_count;  // 0 or below: not chosen yet

// Initialises thread support when it is not yet and returns the lock that
// makes q4mp_exec runs and table removals exclusive. Lock order: the
// serializer, then the table's data lock.
pthread_mutex_t* q4mp_serializer();

#endif
