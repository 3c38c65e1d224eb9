// One simulation step of the effect's 128 and 256 grids at its default
// controls, on 1 and 8 host workers through the framework's executor, after
// 50 warm-up steps, in the effect's finite-difference method and in the
// spectral method; the pressure solve on its own, per half-sweep; the
// viscosity-control low-pass on its own and how soon it hears an abort; and
// the memory-copy floor of the fields a step rewrites. Counters: the stage
// times the solver reports for its last step (ms) and the half-sweeps of the
// finite-difference pressure solve.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "PluginQ4.h"
#include "fluid_bench_flow.h"
#include "fluid_flow_core.h"
#include "q4_sysinfo.h"

namespace {

// The frame driver's calls at default controls: no random force, wind or
// vortex (strength 0, still called), buoyancy from the luminance of the
// input with temperature weight 0.001, no gravity, walls, texture flow.
struct Simulation {
  PluginQ4 plugin;
  std::unique_ptr<FluidFlowCore> flow;
  int density = -1, temperature = -1;
  int frame = 0;

  Simulation(int n, int workers, int method) {
    flow = bench_flow<FluidFlowCore>(plugin, workers, n, n, method);
    density = flow->create_scalar_field("density");
    temperature = flow->create_scalar_field("temperature");
    flow->add_random_velocity_rectangle(0, 0, 1, 1, 0.0f);
    for (int k = 0; k < 50; ++k) step();
  }

  // A luminance pattern standing in for the input clip, in field units.
  void insert_luminance() {
    ScalarField* f = flow->fields[density];
    const int n = f->nx, w = f->stride(), ghost = f->method == FIELD_DIRECT ? 1 : 0;
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) {
        const float x = static_cast<float>(i) / n, y = static_cast<float>(j) / n;
        f->data[(j + ghost) * w + i + ghost] = 0.5f + 0.4f * std::sin(9.0f * x + 0.1f * frame) * std::cos(7.0f * y);
      }
  }

  void paint_forces() {
    FluidFlowCore& s = *flow;
    s.set_texture_diffusion_rate(0.0f);
    s.set_texture_dissipation_rate(0.0f);
    s.set_viscosity(powf(10.0f, 0.5f * 0.01f * 6.0f - 3.0f));
    s.set_force(0, 0);
    s.add_random_force_rectangle(0, 0, 1, 1, 0.0f);
    s.add_force_angular_wind(0.0f, 0.25f, 0.5f, 0.75f, 0.5f, 1.0f, true);
    s.add_force_vortex(0.0f, 0.5f, 0.5f, 0.25f, 1.0f);
    s.set_scalar_field_is_density_field(density, 0.01f);
    s.set_scalar_field_is_temperature_field(temperature, 0.01f * 0.0f, 0.01f * 0.1f);
    insert_luminance();
    s.copy_scalar_field(density, temperature);
    s.add_temperature_dependent_buoyancy_forces(false);
    s.add_gravitational_forces(0.0f);
    s.set_vorticity_confinement(0.0f);
    ++frame;
  }

  void step() {
    paint_forces();
    flow->advance_time_step(true);
  }
};

// range(0): grid side, range(1): host workers.
void run_steps(benchmark::State& state, int method) {
  Simulation sim(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), method);
  double total = 0, velocity = 0, scalar = 0, sweeps = 0;
  for (auto _ : state) {
    state.PauseTiming();
    sim.paint_forces();
    state.ResumeTiming();
    sim.flow->advance_time_step(true);
    state.PauseTiming();
    double t, v, s;
    int count;
    sim.flow->get_ats_timing_info(t, v, s, count);
    total += t;
    velocity += v;
    scalar += s;
    sweeps += sim.flow->get_sor_half_sweeps();
    state.ResumeTiming();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["total_ms"] = 1e3 * total / n;
  state.counters["velocity_ms"] = 1e3 * velocity / n;
  state.counters["scalar_ms"] = 1e3 * scalar / n;
  if (method == FluidFlowCore::METHOD_DIRECT) state.counters["half_sweeps"] = sweeps / n;
}

void BM_FluidStep(benchmark::State& state) { run_steps(state, FluidFlowCore::METHOD_DIRECT); }
BENCHMARK(BM_FluidStep)
    ->ArgsProduct({{128, 256}, {1, 8}})
    ->ArgNames({"grid", "workers"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The same frame in the spectral method: the effect never runs it, so there
// is no target; the transforms run in bands, advection and the spectrum pass
// on the calling thread.
void BM_SpectralStep(benchmark::State& state) { run_steps(state, FluidFlowCore::METHOD_FFT); }
BENCHMARK(BM_SpectralStep)
    ->ArgsProduct({{128, 256}, {1, 8}})
    ->ArgNames({"grid", "workers"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The divergence of a smooth field with a little noise, the kind whose
// single-precision pressure settles above the solve's limit at 256 cells.
std::vector<float> smooth_divergence(FluidFlowCore& s, int n) {
  const int w = n + 2;
  for (int k = 0; k < w * w; ++k) {
    const double x = (k % w - 0.5) / n, y = (k / w - 0.5) / n, noise = 1e-5 * std::sin(12345.678 * k);
    s.velocity->u[k] = static_cast<float>(0.01 * std::sin(2 * M_PI * x) * std::cos(2 * M_PI * y) + noise);
    s.velocity->v[k] = static_cast<float>(0.01 * std::cos(3 * M_PI * x) * std::sin(M_PI * y) - noise);
  }
  s.DIRECT_Project(s.velocity, s.grid_scratch1, s.grid_scratch2);
  return std::vector<float>(s.grid_scratch1->data, s.grid_scratch1->data + w * w);
}

// The pressure solve of the warmed-up flow's last divergence (range(2) 0) or
// of the smooth field's (1), from p = 0.
void BM_PressureSolve(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Simulation sim(n, static_cast<int>(state.range(1)), FluidFlowCore::METHOD_DIRECT);
  FluidFlowCore& s = *sim.flow;
  std::vector<float> rhs(s.grid_scratch1->data, s.grid_scratch1->data + (n + 2) * (n + 2));
  if (state.range(2)) rhs = smooth_divergence(s, n);
  std::vector<float> p(rhs.size()), r(rhs);
  double seconds = 0, sweeps = 0;
  for (auto _ : state) {
    std::fill(p.begin(), p.end(), 0.0f);
    const double t0 = q4mp_getclock();
    s.DIRECT_SOR(-1, -1, -1, -1, 4, p.data(), r.data(), n, n);
    seconds += q4mp_getclock() - t0;
    sweeps += s.get_sor_half_sweeps();
  }
  state.counters["half_sweeps"] = sweeps / static_cast<double>(state.iterations());
  state.counters["us_per_half_sweep"] = 1e6 * seconds / sweeps;
}
BENCHMARK(BM_PressureSolve)
    ->ArgsProduct({{128, 256}, {1, 8}, {0, 1}})
    ->ArgNames({"grid", "workers", "smooth"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The viscosity-control low-pass of one velocity component with one radius
// everywhere: ordinary, and far wider than the grid.
void BM_VariableLowpass(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0)), w = n + 2;
  const float radius = static_cast<float>(state.range(1));
  PluginQ4 plugin;
  auto flow = bench_flow<FluidFlowCore>(plugin, static_cast<int>(state.range(2)), n, n, FluidFlowCore::METHOD_DIRECT);
  ScalarField control(n, n, FIELD_DIRECT);
  std::vector<float> src(static_cast<size_t>(w) * w), dst(src.size());
  for (size_t k = 0; k < src.size(); ++k) src[k] = std::sin(0.1f * static_cast<float>(k));
  for (auto _ : state)
    flow->DIRECT_diffuse_variable_lowpass(&control, src.data(), dst.data(), w, w, 0, 1, radius, radius);
}
BENCHMARK(BM_VariableLowpass)
    ->ArgsProduct({{16, 128, 256}, {3, 10000}, {1, 8}})
    ->ArgNames({"grid", "radius", "workers"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// An abort raised 2 ms into the widest low-pass of a component of the 256
// grid; heard_ms: from the raise to the return.
std::atomic<double> abort_at{0.0};
int past_abort_time(void*) { return q4mp_getclock() >= abort_at.load(std::memory_order_relaxed); }

void BM_VariableLowpassAbort(benchmark::State& state) {
  const int n = 256, w = n + 2;
  PluginQ4 plugin;
  auto flow = bench_flow<FluidFlowCore>(plugin, static_cast<int>(state.range(0)), n, n, FluidFlowCore::METHOD_DIRECT);
  flow->set_abort_test(&plugin, past_abort_time);
  ScalarField control(n, n, FIELD_DIRECT);
  std::vector<float> src(static_cast<size_t>(w) * w, 1.0f), dst(src.size());
  double heard = 0;
  for (auto _ : state) {
    abort_at = q4mp_getclock() + 0.002;
    flow->DIRECT_diffuse_variable_lowpass(&control, src.data(), dst.data(), w, w, 0, 1, 1e4f, 1e4f);
    heard += q4mp_getclock() - abort_at;
  }
  state.counters["heard_ms"] = 1e3 * heard / static_cast<double>(state.iterations());
}
BENCHMARK(BM_VariableLowpassAbort)->Arg(1)->Arg(8)->ArgName("workers")->Unit(benchmark::kMillisecond)->UseRealTime();

// The floor: copying every block a step rewrites (three vector fields, two
// slot fields, two texture fields, four scratch fields) once.
void BM_FieldCopyFloor(benchmark::State& state) {
  const size_t cells = static_cast<size_t>(state.range(0) + 2) * (state.range(0) + 2);
  const size_t blocks = 3 * 2 + 2 + 2 + 4;
  std::vector<float> from(cells * blocks, 1.0f), to(cells * blocks);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size() * sizeof(float));
    benchmark::DoNotOptimize(to.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * from.size() * sizeof(float)));
}
BENCHMARK(BM_FieldCopyFloor)->Arg(128)->Arg(256)->ArgName("grid")->Unit(benchmark::kMicrosecond);

}  // namespace
