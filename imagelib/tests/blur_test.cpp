// Box-filter Gaussian of image_data images against box passes written the
// slow way: every window summed afresh over clamped indices.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "failing_heap.h"
#include "image_blur.h"
#include "image_pattern.h"
#include "simd_paths.h"

namespace {

typedef std::vector<double> Line;

Line window_pass(const Line& in, int radius, double max) {
  const int n = static_cast<int>(in.size());
  const int R = std::max(0, std::min(radius, n / 2));
  Line out(in.size());
  for (int i = 0; i < n; ++i) {
    double sum = 0;
    for (int j = i - R; j <= i + R; ++j) sum += in[std::min(std::max(j, 0), n - 1)];
    out[i] = std::min(sum / (2 * R + 1), max);
  }
  return out;
}

Line passes_of(Line line, int radius, int passes, double max) {
  for (int p = 0; p < passes; ++p) line = window_pass(line, radius, max);
  return line;
}

// What the blur makes of one line: three passes at the whole radius, blended
// with three at the next one by the fraction when it is above 0.01.
Line blurred_line(const Line& line, double radius, double max) {
  const double r = std::min(radius, static_cast<double>(line.size() / 2));
  const int whole = static_cast<int>(std::floor(r));
  const double f = r - whole;
  Line a = passes_of(line, whole, 3, max);
  if (f > 0.01) {
    const Line b = passes_of(line, whole + 1, 3, max);
    for (size_t i = 0; i < a.size(); ++i) a[i] = (1 - f) * a[i] + f * b[i];
  }
  return a;
}

double ceiling(int type) { return type == IMAGE_PIXEL_FLOAT ? 3.4028234663852886e+38 : image_full_scale(type); }

double stored(int type, double v) {
  return type == IMAGE_PIXEL_FLOAT ? static_cast<float>(v) : std::min(std::floor(v + 0.5), image_full_scale(type));
}

// The blur of every channel in the mask, as doubles: rows, stored, then
// columns, stored.
std::vector<double> reference_blur(const ImagePtr& img, double rx, double ry, unsigned mask) {
  const int w = img->width, h = img->height, ch = img->channels, type = img->pixel_type;
  std::vector<double> v(static_cast<size_t>(w) * h * ch);
  for (size_t i = 0; i < v.size(); ++i) v[i] = sample(img.get(), static_cast<int64_t>(i));
  auto at = [&](int x, int y, int c) -> double& { return v[(static_cast<size_t>(y) * w + x) * ch + c]; };
  for (int c = 0; c < ch && c < 32; ++c) {
    if (!((mask >> c) & 1u)) continue;
    if (rx > 0)
      for (int y = 0; y < h; ++y) {
        Line line(w);
        for (int x = 0; x < w; ++x) line[x] = at(x, y, c);
        line = blurred_line(line, rx, ceiling(type));
        for (int x = 0; x < w; ++x) at(x, y, c) = stored(type, line[x]);
      }
    if (ry > 0)
      for (int x = 0; x < w; ++x) {
        Line line(h);
        for (int y = 0; y < h; ++y) line[y] = at(x, y, c);
        line = blurred_line(line, ry, ceiling(type));
        for (int y = 0; y < h; ++y) at(x, y, c) = stored(type, line[y]);
      }
  }
  return v;
}

ImagePtr copy_of(const ImagePtr& img) { return ImagePtr(image_data_copy(img.get())); }

ImagePtr blurred(const ImagePtr& src, double rx, double ry, unsigned mask) {
  ImagePtr out = copy_of(src);
  EXPECT_EQ(image_gaussian_blur(out.get(), rx, ry, mask), 1);
  return out;
}

// Runs bands 0..count/2-1 and count/2..count-1 one after the other on the
// calling thread, so a test knows which band allocates first.
void two_bands_in_turn(void*, mp_worker_fn worker, int count, void* object) {
  worker(object, 0, count / 2 - 1);
  worker(object, count / 2, count - 1);
}

}  // namespace

// Lines of length 1, 2 and longer, radii up to and past half the line and
// negative, 1 to 3 passes, with and without a ceiling that cuts: the result
// lies in out after odd and in in after even pass counts, the other line
// holding the pass before.
TEST(BoxFilterMultiPass, MatchesBruteForceWindowMeans) {
  uint32_t seed = 5;
  for (int n : {1, 2, 3, 6, 7, 31, 64})
    for (double max : {1e9, 150.0}) {
      Line input(n);
      for (double& v : input) {
        seed = seed * 1664525u + 1013904223u;
        v = (seed >> 8) % 256 + (seed & 255) / 256.0;
      }
      for (int radius : {-2, 0, 1, 2, n / 2, n / 2 + 1, 3 * n})
        for (int passes = 1; passes <= 3; ++passes) {
          Line in = input, out(n, -1.0);
          box_filter_multi_pass(radius, passes, n, in.data(), out.data(), max);
          const Line expected = passes_of(input, radius, passes, max);
          const Line before = passes_of(input, radius, passes - 1, max);
          const Line& result = passes % 2 ? out : in;
          const Line& other = passes % 2 ? in : out;
          for (int i = 0; i < n; ++i) {
            ASSERT_NEAR(result[i], expected[i], 1e-9) << n << " r" << radius << " p" << passes << " at " << i;
            ASSERT_NEAR(other[i], before[i], 1e-9) << n << " r" << radius << " p" << passes << " at " << i;
          }
        }
    }
  // Two samples, radius 1: both are the mean of the clamped window, 2/3 of
  // the one plus 1/3 of the other.
  Line in = {30, 60}, out(2);
  box_filter_multi_pass(1, 1, 2, in.data(), out.data(), 1000);
  EXPECT_DOUBLE_EQ(out[0], 40);
  EXPECT_DOUBLE_EQ(out[1], 50);
  // Nothing to do touches nothing.
  box_filter_multi_pass(1, 0, 2, in.data(), out.data(), 1000);
  box_filter_multi_pass(1, 3, 0, in.data(), out.data(), 1000);
  box_filter_multi_pass(1, 3, 2, nullptr, out.data(), 1000);
  EXPECT_EQ(in, (Line{30, 60}));
  EXPECT_EQ(out, (Line{40, 50}));
}

// Every type, fractional and whole radii, radii past half the image, one
// direction or both: within a unit of the slow passes (a sum a few ulps off
// can round the other way at a half), and mostly exact.
TEST(GaussianBlur, MatchesBruteForcePassesOnEveryType) {
  struct Case {
    double rx, ry;
    unsigned mask;
  } cases[] = {{2.5, 1.0, 0x5}, {1.0, 0.0, 0x7}, {0.0, 3.3, 0x2}, {0.5, 0.005, 0x7}, {40.0, 7.9, 0x3}};
  for (int type : kAllTypes)
    for (const Case& k : cases) {
      ImagePtr src = make(23, 17, 3, type);
      fill_pattern(src, 3 + type);
      const ImagePtr got = blurred(src, k.rx, k.ry, k.mask);
      const std::vector<double> expected = reference_blur(src, k.rx, k.ry, k.mask);
      const double unit = type == IMAGE_PIXEL_FLOAT ? 1e-6 : 1.0;
      int exact = 0;
      for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_NEAR(sample(got.get(), static_cast<int64_t>(i)), expected[i], unit)
            << "type " << type << " r " << k.rx << "," << k.ry << " sample " << i;
        exact += sample(got.get(), static_cast<int64_t>(i)) == expected[i];
      }
      EXPECT_GT(exact, 0.98 * expected.size()) << "type " << type << " r " << k.rx << "," << k.ry;
    }
}

// Every line is filtered as if alone, however lines are grouped: a channel
// blurred by itself (sixteen lines to a group) equals the same channel of a
// blur of all channels (fewer lines to a group, or one line of 20 or 32
// channels), bit for bit; channels from 32 up are never touched.
TEST(GaussianBlur, ChannelsBlurAloneAsTogether) {
  for (int type : kAllTypes)
    for (int channels : {3, 4, 20, 40}) {
      ImagePtr src = make(19, 13, channels, type);
      fill_pattern(src, 77);
      const ImagePtr all = blurred(src, 1.75, 2.0, 0xFFFFFFFFu);
      for (int c = 0; c < channels; ++c) {
        const ImagePtr one = c < 32 ? blurred(src, 1.75, 2.0, 1u << c) : copy_of(src);
        for (int64_t i = 0; i < 19 * 13; ++i)
          ASSERT_EQ(sample(all.get(), i * channels + c), sample(one.get(), i * channels + c))
              << "type " << type << " channels " << channels << " channel " << c;
      }
    }
}

TEST(GaussianBlur, EdgeCases) {
  // Radius 0.5 on a long row: half the row itself, half its radius-1 means.
  ImagePtr row = make(40, 1, 1, IMAGE_PIXEL_FLOAT);
  fill_pattern(row, 9);
  const ImagePtr half = blurred(row, 0.5, 0, 1);
  Line line(40);
  for (int x = 0; x < 40; ++x) line[x] = sample(row.get(), x, 0, 0);
  const Line ones = passes_of(line, 1, 3, 1e30);
  for (int x = 0; x < 40; ++x)
    EXPECT_NEAR(sample(half.get(), x, 0, 0), 0.5 * line[x] + 0.5 * ones[x], 1e-6) << x;

  // A fraction of 0.01 or less takes the whole radius alone; a radius past
  // half the line is cut to it.
  ImagePtr img = make(30, 11, 2, IMAGE_PIXEL_WORD);
  fill_pattern(img, 10);
  EXPECT_TRUE(same_pixels(blurred(img, 2.01, 3.0, 3), blurred(img, 2.0, 3.0, 3)));
  EXPECT_FALSE(same_pixels(blurred(img, 2.02, 3.0, 3), blurred(img, 2.0, 3.0, 3)));
  EXPECT_TRUE(same_pixels(blurred(img, 15.0, 5.0, 3), blurred(img, 500.0, 5.7, 3)));

  // A one-pixel-wide image is unchanged by the row pass; a constant image
  // stays constant, the full scale included; unmasked channels stay.
  for (int type : kAllTypes) {
    ImagePtr narrow = make(1, 20, 2, type);
    fill_pattern(narrow, 11);
    EXPECT_TRUE(same_pixels(blurred(narrow, 4.5, 0, 3), narrow)) << type;
    for (double value : {0.0, 37.0, image_full_scale(type)}) {
      ImagePtr flat = make(25, 9, 4, type);
      image_data_fill(flat.get(), value);
      EXPECT_TRUE(same_pixels(blurred(flat, 6.4, 2.5, 0xF), flat)) << type << " " << value;
    }
    ImagePtr some = make(12, 12, 4, type);
    fill_pattern(some, 12);
    const ImagePtr out = blurred(some, 2, 2, 0x9);
    for (int i = 0; i < 144; ++i)
      for (int c = 0; c < 4; ++c)
        if (c == 1 || c == 2) {
          ASSERT_EQ(sample(out.get(), i * 4 + c), sample(some.get(), i * 4 + c)) << type;
        }
    EXPECT_FALSE(same_pixels(out, some)) << type;
  }

  // Nothing to do: mask 0, radii not above 0.
  ImagePtr before = copy_of(img);
  EXPECT_EQ(image_gaussian_blur(img.get(), 3, 3, 0), 1);
  EXPECT_EQ(image_gaussian_blur(img.get(), 0, -1, 3), 1);
  EXPECT_EQ(image_gaussian_blur(img.get(), NAN, NAN, 3), 1);
  EXPECT_TRUE(same_pixels(img, before));
  EXPECT_EQ(image_gaussian_blur(nullptr, 3, 3, 1), 0);
}

TEST(GaussianBlur, TwoImageFormCopiesThenBlurs) {
  ImagePtr src = make(16, 10, 3, IMAGE_PIXEL_BYTE), dst = make(16, 10, 3, IMAGE_PIXEL_BYTE);
  fill_pattern(src, 13);
  const ImagePtr original = copy_of(src);
  ASSERT_EQ(image_gaussian_blur(src.get(), dst.get(), 1.5, 2.5, 0x3), 1);
  EXPECT_TRUE(same_pixels(dst, blurred(src, 1.5, 2.5, 0x3)));
  EXPECT_TRUE(same_pixels(src, original));

  ImagePtr wider = make(17, 10, 3, IMAGE_PIXEL_BYTE), words = make(16, 10, 3, IMAGE_PIXEL_WORD);
  ImagePtr fewer = make(16, 10, 2, IMAGE_PIXEL_BYTE);
  for (const ImagePtr* other : {&wider, &words, &fewer}) {
    image_data_fill(other->get(), 7);
    const ImagePtr kept = copy_of(*other);
    EXPECT_EQ(image_gaussian_blur(src.get(), other->get(), 1.5, 2.5, 0x3), 0);
    EXPECT_TRUE(same_pixels(*other, kept));
  }
  EXPECT_EQ(image_gaussian_blur(nullptr, dst.get(), 1, 1, 1), 0);
  EXPECT_EQ(image_gaussian_blur(src.get(), nullptr, 1, 1, 1), 0);
}

// A band that cannot get its working lines leaves them as they were and the
// call reports 0; the band before it still blurs.
TEST(GaussianBlur, BandWithoutScratchLeavesItsLinesAndReportsFailure) {
  ImagePtr img = make(20, 8, 2, IMAGE_PIXEL_WORD);
  fill_pattern(img, 14);
  const ImagePtr original = copy_of(img);
  const ImagePtr whole = blurred(img, 2.5, 0, 3);
  {
    FailingHeap heap(0);
    EXPECT_EQ(image_gaussian_blur(img.get(), 2.5, 0, 3), 0);
  }
  EXPECT_TRUE(same_pixels(img, original));
  imagelib_set_mp_exec(nullptr, two_bands_in_turn);
  {
    FailingHeap heap(1);
    EXPECT_EQ(image_gaussian_blur(img.get(), 2.5, 0, 3), 0);
  }
  imagelib_set_mp_exec(nullptr, nullptr);
  const size_t half = static_cast<size_t>(img->row_bytes) * 4;
  const unsigned char* got = static_cast<unsigned char*>(img->pixels);
  EXPECT_EQ(0, memcmp(got, whole->pixels, half));
  EXPECT_EQ(0, memcmp(got + half, static_cast<unsigned char*>(original->pixels) + half, half));
}

TEST(GaussianBlur, BandedEqualsSerialOnBothKernelCopies) {
  for (int type : kAllTypes) {
    ImagePtr src = make(37, 29, 4, type);
    fill_pattern(src, 15);
    for (double r : {1.0, 2.6}) {
      const std::string what = "type " + std::to_string(type) + " r " + std::to_string(r);
      expect_same_on_every_split([&] { return blurred(src, r, r + 1.2, 0xB); }, what);
      const auto paths = run_on_both_simd_paths([&] { return blurred(src, r, r + 1.2, 0xF); });
      EXPECT_TRUE(same_pixels(paths.first, paths.second)) << what;
    }
  }
}
