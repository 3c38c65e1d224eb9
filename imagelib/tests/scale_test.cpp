#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "image_scale.h"
#include "image_pattern.h"
#include "image_ptr.h"
#include "image_scale_divide.h"
#include "imagelib_kernel.h"
#include "simd_paths.h"
#include "test_executor.h"

namespace {

std::vector<uint16_t> scale_word_line(std::vector<uint16_t> in, int out_length, int kernel) {
  ImagePtr src = make(static_cast<int>(in.size()), 1, 1, IMAGE_PIXEL_WORD), dst = make(out_length, 1, 1, IMAGE_PIXEL_WORD);
  std::memcpy(src->pixels, in.data(), in.size() * 2);
  EXPECT_TRUE(image_scale(src.get(), dst.get(), kernel, false));
  return std::vector<uint16_t>(px<uint16_t>(dst), px<uint16_t>(dst) + out_length);
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

TEST(Scale, UnevenReductionPlacesEachOutputAtItsOwnPosition) {
  // 10 -> 9 with the linear kernel: output j sits at j * 10 / 9 and the
  // stretched kernel weighs input i by 1 - |i - j * 10 / 9| * 9 / 10.
  // j = 7 (at 70/9): inputs 7 and 8 at distances 0.7 and 0.2; table indices
  // trunc(0.7 * 512) = 358 and trunc(0.2 * 512) = 102, fixed weights
  // 154 / 512 * 1024 = 308 and 410 / 512 * 1024 = 820:
  // (308 * 0 + 820 * 1000) / 1128 = 726.95 -> 726.
  // j = 8 (at 80/9): inputs 8 and 9 at 0.8 and 0.1 -> indices 409 and 51,
  // fixed 206 and 922; input 10 (read as 9) lies at distance 1 and weighs at
  // most 2: (206 * 1000 + 922 * 2000 [+ 2 * 2000]) / (1128 [+ 2]) -> 1817.
  // A centred rule ((j + 0.5) * 10 / 9 - 0.5) would give 773 and 1869.
  const std::vector<uint16_t> out =
      scale_word_line({0, 0, 0, 0, 0, 0, 0, 0, 1000, 2000}, 9, IMAGELIB_KERNEL_LINEAR);
  ASSERT_EQ(out.size(), 9u);
  EXPECT_EQ(out[7], 726);
  EXPECT_EQ(out[8], 1817);
  for (int j = 0; j < 6; ++j) EXPECT_EQ(out[j], 0) << j;
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
      EXPECT_GT(scoped.executor.calls, 0);
    }
  }
}

namespace {

// Copies channel c of every pixel of src into the one-channel image one.
void take_channel(const ImagePtr& src, int c, const ImagePtr& one) {
  const int sb = src->sample_bytes, n = src->width * src->height;
  const unsigned char* from = static_cast<const unsigned char*>(src->pixels);
  for (int p = 0; p < n; ++p)
    std::memcpy(static_cast<unsigned char*>(one->pixels) + p * sb,
                from + (static_cast<int64_t>(p) * src->channels + c) * sb, sb);
}

void zero_tables(ImagelibKernel& k) {
  const int entries = k.radius * k.samples_per_unit + 1;
  for (int i = 0; i < entries; ++i) {
    k.table[i] = 0.0;
    k.fixed_table[i] = 0;
  }
}

bool all_zero(const ImagePtr& img) {
  const unsigned char* p = static_cast<const unsigned char*>(img->pixels);
  for (int64_t i = 0; i < static_cast<int64_t>(img->row_bytes) * img->height; ++i)
    if (p[i] != 0) return false;
  return true;
}

}  // namespace

TEST(Scale, HundredChannelsMatchScalingEachChannelAlone) {
  // Past 64 channels the horizontal pass works in chunks and the vertical
  // pass in runs of samples that cut across pixels; every channel must still
  // come out as if it had been scaled on its own.
  const int types[] = {IMAGE_PIXEL_BYTE, IMAGE_PIXEL_WORD, IMAGE_PIXEL_WORD32, IMAGE_PIXEL_FLOAT};
  const int ch = 100;
  for (int type : types) {
    ImagePtr src = make(23, 17, ch, type), dst = make(9, 31, ch, type);
    fill_pattern(src);
    ASSERT_TRUE(image_scale(src.get(), dst.get(), IMAGELIB_KERNEL_CUBIC_HALF, false));
    ImagePtr one = make(23, 17, 1, type), one_out = make(9, 31, 1, type), expect = make(9, 31, ch, type);
    for (int c = 0; c < ch; ++c) {
      take_channel(src, c, one);
      ASSERT_TRUE(image_scale(one.get(), one_out.get(), IMAGELIB_KERNEL_CUBIC_HALF, false));
      const int sb = one->sample_bytes;
      for (int p = 0; p < 9 * 31; ++p)
        std::memcpy(static_cast<unsigned char*>(expect->pixels) + (static_cast<int64_t>(p) * ch + c) * sb,
                    static_cast<unsigned char*>(one_out->pixels) + p * sb, sb);
    }
    EXPECT_TRUE(same_pixels(dst, expect)) << type;
  }
}

TEST(Scale, ZeroWeightSumGivesZeroNotACrash) {
  const int types[] = {IMAGE_PIXEL_BYTE, IMAGE_PIXEL_WORD, IMAGE_PIXEL_WORD32, IMAGE_PIXEL_FLOAT};
  const double values[] = {200.0, 51234.0, 3000000000.0, 0.75};
  ImagelibKernel zeroed(IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_CLAMP);
  ASSERT_TRUE(zeroed.valid);
  zero_tables(zeroed);
  for (int t = 0; t < 4; ++t) {
    ImagePtr src = make(20, 12, 5, types[t]);
    image_data_fill(src.get(), values[t]);
    // Both axes reduced, one axis reduced, and a reduction then magnification.
    const int sizes[][2] = {{7, 3}, {7, 12}, {5, 30}};
    for (const auto& size : sizes) {
      ImagePtr dst = make(size[0], size[1], 5, types[t]);
      image_data_fill(dst.get(), 1.0);
      ASSERT_TRUE(image_scale_with_kernel(src.get(), dst.get(), zeroed, false)) << t;
      EXPECT_TRUE(all_zero(dst)) << t << " " << size[0] << "x" << size[1];
    }
  }
  // The same kernel untouched reproduces the constant, so the zeros above
  // come from the tables and not from the entry point.
  ImagelibKernel linear(IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_CLAMP);
  ImagePtr src = make(20, 12, 5, IMAGE_PIXEL_WORD), dst = make(7, 3, 5, IMAGE_PIXEL_WORD);
  image_data_fill(src.get(), 51234.0);
  ASSERT_TRUE(image_scale_with_kernel(src.get(), dst.get(), linear, false));
  for (int i = 0; i < 7 * 3 * 5; ++i) ASSERT_EQ(px<uint16_t>(dst)[i], 51234);
  ImagelibKernel invalid(6, IMAGELIB_EDGE_CLAMP);
  EXPECT_FALSE(image_scale_with_kernel(src.get(), dst.get(), invalid, false));
}

TEST(Scale, PassOrderFollowsTheScaleFactors) {
  ImagePtr src = make(100, 100, 1, IMAGE_PIXEL_BYTE);
  fill_pattern(src);
  {
    // 100x100 -> 50x200: the horizontal pass (factor 1/2) goes first, over
    // the 100 source rows, then the vertical one over 200 output rows.
    ScopedCountRecorder rec(3);
    ImagePtr dst = make(50, 200, 1, IMAGE_PIXEL_BYTE);
    ASSERT_TRUE(image_scale(src.get(), dst.get(), IMAGELIB_KERNEL_LINEAR, true));
    EXPECT_EQ(rec.counts, (std::vector<int>{100, 200}));
  }
  {
    // 100x100 -> 200x50: vertical first, over 50 output rows, then the
    // horizontal pass over those 50 rows (horizontal first would be 100, 50).
    ScopedCountRecorder rec(3);
    ImagePtr dst = make(200, 50, 1, IMAGE_PIXEL_BYTE);
    ASSERT_TRUE(image_scale(src.get(), dst.get(), IMAGELIB_KERNEL_LINEAR, true));
    EXPECT_EQ(rec.counts, (std::vector<int>{50, 50}));
  }
}

TEST(Scale, WideTallSwapDoesNotOverflowTheOrderProduct) {
  // 65535 * 65535 exceeds 32 bits: the order decision must not wrap.
  ImagePtr src = make(65535, 2, 1, IMAGE_PIXEL_BYTE), dst = make(2, 65535, 1, IMAGE_PIXEL_BYTE);
  ASSERT_TRUE(src && dst);
  image_data_fill(src.get(), 200.0);
  ScopedCountRecorder rec(4);
  ASSERT_TRUE(image_scale(src.get(), dst.get(), IMAGELIB_KERNEL_LINEAR, true));
  // Horizontal reduction first (over 2 rows) keeps the intermediate at 2x2.
  EXPECT_EQ(rec.counts, (std::vector<int>{2, 65535}));
  for (int i = 0; i < 2 * 65535; ++i) ASSERT_EQ(px<uint8_t>(dst)[i], 200) << i;
}

namespace {

struct DivisionCheck {
  uint32_t full;
  std::atomic<int64_t> wrong{0};
};

// Weight sums first + 1 .. last + 1 against every quotient step.
void check_divisors(void* object, int first, int last) {
  DivisionCheck& check = *static_cast<DivisionCheck*>(object);
  int64_t wrong = 0;
  for (int64_t d = first + 1; d <= last + 1; ++d) {
    const scale_divisor divisor = scale_divisor_for(static_cast<uint32_t>(d));
    for (int64_t q = 0; q <= check.full + 1 && q * d <= INT32_MAX; ++q) {
      const int64_t low = q * d, high = std::min<int64_t>(low + d - 1, INT32_MAX);
      wrong += scale_divide(static_cast<uint32_t>(low), divisor) != q;
      wrong += scale_divide(static_cast<uint32_t>(high), divisor) != q;
    }
  }
  check.wrong += wrong;
}

}  // namespace

TEST(Scale, MultiplyAndShiftDividesEveryReachableSumExactly) {
  // A narrow pass over samples of full scale F holds sums x below 2^31 and
  // weight sums d up to (2^31 - 1) / F. floor(x / d) and the multiply and
  // shift are both non-decreasing in x, so they agree on every x once they
  // agree at both ends of every quotient step: x = q d and q d + d - 1 for
  // q = 0 .. F + 1. Past that both are above F, which the finish clamps to F.
  for (uint32_t full : {255u, 65535u}) {
    DivisionCheck check;
    check.full = full;
    ThreadBandExecutor bands(8);
    ThreadBandExecutor::exec(&bands, check_divisors, static_cast<int>(INT32_MAX / full), &check);
    EXPECT_EQ(check.wrong.load(), 0) << "full scale " << full;
  }
  // A zero weight sum gives zero: nothing was weighed, so nothing comes out.
  for (uint32_t x : {0u, 1u, 1000u, 2147483647u}) EXPECT_EQ(scale_divide(x, scale_divisor_for(0)), 0u);
}

TEST(Scale, VectorAndPortablePathsGiveTheSameBytes) {
  // Four-channel images, whose horizontal passes take whole pixels a vector,
  // magnified and reduced by every kernel: lines of 2 and 3 pixels (runs of a
  // single pixel at either end), reductions to one pixel, and a pattern of 0
  // and full scale whose cubic lobes go below 0 and above full scale.
  const int sizes[][4] = {{37, 23, 211, 9}, {200, 150, 13, 31}, {2, 3, 17, 5}, {3, 2, 1, 1}, {64, 5, 63, 7}};
  for (int type : {IMAGE_PIXEL_BYTE, IMAGE_PIXEL_WORD}) {
    for (int pattern = 0; pattern < 2; ++pattern) {
      for (const auto& size : sizes) {
        ImagePtr src = make(size[0], size[1], 4, type);
        fill_pattern(src, 77);
        if (pattern == 1)
          for (int y = 0; y < size[1]; ++y)
            for (int x = 0; x < size[0]; ++x)
              for (int c = 0; c < 4; ++c) set_sample(src.get(), x, y, c, (x + y) % 2 ? image_full_scale(type) : 0.0);
        for (int kernel = 0; kernel <= 5; ++kernel) {
          const auto paths = run_on_both_simd_paths([&] {
            ImagePtr dst = make(size[2], size[3], 4, type);
            EXPECT_TRUE(image_scale(src.get(), dst.get(), kernel, false));
            return dst;
          });
          EXPECT_TRUE(same_pixels(paths.first, paths.second)) << type << " " << size[0] << "x" << size[1] << " -> "
                                                              << size[2] << "x" << size[3] << " kernel " << kernel;
        }
      }
    }
  }
}
