#ifndef FILTER_FIXTURE_H
#define FILTER_FIXTURE_H

// Images and comparisons shared by the frame-image filter tests.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "ImageQ4.h"
#include "frame_fixture.h"
#include "simd_paths.h"

typedef std::unique_ptr<ImageQ4> Image;

inline Image new_image(int width, int height) {
  return Image(new ImageQ4(width, height, 1.0f, nullptr, nullptr));
}

inline Image copy_image(ImageQ4& image) { return Image(new ImageQ4(image)); }

// Deterministic noise over the whole 15-bit range, different per channel.
inline void fill_noise(ImageQ4& image, unsigned seed) {
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      unsigned v = static_cast<unsigned>(x) * 2654435761u ^ (static_cast<unsigned>(y) * 40503u + seed * 977u);
      v ^= v >> 13;
      v *= 0x5bd1e995u;
      v ^= v >> 15;
      image.rows[y][x] = PixelQ4{
          static_cast<unsigned short>(v % 32768), static_cast<unsigned short>((v >> 5) % 32768),
          static_cast<unsigned short>((v >> 11) % 32768), static_cast<unsigned short>((v >> 17) % 32768)};
    }
}

inline std::vector<PixelQ4> pixels_of(const ImageQ4& image) {
  return std::vector<PixelQ4>(image.storage, image.storage + static_cast<size_t>(image.width) * image.height);
}

inline bool same_pixels(const ImageQ4& a, const ImageQ4& b) {
  return a.width == b.width && a.height == b.height &&
         std::memcmp(a.storage, b.storage, static_cast<size_t>(a.width) * a.height * sizeof(PixelQ4)) == 0;
}

inline unsigned short channel_value(const PixelQ4& p, int c) {
  return c == 0 ? p.r : c == 1 ? p.g : c == 2 ? p.b : p.a;
}

inline bool same_pixel(const PixelQ4& a, const PixelQ4& b) {
  return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a;
}

class FilterTest : public FrameTest {
 protected:
  // Runs `filter` on a copy of `input` with 1 host worker, then with 3 and
  // 8 (uneven and, on short images, empty bands), and expects the same bytes
  // every time; returns the one-worker result.
  Image same_on_workers(ImageQ4& input, const std::function<void(ImageQ4&)>& filter) {
    Image serial;
    for (int workers : {1, 3, 8}) {
      use_workers(workers);
      Image out = copy_image(input);
      filter(*out);
      if (!serial)
        serial = std::move(out);
      else
        EXPECT_TRUE(same_pixels(*serial, *out)) << "differs on " << workers << " workers";
    }
    use_workers(1);
    return serial;
  }

  // Runs `filter` on a copy of `input` on the portable and on the best
  // kernel copies and expects the same bytes.
  static void same_on_both_paths(ImageQ4& input, const std::function<void(ImageQ4&)>& filter) {
    const auto paths = run_on_both_simd_paths([&] {
      Image out = copy_image(input);
      filter(*out);
      return pixels_of(*out);
    });
    ASSERT_EQ(paths.first.size(), paths.second.size());
    EXPECT_EQ(0, std::memcmp(paths.first.data(), paths.second.data(), paths.first.size() * sizeof(PixelQ4)));
  }
};

#endif
