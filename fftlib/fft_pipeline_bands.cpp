#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include <immintrin.h>

#include "fft_column_pass.h"
#include "fft_convolver.h"
#include "q4_memory.h"
#include "q4_simd.h"
#include "row_chunks.h"

// Band workers of the 2-D convolution. Grids hold complex4 or complex8
// samples (the power-of-two back-ends) or plain doubles (FFTW's real grid);
// the same insert and extract bodies serve all three.

namespace {

inline double real_part(const complex4& g) { return g.re; }
inline double real_part(const complex8& g) { return g.re; }
inline double real_part(double g) { return g; }
inline void put(complex4& g, double v) { g = {static_cast<float>(v), 0.0f}; }
inline void put(complex8& g, double v) { g = {v, 0.0}; }
inline void put(double& g, double v) { g = v; }

// 1/255, 1/65535 and 2^-32 as single-precision constants; floats as they are.
float inverse_full_scale(int type) {
  switch (type) {
    case IMAGE_PIXEL_BYTE: return 1.0f / 255.0f;
    case IMAGE_PIXEL_WORD: return 1.0f / 65535.0f;
    case IMAGE_PIXEL_WORD32: return 1.0f / 4294967296.0f;
    default: return 1.0f;
  }
}

// Clamped to 0 .. full scale and truncated for integer samples; NaN gives 0.
template <typename T>
inline T to_sample(double v) {
  if (std::is_floating_point<T>::value) return static_cast<T>(v);
  const double top = static_cast<double>(std::numeric_limits<T>::max());
  if (!(v > 0.0)) return 0;
  return v >= top ? std::numeric_limits<T>::max() : static_cast<T>(v);
}

// Finished grid samples go to memory past the caches: grids are larger than
// the caches, and a plain store would first read every line it fills. A
// worker that streams ends with streams_done(), which orders those stores
// before anything the worker's caller does next.
Q4_SIMD_TARGET_AVX2 void stream_copy_avx2(void* dst, const void* src, size_t bytes) {
  float* to = static_cast<float*>(dst);
  const float* from = static_cast<const float*>(src);
  const size_t whole = bytes / 32 * 8;
  for (size_t k = 0; k < whole; k += 8) _mm256_stream_ps(to + k, _mm256_load_ps(from + k));
  std::memcpy(to + whole, from + whole, bytes - whole * sizeof(float));
}

void stream_copy(void* dst, const void* src, size_t bytes) {
  if (q4_simd_use_avx2() && (reinterpret_cast<uintptr_t>(dst) | reinterpret_cast<uintptr_t>(src)) % 32 == 0)
    stream_copy_avx2(dst, src, bytes);
  else
    std::memcpy(dst, src, bytes);
}

void streams_done() { _mm_sfence(); }

// Samples between the starts of a column pass's lines beyond the line
// length: 128 bytes or more, so lines stay aligned for the transforms.
constexpr int kLinePad = 16;

const float kR2Y[3] = {0.299f, 0.587f, 0.114f};
const float kR2C1[3] = {0.5f, -0.418688f, -0.081312f};
const float kR2C2[3] = {-0.213267f, -0.418688f, 0.617689f};

}  // namespace

// The stretch curve raises the upper values of a component in 0..1 before
// it is spread, and its exact inverse takes them back after.
bool FFTConvolver::stretch_active() const { return yc_stretch - 1.0f >= 0.001f; }

double FFTConvolver::stretch(double x) const {
  const double s = yc_stretch, k = s - 1.0 / s;
  x = std::min(std::max(x, 0.0), 1.0);
  double y = (1.0 / ((1.0 - x) * k + 1.0 / s) - 1.0 / s) / k;
  if (s > 50.0) y = std::pow(y, 1.0 + (std::min(s, 500.0) - 50.0) * 0.03);
  return y;
}

double FFTConvolver::unstretch(double y) const {
  const double s = yc_stretch, k = s - 1.0 / s;
  y = std::min(std::max(y, 0.0), 1.0);
  if (s > 50.0) y = std::pow(y, 1.0 / (1.0 + (std::min(s, 500.0) - 50.0) * 0.03));
  return 1.0 - (1.0 / (y * k + 1.0 / s) - 1.0 / s) / k;
}

struct FFTPipeline {
  // The plane of the current pass (FFTW's and the PSF's passes run one).
  static FFTConvolver::Plane pass_plane(const FFTConvolver* self) { return {self->channel, self->insert_component, 1}; }

  // The samples of image row ir that the plane wants, into
  // out[0 .. width - 1]: a channel (normalised or gamma-stretched as the
  // pass says) or a luma-chroma component.
  template <typename T, typename G>
  static void line_values(const FFTConvolver* self, FFTConvolver::Plane plane, int ir, G* out) {
    const image_data* img = self->insert_image;
    const T* src = reinterpret_cast<const T*>(image_row(img, ir));
    const int ch = img->channels, w = img->width;
    const float inv = inverse_full_scale(img->pixel_type);
    const int component = plane.component;
    if (component < 0) {
      const int c = __builtin_ctz(static_cast<unsigned>(plane.channel));
      const bool gamma = std::is_same<G, double>::value && !self->normalise && self->gamma_active &&
                         self->gamma_stretch != 1.0f && plane.channel != 8;
      for (int x = 0; x < w; ++x) {
        double v = static_cast<double>(src[x * ch + c]);
        if (self->normalise) v *= inv;
        if (gamma) v = std::pow(std::max(v * inv, 0.0), static_cast<double>(self->gamma_stretch));
        put(out[x], v);
      }
      return;
    }
    if (component == 3) {
      const bool curve = self->yc_emph_alpha && self->stretch_active();
      for (int x = 0; x < w; ++x) {
        const double a = static_cast<double>(src[x * ch + 3]) * inv;
        put(out[x], curve ? self->stretch(a) : a);
      }
      return;
    }
    const float* k = component == 0 ? kR2Y : component == 1 ? kR2C1 : kR2C2;
    const double bias = component == 0 ? 0.0 : 0.5;
    const bool curve = component == 0 && self->stretch_active();
    for (int x = 0; x < w; ++x) {
      const double r = static_cast<double>(src[x * ch]) * inv, g = static_cast<double>(src[x * ch + 1]) * inv,
                   b = static_cast<double>(src[x * ch + 2]) * inv;
      const double v = k[0] * r + k[1] * g + k[2] * b + bias;
      put(out[x], curve ? self->stretch(v) : v);
    }
  }

  // Whole grid row gr: the picture at (x offset, y offset), the margins
  // zero (neutral chroma 0.5 for components 1 and 2) in edge mode 1 or the
  // nearest edge sample in edge mode 2.
  template <typename G>
  static void insert_row(FFTConvolver* self, FFTConvolver::Plane plane, G* row, int gr) {
    const int row_length = self->band_width;
    const image_data* img = self->insert_image;
    const int w = img->width, h = img->height, xo = self->x_offset;
    const bool repeat = self->insert_edge_mode == 2;
    const double fill = (plane.component == 1 || plane.component == 2) ? 0.5 : 0.0;
    int ir = gr - self->y_offset;
    if (ir < 0 || ir >= h) {
      if (!repeat) {
        for (int x = 0; x < row_length; ++x) put(row[x], fill);
        return;
      }
      ir = ir < 0 ? 0 : h - 1;
    }
    switch (img->pixel_type) {
      case IMAGE_PIXEL_BYTE: line_values<uint8_t>(self, plane, ir, row + xo); break;
      case IMAGE_PIXEL_WORD: line_values<uint16_t>(self, plane, ir, row + xo); break;
      case IMAGE_PIXEL_WORD32: line_values<uint32_t>(self, plane, ir, row + xo); break;
      default: line_values<float>(self, plane, ir, row + xo); break;
    }
    const double left = repeat ? real_part(row[xo]) : fill, right = repeat ? real_part(row[xo + w - 1]) : fill;
    for (int x = 0; x < xo; ++x) put(row[x], left);
    for (int x = xo + w; x < row_length; ++x) put(row[x], right);
  }

  // Grid rows first..last.
  template <typename G>
  static void insert(void* object, int first, int last) {
    FFTConvolver* self = static_cast<FFTConvolver*>(object);
    G* grid = static_cast<G*>(self->work_grid);
    for (int gr = first; gr <= last; ++gr) {
      if (self->aborted()) return;
      insert_row(self, pass_plane(self), grid + static_cast<ptrdiff_t>(gr) * self->band_width, gr);
    }
  }

  // The made rows it claims (counted from first_made_row) of every plane,
  // each made and transformed in the band's buffer and then written to the
  // plane's grid; the image row is read from memory once for all planes.
  template <typename C, bool (*Forward)(C*, int)>
  static void insert_forward(void* object) {
    FFTConvolver* self = static_cast<FFTConvolver*>(object);
    const int w = self->band_width, top = self->y_offset, bottom = top + self->insert_image->height - 1;
    const int lowest = self->first_made_row();
    const bool zeros = self->insert_edge_mode == 1;
    C* row = band_lines<C>(self, w);
    if (!row) return;
    RowCursor made(self->line_chunks);
    int k = 0;
    while (made.next(k)) {
      if (self->aborted()) break;
      const int gr = lowest + k;
      for (int p = 0; p < self->plane_count; ++p) {
        const FFTConvolver::Plane plane = self->planes[p];
        insert_row(self, plane, row, gr);
        // Margin rows of zeros stay zeros through a transform.
        const bool zero_row = zeros && plane.component != 1 && plane.component != 2 && (gr < top || gr > bottom);
        if (!zero_row) Forward(row, w);
        stream_copy(static_cast<C*>(self->complex_buffers[plane.slot]) + static_cast<ptrdiff_t>(gr) * w, row,
                    sizeof(C) * w);
      }
    }
    streams_done();
    mem_align_free(row, false);
  }

  // Output rows first..last from grid row r + y offset, column x offset on,
  // scaled by `scale` (FFTW's transforms are unnormalised).
  template <typename T, typename G>
  static void extract_row(FFTConvolver* self, FFTConvolver::Plane plane, const G* line, int r, double scale) {
    image_data* out = self->output_image;
    T* dst = reinterpret_cast<T*>(image_row(out, r));
    const int ch = out->channels, c = __builtin_ctz(static_cast<unsigned>(plane.channel));
    const bool gamma = std::is_same<G, double>::value && self->gamma_active && self->gamma_stretch != 1.0f &&
                       plane.channel != 8;
    const double full = image_full_scale(out->pixel_type), inv_gamma = 1.0 / self->gamma_stretch;
    for (int x = 0; x < out->width; ++x) {
      double v = real_part(line[x]) * scale;
      // Clamped at 0 first: a residue below 0 has no real root.
      if (gamma) v = std::pow(std::max(v, 0.0), inv_gamma) * full;
      dst[x * ch + c] = to_sample<T>(v);
    }
  }

  // Output row r from its grid line.
  template <typename G>
  static void extract_line(FFTConvolver* self, FFTConvolver::Plane plane, const G* line, int r, double scale) {
    switch (self->output_image->pixel_type) {
      case IMAGE_PIXEL_BYTE: extract_row<uint8_t>(self, plane, line, r, scale); break;
      case IMAGE_PIXEL_WORD: extract_row<uint16_t>(self, plane, line, r, scale); break;
      case IMAGE_PIXEL_WORD32: extract_row<uint32_t>(self, plane, line, r, scale); break;
      default: extract_row<float>(self, plane, line, r, scale); break;
    }
  }

  template <typename G>
  static void extract(void* object, int first, int last) {
    FFTConvolver* self = static_cast<FFTConvolver*>(object);
    const G* grid = static_cast<const G*>(self->work_grid);
    const double scale = std::is_same<G, double>::value
                             ? 1.0 / (static_cast<double>(self->padded_width) * self->padded_height)
                             : 1.0;
    for (int r = first; r <= last; ++r) {
      if (self->aborted()) return;
      extract_line(self, pass_plane(self),
                   grid + static_cast<ptrdiff_t>(r + self->y_offset) * self->band_width + self->x_offset, r, scale);
    }
  }

  // A band's buffer of count samples (page-aligned, as the grids are, so
  // transforms in it run the grids' plans); null and a memory error when
  // it is refused.
  template <typename G>
  static G* band_lines(FFTConvolver* self, int count) {
    G* lines = static_cast<G*>(mem_align_alloc(static_cast<unsigned>(sizeof(G)) * count, -1, false));
    if (!lines) self->error_code = FFTConvolver::FFT_ERR_MEMORY;
    return lines;
  }

  // A picture row of a grid transformed back into row, the grid left as it
  // is: nothing is written back to memory.
  static void inverse_row(const complex4* grid_row, complex4* row, int w) {
    std::memcpy(row, grid_row, sizeof(complex4) * w);
    fftc4_un(row, w);
  }
  static void inverse_row(const complex8* grid_row, complex8* row, int w) {
    std::memcpy(row, grid_row, sizeof(complex8) * w);
    fftc8_un(row, w);
  }
  static void inverse_row(const double*, double*, int) {}

  // The output rows it claims from the picture's rows of every plane's
  // grid, each transformed back in the band's buffer and extracted from it;
  // the output row stays in cache while its channels are written.
  template <typename C>
  static void inverse_extract(void* object) {
    FFTConvolver* self = static_cast<FFTConvolver*>(object);
    const int w = self->band_width;
    C* row = band_lines<C>(self, w);
    if (!row) return;
    RowCursor rows(self->line_chunks);
    int r = 0;
    while (rows.next(r)) {
      if (self->aborted()) break;
      for (int p = 0; p < self->plane_count; ++p) {
        const FFTConvolver::Plane plane = self->planes[p];
        const C* grid = static_cast<const C*>(self->complex_buffers[plane.slot]);
        inverse_row(grid + static_cast<ptrdiff_t>(r + self->y_offset) * w, row, w);
        extract_line(self, plane, row + self->x_offset, r, 1.0);
      }
    }
    mem_align_free(row, false);
  }

  // Luma-chroma back to RGB from the lines of Y, C1, C2 and alpha (from x
  // offset on); alpha is written when selected and present in both images,
  // and zeroed otherwise (its line is then not read).
  template <typename T, typename G>
  static void extract_yc_row(FFTConvolver* self, const G* const lines[4], int r, double scale) {
    image_data* out = self->output_image;
    T* dst = reinterpret_cast<T*>(image_row(out, r));
    const int ch = out->channels;
    const bool alpha = yc_alpha(self);
    const bool curve = self->stretch_active(), alpha_curve = curve && self->yc_emph_alpha;
    const double full = image_full_scale(out->pixel_type);
    auto store = [full](double v) { return to_sample<T>(std::min(std::max(v, 0.0), 1.0) * full + 0.5); };
    for (int x = 0; x < out->width; ++x) {
      double y = real_part(lines[0][x]) * scale;
      const double c1 = real_part(lines[1][x]) * scale - 0.5, c2 = real_part(lines[2][x]) * scale - 0.5;
      if (curve) y = self->unstretch(y);
      dst[x * ch] = store(y + 1.402f * c1);
      dst[x * ch + 1] = store(0.996036f * y - 0.714136f * c1 - 0.277836f * c2);
      dst[x * ch + 2] = store(1.020408f * y + 1.430612f * c2);
      if (ch > 3) {
        double a = alpha ? real_part(lines[3][x]) * scale : 0.0;
        if (alpha && alpha_curve) a = self->unstretch(a);
        dst[x * ch + 3] = alpha ? store(a) : 0;
      }
    }
  }

  static bool yc_alpha(const FFTConvolver* self) {
    return (self->channel & 8) && self->output_image->channels > 3 && self->source_image->channels > 3;
  }

  // The stores are Y, C1, C2 and the image grid (alpha). FFTW's hold
  // results; the complex ones hold the picture's rows still to be
  // transformed back, which happens row by row here in a band buffer.
  template <typename G>
  static void extract_yc(void* object, int first, int last) {
    FFTConvolver* self = static_cast<FFTConvolver*>(object);
    constexpr bool fftw = std::is_same<G, double>::value;
    void* const* buffers = fftw ? self->fftw_buffers : self->complex_buffers;
    G* const stores[4] = {static_cast<G*>(buffers[fftw ? 4 : 2]), static_cast<G*>(buffers[fftw ? 5 : 3]),
                          static_cast<G*>(buffers[fftw ? 6 : 4]), static_cast<G*>(buffers[fftw ? 2 : 1])};
    const int w = self->band_width, planes = yc_alpha(self) ? 4 : 3;
    const double scale = fftw ? 1.0 / (static_cast<double>(self->padded_width) * self->padded_height) : 1.0;
    G* rows = fftw ? nullptr : band_lines<G>(self, 4 * w);
    if (!fftw && !rows) return;
    for (int r = first; r <= last; ++r) {
      if (self->aborted()) break;
      const ptrdiff_t at = static_cast<ptrdiff_t>(r + self->y_offset) * w;
      const G* lines[4] = {};
      for (int k = 0; k < planes; ++k) {
        if (fftw) {
          lines[k] = stores[k] + at + self->x_offset;
          continue;
        }
        G* row = rows + static_cast<ptrdiff_t>(k) * w;
        inverse_row(stores[k] + at, row, w);
        lines[k] = row + self->x_offset;
      }
      switch (self->output_image->pixel_type) {
        case IMAGE_PIXEL_BYTE: extract_yc_row<uint8_t>(self, lines, r, scale); break;
        case IMAGE_PIXEL_WORD: extract_yc_row<uint16_t>(self, lines, r, scale); break;
        default: extract_yc_row<uint32_t>(self, lines, r, scale); break;
      }
    }
    if (rows) mem_align_free(rows, false);
  }

  // Image spectrum times PSF spectrum, row by row; row r of the PSF
  // spectrum is gathered from its store of columns.
  template <typename C, bool (*Mul)(C*, const C*, int)>
  static void multiply(void* object, int first, int last) {
    FFTConvolver* self = static_cast<FFTConvolver*>(object);
    C* grid = static_cast<C*>(self->work_grid);
    const C* psf = static_cast<const C*>(self->complex_buffers[0]);
    const int w = self->band_width, h = self->band_height;
    C* psf_row = band_lines<C>(self, w);
    if (!psf_row) return;
    for (int r = first; r <= last; ++r) {
      if (self->aborted()) break;
      gather_columns(psf, h, w, r, 1, psf_row, w);
      Mul(grid + static_cast<ptrdiff_t>(r) * w, psf_row, w);
    }
    mem_align_free(psf_row, false);
  }

  // The PSF spectrum in the work grid to its store, columns first..last,
  // each column one contiguous line: the column pass reads it in place.
  template <typename C>
  static void store_psf_columns(void* object, int first, int last) {
    FFTConvolver* self = static_cast<FFTConvolver*>(object);
    const C* grid = static_cast<const C*>(self->work_grid);
    C* psf = static_cast<C*>(self->complex_buffers[0]);
    const int w = self->band_width, h = self->band_height, block = column_block<C>();
    for (int c = first; c <= last; c += block) {
      if (self->aborted()) return;
      gather_columns(grid, w, h, c, std::min(last - c + 1, block), psf + static_cast<ptrdiff_t>(c) * h, h);
    }
  }

  // The column half of a convolution in one pass over the grids: each block
  // of columns of each plane is transformed, multiplied by the same columns
  // of the PSF spectrum (read from memory once for all planes) and
  // transformed back while it is in the band's buffer. Only the picture's
  // rows go back to the grid: nothing reads the others. A band claims its
  // columns a chunk of whole blocks at a time.
  // Each column is asked about once; the first stop answer ends the band,
  // after the columns of its block that were let through are written back.
  template <typename C, bool (*Forward)(C*, int), bool (*Inverse)(C*, int), bool (*Mul)(C*, const C*, int)>
  static void convolve_columns(void* object) {
    FFTConvolver* self = static_cast<FFTConvolver*>(object);
    const int w = self->band_width, h = self->band_height, block = column_block<C>();
    const int top = self->y_offset, rows = self->psf_height;
    // Lines of whole columns, then the picture's rows of a block. Lines a
    // power of two apart would all fall in the same few cache sets, and the
    // gather writes a few samples into each in turn: they lie a little
    // further apart.
    const int line_stride = h + kLinePad;
    C* buffer = band_lines<C>(self, line_stride * block + rows * block);
    if (!buffer) return;
    C* picture_rows = buffer + static_cast<ptrdiff_t>(line_stride) * block;
    const C* psf = static_cast<const C*>(self->complex_buffers[0]);
    // The made rows, widened to whole tiles of four rows for the gather;
    // the rows it reads beyond them are overwritten by the repeats.
    const int lowest = self->first_made_row(), end = lowest + self->made_rows();
    const int from = lowest & ~3, read = std::min((end + 3) & ~3, h) - from;
    int first = 0, last = -1;
    bool going = true;
    while (going && self->line_chunks.claim(first, last))
      for (int c = first; going && c <= last; c += block) {
        const int count = std::min(last - c + 1, block);
        int ready = 0;
        while (ready < count && !self->aborted()) ++ready;
        for (int p = 0; p < self->plane_count; ++p) {
          C* grid = static_cast<C*>(self->complex_buffers[self->planes[p].slot]);
          gather_columns(grid + static_cast<ptrdiff_t>(from) * w, w, read, c, ready, buffer + from, line_stride);
          for (int b = 0; b < ready; ++b) {
            C* line = buffer + static_cast<ptrdiff_t>(b) * line_stride;
            std::fill(line, line + lowest, line[lowest]);
            std::fill(line + end, line + h, line[end - 1]);
          }
          for (int b = 0; b < ready; ++b) {
            C* line = buffer + static_cast<ptrdiff_t>(b) * line_stride;
            Forward(line, h);
            Mul(line, psf + static_cast<ptrdiff_t>(c + b) * h, h);
            Inverse(line, h);
          }
          // The picture's rows of the lines, transposed back into rows of
          // `ready` samples, each one whole stretch of its grid row.
          gather_columns(buffer, line_stride, ready, top, rows, picture_rows, ready);
          for (int i = 0; i < rows; ++i)
            stream_copy(grid + static_cast<ptrdiff_t>(top + i) * w + c,
                        picture_rows + static_cast<ptrdiff_t>(i) * ready, sizeof(C) * ready);
        }
        going = ready == count;
      }
    streams_done();
    mem_align_free(buffer, false);
  }

  // FFTW's half spectra: rows of H/2 + 1 complex doubles.
  static void multiply_fftw(void* object, int first, int last) {
    FFTConvolver* self = static_cast<FFTConvolver*>(object);
    complex8* grid = static_cast<complex8*>(self->fftw_buffers[3]);
    const complex8* psf = static_cast<const complex8*>(self->fftw_buffers[1]);
    const int w = self->padded_height / 2 + 1;
    for (int r = first; r <= last; ++r) {
      if (self->aborted()) return;
      complex8* a = grid + static_cast<ptrdiff_t>(r) * w;
      const complex8* b = psf + static_cast<ptrdiff_t>(r) * w;
      for (int k = 0; k < w; ++k) {
        const double re = a[k].re * b[k].re - a[k].im * b[k].im;
        a[k].im = a[k].re * b[k].im + a[k].im * b[k].re;
        a[k].re = re;
      }
    }
  }
};

void FFTConvolver::mp_insert_into_complex_single(void* o, int f, int l) { FFTPipeline::insert<complex4>(o, f, l); }
void FFTConvolver::mp_insert_into_complex_double(void* o, int f, int l) { FFTPipeline::insert<complex8>(o, f, l); }
void FFTConvolver::mp_insert_into_fftw(void* o, int f, int l) { FFTPipeline::insert<double>(o, f, l); }
void FFTConvolver::mp_insert_into_complex_yc_single(void* o, int f, int l) { FFTPipeline::insert<complex4>(o, f, l); }
void FFTConvolver::mp_insert_into_complex_yc_double(void* o, int f, int l) { FFTPipeline::insert<complex8>(o, f, l); }
void FFTConvolver::mp_insert_into_fftw_yc(void* o, int f, int l) { FFTPipeline::insert<double>(o, f, l); }
void FFTConvolver::mp_extract_from_complex_single(void* o, int f, int l) { FFTPipeline::extract<complex4>(o, f, l); }
void FFTConvolver::mp_extract_from_complex_double(void* o, int f, int l) { FFTPipeline::extract<complex8>(o, f, l); }
void FFTConvolver::mp_extract_from_fftw(void* o, int f, int l) { FFTPipeline::extract<double>(o, f, l); }
void FFTConvolver::mp_extract_from_complex_yc_single(void* o, int f, int l) { FFTPipeline::extract_yc<complex4>(o, f, l); }
void FFTConvolver::mp_extract_from_complex_yc_double(void* o, int f, int l) { FFTPipeline::extract_yc<complex8>(o, f, l); }
void FFTConvolver::mp_extract_from_fftw_yc(void* o, int f, int l) { FFTPipeline::extract_yc<double>(o, f, l); }
void FFTConvolver::mp_multiply_transforms_2D_single(void* o, int f, int l) {
  FFTPipeline::multiply<complex4, fftc4_mul>(o, f, l);
}
void FFTConvolver::mp_multiply_transforms_2D_double(void* o, int f, int l) {
  FFTPipeline::multiply<complex8, fftc8_mul>(o, f, l);
}
void FFTConvolver::mp_multiply_transforms_2D_fftw(void* o, int f, int l) { FFTPipeline::multiply_fftw(o, f, l); }

void FFTConvolver::mp_insert_forward_rows_single(void* o, int, int) {
  FFTPipeline::insert_forward<complex4, fftc4>(o);
}
void FFTConvolver::mp_insert_forward_rows_double(void* o, int, int) {
  FFTPipeline::insert_forward<complex8, fftc8>(o);
}
void FFTConvolver::mp_inverse_rows_extract_single(void* o, int, int) {
  FFTPipeline::inverse_extract<complex4>(o);
}
void FFTConvolver::mp_inverse_rows_extract_double(void* o, int, int) {
  FFTPipeline::inverse_extract<complex8>(o);
}
void FFTConvolver::mp_store_psf_columns_single(void* o, int f, int l) { FFTPipeline::store_psf_columns<complex4>(o, f, l); }
void FFTConvolver::mp_store_psf_columns_double(void* o, int f, int l) { FFTPipeline::store_psf_columns<complex8>(o, f, l); }

void FFTConvolver::mp_convolve_columns_single(void* o, int, int) {
  FFTPipeline::convolve_columns<complex4, fftc4, fftc4_un, fftc4_mul>(o);
}
void FFTConvolver::mp_convolve_columns_double(void* o, int, int) {
  FFTPipeline::convolve_columns<complex8, fftc8, fftc8_un, fftc8_mul>(o);
}

void FFTConvolver::multiply_transforms_2D_fftw() {
  if (fftw_buffers[1] && fftw_buffers[3]) mp_multiply_transforms_2D_fftw(this, 0, padded_width - 1);
}
