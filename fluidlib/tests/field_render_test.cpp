#include <cmath>
#include <cstdint>
#include <memory>

#include <gtest/gtest.h>

#include "fluid_image_test_support.h"
#include "image_data.h"

namespace {

struct Deleter {
  void operator()(image_data* img) const { image_data_delete(img); }
};
using Rendering = std::unique_ptr<image_data, Deleter>;

// Channel c of pixel (x, y) of a rendering, whatever its sample type.
unsigned sample(const image_data* img, int x, int y, int c) {
  const int k = x * img->channels + c;
  if (img->pixel_type == IMAGE_PIXEL_BYTE) return image_row(img, y)[k];
  return reinterpret_cast<const uint16_t*>(image_row(img, y))[k];
}

void expect_rgb(const image_data* img, int x, int y, unsigned r, unsigned g, unsigned b) {
  EXPECT_EQ(sample(img, x, y, 0), r) << x << "," << y;
  EXPECT_EQ(sample(img, x, y, 1), g) << x << "," << y;
  EXPECT_EQ(sample(img, x, y, 2), b) << x << "," << y;
}

}  // namespace

TEST(FieldRender, HeatMapColoursAndRangesInBothLayoutsAndTypes) {
  for (int method : {FIELD_FFT, FIELD_DIRECT}) {
    ScalarField f(5, 3, method);
    const int g = method == FIELD_DIRECT ? 1 : 0;
    // Row j of the interior holds j; column i adds i (values 0..6).
    for (int j = 0; j < 3; ++j)
      for (int i = 0; i < 5; ++i) at(&f, i + g, j + g) = static_cast<float>(i + j);
    // Fixed range 0..4: 1e-7 is below half a step of 4, so t = v / 4.
    Rendering words(f.magnitude_image(false, true, 0.0f, 4.0f, IMAGE_PIXEL_WORD));
    ASSERT_TRUE(words);
    EXPECT_EQ(words->width, 5);
    EXPECT_EQ(words->height, 3);
    EXPECT_EQ(words->channels, 3);
    expect_rgb(words.get(), 0, 0, 65535, 0, 0);      // t = 0: red
    expect_rgb(words.get(), 1, 0, 32768, 32768, 0);  // t = 0.25
    expect_rgb(words.get(), 2, 0, 0, 65535, 0);      // t = 0.5: green
    expect_rgb(words.get(), 1, 2, 0, 32768, 32768);  // t = 0.75
    expect_rgb(words.get(), 2, 2, 0, 0, 65535);      // t = 1: blue
    expect_rgb(words.get(), 4, 2, 0, 0, 65535);      // t = 1.5, held
    Rendering bytes(f.magnitude_image(false, true, 0.0f, 4.0f, IMAGE_PIXEL_BYTE));
    ASSERT_TRUE(bytes);
    expect_rgb(bytes.get(), 1, 0, 128, 128, 0);
    expect_rgb(bytes.get(), 0, 0, 255, 0, 0);

    // Auto range 0..6 over the interior only: a ghost value would shift it.
    if (method == FIELD_DIRECT) at(&f, 0, 0) = -100.0f;
    Rendering autos(f.magnitude_image(true, false, 0.0f, 0.0f, IMAGE_PIXEL_WORD));
    expect_rgb(autos.get(), 0, 0, 65535, 0, 0);
    expect_rgb(autos.get(), 4, 2, 0, 0, 65535);
    EXPECT_EQ(f.render_range.min, 0.0f);
    EXPECT_EQ(f.render_range.max, 6.0f);

    // The range is kept until asked for again.
    for (int j = 0; j < 3; ++j)
      for (int i = 0; i < 5; ++i) at(&f, i + g, j + g) *= 2.0f;
    Rendering kept(f.magnitude_image(false, false, 0.0f, 0.0f, IMAGE_PIXEL_WORD));
    expect_rgb(kept.get(), 3, 0, 0, 0, 65535);  // 6 of the old 0..6
    Rendering fresh(f.magnitude_image(true, false, 0.0f, 0.0f, IMAGE_PIXEL_WORD));
    expect_rgb(fresh.get(), 3, 0, 0, 65535, 0);  // 6 of 0..12

    // A constant field is all low end: pure red.
    f.set(0.25f);
    Rendering flat(f.magnitude_image(true, false, 0.0f, 0.0f, IMAGE_PIXEL_BYTE));
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x) expect_rgb(flat.get(), x, y, 255, 0, 0);

    for (int type : {-1, 2, 3}) EXPECT_EQ(f.magnitude_image(true, false, 0, 0, type), nullptr) << type;
  }
}

TEST(FieldRender, StoppedRenderingShowsBlackBeyondTheStop) {
  ScalarField f(4, 5, FIELD_DIRECT);
  f.set(1.0f);
  StopAfter stop{2};
  f.set_mp_exec(&stop, nullptr);
  f.set_abort_test(&stop, StopAfter::test);
  Rendering img(f.magnitude_image(false, true, 1.0f, 2.0f, IMAGE_PIXEL_BYTE));
  ASSERT_TRUE(img);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 4; ++x) expect_rgb(img.get(), x, y, y < 2 ? 255 : 0, 0, 0);
  // The FFT layout is not asked.
  ScalarField g(4, 5, FIELD_FFT);
  StopAfter never{0};
  g.set_mp_exec(&never, nullptr);
  g.set_abort_test(&never, StopAfter::test);
  Rendering whole(g.magnitude_image(false, true, 0.0f, 1.0f, IMAGE_PIXEL_BYTE));
  expect_rgb(whole.get(), 3, 4, 255, 0, 0);
}

TEST(FieldRender, ControlPointMapsAndWeights) {
  ScalarField f(5, 1, FIELD_DIRECT);
  // t = v / 4 over 0..4 (the 1e-7 is lost below half a step of 4).
  const float values[5] = {-2.0f, 0.0f, 1.0f, 3.0f, 6.0f};
  for (int i = 0; i < 5; ++i) at(&f, i + 1, 1) = values[i];
  const float pos[3] = {0.0f, 0.5f, 1.0f}, val[3] = {0.2f, 1.0f, 0.0f};
  Rendering mono(f.magnitude_image_mono_map(0.0f, 4.0f, pos, val, 3, IMAGE_PIXEL_WORD));
  ASSERT_TRUE(mono);
  EXPECT_EQ(mono->channels, 1);
  // 0.2 below, 0.6 and 0.5 inside, 0 above.
  const unsigned want_mono[5] = {13107, 13107, 39321, 32768, 0};
  for (int x = 0; x < 5; ++x) EXPECT_EQ(sample(mono.get(), x, 0, 0), want_mono[x]) << x;
  // No control points, or fewer than none: the grey ramp.
  for (int n : {0, -3}) {
    Rendering grey(f.magnitude_image_mono_map(0.0f, 4.0f, pos, val, n, IMAGE_PIXEL_BYTE));
    const unsigned want[5] = {0, 0, 64, 191, 255};
    for (int x = 0; x < 5; ++x) EXPECT_EQ(sample(grey.get(), x, 0, 0), want[x]) << n << " " << x;
  }
  const float r[3] = {1.0f, 0.0f, 0.0f}, g[3] = {0.0f, 1.0f, 0.0f}, b[3] = {0.0f, 0.0f, 1.0f};
  Rendering colour(f.magnitude_image_colour_map(0.0f, 4.0f, r, g, b, pos, 3, IMAGE_PIXEL_BYTE));
  expect_rgb(colour.get(), 0, 0, 255, 0, 0);
  expect_rgb(colour.get(), 2, 0, 128, 128, 0);
  expect_rgb(colour.get(), 3, 0, 0, 128, 128);
  expect_rgb(colour.get(), 4, 0, 0, 0, 255);
  Rendering grey3(f.magnitude_image_colour_map(0.0f, 4.0f, r, g, b, pos, 0, IMAGE_PIXEL_BYTE));
  expect_rgb(grey3.get(), 2, 0, 64, 64, 64);

  // Weighted by a second field over 10..20.
  ScalarField w(5, 1, FIELD_DIRECT);
  const float weights[5] = {0.0f, 10.0f, 15.0f, 20.0f, 30.0f};
  for (int i = 0; i < 5; ++i) at(&w, i + 1, 1) = weights[i];
  Rendering faded(f.magnitude_image_colour_map_transp(0.0f, 4.0f, r, g, b, pos, 3, &w, 10.0f, 20.0f,
                                                      IMAGE_PIXEL_BYTE));
  expect_rgb(faded.get(), 0, 0, 0, 0, 0);
  expect_rgb(faded.get(), 2, 0, 64, 64, 0);   // (0.5, 0.5, 0) at half weight
  expect_rgb(faded.get(), 3, 0, 0, 128, 128);  // full weight
  Rendering mono_faded(f.magnitude_image_mono_map_transp(0.0f, 4.0f, pos, val, 3, &w, 10.0f, 20.0f,
                                                         IMAGE_PIXEL_WORD));
  EXPECT_EQ(sample(mono_faded.get(), 2, 0, 0), 19661u);  // 0.6 * 0.5
  // A weight span of 0 weighs fully instead of dividing 0 by 0.
  Rendering whole(f.magnitude_image_colour_map_transp(0.0f, 4.0f, r, g, b, pos, 3, &w, 15.0f, 15.0f,
                                                      IMAGE_PIXEL_BYTE));
  expect_rgb(whole.get(), 2, 0, 128, 128, 0);
  // A weight of another grid would be read past its end.
  ScalarField small(4, 1, FIELD_DIRECT);
  EXPECT_EQ(f.magnitude_image_mono_map_transp(0, 1, pos, val, 3, &small, 0, 1, IMAGE_PIXEL_BYTE), nullptr);
}

TEST(FieldRender, VectorHeatMapsKeepTheirOwnRanges) {
  VectorField still(4, 2, FIELD_DIRECT);
  // At rest there is no range: black, not 0 / 0.
  Rendering black(still.magnitude_image(true, IMAGE_PIXEL_BYTE));
  ASSERT_TRUE(black);
  for (int x = 0; x < 4; ++x) expect_rgb(black.get(), x, 1, 0, 0, 0);
  still.set(0.0f, -2.0f);
  Rendering blue(still.vector_image(true, IMAGE_PIXEL_BYTE));
  expect_rgb(blue.get(), 3, 1, 0, 0, 255);

  // Magnitudes 0, 1.5, 3 (a 3-4-5 vector scaled) and 5 in the first row.
  VectorField v(4, 2, FIELD_FFT);
  at_u(&v, 1, 0) = 1.5f;
  at_u(&v, 2, 0) = 1.8f;
  at_v(&v, 2, 0) = 2.4f;
  at_u(&v, 3, 0) = 3.0f;
  at_v(&v, 3, 0) = 4.0f;
  Rendering m(v.magnitude_image(true, IMAGE_PIXEL_WORD));
  expect_rgb(m.get(), 0, 0, 65535, 0, 0);
  expect_rgb(m.get(), 1, 0, 26214, 39321, 0);  // t = 0.3
  expect_rgb(m.get(), 2, 0, 0, 52428, 13107);  // t = 0.6
  expect_rgb(m.get(), 3, 0, 0, 0, 65535);
  expect_rgb(m.get(), 3, 1, 65535, 0, 0);
  EXPECT_EQ(v.magnitude_range.max, 5.0f);
  EXPECT_FALSE(v.vector_range.valid);
  // Doubled: the magnitude map keeps 0..5, the vector map makes its own.
  for (int k = 0; k < v.cell_count(); ++k) {
    v.u[k] *= 2.0f;
    v.v[k] *= 2.0f;
  }
  Rendering kept(v.magnitude_image(false, IMAGE_PIXEL_WORD));
  expect_rgb(kept.get(), 1, 0, 0, 52428, 13107);  // 3 of 0..5
  Rendering own(v.vector_image(false, IMAGE_PIXEL_WORD));
  expect_rgb(own.get(), 1, 0, 26214, 39321, 0);
  EXPECT_EQ(v.vector_range.max, 10.0f);
  EXPECT_EQ(v.vector_image(true, 2), nullptr);
}

TEST(FieldRender, SolverReadOuts) {
  FluidFlowCore s(6, 4, 2, 0, 0);
  const int slot = s.create_scalar_field("density");
  s.fields[slot]->set(2.0f);
  Rendering img(s.scalar_field_magnitude_image(slot, true, false, 0, 0, IMAGE_PIXEL_BYTE));
  ASSERT_TRUE(img);
  expect_rgb(img.get(), 5, 3, 255, 0, 0);
  for (int bad : {-1, 16, slot + 1}) EXPECT_EQ(s.scalar_field_magnitude_image(bad, true, false, 0, 0, 0), nullptr);
  s.velocity->set(0.3f, 0.4f);
  s.force->set(0.0f, 0.0f);
  Rendering vm(s.velocity_magnitude_image(true, IMAGE_PIXEL_BYTE));
  Rendering vv(s.velocity_vector_image(true, IMAGE_PIXEL_BYTE));
  Rendering fm(s.force_magnitude_image(true, IMAGE_PIXEL_BYTE));
  Rendering fv(s.force_vector_image(true, IMAGE_PIXEL_BYTE));
  expect_rgb(vm.get(), 0, 0, 0, 0, 255);  // every cell at the largest magnitude
  expect_rgb(vv.get(), 0, 0, 0, 0, 255);
  expect_rgb(fm.get(), 0, 0, 0, 0, 0);
  expect_rgb(fv.get(), 0, 0, 0, 0, 0);

  // The velocity at a normalised position is the grid's at n x + 1: a
  // field linear in the cell index reads back n x + 1 itself.
  for (int j = 0; j < 6; ++j)
    for (int i = 0; i < 8; ++i) {
      at_u(s.velocity, i, j) = static_cast<float>(i);
      at_v(s.velocity, i, j) = static_cast<float>(j);
    }
  float u, v;
  s.evaluate_velocity(0.25f, 0.5f, u, v);
  EXPECT_FLOAT_EQ(u, 2.5f);
  EXPECT_FLOAT_EQ(v, 3.0f);
}
