#ifndef Q4_LEA_STATE_H
#define Q4_LEA_STATE_H

#include <cstddef>
#include <cstdint>

// Chunks, bins, segments and the one heap state behind q4_lea_malloc.h,
// shared by its source files.
namespace lea {

constexpr size_t word = sizeof(size_t);
constexpr size_t alignment = 16;
constexpr size_t align_mask = alignment - 1;
// An in-use chunk keeps only its head; the next chunk's previous-foot word
// is the caller's. A mapped chunk keeps two words.
constexpr size_t chunk_overhead = word;
constexpr size_t mmap_chunk_overhead = 2 * word;
// Beyond a mapped chunk: a fencepost head and a zero word, padded.
constexpr size_t mmap_foot_pad = 4 * word;
constexpr size_t min_chunk = 32;
constexpr size_t min_large = 256;
constexpr size_t max_request = 0xFFFFFFBF;
constexpr size_t min_request = min_chunk - chunk_overhead - 1;
constexpr size_t max_small_request = min_large - 1 - align_mask - chunk_overhead;
constexpr size_t half_max = SIZE_MAX / 2;

// Head bits.
constexpr size_t pinuse_bit = 1;  // the previous chunk is in use
constexpr size_t cinuse_bit = 2;  // this chunk is in use
constexpr size_t inuse_bits = pinuse_bit | cinuse_bit;
constexpr size_t flag_bits = 7;
constexpr size_t fencepost_head = inuse_bits | word;
// In the previous-foot word of a chunk mapped on its own, beside its offset
// into the mapping.
constexpr size_t mmapped_bit = 1;

constexpr int small_bins = 32;
constexpr int tree_bins = 32;
constexpr int small_shift = 3;
constexpr int tree_shift = 8;

// Heap flags.
constexpr unsigned use_mmap_flag = 1;
constexpr unsigned noncontiguous_flag = 4;
// Segment flags.
constexpr unsigned mmapped_segment = 1;

// The fields past bk exist only in free chunks of min_large bytes or more.
struct Chunk {
  size_t prev_foot;  // the previous chunk's size while it is free
  size_t head;       // size | flag bits
  Chunk* fd;
  Chunk* bk;
  Chunk* child[2];
  Chunk* parent;  // null for chunks chained behind a tree node of equal size
  int index;
};

struct Segment {
  char* base;
  size_t size;
  Segment* next;
  unsigned flags;
};

struct State {
  unsigned small_map;
  unsigned tree_map;
  size_t dv_size;
  Chunk* dv;
  size_t top_size;
  Chunk* top;
  char* least_addr;
  size_t trim_check;
  size_t magic;
  Chunk small_heads[small_bins];
  Chunk* tree_roots[tree_bins];
  size_t footprint;
  size_t max_footprint;
  unsigned flags;
  Segment seg;
};

struct Params {
  size_t magic;
  size_t page_size;
  size_t granularity;
  size_t mmap_threshold;
  size_t trim_threshold;
  unsigned default_flags;
};

extern State heap;
extern Params params;

// What the system calls fail with.
char* const system_fail = reinterpret_cast<char*>(~uintptr_t{0});

// The bytes at the end of every segment: a segment record and a fencepost.
constexpr size_t pad_request(size_t n) { return (n + chunk_overhead + align_mask) & ~align_mask; }
constexpr size_t top_foot = pad_request(sizeof(Segment)) + min_chunk;

inline size_t request_to_size(size_t n) { return n < min_request ? min_chunk : pad_request(n); }
inline void* chunk_to_mem(Chunk* p) { return reinterpret_cast<char*>(p) + 2 * word; }
inline Chunk* mem_to_chunk(void* mem) { return reinterpret_cast<Chunk*>(static_cast<char*>(mem) - 2 * word); }
inline Chunk* at_offset(void* p, size_t offset) { return reinterpret_cast<Chunk*>(static_cast<char*>(p) + offset); }
inline size_t size_of(const Chunk* p) { return p->head & ~flag_bits; }
inline Chunk* next_chunk(Chunk* p) { return at_offset(p, size_of(p)); }
inline bool cinuse(const Chunk* p) { return (p->head & cinuse_bit) != 0; }
inline bool pinuse(const Chunk* p) { return (p->head & pinuse_bit) != 0; }
inline bool is_mmapped(const Chunk* p) { return !pinuse(p) && (p->prev_foot & mmapped_bit); }
inline size_t overhead_for(const Chunk* p) { return is_mmapped(p) ? mmap_chunk_overhead : chunk_overhead; }
inline bool is_small(size_t size) { return (size >> small_shift) < small_bins; }
inline unsigned bit(int index) { return 1u << index; }
inline int lowest_bit_index(unsigned bits) { return __builtin_ctz(bits); }
// Every bit above the one set in x.
inline unsigned bits_above(unsigned x) { return (x << 1) | (0u - (x << 1)); }

inline size_t align_offset(const void* a) {
  const size_t low = reinterpret_cast<uintptr_t>(a) & align_mask;
  return low == 0 ? 0 : alignment - low;
}
// The first chunk of memory starting at base whose caller pointer is aligned.
inline Chunk* align_as_chunk(char* base) { return reinterpret_cast<Chunk*>(base + align_offset(base + 2 * word)); }

// Rounding to the granularity or the page size adds one whole unit, also
// to a size that is already a multiple.
inline size_t granularity_align(size_t s) { return (s + params.granularity) & ~(params.granularity - 1); }
inline size_t page_align(size_t s) { return (s + params.page_size) & ~(params.page_size - 1); }

inline bool ok_address(const void* p) {
  return heap.least_addr && static_cast<const char*>(p) >= heap.least_addr;
}

inline void set_free_with_pinuse(Chunk* p, size_t size, Chunk* next) {
  next->head &= ~pinuse_bit;
  p->head = size | pinuse_bit;
  at_offset(p, size)->prev_foot = size;
}
inline void set_size_and_pinuse_of_free_chunk(Chunk* p, size_t size) {
  p->head = size | pinuse_bit;
  at_offset(p, size)->prev_foot = size;
}
inline void set_inuse(Chunk* p, size_t size) {
  p->head = (p->head & pinuse_bit) | size | cinuse_bit;
  at_offset(p, size)->head |= pinuse_bit;
}
inline void set_inuse_and_pinuse(Chunk* p, size_t size) {
  p->head = size | pinuse_bit | cinuse_bit;
  at_offset(p, size)->head |= pinuse_bit;
}
inline void set_size_and_pinuse_of_inuse_chunk(Chunk* p, size_t size) { p->head = size | pinuse_bit | cinuse_bit; }

// The first nb bytes of the top chunk as an in-use chunk; the caller has
// checked that nb < heap.top_size, so a top of at least one chunk remains.
inline void* split_from_top(size_t nb) {
  Chunk* p = heap.top;
  heap.top_size -= nb;
  heap.top = at_offset(p, nb);
  heap.top->head = heap.top_size | pinuse_bit;
  set_size_and_pinuse_of_inuse_chunk(p, nb);
  return chunk_to_mem(p);
}

[[noreturn]] void corruption();
void ensure_params();

// Bins (q4_lea_bins.cpp).
void init_bins();
void insert_chunk(Chunk* p, size_t size);
void unlink_chunk(Chunk* p, size_t size);
void unlink_large(Chunk* p);
void unlink_first_small(int index, Chunk* p);
void replace_dv(Chunk* p, size_t size);
void* take_small_from_tree(size_t nb);
void* take_large(size_t nb);

// System memory (q4_lea_system.cpp).
void* sys_alloc(size_t nb);
int sys_trim(size_t pad);
void* mmap_chunk(size_t nb);
Chunk* mmap_resize(Chunk* old, size_t nb);

// Allocation and release once the request is a chunk size and the pointer
// checked (q4_lea_malloc.cpp).
void* allocate_chunk(size_t nb);
void free_chunk(Chunk* p);
void check_in_use(Chunk* p);

}  // namespace lea

#endif
