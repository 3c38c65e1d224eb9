#include "fluid_flow_core.h"
#include "q4_sysinfo.h"

bool FluidFlowCore::advance_time_step(bool reset_texture) {
  timing_valid = 0;
  total_time = velocity_time = scalar_time = 0.0;
  scalar_solves = 0;
  const double start = q4mp_getclock();
  if (reset_texture && texture_u && texture_v) init_texture_field();

  // A method without a solver takes no step: a failure, not a quiet success.
  const bool spectral = method == METHOD_FFT;
  if (spectral ? !FFT_Velocity_Solver() : (method != METHOD_DIRECT || !DIRECT_Velocity_Solver())) return false;
  velocity_time = q4mp_getclock() - start;

  // Every scalar solve of this step traces the same paths through the same
  // velocity: the first one traces them for all.
  trace_cache.state = TraceCache::WANTED;
  bool ok = true;
  auto solve = [&](ScalarField* f, ScalarField* source, float rate, float fade) {
    const double t0 = q4mp_getclock();
    ok = ok && (spectral ? FFT_Scalar_Solver(f, source, rate, fade) : DIRECT_Scalar_Solver(f, source, rate, fade));
    scalar_time += q4mp_getclock() - t0;
    ++scalar_solves;
  };
  for (int i = 0; i < SLOT_COUNT && ok; ++i) {
    ScalarField* f = fields[i];
    if (f && !f->is_source_field && !f->is_barrier_field) solve(f, sources[i], diffusion[i], dissipation[i]);
  }
  if (ok && texture_u && texture_v) {
    solve(texture_u, nullptr, 0.0f, 0.0f);
    solve(texture_v, nullptr, 0.0f, 0.0f);
  }
  trace_cache.state = TraceCache::OFF;
  if (!ok) return false;

  total_time = q4mp_getclock() - start;
  if (scalar_solves >= 2) scalar_time /= scalar_solves;
  timing_valid = 1;
  return true;
}
