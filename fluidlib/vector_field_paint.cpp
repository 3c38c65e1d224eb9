#include <cmath>

#include "field_bands.h"
#include "krvft.h"
#include "mtrandom.h"
#include "vector_field.h"

// The painters of a vector field. The effect calls several of them every
// frame with strength 0, so a zero strength returns at once: adding s * x
// with s = 0 would change no value. The interior painters run in the
// executor's bands: each cell is its own, so any split gives the same bits.

template <typename Visit>
void VectorField::for_rectangle(int x0, int y0, int x1, int y1, bool abortable, Visit visit) {
  if (!has_storage() || !field_clamp_rectangle(method, nx, ny, x0, y0, x1, y1)) return;
  const int w = stride();
  for (int j = y0; j <= y1; ++j) {
    if (abortable && aborted()) return;
    for (int i = x0; i <= x1; ++i) visit(j * w + i, i, j);
  }
}

template <typename Visit>
void VectorField::for_interior_painting(Visit visit) {
  int x0, x1, gx, y0, y1, gy;
  if (!has_storage() || !field_axis_bounds(method, nx, x0, x1, gx)) return;
  field_axis_bounds(method, ny, y0, y1, gy);
  const int w = stride();
  field_bands(hook_context, executor, y1 - y0, [&](int first, int last) {
    for (int j = y0 + first; j <= y0 + last; ++j) {
      if (aborted()) return;
      for (int i = x0; i < x1; ++i) visit(j * w + i, i, j);
    }
  });
  set_continuity_boundaries();
}

void VectorField::set_rectangle(int x0, int y0, int x1, int y1, float fu, float fv, int mode) {
  if (mode < 1 || mode > 6) return;
  for_rectangle(x0, y0, x1, y1, false, [&](int k, int, int) {
    switch (mode) {
      case 1: u[k] = fu, v[k] = fv; break;
      case 2: u[k] = fu; break;
      case 3: v[k] = fv; break;
      case 4: u[k] = -u[k], v[k] = -v[k]; break;
      case 5: u[k] = -u[k]; break;
      default: v[k] = -v[k]; break;
    }
  });
}

void VectorField::add_rectangle(int x0, int y0, int x1, int y1, float fu, float fv) {
  for_rectangle(x0, y0, x1, y1, false, [&](int k, int, int) {
    u[k] += fu;
    v[k] += fv;
  });
}

void VectorField::add_angular_wind(float s, float cx, float cy, float px, float py, float power,
                                   bool falloff) {
  const float dx = px - cx, dy = py - cy;
  const float length = std::sqrt(dx * dx + dy * dy);
  const float reach = length > 1e-5f ? length : 1e-5f;
  // Without a direction the wind adds nothing, even where c^power is not finite.
  if (s == 0.0f || !(length > 1e-5f)) {
    set_continuity_boundaries();
    return;
  }
  const float wx = dx / reach, wy = dy / reach;
  for_interior_painting([&](int k, int i, int j) {
    const float ex = static_cast<float>(i) - cx, ey = static_cast<float>(j) - cy;
    const float r = std::sqrt(ex * ex + ey * ey);
    float c = 0.0f;
    if (r > 1e-5f) c = (ex / r) * wx + (ey / r) * wy;
    if (c < 0.0f) c = 0.0f;
    const float fade = 1.0f - r / reach;
    // With a positive power, c^power is finite: behind the wind (c = 0) and
    // beyond its reach the weight is +0 exactly, without the power, which
    // costs more than the rest of the cell.
    float weight = 0.0f;
    if (!(power > 0.0f) || (c > 0.0f && (!falloff || fade > 0.0f))) {
      weight = powf(c, power);
      if (falloff) weight *= fade > 0.0f ? fade : 0.0f;
    }
    u[k] += s * wx * weight;
    v[k] += s * wy * weight;
  });
}

void VectorField::paint_around(float s, float cx, float cy, float radius, float y_scale, bool swirl) {
  if (s == 0.0f) {
    set_continuity_boundaries();
    return;
  }
  const float reach = radius > 1e-5f ? radius : 1e-5f;
  for_interior_painting([&](int k, int i, int j) {
    const float dy = (static_cast<float>(j) - cy) * y_scale;
    const float dx = static_cast<float>(i) - cx;
    const float r = std::sqrt(dx * dx + dy * dy);
    if (!(r > 1e-5f)) return;
    const float fade = 1.0f - r / reach;
    const float f = fade > 0.0f ? fade : 0.0f;
    const float along_x = s * f * dx / r, along_y = s * f * dy / r;
    if (swirl) {
      u[k] -= along_y;
      v[k] += along_x;
    } else {
      u[k] += along_x;
      v[k] += along_y;
    }
  });
}

void VectorField::add_vortex(float s, float cx, float cy, float radius, float y_scale) {
  paint_around(s, cx, cy, radius, y_scale, true);
}

void VectorField::add_divergence(float s, float cx, float cy, float radius, float y_scale) {
  paint_around(s, cx, cy, radius, y_scale, false);
}

void VectorField::add_random_vector_rectangle(int x0, int y0, int x1, int y1, float scale) {
  if (scale == 0.0f) return;
  // A fresh generator each call: the same call paints the same pattern.
  MTRandom random(static_cast<unsigned>(random_seed));
  for_rectangle(x0, y0, x1, y1, true, [&](int k, int, int) {
    const double a = random.double_random() * 6.283185;
    const double g = random.double_gaussian_random_in_range(0.0, scale);
    u[k] += g * std::cos(a);
    v[k] += g * std::sin(a);
  });
}

void VectorField::add_kolmogorov_random_vector_rectangle(int x0, int y0, int x1, int y1, float scale,
                                                         float time) {
  if (!has_storage()) return;
  if (!kolmogorov) {
    kolmogorov = new KRVFT();
    // A generator without its keyframes would paint zeros for ever: drop it
    // and build it again at the next call.
    if (!kolmogorov->set_parameters(0.0, kolmogorov_seed, 32, kolmogorov_k, 1.0)) {
      delete kolmogorov;
      kolmogorov = nullptr;
      return;
    }
  }
  double a, b, c;
  if (scale == 0.0f) {
    // The generator makes a keyframe at each new whole time it is asked
    // about; asking once keeps its keyframes as a painting would leave them.
    kolmogorov->vector_at_norm_pos(0.0, 0.0, 0.0, time, a, b, c);
    return;
  }
  const double sx = method == FIELD_FFT ? (nx > 1 ? 1.0 / (nx - 1) : 0.0) : 1.0 / (nx + 1);
  const double sy = method == FIELD_FFT ? (ny > 1 ? 1.0 / (ny - 1) : 0.0) : 1.0 / (ny + 1);
  for_rectangle(x0, y0, x1, y1, true, [&](int k, int i, int j) {
    kolmogorov->vector_at_norm_pos(i * sx, j * sy, 0.0, time, a, b, c);
    u[k] += static_cast<float>(scale * a);
    v[k] += static_cast<float>(scale * b);
  });
}
