#ifndef BAND_SCRATCH_H
#define BAND_SCRATCH_H

#include <cstdint>

// Working memory of one band from the normal heap, placed for the kernels
// that stream through it.
//
// The block starts on a cache line, so that no vector load or store of a
// lane position is split between two lines (the heap only promises 16
// bytes). A block of half a megabyte or more starts on a 2 MB boundary and
// asks the kernel for huge pages: a band's lines run through more pages
// than the TLB holds, and under virtualisation each miss walks the guest's
// and the host's page tables. The C heap normally keeps what a band gives
// back, so the next pass finds those pages already in place.
//
// Returns the block, or null when bytes is 0, out of reach of the heap's
// 32-bit sizes, or refused; *raw receives what q4_free must be given.
void* band_scratch_alloc(uint64_t bytes, void** raw);

#endif
