#ifndef Q4_TESTSUPPORT_SIMD_PATHS_H
#define Q4_TESTSUPPORT_SIMD_PATHS_H

#include <utility>

#include "q4_simd.h"

// Runs fn on the portable kernel copies, then on the processor's best (the
// AVX2 copies where it has them), and returns both results for a byte
// comparison. The portable path is restored to the default on return.
template <typename Fn>
auto run_on_both_simd_paths(Fn fn) -> std::pair<decltype(fn()), decltype(fn())> {
  q4_simd_force_portable(true);
  auto portable = fn();
  q4_simd_force_portable(false);
  auto best = fn();
  return {std::move(portable), std::move(best)};
}

#endif
