#include <cstdio>
#include <string>

#include "q4_dynamic_store.h"
#include "q4_log.h"

void q4DynamicStore::output_allocator_stats() const {
  const int allocated = arena_size_ - free_bytes_;
  const double efficiency = allocated == 0 ? 1.0 : static_cast<double>(used_bytes_) / allocated;
  const double average = allocations_ == 0 ? 1.0 : efficiency_sum_ / allocations_;
  q4_notify(Q4_LOG_INFO, "Q4-DYNAMIC-STORE ALLOCATOR REPORT\n");
  q4_msgcont(" Allocator Object Address: %p\n", static_cast<const void*>(this));
  q4_msgcont(" Allocator Internal Error: %d\n", error_);
  q4_msgcont(" Arena size: %d bytes\n", arena_size_);
  q4_msgcont(" Arena base: %p\n", static_cast<void*>(raw_));
  q4_msgcont(" Arena aligned base: %p\n", static_cast<void*>(base_));
  q4_msgcont("CURRENT DATA\n");
  q4_msgcont(" Free arena: %d bytes\n", free_bytes_);
  q4_msgcont(" Allocated bytes: %d\n", allocated);
  q4_msgcont(" Bytes available to user: %d\n", used_bytes_);
  q4_msgcont(" Blocks in arena: %d\n", blocks_);
  q4_msgcont(" Space efficiency: %.1f %%\n", 100.0 * efficiency);
  q4_msgcont("HISTORICAL DATA\n");
  q4_msgcont(" Number of allocations: %d\n", allocations_);
  q4_msgcont(" Maximum blocks in arena: %d\n", peak_blocks_);
  q4_msgcont(" Minimum size of available block: %d\n", 1 << free_order_mark_);
  q4_msgcont(" Maximum request size: %d\n", largest_request_);
  q4_msgcont(" Minimum request size: %d\n", smallest_request_);
  q4_msgcont(" Minimum free space: %d\n", lowest_free_);
  q4_msgcont(" Maximum user bytes available: %d\n", peak_used_);
  q4_msgcont(" Maximum space efficiency: %.1f %%\n", 100.0 * best_efficiency_);
  q4_msgcont(" Average space efficiency: %.1f %%\n", 100.0 * average);
  q4_msgcont("FREE BLOCK SIZE DISTRIBUTION\n");
  std::string line;
  int on_line = 0;
  for (int order = min_order; order <= k_; ++order) {
    char item[64];
    snprintf(item, sizeof item, "[bs:%d,nb:%d] ", 1 << order, lists_[order].count);
    line += item;
    if (++on_line == 3 || order == k_) {
      q4_msgcont("   %s\n", line.c_str());
      line.clear();
      on_line = 0;
    }
  }
  q4_msgcont("END OF Q4-DYNAMIC-STORE REPORT\n");
}

void q4DynamicStore::dumpbc(const char* title, const tagQ4DSA_block_control* b) const {
  if (error_) {
    fprintf(stderr, "------( Error = %d )------\n", error_);
    return;
  }
  // A link names a block by its offset, or the free list's head; a block in
  // use links nowhere.
  auto address = [&](int32_t link) -> const void* {
    if (b->tag != 1) return nullptr;
    return link < 0 ? static_cast<const void*>(&lists_[b->kval]) : static_cast<const void*>(base_ + link);
  };
  fprintf(stderr, "------( %s @ %p )------\n", title, static_cast<const void*>(b));
  fprintf(stderr, " linkf = %p\n", address(b->linkf));
  fprintf(stderr, " linkb = %p\n", address(b->linkb));
  fprintf(stderr, " kval = %d (size: %d)\n", b->kval, 1 << b->kval);
  fprintf(stderr, " tag = %d\n", b->tag);
  fprintf(stderr, "------------\n");
}
