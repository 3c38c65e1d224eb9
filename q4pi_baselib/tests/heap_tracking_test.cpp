// The heap front end with tracking on: tags, counters, refusals, reports.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "heap_fixture.h"
#include "log_capture.h"
#include "q4_heap_table.h"
#include "q4_memory.h"

namespace {

std::string format_pointer(const char* format, const void* p) {
  char text[256];
  snprintf(text, sizeof text, format, p, p);
  return text;
}

// Hands out chosen addresses inside an arena, so that tests can place
// blocks into one hash bucket; releases nothing.
struct ArenaAllocator {
  alignas(64) unsigned char arena[1 << 20];
  std::vector<unsigned> offsets;
  size_t next = 0;
  int releases = 0;
};

void* arena_allocate(void* context, unsigned) {
  ArenaAllocator* a = static_cast<ArenaAllocator*>(context);
  return a->next < a->offsets.size() ? a->arena + a->offsets[a->next++] : nullptr;
}
void* arena_reallocate(void*, void*, unsigned) { return nullptr; }
char* arena_duplicate(void*, const char*) { return nullptr; }
void arena_release(void* context, void*) { ++static_cast<ArenaAllocator*>(context)->releases; }

// Puts two arena addresses, from first on, into one hash bucket. A chosen
// address may share its bucket with no other one nearby, so the pair is the
// first repeat among consecutive addresses: there is one among any
// Q4HM_BUCKETS + 1 of them, well inside the arena wherever it lies.
unsigned share_a_bucket(ArenaAllocator* arena, unsigned first) {
  std::vector<unsigned> offset_of(Q4HM_BUCKETS, 0);
  for (unsigned offset = first;; offset += 8) {
    const unsigned bucket = q4hm_hash(arena->arena + offset);
    if (offset_of[bucket] != 0) {
      arena->offsets = {offset_of[bucket], offset};
      return bucket;
    }
    offset_of[bucket] = offset;
  }
}

// Running the system heap dry needs the plain system allocator.
#if !defined(__SANITIZE_ADDRESS__)
// Touches stack pages now, so that later calls need no new ones.
__attribute__((noinline)) void grow_stack() {
  volatile char pad[512 * 1024];
  for (size_t i = 0; i < sizeof pad; i += 1024) pad[i] = 1;
}

// The process's address-space size in bytes, read without the heap.
unsigned long long address_space_bytes() {
  const int fd = open("/proc/self/statm", O_RDONLY);
  if (fd < 0) return 0;
  char text[128] = "";
  const ssize_t got = read(fd, text, sizeof text - 1);
  close(fd);
  if (got <= 0) return 0;
  return strtoull(text, nullptr, 10) * static_cast<unsigned long long>(sysconf(_SC_PAGESIZE));
}

// Caps the address space near its present size and takes every block the
// system heap still has, down to the size of one tracking record. The
// blocks hold their own chain and are never released: only a child that
// ends right after calls this.
bool exhaust_system_heap() {
  grow_stack();
  const unsigned long long now = address_space_bytes();
  if (now == 0) return false;
  const rlimit cap = {now + (4u << 20), now + (4u << 20)};
  if (setrlimit(RLIMIT_AS, &cap) != 0) return false;
  void* chain = nullptr;
  for (size_t size : {size_t{1} << 20, size_t{1} << 16, size_t{1} << 12, sizeof(tagQ4HM_NODE)}) {
    while (void* block = malloc(size)) {
      *static_cast<void**>(block) = chain;
      chain = block;
    }
  }
  return chain != nullptr;
}
#endif

}  // namespace

TEST(HeapHash, MatchesReferenceValues) {
  // Reference values from an independent implementation of the hash over
  // the eight bytes of a pointer.
  EXPECT_EQ(q4hm_hash(reinterpret_cast<void*>(uintptr_t{0})), 0u);
  EXPECT_EQ(q4hm_hash(reinterpret_cast<void*>(uintptr_t{1})), 13201u);
  EXPECT_EQ(q4hm_hash(reinterpret_cast<void*>(uintptr_t{0x12345678})), 14983u);
  EXPECT_EQ(q4hm_hash(reinterpret_cast<void*>(uintptr_t{0x7f0000001000})), 3612u);
  EXPECT_EQ(q4hm_hash(reinterpret_cast<void*>(uintptr_t{0x55d0c0ffee10})), 828u);
}

TEST_F(HeapTest, TrackedBlocksAreCountedPerHeap) {
  track();
  const HeapCounters normal0 = normal_counters(), image0 = image_counters();
  void* a = q4_malloc(100, "a.cpp", 1);
  char* s = q4_strdup("hello", "b.cpp", 2);  // recorded with size 6
  void* p = q4_image_malloc(1000, "c.cpp", 3);
  HeapCounters normal1 = normal_counters(), image1 = image_counters();
  EXPECT_EQ(normal1.allocation_calls - normal0.allocation_calls, 2);
  EXPECT_EQ(normal1.bytes_now - normal0.bytes_now, 106u);
  EXPECT_GE(normal1.peak_bytes, normal1.bytes_now);
  EXPECT_EQ(image1.allocation_calls - image0.allocation_calls, 1);
  EXPECT_EQ(image1.bytes_now - image0.bytes_now, 1000u);

  // A successful reallocation is one free and one allocation.
  a = q4_realloc(a, 300, "a.cpp", 4);
  ASSERT_NE(a, nullptr);
  normal1 = normal_counters();
  EXPECT_EQ(normal1.allocation_calls - normal0.allocation_calls, 3);
  EXPECT_EQ(normal1.free_calls - normal0.free_calls, 1);
  EXPECT_EQ(normal1.bytes_now - normal0.bytes_now, 306u);

  q4_free(a, "a.cpp", 5);
  q4_free(s, "b.cpp", 6);
  q4_image_free(p, "c.cpp", 7);
  const HeapCounters normal2 = normal_counters(), image2 = image_counters();
  EXPECT_EQ(normal2.bytes_now, normal0.bytes_now);
  EXPECT_EQ(normal2.free_calls - normal0.free_calls, 3);
  EXPECT_EQ(image2.bytes_now, image0.bytes_now);
  EXPECT_EQ(image2.free_calls - image0.free_calls, 1);
  EXPECT_EQ(normal2.error, 0);
}

TEST_F(HeapTest, RefusalsWriteTheirMessagesAndReleaseNothing) {
  track();
  LogCapture log;
  EXPECT_EQ(q4_malloc(0, "z.cpp", 11), nullptr);
  EXPECT_EQ(q4_image_malloc(0, "z.cpp", 12), nullptr);
  q4_free(nullptr, "z.cpp", 13);
  q4_image_free(nullptr, "z.cpp", 14);
  void* kept = q4_malloc(10, "z.cpp", 15);
  EXPECT_EQ(q4_realloc(kept, 0, "z.cpp", 16), nullptr);
  EXPECT_EQ(q4_image_realloc(nullptr, 10, "z.cpp", 17), nullptr);
  const std::string text = log.text();
  for (const char* expected :
       {"ERROR: Q4-HM-DEBUG: q4_malloc( size=0 ) attempted! [z.cpp(11)]\n",
        "ERROR: Q4-HM-DEBUG: q4_image_malloc( size=0 ) attempted! [z.cpp(12)]\n",
        "ERROR: Q4-HM-DEBUG: q4_free( NULL ) attempted! [z.cpp(13)]\n",
        "ERROR: Q4-HM-DEBUG: q4_image_free( NULL ) attempted! [z.cpp(14)]\n",
        "ERROR: Q4-HM-DEBUG: q4_realloc( size=0 ) attempted! [z.cpp(16)]\n",
        "ERROR: Q4-HM-DEBUG: q4_image_realloc((nil),10) attempted - but (nil) is not allocated! [z.cpp(17)]\n"})
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;

  // The block survived its refused reallocation and is freed once.
  const HeapCounters before = normal_counters();
  q4_free(kept, "z.cpp", 18);
  EXPECT_EQ(normal_counters().free_calls - before.free_calls, 1);

  // Freeing twice, or on the wrong heap, finds nothing to free.
  q4_free(kept, "z.cpp", 19);
  void* normal_block = q4_malloc(10, "z.cpp", 20);
  q4_image_free(normal_block, "z.cpp", 21);
  const std::string after = log.text();
  EXPECT_NE(after.find(format_pointer("q4_free(%p) attempted - but %p is not allocated! [z.cpp(19)]", kept)),
            std::string::npos);
  EXPECT_NE(after.find(format_pointer("q4_image_free(%p) attempted - but %p is not allocated! [z.cpp(21)]",
                                      normal_block)),
            std::string::npos);
  int never_allocated = 0;
  char realloc_message[256];
  snprintf(realloc_message, sizeof realloc_message,
           "q4_realloc(%p,20) attempted - but %p is not allocated!  [z.cpp(22)]",
           static_cast<void*>(&never_allocated), static_cast<void*>(&never_allocated));
  EXPECT_EQ(q4_realloc(&never_allocated, 20, "z.cpp", 22), nullptr);
  EXPECT_TRUE(log.contains(realloc_message)) << log.text();
  q4_free(normal_block, "z.cpp", 23);  // still on its own heap
  EXPECT_EQ(normal_counters().bytes_now, before.bytes_now - 10);
}

TEST_F(HeapTest, UntrackedBlocksAreLeftAloneWhileDebugIsOn) {
  void* plain = q4_malloc(10, __FILE__, __LINE__);
  track();
  LogCapture log;
  q4_free(plain, "late.cpp", 1);
  EXPECT_TRUE(log.contains(format_pointer("q4_free(%p) attempted - but %p is not allocated!", plain)));
  set_q4_heap_memory_debug(false);
  q4_free(plain, __FILE__, __LINE__);  // released now; a leak checker sees it otherwise
}

TEST_F(HeapTest, NullReallocationAllocatesOnTheNormalHeap) {
  track();
  const HeapCounters before = normal_counters();
  void* block = q4_realloc(nullptr, 40, "n.cpp", 1);
  ASSERT_NE(block, nullptr);
  const HeapCounters after = normal_counters();
  EXPECT_EQ(after.allocation_calls - before.allocation_calls, 1);
  EXPECT_EQ(after.free_calls, before.free_calls);
  EXPECT_EQ(after.bytes_now - before.bytes_now, 40u);
  q4_free(block, "n.cpp", 2);
}

TEST_F(HeapTest, TraceLinesFollowTheirRules) {
  track();
  set_q4_heap_memory_trace(true);
  LogCapture log;
  void* quiet = q4_malloc(5, "t.cpp", 0);
  quiet = q4_realloc(quiet, 6, "t.cpp", 0);
  void* image = q4_image_malloc(7, "t.cpp", 0);
  void* loud = q4_malloc(8, "t.cpp", 30);
  std::string text = log.text();
  EXPECT_EQ(text.find("q4_malloc(5)"), std::string::npos);
  EXPECT_EQ(text.find("q4_realloc("), std::string::npos);
  EXPECT_NE(text.find(format_pointer("INFO : Q4-HM-TRACE: q4_image_malloc(7) ret (%p) at [t.cpp(0)]\n", image)),
            std::string::npos);
  EXPECT_NE(text.find(format_pointer("INFO : Q4-HM-TRACE: q4_malloc(8) ret (%p) at [t.cpp(30)]\n", loud)),
            std::string::npos);

  q4_free(loud, "t.cpp", 31);
  text = log.text();
  EXPECT_NE(text.find(format_pointer("INFO : Q4-HM-TRACE: q4_free(%p) at [t.cpp(31)].\n", loud)),
            std::string::npos);
  EXPECT_NE(text.find(": " "            Alloc at [t.cpp(30)], size 8\n"), std::string::npos) << text;
  q4_free(quiet, "t.cpp", 32);
  q4_image_free(image, "t.cpp", 33);

  const char* source = "copied";
  char* copy = q4_strdup(source, "t.cpp", 40);
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "copied");
  char strdup_line[256];
  snprintf(strdup_line, sizeof strdup_line, "INFO : Q4-HM-TRACE: q4_strdup(%p) ret (%p) at [t.cpp(40)]\n",
           static_cast<const void*>(source), static_cast<void*>(copy));
  EXPECT_TRUE(log.contains(strdup_line)) << strdup_line << "\n" << log.text();
  q4_free(copy, "t.cpp", 41);
}

TEST_F(HeapTest, LongSourcePathsKeepTheirLast47Characters) {
  track();
  const std::string path = "/a/very/long/source/tree/path/that/goes/on/x60.cpp";
  const std::string long_path = std::string(60 - path.size(), 'd') + path;
  ASSERT_EQ(long_path.size(), 60u);
  void* block = q4_malloc(3, long_path.c_str(), 77);
  char file[Q4HM_FILE_SIZE];
  unsigned size = 0;
  int line = 0;
  ASSERT_TRUE(q4hm_lookup(q4hm_normal_table(), block, &size, file, &line));
  EXPECT_EQ(std::string(file), long_path.substr(13));
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(line, 77);
  q4_free(block, __FILE__, __LINE__);
}

TEST_F(HeapTest, BucketChainsKeepNewestFirst) {
  // Two arena addresses in one bucket.
  ArenaAllocator* arena = new ArenaAllocator();
  const unsigned bucket = share_a_bucket(arena, 64);
  const unsigned first = arena->offsets[0], second = arena->offsets[1];
  ASSERT_LT(second, sizeof arena->arena);
  set_q4_heap_normal_memory_overrides(arena, arena_allocate, arena_reallocate, arena_duplicate,
                                      arena_release);
  track();
  const HeapCounters before = normal_counters();
  const int collisions = q4hm_normal_table()->collisions;
  void* older = q4_malloc(11, "older.cpp", 1);
  void* newer = q4_malloc(22, "newer.cpp", 2);
  ASSERT_EQ(older, arena->arena + first);
  ASSERT_EQ(newer, arena->arena + second);
  const tagQ4HM_NODE& head = q4hm_normal_table()->buckets[bucket];
  EXPECT_EQ(head.block, newer);
  ASSERT_NE(head.next, nullptr);
  EXPECT_EQ(head.next->block, older);
  EXPECT_EQ(q4hm_normal_table()->collisions, collisions + 1);

  {
    LogCapture log;
    output_q4_heap_normal_memory_report(true);
    const std::string text = log.text();
    const size_t newer_line = text.find(std::string(48 - 9, ' ') + "newer.cpp      2\n");
    const size_t older_line = text.find(std::string(48 - 9, ' ') + "older.cpp      1\n");
    ASSERT_NE(newer_line, std::string::npos) << text;
    ASSERT_NE(older_line, std::string::npos) << text;
    EXPECT_LT(newer_line, older_line);
    EXPECT_NE(text.find(format_pointer("%p, 22 ", newer)), std::string::npos);
    const HeapCounters now = normal_counters();
    const std::string blocks = "(Q4 LIB)                  : Blocks currently allocated: " +
                               std::to_string(now.allocation_calls - now.free_calls) + "\n";
    EXPECT_NE(text.find(blocks), std::string::npos) << text;
    const std::string collision_line = "(Q4 LIB)                  : Hash table collisions: " +
                                       std::to_string(collisions + 1) + "\n";
    EXPECT_NE(text.find(collision_line), std::string::npos) << text;
    EXPECT_NE(text.find("INFO : NORMAL MEMORY ALLOCATOR REPORT\n"), std::string::npos);
    EXPECT_NE(text.find("INFO : DUMP OF CURRENTLY ALLOCATED BLOCKS\n"), std::string::npos);
    EXPECT_NE(text.find(": END OF ALLOCATION REPORT\n"), std::string::npos);
  }

  // Freeing the head promotes the older block.
  q4_free(newer, "f.cpp", 3);
  EXPECT_EQ(head.block, older);
  EXPECT_EQ(head.size, 11u);
  EXPECT_EQ(head.next, nullptr);
  q4_free(older, "f.cpp", 4);
  EXPECT_EQ(head.block, nullptr);
  EXPECT_EQ(arena->releases, 2);
  EXPECT_EQ(normal_counters().bytes_now, before.bytes_now);
  delete arena;
}

TEST_F(HeapTest, ImageReportListsCountersAndBlocksAsMessages) {
  track();
  void* block = q4_image_malloc(4321, "pixels.cpp", 99);
  const HeapCounters now = image_counters();
  LogCapture log;
  output_q4_heap_image_memory_report(true);
  const std::string text = log.text();
  const std::string cont = "(Q4 LIB)                  : ";
  for (const std::string& expected :
       {std::string("INFO : IMAGE MEMORY ALLOCATOR REPORT\n"),
        cont + "Total allocation calls: " + std::to_string(now.allocation_calls) + "\n",
        cont + "Total free calls: " + std::to_string(now.free_calls) + "\n",
        cont + "Total size now allocated: " + std::to_string(now.bytes_now) + "\n",
        cont + "Peak size allocated: " + std::to_string(now.peak_bytes) + "\n",
        cont + "Internal error state: 0\n", cont + "Elapsed time in allocator: ",
        format_pointer(": %p, 4321 ", block) + std::string(48 - 10, ' ') + "pixels.cpp     99\n",
        cont + "END OF ALLOCATION REPORT\n"})
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
  // Image dump lines are timed messages of their own.
  const size_t dump_line = text.find(format_pointer(": %p, 4321 ", block));
  ASSERT_NE(dump_line, std::string::npos);
  const size_t line_start = text.rfind('\n', dump_line) + 1;
  EXPECT_NE(text.substr(line_start, dump_line - line_start).find(" INFO :"), std::string::npos);
  // Without dump the report stops after the elapsed time.
  LogCapture short_log;
  output_q4_heap_image_memory_report(false);
  EXPECT_EQ(short_log.text().find("DUMP"), std::string::npos);
  EXPECT_TRUE(short_log.contains("Elapsed time in allocator: "));
  q4_image_free(block, __FILE__, __LINE__);
}

TEST_F(HeapTest, CleanupReleasesChainsAndTrackingGoesOn) {
  ArenaAllocator* arena = new ArenaAllocator();
  const unsigned bucket = share_a_bucket(arena, 128);
  ASSERT_LT(arena->offsets[1], sizeof arena->arena);
  set_q4_heap_image_memory_overrides(arena, arena_allocate, arena_reallocate, arena_release);
  track();
  void* older = q4_image_malloc(1, "c.cpp", 1);
  void* newer = q4_image_malloc(2, "c.cpp", 2);
  q4_heap_image_memory_cleanup();
  const tagQ4HM_NODE& head = q4hm_image_table()->buckets[bucket];
  EXPECT_EQ(head.block, newer);
  EXPECT_EQ(head.next, nullptr);
  LogCapture log;
  q4_image_free(older, "c.cpp", 3);  // its record went with the chain
  EXPECT_TRUE(log.contains("is not allocated!"));
  EXPECT_EQ(arena->releases, 0);
  q4_image_free(newer, "c.cpp", 4);
  EXPECT_EQ(arena->releases, 1);
  delete arena;
}

TEST_F(HeapTest, AFullSystemHeapMarksTheTableAndSaysSo) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's allocator maps inside space it has reserved, out of reach of "
                  "an address-space limit";
#else
  // A bucket's second block needs a tracking record from the system heap.
  ArenaAllocator* arena = new ArenaAllocator();
  share_a_bucket(arena, 256);
  ASSERT_LT(arena->offsets[1], sizeof arena->arena);
  set_q4_heap_normal_memory_overrides(arena, arena_allocate, arena_reallocate, arena_duplicate,
                                      arena_release);
  track();
  LogCapture log;
  // The stream's buffer and the time zone are set up while memory lasts.
  q4_notify(Q4_LOG_INFO, "before\n");
  ASSERT_EQ(normal_counters().error, 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (!exhaust_system_heap()) _exit(2);
    if (malloc(sizeof(tagQ4HM_NODE))) _exit(3);
    void* older = q4_malloc(11, "full.cpp", 1);
    void* newer = q4_malloc(22, "full.cpp", 2);  // served, but left untracked
    if (older != arena->arena + arena->offsets[0] || newer != arena->arena + arena->offsets[1]) _exit(4);
    _exit(normal_counters().error == 1 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0)
      << "1: no internal error, 2: memory could not be used up, 3: memory was left, 4: wrong blocks";
  EXPECT_TRUE(log.contains("ERROR: Q4-HM-DEBUG: INTERNAL ERROR: Cannot allocate space for info node.\n"))
      << log.text();
  EXPECT_EQ(normal_counters().error, 0);  // the child's table was its own
  delete arena;
#endif
}
