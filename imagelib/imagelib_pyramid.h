#ifndef IMAGELIB_PYRAMID_H
#define IMAGELIB_PYRAMID_H

#include "image_data.h"
#include "imagelib_kernel.h"

// An image and its successively halved copies, for area lookups: a sample
// at a position with a footprint reads the two levels that bracket the
// footprint and blends them, so that shrinking resamples are filtered.
//
// Level k is (w0 >> k) x (h0 >> k), made from level k - 1 by image_scale
// with the pyramid's kernel type, for as long as the shorter side stays at
// least 2. A level that cannot be made ends the pyramid at the one before;
// without level 0 (a null source, a failed copy) there are no levels and
// every lookup fails.
//
// Lookups take positions and footprints in level-0 pixels (or fractions of
// its spans, w0 - 1 and h0 - 1) and map them onto each level corner to
// corner: level 0's last pixel is every level's last pixel. Lookups only
// read the pyramid and may run on several threads at once.
class ImagelibPyramid {
 public:
  static const int kMaxLevels = 16;
  // Values one lookup may ask for (its blend is held on the stack).
  static const int kMaxValues = 64;

  // With copy, level 0 is a copy of src that the pyramid owns; without, it
  // is src itself, which the caller keeps alive and unchanged for the
  // pyramid's lifetime.
  ImagelibPyramid(image_data* src, int kernel_type, int edge_mode, bool copy);
  virtual ~ImagelibPyramid();
  ImagelibPyramid(const ImagelibPyramid&) = delete;
  ImagelibPyramid& operator=(const ImagelibPyramid&) = delete;

  // Replaces the lookup kernel (the levels stay as built). False, the old
  // kernel kept, for a type outside 0..5, an edge mode outside 0..3 or
  // short memory.
  bool set_lookup_kernel(int kernel_type, int edge_mode);

  // n values at (x, y) over the footprint (dx, dy), in level-0 pixels, into
  // out (cleared first). False, out untouched, when n is outside
  // 1..kMaxValues; false, out cleared, when there is no level or the kernel
  // is unusable.
  bool lookup(double x, double y, double dx, double dy, double* out, int n) const;
  // The same divided by the pixel type's full scale.
  bool lookup_value_norm(double x, double y, double dx, double dy, double* out, int n) const;
  // Position and footprint as fractions of the level-0 spans.
  bool lookup_point_norm(double x, double y, double dx, double dy, double* out, int n) const;
  bool lookup_point_norm_value_norm(double x, double y, double dx, double dy, double* out, int n) const;

  // Level k for 0 <= k <= top_level(), else null.
  image_data* get_level(int k) const;
  // Level k alone at (x (wk - 1), y (hk - 1)) with a one-pixel footprint;
  // false for a level that does not exist or as lookup fails.
  bool interpolate_level_point_norm(int k, double x, double y, double* out, int n) const;

  // Every level k from 0 up into "<prefix>kk.tif" (k in two digits),
  // uncompressed. False at the first file that cannot be written, or whose
  // name would pass 4095 characters; the later levels are not written.
  bool dumplevels(const char* prefix) const;

  // Index of the coarsest level; -1 when there is no level.
  int top_level() const { return top_; }
  // Level 0's width - 1 and height - 1.
  double width_span() const { return width_span_; }
  double height_span() const { return height_span_; }
  // Level 0 exists and the kernel can sample it.
  bool usable() const { return top_ >= 0 && kernel_->valid; }

 private:
  bool sample_level(int k, double x, double y, double* out, int n) const;
  bool lookup_scaled(double x, double y, double dx, double dy, double* out, int n, double value_scale) const;

  ImagelibKernel* kernel_;
  image_data* levels_[kMaxLevels];
  // 1 / span, or 0 for a side of one pixel (which has no span to divide).
  double inverse_width_span_;
  double inverse_height_span_;
  double width_span_;
  double height_span_;
  int top_;
  bool owns_level0_;
  double inverse_full_scale_;
};

#endif
