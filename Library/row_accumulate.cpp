#include "row_accumulate.h"

#include "q4_simd.h"

namespace {

Q4_SIMD_BODY void accumulate_body(int64_t* acc, const unsigned short* samples, int count, int64_t weight) {
  for (int q = 0; q < count; ++q) acc[q] += weight * samples[q];
}
Q4_SIMD_DISPATCH(void, accumulate, (int64_t * acc, const unsigned short* samples, int count, int64_t weight),
                 (acc, samples, count, weight))

}  // namespace

void accumulate_shifted_row(int64_t* acc, const PixelQ4* row, int width, int offset, int64_t weight) {
  const int from = offset < 0 ? -offset : 0;
  const int to = offset > 0 ? width - offset : width;
  if (weight == 0 || from >= to) return;
  // A pixel is a plain record of four 16-bit channels, so the shifted row is
  // one run of samples.
  const unsigned short* samples = reinterpret_cast<const unsigned short*>(row + from + offset);
  accumulate(acc + 4 * static_cast<long>(from), samples, 4 * (to - from), weight);
}
