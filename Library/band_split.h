#ifndef BAND_SPLIT_H
#define BAND_SPLIT_H

#include <cstdint>

// The host band split: q4_band with the rows of a short split on the last
// worker.
void band_split(long index, long count, long processes, long& first, long& last);

// The calling host worker's index, from sparkMpInfo.
long host_worker_index();
// The same and the fork's count of host workers.
void host_worker(long& index, long& workers);

// Integers travel through sparkMpFork as pointer-sized values.
inline void* int_arg(long value) { return reinterpret_cast<void*>(static_cast<intptr_t>(value)); }
inline long arg_int(void* value) { return static_cast<long>(reinterpret_cast<intptr_t>(value)); }

#endif
