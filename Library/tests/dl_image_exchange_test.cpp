#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "ImageQ4.h"
#include "band_split.h"
#include "dl_image_exchange.h"
#include "frame_fixture.h"
#include "simd_paths.h"

namespace {

typedef FrameTest ExchangeTest;

// Number of sample positions N/2 + m N below `full`: the rows or columns
// that sub-sampling reaches (worked out from the sampling rule).
long positions_below(long full, int N) {
  long count = 0;
  for (long p = N / 2; p < full; p += N) ++count;
  return count;
}

// The host column and row that preview pixel (m, k) of a w x h preview of a
// W x H frame samples: columns from 0, rows from N/2, every Nth, the pixels
// beyond the last reached one repeating it.
struct HostPosition {
  long x, y;
};
HostPosition sampled_host_position(long m, long k, int N, long w, long h, long W, long H) {
  const long reached_cols = std::min(w, positions_below(W, N));
  const long reached_rows = std::min(h, positions_below(H, N));
  return {std::min(m, reached_cols - 1) * N, N / 2 + std::min(k, reached_rows - 1) * N};
}

bool same_pixels(const ImageQ4& a, const ImageQ4& b) {
  if (a.width != b.width || a.height != b.height) return false;
  const size_t bytes = static_cast<size_t>(a.width) * a.height * sizeof(PixelQ4);
  return bytes == 0 || std::memcmp(a.storage, b.storage, bytes) == 0;
}

}  // namespace

TEST_F(ExchangeTest, EightBitRoundTripIsExactForEveryValue) {
  std::vector<uint8_t> host(256 * 3);
  for (int v = 0; v < 256; ++v) {
    host[v * 3] = static_cast<uint8_t>(v);
    host[v * 3 + 1] = static_cast<uint8_t>(255 - v);
    host[v * 3 + 2] = static_cast<uint8_t>(v ^ 0x55);
  }
  std::unique_ptr<ImageQ4> image(ConvertFromDLImage8(host.data(), 256, 1, 1.25, 1, nullptr, 1));
  ASSERT_TRUE(image);
  EXPECT_DOUBLE_EQ(image->pixel_aspect, 1.25);
  EXPECT_FLOAT_EQ(image->scale, 1.0f);
  for (int v = 0; v < 256; ++v) {
    EXPECT_EQ(image->rows[0][v].r, (v << 7) | (v >> 1));
    EXPECT_EQ(image->rows[0][v].a, 32767);
  }
  EXPECT_EQ(image->rows[0][255].r, 32767);
  EXPECT_EQ(image->rows[0][0].r, 0);
  std::vector<uint8_t> back(host.size(), 0xEE);
  ConvertToDLImage8(image.get(), back.data(), 256, 1, 1);
  EXPECT_EQ(back, host);
}

TEST_F(ExchangeTest, TwelveBitRoundTripKeepsTheHostBits) {
  const int n = 4096;
  std::vector<uint16_t> host(n * 3);
  for (int v = 0; v < n; ++v) {
    host[v * 3] = static_cast<uint16_t>((v << 4) | (v & 15));
    host[v * 3 + 1] = static_cast<uint16_t>(((4095 - v) << 4) | ((v >> 4) & 15));
    host[v * 3 + 2] = static_cast<uint16_t>(((v * 7 & 4095) << 4) | 9);
  }
  std::unique_ptr<ImageQ4> image(ConvertFromDLImage12(host.data(), n, 1, 1.0, 1, nullptr, 1));
  ASSERT_TRUE(image);
  for (int v = 0; v < n; ++v) {
    EXPECT_EQ(image->rows[0][v].r, (v << 3) | (v >> 9));
    EXPECT_EQ(image->rows[0][v].a, 32767);
  }
  EXPECT_EQ(image->rows[0][4095].r, 32767);
  // Written back over a buffer with other low bits: the top 12 bits come
  // from the image, the low 4 bits stay the host's.
  std::vector<uint16_t> out(host.size());
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint16_t>(0xABC0 | (i * 5 & 15));
  ConvertToDLImage12(image.get(), out.data(), n, 1, 1, 0);
  for (size_t i = 0; i < out.size(); ++i) {
    ASSERT_EQ(out[i] >> 4, host[i] >> 4) << i;
    ASSERT_EQ(out[i] & 15, static_cast<int>(i * 5 & 15)) << i;
  }
  std::vector<uint16_t> same(host);
  ConvertToDLImage12(image.get(), same.data(), n, 1, 1, 0);
  EXPECT_EQ(same, host);
}

TEST_F(ExchangeTest, OutOfRangeChannelsAndTruncation) {
  ImageQ4 image(2, 1, 1.0f, nullptr, nullptr);
  image.rows[0][0] = PixelQ4{40000, 32767, 0, 0};
  image.rows[0][1] = PixelQ4{65535, 8, 7, 0};
  uint8_t bytes[6];
  ConvertToDLImage8(&image, bytes, 2, 1, 1);
  EXPECT_EQ(bytes[0], 255);
  EXPECT_EQ(bytes[1], 255);
  EXPECT_EQ(bytes[3], 255);
  uint16_t words[6] = {3, 3, 3, 3, 3, 3};
  ConvertToDLImage12(&image, words, 2, 1, 1, 0);
  EXPECT_EQ(words[0], (4095 << 4) | 3);
  EXPECT_EQ(words[4], (1 << 4) | 3);
  ConvertToDLImage12(&image, words, 2, 1, 1, 1);  // 8 bits of precision only
  EXPECT_EQ(words[0], (0xFF0 << 4) | 3);
  EXPECT_EQ(words[4], 3);
}

TEST_F(ExchangeTest, PreviewSizes) {
  EXPECT_EQ(preview_size(10, 3), 4);  // 3 is odd: rounded up
  EXPECT_EQ(preview_size(12, 4), 4);
  EXPECT_EQ(preview_size(2048, 4), 512);
  EXPECT_EQ(preview_size(1556, 4), 390);  // 389 rounded up to even
  EXPECT_EQ(preview_size(11, 1), 11);
  EXPECT_EQ(preview_size(11, 0), 11);
  EXPECT_EQ(preview_size(11, -4), 11);
}

TEST_F(ExchangeTest, HandWorkedSubSampling) {
  // Width 10 at N = 3: columns 0, 3, 6, then the unreached fourth repeats 6.
  // Height 7: rows 1 and 4 are sampled (7 is beyond), h' = 2.
  uint8_t host[7][10][3];
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 10; ++x) {
      host[y][x][0] = static_cast<uint8_t>(x);
      host[y][x][1] = static_cast<uint8_t>(y);
      host[y][x][2] = 200;
    }
  std::unique_ptr<ImageQ4> image(ConvertFromDLImage8(host, 10, 7, 1.0, 3, nullptr, 1));
  ASSERT_EQ(image->width, 4);
  ASSERT_EQ(image->height, 2);
  EXPECT_FLOAT_EQ(image->scale, 3.0f);
  const int cols[4] = {0, 3, 6, 6};
  const int rows[2] = {1, 4};
  for (int k = 0; k < 2; ++k)
    for (int m = 0; m < 4; ++m) {
      EXPECT_EQ(image->rows[k][m].r >> 7, cols[m]);
      EXPECT_EQ(image->rows[k][m].g >> 7, rows[k]);
    }
  // Width 12 at N = 4: positions 2, 6, 10 are below 12, so columns 0, 4, 8
  // and the fourth repeats 8; height 8 gives rows 2 and 6.
  uint8_t wide[8][12][3] = {};
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 12; ++x) {
      wide[y][x][0] = static_cast<uint8_t>(x);
      wide[y][x][1] = static_cast<uint8_t>(y);
    }
  std::unique_ptr<ImageQ4> strip(ConvertFromDLImage8(wide, 12, 8, 1.0, 4, nullptr, 1));
  ASSERT_EQ(strip->width, 4);
  ASSERT_EQ(strip->height, 2);
  const int cols4[4] = {0, 4, 8, 8};
  for (int m = 0; m < 4; ++m) EXPECT_EQ(strip->rows[1][m].r >> 7, cols4[m]);
  EXPECT_EQ(strip->rows[0][0].g >> 7, 2);
  EXPECT_EQ(strip->rows[1][0].g >> 7, 6);
}

TEST_F(ExchangeTest, WritingReplicatesBlocks) {
  ImageQ4 image(2, 2, 1.0f, nullptr, nullptr);
  image.rows[0][0] = PixelQ4{1 << 7, 0, 0, 0};
  image.rows[0][1] = PixelQ4{2 << 7, 0, 0, 0};
  image.rows[1][0] = PixelQ4{3 << 7, 0, 0, 0};
  image.rows[1][1] = PixelQ4{4 << 7, 0, 0, 0};
  uint8_t host[4][4][3];
  ConvertToDLImage8(&image, host, 4, 4, 2);
  const int expect[4][4] = {{1, 1, 2, 2}, {1, 1, 2, 2}, {3, 3, 4, 4}, {3, 3, 4, 4}};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(host[y][x][0], expect[y][x]);
}

// A 12-bit frame whose red holds the column and green the row: the image at
// every factor must show exactly which host pixel each sample came from,
// and the way out must cover every host pixel from the right sample.
TEST_F(ExchangeTest, PreviewGeometryOnOddFrames) {
  const int sizes[][2] = {{1001, 723}, {67, 45}, {33, 97}};
  for (const auto& size : sizes) {
    const int W = size[0], H = size[1];
    std::vector<uint16_t> host(static_cast<size_t>(W) * H * 3);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        uint16_t* p = &host[(static_cast<size_t>(y) * W + x) * 3];
        p[0] = static_cast<uint16_t>(x << 4);
        p[1] = static_cast<uint16_t>(y << 4);
        p[2] = static_cast<uint16_t>(4000 << 4);
      }
    for (int N : {1, 2, 3, 4, 6, 8, 12, 16, 32}) {
      std::unique_ptr<ImageQ4> image(ConvertFromDLImage12(host.data(), W, H, 1.0, N, nullptr, 1));
      ASSERT_TRUE(image);
      const long w = N == 1 ? W : (W / N) % 2 ? W / N + 1 : W / N;
      const long h = N == 1 ? H : (H / N) % 2 ? H / N + 1 : H / N;
      ASSERT_EQ(image->width, w) << W << " N " << N;
      ASSERT_EQ(image->height, h) << H << " N " << N;
      for (long k = 0; k < h; ++k)
        for (long m = 0; m < w; ++m) {
          const PixelQ4& p = image->rows[k][m];
          const auto [sx, sy] = sampled_host_position(m, k, N, w, h, W, H);
          ASSERT_EQ(p.r >> 3, sx) << "N " << N << " m " << m;
          ASSERT_EQ(p.g >> 3, sy) << "N " << N << " k " << k;
          ASSERT_EQ(p.b >> 3, 4000);
          ASSERT_EQ(p.a, 32767);
        }
      std::vector<uint16_t> out(host.size(), 0xFFFD);  // 4095 in red/green never occurs
      ConvertToDLImage12(image.get(), out.data(), W, H, N, 0);
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          const uint16_t* p = &out[(static_cast<size_t>(y) * W + x) * 3];
          const PixelQ4& s = image->rows[std::min<long>(y / N, h - 1)][std::min<long>(x / N, w - 1)];
          ASSERT_EQ(p[0] >> 4, s.r >> 3) << "N " << N << " at " << x << "," << y;
          ASSERT_EQ(p[1] >> 4, s.g >> 3);
          ASSERT_EQ(p[2], (4000 << 4) | 0xD);
        }
    }
  }
}

TEST_F(ExchangeTest, EightBitPreviewCoversEveryHostPixel) {
  const int W = 201, H = 151;
  std::vector<uint8_t> host(static_cast<size_t>(W) * H * 3);
  for (size_t i = 0; i < host.size(); ++i) host[i] = static_cast<uint8_t>(i * 31 % 251);
  for (int N : {1, 2, 3, 4, 6, 8, 12, 16, 32}) {
    std::unique_ptr<ImageQ4> image(ConvertFromDLImage8(host.data(), W, H, 1.0, N, nullptr, 1));
    std::vector<uint8_t> out(host.size(), 0);
    std::vector<uint8_t> out2(host.size(), 255);
    ConvertToDLImage8(image.get(), out.data(), W, H, N);
    ConvertToDLImage8(image.get(), out2.data(), W, H, N);
    EXPECT_EQ(out, out2) << "N " << N;  // nothing left from either start
    if (N == 1) {
      EXPECT_EQ(out, host);
    }
  }
}

// The 8-bit twin of the geometry check: red holds the column and green the
// row (both below 256), so each sample names the host pixel it came from.
TEST_F(ExchangeTest, EightBitPreviewSamplesTheRightHostPixels) {
  const int W = 201, H = 151;
  std::vector<uint8_t> host(static_cast<size_t>(W) * H * 3);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      uint8_t* p = &host[(static_cast<size_t>(y) * W + x) * 3];
      p[0] = static_cast<uint8_t>(x);
      p[1] = static_cast<uint8_t>(y);
      p[2] = 250;
    }
  for (int N : {3, 4}) {
    std::unique_ptr<ImageQ4> image(ConvertFromDLImage8(host.data(), W, H, 1.0, N, nullptr, 1));
    ASSERT_TRUE(image);
    // An odd quotient rounds up: 201 / 3 = 67 gives 68, 151 / 3 = 50;
    // 201 / 4 = 50, 151 / 4 = 37 gives 38.
    const long w = N == 3 ? 68 : 50, h = N == 3 ? 50 : 38;
    ASSERT_EQ(image->width, w) << "N " << N;
    ASSERT_EQ(image->height, h) << "N " << N;
    for (long k = 0; k < h; ++k)
      for (long m = 0; m < w; ++m) {
        const PixelQ4& p = image->rows[k][m];
        const auto [sx, sy] = sampled_host_position(m, k, N, w, h, W, H);
        ASSERT_EQ(p.r, (sx << 7) | (sx >> 1)) << "N " << N << " m " << m;
        ASSERT_EQ(p.g, (sy << 7) | (sy >> 1)) << "N " << N << " k " << k;
        ASSERT_EQ(p.b >> 7, 250);
        ASSERT_EQ(p.a, 32767);
      }
    std::vector<uint8_t> out(host.size(), 0xFF);  // 255 never occurs in red or green
    ConvertToDLImage8(image.get(), out.data(), W, H, N);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const uint8_t* p = &out[(static_cast<size_t>(y) * W + x) * 3];
        const PixelQ4& s = image->rows[std::min<long>(y / N, h - 1)][std::min<long>(x / N, w - 1)];
        ASSERT_EQ(p[0], s.r >> 7) << "N " << N << " at " << x << "," << y;
        ASSERT_EQ(p[1], s.g >> 7) << "N " << N << " at " << x << "," << y;
        ASSERT_EQ(p[2], 250);
      }
  }
}

TEST_F(ExchangeTest, FactorsBelowOneAndMissingBuffers) {
  uint8_t host[2 * 2 * 3] = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};
  for (int N : {0, -3}) {
    std::unique_ptr<ImageQ4> image(ConvertFromDLImage8(host, 2, 2, 1.0, N, nullptr, 1));
    ASSERT_EQ(image->width, 2);
    EXPECT_FLOAT_EQ(image->scale, 1.0f);
    EXPECT_EQ(image->rows[1][1].b >> 7, 120);
    uint8_t out[12] = {};
    ConvertToDLImage8(image.get(), out, 2, 2, N);
    EXPECT_EQ(0, std::memcmp(out, host, 12));
  }
  EXPECT_EQ(ConvertFromDLImage8(nullptr, 2, 2, 1.0, 1, nullptr, 1), nullptr);
  EXPECT_EQ(ConvertFromDLImage12(nullptr, 2, 2, 1.0, 1, nullptr, 1), nullptr);
  ImageQ4 image(2, 2, 1.0f, nullptr, nullptr);
  ConvertToDLImage8(&image, nullptr, 2, 2, 1);
  ConvertToDLImage12(nullptr, host, 2, 2, 1, 0);
  EXPECT_EQ(host[0], 10);
}

TEST_F(ExchangeTest, CopyZeroDoesNotReadTheBuffer) {
  uint8_t tiny[3] = {1, 2, 3};  // far smaller than the frame: a read would overrun
  std::unique_ptr<ImageQ4> image(ConvertFromDLImage8(tiny, 100, 80, 2.0, 4, nullptr, 0));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width, 26);  // 25 rounded up
  EXPECT_EQ(image->height, 20);
  EXPECT_FLOAT_EQ(image->scale, 4.0f);
  EXPECT_DOUBLE_EQ(image->pixel_aspect, 2.0);
}

TEST_F(ExchangeTest, GivenImagesOfAnotherSizeStayInside) {
  std::vector<uint8_t> host(6 * 5 * 3, 128);
  ImageQ4 small(3, 2, 1.0f, nullptr, nullptr), big(9, 8, 1.0f, nullptr, nullptr);
  big.Fill(1, 1, 1, 1);
  EXPECT_EQ(ConvertFromDLImage8(host.data(), 6, 5, 1.0, 1, &small, 1), &small);
  EXPECT_EQ(small.rows[1][2].r, (128 << 7) | 64);
  EXPECT_EQ(ConvertFromDLImage8(host.data(), 6, 5, 1.0, 1, &big, 1), &big);
  EXPECT_EQ(big.rows[4][5].r, (128 << 7) | 64);
  EXPECT_EQ(big.rows[7][8].r, (128 << 7) | 64);  // beyond the frame: repeated
  std::vector<uint8_t> out(host.size(), 0);
  small.Fill(32767, 0, 0, 0);
  ConvertToDLImage8(&small, out.data(), 6, 5, 1);
  EXPECT_EQ(out[(4 * 6 + 5) * 3], 255);  // the last sample repeats to the edge
}

// The host-parallel workers give the serial conversions' pixels on any
// number of workers, including an image scale below 1 (an image wider than
// 720 built by the constructor) which must count as N = 1.
TEST_F(ExchangeTest, BandWorkersMatchSerialConversions) {
  const int W = 45, H = 31;
  std::vector<uint8_t> host8(W * H * 3);
  std::vector<uint16_t> host12(W * H * 3);
  for (size_t i = 0; i < host8.size(); ++i) {
    host8[i] = static_cast<uint8_t>(i * 13 % 256);
    host12[i] = static_cast<uint16_t>(i * 2711 % 65536);
  }
  for (int N : {1, 2, 3, 4, 32}) {
    std::unique_ptr<ImageQ4> serial8(ConvertFromDLImage8(host8.data(), W, H, 1.0, N, nullptr, 1));
    std::unique_ptr<ImageQ4> serial12(ConvertFromDLImage12(host12.data(), W, H, 1.0, N, nullptr, 1));
    for (int workers : {1, 2, 5, 8, 40}) {
      standin_set_processes(workers);
      std::unique_ptr<ImageQ4> band8(ConvertFromDLImage8(host8.data(), W, H, 1.0, N, nullptr, 0));
      std::unique_ptr<ImageQ4> band12(ConvertFromDLImage12(host12.data(), W, H, 1.0, N, nullptr, 0));
      sparkMpFork(reinterpret_cast<SparkMpRoutine>(&mp_copy_pixel_data_scale), 5,
                  static_cast<void*>(host8.data()), static_cast<void*>(band8.get()),
                  int_arg(workers), int_arg(H), int_arg(W));
      sparkMpFork(reinterpret_cast<SparkMpRoutine>(&mp_copy_pixel_data_scale_deep12), 5,
                  static_cast<void*>(host12.data()), static_cast<void*>(band12.get()),
                  int_arg(workers), int_arg(H), int_arg(W));
      ASSERT_TRUE(same_pixels(*band8, *serial8)) << N << " " << workers;
      ASSERT_TRUE(same_pixels(*band12, *serial12)) << N << " " << workers;

      std::vector<uint8_t> out_serial(host8.size(), 0), out_band(host8.size(), 0);
      std::vector<uint16_t> deep_serial(host12), deep_band(host12);
      ConvertToDLImage8(serial8.get(), out_serial.data(), W, H, N);
      ConvertToDLImage12(serial12.get(), deep_serial.data(), W, H, N, 0);
      sparkMpFork(reinterpret_cast<SparkMpRoutine>(&mp_paste_pixel_data_scale), 5,
                  static_cast<void*>(out_band.data()), static_cast<void*>(band8.get()),
                  int_arg(workers), int_arg(H), int_arg(W));
      sparkMpFork(reinterpret_cast<SparkMpRoutine>(&mp_paste_pixel_data_scale_deep12), 5,
                  static_cast<void*>(deep_band.data()), static_cast<void*>(band12.get()),
                  int_arg(workers), int_arg(H), int_arg(W));
      ASSERT_EQ(out_band, out_serial) << N << " " << workers;
      ASSERT_EQ(deep_band, deep_serial) << N << " " << workers;
    }
  }
  // Full-size workers, and the constructor's scale of 720 / 1000 < 1.
  standin_set_processes(3);
  ImageQ4 wide(1000, 3, 1.0f, nullptr, nullptr);
  ASSERT_LT(wide.scale, 1.0f);
  std::vector<uint8_t> row(1000 * 3 * 3);
  for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<uint8_t>(i % 256);
  sparkMpFork(reinterpret_cast<SparkMpRoutine>(&mp_copy_pixel_data_scale), 5,
              static_cast<void*>(row.data()), static_cast<void*>(&wide), int_arg(3), int_arg(3),
              int_arg(1000));
  EXPECT_EQ(wide.rows[2][999].b >> 7, row[(2 * 1000 + 999) * 3 + 2]);
  ImageQ4 plain(1000, 3, 1.0f, nullptr, nullptr);
  sparkMpFork(reinterpret_cast<SparkMpRoutine>(&mp_copy_pixel_data), 3,
              static_cast<void*>(row.data()), static_cast<void*>(&plain), int_arg(0));
  EXPECT_EQ(0, std::memcmp(plain.storage, wide.storage, 3000 * sizeof(PixelQ4)));
  std::vector<uint8_t> back(row.size(), 0);
  sparkMpFork(reinterpret_cast<SparkMpRoutine>(&mp_paste_pixel_data), 3,
              static_cast<void*>(back.data()), static_cast<void*>(&plain), int_arg(3));
  EXPECT_EQ(back, row);
  std::vector<uint16_t> words(1000 * 3 * 3, 0x0007);
  ImageQ4 deep(1000, 3, 1.0f, nullptr, nullptr);
  deep.Fill(32767, 0, 8, 0);
  sparkMpFork(reinterpret_cast<SparkMpRoutine>(&mp_paste_pixel_data_deep12), 3,
              static_cast<void*>(words.data()), static_cast<void*>(&deep), int_arg(3));
  ImageQ4 again(1000, 3, 1.0f, nullptr, nullptr);
  sparkMpFork(reinterpret_cast<SparkMpRoutine>(&mp_copy_pixel_data_deep12), 3,
              static_cast<void*>(words.data()), static_cast<void*>(&again), int_arg(3));
  EXPECT_EQ(words[0], 0xFFF7);
  EXPECT_EQ(again.rows[2][999].r, 32767);
  EXPECT_EQ(again.rows[2][999].b, 8);
}

// Full-resolution rows go four pixels a vector and the rest one by one:
// widths around multiples of four leave every remainder. The image holds
// channels beyond 32767 (saturating on the way out) and the host's words
// their own low bits.
TEST_F(ExchangeTest, VectorAndPortablePathsGiveTheSameBytes) {
  for (int W : {1, 3, 4, 5, 7, 8, 9, 30, 65}) {
    const int H = 3;
    const size_t samples = static_cast<size_t>(W) * H * 3;
    std::vector<uint8_t> host8(samples);
    std::vector<uint16_t> host12(samples);
    for (size_t i = 0; i < samples; ++i) {
      host8[i] = static_cast<uint8_t>(i * 37 + 11);
      host12[i] = static_cast<uint16_t>(i * 2711 + 5);
    }
    ImageQ4 image(W, H, 1.0f, nullptr, nullptr);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const unsigned v = static_cast<unsigned>((y * W + x) * 40503u);
        image.rows[y][x] = PixelQ4{static_cast<unsigned short>(v), static_cast<unsigned short>(v >> 3),
                                   static_cast<unsigned short>(v >> 17), 0};
      }
    const auto paths = run_on_both_simd_paths([&] {
      std::vector<uint8_t> all;
      auto keep = [&all](const void* data, size_t bytes) {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        all.insert(all.end(), p, p + bytes);
      };
      const size_t pixel_bytes = static_cast<size_t>(W) * H * sizeof(PixelQ4);
      std::unique_ptr<ImageQ4> in8(ConvertFromDLImage8(host8.data(), W, H, 1.0, 1, nullptr, 1));
      std::unique_ptr<ImageQ4> in12(ConvertFromDLImage12(host12.data(), W, H, 1.0, 1, nullptr, 1));
      keep(in8->storage, pixel_bytes);
      keep(in12->storage, pixel_bytes);
      std::vector<uint8_t> out8(samples, 0x5A);
      ConvertToDLImage8(&image, out8.data(), W, H, 1);
      keep(out8.data(), samples);
      for (int truncate : {0, 1}) {
        std::vector<uint16_t> out12(host12);
        ConvertToDLImage12(&image, out12.data(), W, H, 1, truncate);
        keep(out12.data(), samples * 2);
      }
      return all;
    });
    EXPECT_EQ(paths.first, paths.second) << "width " << W;
  }
}
