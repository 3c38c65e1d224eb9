#ifndef FFT_CONVOLVER_H
#define FFT_CONVOLVER_H

#include <atomic>
#include <cstddef>

#include <fftw3.h>

#include "fft_pow2.h"
#include "image_data.h"
#include "q4_mp_hooks.h"
#include "row_chunks.h"

// A polygon of the PSF generators in pixel units: pixel (i, j) covers the
// unit square from (i, j) to (i + 1, j + 1). Shapes have at most 50 points;
// clipping to a pixel's square adds up to four.
enum { FFTPOLY_MAX_SHAPE = 50, FFTPOLY_MAX_POINTS = FFTPOLY_MAX_SHAPE + 4 };
struct tagFFTPOLY {
  int n;
  float p[FFTPOLY_MAX_POINTS][2];
};
// Clip box: xmin, xmax, ymin, ymax.
struct tagFFTPOLYBOX {
  float box[4];
};

// Keeps the part of `in` where s * p[axis] - o <= 0 (axis 0 is x, 1 is y).
void fftpolycliphalf2D(const tagFFTPOLY* in, tagFFTPOLY* out, int axis, float s, float o);
// 2: no point outside the box (polygon unchanged); 0: nothing inside (count
// 0); 1: clipped to the box in place.
int fftpolyclip(tagFFTPOLY* poly, const tagFFTPOLYBOX* box);
// Fills the polygon into channel 0 of a byte image with area coverage.
void fftdraw_polygon(image_data* img, const tagFFTPOLY* poly);

// The FFT service object: square single-precision 2-D FFTs run in row and
// column bands through the owner's executor, and an image convolution
// engine: 2-D convolution by a point-spread function (PSF) in three
// back-ends, its luma-chroma variant, separable 1-D filtering and generated
// filters and PSFs. Failures return false and leave a code for get_error
// (see the enum). One operation at a time per object.
class FFTConvolver {
 public:
  enum {
    FFT_OK = 0,
    FFT_ERR_SIZE = 1,          // transform size not a power of two 2..8192
    FFT_ERR_MEMORY = 2,        // a work or column buffer was not obtained
    FFT_ERR_IMAGE_SIZE = 3,    // set_image_2D: size differs from the PSF set-up
    FFT_ERR_MISSING = 4,       // no data, PSF, filter, image or plan to use
    FFT_ERR_OUTPUT = 5,        // output differs from the registered image
    FFT_ERR_FLOAT = 6,         // float pixels where an integer type is needed
    FFT_ERR_CHANNELS = 7,      // luma-chroma without three colour channels
    FFT_ERR_EDGE_MODE = 8,     // set_edge_mode outside 1..2
    FFT_ERR_PLAN = 9,          // an FFTW plan could not be made
    FFT_ERR_THREADS = 10       // FFTW's threads could not be set up
  };
  // Back-ends of the convolution engine; 4 is the default.
  enum { MODE_POW2_SINGLE = 1, MODE_POW2_DOUBLE = 2, MODE_NONE = 3, MODE_FFTW = 4, MODE_FFTW_MIXED = 5 };

  FFTConvolver();
  explicit FFTConvolver(int mode);  // 5 becomes 4
  virtual ~FFTConvolver();
  FFTConvolver(const FFTConvolver&) = delete;
  FFTConvolver& operator=(const FFTConvolver&) = delete;

  // Gives back everything the object holds and starts afresh; 5 becomes 4
  // (a PSF set up in single precision cannot feed the FFTW convolution).
  void initialize(int mode);
  int get_error() const { return error_code; }
  int get_mode() const { return mode; }
  // Processors of the machine, read at initialize, for sizing FFTW plans.
  int get_processor_count() const { return processor_count; }

  bool set_mp_exec(void* context, mp_exec_fn executor);
  // The test is always called with the executor's context.
  bool set_abort_test(void* context, abort_test_fn test);
  void mp_exec(mp_worker_fn worker, int count);

  bool set_edge_mode(int mode);
  int get_edge_mode() const { return edge_mode; }
  // Float settings (aspect ratios, stretches, filter taps and parameters)
  // that are not finite are refused: false, the old setting kept.
  bool set_aspect_ratios(float x, float y);
  float get_x_aspect() const { return x_aspect; }
  float get_y_aspect() const { return y_aspect; }

  // FFTW wisdom in the settings folder; writing also happens at destruction
  // when Q4_USE_FFTW_WISDOM was set at construction.
  bool read_fftw_wisdom();
  bool write_fftw_wisdom();
  bool fftw_wisdom_loaded() const { return wisdom_loaded != 0; }

  // Square fields of N x N samples, row-major, N = 2^k with k in 1..13.
  bool fft_check_dimension(int n, int* k);
  // Unnormalised; a forward then an inverse multiplies the field by N^2.
  bool forward_fft_2D_r4_to_c4(int N, const float* in, complex4* out);
  // Destroys spec; writes its real parts to out.
  bool inverse_fft_2D_c4_to_r4(int N, complex4* spec, float* out);
  // Signed frequencies (-N/2 .. N/2-1) of spectrum row i and column j for
  // the last forward transform's N.
  bool fft_2D_frequency(int i, int j, float& fi, float& fj);

  // Band workers over the work grid of band_width x band_height samples:
  // rows of band_width, or columns of band_height.
  static void mp_forward_fft_2D_rows_single(void* object, int first, int last);
  static void mp_inverse_fft_2D_rows_single(void* object, int first, int last);
  static void mp_scale_fft_2D_rows_single(void* object, int first, int last);
  static void mp_forward_fft_2D_columns_single(void* object, int first, int last);
  static void mp_inverse_fft_2D_columns_single(void* object, int first, int last);
  static void mp_scale_fft_2D_columns_single(void* object, int first, int last);
  static void mp_forward_fft_2D_rows_double(void* object, int first, int last);
  static void mp_inverse_fft_2D_rows_double(void* object, int first, int last);
  static void mp_scale_fft_2D_rows_double(void* object, int first, int last);
  static void mp_forward_fft_2D_columns_double(void* object, int first, int last);
  static void mp_inverse_fft_2D_columns_double(void* object, int first, int last);
  static void mp_scale_fft_2D_columns_double(void* object, int first, int last);

  // Band state that a pass sets before it dispatches its workers.
  void set_work_grid(void* grid, int width, int height);

  // 2-D convolution. The PSF image (the picture's size, kernel drawn round
  // its centre) is set up once with a margin of padding round the picture;
  // a negative margin counts as 0. The image to convolve is registered,
  // then convolved channel by channel (mask bits 1, 2, 4, 8 = channels 0-3)
  // into an output of the same size and type. Edge mode 1 pads with zeros,
  // 2 repeats the edges.
  bool set_PSF_2D(image_data* psf, int margin);
  bool set_PSF_2D_single(image_data* psf, int margin);
  bool set_PSF_2D_double(image_data* psf, int margin);
  bool set_PSF_2D_fftw(image_data* psf, int margin);
  bool set_PSF_2D_intel(image_data*, int) { return false; }
  bool set_image_2D(image_data* img);
  bool convolve_2D(image_data* out, int channel_mask);
  bool convolve_2D_single(image_data* out, int channel_mask);
  bool convolve_2D_double(image_data* out, int channel_mask);
  bool convolve_2D_fftw(image_data* out, int channel_mask);
  bool convolve_2D_intel(image_data*, int) { return false; }
  // Copies of the image grid (W x H complex, or W x H doubles for FFTW),
  // allocated into *dst when it is null. After a convolution the picture's
  // rows of the copy hold its result (the margin rows of the power-of-two
  // grids hold intermediate spectra: nothing reads them).
  bool save_complex_data_single(void** dst);
  bool save_complex_data_double(void** dst);
  bool save_fftw_data(double** dst);
  void multiply_transforms_2D_fftw();
  int get_padded_width() const { return padded_width; }
  int get_padded_height() const { return padded_height; }

  // Luma-chroma: Y, C1, C2 (and alpha) blurred separately, Y (and alpha
  // with the emphasis on) through a stretch curve when s >= 1.001.
  bool convolve_2D_YC(image_data* out, int channel_mask);
  bool convolve_2D_YC_single(image_data* out, int channel_mask);
  bool convolve_2D_YC_double(image_data* out, int channel_mask);
  bool convolve_2D_YC_fftw(image_data* out, int channel_mask);
  bool convolve_2D_YC_intel(image_data*, int) { return false; }
  bool set_convolve_2D_YC_stretch(float s);        // 0 .. 500
  bool set_convolve_2D_YC_emph_alpha(int on);
  bool set_convolve_2D_gamma_stretch(float gamma);  // 0.2 .. 5, FFTW back-end
  float get_convolve_2D_YC_stretch() const { return yc_stretch; }
  float get_convolve_2D_gamma_stretch() const { return gamma_stretch; }
  bool gamma_is_active() const { return gamma_active != 0; }

  // Separable filtering by one symmetric filter: taps[0] at the centre,
  // taps[i] on both sides at distance i; passes bit 0 rows, bit 1 columns.
  bool set_filter_1D(const float* taps, int n);
  bool set_image_1D(image_data* src);
  bool convolve_1D(image_data* out, int channel_mask, int passes);
  int get_filter_1D(const float** taps) const;
  // The packed real transforms of the 1-D filtering; other sizes do nothing.
  void forward_fft_1D(float* a, int n);
  void scale_fft_1D(float* a, int n);
  void multiply_transforms_1D(float* a, const float* b, int n);
  void inverse_fft_1D(float* a, int n);

  // Generated filters and PSFs (kinds in fft_psf.cpp). extra is not read.
  bool set_standard_filter(int kind, float radius, float param, float extra);
  bool set_standard_PSF(int width, int height, int kind, float a, float b, float angle, int sides);
  bool set_image_PSF(image_data* img, int cx, int cy, float r, float soft);
  const image_data* get_standard_PSF() const { return standard_psf; }

  static void mp_insert_into_complex_single(void* object, int first, int last);
  static void mp_insert_into_complex_double(void* object, int first, int last);
  static void mp_insert_into_fftw(void* object, int first, int last);
  static void mp_multiply_transforms_2D_single(void* object, int first, int last);
  static void mp_multiply_transforms_2D_double(void* object, int first, int last);
  static void mp_multiply_transforms_2D_fftw(void* object, int first, int last);
  // The power-of-two back-ends' passes, each over all the channels (or
  // luma-chroma components) of a convolution: insert and forward row
  // transform (over the picture's grid rows and one margin row on either
  // side); forward column transform, multiply by the PSF spectrum and
  // inverse column transform (over grid columns); inverse row transform and
  // extract (over output rows). The PSF spectrum is stored column by column
  // (store_psf_columns, over grid columns). The three passes of a
  // convolution, like the two of the 1-D filtering, take their lines a
  // chunk at a time from line_chunks, which is reset before each of them,
  // whatever bounds a band is given.
  static void mp_insert_forward_rows_single(void* object, int first, int last);
  static void mp_insert_forward_rows_double(void* object, int first, int last);
  static void mp_inverse_rows_extract_single(void* object, int first, int last);
  static void mp_inverse_rows_extract_double(void* object, int first, int last);
  static void mp_store_psf_columns_single(void* object, int first, int last);
  static void mp_store_psf_columns_double(void* object, int first, int last);
  static void mp_convolve_columns_single(void* object, int first, int last);
  static void mp_convolve_columns_double(void* object, int first, int last);
  static void mp_extract_from_complex_single(void* object, int first, int last);
  static void mp_extract_from_complex_double(void* object, int first, int last);
  static void mp_extract_from_fftw(void* object, int first, int last);
  static void mp_insert_into_complex_yc_single(void* object, int first, int last);
  static void mp_insert_into_complex_yc_double(void* object, int first, int last);
  static void mp_insert_into_fftw_yc(void* object, int first, int last);
  static void mp_extract_from_complex_yc_single(void* object, int first, int last);
  static void mp_extract_from_complex_yc_double(void* object, int first, int last);
  static void mp_extract_from_fftw_yc(void* object, int first, int last);
  static void mp_convolve_1D_horizontal(void* object, int first, int last);
  static void mp_convolve_1D_vertical(void* object, int first, int last);

 private:
  friend struct FFTPipeline;
  bool set_up_psf_by_mode(image_data* psf, int margin);
  bool psf_failed(int code);
  bool begin_psf_set_up(image_data* psf, int margin, bool square);
  void free_complex_buffers();
  void free_fftw();
  bool make_fftw_plan(int index);
  bool read_wisdom_locked();
  bool write_wisdom_locked();
  bool check_convolve(image_data* out, int backend);
  bool check_output(const image_data* out, const image_data* source);
  bool save_image_grid(void** dst, size_t sample, bool fftw);
  bool check_yc(image_data* out, int channel_mask, int backend);
  template <typename C>
  void transform_back_rows(C* grid, C* row, bool (*inverse)(C*, int));
  int first_made_row() const;
  int made_rows() const;
  template <typename C>
  bool set_PSF_2D_complex(image_data* psf, int margin);
  template <typename C>
  bool convolve_complex(image_data* out, int channel_mask, bool yc);
  bool convolve_fftw(image_data* out, int channel_mask, bool yc);
  bool convolve_by_mode(image_data* out, int channel_mask, bool yc);
  void filter_lines(bool rows);
  bool stretch_active() const;
  double stretch(double x) const;
  double unstretch(double y) const;

  struct ColumnBlocks;
  static void mp_forward_real_rows(void* object, int first, int last);
  static void mp_forward_real_columns(void* object, int first, int last);
  static void mp_inverse_real_columns(void* object, int first, int last);
  static void mp_inverse_real_rows(void* object, int first, int last);
  template <bool Forward>
  static void real_rows(void* object, int first, int last);
  template <typename C, bool (*Op)(C*, int)>
  static void rows(void* object, int first, int last);
  template <typename C, bool (*Op)(C*, int)>
  static void columns(void* object, int first, int last);
  // line(column, band_height) over the band's columns first..last of the
  // work grid, gathered a block at a time into lines and scattered back. In
  // fft_column_pass.h.
  template <typename C, typename Line>
  static void column_pass(void* object, int first, int last, Line line);
  bool aborted() const {
    if (!abort_test || !abort_test(exec_context)) return false;
    stopped = true;
    return true;
  }
  bool run_stage(mp_worker_fn worker, int count);
  bool run_claimed_stage(mp_worker_fn worker, int count, int chunk);
  static int rows_a_chunk(int rows);
  bool ensure_frequency_table(int n);
  void release();

  // The pipeline's state; the square service never writes it.
  image_data* psf_image = nullptr;
  int psf_backend = 0;           // mode whose grids hold the PSF: 1, 2 or 4
  size_t complex_sample_bytes = 0;  // sample size of the complex buffers
  image_data* source_image = nullptr;
  void* complex_buffers[5] = {};  // PSF spectrum (by columns), image grid, Y, C1, C2 stores
  // A channel (bit) or luma-chroma component (0..3, else -1) that the
  // power-of-two passes run through, and the complex buffer it uses.
  struct Plane {
    int channel;
    int component;
    int slot;
  };
  Plane planes[4] = {};
  int plane_count = 0;
  // Grids whose picture rows still wait for their inverse row transforms,
  // which extracts and saves apply on the way out.
  bool rows_pending[5] = {};
  fftw_plan fftw_plans[3] = {};   // PSF r2c, image r2c, image c2r
  void* fftw_buffers[7] = {};     // PSF real, PSF spectrum, image real, image spectrum, Y, C1, C2
  int psf_width = -1;
  int psf_height = -1;
  int padded_width = -1;
  int padded_height = -1;
  int x_offset = -1;
  int y_offset = -1;
  int margin = -1;
  bool normalise = false;
  image_data* insert_image = nullptr;
  int insert_edge_mode = 1;
  int insert_component = -1;  // luma-chroma component of an insert pass
  image_data* output_image = nullptr;
  int channel = 0;
  float yc_stretch = 0.0f;
  bool yc_emph_alpha = false;
  float gamma_stretch = 1.0f;
  bool gamma_active = false;
  image_data* source_1d = nullptr;
  image_data* intermediate_1d = nullptr;
  int width_1d = -1;
  int height_1d = -1;
  int padded_width_1d = 0;
  int padded_height_1d = 0;
  float* filter_1d = nullptr;
  int filter_1d_length = -1;
  image_data* horizontal_output = nullptr;
  image_data* vertical_input = nullptr;
  image_data* standard_psf = nullptr;

  int fftw_threads_ready = 0;
  bool holds_fftw_threads = false;
  int processor_count = 1;
  int wisdom_wanted = 0;
  int wisdom_loaded = 0;
  void* work_grid = nullptr;
  float* real_field = nullptr;  // field of the square service's real paths
  int band_width = 0;
  int band_height = 0;
  // The lines of a convolution pass whose bands claim them; a band that
  // stops or gets no scratch claims no more, and the others take what is
  // left.
  RowChunks line_chunks;
  // Set by a band whose abort test answered stop: a PSF set-up, which clears
  // it first, cannot keep a PSF that is partly made.
  mutable std::atomic<bool> stopped{false};
  int edge_mode = 2;
  std::atomic<int> error_code{0};
  void* exec_context = nullptr;
  mp_exec_fn executor = nullptr;
  abort_test_fn abort_test = nullptr;
  float x_aspect = 1.0f;
  float y_aspect = 1.0f;
  int* frequency_table = nullptr;
  int frequency_table_length = 0;
  int mode = MODE_FFTW;
};

#endif
