// System memory of the general allocator: contiguous growth by sbrk while
// the break stays ours, mapped segments otherwise, chunks of their own for
// large requests, and trimming back to the system.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "q4_lea_state.h"

namespace lea {

namespace {

char* system_break(intptr_t change) { return static_cast<char*>(sbrk(change)); }

char* system_map(size_t size) {
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? system_fail : static_cast<char*>(p);
}

bool page_aligned(const char* p) { return (reinterpret_cast<uintptr_t>(p) & (params.page_size - 1)) == 0; }

void note_footprint(size_t added) {
  heap.footprint += added;
  heap.max_footprint = std::max(heap.max_footprint, heap.footprint);
}

void note_least(char* base) {
  if (!heap.least_addr || base < heap.least_addr) heap.least_addr = base;
}

Segment* segment_holding(const void* address) {
  const char* a = static_cast<const char*>(address);
  for (Segment* s = &heap.seg; s; s = s->next)
    if (a >= s->base && a < s->base + s->size) return s;
  return nullptr;
}

// Whether another segment's record lies inside this segment.
bool holds_segment_record(const Segment* segment) {
  for (const Segment* s = &heap.seg; s; s = s->next) {
    const char* record = reinterpret_cast<const char*>(s);
    if (record >= segment->base && record < segment->base + segment->size) return true;
  }
  return false;
}

void init_top(Chunk* p, size_t size) {
  const size_t offset = align_offset(chunk_to_mem(p));
  p = at_offset(p, offset);
  size -= offset;
  heap.top = p;
  heap.top_size = size;
  p->head = size | pinuse_bit;
  // The footer's first word poses as a chunk head for walks of the segment.
  at_offset(p, size)->head = top_foot;
  heap.trim_check = params.trim_threshold;
}

void close_mapped_chunk(Chunk* p, size_t size) {
  at_offset(p, size)->head = fencepost_head;
  at_offset(p, size + word)->head = 0;
}

// New space directly below an existing segment: the request is cut from its
// start, and the rest joins the segment's first chunk when that is free.
void* prepend_alloc(char* new_base, char* old_base, size_t nb) {
  Chunk* p = align_as_chunk(new_base);
  Chunk* old_first = align_as_chunk(old_base);
  const size_t size = reinterpret_cast<char*>(old_first) - reinterpret_cast<char*>(p);
  Chunk* q = at_offset(p, nb);
  size_t rest = size - nb;
  set_size_and_pinuse_of_inuse_chunk(p, nb);
  if (old_first == heap.top) {
    heap.top_size += rest;
    heap.top = q;
    q->head = heap.top_size | pinuse_bit;
  } else if (old_first == heap.dv) {
    heap.dv_size += rest;
    heap.dv = q;
    set_size_and_pinuse_of_free_chunk(q, heap.dv_size);
  } else {
    if (!cinuse(old_first)) {
      const size_t old_size = size_of(old_first);
      unlink_chunk(old_first, old_size);
      old_first = at_offset(old_first, old_size);
      rest += old_size;
    }
    set_free_with_pinuse(q, rest, old_first);
    insert_chunk(q, rest);
  }
  return chunk_to_mem(p);
}

// A segment that does not continue the top's: the top moves into it, and
// the old top's segment is closed with the record of the segment list and
// fenceposts in its footer, what remains of the old top going to a bin.
void add_segment(char* base, size_t size, unsigned flags) {
  char* old_top = reinterpret_cast<char*>(heap.top);
  Segment* old_segment = segment_holding(old_top);
  char* old_end = old_segment->base + old_segment->size;
  const size_t record_size = pad_request(sizeof(Segment));
  char* raw = old_end - (record_size + 4 * word + align_mask);
  char* aligned = raw + align_offset(raw + 2 * word);
  char* record_at = aligned < old_top + min_chunk ? old_top : aligned;
  Chunk* record_chunk = reinterpret_cast<Chunk*>(record_at);
  Segment* record = static_cast<Segment*>(chunk_to_mem(record_chunk));

  init_top(reinterpret_cast<Chunk*>(base), size - top_foot);
  set_size_and_pinuse_of_inuse_chunk(record_chunk, record_size);
  *record = heap.seg;
  heap.seg = Segment{base, size, record, flags};

  for (Chunk* p = at_offset(record_chunk, record_size);; p = at_offset(p, word)) {
    p->head = fencepost_head;
    if (reinterpret_cast<char*>(&at_offset(p, word)->head) >= old_end) break;
  }
  if (record_at != old_top) {
    Chunk* q = reinterpret_cast<Chunk*>(old_top);
    const size_t rest = record_at - old_top;
    set_free_with_pinuse(q, rest, record_chunk);
    insert_chunk(q, rest);
  }
}

// Extends the heap with sbrk while it is contiguous; the break of another
// user of sbrk is taken as a new segment only once it is large enough.
char* grow_contiguous(size_t nb, size_t& got) {
  Segment* top_segment = heap.top ? segment_holding(heap.top) : nullptr;
  const size_t needed = nb + top_foot + 1;
  char* brk = system_fail;
  size_t asked = 0;
  if (!top_segment) {
    char* base = system_break(0);
    if (base != system_fail) {
      asked = granularity_align(needed);
      if (!page_aligned(base)) asked += page_align(reinterpret_cast<uintptr_t>(base)) - reinterpret_cast<uintptr_t>(base);
      if (asked < half_max && (brk = system_break(static_cast<intptr_t>(asked))) == base) {
        got = asked;
        return base;
      }
    }
  } else {
    asked = granularity_align(nb - heap.top_size + top_foot + 1);
    if (asked < half_max && (brk = system_break(static_cast<intptr_t>(asked))) == top_segment->base + top_segment->size) {
      got = asked;
      return brk;
    }
  }
  if (brk != system_fail && asked < needed) {
    const size_t more = granularity_align(needed - asked);
    if (more < half_max && system_break(static_cast<intptr_t>(more)) != system_fail) {
      asked += more;
    } else {
      system_break(-static_cast<intptr_t>(asked));
      brk = system_fail;
    }
  }
  if (brk == system_fail) {
    heap.flags |= noncontiguous_flag;
    return system_fail;
  }
  got = asked;
  return brk;
}

// Mapped segments that hold nothing but one free chunk go back to the
// system. The first record is the top's segment and stays; every other
// segment's record closes that segment, just above its last chunk, wherever
// the old top left room for it.
size_t release_unused_segments() {
  size_t released = 0;
  Segment* before = &heap.seg;
  Segment* s = before->next;
  while (s) {
    char* base = s->base;
    const size_t size = s->size;
    Segment* next = s->next;
    if (s->flags & mmapped_segment) {
      Chunk* p = align_as_chunk(base);
      const size_t chunk_size = size_of(p);
      if (!cinuse(p) && at_offset(p, chunk_size) == mem_to_chunk(s)) {
        if (p == heap.dv) {
          heap.dv = nullptr;
          heap.dv_size = 0;
        } else {
          unlink_large(p);
        }
        if (munmap(base, size) == 0) {
          released += size;
          heap.footprint -= size;
          before->next = next;  // s lived inside the mapping
          s = before;
        } else {
          insert_chunk(p, chunk_size);
        }
      }
    }
    before = s;
    s = next;
  }
  return released;
}

}  // namespace

State heap;
Params params;

void ensure_params() {
  if (params.magic) return;
  const long page = sysconf(_SC_PAGESIZE);
  const size_t page_size = page > 0 ? static_cast<size_t>(page) : 0;
  if (page_size == 0 || (page_size & (page_size - 1)) != 0) abort();
  params.page_size = page_size;
  params.granularity = page_size;
  params.mmap_threshold = 256 * 1024;
  params.trim_threshold = 2 * 1024 * 1024;
  params.default_flags = use_mmap_flag;
  heap.flags = params.default_flags;
  params.magic = 0x58585858;
}

void* mmap_chunk(size_t nb) {
  const size_t size = granularity_align(nb + 6 * word + align_mask);
  if (size <= nb) return nullptr;
  char* base = system_map(size);
  if (base == system_fail) return nullptr;
  const size_t offset = align_offset(base + 2 * word);
  const size_t chunk_size = size - offset - mmap_foot_pad;
  Chunk* p = at_offset(base, offset);
  p->prev_foot = offset | mmapped_bit;
  p->head = chunk_size | cinuse_bit;
  close_mapped_chunk(p, chunk_size);
  note_least(base);
  note_footprint(size);
  return chunk_to_mem(p);
}

Chunk* mmap_resize(Chunk* old, size_t nb) {
  const size_t old_size = size_of(old);
  if (old_size >= nb + word && old_size - nb <= 2 * params.granularity) return old;
  // An aligned block can start far into its mapping: the new mapping keeps
  // room for that offset too, or the chunk would come out short of nb.
  const size_t offset = old->prev_foot & ~mmapped_bit;
  const size_t old_map = old_size + offset + mmap_foot_pad;
  const size_t new_map = granularity_align(nb + offset + 6 * word + align_mask);
  void* moved = mremap(reinterpret_cast<char*>(old) - offset, old_map, new_map, MREMAP_MAYMOVE);
  if (moved == MAP_FAILED) return nullptr;
  Chunk* p = at_offset(moved, offset);
  const size_t chunk_size = new_map - offset - mmap_foot_pad;
  p->head = chunk_size | cinuse_bit;
  close_mapped_chunk(p, chunk_size);
  note_least(static_cast<char*>(moved));
  heap.footprint = heap.footprint - old_map + new_map;
  heap.max_footprint = std::max(heap.max_footprint, heap.footprint);
  return p;
}

void* sys_alloc(size_t nb) {
  ensure_params();
  if ((heap.flags & use_mmap_flag) && nb >= params.mmap_threshold) {
    if (void* mem = mmap_chunk(nb)) return mem;
  }
  char* base = system_fail;
  size_t size = 0;
  unsigned flags = 0;
  if (!(heap.flags & noncontiguous_flag)) base = grow_contiguous(nb, size);
  if (base == system_fail) {
    const size_t wanted = granularity_align(nb + top_foot + 1);
    if (wanted > nb && (base = system_map(wanted)) != system_fail) {
      size = wanted;
      flags = mmapped_segment;
    }
  }
  if (base == system_fail) {
    errno = ENOMEM;
    return nullptr;
  }

  note_footprint(size);
  if (!heap.top) {
    note_least(base);
    heap.seg = Segment{base, size, nullptr, flags};
    heap.magic = params.magic;
    init_bins();
    init_top(reinterpret_cast<Chunk*>(base), size - top_foot);
  } else {
    Segment* s = &heap.seg;
    while (s && base != s->base + s->size) s = s->next;
    if (s && (s->flags & mmapped_segment) == flags && segment_holding(heap.top) == s) {
      s->size += size;
      init_top(heap.top, heap.top_size + size);
    } else {
      note_least(base);
      s = &heap.seg;
      while (s && s->base != base + size) s = s->next;
      if (s && (s->flags & mmapped_segment) == flags) {
        char* old_base = s->base;
        s->base = base;
        s->size += size;
        return prepend_alloc(base, old_base, nb);
      }
      add_segment(base, size, flags);
    }
  }

  if (nb < heap.top_size) return split_from_top(nb);
  errno = ENOMEM;
  return nullptr;
}

int sys_trim(size_t pad) {
  ensure_params();
  if (pad > max_request || !heap.top) return 0;
  size_t released = 0;
  pad += top_foot;
  if (heap.top_size > pad) {
    const size_t unit = params.granularity;
    size_t extra = ((heap.top_size - pad + (unit - 1)) / unit - 1) * unit;
    Segment* s = segment_holding(heap.top);
    if (s->flags & mmapped_segment) {
      if (s->size >= extra && !holds_segment_record(s)) {
        const size_t new_size = s->size - extra;
        if (mremap(s->base, s->size, new_size, 0) != MAP_FAILED || munmap(s->base + new_size, extra) == 0)
          released = extra;
      }
    } else {
      if (extra >= half_max) extra = half_max + 1 - unit;
      char* old_break = system_break(0);
      if (old_break == s->base + s->size) {
        char* cut = system_break(-static_cast<intptr_t>(extra));
        char* new_break = system_break(0);
        if (cut != system_fail && new_break < old_break) released = old_break - new_break;
      }
    }
    if (released) {
      s->size -= released;
      heap.footprint -= released;
      init_top(heap.top, heap.top_size - released);
    }
  }
  released += release_unused_segments();
  if (!released) heap.trim_check = SIZE_MAX;
  return released != 0;
}

}  // namespace lea
