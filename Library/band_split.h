#ifndef BAND_SPLIT_H
#define BAND_SPLIT_H

#include <cstdint>

// The host band split: worker `index` of `processes` takes rows
// index * band .. index * band + band - 1 of `count` (band = count /
// processes), the last worker also the remainder. Bounds are inclusive; an
// empty band has first > last. A process count below 1 counts as 1, and a
// worker beyond the split gets an empty band.
void band_split(long index, long count, long processes, long& first, long& last);

// The calling host worker's index, from sparkMpInfo.
long host_worker_index();

// Integers travel through sparkMpFork as pointer-sized values.
inline void* int_arg(long value) { return reinterpret_cast<void*>(static_cast<intptr_t>(value)); }
inline long arg_int(void* value) { return static_cast<long>(reinterpret_cast<intptr_t>(value)); }

#endif
