#include "q4_dynamic_store.h"
#include "q4_heap.h"

namespace {

q4DynamicStore* store_of(void* store) { return static_cast<q4DynamicStore*>(store); }

// The front end's release returns nothing.
void release_block(void* store, void* p) { use_q4DynamicStore_free(store, p); }

}  // namespace

void* use_q4DynamicStore_malloc(void* store, unsigned size) { return store_of(store)->allocate(size); }

char* use_q4DynamicStore_strdup(void* store, const char* s) {
  return store_of(store)->duplicate_null_terminated_string(s);
}

int use_q4DynamicStore_free(void* store, void* p) { return store_of(store)->release(p); }

void* use_q4DynamicStore_realloc(void* store, void* p, unsigned size) { return store_of(store)->resize_block(p, size); }

void use_q4DynamicStore_for_normal_allocs(q4DynamicStore* s) {
  set_q4_heap_normal_memory_overrides(s, use_q4DynamicStore_malloc, use_q4DynamicStore_realloc,
                                      use_q4DynamicStore_strdup, release_block);
}

void use_q4DynamicStore_for_image_allocs(q4DynamicStore* s) {
  set_q4_heap_image_memory_overrides(s, use_q4DynamicStore_malloc, use_q4DynamicStore_realloc, release_block);
}

void end_use_q4DynamicStore_for_normal_allocs() {
  set_q4_heap_normal_memory_overrides(nullptr, nullptr, nullptr, nullptr, nullptr);
}

void end_use_q4DynamicStore_for_image_allocs() {
  set_q4_heap_image_memory_overrides(nullptr, nullptr, nullptr, nullptr);
}
