#include "mtrandom.h"

#include <cmath>

namespace {

const int shift_offset = 397;
const uint32_t upper_mask = 0x80000000u;
const uint32_t lower_mask = 0x7fffffffu;
const double closed_scale = 2.3283064370807974e-10;  // 1 / (2^32 - 1)
const double open_scale = 1.0 / 4294967296.0;        // 2^-32
const float below_one = 0.99999994f;                 // largest float under 1

// The polar method in T: two deviates from a point drawn uniformly inside the
// unit circle, one returned and one kept in `spare` for the next call. The
// logarithm is taken in double for both widths. uniform() is in [0, 1).
template <typename T, typename Uniform>
T polar_gaussian(Uniform uniform, T& spare, bool& spare_valid) {
  if (spare_valid) {
    spare_valid = false;
    return spare;
  }
  T x, y, s;
  do {
    const T u1 = static_cast<T>(uniform());
    const T u2 = static_cast<T>(uniform());
    x = T(2) * u1 - T(1);
    y = T(2) * u2 - T(1);
    s = x * x + y * y;
  } while (!(s > T(0) && s < T(1)));
  const T f = static_cast<T>(std::sqrt(-2.0 * std::log(static_cast<double>(s)) / s));
  spare = x * f;
  spare_valid = true;
  return y * f;
}

}  // namespace

MTRandom::MTRandom(unsigned seed)
    : index(state_size), float_spare(0.0f), float_spare_valid(false), double_spare(0.0),
      double_spare_valid(false) {
  mag01[0] = 0;
  mag01[1] = 0x9908b0dfu;
  mt[0] = seed;
  for (int i = 1; i < state_size; ++i)
    mt[i] = 1812433253u * (mt[i - 1] ^ (mt[i - 1] >> 30)) + static_cast<uint32_t>(i);
}

MTRandom::~MTRandom() {}

void MTRandom::regenerate() {
  int k = 0;
  for (; k < state_size - shift_offset; ++k) {
    const uint32_t y = (mt[k] & upper_mask) | (mt[k + 1] & lower_mask);
    mt[k] = mt[k + shift_offset] ^ (y >> 1) ^ mag01[y & 1];
  }
  for (; k < state_size - 1; ++k) {
    const uint32_t y = (mt[k] & upper_mask) | (mt[k + 1] & lower_mask);
    mt[k] = mt[k + shift_offset - state_size] ^ (y >> 1) ^ mag01[y & 1];
  }
  const uint32_t y = (mt[state_size - 1] & upper_mask) | (mt[0] & lower_mask);
  mt[state_size - 1] = mt[shift_offset - 1] ^ (y >> 1) ^ mag01[y & 1];
  index = 0;
}

uint32_t MTRandom::uint_random() {
  if (index >= state_size) regenerate();
  uint32_t y = mt[index++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9d2c5680u;
  y ^= (y << 15) & 0xefc60000u;
  y ^= y >> 18;
  return y;
}

int MTRandom::int_random() { return static_cast<int>(uint_random() >> 1); }

double MTRandom::double_random() { return uint_random() * closed_scale; }

double MTRandom::double_random_exclusive() { return uint_random() * open_scale; }

double MTRandom::double_random_in_range(double a, double b) { return a + (b - a) * double_random(); }

double MTRandom::double_random_in_range_exclusive(double a, double b) {
  return a + (b - a) * double_random_exclusive();
}

float MTRandom::float_random() { return static_cast<float>(uint_random() * closed_scale); }

// Rounding to float would turn the top 2^7 outputs into 1.0, which a
// half-open variate must never return (callers index arrays with it).
float MTRandom::float_random_exclusive() {
  const float x = static_cast<float>(uint_random() * open_scale);
  return x < 1.0f ? x : below_one;
}

float MTRandom::float_random_in_range(float a, float b) { return a + (b - a) * float_random(); }

float MTRandom::float_random_in_range_exclusive(float a, float b) {
  return a + (b - a) * float_random_exclusive();
}

double MTRandom::double_gaussian_random() {
  return polar_gaussian<double>([this] { return uint_random() * open_scale; }, double_spare, double_spare_valid);
}

double MTRandom::double_gaussian_random_in_range(double mean, double spread) {
  return mean + spread * double_gaussian_random();
}

float MTRandom::float_gaussian_random() {
  return polar_gaussian<float>([this] { return uint_random() * open_scale; }, float_spare, float_spare_valid);
}

float MTRandom::float_gaussian_random_in_range(float mean, float spread) {
  return mean + spread * float_gaussian_random();
}
