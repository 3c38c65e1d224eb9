// Both recursive blurs against a line-by-line reference written in the test
// from their definitions, in the same arithmetic order: every byte matches,
// on lines shorter than the filters' start-up, on lines spanning many of the
// positions a kernel reads at once, on groups of lines cut short by the
// image's edge, in place and from a larger source, on both kernel copies.
#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "fast_gauss.h"
#include "filter_fixture.h"

namespace {

typedef FilterTest RecursiveBlurReferenceTest;
typedef std::function<std::vector<double>(const std::vector<double>&)> LineFilter;

unsigned short truncated(double v) { return v > 0.0 ? (v < 32767.0 ? static_cast<unsigned short>(v) : 32767) : 0; }

// Young-van Vliet: p = trunc(sigma) + 4 copies of the first sample before
// the line and 2p of the last after it; a causal pass from rest three
// positions in, an anti-causal one from rest three positions from the end.
std::vector<double> yvv_reference(const std::vector<double>& in, double sigma) {
  const YvvCoefficients k = yvv_coefficients(sigma);
  const int n = static_cast<int>(in.size()), p = static_cast<int>(std::trunc(sigma) + 4.0), count = 3 * p + n;
  std::vector<double> w(count);
  for (int i = 0; i < count; ++i) w[i] = in[std::min(std::max(i - p, 0), n - 1)];
  w[0] = w[1] = w[2] = 0.0;
  for (int i = 3; i < count; ++i) w[i] = k.B * w[i] + k.a1 * w[i - 1] + k.a2 * w[i - 2] + k.a3 * w[i - 3];
  w[count - 1] = w[count - 2] = w[count - 3] = 0.0;
  for (int i = count - 4; i >= 0; --i) w[i] = k.B * w[i] + k.a1 * w[i + 1] + k.a2 * w[i + 2] + k.a3 * w[i + 3];
  return std::vector<double>(w.begin() + p, w.begin() + p + n);
}

// Deriche: causal and anti-causal fourth-order passes summed, the samples
// beyond both ends standing in as copies of the end samples through the end
// terms; a line shorter than 4 is extended by its last sample.
std::vector<double> deriche_reference(const std::vector<double>& in, double sigma) {
  double np[5], nm[5], d[5], dm[5], ep[5], em[5];
  ImageQ4::make_coeffs(sigma, np, nm, d, dm, ep, em);
  const double sp1 = (np[1] - ep[1]) + (np[2] - ep[2]) + (np[3] - ep[3]) - ep[4];
  const double sp2 = (np[2] - ep[2]) + (np[3] - ep[3]) - ep[4], sp3 = (np[3] - ep[3]) - ep[4], sp4 = -ep[4];
  const double sm1 = (nm[1] - em[1]) + (nm[2] - em[2]) + (nm[3] - em[3]) + (nm[4] - em[4]);
  const double sm2 = (nm[2] - em[2]) + (nm[3] - em[3]) + (nm[4] - em[4]);
  const double sm3 = (nm[3] - em[3]) + (nm[4] - em[4]), sm4 = nm[4] - em[4];
  const int n = static_cast<int>(in.size()), count = std::max(n, 4), e = count - 1;
  std::vector<double> x(count), P(count), M(count);
  for (int i = 0; i < count; ++i) x[i] = in[std::min(i, n - 1)];
  P[0] = np[0] * x[0] + sp1 * x[0];
  P[1] = np[0] * x[1] + np[1] * x[0] - d[1] * P[0] + sp2 * x[0];
  P[2] = np[0] * x[2] + np[1] * x[1] + np[2] * x[0] - d[1] * P[1] - d[2] * P[0] + sp3 * x[0];
  P[3] = np[0] * x[3] + np[1] * x[2] + np[2] * x[1] + np[3] * x[0] - d[1] * P[2] - d[2] * P[1] - d[3] * P[0] +
         sp4 * x[0];
  for (int i = 4; i < count; ++i)
    P[i] = np[0] * x[i] + np[1] * x[i - 1] + np[2] * x[i - 2] + np[3] * x[i - 3] - d[1] * P[i - 1] -
           d[2] * P[i - 2] - d[3] * P[i - 3] - d[4] * P[i - 4];
  M[e] = sm1 * x[e];
  M[e - 1] = nm[1] * x[e] - d[1] * M[e] + sm2 * x[e];
  M[e - 2] = nm[1] * x[e - 1] + nm[2] * x[e] - d[1] * M[e - 1] - d[2] * M[e] + sm3 * x[e];
  M[e - 3] = nm[1] * x[e - 2] + nm[2] * x[e - 1] + nm[3] * x[e] - d[1] * M[e - 2] - d[2] * M[e - 1] -
             d[3] * M[e] + sm4 * x[e];
  for (int j = e - 4; j >= 0; --j)
    M[j] = nm[1] * x[j + 1] + nm[2] * x[j + 2] + nm[3] * x[j + 3] + nm[4] * x[j + 4] - d[1] * M[j + 1] -
           d[2] * M[j + 2] - d[3] * M[j + 3] - d[4] * M[j + 4];
  std::vector<double> out(n);
  for (int i = 0; i < n; ++i) out[i] = P[i] + M[i];
  return out;
}

// `filter` over every row (direction 0) or column (1) of channels first..end-1
// of src into out, over out's size; the other channels of out stay.
void reference_pass(const ImageQ4& src, ImageQ4& out, int direction, int first, int end, const LineFilter& filter) {
  const bool columns = direction == 1;
  const int lines = columns ? out.width : out.height, n = columns ? out.height : out.width;
  for (int line = 0; line < lines; ++line)
    for (int c = first; c < end; ++c) {
      std::vector<double> in(n);
      for (int i = 0; i < n; ++i)
        in[i] = channel_value(columns ? src.rows[i][line] : src.rows[line][i], c);
      const std::vector<double> v = filter(in);
      for (int i = 0; i < n; ++i) {
        PixelQ4& p = columns ? out.rows[i][line] : out.rows[line][i];
        (c == 0 ? p.r : c == 1 ? p.g : c == 2 ? p.b : p.a) = truncated(v[i]);
      }
    }
}

// The reference of a whole entry: direction 2 is rows from src, then columns
// of that result in place.
Image reference(ImageQ4& input, ImageQ4* src, int direction, int first, int end, const LineFilter& filter) {
  Image out = copy_image(input);
  Image copy = copy_image(src ? *src : input);
  if (direction != 1) reference_pass(*copy, *out, 0, first, end, filter);
  if (direction == 2) copy = copy_image(*out);
  if (direction != 0) reference_pass(*copy, *out, 1, first, end, filter);
  return out;
}

}  // namespace

TEST_F(RecursiveBlurReferenceTest, BothBlursMatchTheirLineByLineDefinitionToTheByte) {
  struct Size {
    int width, height;
  };
  // 1 to 3 lines of 1 to 3 samples, a band's group cut short (not a multiple
  // of 8 or 16 lines), lines of several kernel chunks and an odd remainder.
  const Size sizes[] = {{1, 1}, {3, 2}, {2, 3}, {13, 5}, {70, 19}, {21, 101}};
  for (const Size& size : sizes) {
    Image input = new_image(size.width, size.height);
    fill_noise(*input, size.width * 31 + size.height);
    Image larger = new_image(size.width + 5, size.height + 3);
    fill_noise(*larger, 5);
    for (int direction = 0; direction < 3; ++direction)
      for (ImageQ4* src : {static_cast<ImageQ4*>(nullptr), larger.get()}) {
        const std::string where = " " + std::to_string(size.width) + "x" + std::to_string(size.height) + " direction " +
                                  std::to_string(direction) + (src ? " from a source" : " in place");
        // blur(image, with_alpha) against the line filter, RGBA and RGB.
        auto check = [&](const std::string& name, const LineFilter& filter,
                         const std::function<void(ImageQ4&, int)>& blur) {
          for (int with_alpha = 0; with_alpha < 2; ++with_alpha) {
            Image out = copy_image(*input);
            blur(*out, with_alpha);
            EXPECT_TRUE(same_pixels(*out, *reference(*input, src, direction, 0, with_alpha ? 4 : 3, filter)))
                << name << " alpha " << with_alpha << where;
            same_on_both_paths(*input, [&](ImageQ4& im) { blur(im, with_alpha); });
          }
        };
        for (float radius : {1.0f, 9.0f, 60.0f}) {
          const double sigma = yvv_sigma(radius);
          check("yvv " + std::to_string(radius), [sigma](const std::vector<double>& in) { return yvv_reference(in, sigma); },
                [&](ImageQ4& im, int a) { im.Fast_GaussianBlur(radius, src, direction, a); });
        }
        for (float sigma : {0.7f, 3.0f, 20.0f})
          check("deriche " + std::to_string(sigma),
                [sigma](const std::vector<double>& in) { return deriche_reference(in, sigma); },
                [&](ImageQ4& im, int a) { im.Deriche_GaussianBlur(sigma, src, direction, a); });
        // One channel, the others kept from the source or the image itself.
        const LineFilter yvv = [](const std::vector<double>& in) { return yvv_reference(in, yvv_sigma(14.0f)); };
        const LineFilter der = [](const std::vector<double>& in) { return deriche_reference(in, 4.0f); };
        for (int channel = 0; channel < 4; ++channel) {
          Image kept = copy_image(*input);
          if (src)
            for (int y = 0; y < kept->height; ++y)
              for (int x = 0; x < kept->width; ++x) kept->rows[y][x] = src->rows[y][x];
          Image out = copy_image(*input);
          out->Fast_GaussianBlur_Channel(14.0f, src, direction, channel, 1);
          EXPECT_TRUE(same_pixels(*out, *reference(*kept, src, direction, channel, channel + 1, yvv)))
              << "yvv channel " << channel << where;
          out = copy_image(*input);
          out->Deriche_GaussianBlur_Channel(4.0f, src, direction, channel, 1);
          EXPECT_TRUE(same_pixels(*out, *reference(*kept, src, direction, channel, channel + 1, der)))
              << "deriche channel " << channel << where;
        }
      }
  }
}
