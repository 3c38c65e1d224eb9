#ifndef LINE_FILTER_H
#define LINE_FILTER_H

// What the separable frame-image filters share: which image a pass reads,
// the copy-or-clear step of the one-channel entries, the channels a worker
// carries, the lines of a band and their per-band scratch.

#include <cstdint>

#include "ImageQ4.h"
#include "q4_memory.h"

// The image a pass into dst reads: src, or dst itself when src is null or dst
// (every worker gathers a line whole before writing it, and bands own whole
// lines, so reading in place gives what a copy would). Null when src is
// smaller than dst in either direction: the pass would run past it.
ImageQ4* line_filter_source(ImageQ4* dst, ImageQ4* src);

// The one-channel entries' first step: every channel of src copied into dst
// (keep_others non-zero) or every channel of dst cleared, over the rows and
// columns both images have.
void copy_or_clear_common(ImageQ4* dst, ImageQ4* src, int keep_others);

// The source a worker reads from the image's parameters, or null when there
// is none or it is too small to be read at this image's coordinates.
inline const ImageQ4* worker_source(const ImageQ4& image) {
  const ImageQ4* src = image.op_src;
  return src && src->width >= image.width && src->height >= image.height ? src : nullptr;
}

// The channels one worker carries at once: all four, R G B, or one.
template <int C>
struct ChannelSet {
  unsigned short PixelQ4::*member[C];
};
inline ChannelSet<4> rgba_channels() { return {{&PixelQ4::r, &PixelQ4::g, &PixelQ4::b, &PixelQ4::a}}; }
inline ChannelSet<3> rgb_channels() { return {{&PixelQ4::r, &PixelQ4::g, &PixelQ4::b}}; }

// Runs fn(set) for each channel first..end-1 that exists, one at a time.
template <typename Fn>
void for_each_channel(int first, int end, Fn fn) {
  static const ChannelSet<4> all = rgba_channels();
  for (int c = first < 0 ? 0 : first; c < end && c < 4; ++c) fn(ChannelSet<1>{{all.member[c]}});
}

// Lines are rows (positions along a row are columns) or, with Columns,
// columns (positions are rows).
template <bool Columns>
inline int line_length(const ImageQ4& image) {
  return Columns ? image.height : image.width;
}
template <bool Columns>
inline long line_count(const ImageQ4& image) {
  return Columns ? image.width : image.height;
}
template <bool Columns>
inline PixelQ4& line_pixel(const ImageQ4& image, long line, int position) {
  return Columns ? image.rows[position][line] : image.rows[line][position];
}

// Visits position i of lines first..first+lines-1 in memory order: along
// rows line by line, down columns row by row across the group, so that a
// group of adjacent columns reads and writes whole row segments.
template <bool Columns, typename Fn>
inline void for_group_samples(int lines, int n, Fn fn) {
  if (Columns) {
    for (int i = 0; i < n; ++i)
      for (int l = 0; l < lines; ++l) fn(l, i);
  } else {
    for (int l = 0; l < lines; ++l)
      for (int i = 0; i < n; ++i) fn(l, i);
  }
}

// Runs fn(first_line, lines) over the band's lines in groups of at most
// `group` adjacent lines, after clipping the band to the image, asking the
// image's abort test before each group; a stop ends the band.
template <bool Columns, typename Fn>
void for_band_groups(ImageQ4& image, long first, long last, int group, Fn fn) {
  if (first < 0) first = 0;
  if (last > line_count<Columns>(image) - 1) last = line_count<Columns>(image) - 1;
  for (long line = first; line <= last; line += group) {
    if (image.AbortRender()) return;
    const long left = last - line + 1;
    fn(line, static_cast<int>(left < group ? left : group));
  }
}

// Channels first..end-1 of a one-channel entry: `channel` alone when it
// names one, else none.
inline void channel_range(int channel, int& first, int& end) {
  const bool valid = channel >= 0 && channel <= 3;
  first = valid ? channel : 0;
  end = valid ? channel + 1 : 0;
}

inline unsigned short clamp_truncate(double v) {
  // Not-a-number and everything below 0 write 0.
  if (!(v > 0.0)) return 0;
  if (v > 32767.0) return 32767;
  return static_cast<unsigned short>(static_cast<int>(v));
}

// A band's working lines: count elements from the normal heap, or none when
// the size is out of reach or the heap refuses.
template <typename T>
class BandScratch {
 public:
  explicit BandScratch(uint64_t count) {
    const uint64_t bytes = count * sizeof(T);
    if (count > 0 && count <= UINT32_MAX / sizeof(T))
      block_ = static_cast<T*>(q4_malloc(static_cast<unsigned>(bytes), "Library/Q4Image", __LINE__));
  }
  ~BandScratch() {
    if (block_) q4_free(block_, "Library/Q4Image", __LINE__);
  }
  BandScratch(const BandScratch&) = delete;
  BandScratch& operator=(const BandScratch&) = delete;
  T* get() const { return block_; }

 private:
  T* block_ = nullptr;
};

#endif
