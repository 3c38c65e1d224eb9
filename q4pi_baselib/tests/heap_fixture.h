#ifndef Q4_TEST_HEAP_FIXTURE_H
#define Q4_TEST_HEAP_FIXTURE_H

#include <gtest/gtest.h>

#include "q4_heap.h"

struct HeapCounters {
  int allocation_calls = 0;
  int free_calls = 0;
  unsigned bytes_now = 0;
  unsigned peak_bytes = 0;
  int error = 0;
};

inline HeapCounters normal_counters() {
  HeapCounters c;
  c.error = get_q4_heap_normal_memory_statistics(c.allocation_calls, c.free_calls, c.bytes_now, c.peak_bytes);
  return c;
}

inline HeapCounters image_counters() {
  HeapCounters c;
  c.error = get_q4_heap_image_memory_statistics(c.allocation_calls, c.free_calls, c.bytes_now, c.peak_bytes);
  return c;
}

// Every heap test leaves the switches and overrides as it found them: off.
class HeapTest : public ::testing::Test {
 protected:
  void TearDown() override {
    set_q4_heap_memory_trace(false);
    set_q4_heap_memory_debug(false);
    set_q4_heap_memory_enable(false);
    set_q4_heap_normal_memory_overrides(nullptr, nullptr, nullptr, nullptr, nullptr);
    set_q4_heap_image_memory_overrides(nullptr, nullptr, nullptr, nullptr);
  }
  void track() {
    set_q4_heap_memory_enable(true);
    set_q4_heap_memory_debug(true);
  }
};

#endif
