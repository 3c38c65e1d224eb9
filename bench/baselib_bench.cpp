// The base library's own allocators, executor and string table:
//  - the general allocator against the system's malloc on one recorded mixed
//    workload (16 B to 64 KiB, a million requests and releases), beside the
//    same replay with a bump pointer, the cost of the replay loop itself;
//  - an allocate and release pair of the buddy store;
//  - the fork-join round trip of q4mp_exec over 8 empty workers;
//  - hashed lookups in a string table of 100,000 words, with the string
//    comparisons each one makes.
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "q4_dynamic_store.h"
#include "q4_lea_malloc.h"
#include "q4_star.h"
#include "q4_threads.h"

namespace {

// One request or release of a recorded workload: a slot of the live set
// and, for a request, its size.
struct Operation {
  uint32_t slot;
  uint32_t size;  // 0: release the slot
};

constexpr int workload_slots = 4096;

const std::vector<Operation>& recorded_workload() {
  static const std::vector<Operation> operations = [] {
    std::vector<Operation> ops;
    std::vector<bool> live(workload_slots, false);
    std::mt19937 random(42);
    // Sizes spread evenly over the powers of two from 16 B to 64 KiB, so
    // small blocks are as common as each octave of larger ones.
    std::uniform_real_distribution<double> octave(4.0, 16.0);
    while (ops.size() < 1000000) {
      const uint32_t slot = random() % workload_slots;
      if (live[slot]) {
        ops.push_back(Operation{slot, 0});
      } else {
        ops.push_back(Operation{slot, static_cast<uint32_t>(std::exp2(octave(random)))});
      }
      live[slot] = !live[slot];
    }
    for (uint32_t slot = 0; slot < workload_slots; ++slot)
      if (live[slot]) ops.push_back(Operation{slot, 0});
    return ops;
  }();
  return operations;
}

template <typename Allocate, typename Release>
void replay(benchmark::State& state, Allocate allocate, Release release) {
  const std::vector<Operation>& ops = recorded_workload();
  std::vector<char*> slots(workload_slots, nullptr);
  for (auto _ : state) {
    for (const Operation& op : ops) {
      if (op.size) {
        char* p = static_cast<char*>(allocate(op.size));
        p[0] = 1;  // a caller touches what it asked for
        slots[op.slot] = p;
      } else {
        release(slots[op.slot]);
      }
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(ops.size()));
}

void BM_LeaMallocWorkload(benchmark::State& state) { replay(state, dlmalloc, dlfree); }
BENCHMARK(BM_LeaMallocWorkload)->Unit(benchmark::kMillisecond);

void BM_SystemMallocWorkload(benchmark::State& state) { replay(state, malloc, free); }
BENCHMARK(BM_SystemMallocWorkload)->Unit(benchmark::kMillisecond);

void BM_WorkloadReplayFloor(benchmark::State& state) {
  std::vector<char> arena(1 << 20);
  size_t next = 0;
  replay(
      state,
      [&](size_t size) {
        next = (next + (size & 0xFFFF)) & ((1 << 20) - 1);
        return static_cast<void*>(arena.data() + next);
      },
      [](void* p) { benchmark::DoNotOptimize(p); });
}
BENCHMARK(BM_WorkloadReplayFloor)->Unit(benchmark::kMillisecond);

// Blocks already held keep the store split, so each pair splits and merges
// through several orders.
void BM_DynamicStorePair(benchmark::State& state) {
  q4DynamicStore store(24);
  std::vector<void*> held;
  for (unsigned size = 16; size < 70000; size = size * 3 + 5) held.push_back(store.allocate(size));
  static const unsigned sizes[] = {16, 100, 24, 1000, 48, 4000, 200, 12};
  unsigned i = 0;
  for (auto _ : state) {
    void* p = store.allocate(sizes[i++ & 7]);
    benchmark::DoNotOptimize(p);
    store.release(p);
  }
  for (void* p : held) store.release(p);
}
BENCHMARK(BM_DynamicStorePair);

void empty_worker(void*, void*, void*, void*, void*, void*) {}

void BM_MpExecForkJoin(benchmark::State& state) {
  static const bool chosen = [] {
    q4mp_set_nprocs(8);
    return true;
  }();
  benchmark::DoNotOptimize(chosen);
  for (auto _ : state) q4mp_exec(empty_worker, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  state.counters["workers"] = q4mp_get_nprocs();
}
BENCHMARK(BM_MpExecForkJoin)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_StarHashedFind(benchmark::State& state) {
  static Q4Star table;
  static std::vector<std::string> words;
  if (words.empty()) {
    std::mt19937 random(7);
    for (int i = 0; i < 100000; ++i) {
      std::string word(4 + random() % 9, 'a');
      for (char& c : word) c = static_cast<char>('a' + random() % 26);
      words.push_back(word + std::to_string(i));  // distinct
      table.add(words.back().c_str());
    }
    table.hash();
  }
  table.get_find_stats(true);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(table.find(words[i].c_str(), true));
    i = (i + 7919) % words.size();
  }
  state.counters["probes"] = table.get_find_stats(true);
}
BENCHMARK(BM_StarHashedFind);

}  // namespace
