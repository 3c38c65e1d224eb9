#include <algorithm>
#include <cmath>

#include "fluid_flow_core.h"
#include "fluid_numeric.h"

// The DIRECT scalar step (source, advection, diffusion, dissipation) and the
// texture-coordinate fields it also carries along the flow.

bool FluidFlowCore::DIRECT_Scalar_Solver(ScalarField* s, ScalarField* source, float rate, float fade) {
  if (method != METHOD_DIRECT || !on_grid(s, snx, sny) || !scalar_scratch1->has_storage() ||
      !scalar_scratch2->has_storage() || !velocity->has_storage())
    return false;
  if (source && !on_grid(source, snx, sny)) return false;
  const int w = snx + 2;
  if (source) {
    for (int j = 1; j <= sny; ++j)
      for (int i = 1; i <= snx; ++i) s->data[j * w + i] += dt * source->data[j * w + i];
    DIRECT_set_continuity_boundaries(s);
  }

  // The traced end positions are not used here, so wrapping does not enter.
  scalar_advection = ScalarAdvectionBlock{s, scalar_scratch1, velocity, cubic, sny, snx, trace_steps, trace_weight_start};
  if (trace_cache.state == TraceCache::WANTED)
    trace_cache.state = prepare_trace_cache() ? TraceCache::READY : TraceCache::OFF;
  mp_exec(mp_DSS_Advect, sny);
  DIRECT_set_continuity_boundaries(scalar_scratch1);

  // Texture coordinates are carried, never blurred.
  const bool blur = rate > 0.0f && !s->is_texture_field;
  if (blur)
    box_lowpass(scalar_scratch1->data, scalar_scratch2->data, s->data, snx + 2, sny + 2,
                rate * dt * std::sqrt(static_cast<float>(snx * sny)) * 0.25f);
  const float keep = 1.0f / (fade * dt + 1.0f);
  // The copy and the fade take each row alone: one pass in bands.
  if (!blur || keep != 1.0f)
    in_bands(s->rows(), [&](int first, int last) {
      if (!blur) s->copy_rows(scalar_scratch1, first, last);
      if (keep != 1.0f)
        for (int j = std::max(first, 1); j <= std::min(last, sny); ++j)
          for (int i = 1; i <= snx; ++i) s->data[j * w + i] *= keep;
    });
  DIRECT_set_continuity_boundaries(s);
  return true;
}

bool FluidFlowCore::create_texture_flow() {
  if (snx != nx || sny != ny) return false;
  // Made again from scratch: a second call must not leak the first pair.
  delete texture_u;
  delete texture_v;
  texture_u = new ScalarField(snx, sny, method);
  texture_v = new ScalarField(snx, sny, method);
  if (!texture_u->has_storage() || !texture_v->has_storage()) {
    delete texture_u;
    delete texture_v;
    texture_u = texture_v = nullptr;
    return false;
  }
  texture_u->is_texture_field = 1;
  texture_v->is_texture_field = 1;
  return true;
}

bool FluidFlowCore::init_texture_field() {
  if (snx != nx || sny != ny || !texture_u || !texture_v || !texture_u->has_storage() || !texture_v->has_storage())
    return false;
  int first, end, ghost;
  if (!field_axis_bounds(method, snx, first, end, ghost)) return false;
  const float hx = unit_spacing(snx), hy = unit_spacing(sny);
  // Without wrapping the ghosts repeat the edge coordinates 0 and 1; with
  // wrapping they continue the ramp one more step.
  auto coordinate = [&](int k, int n, float h, bool wrap) {
    const float base = static_cast<float>(k - first) * h;
    if (k == 0) return wrap ? base - h : 0.0f;
    if (k == n + 1) return wrap ? base + h : 1.0f;
    return base;
  };
  const int w = texture_u->stride();
  in_bands(texture_u->rows(), [&](int first, int last) {
    for (int j = first; j <= last; ++j) {
      const float row_value = coordinate(j, sny, hy, wrap_y != 0);
      for (int i = 0; i < w; ++i) {
        texture_u->data[j * w + i] = coordinate(i, snx, hx, wrap_x != 0);
        texture_v->data[j * w + i] = row_value;
      }
    }
  });
  return true;
}
