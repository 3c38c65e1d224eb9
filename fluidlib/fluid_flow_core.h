#ifndef FLUID_FLOW_CORE_H
#define FLUID_FLOW_CORE_H

#include <atomic>

#include "field_bands.h"
#include "pressure_sweeps.h"
#include "q4_mp_hooks.h"
#include "scalar_field.h"
#include "vector_field.h"

// The two-dimensional fluid solver: a velocity grid (force, velocity and
// advected velocity), up to sixteen named scalar fields in slots with their
// roles, two texture-coordinate fields, and the two steps that advance
// them: the finite-difference one (DIRECT, method 2) and the spectral one
// (FFT, method 1, on a square periodic grid of a power-of-two side).
// Positions and sizes given to the public operations are fractions 0..1 of
// the grid; velocities are fractions of the grid per unit of time.
//
// Band work: every banded stage fills one of the private blocks below and
// starts its worker through mp_exec; each band writes only its own rows or
// columns, so results do not depend on the split. One stage runs at a time.
//
// A solver whose storage could not be allocated (has_storage() false) paints
// nothing and its steps return false.
class FluidFlowCore {
 public:
  enum { SLOT_COUNT = 16, METHOD_FFT = FIELD_FFT, METHOD_DIRECT = FIELD_DIRECT };
  enum { SLIPPERY = 1, ROUGH = 2, STICKY = 3 };
  // Red-black sweeps stop after this many half-sweeps without converging;
  // a fork runs up to SOR_MAX_FORK_PASSES of them.
  enum { SOR_MAX_HALF_SWEEPS = 10000, SOR_MAX_FORK_PASSES = SorBlock::MAX_FORK_PASSES };

  struct Walls {
    unsigned char x_low, x_high, y_high, y_low;
  };

  FluidFlowCore(int nx, int ny, int method, int snx, int sny);
  virtual ~FluidFlowCore();
  FluidFlowCore(const FluidFlowCore&) = delete;
  FluidFlowCore& operator=(const FluidFlowCore&) = delete;

  bool has_storage() const;

  // Parameters: each stores its argument after a clamp and never fails.
  void set_time_step(float step);
  void set_viscosity(float v);
  void set_vorticity_confinement(float s);
  void set_texture_diffusion_rate(float r);
  void set_texture_dissipation_rate(float r);
  void set_gravity_angle(float degrees);
  void set_time_value(float t);
  void trace_set_params(int steps, float fraction);
  void set_wrapping(bool x, bool y);
  void no_boundaries_mode(bool on);
  bool set_boundary_layer_type(int type);

  bool set_mp_exec(void* context, mp_exec_fn exec);
  bool set_abort_test(void* context, abort_test_fn test);
  // Runs worker over 0..count-1 through the executor when one is set with a
  // context, else once over the whole range on the calling thread.
  void mp_exec(mp_worker_fn worker, int count);

  // Scalar-field slots 0..15.
  int create_scalar_field(const char* name);
  void delete_scalar_field(int i);
  void copy_scalar_field(int from, int to);
  void normalize_scalar_field(int i);
  void multiply_scalar_field(int a, int b);
  void add_scalar_field(int a, int b, float s);
  bool set_scalar_time_value(int target, int mask, float t);
  bool set_scalar_field_diffusion_rate(int i, float r);
  bool set_scalar_field_dissipation_rate(int i, float r);
  bool set_scalar_field_source_field(int i, int src);
  bool set_scalar_field_is_density_field(int i, float weight);
  bool set_scalar_field_is_temperature_field(int i, float density_coef, float temperature_coef);
  bool set_scalar_field_is_barrier_field(int i);
  bool set_scalar_field_is_viscon_field(int i, float max_rate, float lo, float hi);
  bool set_scalar_field_rectangle(int i, float x0, float y0, float x1, float y1, float value);
  bool put_in_box();
  float evaluate_scalar_field(int i, float x, float y, bool cubic, bool clamp, float lo, float hi) const;

  void evaluate_velocity(float x, float y, float& u, float& v) const;
  // Renderings of a slot field and of the force and velocity fields (see
  // ScalarField::magnitude_image); null for an invalid or empty slot.
  image_data* scalar_field_magnitude_image(int i, bool recompute, bool fixed_range, float lo, float hi, int type);
  image_data* force_magnitude_image(bool recompute, int type);
  image_data* force_vector_image(bool recompute, int type);
  image_data* velocity_magnitude_image(bool recompute, int type);
  image_data* velocity_vector_image(bool recompute, int type);
  bool get_ats_timing_info(double& total, double& velocity_part, double& scalar_part, int& count) const;
  // Half-sweeps of the last pressure solve.
  int get_sor_half_sweeps() const { return sor.pass; }
  // Colour of value in an n-entry ramp of ascending positions; a ramp of no
  // entries is the grey ramp.
  void apply_colour_map(float value, float& r, float& g, float& b, float lo, float hi, const float* pos,
                        const float* R, const float* G, const float* B, int n) const;

  // Forces and velocity painting.
  void set_force(float fu, float fv);
  int add_force(float fu, float fv);
  void add_force_rectangle(float x0, float y0, float x1, float y1, float fu, float fv);
  void add_random_force_rectangle(float x0, float y0, float x1, float y1, float scale);
  void add_kolmogorov_random_force_rectangle(float x0, float y0, float x1, float y1, float scale, float time);
  void add_force_angular_wind(float s, float cx, float cy, float px, float py, float power, bool falloff);
  void add_force_vortex(float s, float cx, float cy, float r, float y_scale);
  void add_force_divergence(float s, float cx, float cy, float r, float y_scale);
  void set_velocity_rectangle(float x0, float y0, float x1, float y1, float u, float v, int mode);
  void add_velocity_rectangle(float x0, float y0, float x1, float y1, float u, float v);
  void add_random_velocity_rectangle(float x0, float y0, float x1, float y1, float scale);
  void add_kolmogorov_random_velocity_rectangle(float x0, float y0, float x1, float y1, float scale, float time);
  void add_velocity_vortex(float s, float cx, float cy, float r, float y_scale);
  void add_velocity_divergence(float s, float cx, float cy, float r, float y_scale);
  void set_kolmogorov_k_inertial(float k);
  void set_velocity_vertical_wedge(float x0, float y0, float x1, float y1, float s, float k);
  void add_buoyancy_forces();
  void add_temperature_dependent_buoyancy_forces(bool relative);
  void add_pressure_forces(float k);
  void add_gravitational_forces(float g);
  void remove_net_force();

  // The finite-difference velocity step and what it shares with the scalar
  // step.
  bool DIRECT_Velocity_Solver();
  void DIRECT_vorticity_confinement(VectorField* vel, ScalarField* w, ScalarField* wmag);
  void DIRECT_fix_velocity_components(float* u, float* v, int nx, int ny);
  void DIRECT_fix_velocities(VectorField* f);
  void DIRECT_set_continuity_boundaries(ScalarField* s);
  void DIRECT_Vector_Diffuse(VectorField* src, VectorField* dst);
  void DIRECT_Scalar_Diffuse(ScalarField* src, ScalarField* dst, float rate);
  void DIRECT_diffuse_lowpass(float* src, float* tmp, float* dst, int width, int height, float radius);
  void DIRECT_Vector_Variable_Diffuse(VectorField* src, VectorField* dst, ScalarField* viscon, float lo, float hi);
  void DIRECT_diffuse_variable_lowpass(ScalarField* viscon, float* src, float* dst, int width, int height,
                                       float lo, float hi, float min_radius, float max_radius);
  // Backward trace of a normalised position through f; the weighted mean of
  // s along the path (meaningless without s).
  float trace_position_thru_velocity(float x, float y, float& xo, float& yo, const VectorField* f, int steps,
                                     const ScalarField* s, float fraction) const;

  // Pressure projection.
  void DIRECT_Project(VectorField* vel, ScalarField* div, ScalarField* p);
  bool DIRECT_SOR(float a, float b, float c, float d, float e, float* p, float* rhs, int nx, int ny);
  void DIRECT_SOR_set_mp_threshold(int n);
  // Half-sweeps every fork of the pressure solve runs, 1 to
  // SOR_MAX_FORK_PASSES; 0, as made, leaves them to what forks cost. The
  // pressure and the half-sweeps it took do not depend on them.
  void DIRECT_SOR_set_fork_passes(int n);
  bool DIRECT_GS(float* p, float* rhs, int nx, int ny);

  // Scalar step and texture-coordinate flow.
  bool DIRECT_Scalar_Solver(ScalarField* s, ScalarField* source, float diffusion, float dissipation);
  bool create_texture_flow();
  bool init_texture_field();

  // The spectral step. Each solver returns false before any field changes
  // when the method, the grid or the FFT service does not allow it, and
  // false after a transform the service refused. After a refused transform,
  // or one the abort test stopped, the velocity keeps its advected value
  // and a scalar field its value from before the step.
  bool FFT_Velocity_Solver();
  bool FFT_Scalar_Solver(ScalarField* s, ScalarField* source, float diffusion, float dissipation);
  // Walls negate the normal velocity of the edge cells (the high walls that
  // of the second-to-last column and row); cells whose barrier value
  // exceeds 0.01 come to rest, except in the outermost column or row on a
  // side with a wall.
  void FFT_fix_velocities(VectorField* f);

  bool advance_time_step(bool reset_texture);

  // Band workers: (solver, first, last), bounds inclusive.
  static void mp_DSV_Advect(void* solver, int first, int last);
  static void mp_DSS_Advect(void* solver, int first, int last);
  static void mp_DIRECT_box_lowpass_horiz(void* solver, int first, int last);
  static void mp_DIRECT_box_lowpass_vert(void* solver, int first, int last);
  static void mp_DIRECT_variable_lowpass(void* solver, int first, int last);
  static void mp_SOR(void* solver, int first, int last);
  static void mp_DIRECT_box_lowpass_core(int radius, int passes, int n, float* buf, float* out);

  int method;
  int nx, ny;
  int snx, sny;
  VectorField* force;
  VectorField* velocity;
  VectorField* advected;
  float viscosity;
  float dt;
  float vorticity;
  // The spectral method's FFT service, made on its first step.
  FFTConvolver* fft = nullptr;
  ScalarField* scalar_scratch1;
  ScalarField* scalar_scratch2;
  ScalarField* grid_scratch1;
  ScalarField* grid_scratch2;
  unsigned char rk4;
  unsigned char cubic;
  int trace_steps;
  float trace_weight_start;
  ScalarField* fields[SLOT_COUNT];
  ScalarField* sources[SLOT_COUNT];
  float diffusion[SLOT_COUNT];
  float dissipation[SLOT_COUNT];
  int slots_used;
  ScalarField* density_field;
  float density_weight;
  float time_value;
  ScalarField* temperature_field;
  float density_coefficient;
  float temperature_coefficient;
  float gravity_angle;
  ScalarField* barrier_field;
  int boundary_layer_type;
  ScalarField* texture_u;
  ScalarField* texture_v;
  ScalarField* viscon_field;
  float viscon_max_rate, viscon_low, viscon_high;
  float texture_diffusion, texture_dissipation;
  Walls walls;
  unsigned char wrap_x, wrap_y;
  mp_exec_fn executor;
  void* hook_context;
  abort_test_fn abort_test;
  int timing_valid;
  double total_time, velocity_time, scalar_time;
  int scalar_solves;
  int sor_threshold;

 private:
  struct BoxBlock {
    float* src;
    float* dst;
    int width, height;
    float radius;
  };
  struct VariableBlock {
    ScalarField* viscon;
    float* src;
    float* dst;
    int width, height;
    float low, high, min_radius, max_radius;
  };
  struct VelocityAdvectionBlock {
    bool texture_flow;
    unsigned char cubic, wrap_x, wrap_y;
    VectorField* source;
    VectorField* target;
    int rows, columns;
  };
  struct ScalarAdvectionBlock {
    ScalarField* field;
    ScalarField* target;
    VectorField* velocity;
    unsigned char cubic;
    int rows, columns, steps;
    float weight_start;
  };
  // Traced positions of every scalar cell, shared by all scalar solves of
  // one step: the velocity and the trace parameters do not change between
  // them. Only sub-steps of non-zero weight are kept; the spectral step
  // keeps only each path's wrapped end.
  struct TraceCache {
    enum State { OFF, WANTED, READY };
    State state;
    float* positions;  // per row and kept sub-step: the x of every column, then the y
    int capacity;      // floats
    int first_kept;    // first sub-step of non-zero weight
    int kept;
    std::atomic<int> incomplete;  // a band was stopped before its last row
  };
  // The velocity-grid stages: vorticity (a: curl, b: its magnitude),
  // barriers, projection (a: divergence, b: pressure, h: cell size).
  struct GridBlock {
    float* u;
    float* v;
    float* a;
    float* b;
    int nx, ny;
    float h;
  };

  class SorStopRule;

  bool aborted() const { return abort_test && abort_test(hook_context); }
  // rows(first, last) over rows 0..count-1 in the executor's bands
  // (field_bands.h), for work of the calling thread between the stages.
  template <typename Rows>
  void in_bands(int count, const Rows& rows) {
    field_bands(hook_context, executor, count, rows);
  }
  // cell(k) for every interior cell k of the grid block's rows first + 1 ..
  // last + 1 (a band), in row order; an abort is heard once a row.
  template <typename Cell>
  void band_cells(int first, int last, Cell cell) const {
    const int w = grid.nx + 2;
    for (int j = first + 1; j <= last + 1; ++j) {
      if (aborted()) return;
      for (int i = 1; i <= grid.nx; ++i) cell(j * w + i);
    }
  }
  bool valid_slot(int i) const { return i >= 0 && i < SLOT_COUNT && fields[i]; }
  bool slots_match(int a, int b) const;
  // A DIRECT field of the given grid with its storage.
  static bool on_grid(const ScalarField* f, int gx, int gy) {
    return f && f->has_storage() && f->method == FIELD_DIRECT && f->nx == gx && f->ny == gy;
  }
  bool on_velocity_grid(const VectorField* f) const {
    return f && f->has_storage() && f->method == FIELD_DIRECT && f->nx == nx && f->ny == ny;
  }
  void clear_roles_of(ScalarField* f);
  void update_source_flags();
  // A normalised position as a cell index of the velocity grid.
  int velocity_cell(float p, int n) const;
  void paint_cells(float x0, float y0, float x1, float y1, int& i0, int& j0, int& i1, int& j1) const;
  template <typename Visit>
  void for_force_cells(Visit visit, bool in_order = false);
  float sample_at(const ScalarField* s, float fx, float fy) const;

  void box_lowpass(float* src, float* tmp, float* dst, int width, int height, float radius);
  void variable_lowpass(ScalarField* viscon, float* src, float* dst, int width, int height, float lo,
                        float hi, float min_radius, float max_radius);
  bool ensure_sor_planes(int nx, int ny);
  // The pressure solve's steps. rows(first, last) over 0..count-1, in
  // bands when the solve sweeps in bands.
  template <typename Rows>
  void sor_bands(int count, const Rows& rows) {
    if (sor.banded)
      in_bands(count, rows);
    else
      rows(0, count - 1);
  }
  // p and the right-hand sides into the planes; p back from the places of
  // each colour's latest values, sor.front.
  void sor_pack(const float* p, const float* rhs);
  void sor_unpack(float* p);
  // The next fork from pass `pass` on, omega its first pass's factor: the
  // half-sweeps it runs and the factor of each. Returns the pass of the
  // fork after which the solve ends, stopped or capped, or -1.
  int sor_plan_fork(int pass, double omega, double rho);
  void sor_run_fork();
  // Leaves sor.front and sor.pass at the last pass of the fork the solve
  // takes; the verdict there: 1 converged, -1 ended unconverged, 0 go on.
  int sor_take_fork(SorStopRule& rule, int stop);
  // Room for `floats` positions in the trace cache.
  bool reserve_trace_cache(long long floats);
  bool prepare_trace_cache();

  // Method 1 on a square grid the FFT service takes, with the service made
  // and given the solver's hooks.
  bool spectral_ready();
  // An FFT-layout field of the velocity grid with its storage.
  bool on_spectral_grid(const ScalarField* f) const {
    return f && f->has_storage() && f->method == FIELD_FFT && f->nx == nx && f->ny == ny;
  }
  // Viscosity and projection of f in one pass over its spectra.
  bool FFT_project(VectorField* f);
  // Calls visit(index, kx, ky, k2) for every spectrum cell of non-zero
  // frequency, asking the abort test before each row.
  template <typename Visit>
  void for_nonzero_frequencies(int n, Visit visit);
  void FFT_advect_scalar(const ScalarField* s, ScalarField* target);

  static void box_band(FluidFlowCore* self, int first, int last, bool columns);
  static void mp_vorticity_curl(void* solver, int first, int last);
  static void mp_vorticity_push(void* solver, int first, int last);
  static void mp_fix_barriers(void* solver, int first, int last);
  static void mp_divergence(void* solver, int first, int last);
  static void mp_subtract_gradient(void* solver, int first, int last);
  static void mp_trace_cache(void* solver, int first, int last);

  SorBlock sor;
  BoxBlock box;
  VariableBlock variable;
  VelocityAdvectionBlock velocity_advection;
  ScalarAdvectionBlock scalar_advection;
  TraceCache trace_cache;
  GridBlock grid;
};

#endif
