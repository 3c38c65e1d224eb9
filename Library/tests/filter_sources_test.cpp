// What every frame-image filter reads: its own pixels when given no source or
// itself, a larger source at this image's coordinates, never a smaller one.
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
  bool one_channel;  // copies or clears the other channels first
};

std::vector<Entry> entries() {
  std::vector<Entry> all = {
      {"young-van vliet", [](ImageQ4& im, ImageQ4* s, int d) { im.Fast_GaussianBlur(6.0f, s, d, 1); }, false},
      {"deriche", [](ImageQ4& im, ImageQ4* s, int d) { im.Deriche_GaussianBlur(2.0f, s, d, 1); }, false},
      {"box", [](ImageQ4& im, ImageQ4* s, int d) { im.Box_GaussianBlur(3.3f, s, d, 1); }, false},
      {"exact", [](ImageQ4& im, ImageQ4* s, int d) { im.Exact_GaussianBlur(2.5f, 1, s, d, 1); }, false},
      {"sharpen", [](ImageQ4& im, ImageQ4* s, int) { im.Sharpen(3.0f, 0.7f, s, 1); }, false},
      {"sobel", [](ImageQ4& im, ImageQ4* s, int) { im.SobelEdge(1.5f, 0.3f, s, 0); }, false},
      {"canny",
       [](ImageQ4& im, ImageQ4* s, int) {
         PixelQ4 low{2000, 2000, 2000, 2000}, high{6000, 6000, 6000, 6000};
         im.CannyEdge(1.5f, true, 1.0f, true, &low, &high, s, 1);
       },
       false}};
  for (int keep : {0, 1}) {
    const std::string k = keep ? " keeping" : " clearing";
    all.push_back({"young-van vliet channel" + k,
                   [keep](ImageQ4& im, ImageQ4* s, int d) { im.Fast_GaussianBlur_Channel(6.0f, s, d, 1, keep); }, true});
    all.push_back({"deriche channel" + k,
                   [keep](ImageQ4& im, ImageQ4* s, int d) { im.Deriche_GaussianBlur_Channel(2.0f, s, d, 2, keep); },
                   true});
    all.push_back({"box channel" + k,
                   [keep](ImageQ4& im, ImageQ4* s, int d) { im.Box_GaussianBlur_Channel(3.3f, s, d, 0, keep); }, true});
    all.push_back({"exact channel" + k,
                   [keep](ImageQ4& im, ImageQ4* s, int d) { im.Exact_GaussianBlur_Channel(2.5f, 0, s, d, 3, keep); },
                   true});
  }
  return all;
}

}  // namespace

// This image named as the source reads as a copy of it would; a source
// larger than this image reads as its top-left corner would.
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
    EXPECT_FALSE(same_pixels(*self, *input)) << entry.name;
    if (!entry.one_channel) {
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
// pass runs (the one-channel entries still copy or clear what both share).
TEST_F(FilterSourceTest, SmallerSourcesRunNoPass) {
  Image input = new_image(27, 19), narrow = new_image(26, 40), low = new_image(40, 18);
  fill_noise(*input, 53);
  fill_noise(*narrow, 54);
  fill_noise(*low, 55);
  for (const Entry& entry : entries())
    for (ImageQ4* small : {narrow.get(), low.get()}) {
      Image out = copy_image(*input), expected = copy_image(*input);
      entry.run(*out, small, 2);
      if (entry.one_channel) entry.run(*expected, small, 3);  // the copy-or-clear step alone
      EXPECT_TRUE(same_pixels(*out, *expected)) << entry.name << " " << small->width;
    }
}

// A band that cannot have its working lines leaves its lines as they were.
TEST_F(FilterSourceTest, BandsWithoutWorkingLinesLeaveTheImageUnchanged) {
  Image input = new_image(21, 16);
  fill_noise(*input, 56);
  for (const Entry& entry : entries()) {
    Image out = copy_image(*input);
    {
      FailingHeap heap(0);
      entry.run(*out, nullptr, 2);
    }
    EXPECT_TRUE(same_pixels(*out, *input)) << entry.name;
  }
}
