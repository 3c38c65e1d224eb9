#include "q4_memory.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "q4_heap_state.h"
#include "q4_heap_table.h"
#include "q4_log.h"
#include "q4_sysinfo.h"

namespace {

// What differs between the normal and the image heap.
struct Heap {
  const char* prefix;  // "q4_" or "q4_image_": the call names in messages
  tagQ4HM_INFO* (*table)();
  Q4HeapOverrides* overrides;
  bool trace_needs_line;    // normal-heap allocation traces skip line 0
  bool realloc_null_fresh;  // a null block reallocates as a fresh one
  const char* realloc_gap;  // blanks before the bracket of the refusal
};

const Heap normal_heap = {"q4_", q4hm_normal_table, &q4hm_normal_overrides, true, true, "  "};
const Heap image_heap = {"q4_image_", q4hm_image_table, &q4hm_image_overrides, false, false, " "};

bool tracking() { return q4hm_switches.debug != 0; }

// Opens a tracked call: lock, table ready, clock started.
tagQ4HM_INFO* begin_tracked(const Heap& heap) {
  q4hm_acquire();
  tagQ4HM_INFO* info = heap.table();
  q4hm_init(info);
  info->call_start = q4mp_getclock();
  return info;
}

void end_tracked(tagQ4HM_INFO* info) {
  info->elapsed_seconds += q4mp_getclock() - info->call_start;
  q4hm_release();
}

void trace_allocation(const Heap& heap, unsigned size, void* result, const char* file, int line) {
  if (!q4hm_switches.trace || (heap.trace_needs_line && line == 0)) return;
  q4_notify(Q4_LOG_INFO, "Q4-HM-TRACE: %smalloc(%d) ret (%p) at [%s(%d)]\n", heap.prefix,
            static_cast<int>(size), result, file, line);
}

void trace_reallocation(const Heap& heap, void* block, unsigned size, void* result, const char* file,
                        int line) {
  if (!q4hm_switches.trace || (heap.trace_needs_line && line == 0)) return;
  q4_notify(Q4_LOG_INFO, "Q4-HM-TRACE: %srealloc(%p,%d) ret (%p) at [%s(%d)]\n", heap.prefix, block,
            static_cast<int>(size), result, file, line);
}

void* raw_allocate(const Q4HeapOverrides& ov, unsigned size) {
  return ov.defined ? ov.allocate(ov.context, size) : malloc(size);
}

void* raw_reallocate(const Q4HeapOverrides& ov, void* block, unsigned size) {
  return ov.defined ? ov.reallocate(ov.context, block, size) : realloc(block, size);
}

void raw_release(const Q4HeapOverrides& ov, void* block) {
  if (ov.defined)
    ov.release(ov.context, block);
  else
    free(block);
}

// An untracked call: the overriding allocator's under the heap lock, the C
// library's without it.
template <typename Call>
auto untracked(const Q4HeapOverrides& ov, Call call) {
  if (!ov.defined) return call();
  q4hm_acquire();
  auto result = call();
  q4hm_release();
  return result;
}

char* copy_text(const char* text) {
  const size_t size = strlen(text) + 1;
  char* copy = static_cast<char*>(malloc(size));
  if (copy) memcpy(copy, text, size);
  return copy;
}

char* raw_duplicate(const Q4HeapOverrides& ov, const char* text) {
  return ov.defined ? ov.duplicate(ov.context, text) : copy_text(text);
}

void* heap_malloc(const Heap& heap, unsigned size, const char* file, int line) {
  if (!q4hm_switches.enable) return malloc(size);
  const Q4HeapOverrides& ov = *heap.overrides;
  void* result;
  if (tracking()) {
    if (size == 0) {
      q4_notify(Q4_LOG_ERROR, "Q4-HM-DEBUG: %smalloc( size=0 ) attempted! [%s(%d)]\n", heap.prefix,
                file, line);
      return nullptr;
    }
    tagQ4HM_INFO* info = begin_tracked(heap);
    result = raw_allocate(ov, size);
    if (result) q4hm_insert(info, result, size, file, line);
    end_tracked(info);
  } else {
    result = untracked(ov, [&] { return raw_allocate(ov, size); });
  }
  trace_allocation(heap, size, result, file, line);
  return result;
}

void* heap_realloc(const Heap& heap, void* block, unsigned size, const char* file, int line) {
  if (!q4hm_switches.enable) return realloc(block, size);
  const Q4HeapOverrides& ov = *heap.overrides;
  void* result;
  if (tracking()) {
    if (size == 0) {
      q4_notify(Q4_LOG_ERROR, "Q4-HM-DEBUG: %srealloc( size=0 ) attempted! [%s(%d)]\n", heap.prefix,
                file, line);
      return nullptr;
    }
    tagQ4HM_INFO* info = begin_tracked(heap);
    unsigned old_size;
    const bool fresh = !block && heap.realloc_null_fresh;
    if (!fresh && !q4hm_lookup(info, block, &old_size, nullptr, nullptr)) {
      q4_notify(Q4_LOG_ERROR,
                "Q4-HM-DEBUG: %srealloc(%p,%d) attempted - but %p is not allocated!%s[%s(%d)]\n",
                heap.prefix, block, static_cast<int>(size), block, heap.realloc_gap, file, line);
      end_tracked(info);
      return nullptr;
    }
    result = raw_reallocate(ov, block, size);
    if (result) {
      if (block) q4hm_remove(info, block);
      q4hm_insert(info, result, size, file, line);
    }
    end_tracked(info);
  } else {
    result = untracked(ov, [&] { return raw_reallocate(ov, block, size); });
  }
  trace_reallocation(heap, block, size, result, file, line);
  return result;
}

void heap_free(const Heap& heap, void* block, const char* file, int line) {
  if (!q4hm_switches.enable) {
    free(block);
    return;
  }
  const Q4HeapOverrides& ov = *heap.overrides;
  if (!tracking()) {
    if (!ov.defined) {
      free(block);
      return;
    }
    q4hm_acquire();
    ov.release(ov.context, block);
    if (q4hm_switches.trace)
      q4_notify(Q4_LOG_INFO, "Q4-HM-TRACE: %sfree(%p) at [%s(%d)]\n", heap.prefix, block, file, line);
    q4hm_release();
    return;
  }
  if (!block) {
    q4_notify(Q4_LOG_ERROR, "Q4-HM-DEBUG: %sfree( NULL ) attempted! [%s(%d)]\n", heap.prefix, file,
              line);
    return;
  }
  tagQ4HM_INFO* info = begin_tracked(heap);
  unsigned size;
  char alloc_file[Q4HM_FILE_SIZE];
  int alloc_line = 0;
  if (!q4hm_lookup(info, block, &size, alloc_file, &alloc_line)) {
    q4_notify(Q4_LOG_ERROR, "Q4-HM-DEBUG: %sfree(%p) attempted - but %p is not allocated! [%s(%d)]\n",
              heap.prefix, block, block, file, line);
    end_tracked(info);
    return;
  }
  raw_release(ov, block);
  q4hm_remove(info, block);
  info->elapsed_seconds += q4mp_getclock() - info->call_start;
  if (q4hm_switches.trace) {
    q4_notify(Q4_LOG_INFO, "Q4-HM-TRACE: %sfree(%p) at [%s(%d)].\n", heap.prefix, block, file, line);
    q4_msgcont("            Alloc at [%s(%d)], size %d\n", alloc_file, alloc_line,
               static_cast<int>(size));
  }
  q4hm_release();
}

}  // namespace

void* q4_malloc(unsigned size, const char* file, int line) {
  return heap_malloc(normal_heap, size, file, line);
}

void* q4_calloc(unsigned count, unsigned size, const char* file, int line) {
  // A wrapped product would hand back a block smaller than asked for.
  const uint64_t total = static_cast<uint64_t>(count) * size;
  if (total > UINT32_MAX) return nullptr;
  void* block = q4_malloc(static_cast<unsigned>(total), file, line);
  if (block) memset(block, 0, static_cast<size_t>(total));
  return block;
}

void* q4_realloc(void* block, unsigned size, const char* file, int line) {
  return heap_realloc(normal_heap, block, size, file, line);
}

char* q4_strdup(const char* text, const char* file, int line) {
  const bool tracked = q4hm_switches.enable && tracking();
  if (!text) {
    if (tracked)
      q4_notify(Q4_LOG_ERROR, "Q4-HM-DEBUG: q4_strdup( NULL ) attempted! [%s(%d)]\n", file, line);
    return nullptr;
  }
  if (!q4hm_switches.enable) return strdup(text);
  const Q4HeapOverrides& ov = q4hm_normal_overrides;
  char* result;
  if (tracked) {
    tagQ4HM_INFO* info = begin_tracked(normal_heap);
    result = raw_duplicate(ov, text);
    if (result) q4hm_insert(info, result, static_cast<unsigned>(strlen(text) + 1), file, line);
    end_tracked(info);
  } else {
    result = untracked(ov, [&] { return raw_duplicate(ov, text); });
  }
  if (q4hm_switches.trace)
    q4_notify(Q4_LOG_INFO, "Q4-HM-TRACE: q4_strdup(%p) ret (%p) at [%s(%d)]\n",
              static_cast<const void*>(text), static_cast<void*>(result), file, line);
  return result;
}

void q4_free(void* block, const char* file, int line) { heap_free(normal_heap, block, file, line); }

void* q4_image_malloc(unsigned size, const char* file, int line) {
  return heap_malloc(image_heap, size, file, line);
}

void* q4_image_realloc(void* block, unsigned size, const char* file, int line) {
  return heap_realloc(image_heap, block, size, file, line);
}

void q4_image_free(void* block, const char* file, int line) {
  heap_free(image_heap, block, file, line);
}
