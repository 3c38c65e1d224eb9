#ifndef FFT_CONVOLVER_H
#define FFT_CONVOLVER_H

#include <atomic>

#include "fft_pow2.h"
#include "q4_mp_hooks.h"

// The FFT service object: square single-precision 2-D FFTs run in row and
// column bands through the owner's executor. Failures return false and leave
// a code for get_error (see the enum). One operation at a time per object.
class FFTConvolver {
 public:
  enum {
    FFT_OK = 0,
    FFT_ERR_SIZE = 1,          // transform size not a power of two 2..8192
    FFT_ERR_MEMORY = 2,        // a work or column buffer was not obtained
    FFT_ERR_MISSING = 4,       // no data to transform
    FFT_ERR_EDGE_MODE = 8,     // set_edge_mode outside 1..2
    FFT_ERR_THREADS = 10       // FFTW's threads could not be set up
  };
  // Back-ends of the convolution engine; 4 is the default.
  enum { MODE_POW2_SINGLE = 1, MODE_POW2_DOUBLE = 2, MODE_NONE = 3, MODE_FFTW = 4, MODE_FFTW_MIXED = 5 };

  FFTConvolver();
  explicit FFTConvolver(int mode);  // 5 becomes 4
  virtual ~FFTConvolver();
  FFTConvolver(const FFTConvolver&) = delete;
  FFTConvolver& operator=(const FFTConvolver&) = delete;

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

 private:
  struct ColumnBlocks;
  static void mp_forward_real_rows(void* object, int first, int last);
  static void mp_forward_real_columns(void* object, int first, int last);
  static void mp_inverse_real_columns(void* object, int first, int last);
  static void mp_inverse_real_rows(void* object, int first, int last);
  template <typename C, bool (*Op)(C*, int)>
  static void rows(void* object, int first, int last);
  template <typename C, bool (*Op)(C*, int)>
  static void columns(void* object, int first, int last);
  bool aborted() const { return abort_test && abort_test(exec_context); }
  bool run_stage(mp_worker_fn worker, int count);
  bool ensure_frequency_table(int n);
  void release();

  int fftw_threads_ready = 0;
  bool holds_fftw_threads = false;
  int processor_count = 1;
  int wisdom_wanted = 0;
  int wisdom_loaded = 0;
  void* work_grid = nullptr;
  float* real_field = nullptr;  // field of the square service's real paths
  int band_width = 0;
  int band_height = 0;
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
