#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "band_scratch.h"
#include "failing_heap.h"
#include "line_filter.h"
#include "q4_memory.h"

namespace {

uintptr_t address(const void* p) { return reinterpret_cast<uintptr_t>(p); }

// Every size gets a block on a cache line, large ones on a huge-page
// boundary, lying inside what the heap gave: the whole block is written
// (AddressSanitizer sees any byte past the heap's block) and freed through
// raw.
TEST(BandScratch, BlocksAreAlignedAndLieInsideTheirAllocation) {
  const uint64_t sizes[] = {1, 17, 4096, 524287, 524288, 983040, 2u << 20, (3u << 20) + 5};
  for (uint64_t bytes : sizes) {
    void* raw = nullptr;
    void* block = band_scratch_alloc(bytes, &raw);
    ASSERT_NE(block, nullptr) << bytes;
    ASSERT_NE(raw, nullptr);
    EXPECT_GE(address(block), address(raw));
    EXPECT_EQ(address(block) % 64, 0u) << bytes;
    if (bytes >= 524288) {
      EXPECT_EQ(address(block) % (2u << 20), 0u) << bytes;
    }
    std::memset(block, 0xA5, bytes);
    EXPECT_EQ(static_cast<unsigned char*>(block)[bytes - 1], 0xA5);
    q4_free(raw, __FILE__, __LINE__);
  }
}

TEST(BandScratch, NothingForNoBytesTooManyOrARefusingHeap) {
  void* raw = &raw;
  EXPECT_EQ(band_scratch_alloc(0, &raw), nullptr);
  EXPECT_EQ(raw, nullptr);
  raw = &raw;
  EXPECT_EQ(band_scratch_alloc(uint64_t{UINT32_MAX} - 10, &raw), nullptr);
  EXPECT_EQ(raw, nullptr);
  {
    FailingHeap heap(0);
    for (uint64_t bytes : {uint64_t{64}, uint64_t{1} << 20}) {
      raw = &raw;
      EXPECT_EQ(band_scratch_alloc(bytes, &raw), nullptr) << bytes;
      EXPECT_EQ(raw, nullptr);
    }
    EXPECT_EQ(BandScratch<double>(1000).get(), nullptr);
  }
  EXPECT_EQ(BandScratch<double>(uint64_t{UINT32_MAX} / 8 + 1).get(), nullptr);
  BandScratch<double> lines(1000);
  ASSERT_NE(lines.get(), nullptr);
  EXPECT_EQ(address(lines.get()) % 64, 0u);
}

}  // namespace
