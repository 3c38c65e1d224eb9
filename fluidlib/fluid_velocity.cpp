#include <cmath>

#include "fluid_flow_core.h"
#include "fluid_numeric.h"

// The finite-difference velocity step: forces, vorticity confinement, wall
// and barrier fix-up, advection, diffusion and projection.

bool FluidFlowCore::DIRECT_Velocity_Solver() {
  if (method != METHOD_DIRECT || !has_storage()) return false;
  const int w = velocity->stride();
  in_bands(field_rows(method, ny), [&](int first, int last) {
    for (int k = first * w; k < (last + 1) * w; ++k) {
      velocity->u[k] += dt * force->u[k];
      velocity->v[k] += dt * force->v[k];
    }
  });
  DIRECT_vorticity_confinement(velocity, grid_scratch1, grid_scratch2);
  DIRECT_fix_velocities(velocity);

  velocity_advection = VelocityAdvectionBlock{texture_u != nullptr, cubic, wrap_x, wrap_y, velocity, advected, ny, nx};
  mp_exec(mp_DSV_Advect, ny);
  DIRECT_fix_velocities(advected);

  if (viscon_field && viscon_field->has_storage())
    DIRECT_Vector_Variable_Diffuse(advected, velocity, viscon_field, viscon_low, viscon_high);
  else
    DIRECT_Vector_Diffuse(advected, velocity);

  DIRECT_Project(velocity, grid_scratch1, grid_scratch2);
  DIRECT_fix_velocities(velocity);
  return true;
}

void FluidFlowCore::DIRECT_vorticity_confinement(VectorField* vel, ScalarField* w, ScalarField* wmag) {
  if (!(vorticity >= 0.0001f)) return;
  if (!on_velocity_grid(vel) || !on_grid(w, nx, ny) || !on_grid(wmag, nx, ny)) return;
  // The magnitude's ghost ring counts as 0 at the walls; the first pass
  // writes only the interior.
  const int stride = nx + 2;
  for (int i = 0; i < stride; ++i) wmag->data[i] = wmag->data[(ny + 1) * stride + i] = 0.0f;
  for (int j = 1; j <= ny; ++j) wmag->data[j * stride] = wmag->data[j * stride + nx + 1] = 0.0f;
  grid = GridBlock{vel->u, vel->v, w->data, wmag->data, nx, ny, 0.0f};
  mp_exec(mp_vorticity_curl, ny);
  mp_exec(mp_vorticity_push, ny);
}

void FluidFlowCore::mp_vorticity_curl(void* solver, int first, int last) {
  FluidFlowCore* self = static_cast<FluidFlowCore*>(solver);
  const GridBlock& g = self->grid;
  const int w = g.nx + 2;
  self->band_cells(first, last, [&](int k) {
    const float curl = 0.5f * ((g.u[k + w] - g.u[k - w]) - (g.v[k + 1] - g.v[k - 1]));
    g.a[k] = curl;
    g.b[k] = std::fabs(curl);
  });
}

void FluidFlowCore::mp_vorticity_push(void* solver, int first, int last) {
  FluidFlowCore* self = static_cast<FluidFlowCore*>(solver);
  const GridBlock& g = self->grid;
  const int w = g.nx + 2;
  const float gain = self->vorticity * self->dt;
  self->band_cells(first, last, [&](int k) {
    const float Nx = 0.5f * (g.b[k + 1] - g.b[k - 1]);
    const float Ny = 0.5f * (g.b[k + w] - g.b[k - w]);
    const float q = 1.0f / std::sqrt(Nx * Nx + Ny * Ny + 1e-6f);
    g.u[k] += gain * (-Ny * q * g.a[k]);
    g.v[k] += gain * (Nx * q * g.a[k]);
  });
}

void FluidFlowCore::DIRECT_fix_velocities(VectorField* f) {
  if (on_velocity_grid(f)) DIRECT_fix_velocity_components(f->u, f->v, nx, ny);
}

void FluidFlowCore::DIRECT_fix_velocity_components(float* u, float* v, int gnx, int gny) {
  if (!u || !v || gnx < 1 || gny < 1) return;
  const int w = gnx + 2;
  // Only the normal component meets a wall: negated at a solid wall, copied
  // at an open one.
  const float x_low = walls.x_low ? -1.0f : 1.0f, x_high = walls.x_high ? -1.0f : 1.0f;
  const float y_low = walls.y_low ? -1.0f : 1.0f, y_high = walls.y_high ? -1.0f : 1.0f;
  for (int j = 0; j <= gny + 1; ++j) {
    float* row = u + j * w;
    row[0] = x_low * row[1];
    row[gnx + 1] = x_high * row[gnx];
  }
  for (int i = 0; i <= gnx + 1; ++i) {
    v[i] = y_low * v[w + i];
    v[(gny + 1) * w + i] = y_high * v[gny * w + i];
  }
  field_ghost_corners(u, gnx, gny);
  field_ghost_corners(v, gnx, gny);
  if (!barrier_field || !barrier_field->has_storage()) return;
  grid = GridBlock{u, v, nullptr, nullptr, gnx, gny, 0.0f};
  mp_exec(mp_fix_barriers, gny);
}

void FluidFlowCore::mp_fix_barriers(void* solver, int first, int last) {
  FluidFlowCore* self = static_cast<FluidFlowCore*>(solver);
  const GridBlock& g = self->grid;
  const ScalarField& barrier = *self->barrier_field;
  const int w = g.nx + 2;
  const float hx = unit_spacing(g.nx), hy = unit_spacing(g.ny);
  const float bx = static_cast<float>(barrier.nx), by = static_cast<float>(barrier.ny);
  auto inside = [&](float x, float y) {
    float b;
    barrier.evaluate(bx * x + 1.0f, by * y + 1.0f, b, false, false, 0.0f, 1.0f);
    return b > 0.5f;
  };
  for (int j = first + 1; j <= last + 1; ++j) {
    const float y = static_cast<float>(j - 1) * hy;
    for (int i = 1; i <= g.nx; ++i) {
      const int k = j * w + i;
      const float x = static_cast<float>(i - 1) * hx;
      if (inside(x, y)) {
        g.u[k] = 0.0f;
        g.v[k] = 0.0f;
        continue;
      }
      int count = 0;
      float Nx = 0.0f, Ny = 0.0f;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          if ((dx == 0 && dy == 0) || !inside(x + dx * hx, y + dy * hy)) continue;
          ++count;
          Nx -= static_cast<float>(dx);
          Ny -= static_cast<float>(dy);
        }
      if (count == 0) continue;
      const float n = std::sqrt(Nx * Nx + Ny * Ny);
      if (n > 1e-7f) {
        Nx /= n;
        Ny /= n;
      }
      const float speed = std::sqrt(g.u[k] * g.u[k] + g.v[k] * g.v[k]);
      const float c = speed > 1e-7f ? (g.u[k] * Ny - g.v[k] * Nx) / speed : 0.0f;
      const float scale = self->boundary_layer_type == ROUGH ? -c : (self->boundary_layer_type == STICKY ? 0.5f : c);
      g.u[k] *= scale;
      g.v[k] *= scale;
    }
  }
}

void FluidFlowCore::DIRECT_set_continuity_boundaries(ScalarField* s) {
  if (s && s->has_storage() && s->method == FIELD_DIRECT) field_continuity_boundaries(s->data, s->nx, s->ny);
}
