#include "q4_simd.h"

#include <atomic>

namespace {

bool processor_has_avx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

std::atomic<bool> forced_portable{false};

}  // namespace

bool q4_simd_use_avx2() {
  static const bool available = processor_has_avx2();
  return available && !forced_portable.load(std::memory_order_relaxed);
}

void q4_simd_force_portable(bool portable) { forced_portable.store(portable, std::memory_order_relaxed); }
