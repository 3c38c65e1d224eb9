// The heap front end with its switches off, and its pluggable allocators.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "heap_fixture.h"
#include "log_capture.h"
#include "q4_memory.h"

namespace {

// A stand-in allocator that counts its calls and otherwise uses malloc.
struct CountingAllocator {
  int allocations = 0;
  int reallocations = 0;
  int duplicates = 0;
  int releases = 0;
};

void* counting_allocate(void* context, unsigned size) {
  ++static_cast<CountingAllocator*>(context)->allocations;
  return malloc(size);
}
void* counting_reallocate(void* context, void* block, unsigned size) {
  ++static_cast<CountingAllocator*>(context)->reallocations;
  return realloc(block, size);
}
char* counting_duplicate(void* context, const char* text) {
  ++static_cast<CountingAllocator*>(context)->duplicates;
  return strdup(text);
}
void counting_release(void* context, void* block) {
  ++static_cast<CountingAllocator*>(context)->releases;
  free(block);
}

}  // namespace

TEST_F(HeapTest, PlainCallsBehaveLikeTheSystemAllocator) {
  char* block = static_cast<char*>(q4_malloc(16, __FILE__, __LINE__));
  ASSERT_NE(block, nullptr);
  memcpy(block, "0123456789abcde", 16);
  block = static_cast<char*>(q4_realloc(block, 100000, __FILE__, __LINE__));
  ASSERT_NE(block, nullptr);
  EXPECT_STREQ(block, "0123456789abcde");
  q4_free(block, __FILE__, __LINE__);

  void* empty = q4_malloc(0, __FILE__, __LINE__);  // whatever malloc(0) gives, freeable
  q4_free(empty, __FILE__, __LINE__);
  q4_free(nullptr, __FILE__, __LINE__);

  char* copy = q4_strdup_c("text", __FILE__, __LINE__);
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "text");
  q4_free_c(copy, __FILE__, __LINE__);

  void* pixels = q4_image_realloc_c(nullptr, 64, __FILE__, __LINE__);  // null reallocates fresh
  ASSERT_NE(pixels, nullptr);
  q4_image_free_c(pixels, __FILE__, __LINE__);
}

TEST_F(HeapTest, CallocZeroesAndRefusesWrappingProducts) {
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1) track();  // zero fill in every mode
    unsigned char* block = static_cast<unsigned char*>(q4_calloc(25, 40, __FILE__, __LINE__));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(block[i], 0) << i;
    q4_free(block, __FILE__, __LINE__);
    // 65536 * 65537 wraps to 65536 in 32 bits.
    EXPECT_EQ(q4_calloc(65536, 65537, __FILE__, __LINE__), nullptr);
    EXPECT_EQ(q4_calloc_c(0x80000000u, 2, __FILE__, __LINE__), nullptr);
  }
}

TEST_F(HeapTest, StrdupOfNullIsRefusedInEveryMode) {
  EXPECT_EQ(q4_strdup(nullptr, __FILE__, __LINE__), nullptr);
  set_q4_heap_memory_enable(true);
  EXPECT_EQ(q4_strdup(nullptr, __FILE__, __LINE__), nullptr);
  track();
  LogCapture log;
  EXPECT_EQ(q4_strdup(nullptr, "caller.cpp", 9), nullptr);
  EXPECT_TRUE(log.contains("Q4-HM-DEBUG: q4_strdup( NULL ) attempted! [caller.cpp(9)]\n"));
}

TEST_F(HeapTest, OverridesServeOnlyWhenCompleteAndEnabled) {
  CountingAllocator normal, image;
  set_q4_heap_normal_memory_overrides(&normal, counting_allocate, counting_reallocate, nullptr,
                                      counting_release);
  set_q4_heap_memory_enable(true);
  q4_free(q4_malloc(8, __FILE__, __LINE__), __FILE__, __LINE__);
  EXPECT_EQ(normal.allocations, 0) << "an incomplete set must not be installed";

  set_q4_heap_normal_memory_overrides(&normal, counting_allocate, counting_reallocate,
                                      counting_duplicate, counting_release);
  set_q4_heap_image_memory_overrides(&image, counting_allocate, counting_reallocate, counting_release);
  void* block = q4_malloc(8, __FILE__, __LINE__);
  block = q4_realloc(block, 32, __FILE__, __LINE__);
  char* text = q4_strdup("abc", __FILE__, __LINE__);
  EXPECT_STREQ(text, "abc");
  q4_free(text, __FILE__, __LINE__);
  q4_free(block, __FILE__, __LINE__);
  void* pixels = q4_image_malloc(64, __FILE__, __LINE__);
  q4_image_free(pixels, __FILE__, __LINE__);
  EXPECT_EQ(normal.allocations, 1);
  EXPECT_EQ(normal.reallocations, 1);
  EXPECT_EQ(normal.duplicates, 1);
  EXPECT_EQ(normal.releases, 2);
  EXPECT_EQ(image.allocations, 1);
  EXPECT_EQ(image.releases, 1);

  // With enable off the overrides are ignored whatever is installed.
  set_q4_heap_memory_enable(false);
  q4_free(q4_malloc(8, __FILE__, __LINE__), __FILE__, __LINE__);
  EXPECT_EQ(normal.allocations, 1);
  EXPECT_EQ(normal.releases, 2);
}

TEST_F(HeapTest, OverrideFreeTracesWithoutDebug) {
  CountingAllocator normal;
  set_q4_heap_normal_memory_overrides(&normal, counting_allocate, counting_reallocate,
                                      counting_duplicate, counting_release);
  set_q4_heap_memory_enable(true);
  set_q4_heap_memory_trace(true);
  LogCapture log;
  void* block = q4_malloc(12, "alloc.cpp", 5);
  q4_free(block, "free.cpp", 6);
  const std::string text = log.text();
  char expected[128];
  snprintf(expected, sizeof expected, "INFO : Q4-HM-TRACE: q4_free(%p) at [free.cpp(6)]\n", block);
  EXPECT_NE(text.find(expected), std::string::npos) << text;
  EXPECT_NE(text.find("Q4-HM-TRACE: q4_malloc(12) ret"), std::string::npos) << text;
}

TEST_F(HeapTest, StatisticsNeedDebugMode) {
  LogCapture log;
  int calls = -7, frees = -7;
  unsigned now = 7, peak = 7;
  EXPECT_EQ(get_q4_heap_normal_memory_statistics(calls, frees, now, peak), 0);
  EXPECT_EQ(calls, -7);  // outputs untouched
  EXPECT_EQ(peak, 7u);
  output_q4_heap_image_memory_report(true);
  const std::string text = log.text();
  const std::string notice = "Q4-HM-DEBUG: Debug mode not set. Statistics not available.\n";
  const size_t first = text.find(notice);
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(text.find(notice, first + 1), std::string::npos);
  EXPECT_EQ(text.find("REPORT"), std::string::npos);
}
