#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "image_data.h"
#include "image_mirror.h"
#include "image_ptr.h"
#include "test_executor.h"

namespace {

template <typename T>
T* px(image_data* img) {
  return static_cast<T*>(img->pixels);
}

}  // namespace

TEST(ImageRecord, CreateRefusesBadGeometryTypeAndOversizedBlocks) {
  EXPECT_EQ(image_data_create(0, 10, 1, IMAGE_PIXEL_BYTE, 1), nullptr);
  EXPECT_EQ(image_data_create(10, 65536, 1, IMAGE_PIXEL_BYTE, 1), nullptr);
  EXPECT_EQ(image_data_create(10, 10, 0, IMAGE_PIXEL_BYTE, 1), nullptr);
  EXPECT_EQ(image_data_create(10, 10, 1, 4, 1), nullptr);
  EXPECT_EQ(image_data_create(10, 10, 1, -1, 1), nullptr);
  // 65535 x 65535 x 4 floats wraps a 32-bit byte count; per-pixel bytes of
  // 20000 x 4 do not fit the 16-bit field. Both are refused, never under-allocated.
  EXPECT_EQ(image_data_create(65535, 65535, 4, IMAGE_PIXEL_FLOAT, 0), nullptr);
  EXPECT_EQ(image_data_create(2, 2, 20000, IMAGE_PIXEL_FLOAT, 0), nullptr);
  EXPECT_EQ(image_data_create(nullptr), nullptr);
}

TEST(ImageRecord, CreateFillsHeaderAndDeleteHonoursOwnership) {
  image_data* img = image_data_create(7, 5, 3, IMAGE_PIXEL_WORD, 1);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->row_bytes, 7u * 3 * 2);
  EXPECT_EQ(img->pixel_bytes, 6);
  EXPECT_EQ(img->sample_bytes, 2);
  EXPECT_EQ(img->owns_pixels, 1);
  EXPECT_EQ(img->range_valid, 0u);
  EXPECT_DOUBLE_EQ(img->display_aspect, 7.0 / 5.0);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(img->pixels) % 512, 0u);  // page aligned
  EXPECT_EQ(image_data_delete(img), 0);

  image_data* bare = image_data_create(4, 4, 1, IMAGE_PIXEL_FLOAT, 0);
  ASSERT_NE(bare, nullptr);
  EXPECT_EQ(bare->pixels, nullptr);
  EXPECT_EQ(bare->owns_pixels, 0);
  std::vector<float> mine(16, 2.5f);
  bare->pixels = mine.data();
  EXPECT_EQ(image_data_delete(bare), 0);  // must not free caller storage
  EXPECT_EQ(mine[15], 2.5f);
  EXPECT_EQ(image_data_delete(nullptr), -1);

  image_data* img2 = image_data_create(3, 3, 1, IMAGE_PIXEL_BYTE, 1);
  EXPECT_EQ(image_display_aspect(img2, 0.0), 0);
  EXPECT_EQ(image_display_aspect(img2, -2.0), 0);
  EXPECT_DOUBLE_EQ(img2->display_aspect, 1.0);
  EXPECT_EQ(image_display_aspect(img2, 1.5), 1);
  EXPECT_DOUBLE_EQ(img2->display_aspect, 1.5);
  image_data_delete(img2);
}

TEST(ImageRecord, CopiesCarryPixelsAndStoredRange) {
  std::unique_ptr<image_data, ImageDeleter> src(image_data_create(5, 4, 2, IMAGE_PIXEL_WORD32, 1));
  for (int i = 0; i < 40; ++i) px<uint32_t>(src.get())[i] = 4000000000u - i;
  src->range_min = 3.0;
  src->range_max = 9.0;
  src->range_valid = 0;
  image_display_aspect(src.get(), 3.0);
  std::unique_ptr<image_data, ImageDeleter> copy(image_data_copy(src.get()));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(std::memcmp(copy->pixels, src->pixels, 160), 0);
  EXPECT_EQ(copy->range_min, 0.0);  // range not valid: not carried
  EXPECT_EQ(copy->range_max, 0.0);
  EXPECT_DOUBLE_EQ(copy->display_aspect, 5.0 / 4.0);

  src->range_valid = 1;
  std::unique_ptr<image_data, ImageDeleter> dst(image_data_create(src.get()));
  EXPECT_EQ(image_data_copy(src.get(), dst.get()), 1);
  EXPECT_EQ(dst->range_valid, 1u);
  EXPECT_EQ(dst->range_max, 9.0);

  std::unique_ptr<image_data, ImageDeleter> other(image_data_create(5, 4, 3, IMAGE_PIXEL_WORD32, 1));
  std::memset(other->pixels, 0x11, other->row_bytes * other->height);
  EXPECT_EQ(image_data_copy(src.get(), other.get()), 0);
  EXPECT_EQ(px<uint32_t>(other.get())[0], 0x11111111u);
  EXPECT_EQ(image_data_copy(nullptr, dst.get()), 0);
  EXPECT_EQ(image_data_copy(static_cast<image_data*>(nullptr)), nullptr);
}

TEST(ImageRecord, ChannelMaskAndPermutation) {
  std::unique_ptr<image_data, ImageDeleter> src(image_data_create(3, 2, 4, IMAGE_PIXEL_FLOAT, 1));
  std::unique_ptr<image_data, ImageDeleter> dst(image_data_create(3, 2, 4, IMAGE_PIXEL_FLOAT, 1));
  for (int p = 0; p < 6; ++p)
    for (int c = 0; c < 4; ++c) px<float>(src.get())[p * 4 + c] = 10.0f * p + c + 1;

  EXPECT_EQ(image_data_copy_channels(nullptr, nullptr, 0), 1);
  image_data_fill(dst.get(), -1.0);
  EXPECT_EQ(image_data_copy_channels(src.get(), dst.get(), 0x5), 1);
  for (int p = 0; p < 6; ++p) {
    EXPECT_EQ(px<float>(dst.get())[p * 4 + 0], 10.0f * p + 1);
    EXPECT_EQ(px<float>(dst.get())[p * 4 + 1], -1.0f);
    EXPECT_EQ(px<float>(dst.get())[p * 4 + 2], 10.0f * p + 3);
    EXPECT_EQ(px<float>(dst.get())[p * 4 + 3], -1.0f);
  }
  src->range_valid = 1;
  src->range_max = 7.0;
  EXPECT_EQ(image_data_copy_channels(src.get(), dst.get(), 0xFFFFFFFFu), 1);
  EXPECT_EQ(dst->range_max, 7.0);
  EXPECT_EQ(std::memcmp(src->pixels, dst->pixels, 96), 0);

  int swap[] = {3, 2, 1};
  EXPECT_EQ(image_data_copy_channels_and_permute(src.get(), dst.get(), swap, 3), 1);
  for (int p = 0; p < 6; ++p) {
    const float* d = px<float>(dst.get()) + p * 4;
    EXPECT_EQ(d[0], 10.0f * p + 3);
    EXPECT_EQ(d[1], 10.0f * p + 2);
    EXPECT_EQ(d[2], 10.0f * p + 1);
    EXPECT_EQ(d[3], 10.0f * p + 1);  // the last entry repeats
  }
  // In place: red and blue trade places.
  EXPECT_EQ(image_data_copy_channels_and_permute(src.get(), src.get(), swap, 3), 1);
  EXPECT_EQ(px<float>(src.get())[4], 13.0f);
  EXPECT_EQ(px<float>(src.get())[6], 11.0f);
  EXPECT_EQ(px<float>(src.get())[7], 11.0f);
  EXPECT_EQ(image_data_copy_channels_and_permute(src.get(), src.get(), swap, 3), 1);
  EXPECT_EQ(px<float>(src.get())[4], 11.0f);
  EXPECT_EQ(px<float>(src.get())[6], 13.0f);
  for (int p = 0; p < 6; ++p) px<float>(src.get())[p * 4 + 3] = 10.0f * p + 4;
  int high[] = {9};
  EXPECT_EQ(image_data_copy_channels_and_permute(src.get(), dst.get(), high, 1), 1);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(px<float>(dst.get())[4 + c], 14.0f);
  int skip[] = {0, 1};
  image_data_fill(dst.get(), 0.0);
  EXPECT_EQ(image_data_copy_channels_and_permute(src.get(), dst.get(), skip, 2), 1);
  EXPECT_EQ(px<float>(dst.get())[0], 0.0f);  // list entry 0 leaves the channel alone
  EXPECT_EQ(px<float>(dst.get())[1], 1.0f);
  // Any entry below 1, down to INT_MIN, leaves its channel alone; INT_MAX
  // reads the last channel.
  int extremes[] = {INT_MIN, -1, INT_MAX, INT_MIN};
  image_data_fill(dst.get(), -2.0);
  EXPECT_EQ(image_data_copy_channels_and_permute(src.get(), dst.get(), extremes, 4), 1);
  for (int p = 0; p < 6; ++p) {
    const float* d = px<float>(dst.get()) + p * 4;
    EXPECT_EQ(d[0], -2.0f);
    EXPECT_EQ(d[1], -2.0f);
    EXPECT_EQ(d[2], 10.0f * p + 4);
    EXPECT_EQ(d[3], -2.0f);
  }
  EXPECT_EQ(image_data_copy_channels_and_permute(src.get(), nullptr, skip, 2), 0);
  EXPECT_EQ(image_data_copy_channels_and_permute(nullptr, nullptr, skip, 0), 1);

  // Wide pixels (far beyond 64 channels) are served without overrun.
  std::unique_ptr<image_data, ImageDeleter> wide(image_data_create(2, 2, 100, IMAGE_PIXEL_BYTE, 1));
  std::unique_ptr<image_data, ImageDeleter> wide2(image_data_create(2, 2, 100, IMAGE_PIXEL_BYTE, 1));
  for (int i = 0; i < 400; ++i) px<uint8_t>(wide.get())[i] = static_cast<uint8_t>(i % 100);
  image_data_zero(wide2.get());
  int reverse[100];
  for (int c = 0; c < 100; ++c) reverse[c] = 100 - c;
  EXPECT_EQ(image_data_copy_channels_and_permute(wide.get(), wide2.get(), reverse, 100), 1);
  for (int i = 0; i < 400; ++i) EXPECT_EQ(px<uint8_t>(wide2.get())[i], 99 - i % 100);
}

TEST(ImageRecord, FillClampsAndTruncatesPerType) {
  std::unique_ptr<image_data, ImageDeleter> b(image_data_create(3, 3, 2, IMAGE_PIXEL_BYTE, 1));
  image_data_fill(b.get(), 300.0);
  EXPECT_EQ(px<uint8_t>(b.get())[17], 255);
  image_data_fill(b.get(), -4.0);
  EXPECT_EQ(px<uint8_t>(b.get())[5], 0);
  image_data_fill(b.get(), 3.9);
  EXPECT_EQ(px<uint8_t>(b.get())[0], 3);

  std::unique_ptr<image_data, ImageDeleter> w(image_data_create(3, 3, 2, IMAGE_PIXEL_WORD, 1));
  image_data_fill_norm(w.get(), 0.5);
  EXPECT_EQ(px<uint16_t>(w.get())[9], 32767);
  image_data_fill(w.get(), 70000.0);
  EXPECT_EQ(px<uint16_t>(w.get())[1], 65535);
  image_data_fill_norm(w.get(), -0.5);
  EXPECT_EQ(px<uint16_t>(w.get())[1], 0);

  std::unique_ptr<image_data, ImageDeleter> d(image_data_create(3, 3, 1, IMAGE_PIXEL_WORD32, 1));
  image_data_fill(d.get(), 5e9);
  EXPECT_EQ(px<uint32_t>(d.get())[8], 4294967295u);
  image_data_fill_norm(d.get(), 1.0);
  EXPECT_EQ(px<uint32_t>(d.get())[0], 4294967295u);
  image_data_fill(d.get(), -1.0);
  EXPECT_EQ(px<uint32_t>(d.get())[0], 0u);

  std::unique_ptr<image_data, ImageDeleter> f(image_data_create(3, 3, 2, IMAGE_PIXEL_FLOAT, 1));
  image_data_fill(f.get(), -4.0);
  EXPECT_EQ(px<float>(f.get())[4], -4.0f);
  image_data_fill_norm(f.get(), 2.0);
  EXPECT_EQ(px<float>(f.get())[4], 1.0f);
  double twos[] = {2.0, 0.25};
  image_data_channel_fill_vector_norm(f.get(), twos, 2);
  EXPECT_EQ(px<float>(f.get())[0], 2.0f);  // vector norm fills are not clamped
  EXPECT_EQ(px<float>(f.get())[1], 0.25f);
  image_data_zero(nullptr);  // ignored
}

TEST(ImageRecord, ChannelFillsPickAndLimitTheChannel) {
  std::unique_ptr<image_data, ImageDeleter> img(image_data_create(4, 2, 4, IMAGE_PIXEL_WORD, 1));
  image_data_zero(img.get());
  image_data_channel_fill(img.get(), 7.0, -3);
  image_data_channel_fill(img.get(), 9.0, 7);
  image_data_channel_fill_norm(img.get(), 2.0, 1);
  for (int p = 0; p < 8; ++p) {
    const uint16_t* s = px<uint16_t>(img.get()) + p * 4;
    EXPECT_EQ(s[0], 7);
    EXPECT_EQ(s[1], 65535);
    EXPECT_EQ(s[2], 0);
    EXPECT_EQ(s[3], 9);
  }
  double values[] = {1.0, 2.0, 3.0, 4.0, 5.0, 6.0};
  image_data_channel_fill_vector(img.get(), values, 6);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(px<uint16_t>(img.get())[28 + c], c + 1);
  image_data_channel_fill_vector(img.get(), values + 4, 0);  // nothing
  EXPECT_EQ(px<uint16_t>(img.get())[0], 1);
}

TEST(ImageRecord, CopyAndFillDispatchFromTheThreshold) {
  ScopedExecutor scoped(3, false);
  ThreadBandExecutor& ex = scoped.executor;
  EXPECT_EQ(image_data_copy_set_mp_thresh(1048576), 1048576);
  EXPECT_EQ(image_data_fill_set_mp_thresh(-5), 0);
  EXPECT_EQ(image_data_fill_set_mp_thresh(1048576), 1048576);

  std::unique_ptr<image_data, ImageDeleter> at(image_data_create(1024, 1024, 1, IMAGE_PIXEL_BYTE, 1));
  std::unique_ptr<image_data, ImageDeleter> at2(image_data_create(1024, 1024, 1, IMAGE_PIXEL_BYTE, 1));
  std::unique_ptr<image_data, ImageDeleter> below(image_data_create(1023, 1025, 1, IMAGE_PIXEL_BYTE, 1));
  std::unique_ptr<image_data, ImageDeleter> below2(image_data_create(1023, 1025, 1, IMAGE_PIXEL_BYTE, 1));

  ex.calls = 0;
  image_data_fill(at.get(), 77.0);
  EXPECT_EQ(ex.calls, 1);
  EXPECT_EQ(ex.last_count, 1024);
  image_data_copy(at.get(), at2.get());
  EXPECT_EQ(ex.calls, 2);
  EXPECT_EQ(px<uint8_t>(at2.get())[1048575], 77);

  ex.calls = 0;
  image_data_fill(below.get(), 5.0);
  image_data_copy(below.get(), below2.get());
  image_data_zero(below.get());
  EXPECT_EQ(ex.calls, 0);
  EXPECT_EQ(px<uint8_t>(below2.get())[1048574], 5);
  EXPECT_EQ(px<uint8_t>(below.get())[1048574], 0);

  image_data_copy_set_mp_thresh(0);  // every copy goes through the executor
  std::unique_ptr<image_data, ImageDeleter> tiny(image_data_create(1, 1, 1, IMAGE_PIXEL_BYTE, 1));
  std::unique_ptr<image_data, ImageDeleter> tiny2(image_data_copy(tiny.get()));
  EXPECT_EQ(ex.calls, 1);
  image_data_copy_set_mp_thresh(1048576);

  // Channel copies always dispatch.
  ex.calls = 0;
  image_data_copy_channels(tiny.get(), tiny2.get(), 1);
  EXPECT_EQ(ex.calls, 1);
}

TEST(ImageRecord, BandedFillsAndCopiesMatchTheDirectPath) {
  image_data_fill_set_mp_thresh(0);
  image_data_copy_set_mp_thresh(0);
  const int types[] = {IMAGE_PIXEL_BYTE, IMAGE_PIXEL_WORD, IMAGE_PIXEL_WORD32, IMAGE_PIXEL_FLOAT};
  for (int type : types) {
    std::unique_ptr<image_data, ImageDeleter> direct(image_data_create(13, 29, 3, type, 1));
    image_data_zero(direct.get());
    image_data_fill(direct.get(), 100.0);
    image_data_channel_fill(direct.get(), 40.0, 1);
    std::unique_ptr<image_data, ImageDeleter> copy_direct(image_data_copy(direct.get()));
    for (int bands : {1, 2, 7, 40}) {
      for (bool uneven : {false, true}) {
        ScopedExecutor scoped(bands, uneven);
        std::unique_ptr<image_data, ImageDeleter> banded(image_data_create(13, 29, 3, type, 1));
        image_data_zero(banded.get());
        image_data_fill(banded.get(), 100.0);
        image_data_channel_fill(banded.get(), 40.0, 1);
        EXPECT_EQ(std::memcmp(banded->pixels, direct->pixels, direct->row_bytes * 29), 0) << type << " " << bands;
        std::unique_ptr<image_data, ImageDeleter> copy(image_data_copy(banded.get()));
        EXPECT_EQ(std::memcmp(copy->pixels, copy_direct->pixels, direct->row_bytes * 29), 0);
      }
    }
  }
  image_data_fill_set_mp_thresh(1048576);
  image_data_copy_set_mp_thresh(1048576);
}

TEST(ImageRecord, MaxThreadsKeepsValuesBelowOne) {
  EXPECT_EQ(imagelib_set_max_threads(0), 16);
  EXPECT_EQ(imagelib_set_max_threads(3), 3);
  EXPECT_EQ(imagelib_set_max_threads(-2), 3);
  EXPECT_EQ(imagelib_set_max_threads(16), 16);
}

TEST(ImageRecord, MirrorInYSwapsRows) {
  std::unique_ptr<image_data, ImageDeleter> img(image_data_create(2, 3, 1, IMAGE_PIXEL_FLOAT, 1));
  for (int i = 0; i < 6; ++i) px<float>(img.get())[i] = static_cast<float>(i);
  image_mirror_in_y(img.get());
  const float expect[] = {4, 5, 2, 3, 0, 1};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(px<float>(img.get())[i], expect[i]);
  std::unique_ptr<image_data, ImageDeleter> one(image_data_create(3, 1, 1, IMAGE_PIXEL_BYTE, 1));
  image_data_fill(one.get(), 9.0);
  image_mirror_in_y(one.get());
  EXPECT_EQ(px<uint8_t>(one.get())[2], 9);
  image_mirror_in_y(nullptr);
}

namespace {

// Distinct bytes in every sample, seeded so that two images differ.
void fill_bytes(image_data* img, uint32_t seed) {
  unsigned char* p = static_cast<unsigned char*>(img->pixels);
  for (int64_t i = 0; i < static_cast<int64_t>(img->row_bytes) * img->height; ++i) {
    seed = seed * 1664525u + 1013904223u;
    p[i] = static_cast<unsigned char>(seed >> 24);
  }
}

bool same_bytes(const image_data* a, const image_data* b) {
  return std::memcmp(a->pixels, b->pixels, static_cast<size_t>(a->row_bytes) * a->height) == 0;
}

}  // namespace

TEST(ImageRecord, BandedChannelCopiesAndPermutationsMatchTheDirectPath) {
  const int types[] = {IMAGE_PIXEL_BYTE, IMAGE_PIXEL_WORD, IMAGE_PIXEL_WORD32, IMAGE_PIXEL_FLOAT};
  const unsigned masks[] = {0x1u, 0x5u, 0x1Au};
  // Entry 0 leaves a channel alone, 9 is past the last channel (so the last),
  // and channels beyond the list repeat its last entry.
  int list[] = {3, 0, 1, 9};
  for (int type : types) {
    std::unique_ptr<image_data, ImageDeleter> src(image_data_create(13, 29, 5, type, 1));
    fill_bytes(src.get(), 1);
    std::vector<std::unique_ptr<image_data, ImageDeleter>> direct;
    // Runs every operation on fresh images, returning the results in order:
    // each mask copy, the permutation into another image, and in place.
    auto run_all = [&]() {
      std::vector<std::unique_ptr<image_data, ImageDeleter>> results;
      for (unsigned mask : masks) {
        std::unique_ptr<image_data, ImageDeleter> dst(image_data_create(13, 29, 5, type, 1));
        fill_bytes(dst.get(), 2);
        EXPECT_EQ(image_data_copy_channels(src.get(), dst.get(), mask), 1);
        results.push_back(std::move(dst));
      }
      std::unique_ptr<image_data, ImageDeleter> dst(image_data_create(13, 29, 5, type, 1));
      fill_bytes(dst.get(), 2);
      EXPECT_EQ(image_data_copy_channels_and_permute(src.get(), dst.get(), list, 4), 1);
      results.push_back(std::move(dst));
      std::unique_ptr<image_data, ImageDeleter> same(image_data_copy(src.get()));
      EXPECT_EQ(image_data_copy_channels_and_permute(same.get(), same.get(), list, 4), 1);
      results.push_back(std::move(same));
      return results;
    };
    direct = run_all();
    ASSERT_EQ(direct.size(), 5u);
    // The in-place permutation must read the channels as they were: channel
    // 0 takes channel 2 and channel 2 takes channel 0 of the original.
    const int sb = src->sample_bytes;
    const unsigned char* orig = static_cast<const unsigned char*>(src->pixels);
    const unsigned char* perm = static_cast<const unsigned char*>(direct[4]->pixels);
    for (int p = 0; p < 13 * 29; ++p) {
      ASSERT_EQ(std::memcmp(perm + (p * 5 + 0) * sb, orig + (p * 5 + 2) * sb, sb), 0) << p;
      ASSERT_EQ(std::memcmp(perm + (p * 5 + 1) * sb, orig + (p * 5 + 1) * sb, sb), 0) << p;
      ASSERT_EQ(std::memcmp(perm + (p * 5 + 2) * sb, orig + (p * 5 + 0) * sb, sb), 0) << p;
      ASSERT_EQ(std::memcmp(perm + (p * 5 + 3) * sb, orig + (p * 5 + 4) * sb, sb), 0) << p;
      ASSERT_EQ(std::memcmp(perm + (p * 5 + 4) * sb, orig + (p * 5 + 4) * sb, sb), 0) << p;
    }
    for (int bands : {1, 2, 7}) {
      for (bool uneven : {false, true}) {
        ScopedExecutor scoped(bands, uneven);
        const std::vector<std::unique_ptr<image_data, ImageDeleter>> banded = run_all();
        ASSERT_EQ(banded.size(), direct.size());
        for (size_t k = 0; k < banded.size(); ++k)
          EXPECT_TRUE(same_bytes(banded[k].get(), direct[k].get()))
              << type << " " << bands << " " << uneven << " " << k;
        EXPECT_GE(scoped.executor.calls, 5);
      }
    }
  }
}
