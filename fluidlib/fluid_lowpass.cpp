#include <cmath>
#include <cstring>

#include "fluid_flow_core.h"
#include "fluid_numeric.h"
#include "q4_memory.h"

// Diffusion: a separable three-pass box filter with running sums (its cost
// does not depend on the radius), or a Gaussian whose size follows a
// viscosity-control field. Rows and columns are filtered in bands; each band
// writes only its own lines of a destination that no band reads.

namespace {

// A variable Gaussian wider than this would only add clamped edge samples
// for ever; it also keeps the window size an int.
const float kLargestGaussianRadius = 4096.0f;

// One line of a grid: n samples from start, step apart.
struct Line {
  int start, step, n;
};

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
  // A single line has no spacing: its position is 0.
  auto position = [](int k, int n) { return n > 1 ? static_cast<float>(k - 1) / static_cast<float>(n - 1) : 0.0f; };
  for (int r = first; r <= last; ++r) {
    if (self->aborted()) return;
    const float y = position(r, b.height);
    for (int c = 0; c < b.width; ++c) {
      const float x = position(c, b.width);
      float val;
      control.evaluate(static_cast<float>(control.nx) * x + 1.0f, static_cast<float>(control.ny) * y + 1.0f, val,
                       false, true, b.low, b.high);
      // Equal bounds leave no range to place the value in: the smallest
      // radius holds.
      float sigma = b.min_radius;
      if (b.high != b.low) sigma = (val - b.low) / (b.high - b.low) * (b.max_radius - b.min_radius) + b.min_radius;
      sigma = clamped(sigma, 1.0f, kLargestGaussianRadius);
      const int R = static_cast<int>(std::ceil(sigma));
      const double s = sigma / 3.0;
      const double a = 1.0 / (s * s);
      double sum = 0.0, total = 0.0;
      for (int dy = -R; dy <= R; ++dy) {
        int row = r + dy;
        row = row < 0 ? 0 : (row > b.height - 1 ? b.height - 1 : row);
        const float* line = b.src + static_cast<size_t>(row) * b.width;
        for (int dx = -R; dx <= R; ++dx) {
          int col = c + dx;
          col = col < 0 ? 0 : (col > b.width - 1 ? b.width - 1 : col);
          const double weight = std::exp(-(dx * dx + dy * dy) * a / 2.0) * a * 0.15915494307111402;
          sum += weight * line[col];
          total += weight;
        }
      }
      b.dst[static_cast<size_t>(r) * b.width + c] = static_cast<float>(sum / total);
    }
  }
}
