#include <cmath>
#include <cstring>

#include "fluid_flow_core.h"
#include "fluid_numeric.h"
#include "line_filter.h"
#include "q4_memory.h"
#include "q4_simd.h"

// Diffusion: a separable three-pass box filter with running sums (its cost
// does not depend on the radius), or a Gaussian whose size follows a
// viscosity-control field (its cost stops growing once its window covers the
// grid). Rows and columns are filtered in bands; each band writes only its
// own lines of a destination that no band reads.

namespace {

// A variable Gaussian wider than this would only add clamped edge samples
// for ever; it also keeps the window size an int.
const float kLargestGaussianRadius = 4096.0f;

// One line of a grid: n samples from start, step apart.
struct Line {
  int start, step, n;
};

// Up to this radius a Gaussian's half sum is added tap by tap; a wider one
// takes the closed form, exact to double rounding from there on.
const int kSummedRadius = 256;

// Multiply-adds and taps a variable low-pass band does between two abort
// tests: some tens of microseconds, whatever the window.
const long long kWorkBetweenAbortTests = 1 << 15;

// One pixel's Gaussian along either axis: g[k] = e^(-k^2 a / 2) for k = 0
// up to reach, the smaller of R and the longest distance within the grid;
// below[k] = g[0] + ... + g[k]; half = g[0] + ... + g[R].
struct GaussianTaps {
  double* g;
  double* below;
  int R, reach;
  double half;
};

// g[0] + ... + g[R] of a wide Gaussian by the Euler-Maclaurin formula: the
// integral, the end terms and the first- and third-derivative terms (the
// odd derivatives vanish at 0). With R / 3 above 85 the next term is below
// 1e-16 of the sum.
double wide_half_sum(int R, double a) {
  const double x = R, end = std::exp(-x * x * a / 2.0);
  const double integral = std::sqrt(M_PI / (2.0 * a)) * std::erf(x * std::sqrt(a / 2.0));
  const double first = -a * x * end, third = (3.0 * a * a * x - a * a * a * x * x * x) * end;
  return integral + 0.5 * (1.0 + end) + first / 12.0 - third / 720.0;
}

// Fills the taps of a Gaussian of radius sigma (1..4096) for a grid whose
// longest distance is `longest`; returns the taps worked out.
long long set_taps(GaussianTaps& t, float sigma, int longest) {
  t.R = static_cast<int>(std::ceil(sigma));
  const double s = sigma / 3.0;
  const double a = 1.0 / (s * s);
  t.reach = t.R < longest ? t.R : longest;
  double sum = 0.0;
  for (int k = 0; k <= t.reach; ++k) {
    t.g[k] = std::exp(-static_cast<double>(k * k) * a / 2.0);
    sum += t.g[k];
    t.below[k] = sum;
  }
  if (t.R > kSummedRadius) {
    t.half = wide_half_sum(t.R, a);
    return t.reach + 1;
  }
  for (int k = t.reach + 1; k <= t.R; ++k) sum += std::exp(-static_cast<double>(k * k) * a / 2.0);
  t.half = sum;
  return t.R + 1;
}

// The weights that the window centred on sample c of a line of n gives the
// samples first..last it reaches. Its taps beyond an end read the end
// sample (samples are clamped), so the end sample also takes their weight,
// the half sum less the running sum up to the end: however wide the window,
// a line costs its in-grid samples.
void line_weights(const GaussianTaps& t, int c, int n, double* w, int& first, int& last) {
  first = c - t.R > 0 ? c - t.R : 0;
  last = c + t.R < n - 1 ? c + t.R : n - 1;
  for (int j = first; j <= last; ++j) w[j] = t.g[j > c ? j - c : c - j];
  if (c - t.R < 0) w[0] += t.half - t.below[c];
  if (c + t.R > n - 1) w[n - 1] += t.half - t.below[n - 1 - c];
}

// w[0] v[0] + ... + w[n-1] v[n-1] in four lanes by position, the lanes
// added pairwise: the same order on every path.
Q4_SIMD_BODY double weighted_sum_body(const double* w, const float* v, int n) {
  double lanes[4] = {0.0, 0.0, 0.0, 0.0};
  int k = 0;
  for (; k + 4 <= n; k += 4)
    for (int l = 0; l < 4; ++l) lanes[l] += w[k + l] * static_cast<double>(v[k + l]);
  for (; k < n; ++k) lanes[k & 3] += w[k] * static_cast<double>(v[k]);
  return (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
}
Q4_SIMD_DISPATCH(double, weighted_sum, (const double* w, const float* v, int n), (w, v, n))

}  // namespace

void FluidFlowCore::mp_DIRECT_box_lowpass_core(int radius, int passes, int n, float* buf, float* out) {
  if (n < 1) return;
  int r = radius < n / 2 ? radius : n / 2;
  if (r < 0) r = 0;
  const float scale = 1.0f / static_cast<float>(2 * r + 1);
  float* in = buf;
  float* to = out;
  for (int p = 0; p < passes; ++p) {
    float sum = static_cast<float>(r) * in[0];
    for (int k = 0; k <= r; ++k) sum += in[k < n - 1 ? k : n - 1];
    to[0] = sum;
    for (int i = 1; i < n; ++i) {
      sum -= in[i - r - 1 > 0 ? i - r - 1 : 0];
      sum += in[i + r < n - 1 ? i + r : n - 1];
      to[i] = sum;
    }
    for (int i = 0; i < n; ++i) to[i] *= scale;
    float* t = in;
    in = to;
    to = t;
  }
}

void FluidFlowCore::mp_DIRECT_box_lowpass_horiz(void* solver, int first, int last) {
  box_band(static_cast<FluidFlowCore*>(solver), first, last, false);
}

void FluidFlowCore::mp_DIRECT_box_lowpass_vert(void* solver, int first, int last) {
  box_band(static_cast<FluidFlowCore*>(solver), first, last, true);
}

void FluidFlowCore::box_band(FluidFlowCore* self, int first, int last, bool columns) {
  const BoxBlock& b = self->box;
  const int n = columns ? b.height : b.width;
  auto line_of = [&](int l) { return columns ? Line{l, b.width, b.height} : Line{l * b.width, 1, b.width}; };
  // A fractional radius blends the two neighbouring integer radii.
  const float R = clamped(b.radius, 0.0f, static_cast<float>(n / 2));
  int ri = static_cast<int>(std::floor(R));
  const float f = R - static_cast<float>(ri);
  const bool blend = f > 0.01f;
  if (ri > n - 1) ri = n - 1;
  float* scratch = static_cast<float*>(q4_malloc(3u * static_cast<unsigned>(n) * sizeof(float), __FILE__, __LINE__));
  for (int l = first; l <= last; ++l) {
    if (self->aborted()) break;
    const Line line = line_of(l);
    const float* in = b.src + line.start;
    float* out = b.dst + line.start;
    if (!scratch) {
      // Without scratch the band still leaves defined values: its lines unfiltered.
      for (int i = 0; i < n; ++i) out[i * line.step] = in[i * line.step];
      continue;
    }
    float* a = scratch;
    float* filtered = scratch + n;
    float* wider = scratch + 2 * n;
    for (int i = 0; i < n; ++i) a[i] = in[i * line.step];
    mp_DIRECT_box_lowpass_core(ri, 3, n, a, filtered);
    if (!blend) {
      for (int i = 0; i < n; ++i) out[i * line.step] = filtered[i];
      continue;
    }
    for (int i = 0; i < n; ++i) a[i] = in[i * line.step];
    mp_DIRECT_box_lowpass_core(ri + 1, 3, n, a, wider);
    for (int i = 0; i < n; ++i) out[i * line.step] = (1.0f - f) * filtered[i] + f * wider[i];
  }
  if (scratch) q4_free(scratch, __FILE__, __LINE__);
}

void FluidFlowCore::box_lowpass(float* src, float* tmp, float* dst, int width, int height, float radius) {
  box = BoxBlock{src, tmp, width, height, radius};
  mp_exec(mp_DIRECT_box_lowpass_horiz, height);
  box = BoxBlock{tmp, dst, width, height, radius};
  mp_exec(mp_DIRECT_box_lowpass_vert, width);
}

void FluidFlowCore::DIRECT_diffuse_lowpass(float* src, float* tmp, float* dst, int width, int height, float radius) {
  if (!src || !tmp || !dst || width < 1 || height < 1) return;
  box_lowpass(src, tmp, dst, width, height, 0.25f * radius);
}

void FluidFlowCore::DIRECT_Vector_Diffuse(VectorField* src, VectorField* dst) {
  if (!on_velocity_grid(src) || !on_velocity_grid(dst) || !grid_scratch2->has_storage()) return;
  const float r = std::sqrt(static_cast<float>(nx * ny)) * (viscosity * dt) * 0.25f;
  box_lowpass(src->u, grid_scratch2->data, dst->u, nx + 2, ny + 2, r);
  box_lowpass(src->v, grid_scratch2->data, dst->v, nx + 2, ny + 2, r);
}

void FluidFlowCore::DIRECT_Scalar_Diffuse(ScalarField* src, ScalarField* dst, float rate) {
  // The horizontal pass lands in the scalar scratch field, which has the
  // scalar grid.
  if (!on_grid(src, snx, sny) || !on_grid(dst, snx, sny) || !scalar_scratch2->has_storage()) return;
  const float r = dt * rate * std::sqrt(static_cast<float>(snx * sny)) * 0.25f;
  box_lowpass(src->data, scalar_scratch2->data, dst->data, snx + 2, sny + 2, r);
}

void FluidFlowCore::DIRECT_Vector_Variable_Diffuse(VectorField* src, VectorField* dst, ScalarField* viscon, float lo,
                                                   float hi) {
  if (!on_velocity_grid(src) || !on_velocity_grid(dst) || !viscon || !viscon->has_storage()) return;
  const float root = std::sqrt(static_cast<float>(nx * ny));
  const float min_radius = root * dt * viscosity;
  const float max_radius = dt * viscon_max_rate * root;
  variable_lowpass(viscon, src->u, dst->u, nx + 2, ny + 2, lo, hi, min_radius, max_radius);
  variable_lowpass(viscon, src->v, dst->v, nx + 2, ny + 2, lo, hi, min_radius, max_radius);
}

void FluidFlowCore::DIRECT_diffuse_variable_lowpass(ScalarField* viscon, float* src, float* dst, int width, int height,
                                                    float lo, float hi, float min_radius, float max_radius) {
  if (!viscon || !viscon->has_storage() || !src || !dst || width < 1 || height < 1) return;
  variable_lowpass(viscon, src, dst, width, height, lo, hi, min_radius, max_radius);
}

void FluidFlowCore::variable_lowpass(ScalarField* viscon, float* src, float* dst, int width, int height, float lo,
                                     float hi, float min_radius, float max_radius) {
  variable = VariableBlock{viscon, src, dst, width, height, lo, hi, min_radius, max_radius};
  mp_exec(mp_DIRECT_variable_lowpass, height);
}

void FluidFlowCore::mp_DIRECT_variable_lowpass(void* solver, int first, int last) {
  FluidFlowCore* self = static_cast<FluidFlowCore*>(solver);
  const VariableBlock& b = self->variable;
  const ScalarField& control = *b.viscon;
  if (first > last) return;
  const int longest = b.width > b.height ? b.width : b.height;
  BandScratch<double> scratch(2u * static_cast<uint64_t>(longest) + b.width + b.height);
  double* const work = scratch.get();
  if (!work) {
    // Without working lines the band still leaves defined values: its rows unfiltered.
    std::memcpy(b.dst + static_cast<size_t>(first) * b.width, b.src + static_cast<size_t>(first) * b.width,
                static_cast<size_t>(last - first + 1) * b.width * sizeof(float));
    return;
  }
  GaussianTaps taps{work, work + longest, 0, 0, 0.0};
  double* const wx = work + 2 * longest;
  double* const wy = wx + b.width;
  // A single line has no spacing: its position is 0.
  auto position = [](int k, int n) { return n > 1 ? static_cast<float>(k - 1) / static_cast<float>(n - 1) : 0.0f; };
  // A wide window makes one pixel cost the whole grid, so the test is asked
  // between the rows of a window, once enough work has been done since the
  // last time; the first is asked before any.
  long long since_test = kWorkBetweenAbortTests;
  auto stop = [&] {
    if (since_test < kWorkBetweenAbortTests) return false;
    since_test = 0;
    return self->aborted();
  };
  for (int r = first; r <= last; ++r) {
    const float y = position(r, b.height);
    float* const out = b.dst + static_cast<size_t>(r) * b.width;
    for (int c = 0; c < b.width; ++c) {
      const float x = position(c, b.width);
      float val;
      control.evaluate(static_cast<float>(control.nx) * x + 1.0f, static_cast<float>(control.ny) * y + 1.0f, val,
                       false, true, b.low, b.high);
      // Equal bounds leave no range to place the value in: the smallest
      // radius holds.
      float sigma = b.min_radius;
      if (b.high != b.low) sigma = (val - b.low) / (b.high - b.low) * (b.max_radius - b.min_radius) + b.min_radius;
      // A radius that is not a number comes of infinite bounds (an infinite
      // step or viscosity gives inf - inf or 0 * inf): like an infinite one
      // it asks for the widest window.
      sigma = std::isnan(sigma) ? kLargestGaussianRadius : clamped(sigma, 1.0f, kLargestGaussianRadius);
      since_test += set_taps(taps, sigma, longest - 1);
      int x0, x1, y0, y1;
      line_weights(taps, c, b.width, wx, x0, x1);
      line_weights(taps, r, b.height, wy, y0, y1);
      double sum = 0.0, total_x = 0.0, total_y = 0.0;
      for (int i = y0; i <= y1; ++i) {
        if (stop()) return;
        sum += wy[i] * weighted_sum(wx + x0, b.src + static_cast<size_t>(i) * b.width + x0, x1 - x0 + 1);
        since_test += x1 - x0 + 1;
      }
      for (int j = x0; j <= x1; ++j) total_x += wx[j];
      for (int i = y0; i <= y1; ++i) total_y += wy[i];
      out[c] = static_cast<float>(sum / (total_x * total_y));
    }
  }
}
