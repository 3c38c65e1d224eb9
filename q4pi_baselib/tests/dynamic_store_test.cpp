// The buddy block store: splits and merges, a shadow model, its report and
// its place behind the heap front end.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "heap_fixture.h"
#include "log_capture.h"
#include "q4_dynamic_store.h"
#include "q4_memory.h"

namespace {

struct Stats {
  int arena = 0, free = 0, used = 0, blocks = 0, error = 0;
  int counts[q4DynamicStore::orders] = {};
};

Stats stats_of(const q4DynamicStore& store) {
  Stats s;
  s.error = store.stats(s.arena, s.free, s.used, s.blocks, s.counts);
  return s;
}

// Free blocks per order, orders 5 up to k.
std::vector<int> free_counts(const Stats& s, int k) { return std::vector<int>(s.counts + 5, s.counts + k + 1); }

// The block order a request needs, worked out by doubling.
int block_order(unsigned size) {
  int order = 5;
  while ((1ull << order) < size + 16ull) ++order;
  return order;
}

// The text of each log line after its "...: " prefix.
std::vector<std::string> message_texts(const std::string& log) {
  std::vector<std::string> texts;
  std::istringstream lines(log);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t colon = line.find(": ");
    texts.push_back(colon == std::string::npos ? line : line.substr(colon + 2));
  }
  return texts;
}

std::string pointer_text(const void* p) {
  char text[32];
  snprintf(text, sizeof text, "%p", p);
  return text;
}

}  // namespace

TEST(DynamicStore, SplitsAndMergesTheBlocksOfA1024ByteArena) {
  q4DynamicStore store(10);
  Stats s = stats_of(store);
  EXPECT_EQ(s.arena, 1024);
  EXPECT_EQ(s.free, 1024);
  EXPECT_EQ(free_counts(s, 10), (std::vector<int>{0, 0, 0, 0, 0, 1}));

  // 1 byte and the header need 17: a 32-byte block, split down from 1024.
  char* one = static_cast<char*>(store.allocate(1));
  ASSERT_NE(one, nullptr);
  s = stats_of(store);
  EXPECT_EQ(free_counts(s, 10), (std::vector<int>{1, 1, 1, 1, 1, 0}));
  EXPECT_EQ(s.free, 1024 - 32);
  EXPECT_EQ(s.used, 1);
  EXPECT_EQ(s.blocks, 6);
  // Its buddy is the next block handed out.
  char* two = static_cast<char*>(store.allocate(16));
  EXPECT_EQ(two, one + 32);
  EXPECT_EQ(store.release(two), 0);
  EXPECT_EQ(store.release(one), 0);
  s = stats_of(store);
  EXPECT_EQ(free_counts(s, 10), (std::vector<int>{0, 0, 0, 0, 0, 1}));
  EXPECT_EQ(s.free, 1024);
  EXPECT_EQ(s.used, 0);
  EXPECT_EQ(s.blocks, 1);

  void* whole = store.allocate(1008);  // exactly 1024 with the header
  ASSERT_NE(whole, nullptr);
  EXPECT_EQ(store.allocate(1), nullptr);
  EXPECT_EQ(store.release(whole), 0);
  EXPECT_EQ(store.allocate(1009), nullptr);
  EXPECT_EQ(store.allocate(0), nullptr);
  EXPECT_EQ(store.release(nullptr), 1);
  // Near 4 GiB the size and header still add up to more than the arena.
  EXPECT_EQ(store.allocate(UINT_MAX), nullptr);
  EXPECT_EQ(store.allocate(UINT_MAX - 15), nullptr);

  // A pointer the store never handed out, or hands back twice, is refused.
  char* block = static_cast<char*>(store.allocate(40));
  int outside = 0;
  EXPECT_EQ(store.release(&outside), 1);
  EXPECT_EQ(store.release(block + 8), 1);
  EXPECT_EQ(store.release(block), 0);
  EXPECT_EQ(store.release(block), 1);
  EXPECT_EQ(stats_of(store).free, 1024);
  // An upper buddy merged into the lower one leaves its header behind.
  char* lower = static_cast<char*>(store.allocate(16));
  char* upper = static_cast<char*>(store.allocate(16));
  ASSERT_EQ(upper, lower + 32);
  EXPECT_EQ(store.release(lower), 0);
  EXPECT_EQ(store.release(upper), 0);
  EXPECT_EQ(store.release(upper), 1);
  EXPECT_EQ(stats_of(store).free, 1024);
  EXPECT_EQ(stats_of(store).blocks, 1);
  EXPECT_EQ(store.check(block), 1);
  EXPECT_EQ(store.check(&outside), 0);
  EXPECT_EQ(store.check(nullptr), 0);

  EXPECT_EQ(stats_of(q4DynamicStore(3)).arena, 32);
  EXPECT_EQ(stats_of(q4DynamicStore(40)).arena, 1 << 30);
}

TEST(DynamicStore, ResizeMovesAndCopiesOnlyWhatFits) {
  q4DynamicStore store(13);
  char* old_block = static_cast<char*>(store.allocate(200));
  memset(old_block, 'P', 200);
  // A freed 32-byte block keeps its bytes past the header; the resized block
  // lands there, so the bytes past the copy show what was not written.
  char* spare = static_cast<char*>(store.allocate(16));
  memset(spare, 'Q', 16);
  ASSERT_EQ(store.release(spare), 0);
  char* moved = static_cast<char*>(store.resize_block(old_block, 10));
  ASSERT_EQ(moved, spare);
  EXPECT_EQ(std::string(moved, 16), std::string(10, 'P') + std::string(6, 'Q'));

  char* grown = static_cast<char*>(store.resize_block(moved, 3000));
  ASSERT_NE(grown, nullptr);
  EXPECT_EQ(std::string(grown, 10), std::string(10, 'P'));
  EXPECT_EQ(store.resize_block(grown, 5000), nullptr);  // no room: the old block stays
  EXPECT_EQ(std::string(grown, 10), std::string(10, 'P'));
  EXPECT_EQ(store.resize_block(grown, UINT_MAX - 8), nullptr);
  char* fresh = static_cast<char*>(store.resize_block(nullptr, 24));
  ASSERT_NE(fresh, nullptr);
  char* copy = store.duplicate_null_terminated_string("text");
  EXPECT_STREQ(copy, "text");
  EXPECT_EQ(store.duplicate_null_terminated_string(nullptr), nullptr);
  for (void* p : {static_cast<void*>(grown), static_cast<void*>(fresh), static_cast<void*>(copy)})
    EXPECT_EQ(store.release(p), 0);
  EXPECT_EQ(stats_of(store).free, 1 << 13);
}

TEST(DynamicStore, RandomTrafficAgreesWithAShadowModel) {
  const int k = 16;
  q4DynamicStore store(k);
  struct Block {
    unsigned size;
    unsigned char fill;
  };
  std::map<char*, Block> live;
  std::mt19937 random(1234);
  auto fill_of = [](char* p, unsigned size, unsigned char fill) { memset(p, fill, size); };
  auto intact = [](char* p, const Block& b) {
    for (unsigned i = 0; i < b.size; ++i)
      if (static_cast<unsigned char>(p[i]) != b.fill) return false;
    return true;
  };
  auto verify = [&](int step) {
    const Stats s = stats_of(store);
    long long block_bytes = 0, requested = 0, listed_free = 0;
    char* end_of_previous = nullptr;
    for (const auto& [p, b] : live) {
      char* start = p - 16;
      ASSERT_GE(start, end_of_previous) << "overlap at step " << step;
      end_of_previous = start + (1ll << block_order(b.size));
      block_bytes += 1ll << block_order(b.size);
      requested += b.size;
    }
    for (int i = 0; i <= k; ++i) listed_free += static_cast<long long>(s.counts[i]) << i;
    ASSERT_EQ(s.free + block_bytes, 1 << k) << step;
    ASSERT_EQ(listed_free, s.free) << step;
    ASSERT_EQ(s.used, requested) << step;
  };
  for (int step = 0; step < 20000; ++step) {
    const int action = static_cast<int>(random() % 10);
    const unsigned size = 1 + random() % (random() % 8 == 0 ? 8000 : 300);
    const unsigned char fill = static_cast<unsigned char>(random());
    if (action < 5 || live.empty()) {
      char* p = static_cast<char*>(store.allocate(size));
      if (p) {
        fill_of(p, size, fill);
        live[p] = Block{size, fill};
      }
    } else {
      auto it = live.begin();
      std::advance(it, random() % live.size());
      char* p = it->first;
      const Block b = it->second;
      ASSERT_TRUE(intact(p, b)) << step;
      if (action < 8) {
        ASSERT_EQ(store.release(p), 0);
        live.erase(it);
      } else {
        char* q = static_cast<char*>(store.resize_block(p, size));
        if (q) {
          live.erase(it);
          for (unsigned i = 0; i < std::min(size, b.size); ++i) ASSERT_EQ(static_cast<unsigned char>(q[i]), b.fill);
          fill_of(q, size, fill);
          live[q] = Block{size, fill};
        } else {
          ASSERT_TRUE(intact(p, b));
        }
      }
    }
    if (step % 97 == 0) verify(step);
  }
  verify(-1);
  for (const auto& [p, b] : live) {
    ASSERT_TRUE(intact(p, b));
    ASSERT_EQ(store.release(p), 0);
  }
  const Stats s = stats_of(store);
  EXPECT_EQ(s.free, 1 << k);
  EXPECT_EQ(s.blocks, 1);
  EXPECT_EQ(s.counts[k], 1);
  EXPECT_EQ(std::count(s.counts, s.counts + q4DynamicStore::orders, 0), q4DynamicStore::orders - 1);
}

TEST(DynamicStore, ReportsItsCurrentAndHistoricalData) {
  q4DynamicStore store(10);
  char* one = static_cast<char*>(store.allocate(1));
  char* hundred = static_cast<char*>(store.allocate(100));
  ASSERT_NE(hundred, nullptr);
  ASSERT_EQ(store.release(one), 0);  // merges back to a free 128 at the start

  LogCapture capture;
  store.output_allocator_stats();
  const std::vector<std::string> expected = {
      "Q4-DYNAMIC-STORE ALLOCATOR REPORT",
      " Allocator Object Address: " + pointer_text(&store),
      " Allocator Internal Error: 0",
      " Arena size: 1024 bytes",
      "",  // the raw block's address, checked below
      " Arena aligned base: " + pointer_text(one - 16),
      "CURRENT DATA",
      " Free arena: 896 bytes",
      " Allocated bytes: 128",
      " Bytes available to user: 100",
      " Blocks in arena: 4",
      " Space efficiency: 78.1 %",  // 100 / 128
      "HISTORICAL DATA",
      " Number of allocations: 2",
      " Maximum blocks in arena: 6",
      " Minimum size of available block: 512",  // the 1024 list emptied once
      " Maximum request size: 100",
      " Minimum request size: 1",
      " Minimum free space: 864",
      " Maximum user bytes available: 101",
      " Maximum space efficiency: 63.1 %",  // 101 / (1024 - 864)
      " Average space efficiency: 33.1 %",  // (1 / 32 + 101 / 160) / 2
      "FREE BLOCK SIZE DISTRIBUTION",
      "   [bs:32,nb:0] [bs:64,nb:0] [bs:128,nb:1] ",
      "   [bs:256,nb:1] [bs:512,nb:1] [bs:1024,nb:0] ",
      "END OF Q4-DYNAMIC-STORE REPORT",
  };
  std::vector<std::string> texts = message_texts(capture.text());
  ASSERT_EQ(texts.size(), expected.size()) << capture.text();
  EXPECT_EQ(texts[4].rfind(" Arena base: 0x", 0), 0u) << texts[4];
  texts[4].clear();
  EXPECT_EQ(texts, expected);
  EXPECT_NE(capture.text().find(" INFO : Q4-DYNAMIC-STORE ALLOCATOR REPORT"), std::string::npos);

  // Before any allocation every efficiency is whole.
  q4DynamicStore fresh(5);
  LogCapture fresh_capture;
  fresh.output_allocator_stats();
  texts = message_texts(fresh_capture.text());
  for (const char* line : {" Space efficiency: 100.0 %", " Maximum space efficiency: 0.0 %",
                           " Average space efficiency: 100.0 %", " Maximum request size: -1", "   [bs:32,nb:1] "})
    EXPECT_NE(std::find(texts.begin(), texts.end(), line), texts.end()) << line;

  LogCapture wanted_capture;
  fresh.set_max_wanted(8);
  EXPECT_NE(fresh.allocate(9), nullptr);
  EXPECT_EQ(message_texts(wanted_capture.text()),
            std::vector<std::string>{"Q4-DYNAMIC-STORE allocate(9) > max_wanted (8)"});
}

TEST(DynamicStore, DumpsABlockHeader) {
  q4DynamicStore store(8);
  char* p = static_cast<char*>(store.allocate(50));
  testing::internal::CaptureStderr();
  store.dumpbc("used", reinterpret_cast<tagQ4DSA_block_control*>(p - 16));
  const std::string text = testing::internal::GetCapturedStderr();
  EXPECT_EQ(text, "------( used @ " + pointer_text(p - 16) + " )------\n linkf = (nil)\n linkb = (nil)\n kval = 7 (size: 128)\n tag = 0\n------------\n");
  // The free 128-byte buddy is the only block of its list: both links lead
  // to the list's head, outside the arena.
  testing::internal::CaptureStderr();
  store.dumpbc("free", reinterpret_cast<tagQ4DSA_block_control*>(p - 16 + 128));
  const std::string free_text = testing::internal::GetCapturedStderr();
  EXPECT_NE(free_text.find(" kval = 7 (size: 128)\n tag = 1\n"), std::string::npos) << free_text;
  EXPECT_EQ(free_text.find("(nil)"), std::string::npos) << free_text;
}

#if !defined(__SANITIZE_ADDRESS__)
namespace {

// Runs in a child process whose address space is too small for the arena.
void refuse_without_arena() {
  const rlimit limit = {256u << 20, 256u << 20};
  setrlimit(RLIMIT_AS, &limit);
  q4DynamicStore store(30);
  int arena, free, used, blocks;
  char data[4];
  const bool refused = store.stats(arena, free, used, blocks, nullptr) == 1 && !store.allocate(1) &&
                       store.release(data) == 1 && !store.resize_block(nullptr, 1) &&
                       !store.duplicate_null_terminated_string("x") && store.check(data) == 0;
  store.dumpbc("none", nullptr);
  _exit(refused ? 0 : 1);
}

}  // namespace
#endif

TEST(DynamicStore, WithoutAnArenaEveryOperationRefuses) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(refuse_without_arena(), testing::ExitedWithCode(0), "------\\( Error = 1 \\)------");
#endif
}

TEST_F(HeapTest, TheStoreServesEachHeapUntilItsInstallationEnds) {
  q4DynamicStore store(16);
  set_q4_heap_memory_enable(true);
  use_q4DynamicStore_for_normal_allocs(&store);
  char* text = q4_strdup("stored", __FILE__, __LINE__);
  char* block = static_cast<char*>(q4_malloc(100, __FILE__, __LINE__));
  EXPECT_EQ(store.check(text), 1);
  EXPECT_EQ(store.check(block), 1);
  memcpy(block, "0123456789", 10);
  block = static_cast<char*>(q4_realloc(block, 5000, __FILE__, __LINE__));
  EXPECT_EQ(store.check(block), 1);
  EXPECT_EQ(std::string(block, 10), "0123456789");
  unsigned char* zeros = static_cast<unsigned char*>(q4_calloc(10, 10, __FILE__, __LINE__));
  EXPECT_EQ(store.check(zeros), 1);
  EXPECT_EQ(std::count(zeros, zeros + 100, 0), 100);
  EXPECT_EQ(stats_of(store).used, 7 + 5000 + 100);
  EXPECT_EQ(q4_realloc(block, 0xFFFFFFF8u, __FILE__, __LINE__), nullptr);
  for (void* p : {static_cast<void*>(text), static_cast<void*>(block), static_cast<void*>(zeros)})
    q4_free(p, __FILE__, __LINE__);
  EXPECT_EQ(stats_of(store).free, 1 << 16);

  // Tracking still works on top of the store.
  set_q4_heap_memory_debug(true);
  const HeapCounters before = normal_counters();
  void* tracked = q4_malloc(64, __FILE__, __LINE__);
  EXPECT_EQ(store.check(tracked), 1);
  EXPECT_EQ(normal_counters().bytes_now, before.bytes_now + 64);
  q4_free(tracked, __FILE__, __LINE__);
  set_q4_heap_memory_debug(false);

  end_use_q4DynamicStore_for_normal_allocs();
  void* system_block = q4_malloc(100, __FILE__, __LINE__);
  EXPECT_EQ(store.check(system_block), 0);
  q4_free(system_block, __FILE__, __LINE__);

  use_q4DynamicStore_for_image_allocs(&store);
  char* pixels = static_cast<char*>(q4_image_malloc(300, __FILE__, __LINE__));
  EXPECT_EQ(store.check(pixels), 1);
  memset(pixels, 7, 300);
  pixels = static_cast<char*>(q4_image_realloc(pixels, 20, __FILE__, __LINE__));
  EXPECT_EQ(store.check(pixels), 1);
  EXPECT_EQ(std::count(pixels, pixels + 20, 7), 20);
  void* normal = q4_malloc(100, __FILE__, __LINE__);  // the normal heap is its own
  EXPECT_EQ(store.check(normal), 0);
  q4_free(normal, __FILE__, __LINE__);
  q4_image_free(pixels, __FILE__, __LINE__);
  EXPECT_EQ(stats_of(store).free, 1 << 16);
  end_use_q4DynamicStore_for_image_allocs();
  void* image_block = q4_image_malloc(100, __FILE__, __LINE__);
  EXPECT_EQ(store.check(image_block), 0);
  q4_image_free(image_block, __FILE__, __LINE__);

  use_q4DynamicStore_for_normal_allocs(nullptr);  // nothing installed
  void* plain = q4_malloc(10, __FILE__, __LINE__);
  EXPECT_NE(plain, nullptr);
  q4_free(plain, __FILE__, __LINE__);
}
