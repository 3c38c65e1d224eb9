#include "band_scratch.h"

#include "q4_memory.h"

namespace {

const uint64_t kLineBytes = 64;
const uint64_t kHugePage = 2u << 20;
const uint64_t kHugeFrom = kHugePage / 4;

uint64_t round_up(uint64_t value, uint64_t to) { return (value + to - 1) & ~(to - 1); }

}  // namespace

void* band_scratch_alloc(uint64_t bytes, void** raw) {
  *raw = nullptr;
  if (bytes == 0) return nullptr;
  // Room for the block wherever the heap puts it: a whole number of huge
  // pages after the first boundary, or a line's worth of slack.
  const bool huge = bytes >= kHugeFrom && round_up(bytes, kHugePage) + kHugePage <= UINT32_MAX;
  const uint64_t align = huge ? kHugePage : kLineBytes;
  const uint64_t span = huge ? round_up(bytes, kHugePage) + kHugePage : bytes + kLineBytes;
  if (span > UINT32_MAX) return nullptr;
  *raw = q4_malloc(static_cast<unsigned>(span), "Library/Q4Image", __LINE__);
  if (!*raw) return nullptr;
  void* block = reinterpret_cast<void*>(round_up(reinterpret_cast<uintptr_t>(*raw), align));
  if (huge) q4_prefer_huge_pages(block, round_up(bytes, kHugePage));
  return block;
}
