#include "krvft.h"

#include <climits>

#include "krvf.h"
#include "mtrandom.h"

namespace {

// t truncated toward zero, held inside the int range (NaN counts as 0).
int truncated_time(double t) {
  if (t >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (t <= static_cast<double>(INT_MIN)) return INT_MIN;
  if (!(t == t)) return 0;
  return static_cast<int>(t);
}

}  // namespace

KRVFT::KRVFT()
    : key0(nullptr), key1(nullptr), time_index(-1), n(0), k(0.0), amplitude(0.0), seed(0),
      generator(nullptr) {}

KRVFT::~KRVFT() {
  delete key0;
  delete key1;
  delete generator;
}

KRVF* KRVFT::make_key(int key_seed) {
  KRVF* key = new KRVF();
  key->set_parameters(key_seed, n, k, amplitude);
  return key;
}

bool KRVFT::set_parameters(double t0, int new_seed, int new_n, double new_k, double new_amplitude) {
  time_index = truncated_time(t0);
  seed = new_seed;
  delete generator;
  generator = new MTRandom(static_cast<unsigned>(seed));
  const int a = generator->int_random();
  const int b = generator->int_random();
  n = new_n;
  k = new_k;
  amplitude = new_amplitude;
  delete key0;
  delete key1;
  key0 = make_key(a);
  key1 = make_key(b);
  return key0->has_field() && key1->has_field();
}

bool KRVFT::vector_at_norm_pos(double x, double y, double z, double t, double& u, double& v,
                               double& w) {
  u = v = w = 0.0;
  if (!generator) return false;
  const int T = truncated_time(t);
  if (T != time_index) {
    time_index = T;
    delete key0;
    key0 = key1;
    key1 = make_key(generator->int_random());
  }
  double ua, va, wa, ub, vb, wb;
  const bool ok_a = key0->vector_at_norm_pos(x, y, z, ua, va, wa);
  const bool ok_b = key1->vector_at_norm_pos(x, y, z, ub, vb, wb);
  const double s = t - time_index;
  u = ua + (ub - ua) * s;
  v = va + (vb - va) * s;
  w = wa + (wb - wa) * s;
  return ok_a && ok_b;
}

bool KRVFT::vector_at_norm_pos(const double* pos, double t, double* out) {
  return vector_at_norm_pos(pos[0], pos[1], pos[2], t, out[0], out[1], out[2]);
}
