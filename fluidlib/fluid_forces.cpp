#include <cmath>

#include "fluid_flow_core.h"
#include "fluid_numeric.h"

// Forces and velocity painting: normalised positions become cells of the
// velocity grid, and the buoyancy, pressure and gravity forces are computed
// from the scalar fields at every interior force cell.

int FluidFlowCore::velocity_cell(float p, int n) const {
  const float offset = method == METHOD_DIRECT ? 1.0f : 0.0f;
  // Every bound beyond the stored grid clamps alike in the field, so the
  // value is held one cell out before it becomes an int.
  return truncated_within(static_cast<float>(n) * p + offset, -1, n + 2);
}

void FluidFlowCore::paint_cells(float x0, float y0, float x1, float y1, int& i0, int& j0, int& i1, int& j1) const {
  i0 = velocity_cell(x0, nx);
  j0 = velocity_cell(y0, ny);
  i1 = velocity_cell(x1, nx);
  j1 = velocity_cell(y1, ny);
}

void FluidFlowCore::set_force(float fu, float fv) { force->set(fu, fv); }

int FluidFlowCore::add_force(float fu, float fv) {
  if (!force->has_storage()) return 0;
  force->add(fu, fv);
  return force->cell_count();
}

void FluidFlowCore::add_force_rectangle(float x0, float y0, float x1, float y1, float fu, float fv) {
  int i0, j0, i1, j1;
  paint_cells(x0, y0, x1, y1, i0, j0, i1, j1);
  force->add_rectangle(i0, j0, i1, j1, fu, fv);
}

void FluidFlowCore::add_random_force_rectangle(float x0, float y0, float x1, float y1, float scale) {
  int i0, j0, i1, j1;
  paint_cells(x0, y0, x1, y1, i0, j0, i1, j1);
  force->add_random_vector_rectangle(i0, j0, i1, j1, scale);
}

void FluidFlowCore::add_kolmogorov_random_force_rectangle(float x0, float y0, float x1, float y1, float scale,
                                                          float time) {
  int i0, j0, i1, j1;
  paint_cells(x0, y0, x1, y1, i0, j0, i1, j1);
  force->add_kolmogorov_random_vector_rectangle(i0, j0, i1, j1, scale, time);
}

void FluidFlowCore::add_force_angular_wind(float s, float cx, float cy, float px, float py, float power,
                                           bool falloff) {
  force->add_angular_wind(s, nx * cx, ny * cy, nx * px, ny * py, power, falloff);
}

void FluidFlowCore::add_force_vortex(float s, float cx, float cy, float r, float y_scale) {
  force->add_vortex(s, nx * cx, ny * cy, nx * r, y_scale);
}

void FluidFlowCore::add_force_divergence(float s, float cx, float cy, float r, float y_scale) {
  force->add_divergence(s, nx * cx, ny * cy, nx * r, y_scale);
}

// Velocity painted into a rectangle is not disturbed by forces in that step.
void FluidFlowCore::set_velocity_rectangle(float x0, float y0, float x1, float y1, float u, float v, int mode) {
  int i0, j0, i1, j1;
  paint_cells(x0, y0, x1, y1, i0, j0, i1, j1);
  velocity->set_rectangle(i0, j0, i1, j1, u, v, mode);
  force->set_rectangle(i0, j0, i1, j1, 0.0f, 0.0f, 1);
}

void FluidFlowCore::add_velocity_rectangle(float x0, float y0, float x1, float y1, float u, float v) {
  int i0, j0, i1, j1;
  paint_cells(x0, y0, x1, y1, i0, j0, i1, j1);
  velocity->add_rectangle(i0, j0, i1, j1, u, v);
  force->set_rectangle(i0, j0, i1, j1, 0.0f, 0.0f, 1);
}

void FluidFlowCore::add_random_velocity_rectangle(float x0, float y0, float x1, float y1, float scale) {
  int i0, j0, i1, j1;
  paint_cells(x0, y0, x1, y1, i0, j0, i1, j1);
  velocity->add_random_vector_rectangle(i0, j0, i1, j1, scale);
  force->set_rectangle(i0, j0, i1, j1, 0.0f, 0.0f, 1);
}

void FluidFlowCore::add_kolmogorov_random_velocity_rectangle(float x0, float y0, float x1, float y1, float scale,
                                                             float time) {
  int i0, j0, i1, j1;
  paint_cells(x0, y0, x1, y1, i0, j0, i1, j1);
  velocity->add_kolmogorov_random_vector_rectangle(i0, j0, i1, j1, scale, time);
}

void FluidFlowCore::add_velocity_vortex(float s, float cx, float cy, float r, float y_scale) {
  velocity->add_vortex(s, nx * cx, ny * cy, nx * r, y_scale);
}

void FluidFlowCore::add_velocity_divergence(float s, float cx, float cy, float r, float y_scale) {
  velocity->add_divergence(s, nx * cx, ny * cy, nx * r, y_scale);
}

void FluidFlowCore::set_kolmogorov_k_inertial(float k) {
  force->set_kolmogorov_k_inertial(k);
  velocity->set_kolmogorov_k_inertial(k);
}

void FluidFlowCore::set_velocity_vertical_wedge(float x0, float y0, float x1, float y1, float s, float k) {
  if (!velocity->has_storage()) return;
  const float offset = method == METHOD_DIRECT ? 1.0f : 0.0f;
  const float X0 = nx * x0 + offset, X1 = nx * x1 + offset;
  // Cells outside the stored grid would be written past its end.
  const int w = velocity->stride(), h = field_rows(method, ny);
  const int first_col = truncated_within(X0, 0, w - 1), last_col = truncated_within(X1, 0, w - 1);
  const int first_row = truncated_within(ny * y0 + offset, 0, h - 1);
  const int last_row = truncated_within(ny * y1 + offset, 0, h - 1);
  if (last_row < first_row) return;
  const float centre = (X0 + X1) * 0.5f;
  const float span = X1 - X0;
  for (int j = first_row; j <= last_row; ++j) {
    for (int i = first_col; i <= last_col; ++i) {
      // A rectangle of no width has no tilt.
      const float t = span != 0.0f ? k * (static_cast<float>(i) - centre) / span : 0.0f;
      const float L = std::sqrt(t * t + 1.0f);
      const int cell = j * w + i;
      if (L > 1e-6f) {
        velocity->u[cell] = s * t / L;
        velocity->v[cell] = s / L;
      } else {
        velocity->u[cell] = t;
        velocity->v[cell] = 1.0f;
      }
    }
  }
}

float FluidFlowCore::sample_at(const ScalarField* s, float fx, float fy) const {
  float out;
  s->evaluate(static_cast<float>(s->nx) * fx + 1.0f, static_cast<float>(s->ny) * fy + 1.0f, out, false, false,
              0.0f, 1.0f);
  return out;
}

// Calls visit(cell, fx, fy) for every interior force cell with its
// normalised position, asking the abort test before each row: in the
// executor's bands when each visit touches only its cell, in row order
// when the visits add up a sum.
template <typename Visit>
void FluidFlowCore::for_force_cells(Visit visit, bool in_order) {
  if (!force->has_storage()) return;
  const int first = method == METHOD_DIRECT ? 1 : 0;
  const int w = force->stride();
  auto rows = [&](int from, int to) {
    for (int j = first + from; j <= first + to; ++j) {
      if (aborted()) return;
      const float fy = static_cast<float>(j - first) / static_cast<float>(ny);
      for (int i = first; i < first + nx; ++i)
        visit(j * w + i, static_cast<float>(i - first) / static_cast<float>(nx), fy);
    }
  };
  if (in_order)
    rows(0, ny - 1);
  else
    in_bands(ny, rows);
}

void FluidFlowCore::add_buoyancy_forces() {
  if (!density_field || !(std::fabs(density_weight) > 1e-10f)) return;
  const float up_x = std::sin(gravity_angle), up_y = std::cos(gravity_angle);
  for_force_cells([&](int k, float fx, float fy) {
    const float a = density_weight * sample_at(density_field, fx, fy);
    const float b = std::fabs(1.0f + a) > 1e-6f ? 1.0f / (1.0f + a) - 1.0f : 0.0f;
    force->u[k] += b * up_x;
    force->v[k] += b * up_y;
  });
}

void FluidFlowCore::add_temperature_dependent_buoyancy_forces(bool relative) {
  if (!density_field || !temperature_field) return;
  float mean = 0.0f;
  if (relative) {
    double sum = 0.0;
    long count = 0;
    for_force_cells(
        [&](int, float fx, float fy) {
          sum += sample_at(temperature_field, fx, fy);
          ++count;
        },
        true);
    // A pass stopped before its first row has no mean to subtract.
    if (count == 0) return;
    mean = static_cast<float>(sum / static_cast<double>(count));
  }
  const float up_x = std::sin(gravity_angle), up_y = std::cos(gravity_angle);
  for_force_cells([&](int k, float fx, float fy) {
    const float rho = sample_at(density_field, fx, fy);
    const float T = sample_at(temperature_field, fx, fy);
    const float rise = relative ? T - mean : (T > 0.0f ? T : 0.0f);
    const float F = temperature_coefficient * rise - density_coefficient * rho;
    force->u[k] += F * up_x;
    force->v[k] += F * up_y;
  });
}

void FluidFlowCore::add_pressure_forces(float k) {
  if (!density_field || k == 0.0f) return;
  const ScalarField* rho = density_field;
  const float hx = 1.0f / static_cast<float>(rho->nx), hy = 1.0f / static_cast<float>(rho->ny);
  for_force_cells([&](int cell, float fx, float fy) {
    const float gx = -0.5f * (sample_at(rho, fx + hx, fy) - sample_at(rho, fx - hx, fy));
    const float gy = -0.5f * (sample_at(rho, fx, fy + hy) - sample_at(rho, fx, fy - hy));
    force->u[cell] += k * gx;
    force->v[cell] += k * gy;
  });
}

void FluidFlowCore::add_gravitational_forces(float g) {
  if (!density_field || g == 0.0f) return;
  const float up_x = std::sin(gravity_angle), up_y = std::cos(gravity_angle);
  for_force_cells([&](int k, float fx, float fy) {
    const float F = g * sample_at(density_field, fx, fy);
    force->u[k] += -F * up_x;
    force->v[k] += -F * up_y;
  });
}

void FluidFlowCore::remove_net_force() {
  double sum_u = 0.0, sum_v = 0.0;
  long count = 0;
  for_force_cells(
      [&](int k, float, float) {
        sum_u += force->u[k];
        sum_v += force->v[k];
        ++count;
      },
      true);
  if (count == 0) return;
  const float mean_u = static_cast<float>(sum_u / static_cast<double>(count));
  const float mean_v = static_cast<float>(sum_v / static_cast<double>(count));
  for_force_cells([&](int k, float, float) {
    force->u[k] -= mean_u;
    force->v[k] -= mean_v;
  });
}
