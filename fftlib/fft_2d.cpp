#include <cstddef>

#include "fft_column_pass.h"
#include "fft_convolver.h"
#include "fft_columns.h"
#include "fftw_plan_cache.h"
#include "q4_memory.h"

// Separable 2-D transforms: every row in bands, then every column in bands.
//
// A real field has a conjugate-symmetric spectrum, X[N-r][N-c] = conj X[r][c],
// so without an abort test the square service transforms half of it. The
// forward path takes the real columns to half spectra (rows 0 .. N/2 of the
// grid), transforms those rows, and writes each other row as the mirror
// image of one of them: every pass but the first runs along contiguous rows.
// The inverse takes the symmetric part of the first N/2 + 1 columns of its
// spectrum, whose transform is exactly the real part it returns, and the
// rows back to real. An abort test defines what a stopped transform leaves
// behind row by row and column by column of the full complex grid, so with
// one installed every row and column is transformed as a complex sequence.

void FFTConvolver::set_work_grid(void* grid, int width, int height) {
  work_grid = grid;
  band_width = width;
  band_height = height;
}

// The column blocks of the inverse real path: the first N/2 + 1 columns of
// an N x N grid, gathered block by block into a per-band buffer.
struct FFTConvolver::ColumnBlocks {
  FFTConvolver* self;
  int n;
  complex4* buffer;
  ColumnBlocks(void* object, int block) : self(static_cast<FFTConvolver*>(object)), n(self->band_width) {
    buffer = static_cast<complex4*>(mem_align_alloc(static_cast<unsigned>(sizeof(complex4)) * n * block, -1, false));
    if (!buffer) self->error_code = FFT_ERR_MEMORY;
  }
  ~ColumnBlocks() {
    if (buffer) mem_align_free(buffer, false);
  }
  bool transform(int count) {
    for (int b = 0; b < count; ++b)
      if (!fftc4_un(buffer + b * n, n)) {
        self->error_code = FFT_ERR_MEMORY;
        return false;
      }
    return true;
  }

  // The symmetric part (S[i][c] + conj S[n-i][n-c]) / 2 of each column;
  // columns above n/2 are only read, and only by the band of their mirror.
  bool inverse_columns(int c, int k) {
    complex4* grid = static_cast<complex4*>(self->work_grid);
    gather_columns(grid, n, n, c, k, buffer, n);
    add_mirrored_columns(grid, n, n, c, k, buffer);
    if (!transform(k)) return false;
    scatter_columns(grid, n, n, c, k, buffer, n);
    return true;
  }

  // The pass above over the band's columns first..last, a block at a time
  // (narrow bands need no more room than their own columns).
  static void run(void* object, int first, int last) {
    if (last < first) return;
    const int block = last - first + 1 < column_block<complex4>() ? last - first + 1 : column_block<complex4>();
    ColumnBlocks blocks(object, block);
    for (int c = first; blocks.buffer && c <= last; c += block)
      if (!blocks.inverse_columns(c, last - c + 1 < block ? last - c + 1 : block)) return;
  }
};

// Forward: rows 0 .. N/2 of half spectra to spectra in place, each row r
// between them mirrored into row N - r (rows 0 and N/2 are their own
// mirrors). Inverse: half-spectrum rows of the work grid back to the real
// field, on one plan looked up for the band: rows lie a whole row apart, so
// the first two decide the alignment of all.
template <bool Forward>
void FFTConvolver::real_rows(void* object, int first, int last) {
  FFTConvolver* self = static_cast<FFTConvolver*>(object);
  const int n = self->band_width;
  complex4* grid = static_cast<complex4*>(self->work_grid);
  if (Forward) {
    // From 2 MB grids on, the mirrored half is written past the caches.
    const bool stream = n >= 512;
    for (int r = first; r <= last; ++r) {
      complex4* row = grid + static_cast<ptrdiff_t>(r) * n;
      if (!fftc4(row, n)) {
        self->error_code = FFT_ERR_MEMORY;
        return;
      }
      if (r > 0 && r < n / 2) mirror_row(row, grid + static_cast<ptrdiff_t>(n - r) * n, n, stream);
    }
    return;
  }
  float* real = self->real_field;
  const bool aligned = fft_plan_aligned(grid, grid + n) && fft_plan_aligned(real, real + n);
  fftwf_plan plan = fft_cached_plan_single(FFT_PLAN_C2R, n, aligned);
  if (!plan) {
    self->error_code = FFT_ERR_MEMORY;
    return;
  }
  for (int r = first; r <= last; ++r)
    fftwf_execute_dft_c2r(plan, reinterpret_cast<fftwf_complex*>(grid + static_cast<ptrdiff_t>(r) * n),
                          real + static_cast<ptrdiff_t>(r) * n);
}

void FFTConvolver::mp_forward_real_rows(void* object, int first, int last) { real_rows<true>(object, first, last); }

// The band's columns of the real field, a block at a time: gathered into
// lines, each line to its half spectrum (N/2 + 1 values, kept in lines
// rounded up to 64 bytes), scattered into rows 0 .. N/2 of the work grid.
void FFTConvolver::mp_forward_real_columns(void* object, int first, int last) {
  FFTConvolver* self = static_cast<FFTConvolver*>(object);
  if (last < first) return;
  // Narrow bands need no more room than their own columns.
  const int n = self->band_width, half = n / 2 + 1, line = (half + 7) & ~7;
  const int block = last - first + 1 < column_block<float>() ? last - first + 1 : column_block<float>();
  // Gathered lines lie 64 bytes more than a power of two apart: lines a
  // power of two apart would all fall into the same few cache sets, and the
  // transposing stores that fill them would go out to L2 one by one.
  const int stride = n + 16;
  // The half spectra start on a 64-byte boundary whatever the block, so
  // every band takes the same plan (the aligned one from N = 4 on).
  const int floats = stride * block;
  float* lines = static_cast<float*>(mem_align_alloc(
      static_cast<unsigned>(sizeof(float) * floats + sizeof(complex4) * line * block), -1, false));
  if (!lines) {
    self->error_code = FFT_ERR_MEMORY;
    return;
  }
  complex4* halves = reinterpret_cast<complex4*>(lines + floats);
  fftwf_plan plan = fft_cached_plan_single(FFT_PLAN_R2C, n, fft_plan_aligned(lines + stride, halves + line));
  if (!plan) self->error_code = FFT_ERR_MEMORY;
  complex4* grid = static_cast<complex4*>(self->work_grid);
  for (int c = first; plan && c <= last; c += block) {
    const int count = last - c + 1 < block ? last - c + 1 : block;
    gather_columns<float>(self->real_field, n, n, c, count, lines, stride);
    for (int b = 0; b < count; ++b)
      fftwf_execute_dft_r2c(plan, lines + b * stride, reinterpret_cast<fftwf_complex*>(halves + b * line));
    scatter_columns(grid, n, half, c, count, halves, line);
  }
  mem_align_free(lines, false);
}

void FFTConvolver::mp_inverse_real_columns(void* object, int first, int last) { ColumnBlocks::run(object, first, last); }

void FFTConvolver::mp_inverse_real_rows(void* object, int first, int last) { real_rows<false>(object, first, last); }

template <typename C, bool (*Op)(C*, int)>
void FFTConvolver::rows(void* object, int first, int last) {
  FFTConvolver* self = static_cast<FFTConvolver*>(object);
  const int w = self->band_width;
  if (!fft_pow2_size_ok(w)) return;
  C* grid = static_cast<C*>(self->work_grid);
  for (int r = first; r <= last; ++r) {
    if (self->aborted()) return;
    Op(grid + static_cast<ptrdiff_t>(r) * w, w);
  }
}

template <typename C, bool (*Op)(C*, int)>
void FFTConvolver::columns(void* object, int first, int last) {
  if (!fft_pow2_size_ok(static_cast<FFTConvolver*>(object)->band_height)) return;
  column_pass<C>(object, first, last, [](C* column, int h) { Op(column, h); });
}

void FFTConvolver::mp_forward_fft_2D_rows_single(void* o, int f, int l) { rows<complex4, fftc4>(o, f, l); }
void FFTConvolver::mp_inverse_fft_2D_rows_single(void* o, int f, int l) { rows<complex4, fftc4_un>(o, f, l); }
void FFTConvolver::mp_scale_fft_2D_rows_single(void* o, int f, int l) { rows<complex4, fftc4_scale>(o, f, l); }
void FFTConvolver::mp_forward_fft_2D_columns_single(void* o, int f, int l) { columns<complex4, fftc4>(o, f, l); }
void FFTConvolver::mp_inverse_fft_2D_columns_single(void* o, int f, int l) { columns<complex4, fftc4_un>(o, f, l); }
void FFTConvolver::mp_scale_fft_2D_columns_single(void* o, int f, int l) { columns<complex4, fftc4_scale>(o, f, l); }
void FFTConvolver::mp_forward_fft_2D_rows_double(void* o, int f, int l) { rows<complex8, fftc8>(o, f, l); }
void FFTConvolver::mp_inverse_fft_2D_rows_double(void* o, int f, int l) { rows<complex8, fftc8_un>(o, f, l); }
void FFTConvolver::mp_scale_fft_2D_rows_double(void* o, int f, int l) { rows<complex8, fftc8_scale>(o, f, l); }
void FFTConvolver::mp_forward_fft_2D_columns_double(void* o, int f, int l) { columns<complex8, fftc8>(o, f, l); }
void FFTConvolver::mp_inverse_fft_2D_columns_double(void* o, int f, int l) { columns<complex8, fftc8_un>(o, f, l); }
void FFTConvolver::mp_scale_fft_2D_columns_double(void* o, int f, int l) { columns<complex8, fftc8_scale>(o, f, l); }

bool FFTConvolver::fft_check_dimension(int n, int* k) {
  for (int bits = 1; bits <= 13; ++bits) {
    if (n == 1 << bits) {
      if (k) *k = bits;
      return true;
    }
  }
  error_code = FFT_ERR_SIZE;
  return false;
}

bool FFTConvolver::run_stage(mp_worker_fn worker, int count) {
  mp_exec(worker, count);
  return error_code == FFT_OK;
}

bool FFTConvolver::ensure_frequency_table(int n) {
  if (frequency_table && frequency_table_length != n) {
    q4_free(frequency_table, __FILE__, __LINE__);
    frequency_table = nullptr;
  }
  if (frequency_table) return true;
  frequency_table = static_cast<int*>(q4_malloc(static_cast<unsigned>(sizeof(int)) * n, __FILE__, __LINE__));
  if (!frequency_table) return false;
  frequency_table_length = n;
  fftfreq_ctable(frequency_table, n);
  for (int k = 0; k < n; ++k)
    if (frequency_table[k] >= n / 2) frequency_table[k] -= n;
  return true;
}

bool FFTConvolver::forward_fft_2D_r4_to_c4(int N, const float* in, complex4* out) {
  if (!fft_check_dimension(N, nullptr)) return false;
  if (!in || !out) {
    error_code = FFT_ERR_MISSING;
    return false;
  }
  error_code = FFT_OK;
  if (!ensure_frequency_table(N)) return false;
  set_work_grid(out, N, N);
  if (!abort_test) {
    // The real transform reads the field and keeps it (FFTW's r2c does).
    real_field = const_cast<float*>(in);
    return run_stage(mp_forward_real_columns, N) && run_stage(mp_forward_real_rows, N / 2 + 1);
  }
  const ptrdiff_t cells = static_cast<ptrdiff_t>(N) * N;
  for (ptrdiff_t k = 0; k < cells; ++k) out[k] = {in[k], 0.0f};
  return run_stage(mp_forward_fft_2D_rows_single, N) && run_stage(mp_forward_fft_2D_columns_single, N);
}

bool FFTConvolver::inverse_fft_2D_c4_to_r4(int N, complex4* spec, float* out) {
  if (!fft_check_dimension(N, nullptr)) return false;
  if (!spec || !out) {
    error_code = FFT_ERR_MISSING;
    return false;
  }
  error_code = FFT_OK;
  set_work_grid(spec, N, N);
  if (!abort_test) {
    real_field = out;
    return run_stage(mp_inverse_real_columns, N / 2 + 1) && run_stage(mp_inverse_real_rows, N);
  }
  if (!run_stage(mp_inverse_fft_2D_rows_single, N) || !run_stage(mp_inverse_fft_2D_columns_single, N)) return false;
  const ptrdiff_t cells = static_cast<ptrdiff_t>(N) * N;
  for (ptrdiff_t k = 0; k < cells; ++k) out[k] = spec[k].re;
  return true;
}

bool FFTConvolver::fft_2D_frequency(int i, int j, float& fi, float& fj) {
  if (!frequency_table || i < 0 || j < 0 || i >= frequency_table_length || j >= frequency_table_length)
    return false;
  fi = static_cast<float>(frequency_table[i]);
  fj = static_cast<float>(frequency_table[j]);
  return true;
}
