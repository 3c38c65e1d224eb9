// The general allocator: its edge cases, a shadow model of random traffic
// on contiguous and on mapped segments, system memory coming and going, a
// bad free, and its place behind the heap front end.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "heap_fixture.h"
#include "q4_lea_malloc.h"
#include "q4_memory.h"

namespace {

const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));

size_t next_power_of_two(size_t n) {
  size_t p = 1;
  while (p < n) p <<= 1;
  return p;
}

bool aligned_to(const void* p, size_t alignment) { return reinterpret_cast<uintptr_t>(p) % alignment == 0; }

// Random traffic of every kind of request against a model of what each live
// block must hold: each block is filled over its whole usable size, checked
// before it is freed or moved, and no two blocks may share a byte. Returns
// the first discrepancy, or an empty text.
std::string shadow_stress(unsigned seed, int steps) {
  struct Live {
    unsigned char* p;
    size_t asked;
    unsigned char fill;
  };
  std::vector<Live> live;
  std::mt19937 random(seed);
  auto pick_size = [&]() -> size_t {
    const unsigned kind = random() % 100;
    if (kind < 70) return random() % 300;
    if (kind < 95) return random() % 70000;
    return 256 * 1024 + random() % 400000;  // mapped on its own
  };
  std::ostringstream problem;
  auto add = [&](void* p, size_t asked, size_t alignment, const char* what) {
    if (!p) {
      problem << what << " of " << asked << " failed";
      return;
    }
    const size_t usable = dlmalloc_usable_size(p);
    if (usable < asked) problem << what << " of " << asked << " has only " << usable;
    if (!aligned_to(p, alignment)) problem << what << " at " << p << " not aligned to " << alignment;
    const unsigned char fill = static_cast<unsigned char>(random() | 1);
    memset(p, fill, usable);
    live.push_back(Live{static_cast<unsigned char*>(p), asked, fill});
  };
  auto intact = [&](const Live& b) {
    const size_t usable = dlmalloc_usable_size(b.p);
    for (size_t i = 0; i < usable; ++i)
      if (b.p[i] != b.fill) {
        problem << "block " << static_cast<void*>(b.p) << " byte " << i << " of " << usable << " changed";
        return false;
      }
    return true;
  };
  auto no_overlap = [&] {
    std::vector<std::pair<unsigned char*, unsigned char*>> spans;
    for (const Live& b : live) spans.emplace_back(b.p, b.p + dlmalloc_usable_size(b.p));
    std::sort(spans.begin(), spans.end());
    for (size_t i = 1; i < spans.size(); ++i)
      if (spans[i].first < spans[i - 1].second) problem << "blocks overlap at " << static_cast<void*>(spans[i].first);
  };
  for (int step = 0; step < steps && problem.str().empty(); ++step) {
    const unsigned action = live.empty() ? 0 : random() % 16;
    if (action < 4) {
      const size_t n = pick_size();
      add(dlmalloc(n), n, 16, "malloc");
    } else if (action == 4) {
      const size_t count = 1 + random() % 20, size = random() % 200;
      unsigned char* p = static_cast<unsigned char*>(dlcalloc(count, size));
      if (p && std::count(p, p + count * size, 0) != static_cast<long>(count * size)) problem << "calloc not zeroed";
      add(p, count * size, 16, "calloc");
    } else if (action == 5) {
      const size_t index = random() % live.size();
      const Live old = live[index];
      if (!intact(old)) break;
      const size_t old_usable = dlmalloc_usable_size(old.p);
      const size_t n = pick_size();
      unsigned char* p = static_cast<unsigned char*>(dlrealloc(old.p, n));
      if (!p) {
        problem << "realloc to " << n << " failed";
        break;
      }
      const size_t kept = std::min(old_usable, n);
      for (size_t i = 0; i < kept; ++i)
        if (p[i] != old.fill) {
          problem << "realloc lost byte " << i;
          break;
        }
      live.erase(live.begin() + static_cast<long>(index));
      add(p, n, 16, "realloc");
    } else if (action == 6) {
      static const size_t alignments[] = {8, 16, 24, 32, 48, 64, 100, 128, 256, 1000, 2048, 4096};
      const size_t alignment = alignments[random() % 12];
      const size_t n = pick_size();
      add(dlmemalign(alignment, n), n, std::max<size_t>(16, next_power_of_two(alignment)), "memalign");
    } else if (action == 7) {
      const size_t count = 1 + random() % 12, size = random() % 500;
      void** blocks = dlindependent_calloc(count, size, nullptr);
      if (!blocks) {
        problem << "independent_calloc failed";
        break;
      }
      for (size_t i = 0; i < count; ++i) {
        unsigned char* p = static_cast<unsigned char*>(blocks[i]);
        if (std::count(p, p + size, 0) != static_cast<long>(size)) problem << "independent_calloc not zeroed";
        add(p, size, 16, "independent_calloc");
      }
      dlfree(blocks);  // the pointer array is a block of its own
    } else if (action == 8) {
      size_t sizes[6];
      void* blocks[6];
      const size_t count = 1 + random() % 6;
      for (size_t i = 0; i < count; ++i) sizes[i] = random() % 3000;
      if (dlindependent_comalloc(count, sizes, blocks) != blocks) {
        problem << "independent_comalloc failed";
        break;
      }
      for (size_t i = 0; i < count; ++i) add(blocks[i], sizes[i], 16, "independent_comalloc");
    } else {
      const size_t index = random() % live.size();
      if (!intact(live[index])) break;
      dlfree(live[index].p);
      live.erase(live.begin() + static_cast<long>(index));
    }
    if (step % 50 == 0) no_overlap();
  }
  no_overlap();
  for (const Live& b : live)
    if (problem.str().empty()) intact(b);
  for (const Live& b : live) dlfree(b.p);
  return problem.str();
}

std::vector<size_t> stats_numbers() {
  testing::internal::CaptureStderr();
  dlmalloc_stats();
  std::istringstream lines(testing::internal::GetCapturedStderr());
  std::vector<size_t> numbers;
  std::string line;
  while (std::getline(lines, line)) numbers.push_back(std::stoul(line.substr(line.find('=') + 1)));
  return numbers;
}

}  // namespace

TEST(LeaMalloc, ChunkSizesOptionsAndRefusals) {
  // Every chunk has 8 bytes of overhead and at least 32 bytes.
  void* empty = dlmalloc(0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(dlmalloc_usable_size(empty), 24u);
  EXPECT_TRUE(aligned_to(empty, 16));
  // 232 bytes is the largest request a small bin serves (chunk 240); 233
  // takes a 256-byte chunk from the tree bins.
  void* small = dlmalloc(232);
  void* large = dlmalloc(233);
  EXPECT_EQ(dlmalloc_usable_size(small), 232u);
  EXPECT_EQ(dlmalloc_usable_size(large), 248u);
  EXPECT_EQ(dlmalloc_usable_size(nullptr), 0u);

  // Shrinking to nothing keeps the block where it is, at the minimal size.
  void* shrunk = dlrealloc(large, 0);
  EXPECT_EQ(shrunk, large);
  EXPECT_EQ(dlmalloc_usable_size(shrunk), 24u);

  errno = 0;
  EXPECT_EQ(dlcalloc(0x10000, 0x10000), nullptr);
  EXPECT_EQ(errno, ENOMEM);
  errno = 0;
  EXPECT_EQ(dlcalloc(SIZE_MAX / 2, 3), nullptr);  // the product wraps
  EXPECT_EQ(errno, ENOMEM);
  errno = 0;
  EXPECT_EQ(dlmalloc(0xFFFFFFC0u), nullptr);
  EXPECT_EQ(errno, ENOMEM);
  errno = 0;
  EXPECT_EQ(dlrealloc(small, 0xFFFFFFC0u), nullptr);
  EXPECT_EQ(errno, ENOMEM);
  EXPECT_EQ(dlmalloc_usable_size(small), 232u);  // still held
  errno = 0;
  EXPECT_EQ(dlmemalign(64, 0xFFFFFFBFu - 60), nullptr);
  EXPECT_EQ(errno, ENOMEM);
  EXPECT_EQ(dlindependent_calloc(SIZE_MAX / 8, 16, nullptr), nullptr);
  size_t sizes[] = {100, SIZE_MAX / 2};
  void* blocks[2];
  EXPECT_EQ(dlindependent_comalloc(2, sizes, blocks), nullptr);

  EXPECT_EQ(dlmallopt(-2, 3000), 0);
  EXPECT_EQ(dlmallopt(-2, static_cast<int>(page / 2)), 0);
  EXPECT_EQ(dlmallopt(-2, static_cast<int>(page * 2)), 1);
  EXPECT_EQ(dlmallopt(-2, static_cast<int>(page)), 1);
  EXPECT_EQ(dlmallopt(5, 1), 0);
  EXPECT_EQ(dlmallopt(-1, 2 * 1024 * 1024), 1);
  EXPECT_EQ(dlmallopt(-3, 256 * 1024), 1);

  for (void* p : {empty, small, shrunk}) dlfree(p);
  dlfree(nullptr);
}

TEST(LeaMalloc, AlignsAndCarvesIndependentBlocks) {
  for (size_t wanted : {16, 17, 24, 32, 33, 100, 256, 1000, 2048, 4096}) {
    for (size_t n : {1, 100, 5000, 300000}) {
      void* p = dlmemalign(wanted, n);
      ASSERT_NE(p, nullptr);
      EXPECT_TRUE(aligned_to(p, next_power_of_two(wanted))) << wanted << " " << n;
      EXPECT_GE(dlmalloc_usable_size(p), n);
      memset(p, 0xAB, n);
      dlfree(p);
    }
  }
  void* v = dlvalloc(10);
  EXPECT_TRUE(aligned_to(v, page));
  void* pv = dlpvalloc(page + 1);
  EXPECT_TRUE(aligned_to(pv, page));
  EXPECT_GE(dlmalloc_usable_size(pv), 2 * page);
  dlfree(v);
  dlfree(pv);

  // The blocks of one carving lie one after the other.
  void** zeros = dlindependent_calloc(5, 40, nullptr);
  ASSERT_NE(zeros, nullptr);
  for (int i = 0; i < 5; ++i) {
    const unsigned char* p = static_cast<unsigned char*>(zeros[i]);
    EXPECT_EQ(std::count(p, p + 40, 0), 40);
    EXPECT_EQ(dlmalloc_usable_size(zeros[i]), 40u);  // chunk 48
    if (i > 0) {
      EXPECT_EQ(static_cast<char*>(zeros[i]) - static_cast<char*>(zeros[i - 1]), 48);
    }
  }
  size_t sizes[] = {10, 300, 0};
  void* given[3];
  EXPECT_EQ(dlindependent_comalloc(3, sizes, given), given);
  EXPECT_GE(dlmalloc_usable_size(given[1]), 300u);
  EXPECT_EQ(static_cast<char*>(given[1]) - static_cast<char*>(given[0]), 32);
  EXPECT_EQ(static_cast<char*>(given[2]) - static_cast<char*>(given[1]), 320);
  for (void* p : given) dlfree(p);
  for (int i = 4; i >= 0; --i) dlfree(zeros[i]);
  dlfree(zeros);
  EXPECT_EQ(dlindependent_calloc(0, 10, given), given);
  void** none = dlindependent_comalloc(0, nullptr, nullptr);
  EXPECT_NE(none, nullptr);
  dlfree(none);
}

TEST(LeaMalloc, RandomTrafficKeepsEveryBlockWhole) { EXPECT_EQ(shadow_stress(20240611u, 30000), ""); }

namespace {

// The page after the program break is taken, so the heap cannot grow with
// sbrk and must take mapped segments.
void block_the_break() {
  const uintptr_t end = reinterpret_cast<uintptr_t>(sbrk(0));
  void* next = reinterpret_cast<void*>((end + page - 1) & ~(page - 1));
  CHILD_EXPECT(mmap(next, page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0) == next);
}

void stress_on_mapped_segments() {
  block_the_break();
  const std::string problem = shadow_stress(77u, 20000);
  fprintf(stderr, "%s", problem.c_str());
  CHILD_EXPECT(problem.empty());
  CHILD_EXPECT(dlmalloc_max_footprint() > 100 * page);
  dlmalloc_trim(0);
  // Every segment but the top's held one free chunk and went back; the top's
  // was cut down to its last page or two.
  fprintf(stderr, "footprint after %zu, peak %zu\n", dlmalloc_footprint(), dlmalloc_max_footprint());
  CHILD_EXPECT(dlmalloc_footprint() <= 2 * page);
}

void grow_trim_and_count() {
  // A block that borders the top grows into it where it is.
  dlfree(dlmalloc(100000));
  void* low = dlmalloc(1000);
  void* grown_in_place = dlrealloc(low, 50000);
  CHILD_EXPECT(grown_in_place == low);
  dlfree(grown_in_place);

  // Below the mmap threshold: the blocks come from the break.
  void* blocks[16];
  const size_t before = dlmalloc_footprint();
  for (void*& p : blocks) p = dlmalloc(200000);
  const size_t grown = dlmalloc_footprint();
  CHILD_EXPECT(grown >= 16 * 200000 && grown > before);
  for (int i = 15; i >= 0; --i) dlfree(blocks[i]);
  // The top passed the 2 MiB trim threshold on the way and was cut back.
  CHILD_EXPECT(dlmalloc_footprint() < grown - 2 * 1024 * 1024);

  for (int i = 0; i < 5; ++i) blocks[i] = dlmalloc(200000);
  const size_t held = dlmalloc_footprint();
  for (int i = 4; i >= 0; --i) dlfree(blocks[i]);
  CHILD_EXPECT(dlmalloc_footprint() == held);  // 1 MB of top stays below the threshold
  CHILD_EXPECT(dlmalloc_trim(0) == 1);
  CHILD_EXPECT(dlmalloc_footprint() < held - 900000);
  CHILD_EXPECT(dlmalloc_trim(0) == 0);

  // The statistics walk the heap: a block of 1000 bytes is a 1008-byte chunk.
  const std::vector<size_t> start = stats_numbers();
  void* p = dlmalloc(1000);
  const std::vector<size_t> after = stats_numbers();
  CHILD_EXPECT(start.size() == 3 && after.size() == 3);
  CHILD_EXPECT(after[0] == dlmalloc_max_footprint() && after[1] == dlmalloc_footprint());
  CHILD_EXPECT(after[2] == start[2] + 1008);
  dlfree(p);
}

void report_before_set_up() {
  const std::vector<size_t> numbers = stats_numbers();
  CHILD_EXPECT(numbers == (std::vector<size_t>{0, 0, 0}));
  CHILD_EXPECT(dlmalloc_trim(0) == 0);
}

}  // namespace

TEST(LeaMalloc, RandomTrafficOnMappedSegmentsAndTheirRelease) { EXPECT_IN_CHILD(stress_on_mapped_segments); }

TEST(LeaMalloc, TheBreakGrowsAndIsTrimmedBack) { EXPECT_IN_CHILD(grow_trim_and_count); }

TEST(LeaMalloc, StatisticsBeforeTheHeapIsSetUpAreZero) { EXPECT_IN_CHILD(report_before_set_up); }

namespace {

void map_large_requests() {
  const size_t before = dlmalloc_footprint();
  char* p = static_cast<char*>(dlmalloc(256 * 1024));
  CHILD_EXPECT(p != nullptr);
  const size_t mapped = dlmalloc_footprint() - before;
  CHILD_EXPECT(mapped >= 256u * 1024 && mapped <= 256u * 1024 + 2 * page);
  CHILD_EXPECT(dlmalloc_usable_size(p) == mapped - 32 - 16);  // foot pad and two words
  memset(p, 5, 256 * 1024);
  // Moved by the system, contents and all.
  p = static_cast<char*>(dlrealloc(p, 2 * 1024 * 1024));
  CHILD_EXPECT(p != nullptr);
  CHILD_EXPECT(std::count(p, p + 256 * 1024, 5) == 256 * 1024);
  CHILD_EXPECT(dlmalloc_footprint() >= before + 2 * 1024 * 1024);
  dlfree(p);
  CHILD_EXPECT(dlmalloc_footprint() == before);

  // A block aligned far into its mapping keeps its bytes when it shrinks.
  char* aligned = static_cast<char*>(dlmemalign(4096, 300000));
  CHILD_EXPECT(aligned_to(aligned, 4096));
  memset(aligned, 6, 300000);
  aligned = static_cast<char*>(dlrealloc(aligned, 6000));
  CHILD_EXPECT(aligned != nullptr && dlmalloc_usable_size(aligned) >= 6000);
  CHILD_EXPECT(std::count(aligned, aligned + 6000, 6) == 6000);
  dlfree(aligned);
  CHILD_EXPECT(dlmalloc_footprint() == before);

  // Mapped memory comes zeroed: calloc leaves it as it is.
  unsigned char* zeros = static_cast<unsigned char*>(dlcalloc(1000, 1000));
  CHILD_EXPECT(zeros != nullptr);
  CHILD_EXPECT(std::count(zeros, zeros + 1000000, 0) == 1000000);
  dlfree(zeros);
  CHILD_EXPECT(dlmalloc_footprint() == before);

  // Above the mmap threshold, a request goes to the heap proper.
  CHILD_EXPECT(dlmallopt(-3, 8 * 1024 * 1024) == 1);
  p = static_cast<char*>(dlmalloc(300000));
  CHILD_EXPECT(dlmalloc_usable_size(p) == 300008);  // chunk 300016, not a mapping
  dlfree(p);
}

}  // namespace

TEST(LeaMalloc, LargeRequestsAreMappedAndReturnedAtOnce) { EXPECT_IN_CHILD(map_large_requests); }

namespace {

void free_twice() {
  void* a = dlmalloc(100);
  void* b = dlmalloc(100);
  void* c = dlmalloc(100);
  dlfree(b);  // between two blocks in use: binned, marked free
  fprintf(stderr, "freeing again\n");
  dlfree(b);
  dlfree(a);
  dlfree(c);
}

// Before the heap has taken any memory, no pointer can be one of its blocks.
void free_before_set_up() {
  static char not_ours[64];
  fprintf(stderr, "freeing into an empty heap\n");
  dlfree(not_ours + 16);
}

void free_foreign_pointer() {
  void* held = dlmalloc(100);
  static char not_ours[64];
  fprintf(stderr, "freeing a foreign block\n");
  dlfree(not_ours + 16);
  dlfree(held);
}

void realloc_freed() {
  void* a = dlmalloc(50);
  void* b = dlmalloc(50);
  void* c = dlmalloc(50);
  dlfree(b);
  fprintf(stderr, "reallocating a freed block\n");
  b = dlrealloc(b, 500);
  dlfree(a);
  dlfree(c);
}

}  // namespace

TEST(LeaMalloc, ABadPointerStopsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(free_twice(), "freeing again");
  EXPECT_DEATH(free_foreign_pointer(), "freeing a foreign block");
  EXPECT_DEATH(free_before_set_up(), "freeing into an empty heap");
  EXPECT_DEATH(realloc_freed(), "reallocating a freed block");
}

TEST_F(HeapTest, TheAllocatorServesTheHeapsItIsInstalledBehind) {
  set_q4_heap_memory_enable(true);
  use_lea_allocator_for_image_allocs();
  testing::internal::CaptureStdout();
  char* pixels = static_cast<char*>(q4_image_malloc(1000, __FILE__, __LINE__));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Calling dlmalloc(1000)\n");
  ASSERT_NE(pixels, nullptr);
  EXPECT_EQ(dlmalloc_usable_size(pixels), 1000u);
  memset(pixels, 9, 1000);
  pixels = static_cast<char*>(q4_image_realloc(pixels, 5000, __FILE__, __LINE__));
  ASSERT_NE(pixels, nullptr);
  EXPECT_EQ(std::count(pixels, pixels + 1000, 9), 1000);
  EXPECT_GE(dlmalloc_usable_size(pixels), 5000u);
  const size_t before = dlmalloc_footprint();
  testing::internal::CaptureStdout();
  void* big = q4_image_malloc(400000, __FILE__, __LINE__);
  testing::internal::GetCapturedStdout();
  EXPECT_GE(dlmalloc_footprint(), before + 400000);
  q4_image_free(big, __FILE__, __LINE__);
  EXPECT_EQ(dlmalloc_footprint(), before);
  q4_image_free(pixels, __FILE__, __LINE__);

  // With tracking, the front end records what this heap hands out.
  set_q4_heap_memory_debug(true);
  const HeapCounters counted = image_counters();
  testing::internal::CaptureStdout();
  void* tracked = q4_image_malloc(64, __FILE__, __LINE__);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(dlmalloc_usable_size(tracked), 72u);
  EXPECT_EQ(image_counters().bytes_now, counted.bytes_now + 64);
  q4_image_free(tracked, __FILE__, __LINE__);
  set_q4_heap_memory_debug(false);

  end_use_lea_allocator_for_image_allocs();
  testing::internal::CaptureStdout();
  void* system_block = q4_image_malloc(1000, __FILE__, __LINE__);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  q4_image_free(system_block, __FILE__, __LINE__);

  use_lea_allocator_for_normal_allocs();
  char* text = q4_strdup("lea text", __FILE__, __LINE__);
  EXPECT_STREQ(text, "lea text");
  EXPECT_EQ(dlmalloc_usable_size(text), 24u);
  q4_free(text, __FILE__, __LINE__);
  EXPECT_EQ(use_lea_strdup(nullptr, nullptr), nullptr);
  use_lea_free(nullptr, nullptr);
  end_use_lea_allocator_for_normal_allocs();
}
