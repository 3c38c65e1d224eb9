#ifndef Q4_LEA_MALLOC_H
#define Q4_LEA_MALLOC_H

#include <cstddef>

// A general-purpose heap of its own: boundary-tagged chunks in exact-size
// small bins and bitwise-trie tree bins, a designated victim for runs of
// small requests, a top chunk, and system memory from sbrk and mmap.
// Chunks are 16-byte aligned with 8 bytes of overhead, 32 bytes at least;
// requests above 0xFFFFFFBF bytes fail with ENOMEM. A pointer that is not a
// live block of this heap, or a corrupted heap, stops the process with
// abort().
//
// One heap for the process and no locks: callers serialise, as the heap
// front end does while it is installed there (q4_heap.h).

void* dlmalloc(size_t n);
void dlfree(void* p);
void* dlcalloc(size_t count, size_t size);
void* dlrealloc(void* p, size_t n);
// An alignment that is not a power of two is raised to the next one.
void* dlmemalign(size_t alignment, size_t n);
void* dlvalloc(size_t n);
void* dlpvalloc(size_t n);
// count blocks in one chunk of the heap, each freeable on its own; the
// pointers go into `chunks`, or into a new block when it is null.
void** dlindependent_calloc(size_t count, size_t size, void** chunks);
void** dlindependent_comalloc(size_t count, size_t* sizes, void** chunks);
// Hands free memory at the top back to the system, keeping pad bytes; 1 when
// some was released.
int dlmalloc_trim(size_t pad);
size_t dlmalloc_footprint();
size_t dlmalloc_max_footprint();
// The largest, current and in-use byte counts on standard error.
void dlmalloc_stats();
size_t dlmalloc_usable_size(void* p);
// -1 trim threshold, -2 granularity (a power of two, at least the page
// size), -3 mmap threshold; 1 on success, 0 otherwise.
int dlmallopt(int param, int value);

// Put this heap behind the normal or the image heap of the front end, or
// take it away again (whatever allocator is installed there).
void use_lea_allocator_for_normal_allocs();
void use_lea_allocator_for_image_allocs();
void end_use_lea_allocator_for_normal_allocs();
void end_use_lea_allocator_for_image_allocs();

// The front end's hooks; the context is not used. use_lea_malloc announces
// every request on the console.
void* use_lea_malloc(void* context, unsigned size);
void* use_lea_realloc(void* context, void* block, unsigned size);
char* use_lea_strdup(void* context, const char* text);
void use_lea_free(void* context, void* block);

#endif
