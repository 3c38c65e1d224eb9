#include "row_chunks.h"

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "thread_band_executor.h"

namespace {

// Counts how often each row is done, and checks each chunk's shape.
struct RowTally {
  RowChunks chunks;
  int rows = 0;
  int chunk_rows = 1;
  std::unique_ptr<std::atomic<int>[]> done;
  std::atomic<int> bad_chunks{0};
  std::vector<int> order;  // rows in the order done, for one-thread runs
  bool record_order = false;

  void start(int row_count, int rows_a_chunk) {
    rows = row_count;
    chunk_rows = rows_a_chunk;
    done.reset(new std::atomic<int>[row_count > 0 ? row_count : 1]);
    for (int y = 0; y < (row_count > 0 ? row_count : 1); ++y) done[y] = 0;
    bad_chunks = 0;
    order.clear();
    chunks.reset(row_count, rows_a_chunk);
  }

  static void band(void* object, int, int) {
    RowTally* self = static_cast<RowTally*>(object);
    const int size = self->chunk_rows > 0 ? self->chunk_rows : 1;
    int first = 0, last = -1;
    while (self->chunks.claim(first, last)) {
      // A chunk starts on a multiple of its size and is whole, but for the
      // rows left at the end.
      const int want_last = first + size - 1 < self->rows ? first + size - 1 : self->rows - 1;
      if (first < 0 || first % size != 0 || last != want_last) self->bad_chunks++;
      for (int y = first; y <= last && y >= 0 && y < self->rows; ++y) {
        self->done[y]++;
        if (self->record_order) self->order.push_back(y);
      }
    }
  }

  // Every row done exactly once.
  bool each_once() const {
    for (int y = 0; y < rows; ++y)
      if (done[y] != 1) return false;
    return true;
  }
};

// Bands one after another on the calling thread, as an executor without
// threads runs them.
struct OneThreadBands {
  int bands;
  static void exec(void* context, mp_worker_fn worker, int count, void* object) {
    const int bands = static_cast<OneThreadBands*>(context)->bands;
    for (int k = 0; k < bands; ++k) {
      long first, last;
      q4_band(k, count, bands, ShortSplit::to_last, first, last);
      worker(object, static_cast<int>(first), static_cast<int>(last));
    }
  }
};

// The one claim: the indices of the last reset's range in order, each once,
// however many threads ask; a refusal leaves the index alone and the claims
// refused until the next reset.
TEST(Claims, EachIndexOnceInOrderFromTheLastResetsRange) {
  const struct {
    int begin, end;
    std::vector<int> want;
  } cases[] = {{0, 4, {0, 1, 2, 3}}, {3, 6, {3, 4, 5}}, {5, 5, {}}, {7, 2, {}}, {-3, 2, {0, 1}}};
  Claims claims;
  for (const auto& c : cases) {
    claims.reset(c.begin, c.end);
    std::vector<int> got;
    for (int index; claims.claim(index);) got.push_back(index);
    EXPECT_EQ(got, c.want) << c.begin << ".." << c.end;
    int index = -7;
    EXPECT_FALSE(claims.claim(index));
    EXPECT_EQ(index, -7);
  }
  const int count = 20000;
  std::vector<std::atomic<int>> hits(count);
  claims.reset(0, count);
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t)
    threads.emplace_back([&] {
      for (int index; claims.claim(index);) hits[index]++;
    });
  for (std::thread& t : threads) t.join();
  int wrong = 0;
  for (const std::atomic<int>& hit : hits) wrong += hit.load() != 1;
  EXPECT_EQ(wrong, 0);
}

TEST(RowChunks, EveryRowOnceForEverySplit) {
  BandSplits splits;
  OneThreadBands one_thread{8};
  auto executors = splits.all();
  executors.push_back({&one_thread, OneThreadBands::exec});
  RowTally tally;
  const int cases[][2] = {{1, 1}, {7, 1}, {7, 4}, {8, 4}, {9, 4}, {1080, 2}, {1080, 5}, {3, 10}, {5, 0}};
  for (const auto& e : executors)
    for (const auto& c : cases) {
      // One tally through every case: a reset makes it ready again.
      tally.start(c[0], c[1]);
      e.second(e.first, RowTally::band, c[0], &tally);
      EXPECT_TRUE(tally.each_once()) << c[0] << " rows by " << c[1];
      EXPECT_EQ(tally.bad_chunks.load(), 0) << c[0] << " rows by " << c[1];
      int first, last;
      EXPECT_FALSE(tally.chunks.claim(first, last));
    }
}

TEST(RowChunks, OneThreadTakesThemInOrderAndLaterBandsFindNone) {
  RowTally tally;
  tally.record_order = true;
  tally.start(11, 3);
  OneThreadBands three{3};
  OneThreadBands::exec(&three, RowTally::band, 11, &tally);
  std::vector<int> want;
  for (int y = 0; y < 11; ++y) want.push_back(y);
  EXPECT_EQ(tally.order, want);

  // No rows: nothing to claim.
  tally.start(0, 4);
  int first = 5, last = 7;
  EXPECT_FALSE(tally.chunks.claim(first, last));
  EXPECT_EQ(first, 5);
  EXPECT_EQ(last, 7);
}

TEST(RowChunks, CursorWalksClaimedRowsOneByOne) {
  RowChunks chunks;
  chunks.reset(10, 4);
  RowCursor a(chunks), b(chunks);
  int y = -1;
  // a claims 0..3, b claims 4..7, a finishes its chunk and claims 8..9.
  std::vector<int> seen_a, seen_b;
  ASSERT_TRUE(a.next(y));
  seen_a.push_back(y);
  ASSERT_TRUE(b.next(y));
  seen_b.push_back(y);
  while (a.next(y)) seen_a.push_back(y);
  while (b.next(y)) seen_b.push_back(y);
  EXPECT_EQ(seen_a, (std::vector<int>{0, 1, 2, 3, 8, 9}));
  EXPECT_EQ(seen_b, (std::vector<int>{4, 5, 6, 7}));
}

}  // namespace
