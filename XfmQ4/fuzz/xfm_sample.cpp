// The transform library's samplers on small frame images of fuzzed size
// and pixels, in every mode and arithmetic, at fuzzed positions and
// footprints (NaN, infinities and huge values included), then an affine
// transform and a scaling built from fuzzed numbers. No sample may leave
// the 15-bit range.
#include <cstdint>
#include <cstring>
#include <memory>

#include "ImageQ4.h"
#include "ImageXfmQ4.h"
#include "fuzz_input.h"

namespace {

std::unique_ptr<ImageQ4> frame_image(FuzzInput& in) {
  const int width = in.in_range(1, 12), height = in.in_range(1, 12);
  std::unique_ptr<ImageQ4> img(new ImageQ4(width, height, 1.0f, nullptr, nullptr));
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++) {
      PixelQ4& p = img->rows[y][x];
      p.r = in.raw<uint16_t>() & 0x7fff;
      p.g = in.raw<uint16_t>() & 0x7fff;
      p.b = in.raw<uint16_t>() & 0x7fff;
      p.a = in.raw<uint16_t>() & 0x7fff;
    }
  return img;
}

void check(const PixelQ4& p) { FUZZ_CHECK(p.r <= 32767 && p.g <= 32767 && p.b <= 32767 && p.a <= 32767); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  ImageXfmQ4 xfm;
  xfm.sampleMode(in.in_range(0, 7));
  xfm.sample_arithmetic = in.in_range(1, 2);
  const double x = in.raw<double>(), y = in.raw<double>();
  const double sx = in.raw<double>(), sy = in.raw<double>();
  double ops[6];
  for (double& v : ops) v = in.raw<double>();
  const int direct = in.in_range(0, 1) ? 2 : 0;
  const int dw = in.in_range(1, 12), dh = in.in_range(1, 12);
  std::unique_ptr<ImageQ4> src = frame_image(in);

  check(xfm.sample(src.get(), x, y));
  check(xfm.sample_down(src.get(), x, y, sx, sy));
  check(xfm.sample_image(src.get(), x, y, sx, sy));
  check(xfm.bilinear_sample(src.get(), x, y));
  check(xfm.bilinear_sample_integer(src.get(), x, y));
  check(xfm.triangle_sample_down(src.get(), x, y, sx, sy));

  std::unique_ptr<ImageQ4> dst(new ImageQ4(dw, dh, 1.0f, nullptr, nullptr));
  xfm.translate(ops[0], ops[1]);
  xfm.rotate(ops[2]);
  xfm.scale(ops[3], ops[4]);
  xfm.shearx(ops[5]);
  xfm.set_transform(direct);
  xfm.apply(src.get(), dst.get(), 0, dh - 1);
  for (int row = 0; row < dh; row++)
    for (int col = 0; col < dw; col++) check(dst->rows[row][col]);
  if (xfm.scale_image(src.get(), dst.get()))
    for (int row = 0; row < dh; row++)
      for (int col = 0; col < dw; col++) check(dst->rows[row][col]);
  return 0;
}
