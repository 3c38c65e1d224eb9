#ifndef BOX_LANES_H
#define BOX_LANES_H

// The lines of the box-pass blurs as the lanes of a sweep. All four
// channels go pixel by pixel, rows through the kernels of box_pass.h and
// columns as the run of adjacent pixels each row holds; other channel
// choices through the shared gathers.

#include <algorithm>
#include <type_traits>

#include "box_pass.h"
#include "box_sweep.h"
#include "line_filter.h"

// Lines line0 .. line0 + lines - 1 (at most kMaxGroup) of src, rows or with
// Columns columns, read as lanes q * count + c (channel ch[c] of line q) of
// a sweep of L lanes; the lanes of lines a band's short last group lacks
// carry zeros and are never written. The results go to the same lines of
// dst, which may be src.
template <bool Columns, typename Ch>
class ImageSweepLines final : public BoxSweepLines {
  static constexpr bool kRgba = std::is_same<Ch, RgbaChannels>::value;

 public:
  ImageSweepLines(const ImageQ4& src, ImageQ4& dst, long line0, int lines, int L, const Ch& ch)
      : src_(src), dst_(dst), line0_(line0), lines_(lines), L_(L), ch_(ch) {}

  void gather(int i0, int count, int* to) override {
    if (Ch::count * lines_ < L_) std::fill(to, to + static_cast<long>(count) * L_, 0);
    if (!kRgba) {
      gather_lanes<Columns>(src_, line0_, lines_, count, L_, ch_, to, i0);
      return;
    }
    const unsigned short* from[kSweepStep > kMaxGroup ? kSweepStep : kMaxGroup];
    if (Columns) {
      column_runs<0>(src_, i0, count, from);
      box_lanes_from_runs(from, count, 4 * lines_, L_, to);
      return;
    }
    for (int q = 0; q < lines_; ++q) from[q] = samples_of(src_.rows[line0_ + q] + i0);
    box_lanes_from_rows(from, lines_, count, L_, to);
  }

  void scatter(int i0, int count, const int* from) override {
    if (!kRgba) {
      scatter_lanes<Columns>(
          dst_, line0_, lines_, count, L_, ch_, from, [](int v) { return static_cast<unsigned short>(v); }, i0);
      return;
    }
    unsigned short* to[kSweepStep > kMaxGroup ? kSweepStep : kMaxGroup];
    if (Columns) {
      column_runs<1>(dst_, i0, count, to);
      box_lanes_to_runs(from, count, 4 * lines_, L_, to);
      return;
    }
    for (int q = 0; q < lines_; ++q) to[q] = samples_of(dst_.rows[line0_ + q] + i0);
    box_lanes_to_rows(from, lines_, count, L_, to);
  }

 private:
  // The group's run of adjacent pixels in rows i0 .. i0 + count - 1, for
  // reading (Write 0) or writing (1). Every row is a page or more from the
  // last, beyond what the processor fetches ahead by itself: the run the
  // next group will need in the same row (both its ends, as a run need not
  // start on a cache line) is asked for early, and waits in the cache while
  // this group is filtered.
  template <int Write, typename Image, typename Sample>
  void column_runs(Image& img, int i0, int count, Sample** runs) const {
    const bool next = line0_ + 2 * lines_ <= img.width;
    for (int i = 0; i < count; ++i) {
      if (next) {
        __builtin_prefetch(img.rows[i0 + i] + line0_ + lines_, Write, 2);
        __builtin_prefetch(img.rows[i0 + i] + line0_ + 2 * lines_ - 1, Write, 2);
      }
      runs[i] = samples_of(img.rows[i0 + i] + line0_);
    }
  }

  const ImageQ4& src_;
  ImageQ4& dst_;
  long line0_;
  int lines_, L_;
  Ch ch_;
};

#endif
