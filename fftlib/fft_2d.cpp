#include <cstddef>

#include "fft_convolver.h"
#include "q4_memory.h"

// Separable 2-D transforms: every row in bands, then every column in bands.

namespace {

// Columns gathered together so that each grid row is read a cache line at
// a time.
template <typename C>
constexpr int column_block() {
  return 64 / static_cast<int>(sizeof(C));
}

}  // namespace

void FFTConvolver::set_work_grid(void* grid, int width, int height) {
  work_grid = grid;
  band_width = width;
  band_height = height;
}

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
  FFTConvolver* self = static_cast<FFTConvolver*>(object);
  const int w = self->band_width, h = self->band_height;
  if (!fft_pow2_size_ok(h)) return;
  const int block = column_block<C>();
  C* buffer = static_cast<C*>(mem_align_alloc(static_cast<unsigned>(sizeof(C)) * h * block, -1, false));
  if (!buffer) {
    self->error_code = FFT_ERR_MEMORY;
    return;
  }
  C* grid = static_cast<C*>(self->work_grid);
  for (int c = first; c <= last; c += block) {
    const int count = last - c + 1 < block ? last - c + 1 : block;
    // Each column is asked about once; the first stop answer ends the band.
    int ready = 0;
    while (ready < count && !self->aborted()) ++ready;
    for (int i = 0; i < h; ++i) {
      const C* row = grid + static_cast<ptrdiff_t>(i) * w + c;
      for (int b = 0; b < ready; ++b) buffer[b * h + i] = row[b];
    }
    for (int b = 0; b < ready; ++b) Op(buffer + b * h, h);
    for (int i = 0; i < h; ++i) {
      C* row = grid + static_cast<ptrdiff_t>(i) * w + c;
      for (int b = 0; b < ready; ++b) row[b] = buffer[b * h + i];
    }
    if (ready < count) break;
  }
  mem_align_free(buffer, false);
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
  const ptrdiff_t cells = static_cast<ptrdiff_t>(N) * N;
  for (ptrdiff_t k = 0; k < cells; ++k) out[k] = {in[k], 0.0f};
  set_work_grid(out, N, N);
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
