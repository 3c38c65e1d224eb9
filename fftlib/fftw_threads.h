#ifndef FFTW_THREADS_H
#define FFTW_THREADS_H

// FFTW's thread set-up is process-wide and its clean-up invalidates every
// live plan, so the objects that use FFTW share one set-up: the first user
// initialises, the last one cleans up.

// Registers a user; non-zero when FFTW's threads are ready.
int fftw_threads_acquire();
// Unregisters a user of fftw_threads_acquire.
void fftw_threads_release();

#endif
