#ifndef MTRANDOM_H
#define MTRANDOM_H

#include <cstdint>

// The 32-bit Mersenne twister MT19937 with uniform and Gaussian variates.
// Seeded alike it reproduces the reference MT19937 output sequence; every
// variate consumes whole 32-bit outputs in order.
class MTRandom {
public:
  explicit MTRandom(unsigned seed);
  virtual ~MTRandom();

  uint32_t uint_random();
  int int_random();

  double double_random();
  double double_random_exclusive();
  double double_random_in_range(double a, double b);
  double double_random_in_range_exclusive(double a, double b);

  float float_random();
  float float_random_exclusive();
  float float_random_in_range(float a, float b);
  float float_random_in_range_exclusive(float a, float b);

  double double_gaussian_random();
  double double_gaussian_random_in_range(double mean, double spread);
  float float_gaussian_random();
  float float_gaussian_random_in_range(float mean, float spread);

private:
  static const int state_size = 624;

  void regenerate();

  uint32_t mt[state_size];
  int index;
  uint32_t mag01[2];
  float float_spare;
  bool float_spare_valid;
  double double_spare;
  bool double_spare_valid;
};

#endif
