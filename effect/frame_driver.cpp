// Tidewright::ProcessFrame: the controls of one frame turned into one step
// of the fluid simulation and the picture it carries.
//
// Arithmetic follows the panel's units: products are formed in double from
// the single-precision constants (0.1f, 0.01f, ...) and rounded to float
// where the simulation takes them, so a frame depends only on the values
// the host gave.
#include <cmath>
#include <initializer_list>
#include <new>
#include <utility>

#include "fluid_flow.h"
#include "image_copy.h"
#include "tidewright.h"

namespace {

// The initial and per-frame random amplitudes are scaled by the float one
// step above 0.01.
const double random_scale = static_cast<double>(std::nextafter(0.01f, 1.0f));
const double degrees_to_radians = 0.017453292519943295;

float to_float(double v) { return static_cast<float>(v); }

// Each frame the picture may fade so that after `frames` frames `percent`
// of it is left: the rate r with (1 + r)^frames = 100 / percent, ln 10
// written as 2.3026.
float dissipation_rate(int frames, double percent) {
  return to_float(1.0 / std::exp(std::log10(static_cast<double>(0.01f) * percent) / frames * 2.3026) - 1.0);
}

bool has_field(const FluidFlow& flow, int slot) {
  return slot >= 0 && slot < FluidFlowCore::SLOT_COUNT && flow.fields[slot] != nullptr;
}

}  // namespace

Tidewright::~Tidewright() { DropSimulation(); }

void Tidewright::DropSimulation() {
  delete simulation;
  simulation = nullptr;
  delete texture;
  texture = nullptr;
  delete next_texture;
  next_texture = nullptr;
  restart = 1;
}

void Tidewright::ProcessFrame() {
  frame_failed = false;
  ImageQ4* result = Result.image;
  current_width = result->width;
  current_height = result->height;
  if (restart_on_process().value) restart = 1;
  texture_diffusion_rate = to_float(static_cast<double>(0.05f) * diffusion().value);
  texture_dissipation_rate =
      use_dissipation().value ? dissipation_rate(dissipation_frames().value, percent_left().value) : 0.0f;
  source_strength = to_float(source_strength_setting().value);
  sink_strength = to_float(-sink_strength_setting().value);
  viscosity = std::pow(10.0f, to_float(0.5 * viscosity_setting().value * 6.0 - 3.0));

  bool made = true;
  if (restart || current_width != restart_width || current_height != restart_height) {
    made = Restart();
    // The restart frame of the plain outputs is the input itself.
    if (made && output_choice().value <= 2) {
      image_copy(this, result, Input.image);
      return;
    }
  }
  // Without a restart due there is a simulation: only a restart or a
  // failed frame drops it, and both leave a restart due.
  if (made) made = Step() && Output() && AddSourcesAndSinks();
  if (!made) {
    // A half-made simulation is no state to go on from: let it go now,
    // while memory is short, and build afresh next frame.
    DropSimulation();
    frame_failed = true;
  }
}

bool Tidewright::Restart() {
  DropSimulation();
  restart_width = current_width;
  restart_height = current_height;
  grid_width = grid_height = finer_grid().value ? 256 : 128;
  random_type = random_force().value;
  restart = 0;

  simulation = new (std::nothrow) FluidFlow(grid_width, grid_height, FluidFlowCore::METHOD_DIRECT, 0, 0);
  if (!simulation || !simulation->has_storage() || !image_usable(simulation->scalar_grid_image) ||
      !image_usable(simulation->velocity_grid_image) || !simulation->resampler)
    return false;
  PluginQ4* plugin = this;
  simulation->set_mp_exec(plugin, lib_mp_exec);
  simulation->set_abort_test(plugin, lib_abort_render);
  simulation->set_time_step(1.0f);
  simulation->no_boundaries_mode(false);
  if (!simulation->create_texture_flow()) return false;

  texture = new (std::nothrow) ImageQ4(restart_width, restart_height, 1.0f, nullptr, nullptr);
  next_texture = new (std::nothrow) ImageQ4(restart_width, restart_height, 1.0f, nullptr, nullptr);
  if (!image_usable(texture) || !image_usable(next_texture)) return false;
  image_copy(this, texture, Input.image);

  density_field = simulation->create_scalar_field("density");
  temperature_field = simulation->create_scalar_field("temperature");
  if (density_field < 0 || temperature_field < 0) return false;
  if (use_barriers().value) {
    barrier_field = simulation->create_scalar_field("barrier");
    if (barrier_field < 0) return false;
    simulation->set_scalar_field_is_barrier_field(barrier_field);
    simulation->set_boundary_layer_type(boundary_layer().value);
  }

  const float initial = to_float(random_scale * initial_random().value);
  if (random_type == 1) {
    simulation->add_random_velocity_rectangle(0.0f, 0.0f, 1.0f, 1.0f, initial);
  } else {
    simulation->set_kolmogorov_k_inertial(to_float(eddy_size().value));
    simulation->add_kolmogorov_random_velocity_rectangle(0.0f, 0.0f, 1.0f, 1.0f, initial, to_float(frame / 25.0));
  }

  // The pressure modes start from a density already holding the picture.
  const ListControlQ4& buoyancy = buoyancy_mode();
  if (buoyancy.value == 4 || buoyancy.value == 5) {
    simulation->set_scalar_field_is_density_field(density_field, 0.01f);
    ImageQ4* seed = buoyancy.value == 4 ? Input.image : Alt.image;
    if (!simulation->insert_imageQ4_LUM_as_scalar(seed, density_field, 1.0f, false, false)) return false;
  }

  // "Restart On Process" restarts once, then clears itself in the host.
  if (restart_on_process().value) restart_on_process().SetValue(-1.0, 0);
  return true;
}

// Velocity regions, random forces, wind, vortex, buoyancy or pressure and
// gravity. Wind, vortex and gravity are called at strength 0 when off, and
// the random force at amplitude 0, so their generators keep pace.
void Tidewright::AddForces() {
  FluidFlow& flow = *simulation;
  struct Region {
    const CheckboxControlQ4& on;
    const PositionControlQ4& centre;
    const SizeControlQ4& width;
    const SizeControlQ4& height;
    const AngleControlQ4& direction;
    const FloatControlQ4& speed;
  };
  for (const Region& r :
       {Region{use_velocity_a(), centre_a(), scale_a_x(), scale_a_y(), velocity_a_direction(), vel_add_a()},
        Region{use_velocity_b(), centre_b(), scale_b_x(), scale_b_y(), velocity_b_direction(), vel_add_b()}}) {
    if (!r.on.value) continue;
    const float angle = to_float(r.direction.value * degrees_to_radians);
    const double speed = static_cast<double>(0.1f) * r.speed.value;
    flow.add_velocity_rectangle(to_float(r.centre.x - 0.5 * r.width.value), to_float(r.centre.y - 0.5 * r.height.value),
                                to_float(r.centre.x + 0.5 * r.width.value), to_float(r.centre.y + 0.5 * r.height.value),
                                to_float(speed * std::cos(angle)), to_float(speed * std::sin(angle)));
  }

  flow.set_force(0.0f, 0.0f);
  const float each = to_float(random_scale * each_random().value);
  if (random_type == 1)
    flow.add_random_force_rectangle(0.0f, 0.0f, 1.0f, 1.0f, each);
  else
    flow.add_kolmogorov_random_force_rectangle(0.0f, 0.0f, 1.0f, 1.0f, each, to_float(frame / 25.0));

  const double wind = use_wind1().value ? static_cast<double>(0.01f) * wind1_strength().value : 0.0;
  flow.add_force_angular_wind(to_float(wind), to_float(wind1_start().x), to_float(wind1_start().y),
                              to_float(wind1_end().x), to_float(wind1_end().y), to_float(wind1_tight().value),
                              wind1_local().value != 0);
  const double vortex = use_vortex1().value ? static_cast<double>(0.01f) * vortex1_strength().value : 0.0;
  flow.add_force_vortex(to_float(vortex), to_float(vortex1_centre().x), to_float(vortex1_centre().y),
                        to_float(vortex1_radius().value), 1.0f);
}

bool Tidewright::Step() {
  FluidFlow& flow = *simulation;
  flow.set_texture_diffusion_rate(texture_diffusion_rate);
  flow.set_texture_dissipation_rate(texture_dissipation_rate);
  flow.set_viscosity(viscosity);
  // "Use Barriers" ticked after a restart made without it has no field to
  // fill until the next restart.
  if (use_barriers().value && has_field(flow, barrier_field) &&
      !flow.insert_imageQ4_LUM_as_scalar(Barrier.image, barrier_field, 1.0f, false, false))
    return false;

  AddForces();

  const double rise = rise_fall().value >= 0.0 ? static_cast<double>(0.1f) * rise_fall().value : 0.0;
  const double fall = rise_fall().value < 0.0 ? static_cast<double>(0.1f) * -rise_fall().value : 0.0;
  switch (buoyancy_mode().value) {
    case 2:  // "Input Luma"
    case 3:  // "Alt Luma"
      flow.set_scalar_field_is_density_field(density_field, 0.01f);
      flow.set_scalar_field_is_temperature_field(temperature_field, to_float(static_cast<double>(0.01f) * fall),
                                                 to_float(static_cast<double>(0.01f) * rise));
      if (!flow.insert_imageQ4_LUM_as_scalar(buoyancy_mode().value == 2 ? Input.image : Alt.image, density_field, 1.0f,
                                             false, false))
        return false;
      flow.copy_scalar_field(density_field, temperature_field);
      flow.add_temperature_dependent_buoyancy_forces(false);
      break;
    case 4:  // "Pressure Input": a tenth of the picture gathers each frame
      if (!flow.insert_imageQ4_LUM_as_scalar(Input.image, temperature_field, 1.0f, false, false)) return false;
      flow.add_scalar_field(density_field, temperature_field, 0.1f);
      flow.add_pressure_forces(to_float(pressure_force().value));
      break;
    case 5:  // "Pressure Alt": the alt picture is the density
      if (!flow.insert_imageQ4_LUM_as_scalar(Alt.image, density_field, 1.0f, false, false)) return false;
      flow.add_pressure_forces(to_float(10.0 * pressure_force().value));
      break;
    default:
      break;
  }

  // Unticked, the gravity angle keeps its last value.
  if (use_gravity().value) {
    flow.set_gravity_angle(to_float(-(90.0 + gravity_direction().value)));
    flow.add_gravitational_forces(to_float(static_cast<double>(0.01f) * gravity_force().value));
  } else {
    flow.add_gravitational_forces(0.0f);
  }
  flow.set_vorticity_confinement(to_float(swirl().value));
  if (remove_net_force().value) flow.remove_net_force();
  // The DIRECT step of a solver with storage fails only when memory runs out.
  if (!flow.advance_time_step(true)) return false;
  flow.texture_diffuse_dissipate(texture);
  return true;
}

bool Tidewright::Output() {
  FluidFlow& flow = *simulation;
  ImageQ4* result = Result.image;
  const int output = output_choice().value;
  // The picture moves on only through a whole resampling: a failed one
  // must not replace it.
  if (output >= 1 && output <= 4) {
    if (!flow.resample_image_using_texture_field(texture, result, edge_escape().value != 0, next_texture))
      return false;
    std::swap(texture, next_texture);
  }
  switch (output) {
    case 1: return true;
    case 2:
      return flow.composite_over_by_alpha(BackG.image, result, result, premultiply_foreground().value != 0);
    case 3: return flow.composite_over_extract_matte(BackG.image, result, result);
    case 4: return flow.reduce_to_velocity_grid_resolution(result, false);
    case 5: return flow.get_velocity_grid_image(result);
    case 6:
      if (!use_barriers().value) {
        image_copy(this, result, Barrier.image);
        return true;
      }
      if (has_field(flow, barrier_field))
        return flow.get_scalar_field_magnitude_image(barrier_field, result, true, false, 0.0f, 0.0f);
      break;  // no barrier field until the next restart
    default:
      break;
  }
  // What no output draws is black, never what the memory held.
  result->Fill(0, 0, 0, 0);
  return true;
}

// After the output, so that what they add shows from the next frame on. A
// positive "Sink Strength" takes picture away.
bool Tidewright::AddSourcesAndSinks() {
  FluidFlow& flow = *simulation;
  struct Feed {
    int mode;
    ImageQ4* clip;
    float strength;
  };
  const Feed feeds[2] = {{source_mode().value, Sources.image, source_strength},
                         {sink_mode().value, Sinks.image, sink_strength}};
  for (const Feed& feed : feeds) {
    if (feed.mode != 2 && feed.mode != 3) continue;
    ImageQ4* from = feed.mode == 2 ? Input.image : feed.clip;
    if (!flow.add_source_for_texture_method_with_motion_blur(from, texture, feed.strength)) return false;
  }
  return true;
}
