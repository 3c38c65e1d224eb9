#ifndef MEMBER_BANDS_H
#define MEMBER_BANDS_H

#include "band_split.h"
#include "effect_services.h"
#include "q4_claims.h"
#include "spark.h"

// The frame image and the plug-in run their band workers (members taking an
// inclusive row range) on the host workers the same way: rows 0..count-1 in
// bands of the host split. When the host runs as many workers as there are
// bands, each worker's call runs the band of its index; otherwise (a host
// whose process count differs from the fork's) the calls claim the bands in
// order (q4_claims.h), each taking the next until none is left, so every
// band still runs once. Every band covers the same rows whoever runs it.

// On a line of its own: the forking thread's other locals stay its own.
struct alignas(64) MemberBands {
  Claims claims;
  long count;
  long bands;
};

template <typename T>
void member_band_routine(void* worker, void* target, void* bands) {
  MemberBands& split = *static_cast<MemberBands*>(bands);
  T* const object = static_cast<T*>(target);
  const auto member = *static_cast<void (T::**)(long, long)>(worker);
  auto run = [&](long band) {
    long first, last;
    band_split(band, split.count, split.bands, first, last);
    (object->*member)(first, last);
  };
  // As many bands as host workers: the host runs each worker's call once,
  // so its index names a band with no count to share.
  long index, workers;
  host_worker(index, workers);
  if (workers == split.bands) return run(index);
  for (int band; split.claims.claim(band);) run(band);
}

// Runs (target->*worker)(first, last) over rows 0..count-1 in one band per
// host worker (DLnumProc, at least one, at most count: a count of 0 or less
// gives one empty band, first > last); returns what sparkMpFork returns.
// More bands a worker measured slower: the pressure solve's hundreds of
// forks a step each pay for every band's claim and halo rows, while a
// worker the system holds back has its band run by another.
template <typename T>
int fork_member_bands(T* target, void (T::*worker)(long, long), long count) {
  MemberBands split;
  split.count = count;
  split.bands = DLnumProc < count ? DLnumProc : count;
  if (split.bands < 1) split.bands = 1;
  split.claims.reset(0, static_cast<int>(split.bands));
  // The member pointer is wider than a pointer: pass its address.
  return sparkMpFork(reinterpret_cast<SparkMpRoutine>(&member_band_routine<T>), 3, static_cast<void*>(&worker),
                     static_cast<void*>(target), static_cast<void*>(&split));
}

#endif
