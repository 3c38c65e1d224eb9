#include "fluid_flow_core.h"

// Read-outs of the solver's fields at normalised positions and as pictures.

void FluidFlowCore::evaluate_velocity(float x, float y, float& u, float& v) const {
  velocity->evaluate(static_cast<float>(nx) * x + 1.0f, static_cast<float>(ny) * y + 1.0f, u, v, false);
}

image_data* FluidFlowCore::scalar_field_magnitude_image(int i, bool recompute, bool fixed_range, float lo,
                                                        float hi, int type) {
  return valid_slot(i) ? fields[i]->magnitude_image(recompute, fixed_range, lo, hi, type) : nullptr;
}

image_data* FluidFlowCore::force_magnitude_image(bool recompute, int type) {
  return force->magnitude_image(recompute, type);
}

image_data* FluidFlowCore::force_vector_image(bool recompute, int type) {
  return force->vector_image(recompute, type);
}

image_data* FluidFlowCore::velocity_magnitude_image(bool recompute, int type) {
  return velocity->magnitude_image(recompute, type);
}

image_data* FluidFlowCore::velocity_vector_image(bool recompute, int type) {
  return velocity->vector_image(recompute, type);
}
