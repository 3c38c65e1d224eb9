#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "image_scale.h"
#include "image_ptr.h"
#include "imagelib_kernel.h"
#include "test_executor.h"

namespace {

// Deterministic pseudo-random content in the type's range.
void fill_pattern(const ImagePtr& img) {
  const int n = img->width * img->height * img->channels;
  uint32_t s = 12345;
  for (int i = 0; i < n; ++i) {
    s = s * 1664525u + 1013904223u;
    switch (img->pixel_type) {
      case IMAGE_PIXEL_BYTE: px<uint8_t>(img)[i] = static_cast<uint8_t>(s >> 24); break;
      case IMAGE_PIXEL_WORD: px<uint16_t>(img)[i] = static_cast<uint16_t>(s >> 16); break;
      case IMAGE_PIXEL_WORD32: px<uint32_t>(img)[i] = s; break;
      default: px<float>(img)[i] = static_cast<float>(s >> 8) / 16777216.0f; break;
    }
  }
}

std::vector<uint16_t> scale_word_line(std::vector<uint16_t> in, int out_length, int kernel) {
  ImagePtr src = make(static_cast<int>(in.size()), 1, 1, IMAGE_PIXEL_WORD), dst = make(out_length, 1, 1, IMAGE_PIXEL_WORD);
  std::memcpy(src->pixels, in.data(), in.size() * 2);
  EXPECT_TRUE(image_scale(src.get(), dst.get(), kernel, false));
  return std::vector<uint16_t>(px<uint16_t>(dst), px<uint16_t>(dst) + out_length);
}

bool same_pixels(const ImagePtr& a, const ImagePtr& b) {
  return std::memcmp(a->pixels, b->pixels, static_cast<size_t>(a->row_bytes) * a->height) == 0;
}

}  // namespace

TEST(Scale, MagnifiedLineReferenceValues) {
  EXPECT_EQ(scale_word_line({0, 1000}, 4, IMAGELIB_KERNEL_LINEAR), (std::vector<uint16_t>{0, 500, 1000, 1000}));
  // Between two inputs the box weighs both by 1: normalised, that is their
  // mean rather than their sum.
  EXPECT_EQ(scale_word_line({0, 1000}, 4, IMAGELIB_KERNEL_BOX), (std::vector<uint16_t>{0, 500, 1000, 1000}));
  // Same through the double path.
  ImagePtr src = make(2, 1, 1, IMAGE_PIXEL_FLOAT), dst = make(4, 1, 1, IMAGE_PIXEL_FLOAT);
  px<float>(src)[0] = 0.0f;
  px<float>(src)[1] = 0.5f;
  for (int kernel : {IMAGELIB_KERNEL_BOX, IMAGELIB_KERNEL_LINEAR}) {
    ASSERT_TRUE(image_scale(src.get(), dst.get(), kernel, true));
    EXPECT_EQ(px<float>(dst)[0], 0.0f);
    EXPECT_EQ(px<float>(dst)[1], 0.25f);
    EXPECT_EQ(px<float>(dst)[2], 0.5f);
    EXPECT_EQ(px<float>(dst)[3], 0.5f);
  }
}

TEST(Scale, ReducedLineIsTheWeightedMean) {
  // Output j = (s[2j-1] / 2 + s[2j] + s[2j+1] / 2) / 2 over clamped indices,
  // truncated: 12.5 -> 12, 30, 50, 70.
  EXPECT_EQ(scale_word_line({10, 20, 30, 40, 50, 60, 70, 80}, 4, IMAGELIB_KERNEL_LINEAR),
            (std::vector<uint16_t>{12, 30, 50, 70}));
  // Reducing a word line 400 times would overflow 32-bit weighted sums.
  EXPECT_EQ(scale_word_line(std::vector<uint16_t>(4000, 65535), 10, IMAGELIB_KERNEL_CUBIC_HALF),
            std::vector<uint16_t>(10, 65535));
}

TEST(Scale, ConstantsSurviveEveryKernelAndType) {
  const int types[] = {IMAGE_PIXEL_BYTE, IMAGE_PIXEL_WORD, IMAGE_PIXEL_WORD32, IMAGE_PIXEL_FLOAT};
  const double values[] = {200.0, 51234.0, 3000000000.0, 0.75};
  for (int t = 0; t < 4; ++t) {
    for (int kernel = 0; kernel <= 5; ++kernel) {
      ImagePtr src = make(37, 29, 2, types[t]), dst = make(11, 7, 2, types[t]);
      image_data_fill(src.get(), values[t]);
      ASSERT_TRUE(image_scale(src.get(), dst.get(), kernel, true));
      const double full = image_full_scale(types[t]);
      for (int i = 0; i < 11 * 7 * 2; ++i) {
        double v;
        switch (types[t]) {
          case IMAGE_PIXEL_BYTE: v = px<uint8_t>(dst)[i]; break;
          case IMAGE_PIXEL_WORD: v = px<uint16_t>(dst)[i]; break;
          case IMAGE_PIXEL_WORD32: v = px<uint32_t>(dst)[i]; break;
          default: v = px<float>(dst)[i]; break;
        }
        // Integer reductions divide exactly; each double pass may truncate
        // one unit below a whole value.
        if (types[t] <= IMAGE_PIXEL_WORD)
          ASSERT_EQ(v, values[t]) << t << " " << kernel;
        else
          ASSERT_NEAR(v, values[t], types[t] == IMAGE_PIXEL_FLOAT ? 1e-6 : 2.0) << t << " " << kernel;
        ASSERT_LE(v, full);
      }
    }
  }
  // The linear kernel's fixed weights sum to exactly 1024 when magnifying.
  ImagePtr src = make(5, 3, 3, IMAGE_PIXEL_WORD), dst = make(17, 13, 3, IMAGE_PIXEL_WORD);
  image_data_fill(src.get(), 40000.0);
  ASSERT_TRUE(image_scale(src.get(), dst.get(), IMAGELIB_KERNEL_LINEAR, false));
  for (int i = 0; i < 17 * 13 * 3; ++i) ASSERT_EQ(px<uint16_t>(dst)[i], 40000);
}

TEST(Scale, GridScaledToFrameReachesTheLastCell) {
  // A 128-cell ramp magnified to 1080 rows: the last output lies at
  // 1079 * 128 / 1080 = 127.88, past the last cell, so it is that cell.
  ImagePtr src = make(1, 128, 1, IMAGE_PIXEL_WORD), dst = make(1, 1080, 1, IMAGE_PIXEL_WORD);
  for (int i = 0; i < 128; ++i) px<uint16_t>(src)[i] = static_cast<uint16_t>(100 * i);
  ASSERT_TRUE(image_scale(src.get(), dst.get(), IMAGELIB_KERNEL_LINEAR, false));
  EXPECT_EQ(px<uint16_t>(dst)[0], 0);
  EXPECT_EQ(px<uint16_t>(dst)[1079], 12700);
  for (int j = 1; j < 1080; ++j) ASSERT_GE(px<uint16_t>(dst)[j], px<uint16_t>(dst)[j - 1]);
  // Output 540 sits at 540 * 128 / 1080 = 64.0 exactly.
  EXPECT_EQ(px<uint16_t>(dst)[540], 6400);
}

TEST(Scale, FloatLobesKeptOrClamped) {
  ImagePtr src = make(6, 1, 1, IMAGE_PIXEL_FLOAT), dst = make(24, 1, 1, IMAGE_PIXEL_FLOAT);
  const float step[] = {0, 0, 0, 1, 1, 1};
  std::memcpy(src->pixels, step, sizeof step);
  ASSERT_TRUE(image_scale(src.get(), dst.get(), IMAGELIB_KERNEL_CUBIC_ONE, false));
  float lo = 0, hi = 0;
  for (int i = 0; i < 24; ++i) {
    lo = std::min(lo, px<float>(dst)[i]);
    hi = std::max(hi, px<float>(dst)[i]);
  }
  EXPECT_LT(lo, 0.0f);
  EXPECT_GT(hi, 1.0f);
  ASSERT_TRUE(image_scale(src.get(), dst.get(), IMAGELIB_KERNEL_CUBIC_ONE, true));
  for (int i = 0; i < 24; ++i) {
    EXPECT_GE(px<float>(dst)[i], 0.0f);
    EXPECT_LE(px<float>(dst)[i], 1.0f);
  }
}

TEST(Scale, RefusalsAndPlainCopies) {
  ImagePtr src = make(8, 8, 3, IMAGE_PIXEL_BYTE), other = make(4, 4, 4, IMAGE_PIXEL_BYTE);
  fill_pattern(src);
  image_data_fill(other.get(), 9.0);
  EXPECT_FALSE(image_scale(src.get(), other.get(), IMAGELIB_KERNEL_LINEAR, true));
  EXPECT_EQ(px<uint8_t>(other)[0], 9);
  ImagePtr small = make(4, 4, 3, IMAGE_PIXEL_BYTE);
  image_data_fill(small.get(), 9.0);
  EXPECT_FALSE(image_scale(src.get(), small.get(), 6, true));
  EXPECT_FALSE(image_scale(src.get(), small.get(), -1, true));
  EXPECT_EQ(px<uint8_t>(small)[47], 9);
  EXPECT_FALSE(image_scale(nullptr, small.get(), IMAGELIB_KERNEL_LINEAR, true));
  ImagePtr same = make(8, 8, 3, IMAGE_PIXEL_BYTE);
  EXPECT_TRUE(image_scale(src.get(), same.get(), IMAGELIB_KERNEL_LANCZOS2, true));
  EXPECT_TRUE(same_pixels(src, same));
}

TEST(Scale, BandedPassesAreByteIdentical) {
  const int types[] = {IMAGE_PIXEL_BYTE, IMAGE_PIXEL_WORD, IMAGE_PIXEL_WORD32, IMAGE_PIXEL_FLOAT};
  const int sizes[][2] = {{37, 211}, {13, 9}, {400, 150}};
  imagelib_set_max_threads(2);  // more bands than the library's thread count
  for (int type : types) {
    ImagePtr src = make(200, 150, 4, type);
    fill_pattern(src);
    for (const auto& size : sizes) {
      ImagePtr direct = make(size[0], size[1], 4, type);
      ASSERT_TRUE(image_scale(src.get(), direct.get(), IMAGELIB_KERNEL_CUBIC_HALF, false));
      for (int bands : {1, 2, 7, 16}) {
        for (bool uneven : {false, true}) {
          ScopedExecutor scoped(bands, uneven);
          ImagePtr banded = make(size[0], size[1], 4, type);
          ASSERT_TRUE(image_scale(src.get(), banded.get(), IMAGELIB_KERNEL_CUBIC_HALF, false));
          EXPECT_TRUE(same_pixels(direct, banded)) << type << " " << size[0] << " " << bands << " " << uneven;
          EXPECT_GT(scoped.executor.calls, 0);
        }
      }
    }
  }
  imagelib_set_max_threads(16);
}

TEST(Scale, RowsAndChannelsStaySeparate) {
  // Each row holds its own constant per channel: a horizontal reduction of
  // any kernel keeps every row's and channel's value.
  ImagePtr src = make(64, 3, 2, IMAGE_PIXEL_BYTE), dst = make(5, 3, 2, IMAGE_PIXEL_BYTE);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 64; ++x) {
      px<uint8_t>(src)[(y * 64 + x) * 2] = static_cast<uint8_t>(10 * (y + 1));
      px<uint8_t>(src)[(y * 64 + x) * 2 + 1] = static_cast<uint8_t>(200 + y);
    }
  ASSERT_TRUE(image_scale(src.get(), dst.get(), IMAGELIB_KERNEL_BSPLINE, true));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      EXPECT_EQ(px<uint8_t>(dst)[(y * 5 + x) * 2], 10 * (y + 1));
      EXPECT_EQ(px<uint8_t>(dst)[(y * 5 + x) * 2 + 1], 200 + y);
    }
}

TEST(GeneralCopy, ConvertsAndScales) {
  ImagePtr src = make(4, 4, 3, IMAGE_PIXEL_BYTE), dst = make(8, 6, 4, IMAGE_PIXEL_FLOAT);
  image_data_fill(src.get(), 51.0);
  ASSERT_TRUE(image_general_copy(src.get(), dst.get(), 3, IMAGELIB_KERNEL_LINEAR, true));
  // The double magnifying path truncates both tap distances into the table,
  // so its weights may sum to up to 1 + 1/512.
  for (int p = 0; p < 48; ++p) {
    EXPECT_NEAR(px<float>(dst)[p * 4], 0.2f, 0.2f / 512 + 1e-6f);
    EXPECT_NEAR(px<float>(dst)[p * 4 + 3], 1.0f, 1e-6f);
  }
  ImagePtr same_size = make(4, 4, 1, IMAGE_PIXEL_WORD);
  ASSERT_TRUE(image_general_copy(src.get(), same_size.get(), 0, IMAGELIB_KERNEL_LINEAR, true));
  EXPECT_EQ(px<uint16_t>(same_size)[15], 51 * 257);
  ImagePtr scaled = make(2, 2, 3, IMAGE_PIXEL_BYTE);
  ASSERT_TRUE(image_general_copy(src.get(), scaled.get(), 0, IMAGELIB_KERNEL_BOX, true));
  EXPECT_EQ(px<uint8_t>(scaled)[11], 51);
  EXPECT_FALSE(image_general_copy(src.get(), nullptr, 0, 1, true));
}

TEST(Translate, ShiftsCopiesAndExtends) {
  ImagePtr src = make(4, 2, 1, IMAGE_PIXEL_WORD), dst = make(4, 2, 1, IMAGE_PIXEL_WORD);
  const uint16_t v[] = {100, 200, 300, 400, 500, 600, 700, 800};
  std::memcpy(src->pixels, v, sizeof v);
  ASSERT_TRUE(image_translate(src.get(), dst.get(), 0.0f, 0.0f, IMAGELIB_KERNEL_CUBIC_HALF, IMAGELIB_EDGE_ZERO));
  EXPECT_TRUE(same_pixels(src, dst));

  ASSERT_TRUE(image_translate(src.get(), dst.get(), 1.0f, 0.0f, IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_ZERO));
  const uint16_t right[] = {0, 100, 200, 300, 0, 500, 600, 700};
  EXPECT_EQ(std::memcmp(dst->pixels, right, sizeof right), 0);
  ASSERT_TRUE(image_translate(src.get(), dst.get(), 0.5f, 0.0f, IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_CLAMP));
  const uint16_t half[] = {100, 150, 250, 350, 500, 550, 650, 750};
  EXPECT_EQ(std::memcmp(dst->pixels, half, sizeof half), 0);
  ASSERT_TRUE(image_translate(src.get(), dst.get(), 0.0f, -1.0f, IMAGELIB_KERNEL_LINEAR, 17));  // zero edges
  const uint16_t down[] = {500, 600, 700, 800, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(dst->pixels, down, sizeof down), 0);
  // A half-pixel box shift averages neighbours instead of adding them.
  ASSERT_TRUE(image_translate(src.get(), dst.get(), 0.5f, 0.0f, IMAGELIB_KERNEL_BOX, IMAGELIB_EDGE_CLAMP));
  EXPECT_EQ(std::memcmp(dst->pixels, half, sizeof half), 0);

  ImagePtr wide = make(6, 2, 1, IMAGE_PIXEL_WORD);
  ASSERT_TRUE(image_translate(src.get(), wide.get(), 0.0f, 0.0f, IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_CLAMP));
  const uint16_t clamp_ext[] = {100, 200, 300, 400, 400, 400, 500, 600, 700, 800, 800, 800};
  EXPECT_EQ(std::memcmp(wide->pixels, clamp_ext, sizeof clamp_ext), 0);
  ASSERT_TRUE(image_translate(src.get(), wide.get(), 0.0f, 0.0f, IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_WRAP));
  const uint16_t wrap_ext[] = {100, 200, 300, 400, 100, 200, 500, 600, 700, 800, 500, 600};
  EXPECT_EQ(std::memcmp(wide->pixels, wrap_ext, sizeof wrap_ext), 0);
}

TEST(Translate, RefusesBadKernelsAndLayouts) {
  ImagePtr src = make(4, 2, 1, IMAGE_PIXEL_BYTE), dst = make(4, 2, 1, IMAGE_PIXEL_BYTE);
  fill_pattern(src);
  image_data_fill(dst.get(), 3.0);
  EXPECT_FALSE(image_translate(src.get(), dst.get(), 0.5f, 0.0f, 6, IMAGELIB_EDGE_CLAMP));
  EXPECT_EQ(px<uint8_t>(dst)[7], 3);
  ImagePtr other = make(4, 2, 2, IMAGE_PIXEL_BYTE);
  EXPECT_FALSE(image_translate(src.get(), other.get(), 0.5f, 0.0f, 1, IMAGELIB_EDGE_CLAMP));
  EXPECT_FALSE(image_translate(nullptr, dst.get(), 0.5f, 0.0f, 1, IMAGELIB_EDGE_CLAMP));
}

TEST(Translate, BandedMatchesDirect) {
  const int types[] = {IMAGE_PIXEL_BYTE, IMAGE_PIXEL_WORD, IMAGE_PIXEL_WORD32, IMAGE_PIXEL_FLOAT};
  for (int type : types) {
    ImagePtr src = make(33, 21, 3, type);
    fill_pattern(src);
    ImagePtr direct = make(40, 17, 3, type);
    ASSERT_TRUE(image_translate(src.get(), direct.get(), 2.3f, -1.7f, IMAGELIB_KERNEL_LANCZOS2, IMAGELIB_EDGE_MIRROR));
    for (int bands : {2, 7}) {
      ScopedExecutor scoped(bands, true);
      ImagePtr banded = make(40, 17, 3, type);
      ASSERT_TRUE(image_translate(src.get(), banded.get(), 2.3f, -1.7f, IMAGELIB_KERNEL_LANCZOS2, IMAGELIB_EDGE_MIRROR));
      EXPECT_TRUE(same_pixels(direct, banded)) << type << " " << bands;
    }
  }
}
