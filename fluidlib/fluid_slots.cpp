#include <initializer_list>

#include "fluid_flow_core.h"
#include "fluid_numeric.h"

// The sixteen scalar-field slots and the roles that point into them. A role
// never outlives its field: deleting a field clears every role and source
// entry that named it, since the next step would read freed memory.

bool FluidFlowCore::slots_match(int a, int b) const {
  return valid_slot(a) && valid_slot(b) && fields[a]->same_grid(fields[b]);
}

void FluidFlowCore::update_source_flags() {
  for (ScalarField* f : fields) {
    if (!f) continue;
    f->is_source_field = 0;
    for (ScalarField* s : sources)
      if (s == f) f->is_source_field = 1;
  }
}

void FluidFlowCore::clear_roles_of(ScalarField* f) {
  for (ScalarField*& s : sources)
    if (s == f) s = nullptr;
  for (ScalarField** role : {&density_field, &temperature_field, &barrier_field, &viscon_field})
    if (*role == f) *role = nullptr;
}

int FluidFlowCore::create_scalar_field(const char* name) {
  int slot = -1;
  for (int i = 0; i < slots_used && slot < 0; ++i)
    if (!fields[i]) slot = i;
  if (slot < 0) {
    if (slots_used >= SLOT_COUNT) return -1;
    slot = slots_used;
  }
  ScalarField* f = new ScalarField(snx, sny, method);
  if (!f->has_storage()) {
    delete f;
    return -1;
  }
  f->set_label(name);
  fields[slot] = f;
  if (slot == slots_used) ++slots_used;
  return slot;
}

void FluidFlowCore::delete_scalar_field(int i) {
  if (!valid_slot(i)) return;
  clear_roles_of(fields[i]);
  delete fields[i];
  fields[i] = nullptr;
  update_source_flags();
}

void FluidFlowCore::copy_scalar_field(int from, int to) {
  if (!slots_match(from, to)) return;
  ScalarField* target = fields[to];
  const ScalarField* source = fields[from];
  in_bands(target->rows(), [&](int first, int last) { target->copy_rows(source, first, last); });
}

void FluidFlowCore::normalize_scalar_field(int i) {
  if (valid_slot(i)) fields[i]->normalize(nullptr, nullptr);
}

void FluidFlowCore::multiply_scalar_field(int a, int b) {
  if (slots_match(a, b)) fields[a]->multiply_field(fields[b]);
}

void FluidFlowCore::add_scalar_field(int a, int b, float s) {
  if (slots_match(a, b)) fields[a]->add_field(fields[b], s);
}

bool FluidFlowCore::set_scalar_time_value(int target, int mask, float t) {
  if (!valid_slot(target) || !valid_slot(mask)) return false;
  if (fields[target]->same_grid(fields[mask])) fields[target]->add_time_field(fields[mask], t);
  return true;
}

bool FluidFlowCore::set_scalar_field_diffusion_rate(int i, float r) {
  if (i < 0 || i >= SLOT_COUNT) return false;
  diffusion[i] = r;
  return true;
}

bool FluidFlowCore::set_scalar_field_dissipation_rate(int i, float r) {
  if (i < 0 || i >= SLOT_COUNT) return false;
  dissipation[i] = r;
  return true;
}

bool FluidFlowCore::set_scalar_field_source_field(int i, int src) {
  // A slot outside the table or an empty source would be written or read
  // through null.
  if (i < 0 || i >= SLOT_COUNT || src >= SLOT_COUNT) return false;
  if (src >= 0 && !fields[src]) return false;
  sources[i] = src < 0 ? nullptr : fields[src];
  update_source_flags();
  return true;
}

bool FluidFlowCore::set_scalar_field_is_density_field(int i, float weight) {
  if (!valid_slot(i)) return false;
  density_field = fields[i];
  density_weight = weight;
  return true;
}

bool FluidFlowCore::set_scalar_field_is_temperature_field(int i, float density_coef, float temperature_coef) {
  if (!valid_slot(i)) return false;
  temperature_field = fields[i];
  density_coefficient = density_coef;
  temperature_coefficient = temperature_coef;
  return true;
}

bool FluidFlowCore::set_scalar_field_is_barrier_field(int i) {
  if (!valid_slot(i)) return false;
  // The flag follows the role: a former barrier field is solved again.
  if (barrier_field) barrier_field->is_barrier_field = 0;
  barrier_field = fields[i];
  barrier_field->is_barrier_field = 1;
  return true;
}

bool FluidFlowCore::set_scalar_field_is_viscon_field(int i, float max_rate, float lo, float hi) {
  if (i < 0) {
    viscon_field = nullptr;
    return true;
  }
  if (i >= SLOT_COUNT) return false;
  viscon_field = fields[i];
  viscon_max_rate = max_rate;
  viscon_low = lo;
  viscon_high = hi;
  return true;
}

bool FluidFlowCore::set_scalar_field_rectangle(int i, float x0, float y0, float x1, float y1, float value) {
  if (!valid_slot(i)) return false;
  // Bounds beyond the stored grid clamp alike, so they stop one cell out.
  auto cell = [](float p, int n) { return truncated_within(static_cast<float>(n) * p, -1, n + 2); };
  fields[i]->set_rectangle(cell(x0, snx), cell(y0, sny), cell(x1, snx), cell(y1, sny), value);
  return true;
}

bool FluidFlowCore::put_in_box() {
  ScalarField* box = nullptr;
  for (ScalarField* f : fields)
    if (!box && f && f->is_barrier_field) box = f;
  if (!box) return false;
  // Borders of 1 % at x-low and y-high and 0.5 % at x-high and y-low.
  box->set_rectangle(0, 0, static_cast<int>(snx * 0.01), sny, 1.0f);
  box->set_rectangle(static_cast<int>(snx * 0.995), 0, snx, sny, 1.0f);
  box->set_rectangle(0, 0, snx, static_cast<int>(sny * 0.005), 1.0f);
  box->set_rectangle(0, static_cast<int>(sny * 0.99), snx, sny, 1.0f);
  return true;
}

float FluidFlowCore::evaluate_scalar_field(int i, float x, float y, bool cubic_, bool clamp, float lo,
                                           float hi) const {
  float out = 0.0f;
  if (valid_slot(i)) fields[i]->evaluate(x, y, out, cubic_, clamp, lo, hi);
  return out;
}
