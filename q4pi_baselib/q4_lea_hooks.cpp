#include <cstring>

#include "q4_console.h"
#include "q4_heap.h"
#include "q4_lea_malloc.h"

namespace {

// The front end installs an allocator only with a non-null context; this
// heap needs none, so each installation passes a token of its own.
char normal_token;
char image_token;

}  // namespace

void* use_lea_malloc(void*, unsigned size) {
  Console::printf("Calling dlmalloc(%d)\n", static_cast<int>(size));
  return dlmalloc(size);
}

void* use_lea_realloc(void*, void* block, unsigned size) { return dlrealloc(block, size); }

char* use_lea_strdup(void*, const char* text) {
  if (!text) return nullptr;
  const size_t size = strlen(text) + 1;
  char* copy = static_cast<char*>(dlmalloc(size));
  if (copy) memcpy(copy, text, size);
  return copy;
}

void use_lea_free(void*, void* block) {
  if (block) dlfree(block);
}

void use_lea_allocator_for_normal_allocs() {
  set_q4_heap_normal_memory_overrides(&normal_token, use_lea_malloc, use_lea_realloc, use_lea_strdup, use_lea_free);
}

void use_lea_allocator_for_image_allocs() {
  set_q4_heap_image_memory_overrides(&image_token, use_lea_malloc, use_lea_realloc, use_lea_free);
}

void end_use_lea_allocator_for_normal_allocs() {
  set_q4_heap_normal_memory_overrides(nullptr, nullptr, nullptr, nullptr, nullptr);
}

void end_use_lea_allocator_for_image_allocs() {
  set_q4_heap_image_memory_overrides(nullptr, nullptr, nullptr, nullptr);
}
