#ifndef FILLED_SLOT_H
#define FILLED_SLOT_H

// What the allocator harnesses hold: blocks filled with one byte value, so
// that a block another operation overwrote, or a resize that lost content,
// stops the run.

#include <algorithm>
#include <cstddef>
#include <cstdlib>

struct Slot {
  unsigned char* p;
  size_t size;
  unsigned char fill;
};

inline void check(const Slot& s) {
  for (size_t i = 0; i < s.size; ++i)
    if (s.p[i] != s.fill) abort();
}

// A resized block keeps the old content up to the smaller size.
inline void check_kept(const unsigned char* p, const Slot& old, size_t n) {
  for (size_t i = 0; i < std::min(old.size, n); ++i)
    if (p[i] != old.fill) abort();
}

#endif
