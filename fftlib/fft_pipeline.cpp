#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <cstdint>
#include <mutex>

#include "fft_column_pass.h"
#include "fft_convolver.h"
#include "fftw_threads.h"
#include "q4_memory.h"

// 2-D convolution by a PSF: the image is padded into a power-of-two grid,
// transformed, multiplied by the PSF's spectrum (centred on sample (0, 0)
// and normalised to sum 1) and transformed back, channel by channel.
//
// Every grid-filling pass writes whole grid rows: the picture's samples and
// in the margins zeros (edge mode 1) or the nearest edge sample (edge mode
// 2). A pass never inherits the previous pass's margins, and the margins are
// filled in bands like the rest.

namespace {

bool power_of_two_in_range(int n) { return n >= 2 && n <= 8192 && (n & (n - 1)) == 0; }

int padded(long need) {
  long n = 1;
  while (n < need && n <= 8192) n <<= 1;
  return static_cast<int>(n);
}

void* alloc_zeroed_grid(size_t bytes) {
  if (bytes > 0xffffffffu) return nullptr;
  void* block = mem_align_alloc(static_cast<unsigned>(bytes), -1, true);
  if (!block) return nullptr;
  q4_prefer_huge_pages(block, bytes);
  memset(block, 0, bytes);
  return block;
}

void* alloc_zeroed_fftw(size_t bytes) {
  void* block = fftw_malloc(bytes);
  if (!block) return nullptr;
  q4_prefer_huge_pages(block, bytes);
  memset(block, 0, bytes);
  return block;
}

inline double real_part(const complex4& g) { return g.re; }
inline double real_part(const complex8& g) { return g.re; }
inline double real_part(double g) { return g; }
inline void scale_by(complex4& g, double f) {
  g.re *= static_cast<float>(f);
  g.im *= static_cast<float>(f);
}
inline void scale_by(complex8& g, double f) {
  g.re *= f;
  g.im *= f;
}
inline void scale_by(double& g, double f) { g *= f; }

// Scales the inserted PSF to sum 1 and moves its centre sample to (0, 0):
// rows rotated left by W/2 and columns up by H/2, which for even sizes is
// swapping the halves of every row and then the halves of the grid. A PSF
// that sums to 0 has no normalisation and would make every output NaN.
template <typename G>
bool centre_psf(G* grid, int w, int h) {
  double sum = 0.0;
  const ptrdiff_t cells = static_cast<ptrdiff_t>(w) * h;
  for (ptrdiff_t k = 0; k < cells; ++k) sum += real_part(grid[k]);
  if (!(std::fabs(sum) > 0.0) || !std::isfinite(sum)) return false;
  const double inv = 1.0 / sum;
  for (ptrdiff_t k = 0; k < cells; ++k) scale_by(grid[k], inv);
  for (int r = 0; r < h; ++r) {
    G* row = grid + static_cast<ptrdiff_t>(r) * w;
    std::swap_ranges(row, row + w / 2, row + w / 2);
  }
  std::swap_ranges(grid, grid + cells / 2, grid + cells / 2);
  return true;
}

template <typename C>
struct Stages;

template <>
struct Stages<complex4> {
  static constexpr int backend = FFTConvolver::MODE_POW2_SINGLE;
  static constexpr mp_worker_fn insert = FFTConvolver::mp_insert_into_complex_single;
  static constexpr mp_worker_fn insert_forward = FFTConvolver::mp_insert_forward_rows_single;
  static constexpr mp_worker_fn inverse_extract = FFTConvolver::mp_inverse_rows_extract_single;
  static constexpr mp_worker_fn extract_yc = FFTConvolver::mp_extract_from_complex_yc_single;
  static constexpr mp_worker_fn convolve_columns = FFTConvolver::mp_convolve_columns_single;
  static constexpr mp_worker_fn store_psf_columns = FFTConvolver::mp_store_psf_columns_single;
  static constexpr mp_worker_fn rows[2] = {FFTConvolver::mp_forward_fft_2D_rows_single,
                                           FFTConvolver::mp_scale_fft_2D_rows_single};
  static constexpr mp_worker_fn columns[2] = {FFTConvolver::mp_forward_fft_2D_columns_single,
                                              FFTConvolver::mp_scale_fft_2D_columns_single};
};

template <>
struct Stages<complex8> {
  static constexpr int backend = FFTConvolver::MODE_POW2_DOUBLE;
  static constexpr mp_worker_fn insert = FFTConvolver::mp_insert_into_complex_double;
  static constexpr mp_worker_fn insert_forward = FFTConvolver::mp_insert_forward_rows_double;
  static constexpr mp_worker_fn inverse_extract = FFTConvolver::mp_inverse_rows_extract_double;
  static constexpr mp_worker_fn extract_yc = FFTConvolver::mp_extract_from_complex_yc_double;
  static constexpr mp_worker_fn convolve_columns = FFTConvolver::mp_convolve_columns_double;
  static constexpr mp_worker_fn store_psf_columns = FFTConvolver::mp_store_psf_columns_double;
  static constexpr mp_worker_fn rows[2] = {FFTConvolver::mp_forward_fft_2D_rows_double,
                                           FFTConvolver::mp_scale_fft_2D_rows_double};
  static constexpr mp_worker_fn columns[2] = {FFTConvolver::mp_forward_fft_2D_columns_double,
                                              FFTConvolver::mp_scale_fft_2D_columns_double};
};

enum { FORWARD, SCALE };

}  // namespace

bool FFTConvolver::psf_failed(int code) {
  // Every failed set-up forgets the PSF, so a later convolution fails with 4
  // instead of using a half-made spectrum.
  error_code = code;
  psf_image = nullptr;
  psf_backend = 0;
  return false;
}

bool FFTConvolver::begin_psf_set_up(image_data* psf, int requested_margin, bool square) {
  if (!psf || !psf->pixels) return psf_failed(FFT_ERR_MISSING);
  // A negative margin would make the grid narrower than the picture, and the
  // insert would write past it.
  margin = std::max(requested_margin, 0);
  psf_width = psf->width;
  psf_height = psf->height;
  int w = padded(static_cast<long>(psf_width) + 2L * margin);
  int h = padded(static_cast<long>(psf_height) + 2L * margin);
  if (square) w = h = std::max(w, h);
  if (!power_of_two_in_range(w) || !power_of_two_in_range(h)) return psf_failed(FFT_ERR_SIZE);
  // An image registered for another size no longer fits the grid.
  if (source_image && (source_image->width != psf_width || source_image->height != psf_height))
    source_image = nullptr;
  psf_image = psf;
  psf_backend = 0;
  if (w != padded_width || h != padded_height) {
    free_complex_buffers();
    free_fftw();
    padded_width = w;
    padded_height = h;
  }
  x_offset = (w - psf_width) / 2;
  y_offset = (h - psf_height) / 2;
  error_code = FFT_OK;
  stopped = false;
  return true;
}

void FFTConvolver::free_complex_buffers() {
  for (int k = 0; k < 5; ++k) {
    if (complex_buffers[k]) mem_align_free(complex_buffers[k], true);
    complex_buffers[k] = nullptr;
    rows_pending[k] = false;
  }
  complex_sample_bytes = 0;
}

void FFTConvolver::free_fftw() {
  {
    std::lock_guard<std::mutex> hold(fftw_planner_lock());
    for (fftw_plan& plan : fftw_plans) {
      if (plan) fftw_destroy_plan(plan);
      plan = nullptr;
    }
  }
  for (void*& buffer : fftw_buffers) {
    if (buffer) fftw_free(buffer);
    buffer = nullptr;
  }
}

// Plans 0 (PSF forward), 1 (image forward) and 2 (image inverse) of the
// square FFTW grid. Measured planning overwrites the arrays, so plans are
// made before anything is inserted.
bool FFTConvolver::make_fftw_plan(int index) {
  if (fftw_plans[index]) return true;
  const int n = padded_width;
  std::lock_guard<std::mutex> hold(fftw_planner_lock());
  const unsigned flags = wisdom_wanted ? FFTW_MEASURE : FFTW_ESTIMATE;
  if (fftw_threads_ready) fftw_plan_with_nthreads(processor_count);
  if (wisdom_wanted && !wisdom_loaded) read_wisdom_locked();
  double* real = static_cast<double*>(fftw_buffers[index == 0 ? 0 : 2]);
  fftw_complex* spectrum = static_cast<fftw_complex*>(fftw_buffers[index == 0 ? 1 : 3]);
  fftw_plans[index] = index < 2 ? fftw_plan_dft_r2c_2d(n, n, real, spectrum, flags)
                                : fftw_plan_dft_c2r_2d(n, n, spectrum, real, flags);
  if (!fftw_plans[index]) {
    error_code = FFT_ERR_PLAN;
    return false;
  }
  if (wisdom_wanted) write_wisdom_locked();
  return true;
}

bool FFTConvolver::set_up_psf_by_mode(image_data* psf, int psf_margin) {
  switch (mode) {
    case MODE_POW2_DOUBLE: return set_PSF_2D_double(psf, psf_margin);
    case MODE_NONE: return false;
    case MODE_FFTW: return set_PSF_2D_fftw(psf, psf_margin);
    default: return set_PSF_2D_single(psf, psf_margin);
  }
}

bool FFTConvolver::set_PSF_2D(image_data* psf, int psf_margin) { return set_up_psf_by_mode(psf, psf_margin); }
bool FFTConvolver::set_PSF_2D_single(image_data* psf, int m) { return set_PSF_2D_complex<complex4>(psf, m); }
bool FFTConvolver::set_PSF_2D_double(image_data* psf, int m) { return set_PSF_2D_complex<complex8>(psf, m); }

template <typename C>
bool FFTConvolver::set_PSF_2D_complex(image_data* psf, int psf_margin) {
  if (!begin_psf_set_up(psf, psf_margin, false)) return false;
  const int w = padded_width, h = padded_height;
  if (complex_sample_bytes != sizeof(C)) free_complex_buffers();
  const size_t bytes = sizeof(C) * static_cast<size_t>(w) * h;
  for (int i = 0; i < 2; ++i)
    if (!complex_buffers[i] && !(complex_buffers[i] = alloc_zeroed_grid(bytes))) return psf_failed(FFT_ERR_MEMORY);
  complex_sample_bytes = sizeof(C);
  // The spectrum is made in the image grid and stored column by column,
  // the way the column pass reads it.
  C* grid = static_cast<C*>(complex_buffers[1]);
  rows_pending[1] = false;
  channel = 1;
  normalise = true;
  insert_image = psf;
  insert_edge_mode = 1;
  insert_component = -1;
  set_work_grid(grid, w, h);
  if (!run_stage(Stages<C>::insert, h)) return psf_failed(error_code);
  if (!centre_psf(grid, w, h)) return psf_failed(FFT_ERR_MISSING);
  // The spectrum is scaled by 1/(W H) once here, so convolutions need no
  // scaling pass.
  if (!run_stage(Stages<C>::rows[FORWARD], h) || !run_stage(Stages<C>::columns[FORWARD], w) ||
      !run_stage(Stages<C>::rows[SCALE], h) || !run_stage(Stages<C>::columns[SCALE], w) ||
      !run_stage(Stages<C>::store_psf_columns, w))
    return psf_failed(error_code);
  if (stopped) return psf_failed(FFT_ERR_MISSING);
  psf_backend = Stages<C>::backend;
  return true;
}

bool FFTConvolver::set_PSF_2D_fftw(image_data* psf, int psf_margin) {
  if (!begin_psf_set_up(psf, psf_margin, true)) return false;
  const int n = padded_width;
  const size_t cells = static_cast<size_t>(n) * n, half = static_cast<size_t>(n) * (n / 2 + 1);
  if (!fftw_buffers[0] && !(fftw_buffers[0] = alloc_zeroed_fftw(sizeof(double) * cells)))
    return psf_failed(FFT_ERR_MEMORY);
  if (!fftw_buffers[1] && !(fftw_buffers[1] = alloc_zeroed_fftw(sizeof(fftw_complex) * half)))
    return psf_failed(FFT_ERR_MEMORY);
  if (!make_fftw_plan(0)) return psf_failed(FFT_ERR_PLAN);
  double* grid = static_cast<double*>(fftw_buffers[0]);
  channel = 1;
  normalise = true;
  insert_image = psf;
  insert_edge_mode = 1;
  insert_component = -1;
  set_work_grid(grid, n, n);
  if (!run_stage(mp_insert_into_fftw, n)) return psf_failed(error_code);
  // Rows a stopped insert did not reach still hold the last PSF, centred.
  if (stopped || !centre_psf(grid, n, n)) return psf_failed(FFT_ERR_MISSING);
  fftw_execute_dft_r2c(fftw_plans[0], grid, static_cast<fftw_complex*>(fftw_buffers[1]));
  psf_backend = MODE_FFTW;
  return true;
}

bool FFTConvolver::set_image_2D(image_data* img) {
  if (img && img->width == psf_width && img->height == psf_height) {
    source_image = img;
    return true;
  }
  source_image = nullptr;
  error_code = FFT_ERR_IMAGE_SIZE;
  return false;
}

bool FFTConvolver::check_convolve(image_data* out, int backend) {
  if (!psf_image || !source_image || !source_image->pixels || psf_backend != backend) {
    error_code = FFT_ERR_MISSING;
    return false;
  }
  if (!check_output(out, source_image)) return false;
  error_code = FFT_OK;
  return true;
}

// A result goes into pixels of the source's size and sample type.
bool FFTConvolver::check_output(const image_data* out, const image_data* source) {
  if (out && out->pixels && out->width == source->width && out->height == source->height &&
      out->pixel_type == source->pixel_type)
    return true;
  error_code = FFT_ERR_OUTPUT;
  return false;
}

// Every margin row above the picture is the same as the one next to it, and
// so is every one below (zeros, neutral chroma or a repeated edge), so the
// power-of-two passes make and read the picture's rows and those two margin
// rows only.
int FFTConvolver::first_made_row() const { return std::max(y_offset - 1, 0); }
int FFTConvolver::made_rows() const { return std::min(y_offset + psf_height + 1, padded_height) - first_made_row(); }

// The plain and the luma-chroma convolution pick the back-end alike.
bool FFTConvolver::convolve_by_mode(image_data* out, int channel_mask, bool yc) {
  switch (mode) {
    case MODE_POW2_DOUBLE: return convolve_complex<complex8>(out, channel_mask, yc);
    case MODE_NONE: return false;
    case MODE_FFTW:
    case MODE_FFTW_MIXED: return convolve_fftw(out, channel_mask, yc);
    default: return convolve_complex<complex4>(out, channel_mask, yc);
  }
}

bool FFTConvolver::convolve_2D(image_data* out, int channel_mask) { return convolve_by_mode(out, channel_mask, false); }

bool FFTConvolver::convolve_2D_single(image_data* out, int mask) { return convolve_complex<complex4>(out, mask, false); }
bool FFTConvolver::convolve_2D_double(image_data* out, int mask) { return convolve_complex<complex8>(out, mask, false); }
bool FFTConvolver::convolve_2D_fftw(image_data* out, int mask) { return convolve_fftw(out, mask, false); }

// The selected channels (or luma-chroma components) go through the passes
// together, each in a grid of its own: the last channel in the image grid,
// the others in the stores; Y, C1 and C2 in the stores and alpha in the
// image grid. The picture's rows are left to be transformed back on the way
// out (by the extract, or by a save).
template <typename C>
bool FFTConvolver::convolve_complex(image_data* out, int mask, bool yc) {
  if (!(yc ? check_yc(out, mask, Stages<C>::backend) : check_convolve(out, Stages<C>::backend))) return false;
  const int w = padded_width, h = padded_height;
  const int channels = std::min<int>(std::min(source_image->channels, out->channels), 4);
  plane_count = 0;
  for (int c = 0; c < channels; ++c)
    if (mask & (1 << c)) planes[plane_count++] = {1 << c, yc ? c : -1, 0};
  if (plane_count == 0) return true;
  for (int p = 0; p < plane_count; ++p) {
    Plane& plane = planes[p];
    plane.slot = yc ? (plane.component == 3 ? 1 : 2 + plane.component) : (p == plane_count - 1 ? 1 : 2 + p);
    void*& grid = complex_buffers[plane.slot];
    if (!grid && !(grid = alloc_zeroed_grid(sizeof(C) * static_cast<size_t>(w) * h))) {
      error_code = FFT_ERR_MEMORY;
      return false;
    }
  }
  normalise = false;
  insert_image = source_image;
  insert_edge_mode = edge_mode;
  set_work_grid(complex_buffers[1], w, h);
  // Column chunks are whole blocks of the column pass.
  if (!run_claimed_stage(Stages<C>::insert_forward, made_rows(), rows_a_chunk(made_rows())) ||
      !run_claimed_stage(Stages<C>::convolve_columns, w, column_block<C>()))
    return false;
  for (int p = 0; p < plane_count; ++p) rows_pending[planes[p].slot] = true;
  output_image = out;
  const int height = source_image->height;
  if (!yc) return run_claimed_stage(Stages<C>::inverse_extract, height, rows_a_chunk(height));
  channel = mask;
  return run_stage(Stages<C>::extract_yc, out->height);
}

// A pass whose bands claim their lines: every fork counts its chunks from
// the first.
bool FFTConvolver::run_claimed_stage(mp_worker_fn worker, int count, int chunk) {
  line_chunks.reset(count, chunk);
  return run_stage(worker, count);
}

// Rows a band of a row pass claims at a time: some 64 chunks a pass, so
// that eight bands share out the last ones finely, while a claim costs next
// to nothing against its rows' transforms. (Chunks of 1/16 of the rows
// left the bands waiting on the last ones; 1/32 to 1/128 ran alike.)
int FFTConvolver::rows_a_chunk(int rows) { return std::max(rows / 64, 1); }

bool FFTConvolver::convolve_fftw(image_data* out, int mask, bool yc) {
  if (!(yc ? check_yc(out, mask, MODE_FFTW) : check_convolve(out, MODE_FFTW))) return false;
  if (!fftw_plans[0] || !fftw_buffers[1]) {
    error_code = FFT_ERR_MISSING;
    return false;
  }
  const int n = padded_width;
  const size_t cells = static_cast<size_t>(n) * n, half = static_cast<size_t>(n) * (n / 2 + 1);
  if ((!fftw_buffers[2] && !(fftw_buffers[2] = alloc_zeroed_fftw(sizeof(double) * cells))) ||
      (!fftw_buffers[3] && !(fftw_buffers[3] = alloc_zeroed_fftw(sizeof(fftw_complex) * half)))) {
    error_code = FFT_ERR_MEMORY;
    return false;
  }
  if (!make_fftw_plan(1) || !make_fftw_plan(2)) return false;
  const int channels = std::min<int>(std::min(source_image->channels, out->channels), 4);
  for (int c = 0; c < channels; ++c) {
    if (!(mask & (1 << c))) continue;
    channel = 1 << c;
    normalise = false;
    insert_image = source_image;
    insert_edge_mode = edge_mode;
    insert_component = yc ? c : -1;
    double* real = static_cast<double*>(fftw_buffers[2]);
    fftw_complex* spectrum = static_cast<fftw_complex*>(fftw_buffers[3]);
    set_work_grid(real, n, n);
    if (!run_stage(yc ? mp_insert_into_fftw_yc : mp_insert_into_fftw, n)) return false;
    fftw_execute_dft_r2c(fftw_plans[1], real, spectrum);
    if (!run_stage(mp_multiply_transforms_2D_fftw, n)) return false;
    fftw_execute_dft_c2r(fftw_plans[2], spectrum, real);
    if (yc) {
      if (c == 3) continue;
      void*& store = fftw_buffers[4 + c];
      if (!store && !(store = alloc_zeroed_fftw(sizeof(double) * cells))) {
        error_code = FFT_ERR_MEMORY;
        return false;
      }
      std::swap(store, fftw_buffers[2]);
      continue;
    }
    output_image = out;
    if (!run_stage(mp_extract_from_fftw, out->height)) return false;
  }
  if (!yc) return true;
  output_image = out;
  channel = mask;
  set_work_grid(fftw_buffers[2], n, n);
  return run_stage(mp_extract_from_fftw_yc, out->height);
}

namespace {

// Copies a grid into *dst, allocating it when it is null; false (and *dst
// null) when that allocation fails.
bool save_grid(const void* grid, size_t bytes, void** dst, bool fftw) {
  if (!*dst) *dst = fftw ? fftw_malloc(bytes) : mem_align_alloc(static_cast<unsigned>(bytes), -1, true);
  if (!*dst) return false;
  memcpy(*dst, grid, bytes);
  return true;
}

}  // namespace

bool FFTConvolver::save_complex_data_single(void** dst) {
  return save_image_grid(dst, sizeof(complex4), false);
}

bool FFTConvolver::save_complex_data_double(void** dst) {
  return save_image_grid(dst, sizeof(complex8), false);
}

bool FFTConvolver::save_fftw_data(double** dst) {
  void* block = *dst;
  const bool ok = save_image_grid(&block, sizeof(double), true);
  *dst = static_cast<double*>(block);
  return ok;
}

// Without an image grid of that sample size there is nothing to copy.
bool FFTConvolver::save_image_grid(void** dst, size_t sample, bool fftw) {
  const void* grid = fftw ? fftw_buffers[2] : complex_buffers[1];
  if (!dst || !grid || (!fftw && complex_sample_bytes != sample)) {
    error_code = FFT_ERR_MISSING;
    return false;
  }
  const size_t bytes = sample * static_cast<size_t>(padded_width) * padded_height;
  if (!fftw && bytes > 0xffffffffu) return false;
  // The copy's picture rows get the inverse row transforms a convolution
  // left pending, each in an aligned row as the extract does them: the
  // plans, and so the bits, do not depend on where the copy lies.
  const bool pending = !fftw && rows_pending[1];
  void* row = pending ? mem_align_alloc(static_cast<unsigned>(sample) * padded_width, -1, false) : nullptr;
  if (pending && !row) {
    error_code = FFT_ERR_MEMORY;
    return false;
  }
  if (!save_grid(grid, bytes, dst, fftw)) {
    mem_align_free(row, false);
    *dst = nullptr;
    error_code = FFT_ERR_MEMORY;
    return false;
  }
  if (!pending) return true;
  if (sample == sizeof(complex4))
    transform_back_rows(static_cast<complex4*>(*dst), static_cast<complex4*>(row), fftc4_un);
  else
    transform_back_rows(static_cast<complex8*>(*dst), static_cast<complex8*>(row), fftc8_un);
  mem_align_free(row, false);
  return true;
}

template <typename C>
void FFTConvolver::transform_back_rows(C* grid, C* row, bool (*inverse)(C*, int)) {
  const size_t bytes = sizeof(C) * padded_width;
  for (int r = 0; r < psf_height; ++r) {
    C* line = grid + static_cast<ptrdiff_t>(y_offset + r) * padded_width;
    memcpy(row, line, bytes);
    inverse(row, padded_width);
    memcpy(line, row, bytes);
  }
}

// The luma-chroma entry points (fft_pipeline_yc.cpp) run the same passes.
template bool FFTConvolver::convolve_complex<complex4>(image_data*, int, bool);
template bool FFTConvolver::convolve_complex<complex8>(image_data*, int, bool);
