// What every frame-image filter shares: the same bytes on any worker count
// and either kernel copy; its own pixels read when given no source or
// itself, a larger source read at this image's coordinates, never a smaller
// one; bands without working lines leave theirs alone.
#include <functional>
#include <string>
#include <vector>

#include "failing_heap.h"
#include "filter_fixture.h"

namespace {

typedef FilterTest FilterSourceTest;

struct Entry {
  std::string name;
  std::function<void(ImageQ4&, ImageQ4*, int direction)> run;
  bool directional;  // takes a direction
  int channel;       // the one channel entries blur; -1 for the others
};

std::vector<Entry> entries() {
  std::vector<Entry> all = {
      {"young-van vliet", [](ImageQ4& im, ImageQ4* s, int d) { im.Fast_GaussianBlur(14.0f, s, d, 1); }, true,
       -1},
      {"young-van vliet rgb", [](ImageQ4& im, ImageQ4* s, int d) { im.Fast_GaussianBlur(3.0f, s, d, 0); },
       true, -1},
      {"deriche", [](ImageQ4& im, ImageQ4* s, int d) { im.Deriche_GaussianBlur(3.0f, s, d, 1); }, true, -1},
      {"deriche rgb", [](ImageQ4& im, ImageQ4* s, int d) { im.Deriche_GaussianBlur(0.7f, s, d, 0); }, true,
       -1},
      {"box", [](ImageQ4& im, ImageQ4* s, int d) { im.Box_GaussianBlur(5.5f, s, d, 1); }, true, -1},
      {"box rgb", [](ImageQ4& im, ImageQ4* s, int d) { im.Box_GaussianBlur(1.2f, s, d, 0); }, true, -1},
      {"exact", [](ImageQ4& im, ImageQ4* s, int d) { im.Exact_GaussianBlur(4.5f, 1, s, d, 1); }, true, -1},
      {"exact rgb open", [](ImageQ4& im, ImageQ4* s, int d) { im.Exact_GaussianBlur(9.0f, 0, s, d, 0); },
       true, -1},
      {"sharpen", [](ImageQ4& im, ImageQ4* s, int) { im.Sharpen(4.0f, 0.8f, s, 1); }, false, -1},
      {"sharpen rgb", [](ImageQ4& im, ImageQ4* s, int) { im.Sharpen(6.0f, 0.3f, s, 0); }, false, -1},
      {"sobel", [](ImageQ4& im, ImageQ4* s, int) { im.SobelEdge(2.5f, 0.3f, s, 0); }, false, -1},
      {"gradient", [](ImageQ4& im, ImageQ4* s, int) { im.GradientEdge(1.0f, 0.3f, s, 0); }, false, -1},
      {"canny",
       [](ImageQ4& im, ImageQ4* s, int) {
         PixelQ4 low{2000, 2000, 2000, 2000}, high{6000, 6000, 6000, 6000};
         im.CannyEdge(1.2f, true, 1.0f, true, &low, &high, s, 1);
       },
       false, -1},
      {"canny magnitude",
       [](ImageQ4& im, ImageQ4* s, int) { im.CannyEdge(2.0f, false, 0.5f, false, nullptr, nullptr, s, 0); },
       false, -1}};
  for (int keep : {0, 1}) {
    const std::string k = keep ? " keeping" : " clearing";
    all.push_back(
        {"young-van vliet channel" + k,
         [keep](ImageQ4& im, ImageQ4* s, int d) { im.Fast_GaussianBlur_Channel(25.0f, s, d, 3, keep); }, true,
         3});
    all.push_back(
        {"deriche channel" + k,
         [keep](ImageQ4& im, ImageQ4* s, int d) { im.Deriche_GaussianBlur_Channel(8.0f, s, d, 0, keep); },
         true, 0});
    all.push_back(
        {"box channel" + k,
         [keep](ImageQ4& im, ImageQ4* s, int d) { im.Box_GaussianBlur_Channel(9.0f, s, d, 3, keep); }, true,
         3});
    all.push_back(
        {"exact channel" + k,
         [keep](ImageQ4& im, ImageQ4* s, int d) { im.Exact_GaussianBlur_Channel(2.0f, 0, s, d, 1, keep); },
         true, 1});
  }
  return all;
}

}  // namespace

// Bands of 1, 3 and 8 host workers (uneven, and empty on the 3-row image)
// and both kernel copies give the same bytes, every pass of every filter.
TEST_F(FilterSourceTest, EveryFilterSameOnAnyWorkerCountAndKernelCopy) {
  for (int size : {3, 37}) {
    Image input = new_image(size + 20, size);
    fill_noise(*input, 8);
    for (const Entry& entry : entries())
      for (int direction : {0, 1, 2}) {
        if (!entry.directional && direction < 2) continue;
        const auto filter = [&](ImageQ4& im) { entry.run(im, nullptr, direction); };
        Image serial = same_on_workers(*input, filter);
        EXPECT_FALSE(same_pixels(*serial, *input)) << entry.name << " " << direction;
        same_on_both_paths(*input, filter);
      }
  }
}

// This image named as the source reads as a copy of it would; so does no
// source; a source larger than this image reads as its top-left corner would.
TEST_F(FilterSourceTest, ItselfReadsAsACopyAndLargerAsItsCorner) {
  Image input = new_image(27, 19), large = new_image(35, 22);
  fill_noise(*input, 51);
  fill_noise(*large, 52);
  Image corner = new_image(27, 19);
  for (int y = 0; y < 19; ++y)
    for (int x = 0; x < 27; ++x) corner->rows[y][x] = large->rows[y][x];
  for (const Entry& entry : entries()) {
    Image self = copy_image(*input), from_copy = copy_image(*input), copy = copy_image(*input);
    entry.run(*self, self.get(), 2);
    entry.run(*from_copy, copy.get(), 2);
    EXPECT_TRUE(same_pixels(*self, *from_copy)) << entry.name;
    if (entry.channel < 0) {
      Image none = copy_image(*input);
      entry.run(*none, nullptr, 2);
      EXPECT_TRUE(same_pixels(*self, *none)) << entry.name;
    }
    Image from_large = copy_image(*input), from_corner = copy_image(*input);
    entry.run(*from_large, large.get(), 2);
    entry.run(*from_corner, corner.get(), 2);
    EXPECT_TRUE(same_pixels(*from_large, *from_corner)) << entry.name;
  }
}

// A source narrower or lower than this image would be read past its end: no
// pass runs. The one-channel entries still copy or clear, over the rows and
// columns both images have and nowhere else.
TEST_F(FilterSourceTest, SmallerSourcesRunNoPass) {
  Image input = new_image(27, 19), narrow = new_image(26, 40), low = new_image(40, 18);
  fill_noise(*input, 53);
  fill_noise(*narrow, 54);
  fill_noise(*low, 55);
  for (const Entry& entry : entries())
    for (ImageQ4* small : {narrow.get(), low.get()}) {
      Image out = copy_image(*input);
      entry.run(*out, small, 2);
      const bool keep = entry.name.find("keeping") != std::string::npos;
      for (int y = 0; y < 19; ++y)
        for (int x = 0; x < 27; ++x) {
          const bool common = x < small->width && y < small->height;
          const PixelQ4 expected = entry.channel < 0 || !common ? input->rows[y][x]
                                   : keep                       ? small->rows[y][x]
                                                                : PixelQ4{0, 0, 0, 0};
          ASSERT_TRUE(same_pixel(out->rows[y][x], expected))
              << entry.name << " " << small->width << " at " << x << "," << y;
        }
    }
}

// A band that cannot have its working lines leaves its lines as they were.
TEST_F(FilterSourceTest, BandsWithoutWorkingLinesLeaveTheImageUnchanged) {
  Image input = new_image(21, 16);
  fill_noise(*input, 56);
  for (const Entry& entry : entries()) {
    if (entry.channel >= 0) continue;  // nothing to copy or clear without a source
    Image out = copy_image(*input);
    {
      FailingHeap heap(0);
      entry.run(*out, nullptr, 2);
    }
    EXPECT_TRUE(same_pixels(*out, *input)) << entry.name;
  }
}
