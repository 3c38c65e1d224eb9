#ifndef MEMBER_BANDS_H
#define MEMBER_BANDS_H

#include "band_split.h"
#include "effect_services.h"
#include "spark.h"

// The frame image and the plug-in run their band workers (members taking an
// inclusive row range) on the host workers the same way.

template <typename T>
void member_band_routine(void* worker, void* target, void* count, void* processes) {
  long first, last;
  band_split(host_worker_index(), arg_int(count), arg_int(processes), first, last);
  (static_cast<T*>(target)->*(*static_cast<void (T::**)(long, long)>(worker)))(first, last);
}

// Runs (target->*worker)(first, last) on every host worker over its band of
// rows 0..count-1 (possibly empty: workers handle first > last); returns what
// sparkMpFork returns.
template <typename T>
int fork_member_bands(T* target, void (T::*worker)(long, long), long count) {
  // The member pointer is wider than a pointer: pass its address.
  return sparkMpFork(reinterpret_cast<SparkMpRoutine>(&member_band_routine<T>), 4, static_cast<void*>(&worker),
                     static_cast<void*>(target), int_arg(count), int_arg(DLnumProc));
}

#endif
