#ifndef Q4_THREAD_START_H
#define Q4_THREAD_START_H

#include <pthread.h>

// Every thread of the base library starts here, the worker pool's and the
// service threads alike, so that a test can make a start fail and watch the
// work still get done.
typedef int (*q4_thread_starter)(pthread_t* thread, void* (*entry)(void*), void* argument);

// Starts a joinable thread with default attributes; 0 or an error number,
// as pthread_create.
int q4_thread_start(pthread_t* thread, void* (*entry)(void*), void* argument);

// Replaces the starter; null restores pthread_create.
void q4_set_thread_starter(q4_thread_starter starter);

#endif
