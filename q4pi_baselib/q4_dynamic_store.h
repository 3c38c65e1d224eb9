#ifndef Q4_DYNAMIC_STORE_H
#define Q4_DYNAMIC_STORE_H

#include <cstdint>

// The header at the start of every block of a q4DynamicStore, free or in
// use. Links are offsets from the arena base (the arena is at most 2^30
// bytes), or -1 for the free list's own head; so the header stays 16 bytes
// and a 1-byte request still fits a 32-byte block.
struct tagQ4DSA_block_control {
  int32_t linkf;
  int32_t linkb;
  int8_t kval;  // the block is 2^kval bytes, header included
  int8_t tag;   // 1 free, 0 in use
  int16_t unused;
  int32_t size;  // requested size, while in use
};
static_assert(sizeof(tagQ4DSA_block_control) == 16, "the block header is 16 bytes");

// A buddy allocator over one arena of 2^k bytes from the system heap:
// blocks are powers of two (the request plus the header, rounded up), split
// from larger free blocks on demand and merged with their free buddy on
// release. One store serves one thread at a time.
class q4DynamicStore {
 public:
  enum { orders = 31, min_order = 5, max_order = 30, header_size = 16 };

  // k is clamped to 5..30. When the arena cannot be had, every operation
  // refuses.
  explicit q4DynamicStore(int k);
  virtual ~q4DynamicStore();
  q4DynamicStore(const q4DynamicStore&) = delete;
  q4DynamicStore& operator=(const q4DynamicStore&) = delete;

  void* allocate(unsigned size);
  char* duplicate_null_terminated_string(const char* s);
  // 0 on success; 1 for a store in error, a null pointer or one that is not
  // a block in use of this store.
  int release(void* p);
  // Always moves the block; null (p still valid) when there is no room.
  void* resize_block(void* p, unsigned size);

  // counts[0..30]: free blocks of each order. Returns the error flag.
  int stats(int& arena, int& free, int& used, int& blocks, int* counts) const;
  void output_allocator_stats() const;
  void dumpbc(const char* title, const tagQ4DSA_block_control* b) const;
  // 1 when p's header lies in the arena and looks like one.
  int check(void* p) const;

  // Requests above this size are reported in the log (0: none are).
  void set_max_wanted(int bytes) { max_wanted_ = bytes; }

 private:
  struct FreeList {
    int32_t linkf;
    int32_t linkb;
    int count;
  };

  tagQ4DSA_block_control* header(int32_t offset) const;
  void push(int order, int32_t offset);
  void unlink(int order, int32_t offset);
  void set_link(int order, int32_t at, bool forward, int32_t to);
  bool in_use_block(void* p) const;
  void record_request(unsigned size);

  FreeList lists_[orders];
  char* raw_;
  char* base_;
  int k_;
  int arena_size_;
  int header_size_;
  int error_;
  int free_bytes_;
  int used_bytes_;
  int blocks_;
  int peak_blocks_;
  int free_order_mark_;
  int smallest_request_;
  int largest_request_;
  int max_wanted_;
  int lowest_free_;
  int peak_used_;
  double best_efficiency_;
  double efficiency_sum_;
  int allocations_;
};

// Heap-front-end hooks (q4_heap.h); the first argument is the store.
void* use_q4DynamicStore_malloc(void* store, unsigned size);
char* use_q4DynamicStore_strdup(void* store, const char* s);
int use_q4DynamicStore_free(void* store, void* p);
void* use_q4DynamicStore_realloc(void* store, void* p, unsigned size);

// Puts the store behind the normal or the image heap (a null store installs
// nothing); the end calls clear that heap's allocator whatever is installed.
// A store must outlive its installation.
void use_q4DynamicStore_for_normal_allocs(q4DynamicStore* s);
void use_q4DynamicStore_for_image_allocs(q4DynamicStore* s);
void end_use_q4DynamicStore_for_normal_allocs();
void end_use_q4DynamicStore_for_image_allocs();

#endif
