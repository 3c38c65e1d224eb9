#ifndef FFTW_THREADS_H
#define FFTW_THREADS_H

#include <mutex>

// FFTW's planner, wisdom and thread set-up are process-wide and not
// thread-safe; only the execution of a finished plan is. Every planning,
// plan destruction, wisdom import or export and thread set-up or clean-up
// in the process holds this one lock; fftw_execute and its new-array forms
// run outside it.
std::mutex& fftw_planner_lock();

// FFTW's thread set-up is process-wide and its clean-up invalidates every
// live plan, so the users of FFTW share one set-up: the first user
// initialises, the last one cleans up. Neither may be called while holding
// the planner lock.

// Registers a user; non-zero when FFTW's threads are ready.
int fftw_threads_acquire();
// Unregisters a user of fftw_threads_acquire.
void fftw_threads_release();
// The number of registered users (the power-of-two layer's plan cache is
// one for as long as the process lives, once it has planned).
int fftw_threads_users();

#endif
