#ifndef LINE_FILTER_H
#define LINE_FILTER_H

// What the separable frame-image filters share: which image a pass reads,
// the copy-or-clear step of the one-channel entries, the channels a worker
// carries, the lines of a band and their per-band scratch.

#include <cstdint>
#include <cstring>

#include "ImageQ4.h"
#include "band_scratch.h"
#include "q4_memory.h"
#include "q4_simd.h"

// The image a pass into dst reads: src, or dst itself when src is null or dst
// (every worker gathers a line whole before writing it, and bands own whole
// lines, so reading in place gives what a copy would). Null when src is
// smaller than dst in either direction: the pass would run past it.
ImageQ4* line_filter_source(ImageQ4* dst, ImageQ4* src);

// The one-channel entries' first step when a source is given: every channel
// of src copied into dst (keep_others non-zero) or every channel of dst
// cleared, over the rows and columns both images have. When src is dst
// itself, which the pass reads as a copy, clearing spares `channel` so that
// the pass still finds it.
void copy_or_clear_common(ImageQ4* dst, ImageQ4* src, int keep_others, int channel);

// The source a worker reads from the image's parameters, or null when there
// is none or it is too small to be read at this image's coordinates.
inline const ImageQ4* worker_source(const ImageQ4& image) {
  const ImageQ4* src = image.op_src;
  return src && src->width >= image.width && src->height >= image.height ? src : nullptr;
}

// The channels one worker carries at once: all four, R G B, or one chosen
// at run time. Fixed choices let the gathers below widen into vector steps.
struct RgbaChannels {
  static constexpr int count = 4;
  int operator[](int c) const { return c; }
};
struct RgbChannels {
  static constexpr int count = 3;
  int operator[](int c) const { return c; }
};
struct OneChannel {
  static constexpr int count = 1;
  int channel;
  int operator[](int) const { return channel; }
};

// Runs fn(OneChannel) for each channel first..end-1 that exists, one at a
// time.
template <typename Fn>
void for_each_channel(int first, int end, Fn fn) {
  for (int c = first < 0 ? 0 : first; c < end && c < 4; ++c) fn(OneChannel{c});
}

// A pixel is a plain record of four 16-bit channels (R G B A), so a run of
// pixels is a run of samples, four to a pixel.
inline const unsigned short* samples_of(const PixelQ4* pixels) {
  return reinterpret_cast<const unsigned short*>(pixels);
}
inline unsigned short* samples_of(PixelQ4* pixels) { return reinterpret_cast<unsigned short*>(pixels); }

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

// Most lines a worker takes side by side.
const int kMaxGroup = 16;

// Lines side by side ("lanes"): sample i of channel c of line q of a group
// at [i * L + q * count + c], L the lanes of one position, at most kMaxGroup
// lines. The lanes are filled and emptied position by position: along rows
// from `lines` rows at once, down columns from a run of `lines` adjacent
// pixels of each row. Positions first .. first + n - 1 of the lines go to
// and come from lane positions 0 .. n - 1.
//
// Going down columns, every row is a page or more from the last, beyond what
// the processor fetches ahead by itself: the run the next group will need in
// the same row (both its ends, as a run need not start on a cache line) is
// asked for early, and waits in the cache while this group is filtered.
template <bool Columns, typename T, typename Ch>
void gather_lanes(const ImageQ4& src, long line0, int lines, int n, int L, const Ch& ch, T* to, int first = 0) {
  constexpr int C = Ch::count;
  if (Columns) {
    const bool next = line0 + 2 * lines <= src.width;
    for (int i = 0; i < n; ++i) {
      if (next) {
        __builtin_prefetch(src.rows[first + i] + line0 + lines, 0, 2);
        __builtin_prefetch(src.rows[first + i] + line0 + 2 * lines - 1, 0, 2);
      }
      const unsigned short* s = samples_of(src.rows[first + i] + line0);
      T* d = to + static_cast<long>(i) * L;
      for (int q = 0; q < lines; ++q)
        for (int c = 0; c < C; ++c) d[q * C + c] = static_cast<T>(s[4 * q + ch[c]]);
    }
  } else {
    const unsigned short* row[kMaxGroup];
    for (int q = 0; q < lines; ++q) row[q] = samples_of(src.rows[line0 + q] + first);
    for (int i = 0; i < n; ++i) {
      T* d = to + static_cast<long>(i) * L;
      for (int q = 0; q < lines; ++q)
        for (int c = 0; c < C; ++c) d[q * C + c] = static_cast<T>(row[q][4 * i + ch[c]]);
    }
  }
}

// The reverse, each value stored through store(value) -> 16-bit sample.
template <bool Columns, typename T, typename Ch, typename Store>
void scatter_lanes(ImageQ4& dst, long line0, int lines, int n, int L, const Ch& ch, const T* from,
                   Store store, int first = 0) {
  constexpr int C = Ch::count;
  if (Columns) {
    const bool next = line0 + 2 * lines <= dst.width;
    for (int i = 0; i < n; ++i) {
      if (next) {
        __builtin_prefetch(dst.rows[first + i] + line0 + lines, 1, 2);
        __builtin_prefetch(dst.rows[first + i] + line0 + 2 * lines - 1, 1, 2);
      }
      unsigned short* s = samples_of(dst.rows[first + i] + line0);
      const T* d = from + static_cast<long>(i) * L;
      for (int q = 0; q < lines; ++q)
        for (int c = 0; c < C; ++c) s[4 * q + ch[c]] = store(d[q * C + c]);
    }
  } else {
    unsigned short* row[kMaxGroup];
    for (int q = 0; q < lines; ++q) row[q] = samples_of(dst.rows[line0 + q] + first);
    for (int i = 0; i < n; ++i) {
      const T* d = from + static_cast<long>(i) * L;
      for (int q = 0; q < lines; ++q)
        for (int c = 0; c < C; ++c) row[q][4 * i + ch[c]] = store(d[q * C + c]);
    }
  }
}

// The source a band worker taking K lines of n positions at a time reads,
// checked before its first group: null when the render stops, there is no
// usable source or the lines are empty.
template <int K>
const ImageQ4* band_source(ImageQ4& image, int n) {
  static_assert(K <= kMaxGroup, "the gathers hold at most kMaxGroup row pointers");
  if (image.AbortRender() || n <= 0) return nullptr;
  return worker_source(image);
}

// gather_lanes for a group of `group` lanes of which `lines` are read: the
// lanes of the missing lines of a band's short last group carry zeros.
template <bool Columns, typename T, typename Ch>
void gather_group(const ImageQ4& src, long line0, int lines, int group, int n, int L, const Ch& ch, T* to) {
  if (lines < group)
    for (long i = 0; i < static_cast<long>(n) * L; ++i) to[i] = T(0);
  gather_lanes<Columns>(src, line0, lines, n, L, ch, to);
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

// A value truncated toward zero into 0..32767; not-a-number writes 0.
// Written as selects, so that the scatters widen.
inline unsigned short clamp_truncate(double v) {
  v = v > 0.0 ? v : 0.0;
  v = v < 32767.0 ? v : 32767.0;
  return static_cast<unsigned short>(static_cast<int>(v));
}

// A group of up to K adjacent lines that a recursive filter reads from src
// and writes to dst position by position, straight from and to the images.
// A pixel's channels travel together: with more than one channel a line has
// four lanes at each position, all of the pixel's channels (alpha is carried
// along and not written when only R G B are asked for); with one it has
// that channel alone. Lane q * lanes + c of position i is then channel c (or
// the chosen one) of line line0 + q at i.
//
// Where each line lies is worked out once per group, so the kernels' loops
// hold no per-pixel tests: along rows the first sample of each line, down
// columns each line's offset into a row. The lines a band's short last group
// lacks repeat its last line: their lanes work out that line's values again,
// lane by lane in the same order, and write the same bytes to it after it.
template <int K>
struct LineGroup {
  const ImageQ4* src;
  ImageQ4* dst;
  long line0;
  int lines;
  bool prefetch;                      // down columns: the next group lies in the rows too
  const unsigned short* src_line[K];  // along rows
  unsigned short* dst_line[K];
  long offset[K];  // down columns: samples from the start of a row
};

template <bool Columns, int K>
LineGroup<K> line_group(const ImageQ4* src, ImageQ4* dst, long line0, int lines) {
  LineGroup<K> g;
  g.src = src;
  g.dst = dst;
  g.line0 = line0;
  g.lines = lines;
  g.prefetch = Columns && line0 + 2 * K <= dst->width;
  for (int q = 0; q < K; ++q) {
    const long line = line0 + (q < lines ? q : lines - 1);
    g.src_line[q] = Columns ? nullptr : samples_of(src->rows[line]);
    g.dst_line[q] = Columns ? nullptr : samples_of(dst->rows[line]);
    g.offset[q] = 4 * line;
  }
  return g;
}

template <typename Ch>
constexpr int lanes_per_line() {
  return Ch::count == 1 ? 1 : 4;
}

// One pixel's four samples as four doubles and back, in vector steps on
// either kernel copy (the compiler widens the way in written as a loop
// through int, the way back only written in vector types). The way back is
// clamp_truncate lane by lane: selects first (not-a-number goes to 0), then
// truncation toward zero. The samples are stored as 16-bit values, not as
// bytes, so the compiler knows they change none of the doubles or addresses
// it holds.
typedef unsigned short PixelSamples __attribute__((vector_size(8), aligned(2)));
typedef int PixelInts __attribute__((vector_size(16)));
typedef double PixelLanes __attribute__((vector_size(32)));

// Four lanes at once, in the same arithmetic as one at a time.
Q4_SIMD_BODY void get_lanes(PixelLanes& v, const double* p) { std::memcpy(&v, p, sizeof v); }
Q4_SIMD_BODY void put_lanes(double* p, const PixelLanes& v) { std::memcpy(p, &v, sizeof v); }

typedef long long PixelBits __attribute__((vector_size(16)));
typedef unsigned short WideSamples __attribute__((vector_size(16)));
typedef int WideInts __attribute__((vector_size(32)));

// The pixel's 64 bits go in as the low half of a 128-bit vector: the
// compiler widens a full 128-bit vector in one step, where a 64-bit one
// would be taken apart and put together again.
Q4_SIMD_BODY void load_pixel_lanes(const unsigned short* s, double* x) {
  long long bits;
  std::memcpy(&bits, s, sizeof bits);
  const PixelBits packed = {bits, 0};
  const WideInts wide = __builtin_convertvector((WideSamples)packed, WideInts);
  for (int c = 0; c < 4; ++c) x[c] = static_cast<double>(wide[c]);
}

// Writes the first `count` (3 or 4) samples of the pixel.
template <int count>
Q4_SIMD_BODY void store_pixel_lanes(const double* x, unsigned short* s) {
  PixelLanes v;
  get_lanes(v, x);
  const PixelLanes zero = {0.0, 0.0, 0.0, 0.0}, top = {32767.0, 32767.0, 32767.0, 32767.0};
  v = v > zero ? v : zero;
  v = v < top ? v : top;
  // Each clamped value fits in the low half of its 32 bits: those halves are
  // the samples.
  const WideSamples halves = (WideSamples)__builtin_convertvector(v, PixelInts);
  const PixelSamples out = __builtin_shufflevector(halves, halves, 0, 2, 4, 6);
  if constexpr (count == 4) {
    *reinterpret_cast<PixelSamples*>(s) = out;
  } else {
    for (int c = 0; c < count; ++c) s[c] = out[c];
  }
}

// The K * lanes_per_line lanes of position i of a group, as doubles.
// Inlined into the kernels that call it, so that each of their copies takes
// its own vector steps. Going down columns every row is a page or more from
// the last: the run of the next group in the same row (both ends, as a run
// need not start on a cache line) is asked for early and waits in the cache.
template <bool Columns, int K, typename Ch>
Q4_SIMD_BODY void load_group_position(const LineGroup<K>& g, int i, const Ch& ch, double* x) {
  constexpr int P = lanes_per_line<Ch>();
  const unsigned short* row = Columns ? samples_of(g.src->rows[i]) : nullptr;
  if (Columns && g.prefetch) {
    __builtin_prefetch(row + g.offset[0] + 4 * K, 0, 2);
    __builtin_prefetch(row + g.offset[0] + 8 * K - 4, 0, 2);
  }
  for (int q = 0; q < K; ++q) {
    const unsigned short* s = Columns ? row + g.offset[q] : g.src_line[q] + 4L * i;
    if constexpr (P == 4)
      load_pixel_lanes(s, x + 4 * q);
    else
      x[q] = static_cast<double>(s[ch[0]]);
  }
}

// The reverse into dst, each lane of a channel asked for through
// clamp_truncate.
template <bool Columns, int K, typename Ch>
Q4_SIMD_BODY void store_group_position(const LineGroup<K>& g, int i, const Ch& ch, const double* v) {
  constexpr int P = lanes_per_line<Ch>();
  unsigned short* row = Columns ? samples_of(g.dst->rows[i]) : nullptr;
  if (Columns && g.prefetch) {
    __builtin_prefetch(row + g.offset[0] + 4 * K, 1, 2);
    __builtin_prefetch(row + g.offset[0] + 8 * K - 4, 1, 2);
  }
  for (int q = 0; q < K; ++q) {
    unsigned short* s = Columns ? row + g.offset[q] : g.dst_line[q] + 4L * i;
    if constexpr (P == 4)
      store_pixel_lanes<Ch::count>(v + 4 * q, s);
    else
      s[ch[0]] = clamp_truncate(v[q]);
  }
}

// Positions 0 .. n - 1 of a group from n positions of lanes at v, in that
// order. A recursive kernel's anti-causal pass finishes its lines from the
// far end, yet its rows are written out in order: written far end first,
// they would slow the band of the column pass that takes those far ends
// (the last band, rewriting them in place) behind the others.
template <bool Columns, int K, typename Ch>
Q4_SIMD_BODY void store_group_line(const LineGroup<K>& g, int n, const Ch& ch, const double* v) {
  constexpr int L = K * lanes_per_line<Ch>();
  for (int i = 0; i < n; ++i) store_group_position<Columns, K>(g, i, ch, v + static_cast<long>(i) * L);
}

// The lines a recursive kernel takes side by side: eight pixels of four
// lanes, or sixteen single samples.
template <typename Ch>
constexpr int recursive_group_lines() {
  return Ch::count == 1 ? 16 : 8;
}
template <typename Ch>
using RecursiveGroup = LineGroup<recursive_group_lines<Ch>()>;

// KERNEL(name, Columns, Ch) once per direction and channel choice of a
// recursive line filter, named prefix_rows_rgba ... prefix_columns_one.
#define RECURSIVE_LINE_KERNELS(KERNEL, prefix)      \
  KERNEL(prefix##_rows_rgba, false, RgbaChannels)   \
  KERNEL(prefix##_rows_rgb, false, RgbChannels)     \
  KERNEL(prefix##_rows_one, false, OneChannel)      \
  KERNEL(prefix##_columns_rgba, true, RgbaChannels) \
  KERNEL(prefix##_columns_rgb, true, RgbChannels)   \
  KERNEL(prefix##_columns_one, true, OneChannel)

// Calls the kernel of those that serves direction Columns and channels Ch.
#define RECURSIVE_LINE_CALL(prefix, Columns, Ch, args)          \
  do {                                                          \
    if constexpr (Columns) {                                    \
      if constexpr (Ch::count == 4) prefix##_columns_rgba args; \
      if constexpr (Ch::count == 3) prefix##_columns_rgb args;  \
      if constexpr (Ch::count == 1) prefix##_columns_one args;  \
    } else {                                                    \
      if constexpr (Ch::count == 4) prefix##_rows_rgba args;    \
      if constexpr (Ch::count == 3) prefix##_rows_rgb args;     \
      if constexpr (Ch::count == 1) prefix##_rows_one args;     \
    }                                                           \
  } while (0)

// A band's working lines: count elements from the normal heap
// (band_scratch.h), or none when the size is out of reach or the heap
// refuses.
template <typename T>
class BandScratch {
 public:
  explicit BandScratch(uint64_t count) {
    if (count <= UINT32_MAX / sizeof(T)) block_ = static_cast<T*>(band_scratch_alloc(count * sizeof(T), &raw_));
  }
  ~BandScratch() {
    if (raw_) q4_free(raw_, "Library/Q4Image", __LINE__);
  }
  BandScratch(const BandScratch&) = delete;
  BandScratch& operator=(const BandScratch&) = delete;
  T* get() const { return block_; }

 private:
  void* raw_ = nullptr;
  T* block_ = nullptr;
};

#endif
