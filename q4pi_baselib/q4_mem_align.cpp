#include <sys/mman.h>

#include <cstdint>
#include <cstring>

#include "q4_memory.h"
#include "q4_sysinfo.h"

namespace {

void* raw_alloc(unsigned size, bool image) {
  return image ? q4_image_malloc(size, __FILE__, __LINE__) : q4_malloc(size, __FILE__, __LINE__);
}

void raw_free(void* raw, bool image) {
  if (image)
    q4_image_free(raw, __FILE__, __LINE__);
  else
    q4_free(raw, __FILE__, __LINE__);
}

}  // namespace

void* mem_align_alloc(unsigned size, int alignment, bool image) {
  if (static_cast<int>(size) < 0) return nullptr;
  if (alignment < 4) alignment = q4mp_get_pagesize();
  const uint64_t total = static_cast<uint64_t>(size) + static_cast<unsigned>(alignment) + 8;
  // A wrapped sum would return a block too small for size.
  if (total > UINT32_MAX) return nullptr;
  unsigned char* raw = static_cast<unsigned char*>(raw_alloc(static_cast<unsigned>(total), image));
  if (!raw) return nullptr;
  const uintptr_t base = reinterpret_cast<uintptr_t>(raw) + 8;
  const uintptr_t aligned = base + alignment - base % static_cast<uintptr_t>(alignment);
  unsigned char* p = reinterpret_cast<unsigned char*>(aligned);
  const uint32_t words[2] = {size, static_cast<uint32_t>(p - raw)};
  memcpy(p - 8, words, sizeof words);
  return p;
}

void mem_align_free(void* block, bool image) {
  // Null is freed as nothing, like free(): owners release buffers they never filled.
  if (!block) return;
  unsigned char* p = static_cast<unsigned char*>(block);
  uint32_t distance;
  memcpy(&distance, p - 4, sizeof distance);
  raw_free(p - distance, image);
}

void* mem_align_realloc(void* block, unsigned size, int alignment, bool image) {
  void* fresh = mem_align_alloc(size, alignment, image);
  if (!fresh || !block) return fresh;
  int32_t old_size;
  memcpy(&old_size, static_cast<unsigned char*>(block) - 8, sizeof old_size);
  if (old_size > 0) {
    const unsigned count = static_cast<unsigned>(old_size) < size ? static_cast<unsigned>(old_size) : size;
    memcpy(fresh, block, count);
  }
  mem_align_free(block, image);
  return fresh;
}

void q4_prefer_huge_pages(void* block, size_t bytes) {
  const uintptr_t huge = uintptr_t(2) << 20;
  const uintptr_t start = (reinterpret_cast<uintptr_t>(block) + huge - 1) & ~(huge - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + bytes) & ~(huge - 1);
#ifdef MADV_HUGEPAGE
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#endif
}
