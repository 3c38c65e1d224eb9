#ifndef Q4_HEAP_H
#define Q4_HEAP_H

// Switches, pluggable allocators, tracking statistics and reports of the
// heap front end (q4_memory.h). All switches are off at start: every heap
// call is then the plain system call.

int set_q4_heap_memory_enable(bool on);
int set_q4_heap_memory_debug(bool on);
int set_q4_heap_memory_trace(bool on);

typedef void* (*q4_heap_allocate_fn)(void* context, unsigned size);
typedef void* (*q4_heap_reallocate_fn)(void* context, void* block, unsigned size);
typedef char* (*q4_heap_strdup_fn)(void* context, const char* text);
typedef void (*q4_heap_release_fn)(void* context, void* block);

// Installed only when the context and every function are non-null; an
// allocator must not call back into the q4_malloc family.
void set_q4_heap_normal_memory_overrides(void* context, q4_heap_allocate_fn allocate,
                                         q4_heap_reallocate_fn reallocate,
                                         q4_heap_strdup_fn duplicate, q4_heap_release_fn release);
void set_q4_heap_image_memory_overrides(void* context, q4_heap_allocate_fn allocate,
                                        q4_heap_reallocate_fn reallocate,
                                        q4_heap_release_fn release);

// Return the table's internal error state (1 after a tracking record could
// not be allocated).
int get_q4_heap_normal_memory_statistics(int& allocation_calls, int& free_calls, unsigned& bytes_now,
                                         unsigned& peak_bytes);
int get_q4_heap_image_memory_statistics(int& allocation_calls, int& free_calls, unsigned& bytes_now,
                                        unsigned& peak_bytes);
void output_q4_heap_normal_memory_report(bool dump);
void output_q4_heap_image_memory_report(bool dump);
// End-of-run: releases the tracking tables' overflow records.
void q4_heap_normal_memory_cleanup();
void q4_heap_image_memory_cleanup();
void dump_memory_leak_info(void*);

#endif
