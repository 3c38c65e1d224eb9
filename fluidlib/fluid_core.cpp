#include <initializer_list>

#include "colour_ramp.h"
#include "fft_convolver.h"
#include "fluid_flow_core.h"
#include "fluid_numeric.h"
#include "q4_memory.h"

namespace {

int at_least_one(int n) { return n < 1 ? 1 : n; }

}  // namespace

FluidFlowCore::FluidFlowCore(int nx_, int ny_, int method_, int snx_, int sny_)
    : method(method_),
      nx(at_least_one(nx_)),
      ny(at_least_one(ny_)),
      snx(snx_ != 0 ? at_least_one(snx_) : at_least_one(nx_)),
      sny(snx_ != 0 ? at_least_one(sny_) : at_least_one(ny_)),
      force(new VectorField(nx, ny, method)),
      velocity(new VectorField(nx, ny, method)),
      advected(new VectorField(nx, ny, method)),
      viscosity(0.001f),
      dt(1.0f),
      vorticity(0.0f),
      scalar_scratch1(new ScalarField(snx, sny, method)),
      scalar_scratch2(new ScalarField(snx, sny, method)),
      grid_scratch1(new ScalarField(nx, ny, method)),
      grid_scratch2(new ScalarField(nx, ny, method)),
      rk4(1),
      cubic(0),
      trace_steps(5),
      trace_weight_start(1.0f),
      fields{},
      sources{},
      diffusion{},
      dissipation{},
      slots_used(0),
      density_field(nullptr),
      density_weight(0.0f),
      time_value(0.0f),
      temperature_field(nullptr),
      density_coefficient(0.0f),
      temperature_coefficient(0.0f),
      gravity_angle(0.0f),
      barrier_field(nullptr),
      boundary_layer_type(SLIPPERY),
      texture_u(nullptr),
      texture_v(nullptr),
      viscon_field(nullptr),
      viscon_max_rate(0.0f),
      viscon_low(0.0f),
      viscon_high(0.0f),
      texture_diffusion(0.0f),
      texture_dissipation(0.0f),
      walls{1, 1, 1, 1},
      wrap_x(0),
      wrap_y(0),
      executor(nullptr),
      hook_context(nullptr),
      abort_test(nullptr),
      timing_valid(0),
      total_time(0.0),
      velocity_time(0.0),
      scalar_time(0.0),
      scalar_solves(0),
      sor_threshold(64),
      sor{},
      box{},
      variable{},
      velocity_advection{},
      scalar_advection{},
      trace_cache{TraceCache::OFF, nullptr, 0, 0, 0, {0}},
      grid{} {
  // The pressure solve runs every step: its planes are made with the
  // solver, so a step never finds itself short of memory half-way.
  if (method == METHOD_DIRECT) ensure_sor_planes(nx, ny);
}

FluidFlowCore::~FluidFlowCore() {
  delete force;
  delete velocity;
  delete advected;
  delete scalar_scratch1;
  delete scalar_scratch2;
  delete grid_scratch1;
  delete grid_scratch2;
  delete fft;
  for (ScalarField* f : fields) delete f;
  delete texture_u;
  delete texture_v;
  mem_align_free(sor.planes, false);
  mem_align_free(sor.row_residual, false);
  q4_free(trace_cache.positions, __FILE__, __LINE__);
}

// The pressure solve's planes and row residuals for an nx x ny grid.
bool FluidFlowCore::ensure_sor_planes(int gnx, int gny) {
  if (sor.planes && sor.planes_nx == gnx && sor.planes_ny == gny) return true;
  const int stride = (gnx + 3) / 2;
  // A sweep stores to one plane while it loads from three others a few
  // vectors ahead; a load whose address matches an earlier store's below
  // 4 KiB waits for it. Planes a whole number of pages apart would match at
  // a few vectors' distance, so planes are 352 floats (1408 bytes) out of
  // step: every plane a sweep stores to then sits at least 1 KiB past the
  // planes it reads, modulo 4 KiB, for every pass.
  const long long pitch = (stride * (gny + 2LL) + 1023) / 1024 * 1024 + 352;
  const long long floats = SorBlock::PLANES * pitch;
  const long long doubles = SorBlock::MAX_FORK_PASSES * (gny + 2LL);
  if (floats * sizeof(float) > 0x7fffffffLL || doubles * sizeof(double) > 0x7fffffffLL) return false;
  float* planes = static_cast<float*>(mem_align_alloc(static_cast<unsigned>(floats * sizeof(float)), 32, false));
  double* rows = static_cast<double*>(mem_align_alloc(static_cast<unsigned>(doubles * sizeof(double)), 32, false));
  // The planes in hand are kept unless both new blocks were obtained.
  if (!planes || !rows) {
    mem_align_free(planes, false);
    mem_align_free(rows, false);
    return false;
  }
  mem_align_free(sor.planes, false);
  mem_align_free(sor.row_residual, false);
  sor.planes = planes;
  sor.row_residual = rows;
  sor.plane_stride = stride;
  sor.plane_pitch = static_cast<size_t>(pitch);
  sor.planes_nx = gnx;
  sor.planes_ny = gny;
  return true;
}

bool FluidFlowCore::has_storage() const {
  return force->has_storage() && velocity->has_storage() && advected->has_storage() &&
         scalar_scratch1->has_storage() && scalar_scratch2->has_storage() && grid_scratch1->has_storage() &&
         grid_scratch2->has_storage() && (method != METHOD_DIRECT || sor.planes);
}

void FluidFlowCore::set_time_step(float step) { dt = at_least(step, 1e-6f); }

void FluidFlowCore::set_viscosity(float v) { viscosity = at_least(v, 1e-10f); }

void FluidFlowCore::set_vorticity_confinement(float s) { vorticity = at_least(s, 0.0f); }

void FluidFlowCore::set_texture_diffusion_rate(float r) { texture_diffusion = at_least(r, 0.0f); }

void FluidFlowCore::set_texture_dissipation_rate(float r) { texture_dissipation = at_least(r, 0.0f); }

void FluidFlowCore::set_gravity_angle(float degrees) {
  gravity_angle = static_cast<float>(degrees * 0.017453292519943295);
}

void FluidFlowCore::set_time_value(float t) { time_value = t; }

void FluidFlowCore::trace_set_params(int steps, float fraction) {
  trace_steps = steps > 1 ? steps : 2;
  trace_weight_start = clamped(fraction, 0.0f, 1.0f);
}

void FluidFlowCore::set_wrapping(bool x, bool y) {
  wrap_x = x;
  wrap_y = y;
}

void FluidFlowCore::no_boundaries_mode(bool on) {
  const unsigned char closed = on ? 0 : 1;
  walls = Walls{closed, closed, closed, closed};
}

bool FluidFlowCore::set_boundary_layer_type(int type) {
  if (type < SLIPPERY || type > STICKY) return false;
  boundary_layer_type = type;
  return true;
}

void FluidFlowCore::DIRECT_SOR_set_mp_threshold(int n) { sor_threshold = n > 15 ? n : 16; }

void FluidFlowCore::DIRECT_SOR_set_fork_passes(int n) {
  sor.fork_passes = n < 0 ? 0 : n > SOR_MAX_FORK_PASSES ? SOR_MAX_FORK_PASSES : n;
}

bool FluidFlowCore::set_mp_exec(void* context, mp_exec_fn exec) {
  hook_context = context;
  executor = exec;
  for (VectorField* f : {force, velocity, advected}) f->set_mp_exec(context, exec);
  return true;
}

bool FluidFlowCore::set_abort_test(void* context, abort_test_fn test) {
  abort_test = test;
  for (VectorField* f : {force, velocity, advected}) f->set_abort_test(context, test);
  return true;
}

void FluidFlowCore::mp_exec(mp_worker_fn worker, int count) {
  if (executor && hook_context)
    executor(hook_context, worker, count, this);
  else
    worker(this, 0, count - 1);
}

bool FluidFlowCore::get_ats_timing_info(double& total, double& velocity_part, double& scalar_part,
                                        int& count) const {
  if (!timing_valid) {
    total = velocity_part = scalar_part = 0.0;
    count = 0;
    return false;
  }
  total = total_time;
  velocity_part = velocity_time;
  scalar_part = scalar_time;
  count = scalar_solves;
  return true;
}

void FluidFlowCore::apply_colour_map(float value, float& r, float& g, float& b, float lo, float hi,
                                     const float* pos, const float* R, const float* G, const float* B,
                                     int n) const {
  const float t = clamped((value - lo) / (hi - lo + 1e-7f), 0.0f, 1.0f);
  // Without entries there is nothing to index: the ramp is grey.
  if (n < 1 || !pos || !R || !G || !B) {
    r = g = b = t;
    return;
  }
  const RampPoint p = ramp_point(t, pos, n);
  r = ramp_value(p, R);
  g = ramp_value(p, G);
  b = ramp_value(p, B);
}
