// fft_rcs on small arrays of fuzzed shape, stride and data: the sizes and
// signs any caller might pass, sensible or not. A refused call leaves the
// data untouched; an accepted transform followed by the opposite one gives
// the data back times n.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fft_rcs.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const int n1 = in.in_range(1, 48), n2 = in.in_range(1, 12), n3 = in.in_range(1, 6);
  const int axis = in.in_range(0, 2);
  const int inc = in.in_range(1, 3);
  const int sign = in.in_range(0, 1) ? 1 : -1;
  const bool free_shape = in.in_range(0, 3) == 0;  // arbitrary n and nspan
  const int ntot = n1 * n2 * n3;
  int n = axis == 0 ? n1 : axis == 1 ? n2 : n3;
  int nspan = axis == 0 ? n1 : axis == 1 ? n1 * n2 : ntot;
  if (free_shape) {
    n = in.raw<int>();
    nspan = in.raw<int>();
  }
  std::vector<double> re(static_cast<size_t>(ntot) * inc), im(re.size());
  for (size_t k = 0; k < re.size(); ++k) {
    re[k] = in.raw<int16_t>();
    im[k] = in.raw<int16_t>();
  }
  const std::vector<double> re0 = re, im0 = im;
  const int result = fft_rcs(re.data(), im.data(), ntot, n, nspan, sign * inc);
  FUZZ_CHECK(result == 0 || result == 1);
  if (result == 1 || n < 2) {
    FUZZ_CHECK(re == re0 && im == im0);
    return 0;
  }
  FUZZ_CHECK(fft_rcs(re.data(), im.data(), ntot, n, nspan, -sign * inc) == 0);
  double largest = 1.0;
  for (size_t k = 0; k < re0.size(); ++k) largest = std::max({largest, std::fabs(re0[k]), std::fabs(im0[k])});
  const double tolerance = 1e-9 * largest * n * ntot;
  for (size_t k = 0; k < re.size(); ++k) {
    // Only every inc-th element belongs to the array; the others stay.
    const double scale = k % inc == 0 ? n : 1.0;
    FUZZ_CHECK(std::fabs(re[k] - scale * re0[k]) <= tolerance);
    FUZZ_CHECK(std::fabs(im[k] - scale * im0[k]) <= tolerance);
  }
  return 0;
}
