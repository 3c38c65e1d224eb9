#include "q4_lea_malloc.h"

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "q4_lea_state.h"

namespace lea {

void check_in_use(Chunk* p) {
  if (!ok_address(p) || !cinuse(p)) corruption();
}

// The order of the tries below is the heap's policy: exact small bins, the
// next larger small chunk or the smallest tree chunk when the designated
// victim is too small, the best tree fit for large requests, then the
// victim, the top, and last the system.
void* allocate_chunk(size_t nb) {
  if (is_small(nb)) {
    int index = static_cast<int>(nb >> small_shift);
    const unsigned small_bits = heap.small_map >> index;
    if (small_bits & 3) {
      index += ~small_bits & 1;  // this bin or the next one up
      Chunk* p = heap.small_heads[index].fd;
      unlink_first_small(index, p);
      set_inuse_and_pinuse(p, static_cast<size_t>(index) << small_shift);
      return chunk_to_mem(p);
    }
    if (nb > heap.dv_size) {
      if (small_bits) {
        const int larger = lowest_bit_index((small_bits << index) & bits_above(bit(index)));
        Chunk* p = heap.small_heads[larger].fd;
        unlink_first_small(larger, p);
        const size_t remainder = (static_cast<size_t>(larger) << small_shift) - nb;
        if (remainder < min_chunk) {
          set_inuse_and_pinuse(p, static_cast<size_t>(larger) << small_shift);
        } else {
          set_size_and_pinuse_of_inuse_chunk(p, nb);
          Chunk* rest = at_offset(p, nb);
          set_size_and_pinuse_of_free_chunk(rest, remainder);
          replace_dv(rest, remainder);
        }
        return chunk_to_mem(p);
      }
      if (heap.tree_map) return take_small_from_tree(nb);
    }
  } else if (heap.tree_map) {
    if (void* mem = take_large(nb)) return mem;
  }

  if (nb <= heap.dv_size) {
    Chunk* p = heap.dv;
    const size_t remainder = heap.dv_size - nb;
    if (remainder >= min_chunk) {
      Chunk* rest = heap.dv = at_offset(p, nb);
      heap.dv_size = remainder;
      set_size_and_pinuse_of_free_chunk(rest, remainder);
      set_size_and_pinuse_of_inuse_chunk(p, nb);
    } else {
      const size_t whole = heap.dv_size;
      heap.dv_size = 0;
      heap.dv = nullptr;
      set_inuse_and_pinuse(p, whole);
    }
    return chunk_to_mem(p);
  }
  if (nb < heap.top_size) return split_from_top(nb);
  return sys_alloc(nb);
}

// Coalesces with free neighbours: into the top (trimming past the
// threshold), into the designated victim, or else into a bin.
void free_chunk(Chunk* p) {
  size_t size = size_of(p);
  Chunk* next = at_offset(p, size);
  if (!pinuse(p)) {
    const size_t previous_size = p->prev_foot;
    if (previous_size & mmapped_bit) {
      const size_t offset = previous_size & ~mmapped_bit;
      const size_t mapping = size + offset + mmap_foot_pad;
      if (munmap(reinterpret_cast<char*>(p) - offset, mapping) == 0) heap.footprint -= mapping;
      return;
    }
    Chunk* previous = reinterpret_cast<Chunk*>(reinterpret_cast<char*>(p) - previous_size);
    if (!ok_address(previous)) corruption();
    size += previous_size;
    p = previous;
    if (p != heap.dv) {
      unlink_chunk(p, previous_size);
    } else if ((next->head & inuse_bits) == inuse_bits) {
      heap.dv_size = size;
      set_free_with_pinuse(p, size, next);
      return;
    }
  }
  if (reinterpret_cast<char*>(next) <= reinterpret_cast<char*>(p) || !pinuse(next)) corruption();
  if (!cinuse(next)) {
    if (next == heap.top) {
      const size_t top_size = heap.top_size += size;
      heap.top = p;
      p->head = top_size | pinuse_bit;
      if (p == heap.dv) {
        heap.dv = nullptr;
        heap.dv_size = 0;
      }
      if (top_size > heap.trim_check) sys_trim(0);
      return;
    }
    if (next == heap.dv) {
      heap.dv_size += size;
      heap.dv = p;
      set_size_and_pinuse_of_free_chunk(p, heap.dv_size);
      return;
    }
    const size_t next_size = size_of(next);
    size += next_size;
    unlink_chunk(next, next_size);
    set_size_and_pinuse_of_free_chunk(p, size);
    if (p == heap.dv) {
      heap.dv_size = size;
      return;
    }
  } else {
    set_free_with_pinuse(p, size, next);
  }
  insert_chunk(p, size);
}

}  // namespace lea

using namespace lea;

void* dlmalloc(size_t n) {
  if (n > max_request) {
    errno = ENOMEM;
    return nullptr;
  }
  return allocate_chunk(request_to_size(n));
}

void dlfree(void* mem) {
  if (!mem) return;
  Chunk* p = mem_to_chunk(mem);
  check_in_use(p);
  free_chunk(p);
}

void* dlcalloc(size_t count, size_t size) {
  size_t bytes = 0;
  if (count != 0) {
    bytes = count * size;
    if (((count | size) & ~size_t{0xffff}) && bytes / count != size) bytes = SIZE_MAX;
  }
  void* mem = dlmalloc(bytes);
  // A chunk mapped on its own comes zeroed from the system.
  if (mem && !is_mmapped(mem_to_chunk(mem))) memset(mem, 0, bytes);
  return mem;
}

void* dlrealloc(void* mem, size_t n) {
  if (!mem) return dlmalloc(n);
  if (n > max_request) {
    errno = ENOMEM;
    return nullptr;
  }
  Chunk* old = mem_to_chunk(mem);
  check_in_use(old);
  const size_t old_size = size_of(old);
  Chunk* next = at_offset(old, old_size);
  if (reinterpret_cast<char*>(next) <= reinterpret_cast<char*>(old) || !pinuse(next)) corruption();
  const size_t nb = request_to_size(n);
  Chunk* resized = nullptr;
  Chunk* spare = nullptr;
  if (is_mmapped(old)) {
    resized = mmap_resize(old, nb);
  } else if (old_size >= nb) {
    resized = old;
    if (old_size - nb >= min_chunk) {
      spare = at_offset(old, nb);
      set_inuse(old, nb);
      set_inuse(spare, old_size - nb);
    }
  } else if (next == heap.top && old_size + heap.top_size > nb) {
    const size_t top_size = old_size + heap.top_size - nb;
    set_inuse(old, nb);
    heap.top = at_offset(old, nb);
    heap.top->head = top_size | pinuse_bit;
    heap.top_size = top_size;
    resized = old;
  }
  if (resized) {
    if (spare) free_chunk(spare);
    return chunk_to_mem(resized);
  }
  void* moved = dlmalloc(n);
  if (moved) {
    memcpy(moved, mem, std::min(old_size - overhead_for(old), n));
    dlfree(mem);
  }
  return moved;
}

size_t dlmalloc_usable_size(void* mem) {
  if (!mem) return 0;
  Chunk* p = mem_to_chunk(mem);
  return cinuse(p) ? size_of(p) - overhead_for(p) : 0;
}

int dlmalloc_trim(size_t pad) { return sys_trim(pad); }

size_t dlmalloc_footprint() { return heap.footprint; }

size_t dlmalloc_max_footprint() { return heap.max_footprint; }

void dlmalloc_stats() {
  size_t in_use = 0;
  if (heap.top) {
    in_use = heap.footprint - (heap.top_size + top_foot);
    for (Segment* s = &heap.seg; s; s = s->next) {
      for (Chunk* q = align_as_chunk(s->base); reinterpret_cast<char*>(q) >= s->base &&
                                                reinterpret_cast<char*>(q) < s->base + s->size && q != heap.top &&
                                                q->head != fencepost_head;
           q = next_chunk(q)) {
        if (!cinuse(q)) in_use -= size_of(q);
      }
    }
  }
  fprintf(stderr, "max system bytes = %10lu\n", static_cast<unsigned long>(heap.top ? heap.max_footprint : 0));
  fprintf(stderr, "system bytes     = %10lu\n", static_cast<unsigned long>(heap.top ? heap.footprint : 0));
  fprintf(stderr, "in use bytes     = %10lu\n", static_cast<unsigned long>(in_use));
}

int dlmallopt(int param, int value) {
  ensure_params();
  const size_t v = static_cast<size_t>(value);
  switch (param) {
    case -1:
      params.trim_threshold = v;
      return 1;
    case -2:
      if (v >= params.page_size && (v & (v - 1)) == 0) {
        params.granularity = v;
        return 1;
      }
      return 0;
    case -3:
      params.mmap_threshold = v;
      return 1;
    default:
      return 0;
  }
}
