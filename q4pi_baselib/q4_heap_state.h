#ifndef Q4_HEAP_STATE_H
#define Q4_HEAP_STATE_H

#include "q4_heap.h"

// Process-wide state of the heap front end, shared by its source files.

struct Q4HeapSwitches {
  int enable;
  int debug;
  int trace;
};

struct Q4HeapOverrides {
  void* context;
  q4_heap_allocate_fn allocate;
  q4_heap_reallocate_fn reallocate;
  q4_heap_strdup_fn duplicate;  // always null on the image heap
  q4_heap_release_fn release;
  int defined;
};

extern Q4HeapSwitches q4hm_switches;
extern Q4HeapOverrides q4hm_normal_overrides;
extern Q4HeapOverrides q4hm_image_overrides;

// The one mutex guarding both tables and every call into an override.
void q4hm_acquire();
void q4hm_release();

#endif
