#include "q4_dynamic_store.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "q4_log.h"

namespace {

constexpr int32_t list_head = -1;

// The smallest order whose block holds size bytes and the header; in 64
// bits, so that a request near 4 GiB cannot wrap to a small block.
int order_for(unsigned size) {
  const uint64_t needed = static_cast<uint64_t>(size) + q4DynamicStore::header_size;
  int order = 0;
  while ((uint64_t{1} << order) < needed) ++order;
  return order;
}

}  // namespace

q4DynamicStore::q4DynamicStore(int k)
    : lists_(),
      raw_(nullptr),
      base_(nullptr),
      k_(std::clamp(k, static_cast<int>(min_order), static_cast<int>(max_order))),
      arena_size_(1 << k_),
      header_size_(header_size),
      error_(0),
      free_bytes_(0),
      used_bytes_(0),
      blocks_(0),
      peak_blocks_(0),
      free_order_mark_(k_),
      smallest_request_(-1),
      largest_request_(-1),
      max_wanted_(0),
      lowest_free_(0),
      peak_used_(0),
      best_efficiency_(0.0),
      efficiency_sum_(0.0),
      allocations_(0) {
  for (FreeList& list : lists_) list = FreeList{list_head, list_head, 0};
  raw_ = static_cast<char*>(malloc(static_cast<size_t>(arena_size_) + header_size));
  if (!raw_) {
    error_ = 1;
    return;
  }
  base_ = reinterpret_cast<char*>((reinterpret_cast<uintptr_t>(raw_) + header_size) & ~uintptr_t{header_size - 1});
  tagQ4DSA_block_control* whole = header(0);
  whole->kval = static_cast<int8_t>(k_);
  whole->tag = 1;
  whole->unused = 0;
  whole->size = 0;
  push(k_, 0);
  free_bytes_ = lowest_free_ = arena_size_;
  blocks_ = peak_blocks_ = 1;
}

q4DynamicStore::~q4DynamicStore() {
  if (!error_ && base_) free(raw_);
}

tagQ4DSA_block_control* q4DynamicStore::header(int32_t offset) const {
  return reinterpret_cast<tagQ4DSA_block_control*>(base_ + offset);
}

// Points the forward or back link of `at` (a block, or the list's head) at `to`.
void q4DynamicStore::set_link(int order, int32_t at, bool forward, int32_t to) {
  int32_t& link = at == list_head ? (forward ? lists_[order].linkf : lists_[order].linkb)
                                  : (forward ? header(at)->linkf : header(at)->linkb);
  link = to;
}

void q4DynamicStore::push(int order, int32_t offset) {
  tagQ4DSA_block_control* block = header(offset);
  block->linkf = lists_[order].linkf;
  block->linkb = list_head;
  set_link(order, lists_[order].linkf, false, offset);
  lists_[order].linkf = offset;
  ++lists_[order].count;
}

void q4DynamicStore::unlink(int order, int32_t offset) {
  const tagQ4DSA_block_control* block = header(offset);
  set_link(order, block->linkb, true, block->linkf);
  set_link(order, block->linkf, false, block->linkb);
  --lists_[order].count;
}

void q4DynamicStore::record_request(unsigned size) {
  const int value = size > INT_MAX ? INT_MAX : static_cast<int>(size);
  if (smallest_request_ < 0) {
    smallest_request_ = largest_request_ = value;
  } else {
    smallest_request_ = std::min(smallest_request_, value);
    largest_request_ = std::max(largest_request_, value);
  }
}

void* q4DynamicStore::allocate(unsigned size) {
  if (error_ || size == 0) return nullptr;
  record_request(size);
  if (max_wanted_ >= 1 && size > static_cast<unsigned>(max_wanted_))
    q4_notify(Q4_LOG_INFO, "Q4-DYNAMIC-STORE allocate(%d) > max_wanted (%d)\n", static_cast<int>(std::min<unsigned>(size, INT_MAX)),
              max_wanted_);
  const int want = order_for(size);
  if (want > k_) return nullptr;
  int order = want;
  while (order <= k_ && lists_[order].count == 0) ++order;
  if (order > k_) return nullptr;

  const int32_t offset = lists_[order].linkf;
  unlink(order, offset);
  if (lists_[order].count == 0 && free_order_mark_ == order) free_order_mark_ = order - 1;
  // Every list between want and order was empty: each upper half becomes
  // the only block of its list.
  while (order > want) {
    --order;
    const int32_t upper = offset + (int32_t{1} << order);
    tagQ4DSA_block_control* half = header(upper);
    half->kval = static_cast<int8_t>(order);
    half->tag = 1;
    half->unused = 0;
    half->size = 0;
    push(order, upper);
    peak_blocks_ = std::max(peak_blocks_, ++blocks_);
  }
  tagQ4DSA_block_control* block = header(offset);
  block->linkf = block->linkb = 0;
  block->kval = static_cast<int8_t>(want);
  block->tag = 0;
  block->size = static_cast<int32_t>(size);

  used_bytes_ += static_cast<int>(size);
  peak_used_ = std::max(peak_used_, used_bytes_);
  free_bytes_ -= 1 << want;
  lowest_free_ = std::min(lowest_free_, free_bytes_);
  const double efficiency =
      arena_size_ == lowest_free_ ? 1.0 : static_cast<double>(peak_used_) / (arena_size_ - lowest_free_);
  best_efficiency_ = std::max(best_efficiency_, efficiency);
  efficiency_sum_ += efficiency;
  ++allocations_;
  return base_ + offset + header_size;
}

char* q4DynamicStore::duplicate_null_terminated_string(const char* s) {
  if (error_ || !s) return nullptr;
  const size_t length = strlen(s);
  if (length >= UINT_MAX) return nullptr;
  char* copy = static_cast<char*>(allocate(static_cast<unsigned>(length + 1)));
  if (copy) memcpy(copy, s, length + 1);
  return copy;
}

int q4DynamicStore::check(void* p) const {
  if (error_ || !p) return 0;
  const uintptr_t at = reinterpret_cast<uintptr_t>(p) - header_size;
  const uintptr_t base = reinterpret_cast<uintptr_t>(base_);
  if (at < base || at > base + arena_size_ - 1) return 0;
  return reinterpret_cast<const tagQ4DSA_block_control*>(at)->tag <= 1;
}

// Merging a block that is already free, or one that is no block at all,
// would tie the free lists into knots: release takes only what allocate
// handed out and has not had back.
bool q4DynamicStore::in_use_block(void* p) const {
  if (!check(p)) return false;
  const int32_t offset = static_cast<int32_t>(static_cast<char*>(p) - header_size - base_);
  const tagQ4DSA_block_control* block = header(offset);
  return block->tag == 0 && block->kval >= min_order && block->kval <= k_ &&
         (offset & ((int32_t{1} << block->kval) - 1)) == 0;
}

int q4DynamicStore::release(void* p) {
  if (error_ || !p || !in_use_block(p)) return 1;
  int32_t offset = static_cast<int32_t>(static_cast<char*>(p) - header_size - base_);
  int order = header(offset)->kval;
  const int size = header(offset)->size;
  // Marked free before merging: when it merges into a lower buddy this
  // header is left behind, and a second release of p must still see it
  // free.
  header(offset)->tag = 1;
  while (order < k_) {
    const int32_t buddy = offset ^ (int32_t{1} << order);
    const tagQ4DSA_block_control* other = header(buddy);
    if (other->tag != 1 || other->kval != order) break;
    unlink(order, buddy);
    free_bytes_ -= 1 << order;
    ++order;
    offset = std::min(offset, buddy);
    --blocks_;
  }
  tagQ4DSA_block_control* block = header(offset);
  block->kval = static_cast<int8_t>(order);
  block->tag = 1;
  block->size = 0;
  push(order, offset);
  free_bytes_ += 1 << order;
  used_bytes_ -= size;
  return 0;
}

void* q4DynamicStore::resize_block(void* p, unsigned size) {
  if (error_ || (p && !in_use_block(p))) return nullptr;
  void* moved = allocate(size);
  if (!moved || !p) return moved;
  const unsigned old_size = static_cast<unsigned>(header(static_cast<int32_t>(static_cast<char*>(p) - header_size - base_))->size);
  memcpy(moved, p, std::min(old_size, size));
  release(p);
  return moved;
}

int q4DynamicStore::stats(int& arena, int& free, int& used, int& blocks, int* counts) const {
  arena = arena_size_;
  free = free_bytes_;
  used = used_bytes_;
  blocks = blocks_;
  if (counts)
    for (int i = 0; i < orders; ++i) counts[i] = lists_[i].count;
  return error_;
}
