// The pressure solve's half-sweeps: the red-black row kernel, a band's
// share of a fork of several half-sweeps, and what forks cost.
#include "pressure_sweeps.h"

#include <immintrin.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>

#include "band_scratch.h"
#include "q4_memory.h"
#include "q4_simd.h"

namespace {

// The weights of one half-sweep. omega / e stands in for the division when
// 1 / e is exact (e a power of two), else factor is 0 and the step divides.
// Scaling by a power of two is exact, so omega * res / e and (omega / e) *
// res round the same real number: the same double.
struct SorCoefficients {
  float a, b, c, d, e;
  double omega;
  double factor;
};

// A run of rows first..last of the swept colour: each pointer is at the
// first entry of row `first` of its plane and moves on by `stride` a row.
// own and out: the colour's values before and after the pass; below,
// middle and above: rows j - 1, j and j + 1 of the other colour; rhs: the
// right-hand sides. Cell (i, j) has colour (i + j) & 1 and sits at i / 2 of
// its colour row; a row's cells of the colour start at column i0, their
// neighbours in the row are the other colour's entries k + i0 and
// k + i0 - 1, those above and below its entries k.
struct SorRun {
  const float* own;
  float* out;
  const float *below, *middle, *above, *rhs;
  int first, last, stride, nx, colour;
};

// Row j's pointers, at its first cell of the colour.
struct SorRow {
  const float* p;
  float* out;
  const float *right, *left, *up, *down, *rhs;
  int n;
};

SorRow sor_row(const SorRun& run, int j) {
  const int i0 = (run.colour + j) & 1;
  const size_t at = static_cast<size_t>(j - run.first) * run.stride + 1 - i0;
  const float* other = run.middle + at;
  return SorRow{run.own + at,   run.out + at,   other + i0, other + i0 - 1, run.above + at,
                run.below + at, run.rhs + at, (run.nx - i0) / 2 + i0};
}

// Cell k of a row: res = a p(i+1) + b p(i-1) + c p(j+1) + d p(j-1) + e p -
// rhs, p -= omega res / e, and |res| added to lane k mod 8. The lanes keep
// the sum's order the same on every path and every band split.
inline void sor_cell(const SorCoefficients& s, const SorRow& r, int k, double* lanes) {
  const float res = s.a * r.right[k] + s.b * r.left[k] + s.c * r.up[k] + s.d * r.down[k] + s.e * r.p[k] - r.rhs[k];
  const double step = s.factor != 0.0 ? s.factor * res : s.omega * res / s.e;
  r.out[k] = r.p[k] - static_cast<float>(step);
  lanes[k & 7] += std::fabs(static_cast<double>(res));
}

double lane_sum(const double* lanes) {
  return ((lanes[0] + lanes[1]) + (lanes[2] + lanes[3])) + ((lanes[4] + lanes[5]) + (lanes[6] + lanes[7]));
}

// The run's rows; row j's sum of |residual| goes to residual[j - first].
void sor_rows_portable(const SorCoefficients& s, const SorRun& run, double* residual) {
  for (int j = run.first; j <= run.last; ++j) {
    const SorRow r = sor_row(run, j);
    double lanes[8] = {};
    for (int k = 0; k < r.n; ++k) sor_cell(s, r, k, lanes);
    residual[j - run.first] = lane_sum(lanes);
  }
}

// The compiler keeps the lanes of the widened loop in memory, one scalar at
// a time: eight cells here are one vector of residuals and two of lanes.
Q4_SIMD_TARGET_AVX2 void sor_rows_avx2(const SorCoefficients& s, const SorRun& run, double* residual) {
  const __m256 a = _mm256_set1_ps(s.a), b = _mm256_set1_ps(s.b), c = _mm256_set1_ps(s.c), d = _mm256_set1_ps(s.d),
               e = _mm256_set1_ps(s.e);
  const __m256d factor = _mm256_set1_pd(s.factor), omega = _mm256_set1_pd(s.omega), divisor = _mm256_set1_pd(s.e);
  const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7fffffffffffffffLL));
  const bool divide = s.factor == 0.0;
  for (int j = run.first; j <= run.last; ++j) {
    const SorRow r = sor_row(run, j);
    __m256d low = _mm256_setzero_pd(), high = _mm256_setzero_pd();
    int k = 0;
    for (; k + 8 <= r.n; k += 8) {
      const __m256 p = _mm256_loadu_ps(r.p + k);
      __m256 res = _mm256_mul_ps(a, _mm256_loadu_ps(r.right + k));
      res = _mm256_add_ps(res, _mm256_mul_ps(b, _mm256_loadu_ps(r.left + k)));
      res = _mm256_add_ps(res, _mm256_mul_ps(c, _mm256_loadu_ps(r.up + k)));
      res = _mm256_add_ps(res, _mm256_mul_ps(d, _mm256_loadu_ps(r.down + k)));
      res = _mm256_add_ps(res, _mm256_mul_ps(e, p));
      res = _mm256_sub_ps(res, _mm256_loadu_ps(r.rhs + k));
      const __m256d res_low = _mm256_cvtps_pd(_mm256_castps256_ps128(res));
      const __m256d res_high = _mm256_cvtps_pd(_mm256_extractf128_ps(res, 1));
      __m256d step_low, step_high;
      if (divide) {
        step_low = _mm256_div_pd(_mm256_mul_pd(omega, res_low), divisor);
        step_high = _mm256_div_pd(_mm256_mul_pd(omega, res_high), divisor);
      } else {
        step_low = _mm256_mul_pd(factor, res_low);
        step_high = _mm256_mul_pd(factor, res_high);
      }
      const __m256 step = _mm256_set_m128(_mm256_cvtpd_ps(step_high), _mm256_cvtpd_ps(step_low));
      _mm256_storeu_ps(r.out + k, _mm256_sub_ps(p, step));
      low = _mm256_add_pd(low, _mm256_and_pd(res_low, magnitude));
      high = _mm256_add_pd(high, _mm256_and_pd(res_high, magnitude));
    }
    alignas(32) double lanes[8];
    _mm256_store_pd(lanes, low);
    _mm256_store_pd(lanes + 4, high);
    for (; k < r.n; ++k) sor_cell(s, r, k, lanes);
    residual[j - run.first] = lane_sum(lanes);
  }
}

// The rows a band works out beyond its own, each pass's on rows of their
// own, kept by the thread: neighbouring bands work out the same rows, and
// their owners write them. Grown as a band needs, never shrunk.
struct HaloRows {
  float* rows = nullptr;
  void* raw = nullptr;
  size_t floats = 0;
  ~HaloRows() { q4_free(raw, __FILE__, __LINE__); }
  // Room for `wanted` floats; null when the heap refuses it.
  float* reserve(size_t wanted) {
    if (wanted <= floats) return rows;
    void* more_raw = nullptr;
    float* more = static_cast<float*>(band_scratch_alloc(wanted * sizeof(float), &more_raw));
    if (!more) return nullptr;
    q4_free(raw, __FILE__, __LINE__);
    rows = more;
    raw = more_raw;
    floats = wanted;
    return rows;
  }
};

thread_local HaloRows halo_rows;

// 1 / e when that is exact (e a power of two), else 0.
double exact_inverse(float e) {
  int exponent;
  const double mantissa = std::frexp(static_cast<double>(e), &exponent);
  return mantissa == 0.5 || mantissa == -0.5 ? 1.0 / e : 0.0;
}
using RowsKernel = void (*)(const SorCoefficients&, const SorRun&, double*);

// Pass m of a fork as a band of rows top..bottom meets it. It sweeps its
// colour over the band's rows and, to be read by the passes after it, over
// the depth - m rows beyond each end: other bands write those, so the band
// works them out itself, from the values the fork started from, which no
// band writes, into rows of its own (halo_rows), with the same row kernel,
// so they come out bit for bit as their owners' rows.
class BandPass {
 public:
  BandPass(const SorBlock& s, int top, int bottom, int depth, float* halo, RowsKernel kernel, int m);
  // The pass's rows; how many it swept.
  int sweep() const;

 private:
  // Half-sweeps of colour x among passes 0..upto of the fork.
  int updates(int x, int upto) const {
    return upto < 0 ? 0 : x == (s.pass & 1) ? upto / 2 + 1 : (upto + 1) / 2;
  }
  // Row j beyond the band as pass `by` left it.
  float* halo_row(int by, int j) const {
    const int side = j > bottom, distance = side ? j - bottom : top - j;
    return halo + (static_cast<size_t>(by * 2 + side) * depth + distance - 1) * s.plane_stride;
  }
  // The band's own rows and the ghost rows are in the planes, whoever
  // swept them last.
  bool in_planes(int j) const { return j < 1 || j > s.ny || (j >= top && j <= bottom); }
  // The rows as the passes before this one left them: the swept colour's
  // last swept two passes back, the other's one.
  const float* own_row(int j) const {
    return own_done == 0 || in_planes(j) ? own + static_cast<size_t>(j) * s.plane_stride : halo_row(m - 2, j);
  }
  const float* read_row(int j) const {
    return other_done == 0 || in_planes(j) ? read + static_cast<size_t>(j) * s.plane_stride : halo_row(m - 1, j);
  }
  // Rows from..to, all of whose neighbours come from the same planes or
  // the same halo rows, into out.
  SorRun run_of(int from, int to, float* out) const {
    return SorRun{own_row(from),  out,  read_row(from - 1), read_row(from), read_row(from + 1),
                  rhs + static_cast<size_t>(from) * s.plane_stride, from, to, s.plane_stride, s.nx, colour};
  }
  // Band rows from..to, their residuals to the pass's row sums.
  void band_rows(int from, int to) const;
  // A row beyond the band, into the band's halo rows.
  void beyond(int j) const;

  const SorBlock& s;
  const int top, bottom, depth, m, colour;
  float* const halo;
  const RowsKernel kernel;
  const int own_done, other_done;
  const SorCoefficients k;
  const float* const start;  // the swept colour as the fork started
  const float* const own;
  const float* const read;
  float* const swept;
  const float* const rhs;
};

BandPass::BandPass(const SorBlock& s_, int top_, int bottom_, int depth_, float* halo_, RowsKernel kernel_, int m_)
    : s(s_),
      top(top_),
      bottom(bottom_),
      depth(depth_),
      m(m_),
      colour((s_.pass + m_) & 1),
      halo(halo_),
      kernel(kernel_),
      own_done(updates(colour, m_ - 1)),
      other_done(updates(1 - colour, m_ - 1)),
      k{s_.a, s_.b, s_.c, s_.d, s_.e, s_.omega[m_], s_.omega[m_] * exact_inverse(s_.e)},
      start(s_.p_plane(colour, s_.front[colour])),
      own(s_.p_plane(colour, SorBlock::after(s_.front[colour], own_done))),
      read(s_.p_plane(1 - colour, SorBlock::after(s_.front[1 - colour], other_done))),
      swept(s_.p_plane(colour, SorBlock::after(s_.front[colour], own_done + 1))),
      rhs(s_.plane(SorBlock::RHS_COLOUR0 + colour)) {}

void BandPass::band_rows(int from, int to) const {
  double* const residual = s.row_residual + static_cast<size_t>(m) * (s.ny + 2);
  kernel(k, run_of(from, to, swept + static_cast<size_t>(from) * s.plane_stride), residual + from);
}

void BandPass::beyond(int j) const {
  double unused;
  float* const out = halo_row(m, j);
  kernel(k, run_of(j, j, out), &unused);
  // The row's ghosts, which the kernel does not write, as the other colour
  // reads them.
  const float* ghosts = start + static_cast<size_t>(j) * s.plane_stride;
  const int i0 = (colour + j) & 1, begin = 1 - i0, end = begin + (s.nx - i0) / 2 + i0;
  for (int i = 0; i < begin; ++i) out[i] = ghosts[i];
  for (int i = end; i < s.plane_stride; ++i) out[i] = ghosts[i];
}

int BandPass::sweep() const {
  const int reach = depth - m;
  const int lo = std::max(1, top - reach), hi = std::min(s.ny, bottom + reach);
  for (int j = lo; j < top; ++j) beyond(j);
  // The band's rows, the first and last alone when a neighbour of theirs
  // is one the band worked out itself.
  const bool own_below = other_done == 0 || top == 1, own_above = other_done == 0 || bottom == s.ny;
  const int from = own_below ? top : top + 1, to = own_above ? bottom : bottom - 1;
  if (!own_below) band_rows(top, top);
  if (from <= to) band_rows(from, to);
  if (!own_above && (bottom > top || own_below)) band_rows(bottom, bottom);
  for (int j = bottom + 1; j <= hi; ++j) beyond(j);
  return hi - lo + 1;
}

// Moves `held` to `value` while the value comes before it in `order`.
template <typename T, typename Order>
void keep_first(std::atomic<T>& held, T value, Order order) {
  for (T now = held.load(std::memory_order_relaxed);
       order(value, now) && !held.compare_exchange_weak(now, value, std::memory_order_relaxed);) {
  }
}

}  // namespace

// Each band times itself, for the next fork's count of half-sweeps.
void sor_sweep_band(SorBlock& s, int first, int last) {
  if (first > last) return;
  const auto started = std::chrono::steady_clock::now();
  const int top = first + 1, bottom = last + 1;
  int passes = s.passes;
  float* halo = nullptr;
  if (passes > 1 && (top > 1 || bottom < s.ny)) {
    halo = halo_rows.reserve(static_cast<size_t>(passes) * 2 * (passes - 1) * s.plane_stride);
    if (!halo) {
      s.first_only.store(true, std::memory_order_relaxed);
      passes = 1;
    }
  }
  const RowsKernel kernel = q4_simd_use_avx2() ? sor_rows_avx2 : sor_rows_portable;
  long long swept = 0;
  for (int m = 0; m < passes; ++m) swept += BandPass(s, top, bottom, passes - 1, halo, kernel, m).sweep();
  const std::chrono::duration<long long, std::pico> took = std::chrono::steady_clock::now() - started;
  s.costs.band_done(last - first + 1, took.count(), swept);
}

void SorForkCosts::start_fork(int rows) {
  fewest_rows.store(rows, std::memory_order_relaxed);
  slowest_ps.store(0, std::memory_order_relaxed);
  row_ps.store(0, std::memory_order_relaxed);
}

void SorForkCosts::band_done(int rows, long long ps, long long swept) {
  keep_first(fewest_rows, rows, std::less<int>());
  keep_first(slowest_ps, ps, std::greater<long long>());
  keep_first(row_ps, ps / std::max(1LL, swept), std::greater<long long>());
}

void SorForkCosts::fork_done(double fork_ns) {
  const double slowest = 1e-3 * slowest_ps.load(std::memory_order_relaxed);
  const double row = 1e-3 * row_ps.load(std::memory_order_relaxed);
  if (row > 0.0) {
    overhead_ns += (std::max(0.0, fork_ns - slowest) - overhead_ns) / 8.0;
    row_ns += (row - row_ns) / 8.0;
  }
}

int SorForkCosts::passes(bool banded, int rows, int most) const {
  if (!banded || fewest_rows.load(std::memory_order_relaxed) >= rows) return most;
  if (!(row_ns > 0.0)) return 2;
  return std::max(2, std::min(static_cast<int>(std::lround(std::sqrt(overhead_ns / row_ns))), most));
}
