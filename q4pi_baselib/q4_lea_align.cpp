#include <cerrno>
#include <cstring>

#include "q4_lea_malloc.h"
#include "q4_lea_state.h"

using namespace lea;

namespace {

// Gives a leading or trailing piece of a chunk back to the heap.
void release_piece(Chunk* piece) {
  if (piece) free_chunk(piece);
}

// Carves one chunk into `count` adjacent chunks of the given sizes (every
// one `same_size` when sizes is null), with the pointer array in a chunk of
// its own at the end when the caller gave none.
void** allocate_independent(size_t count, size_t same_size, const size_t* sizes, void** chunks, bool clear) {
  size_t array_size = 0;
  void** pointers = chunks;
  if (!chunks) {
    if (count == 0) return static_cast<void**>(dlmalloc(0));
    if (count > max_request / sizeof(void*)) {
      errno = ENOMEM;
      return nullptr;
    }
    array_size = request_to_size(count * sizeof(void*));
  } else if (count == 0) {
    return chunks;
  }
  // Every size and their sum are checked before they are added up, so that
  // no total wraps around to a small chunk.
  size_t element_size = 0, contents_size = 0;
  if (!sizes) {
    if (same_size > max_request || count > max_request / request_to_size(same_size)) {
      errno = ENOMEM;
      return nullptr;
    }
    element_size = request_to_size(same_size);
    contents_size = count * element_size;
  } else {
    for (size_t i = 0; i < count; ++i) {
      if (sizes[i] > max_request || contents_size > max_request) {
        errno = ENOMEM;
        return nullptr;
      }
      contents_size += request_to_size(sizes[i]);
    }
  }
  const size_t total = contents_size + array_size;
  if (total > max_request) {
    errno = ENOMEM;
    return nullptr;
  }
  // One chunk from the heap proper: a mapped chunk could not be split.
  const unsigned flags = heap.flags;
  heap.flags &= ~use_mmap_flag;
  void* mem = dlmalloc(total - chunk_overhead);
  heap.flags = flags;
  if (!mem) return nullptr;

  Chunk* p = mem_to_chunk(mem);
  size_t remaining = size_of(p);
  if (clear) memset(mem, 0, remaining - word - array_size);
  if (!pointers) {
    Chunk* array_chunk = at_offset(p, contents_size);
    pointers = static_cast<void**>(chunk_to_mem(array_chunk));
    set_size_and_pinuse_of_inuse_chunk(array_chunk, remaining - contents_size);
    remaining = contents_size;
  }
  for (size_t i = 0;; ++i) {
    pointers[i] = chunk_to_mem(p);
    if (i == count - 1) {
      set_size_and_pinuse_of_inuse_chunk(p, remaining);
      break;
    }
    const size_t size = sizes ? request_to_size(sizes[i]) : element_size;
    remaining -= size;
    set_size_and_pinuse_of_inuse_chunk(p, size);
    p = at_offset(p, size);
  }
  return pointers;
}

}  // namespace

void* dlmemalign(size_t alignment_wanted, size_t n) {
  if (alignment_wanted <= alignment) return dlmalloc(n);
  size_t a = min_chunk;
  while (a < alignment_wanted) a <<= 1;
  if (n > max_request - a) {
    errno = ENOMEM;
    return nullptr;
  }
  const size_t nb = request_to_size(n);
  // Room to move to an aligned spot that leaves a whole chunk before it.
  char* mem = static_cast<char*>(dlmalloc(nb + a + min_chunk - chunk_overhead));
  if (!mem) return nullptr;
  Chunk* p = mem_to_chunk(mem);
  Chunk* leader = nullptr;
  Chunk* trailer = nullptr;
  if (reinterpret_cast<uintptr_t>(mem) % a != 0) {
    char* aligned = reinterpret_cast<char*>((reinterpret_cast<uintptr_t>(mem) + a - 1) & ~(a - 1));
    char* spot = aligned - 2 * word;
    if (static_cast<size_t>(spot - reinterpret_cast<char*>(p)) < min_chunk) spot += a;
    Chunk* moved = reinterpret_cast<Chunk*>(spot);
    const size_t lead = spot - reinterpret_cast<char*>(p);
    const size_t size = size_of(p) - lead;
    if (is_mmapped(p)) {
      moved->prev_foot = p->prev_foot + lead;
      moved->head = size | cinuse_bit;
    } else {
      set_inuse(moved, size);
      set_inuse(p, lead);
      leader = p;
    }
    p = moved;
  }
  if (!is_mmapped(p)) {
    const size_t size = size_of(p);
    if (size > nb + min_chunk) {
      trailer = at_offset(p, nb);
      set_inuse(p, nb);
      set_inuse(trailer, size - nb);
    }
  }
  release_piece(leader);
  release_piece(trailer);
  return chunk_to_mem(p);
}

void* dlvalloc(size_t n) {
  ensure_params();
  return dlmemalign(params.page_size, n);
}

void* dlpvalloc(size_t n) {
  ensure_params();
  if (n > max_request) {
    errno = ENOMEM;
    return nullptr;
  }
  return dlmemalign(params.page_size, (n + params.page_size - 1) & ~(params.page_size - 1));
}

void** dlindependent_calloc(size_t count, size_t size, void** chunks) {
  return allocate_independent(count, size, nullptr, chunks, true);
}

void** dlindependent_comalloc(size_t count, size_t* sizes, void** chunks) {
  if (count != 0 && !sizes) return nullptr;
  return allocate_independent(count, 0, sizes, chunks, false);
}
