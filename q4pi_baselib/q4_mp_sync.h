#ifndef Q4_MP_SYNC_H
#define Q4_MP_SYNC_H

#include <pthread.h>
#include <semaphore.h>

// Mutexes, condition variables and semaphores of the thread layer
// (q4_threads.h). Failures are written to the message log and returned.

// Locked at once when `locked` is non-zero; null when out of memory.
pthread_mutex_t* q4mp_new_mutex(int locked);
int q4mp_get_mutex(pthread_mutex_t* mutex);
int q4mp_release_mutex(pthread_mutex_t* mutex);
// 1 when the mutex was free and is now held by the caller, else 0.
int q4mp_test_mutex(pthread_mutex_t* mutex);
void q4mp_delete_mutex(pthread_mutex_t* mutex);

pthread_cond_t* q4mp_new_cond_block();
void q4mp_delete_cond_block(pthread_cond_t* cond);
int q4mp_cond_signal(pthread_cond_t* cond);
int q4mp_cond_wait(pthread_cond_t* cond, pthread_mutex_t* mutex);
// A frame timer: waits, with the mutex held, until the time of day has
// passed now + ns, whatever signals arrive meanwhile. ETIMEDOUT at the
// deadline, or the error of the wait.
int q4mp_cond_timedwait(pthread_cond_t* cond, pthread_mutex_t* mutex, long long ns);

// A semaphore private to the process; null when out of memory or when the
// value is out of range.
sem_t* q4mp_new_sema(int value);
int q4mp_delete_sema(sem_t* sema);
int q4mp_post_sema(sem_t* sema);
// 1 when taken, -1 on an error (an interrupting signal included).
int q4mp_wait_sema(sem_t* sema);
// 1 when taken, 0 when it would block, -1 on any other error.
int q4mp_test_sema(sem_t* sema);

#endif
