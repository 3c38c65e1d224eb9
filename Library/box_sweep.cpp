// Three box passes (and three at the next radius, mixed in) in one sweep
// along lanes side by side, each pass a few positions behind the one before.
#include "box_sweep.h"

#include <algorithm>

#include "box_divide8.h"
#include "box_pass.h"
#include "box_walk.h"
#include "q4_simd.h"

namespace {

// Positions each pass takes at a time; the rings hold a pass's window and
// one such step ahead.
const int kStep = kSweepStep;

// Positions in each ring: a power of two of at least the window of the
// widest pass, the positions its producer may run ahead and one step; or,
// when that reaches the line's length, the whole line, which never wraps
// (its mask keeps every index).
int ring_positions(int R1, int n) {
  int P = kStep;
  while (P < 2 * R1 + kStep + 2) P *= 2;
  return P < n ? P : n;
}

// The rings: the samples, and the results of the first two passes (all
// three with mix) of each radius. The last pass writes a step of results
// for the lines.
const int kRings = 6;

// One pass between two arrays of positions of L lanes: position j of the
// input at in[(j & mask) * L], of the output at out[((j - origin) & out_mask)
// * L]. With mix_with, results are mixed with that ring's position j as
// (w0 * mix_with + w1 * result) >> 10.
struct PassCall {
  const int* in;
  int mask, n, L, R;
  int* out;
  int origin, out_mask;
  const int* mix_with;
  int w0, w1;
};

// A result as it is stored: mixed when m (the mix ring's position) is given.
Q4_SIMD_BODY int mixed(const PassCall& c, const int* m, int l, int q) { return m ? (c.w0 * m[l] + c.w1 * q) >> 10 : q; }

// Each position's output from the running sums, then the windows moved on
// by the samples entering and leaving.
template <typename Divide>
void pass_portable(const PassCall& c, uint64_t* S, int from, int to, Divide divide) {
  for (int j = from; j < to; ++j) {
    const int* entering = c.in + (std::min(j + c.R + 1, c.n - 1) & c.mask) * static_cast<long>(c.L);
    const int* leaving = c.in + (std::max(j - c.R, 0) & c.mask) * static_cast<long>(c.L);
    int* o = c.out + ((j - c.origin) & c.out_mask) * static_cast<long>(c.L);
    const int* m = c.mix_with ? c.mix_with + (j & c.mask) * static_cast<long>(c.L) : nullptr;
    for (int l = 0; l < c.L; ++l) {
      o[l] = mixed(c, m, l, static_cast<int>(divide(S[l])));
      S[l] += static_cast<uint64_t>(entering[l]) - static_cast<uint64_t>(leaving[l]);
    }
  }
}

// Radius 0 keeps the samples.
struct DivideNone {};
Q4_SIMD_TARGET_AVX2 inline __m256i divide8(__m256i sums, const DivideNone&) { return sums; }

// One position of V x 8 lanes: the outputs from the sums (mixed with m's),
// then the sums moved on by the samples entering and leaving.
template <int V, bool Mix, typename Divide>
Q4_SIMD_TARGET_AVX2 inline __attribute__((always_inline)) void pass_step(__m256i* S, const Divide& d, __m256i w0,
                                                                         __m256i w1, const int* entering,
                                                                         const int* leaving, int* o, const int* m) {
  for (int v = 0; v < V; ++v) {
    __m256i q = divide8(S[v], d);
    if (Mix)
      q = _mm256_srai_epi32(_mm256_add_epi32(_mm256_mullo_epi32(w0, load8(m + 8 * v)), _mm256_mullo_epi32(w1, q)), 10);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + 8 * v), q);
    S[v] = _mm256_add_epi32(S[v], _mm256_sub_epi32(load8(entering + 8 * v), load8(leaving + 8 * v)));
  }
}

// The passes of V x 8 lanes, the sums held in registers.
template <int V, typename Divide, bool Mix>
Q4_SIMD_TARGET_AVX2 void pass_avx2(const PassCall& c, uint32_t* sums, int from, int to, const Divide& d) {
  __m256i S[V];
  for (int v = 0; v < V; ++v) S[v] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sums + 8 * v));
  const __m256i w0 = _mm256_set1_epi32(c.w0), w1 = _mm256_set1_epi32(c.w1);
  // Locals, which the stores cannot be taken to change.
  constexpr long L = 8 * V;
  const int* const in = c.in;
  int* const out = c.out;
  const int* const mix_with = c.mix_with;
  const int mask = c.mask, out_mask = c.out_mask, origin = c.origin, R = c.R, last = c.n - 1;
  // Runs of positions inside the line over which no ring wraps walk plain
  // pointers; positions near the ends clamp their indices one by one.
  const int P = mask < 0 ? c.n : mask + 1;
  for (int j = from; j < to;) {
    const int e = j + R + 1, l = j - R;
    if (l < 0 || e > last) {
      pass_step<V, Mix>(S, d, w0, w1, in + (std::min(e, last) & mask) * L, in + (std::max(l, 0) & mask) * L,
                        out + ((j - origin) & out_mask) * L, Mix ? mix_with + (j & mask) * L : nullptr);
      ++j;
      continue;
    }
    int run = std::min(to - j, last - e + 1);
    run = std::min(run, std::min(P - (e & mask), P - (l & mask)));
    if (Mix) run = std::min(run, P - (j & mask));
    if (out_mask == mask) run = std::min(run, P - ((j - origin) & mask));
    const int* entering = in + (e & mask) * L;
    const int* leaving = in + (l & mask) * L;
    int* o = out + ((j - origin) & out_mask) * L;
    const int* m = Mix ? mix_with + (j & mask) * L : nullptr;
    for (int k = 0; k < run; ++k) {
      pass_step<V, Mix>(S, d, w0, w1, entering, leaving, o, m);
      entering += L;
      leaving += L;
      o += L;
      if (Mix) m += L;
    }
    j += run;
  }
  for (int v = 0; v < V; ++v) _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + 8 * v), S[v]);
}

template <int V, bool Mix>
Q4_SIMD_TARGET_AVX2 void pass_avx2_divided(const PassCall& c, uint32_t* sums, int from, int to, const BoxDivisor& dv) {
  if (c.R == 0)
    pass_avx2<V, DivideNone, Mix>(c, sums, from, to, DivideNone{});
  else if (dv.reciprocal > 0.0f)
    pass_avx2<V, DivideFloat8, Mix>(c, sums, from, to, DivideFloat8{_mm256_set1_ps(dv.reciprocal)});
  else
    pass_avx2<V, Divide8, Mix>(c, sums, from, to, divide8_for(dv));
}

template <bool Mix>
Q4_SIMD_TARGET_AVX2 void pass_avx2_lanes(const PassCall& c, uint32_t* sums, int from, int to, const BoxDivisor& dv) {
  switch (c.L / 8) {
    case 1:
      pass_avx2_divided<1, Mix>(c, sums, from, to, dv);
      break;
    case 2:
      pass_avx2_divided<2, Mix>(c, sums, from, to, dv);
      break;
    case 3:
      pass_avx2_divided<3, Mix>(c, sums, from, to, dv);
      break;
    default:
      pass_avx2_divided<4, Mix>(c, sums, from, to, dv);
      break;
  }
}

// Each value times the factor, truncated.
Q4_SIMD_BODY void fade_body(int* v, long count, float keep) {
  for (long i = 0; i < count; ++i) v[i] = static_cast<int>(static_cast<float>(v[i]) * keep);
}
Q4_SIMD_DISPATCH(void, fade, (int* v, long count, float keep), (v, count, keep))

// One pass of the sweep and how far it has come.
struct Pass {
  PassCall call;
  BoxDivisor dv;
  bool vector;  // the AVX2 copy serves it
  bool started;
  int done;  // positions output
  alignas(32) uint32_t narrow[kSweepLanes];
  uint64_t wide[kSweepLanes];
};

void set_up(Pass& p, const int* in, int* out, int R, int mask, int n, int L, bool avx2) {
  p.call = PassCall{in, mask, n, L, R, out, 0, mask, nullptr, 0, 0};
  // Sums of samples up to 65535.
  p.dv = box_divisor(static_cast<uint32_t>(2 * R + 1), 65535);
  p.vector = avx2 && L % 8 == 0 && L <= 32 && (R == 0 || p.dv.reciprocal > 0.0f || p.dv.exact);
  p.started = false;
  p.done = 0;
}

// Runs the pass over the positions its input allows, at most a step and
// not up to `cap`.
void advance(Pass& p, int available, int cap) {
  PassCall& c = p.call;
  if (!p.started) {
    if (available < c.R + 1) return;
    // Positions 0 .. R sit in the ring unwrapped.
    if (p.vector)
      box_walk_first(c.in, c.L, c.L, c.R, p.narrow);
    else
      box_walk_first(c.in, c.L, c.L, c.R, p.wide);
    p.started = true;
  }
  int to = available == c.n ? c.n : available - c.R - 1;
  to = std::min(std::min(to, cap), p.done + kStep);
  if (to <= p.done) return;
  if (p.vector) {
    if (c.mix_with)
      pass_avx2_lanes<true>(c, p.narrow, p.done, to, p.dv);
    else
      pass_avx2_lanes<false>(c, p.narrow, p.done, to, p.dv);
  } else if (c.R == 0) {
    pass_portable(c, p.wide, p.done, to, [](uint64_t s) { return s; });
  } else if (p.dv.exact) {
    const BoxDivisor dv = p.dv;
    pass_portable(c, p.wide, p.done, to, [dv](uint64_t s) { return box_divide(static_cast<uint32_t>(s), dv); });
  } else {
    const uint64_t d = static_cast<uint64_t>(2 * c.R + 1);
    pass_portable(c, p.wide, p.done, to, [d](uint64_t s) { return s / d; });
  }
  p.done = to;
}

}  // namespace

uint64_t box_sweep_scratch(const BoxSweep& s) {
  if (s.n < 1 || s.lanes < 1 || s.lanes > kSweepLanes) return 0;
  const int R1 = box_walk_radius(s.radius < s.n ? s.radius + 1 : s.radius, s.n);
  return (static_cast<uint64_t>(kRings) * ring_positions(R1, s.n) + kStep) * s.lanes;
}

void box_sweep(const BoxSweep& s, int* scratch, BoxSweepLines& lines) {
  const int n = s.n, L = s.lanes;
  if (n < 1 || L < 1 || L > kSweepLanes) return;
  const int R = box_walk_radius(s.radius, n);
  const int R1 = box_walk_radius(s.radius < n ? s.radius + 1 : s.radius, n);
  const int P = ring_positions(R1, n), mask = P < n ? P - 1 : -1;
  int* ring[kRings];
  for (int k = 0; k < kRings; ++k) ring[k] = scratch + static_cast<long>(k) * P * L;
  int* results = scratch + static_cast<long>(kRings) * P * L;
  const bool avx2 = q4_simd_use_avx2();
  // Samples in ring 0; radius r through rings 1, 2 (and 3), radius r + 1
  // through rings 4 and 5, its last pass mixing with ring 3.
  Pass passes[6];
  const int count = s.mix ? 6 : 3;
  set_up(passes[0], ring[0], ring[1], R, mask, n, L, avx2);
  set_up(passes[1], ring[1], ring[2], R, mask, n, L, avx2);
  set_up(passes[2], ring[2], s.mix ? ring[3] : results, R, mask, n, L, avx2);
  if (s.mix) {
    set_up(passes[3], ring[0], ring[4], R1, mask, n, L, avx2);
    set_up(passes[4], ring[4], ring[5], R1, mask, n, L, avx2);
    set_up(passes[5], ring[5], results, R1, mask, n, L, avx2);
    passes[5].call.mix_with = ring[3];
    passes[5].call.w0 = s.w0;
    passes[5].call.w1 = s.w1;
  }
  Pass& last = passes[count - 1];
  last.call.out_mask = -1;  // a step of results, from position `origin` on
  // No position is written over while a pass may still read it: a ring
  // takes positions up to P past the oldest one its readers need (the
  // window's back end, or the position itself for the mix).
  auto room = [P](const Pass& reader, int back) { return std::max(reader.done - back, 0) + P; };
  int gathered = 0;
  while (last.done < n) {
    int fits = room(passes[0], R);
    if (s.mix) fits = std::min(fits, room(passes[3], R1));
    // Steps start at multiples of kStep, and P is a multiple of kStep or
    // the whole line: each step's positions lie unwrapped in ring 0.
    const int step = std::min(kStep, n - gathered);
    if (step > 0 && gathered + step <= fits) {
      int* to = ring[0] + static_cast<long>(gathered & mask) * L;
      lines.gather(gathered, step, to);
      if (s.fade != 1.0f) fade(to, static_cast<long>(step) * L, s.fade);
      gathered += step;
    }
    for (int k = 0; k < count; ++k) {
      Pass& p = passes[k];
      const int available = k == 0 || k == 3 ? gathered : passes[k - 1].done;
      int cap = n;
      if (k == 0 || k == 1 || k == 3 || k == 4) cap = room(passes[k + 1], passes[k + 1].call.R);
      // The mix reads radius r's result at each position it writes.
      if (k == 2 && s.mix) cap = room(passes[5], 0);
      if (k == 5) cap = passes[2].done;
      const int before = p.done;
      if (&p == &last) p.call.origin = before;
      advance(p, available, cap);
      if (&p == &last && p.done > before) lines.scatter(before, p.done - before, results);
    }
  }
}
