#ifndef TEST_FAILING_HEAP_H
#define TEST_FAILING_HEAP_H

#include <cstdlib>
#include <cstring>

#include "q4_heap.h"

// While in scope, the normal heap (or the image heap) grants `grants`
// allocations and then refuses every further one; with `once`, it refuses
// only the next one and grants all later ones again.
class FailingHeap {
public:
  enum Heap { normal, image };
  explicit FailingHeap(int grants, Heap heap = normal, bool once = false) : left(grants), heap(heap), once(once) {
    set_q4_heap_memory_enable(true);
    if (heap == image)
      set_q4_heap_image_memory_overrides(this, allocate, reallocate, release);
    else
      set_q4_heap_normal_memory_overrides(this, allocate, reallocate, duplicate, release);
  }
  ~FailingHeap() {
    if (heap == image)
      set_q4_heap_image_memory_overrides(nullptr, nullptr, nullptr, nullptr);
    else
      set_q4_heap_normal_memory_overrides(nullptr, nullptr, nullptr, nullptr, nullptr);
    set_q4_heap_memory_enable(false);
  }
  FailingHeap(const FailingHeap&) = delete;
  FailingHeap& operator=(const FailingHeap&) = delete;

private:
  static bool grant(void* context) {
    FailingHeap* self = static_cast<FailingHeap*>(context);
    const int k = self->left--;
    return k > 0 || (self->once && k < 0);
  }
  static void* allocate(void* context, unsigned size) {
    return grant(context) ? malloc(size) : nullptr;
  }
  static void* reallocate(void* context, void* block, unsigned size) {
    return grant(context) ? realloc(block, size) : nullptr;
  }
  static char* duplicate(void* context, const char* text) {
    return grant(context) ? strdup(text) : nullptr;
  }
  static void release(void*, void* block) { free(block); }

  int left;
  Heap heap;
  bool once;
};

#endif
