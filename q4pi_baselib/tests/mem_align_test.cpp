// Aligned blocks on both heaps.
#include <climits>
#include <cstdint>
#include <cstring>
#include <unistd.h>

#include <gtest/gtest.h>

#include "heap_fixture.h"
#include "q4_memory.h"

namespace {

// Hands out one chosen address, filled with a marker byte.
struct FixedArena {
  alignas(64) unsigned char bytes[4096];
  unsigned offset = 0;
};

void* fixed_allocate(void* context, unsigned) {
  FixedArena* a = static_cast<FixedArena*>(context);
  return a->bytes + a->offset;
}
void* fixed_reallocate(void*, void*, unsigned) { return nullptr; }
char* fixed_duplicate(void*, const char*) { return nullptr; }
void fixed_release(void*, void*) {}

uintptr_t address(const void* p) { return reinterpret_cast<uintptr_t>(p); }

}  // namespace

TEST_F(HeapTest, AlignedBlocksAreAlignedForEveryAlignment) {
  for (int image = 0; image < 2; ++image) {
    for (int alignment : {4, 8, 12, 16, 24, 32, 64, 100, 128, 4096, 65536}) {
      const unsigned size = 1000;
      unsigned char* p = static_cast<unsigned char*>(mem_align_alloc(size, alignment, image != 0));
      ASSERT_NE(p, nullptr);
      EXPECT_EQ(address(p) % alignment, 0u) << alignment;
      memset(p, 0x5a, size);  // the whole block is usable
      mem_align_free(p, image != 0);
    }
  }
  const long page = sysconf(_SC_PAGESIZE);
  for (int alignment : {3, 2, 1, 0, -1, INT_MIN}) {
    void* p = mem_align_alloc(10, alignment, false);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(address(p) % page, 0u) << alignment;
    mem_align_free(p, false);
  }
}

TEST_F(HeapTest, AlignedBlockSitsPastTheRawBlockAndItsHeader) {
  // raw + 8 is a multiple of 16, so the block moves on a whole step: raw + 24.
  FixedArena* arena = new FixedArena();
  arena->offset = 8;
  set_q4_heap_normal_memory_overrides(arena, fixed_allocate, fixed_reallocate,
                                      fixed_duplicate, fixed_release);
  set_q4_heap_memory_enable(true);
  unsigned char* raw = arena->bytes + 8;
  void* p = mem_align_alloc(100, 16, false);
  EXPECT_EQ(p, raw + 24);
  uint32_t words[2];
  memcpy(words, raw + 16, sizeof words);
  EXPECT_EQ(words[0], 100u);  // size asked for
  EXPECT_EQ(words[1], 24u);   // distance back to the raw block
  mem_align_free(p, false);
  delete arena;
}

TEST_F(HeapTest, AlignedSizesThatCannotBeServedGiveNull) {
  EXPECT_EQ(mem_align_alloc(0x80000000u, 16, false), nullptr);
  EXPECT_EQ(mem_align_alloc(0xffffffffu, 16, true), nullptr);
  // size + alignment + 8 wraps 32 bits: a wrapped sum would hand out 6 bytes.
  EXPECT_EQ(mem_align_alloc(0x7fffffffu, INT_MAX, false), nullptr);
  EXPECT_EQ(mem_align_realloc(nullptr, 0x7fffffffu, INT_MAX, true), nullptr);
}

TEST_F(HeapTest, AlignedNullFreeDoesNothing) {
  track();
  const HeapCounters before = normal_counters();
  mem_align_free(nullptr, false);
  mem_align_free(nullptr, true);
  const HeapCounters after = normal_counters();
  EXPECT_EQ(after.free_calls, before.free_calls);
}

TEST_F(HeapTest, AlignedBlocksGoBackToTheirOwnHeap) {
  track();
  const HeapCounters normal0 = normal_counters(), image0 = image_counters();
  void* field = mem_align_alloc(256, 8, true);
  void* row = mem_align_alloc(64, 32, false);
  EXPECT_EQ(image_counters().bytes_now - image0.bytes_now, 256u + 8 + 8);
  EXPECT_EQ(normal_counters().bytes_now - normal0.bytes_now, 64u + 32 + 8);
  mem_align_free(field, true);
  mem_align_free(row, false);
  EXPECT_EQ(image_counters().bytes_now, image0.bytes_now);
  EXPECT_EQ(normal_counters().bytes_now, normal0.bytes_now);
  EXPECT_EQ(image_counters().free_calls - image0.free_calls, 1);
}

TEST_F(HeapTest, AlignedReallocationMovesAndKeepsContents) {
  unsigned char* p = static_cast<unsigned char*>(mem_align_realloc(nullptr, 64, 16, false));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 64; ++i) p[i] = static_cast<unsigned char>(i + 1);
  unsigned char* grown = static_cast<unsigned char*>(mem_align_realloc(p, 4096, 64, false));
  ASSERT_NE(grown, nullptr);
  EXPECT_EQ(address(grown) % 64, 0u);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(grown[i], i + 1) << i;
  mem_align_free(grown, false);
}

TEST_F(HeapTest, AlignedShrinkingCopiesOnlyTheNewSize) {
  // Both blocks come from one arena: a copy past the new size would
  // overwrite the marker bytes that follow the new block.
  FixedArena* arena = new FixedArena();
  set_q4_heap_normal_memory_overrides(arena, fixed_allocate, fixed_reallocate,
                                      fixed_duplicate, fixed_release);
  set_q4_heap_memory_enable(true);
  arena->offset = 0;
  unsigned char* p = static_cast<unsigned char*>(mem_align_alloc(64, 16, false));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 64; ++i) p[i] = static_cast<unsigned char>(i + 1);
  arena->offset = 1024;
  memset(arena->bytes + 1024, 0xee, 1024);
  unsigned char* shrunk = static_cast<unsigned char*>(mem_align_realloc(p, 10, 8, false));
  ASSERT_NE(shrunk, nullptr);
  ASSERT_GE(shrunk, arena->bytes + 1024);
  ASSERT_LE(shrunk + 64, arena->bytes + sizeof arena->bytes);
  for (int i = 0; i < 10; ++i) ASSERT_EQ(shrunk[i], i + 1) << i;
  for (int i = 10; i < 64; ++i) ASSERT_EQ(shrunk[i], 0xee) << i;
  uint32_t stored;
  memcpy(&stored, shrunk - 8, sizeof stored);
  EXPECT_EQ(stored, 10u);
  delete arena;
}

TEST_F(HeapTest, AlignedReallocationFromAnEmptyBlockCopiesNothing) {
  FixedArena* arena = new FixedArena();
  set_q4_heap_image_memory_overrides(arena, fixed_allocate, fixed_reallocate, fixed_release);
  set_q4_heap_memory_enable(true);
  arena->offset = 0;
  unsigned char* empty = static_cast<unsigned char*>(mem_align_alloc(0, 16, true));
  ASSERT_NE(empty, nullptr);
  memset(empty, 0x11, 32);  // bytes past a size-0 block, inside the arena
  arena->offset = 1024;
  memset(arena->bytes + 1024, 0x22, 1024);
  unsigned char* moved = static_cast<unsigned char*>(mem_align_realloc(empty, 32, 16, true));
  ASSERT_EQ(address(moved) % 16, 0u);
  for (int i = 0; i < 32; ++i) ASSERT_EQ(moved[i], 0x22) << i;
  delete arena;
}
