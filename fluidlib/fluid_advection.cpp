#include "fluid_flow_core.h"
#include "fluid_numeric.h"
#include "q4_memory.h"
#include "q4_simd.h"

// Semi-Lagrangian advection: each cell is traced backward through the
// velocity with a Runge-Kutta integrator of several sub-steps. A scalar
// takes the weighted mean of its field along the traced path; the velocity
// takes its own value at the end of the path.
//
// Cells are traced a block at a time, each stage of the integrator one loop
// over the block, so that the DIRECT bilinear samples widen into vector
// gathers. A single point is a block of one: the arithmetic per cell is the
// same on every path.

namespace {

const int kBlock = 64;

// Sub-step k of steps: the weights rise linearly from the fraction of the
// path where averaging starts and reach 1 at the last sub-step.
float trace_weight(int k, int steps, float fraction) {
  const float w0 = static_cast<float>(steps - 1) * fraction;
  const float span = static_cast<float>(steps) - w0;
  const float q = (static_cast<float>(k + 1) - w0) / span;
  if (!(q >= 0.0f)) return 0.0f;
  return q < 1.0f ? q : 1.0f;
}

// The weighted mean along a path. Sub-steps of weight 0 are not sampled:
// they add nothing, and a non-finite value there would spoil the mean.
struct PathMean {
  float sum = 0.0f, total = 0.0f;
  void add(float weight, float value) {
    sum += weight * value;
    total += weight;
  }
  float mean() const { return sum / total; }
};

// What a trace needs of the solver and of the field it runs through.
struct Trace {
  VectorSampler velocity;
  float gx, gy, offset;  // a normalised position p is at grid g p + offset
  float centre;          // cell k of the layout starts its path at (k + centre) / n
  float h;               // length of a sub-step
  bool rk4;
  int steps;
};

Trace make_trace(const VectorField& f, float dt, bool rk4, bool cubic, int steps) {
  return Trace{VectorSampler{f.u, f.v, f.nx, f.ny, f.stride(), f.method == FIELD_FFT, cubic},
               static_cast<float>(f.nx),
               static_cast<float>(f.ny),
               f.method == FIELD_FFT ? -0.5f : 1.0f,
               f.method == FIELD_FFT ? 0.5f : 0.0f,
               dt / static_cast<float>(steps),
               rk4,
               steps};
}

// Velocities at n normalised positions. The DIRECT bilinear case is one
// loop without branches, so that it widens; the others go cell by cell.
Q4_SIMD_BODY void sample_velocity(const VectorSampler& s, float gx, float gy, float offset, const float* px,
                                  const float* py, float* ou, float* ov, int n) {
  if (!s.fft && !s.cubic) {
    for (int l = 0; l < n; ++l) {
      const AxisTaps tx = field_sampling::vector_direct(gx * px[l] + offset, s.nx);
      const AxisTaps ty = field_sampling::vector_direct(gy * py[l] + offset, s.ny);
      ou[l] = field_sampling::bilinear(s.u, s.stride, tx, ty);
      ov[l] = field_sampling::bilinear(s.v, s.stride, tx, ty);
    }
  } else {
    for (int l = 0; l < n; ++l) s(gx * px[l] + offset, gy * py[l] + offset, ou[l], ov[l]);
  }
}

// A scalar field at n normalised positions, sampled at grid n p + offset.
Q4_SIMD_BODY void sample_scalar(const ScalarSampler& s, float offset, const float* px, const float* py, float* out,
                                int n) {
  const float gx = static_cast<float>(s.nx), gy = static_cast<float>(s.ny);
  if (!s.fft && !s.cubic) {
    for (int l = 0; l < n; ++l) {
      const AxisTaps tx = field_sampling::scalar_direct(gx * px[l] + offset, s.nx);
      const AxisTaps ty = field_sampling::scalar_direct(gy * py[l] + offset, s.ny);
      out[l] = field_sampling::bilinear(s.data, s.stride, tx, ty);
    }
  } else {
    for (int l = 0; l < n; ++l) out[l] = s(gx * px[l] + offset, gy * py[l] + offset);
  }
}

// Positions one stage of the integrator ahead: p - step * d.
Q4_SIMD_BODY void stage(const Trace& t, const float* x, const float* y, const float* du, const float* dv, float step,
                        float* sx, float* sy, float* ou, float* ov, int n) {
  for (int l = 0; l < n; ++l) {
    sx[l] = x[l] - step * du[l];
    sy[l] = y[l] - step * dv[l];
  }
  sample_velocity(t.velocity, t.gx, t.gy, t.offset, sx, sy, ou, ov, n);
}

// Traces n <= kBlock cells backward; visit(k, x, y, n) sees their positions
// after each sub-step k.
template <typename Visit>
Q4_SIMD_BODY void trace_block(const Trace& t, float* x, float* y, int n, const Visit& visit) {
  float u1[kBlock], v1[kBlock], u2[kBlock], v2[kBlock], u3[kBlock], v3[kBlock], u4[kBlock], v4[kBlock];
  float sx[kBlock], sy[kBlock];
  const float h = t.h, half = 0.5f * h;
  for (int k = 0; k < t.steps; ++k) {
    sample_velocity(t.velocity, t.gx, t.gy, t.offset, x, y, u1, v1, n);
    if (t.rk4) {
      stage(t, x, y, u1, v1, half, sx, sy, u2, v2, n);
      stage(t, x, y, u2, v2, half, sx, sy, u3, v3, n);
      stage(t, x, y, u3, v3, h, sx, sy, u4, v4, n);
      for (int l = 0; l < n; ++l) {
        x[l] -= h * (u1[l] * 0.16666667f + u2[l] * 0.33333334f + u3[l] * 0.33333334f + u4[l] * 0.16666667f);
        y[l] -= h * (v1[l] * 0.16666667f + v2[l] * 0.33333334f + v3[l] * 0.33333334f + v4[l] * 0.16666667f);
      }
    } else {
      stage(t, x, y, u1, v1, h, sx, sy, u2, v2, n);
      for (int l = 0; l < n; ++l) {
        x[l] -= h * 0.5f * (u1[l] + u2[l]);
        y[l] -= h * 0.5f * (v1[l] + v2[l]);
      }
    }
    visit(k, x, y, n);
  }
}

struct IgnorePath {
  __attribute__((always_inline)) void operator()(int, const float*, const float*, int) const {}
};

// Keeps the positions of the sub-steps from first_kept on: per kept
// sub-step a run of x and a run of y of a row of `columns`.
struct KeepPath {
  float* out;
  int columns, first_kept, first_column;
  __attribute__((always_inline)) void operator()(int k, const float* x, const float* y, int n) const {
    if (k < first_kept) return;
    float* px = out + static_cast<size_t>(k - first_kept) * 2 * columns + first_column;
    float* py = px + columns;
    for (int l = 0; l < n; ++l) {
      px[l] = x[l];
      py[l] = y[l];
    }
  }
};

// Normalised x of `columns` cells from the cell at index first. A centre of
// 0 adds nothing to any cell index, so the DIRECT positions keep their bits.
Q4_SIMD_BODY void row_positions(int first, int n, int columns, float centre, float y, float* x, float* yy) {
  for (int l = 0; l < n; ++l) {
    x[l] = (static_cast<float>(first + l) + centre) / static_cast<float>(columns);
    yy[l] = y;
  }
}

Q4_SIMD_BODY void wrap_once(float* p, int n) {
  for (int l = 0; l < n; ++l) p[l] = p[l] < 0.0f ? p[l] + 1.0f : (p[l] > 1.0f ? p[l] - 1.0f : p[l]);
}

// One target row of an end-point advection: each cell traced back from its
// start, the end wrapped once where asked, and end(c0, x, y, n) handed the
// path ends of each block of cells.
template <typename End>
Q4_SIMD_BODY void advect_row(const Trace& t, float y, int columns, bool wrap_x, bool wrap_y, const End& end) {
  float x[kBlock], yy[kBlock];
  for (int c0 = 0; c0 < columns; c0 += kBlock) {
    const int n = columns - c0 < kBlock ? columns - c0 : kBlock;
    row_positions(c0, n, columns, t.centre, y, x, yy);
    trace_block(t, x, yy, n, IgnorePath());
    if (wrap_x) wrap_once(x, n);
    if (wrap_y) wrap_once(yy, n);
    end(c0, x, yy, n);
  }
}

// The traced field's own velocity where each path ends, read in the
// layout's grid positions as the trace reads it.
struct VelocityAtEnd {
  const Trace* t;
  float* u;
  float* v;
  __attribute__((always_inline)) void operator()(int c0, const float* x, const float* y, int n) const {
    sample_velocity(t->velocity, t->gx, t->gy, t->offset, x, y, u + c0, v + c0, n);
  }
};

// A scalar field of the trace's layout where each path ends.
struct ScalarAtEnd {
  const Trace* t;
  const ScalarSampler* s;
  float* out;
  __attribute__((always_inline)) void operator()(int c0, const float* x, const float* y, int n) const {
    sample_scalar(*s, t->offset, x, y, out + c0, n);
  }
};

Q4_SIMD_BODY void advect_velocity_row_body(const Trace* t, float y, int columns, bool wrap_x, bool wrap_y,
                                           float* out_u, float* out_v) {
  advect_row(*t, y, columns, wrap_x, wrap_y, VelocityAtEnd{t, out_u, out_v});
}

Q4_SIMD_DISPATCH(void, advect_velocity_row,
                 (const Trace* t, float y, int columns, bool wrap_x, bool wrap_y, float* out_u, float* out_v),
                 (t, y, columns, wrap_x, wrap_y, out_u, out_v))

Q4_SIMD_BODY void advect_scalar_row_body(const Trace* t, const ScalarSampler* s, float y, int columns, bool wrap_x,
                                         bool wrap_y, float* out) {
  advect_row(*t, y, columns, wrap_x, wrap_y, ScalarAtEnd{t, s, out});
}

Q4_SIMD_DISPATCH(void, advect_scalar_row,
                 (const Trace* t, const ScalarSampler* s, float y, int columns, bool wrap_x, bool wrap_y, float* out),
                 (t, s, y, columns, wrap_x, wrap_y, out))

// The path ends of a row kept for every scalar field of a step: the x of
// every column, then the y.
struct KeepEnd {
  float* out;
  int columns;
  __attribute__((always_inline)) void operator()(int c0, const float* x, const float* y, int n) const {
    for (int l = 0; l < n; ++l) {
      out[c0 + l] = x[l];
      out[columns + c0 + l] = y[l];
    }
  }
};

Q4_SIMD_BODY void trace_ends_row_body(const Trace* t, float y, int columns, bool wrap_x, bool wrap_y, float* out) {
  advect_row(*t, y, columns, wrap_x, wrap_y, KeepEnd{out, columns});
}

Q4_SIMD_DISPATCH(void, trace_ends_row, (const Trace* t, float y, int columns, bool wrap_x, bool wrap_y, float* out),
                 (t, y, columns, wrap_x, wrap_y, out))

// A scalar field at a row of kept path ends.
Q4_SIMD_BODY void sample_ends_row_body(const Trace* t, const ScalarSampler* s, const float* ends, int columns,
                                       float* out) {
  for (int c0 = 0; c0 < columns; c0 += kBlock) {
    const int n = columns - c0 < kBlock ? columns - c0 : kBlock;
    ScalarAtEnd{t, s, out}(c0, ends + c0, ends + columns + c0, n);
  }
}

Q4_SIMD_DISPATCH(void, sample_ends_row,
                 (const Trace* t, const ScalarSampler* s, const float* ends, int columns, float* out),
                 (t, s, ends, columns, out))

// The kept positions of one row of scalar cells.
Q4_SIMD_BODY void trace_row_body(const Trace* t, float y, int columns, int first_kept, float* out) {
  float x[kBlock], yy[kBlock];
  for (int c0 = 0; c0 < columns; c0 += kBlock) {
    const int n = columns - c0 < kBlock ? columns - c0 : kBlock;
    row_positions(c0, n, columns, t->centre, y, x, yy);
    trace_block(*t, x, yy, n, KeepPath{out, columns, first_kept, c0});
  }
}

Q4_SIMD_DISPATCH(void, trace_row, (const Trace* t, float y, int columns, int first_kept, float* out),
                 (t, y, columns, first_kept, out))

// One row of a scalar field's path means from kept positions.
Q4_SIMD_BODY void path_mean_row_body(const ScalarSampler* s, const float* path, int columns, int first_kept,
                                     int steps, float fraction, float* out) {
  float sum[kBlock], total[kBlock], value[kBlock];
  for (int c0 = 0; c0 < columns; c0 += kBlock) {
    const int n = columns - c0 < kBlock ? columns - c0 : kBlock;
    for (int l = 0; l < n; ++l) sum[l] = total[l] = 0.0f;
    for (int k = first_kept; k < steps; ++k) {
      const float w = trace_weight(k, steps, fraction);
      const float* px = path + static_cast<size_t>(k - first_kept) * 2 * columns + c0;
      sample_scalar(*s, 1.0f, px, px + columns, value, n);
      for (int l = 0; l < n; ++l) {
        sum[l] += w * value[l];
        total[l] += w;
      }
    }
    for (int l = 0; l < n; ++l) out[c0 + l] = sum[l] / total[l];
  }
}

Q4_SIMD_DISPATCH(void, path_mean_row,
                 (const ScalarSampler* s, const float* path, int columns, int first_kept, int steps, float fraction,
                  float* out),
                 (s, path, columns, first_kept, steps, fraction, out))

// The mean of a scalar field along one traced path, sub-step by sub-step.
struct SampleAlong {
  ScalarSampler field;
  int steps;
  float fraction;
  PathMean* mean;
  void operator()(int k, const float* x, const float* y, int) const {
    const float w = trace_weight(k, steps, fraction);
    if (w == 0.0f) return;
    float value;
    sample_scalar(field, 1.0f, x, y, &value, 1);
    mean->add(w, value);
  }
};

ScalarSampler sampler_of(const ScalarField& s, bool cubic) {
  return ScalarSampler{s.data, s.nx, s.ny, s.stride(), s.method == FIELD_FFT, cubic};
}

}  // namespace

float FluidFlowCore::trace_position_thru_velocity(float x, float y, float& xo, float& yo, const VectorField* f,
                                                  int steps, const ScalarField* s, float fraction) const {
  xo = x;
  yo = y;
  if (!f || !f->has_storage()) return 0.0f;
  if (steps < 1) steps = 1;
  fraction = clamped(fraction, 0.0f, 1.0f);
  const Trace t = make_trace(*f, dt, rk4 != 0, cubic != 0, steps);
  if (!s || !s->has_storage()) {
    trace_block(t, &xo, &yo, 1, IgnorePath());
    return 0.0f;
  }
  PathMean mean;
  trace_block(t, &xo, &yo, 1, SampleAlong{sampler_of(*s, cubic != 0), steps, fraction, &mean});
  return mean.mean();
}

// Rows first..last of the interior, in either layout.
void FluidFlowCore::mp_DSV_Advect(void* object, int first, int last) {
  FluidFlowCore* self = static_cast<FluidFlowCore*>(object);
  const VelocityAdvectionBlock& b = self->velocity_advection;
  const Trace t = make_trace(*b.source, self->dt, self->rk4 != 0, b.cubic != 0, 5);
  VectorField& dst = *b.target;
  const int w = dst.stride(), ghost = dst.method == FIELD_DIRECT ? 1 : 0;
  // With the texture flow present, positions stay where they were traced:
  // the image layer reads the same flow unwrapped.
  const bool wrap_x = b.wrap_x && !b.texture_flow, wrap_y = b.wrap_y && !b.texture_flow;
  for (int r = first; r <= last; ++r) {
    if (self->aborted()) return;
    const float y = (static_cast<float>(r) + t.centre) / static_cast<float>(b.rows);
    const int row = (r + ghost) * w + ghost;
    advect_velocity_row(&t, y, b.columns, wrap_x, wrap_y, dst.u + row, dst.v + row);
  }
}

void FluidFlowCore::FFT_advect_scalar(const ScalarField* s, ScalarField* target) {
  const Trace t = make_trace(*velocity, dt, rk4 != 0, cubic != 0, 5);
  const ScalarSampler sampler = sampler_of(*s, cubic != 0);
  const bool texture_flow = texture_u != nullptr;
  const bool wx = wrap_x && !texture_flow, wy = wrap_y && !texture_flow;
  const int w = target->stride(), columns = target->nx, rows = target->ny;
  TraceCache& cache = trace_cache;
  // The first scalar of a step traces the paths for all (the velocity does
  // not change between them) and keeps their wrapped ends.
  if (cache.state == TraceCache::WANTED) {
    cache.state = TraceCache::OFF;
    if (reserve_trace_cache(2LL * columns * rows)) {
      int j = 0;
      for (; j < rows && !aborted(); ++j) {
        const float y = (static_cast<float>(j) + t.centre) / static_cast<float>(rows);
        trace_ends_row(&t, y, columns, wx, wy, cache.positions + static_cast<size_t>(j) * 2 * columns);
      }
      if (j == rows) cache.state = TraceCache::READY;
    }
  }
  for (int j = 0; j < rows; ++j) {
    if (aborted()) return;
    float* out = target->data + j * w;
    if (cache.state == TraceCache::READY) {
      sample_ends_row(&t, &sampler, cache.positions + static_cast<size_t>(j) * 2 * columns, columns, out);
      continue;
    }
    const float y = (static_cast<float>(j) + t.centre) / static_cast<float>(rows);
    advect_scalar_row(&t, &sampler, y, columns, wx, wy, out);
  }
}

bool FluidFlowCore::reserve_trace_cache(long long floats) {
  TraceCache& t = trace_cache;
  if (floats > 0x7fffffff / static_cast<long long>(sizeof(float))) return false;
  if (floats > t.capacity) {
    if (t.positions) q4_free(t.positions, __FILE__, __LINE__);
    t.capacity = 0;
    t.positions = static_cast<float*>(q4_malloc(static_cast<unsigned>(floats * sizeof(float)), __FILE__, __LINE__));
    if (!t.positions) return false;
    t.capacity = static_cast<int>(floats);
  }
  return true;
}

bool FluidFlowCore::prepare_trace_cache() {
  TraceCache& t = trace_cache;
  const int steps = trace_steps;
  t.first_kept = 0;
  while (t.first_kept < steps - 1 && trace_weight(t.first_kept, steps, trace_weight_start) == 0.0f) ++t.first_kept;
  t.kept = steps - t.first_kept;
  if (!reserve_trace_cache(2LL * snx * sny * t.kept)) return false;
  t.incomplete = 0;
  mp_exec(mp_trace_cache, sny);
  return t.incomplete == 0;
}

void FluidFlowCore::mp_trace_cache(void* object, int first, int last) {
  FluidFlowCore* self = static_cast<FluidFlowCore*>(object);
  TraceCache& cache = self->trace_cache;
  const Trace t = make_trace(*self->velocity, self->dt, self->rk4 != 0, self->cubic != 0, self->trace_steps);
  const int columns = self->snx;
  for (int r = first + 1; r <= last + 1; ++r) {
    if (self->aborted()) {
      cache.incomplete = 1;
      return;
    }
    const float y = static_cast<float>(r - 1) / static_cast<float>(self->sny);
    trace_row(&t, y, columns, cache.first_kept,
              cache.positions + static_cast<size_t>(r - 1) * 2 * columns * cache.kept);
  }
}

void FluidFlowCore::mp_DSS_Advect(void* object, int first, int last) {
  FluidFlowCore* self = static_cast<FluidFlowCore*>(object);
  const ScalarAdvectionBlock& b = self->scalar_advection;
  const ScalarField& s = *b.field;
  ScalarField& dst = *b.target;
  const int w = dst.stride();
  const TraceCache& cache = self->trace_cache;
  const ScalarSampler sampler = sampler_of(s, b.cubic != 0);
  for (int r = first + 1; r <= last + 1; ++r) {
    if (self->aborted()) return;
    if (cache.state == TraceCache::READY) {
      path_mean_row(&sampler, cache.positions + static_cast<size_t>(r - 1) * 2 * b.columns * cache.kept, b.columns,
                    cache.first_kept, b.steps, b.weight_start, dst.data + r * w + 1);
      continue;
    }
    const float y = static_cast<float>(r - 1) / static_cast<float>(b.rows);
    for (int c = 1; c <= b.columns; ++c) {
      float xo, yo;
      dst.data[r * w + c] = self->trace_position_thru_velocity(static_cast<float>(c - 1) / static_cast<float>(b.columns),
                                                               y, xo, yo, b.velocity, b.steps, &s, b.weight_start);
    }
  }
}
