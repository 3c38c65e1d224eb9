#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "imgio_memory_driver.h"
#include "imgio_utils.h"

namespace {

std::vector<int> resampled(const std::vector<int>& in, int n_out, int filter) {
  imgsystem.filter = filter;
  std::vector<unsigned char> src(in.begin(), in.end()), dst(n_out);
  resample(src.data(), dst.data(), static_cast<int>(in.size()), n_out, 1, 1);
  return std::vector<int>(dst.begin(), dst.end());
}

}  // namespace

TEST(Resample, EdgeCasesAndShapes) {
  ImgioSession session;
  for (int filter : {0, 1}) {
    // One sample is replicated.
    EXPECT_EQ(resampled({77}, 5, filter), std::vector<int>(5, 77));
    EXPECT_EQ(resampled({77}, 1, filter), std::vector<int>({77}));
    // Equal sizes keep every sample, the last one included.
    const std::vector<int> ramp = {0, 30, 60, 90, 120, 150, 255};
    EXPECT_EQ(resampled(ramp, 7, filter), ramp) << filter;
    // A constant row stays constant.
    for (int n_out : {1, 2, 5, 9, 31})
      EXPECT_EQ(resampled(std::vector<int>(6, 200), n_out, filter), std::vector<int>(n_out, 200)) << n_out;
    for (int n_out : {3, 7, 1999, 5000})
      EXPECT_EQ(resampled(std::vector<int>(2000, 255), n_out, filter), std::vector<int>(n_out, 255)) << n_out;
  }
  // Point sampling: index k * (n_in - 0.5) / n_out when enlarging,
  // k * n_in / (n_out - 0.5) when reducing.
  EXPECT_EQ(resampled({10, 20, 30}, 5, 0), std::vector<int>({10, 10, 20, 20, 30}));
  EXPECT_EQ(resampled({10, 20, 30, 40, 50, 60}, 3, 0), std::vector<int>({10, 30, 50}));
  // Area: a ramp stays a ramp, bounded by its ends, when enlarged or reduced.
  for (int n_out : {2, 3, 4, 8, 13, 40}) {
    const std::vector<int> out = resampled({0, 255}, n_out, 1);
    EXPECT_EQ(out.front(), 0) << n_out;
    EXPECT_EQ(out.back(), 255) << n_out;
    for (int k = 1; k < n_out; ++k) EXPECT_LE(out[k - 1], out[k]) << n_out << " at " << k;
  }
  // Hand-worked 2 -> 4: factor 4 / 1.5, step 0.375.
  EXPECT_EQ(resampled({0, 240}, 4, 1), std::vector<int>({0, 90, 200, 240}));
  // Hand-worked 4 -> 2: factor 1.5 / 4, step 8/3.
  EXPECT_EQ(resampled({0, 0, 240, 240}, 2, 1), std::vector<int>({60, 240}));
  // Strided columns of 4-byte pixels.
  unsigned char column[12] = {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0};
  unsigned char out[12] = {};
  imgsystem.filter = 1;
  resample(column, out, 3, 3, 4, 4);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[4], 2);
  EXPECT_EQ(out[8], 3);
  EXPECT_EQ(out[1], 0);
}

TEST(Resize, EqualSizesCopyAndOtherSizesKeepConstants) {
  ImgioSession session;
  std::vector<unsigned int> src(12 * 5);
  for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<unsigned>(i * 2654435761u);
  for (int filter : {0, 1, 7}) {
    std::vector<unsigned int> dst(src.size(), 0xdeadbeef);
    ASSERT_EQ(resizeimage(src.data(), 12, 5, dst.data(), 12, 5, filter), 0);
    EXPECT_EQ(dst, src);
    EXPECT_EQ(imgsystem.filter, filter);
  }
  std::vector<unsigned int> flat(12 * 5, 0x80ff1040u);
  const int sizes[][2] = {{12, 9}, {3, 5}, {24, 2}, {1, 1}, {7, 13}};
  for (int filter : {0, 1})
    for (const auto& size : sizes) {
      std::vector<unsigned int> dst(size[0] * size[1]);
      ASSERT_EQ(resizeimage(flat.data(), 12, 5, dst.data(), size[0], size[1], filter), 0);
      for (unsigned int p : dst) ASSERT_EQ(p, 0x80ff1040u) << size[0] << "x" << size[1] << " " << filter;
    }
  // Channels stay apart: a vertical edge in red only, point-sampled at
  // k * 3.5 / 8.
  std::vector<unsigned int> edge(4 * 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) edge[y * 4 + x] = (x < 2 ? 0u : 200u) | 0x55000000u;
  std::vector<unsigned int> wide(8 * 2);
  ASSERT_EQ(resizeimage(edge.data(), 4, 2, wide.data(), 8, 2, 0), 0);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 8; ++x) {
      const int from = x * 7 / 16;
      EXPECT_EQ(wide[y * 8 + x], (from < 2 ? 0u : 200u) | 0x55000000u) << x;
    }
  EXPECT_EQ(resizeimage(flat.data(), 0, 5, wide.data(), 8, 2, 1), 1);
}

TEST(Reshape, CentresEitherWay) {
  // 2x2 into 4x3: placed at ((4-2)/2, (3-2)/2) = (1, 0).
  const unsigned int small[4] = {1, 2, 3, 4};
  unsigned int big[12];
  ASSERT_EQ(reshapeimage(small, 2, 2, big, 4, 3), 0);
  const unsigned int want_big[12] = {0, 1, 2, 0, 0, 3, 4, 0, 0, 0, 0, 0};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(big[i], want_big[i]) << i;
  // 4x3 into 2x2: taken from ((4-2)/2, (3-2)/2) = (1, 0).
  unsigned int source[12];
  for (int i = 0; i < 12; ++i) source[i] = static_cast<unsigned>(10 + i);
  unsigned int cut[4];
  ASSERT_EQ(reshapeimage(source, 4, 3, cut, 2, 2), 0);
  const unsigned int want_cut[4] = {11, 12, 15, 16};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(cut[i], want_cut[i]) << i;
  // Wider but shorter: 1x4 into 3x2 takes rows 1-2 into column 1.
  const unsigned int column[4] = {5, 6, 7, 8};
  unsigned int mixed[6];
  ASSERT_EQ(reshapeimage(column, 1, 4, mixed, 3, 2), 0);
  const unsigned int want_mixed[6] = {0, 6, 0, 0, 7, 0};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(mixed[i], want_mixed[i]) << i;
  EXPECT_EQ(reshapeimage(column, 1, 4, mixed, 0, 2), 1);
}

TEST(ByteSwaps, EveryValueReversed) {
  unsigned int words[3] = {0x11223344u, 0xA0B0C0D0u, 0x000000FFu};
  valswap(words, 3);
  EXPECT_EQ(words[0], 0x44332211u);
  EXPECT_EQ(words[1], 0xD0C0B0A0u);
  EXPECT_EQ(words[2], 0xFF000000u);
  unsigned short halves[2] = {0x1234, 0xFF00};
  vasswap(halves, 2);
  EXPECT_EQ(halves[0], 0x3412);
  EXPECT_EQ(halves[1], 0x00FF);
  valswap(words, 0);
  EXPECT_EQ(words[0], 0x44332211u);
}
