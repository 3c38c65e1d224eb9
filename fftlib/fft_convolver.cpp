#include "fft_convolver.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <fftw3.h>

#include <mutex>

#include "fftw_threads.h"
#include "q4_files.h"
#include "q4_memory.h"
#include "q4_sysinfo.h"

namespace {

const char* const kWisdomFile = "fftw3_wisdom_q4.dat";

// False when the settings folder has no name (its path would not fit) or the
// file's name would be cut: a cut name would be another file.
bool wisdom_path(char* out, size_t size) {
  const char* settings = get_standard_directory(Q4_DIR_SETTINGS);
  if (!settings) return false;
  const int n = snprintf(out, size, "%s%s%s", settings, "/", kWisdomFile);
  return n >= 0 && static_cast<size_t>(n) < size;
}

}  // namespace

FFTConvolver::FFTConvolver() { initialize(MODE_FFTW); }

FFTConvolver::FFTConvolver(int mode) { initialize(mode); }

FFTConvolver::~FFTConvolver() {
  if (wisdom_wanted) write_fftw_wisdom();
  release();
}

// Gives back what the object holds, leaving it as before initialize.
void FFTConvolver::release() {
  free_complex_buffers();
  if (filter_1d) mem_align_free(filter_1d, false);
  filter_1d = nullptr;
  filter_1d_length = -1;
  image_data_delete(intermediate_1d);
  intermediate_1d = nullptr;
  image_data_delete(standard_psf);
  standard_psf = nullptr;
  if (frequency_table) q4_free(frequency_table, __FILE__, __LINE__);
  frequency_table = nullptr;
  frequency_table_length = 0;
  free_fftw();
  if (holds_fftw_threads) fftw_threads_release();
  holds_fftw_threads = false;
}

void FFTConvolver::initialize(int new_mode) {
  release();
  work_grid = nullptr;
  band_width = band_height = 0;
  edge_mode = 2;
  exec_context = nullptr;
  executor = nullptr;
  abort_test = nullptr;
  x_aspect = y_aspect = 1.0f;
  wisdom_loaded = 0;
  wisdom_wanted = getenv("Q4_USE_FFTW_WISDOM") != nullptr;
  // Mode 5 would set a PSF up in single precision and convolve through FFTW,
  // which has no PSF then: it is the FFTW mode.
  mode = new_mode == MODE_FFTW_MIXED ? MODE_FFTW : new_mode;
  psf_image = source_image = nullptr;
  psf_backend = 0;
  psf_width = psf_height = padded_width = padded_height = -1;
  x_offset = y_offset = margin = -1;
  yc_stretch = 0.0f;
  yc_emph_alpha = false;
  gamma_stretch = 1.0f;
  gamma_active = false;
  source_1d = nullptr;
  width_1d = height_1d = -1;
  fftw_threads_ready = fftw_threads_acquire();
  holds_fftw_threads = true;
  processor_count = q4mp_get_raw_cpu_count();
  error_code = fftw_threads_ready ? FFT_OK : FFT_ERR_THREADS;
}

bool FFTConvolver::set_mp_exec(void* context, mp_exec_fn exec) {
  exec_context = context;
  executor = exec;
  return true;
}

bool FFTConvolver::set_abort_test(void*, abort_test_fn test) {
  abort_test = test;
  return true;
}

void FFTConvolver::mp_exec(mp_worker_fn worker, int count) {
  if (count < 1) return;
  if (executor && exec_context)
    executor(exec_context, worker, count, this);
  else
    worker(this, 0, count - 1);
}

bool FFTConvolver::set_edge_mode(int new_mode) {
  if (new_mode < 1 || new_mode > 2) {
    error_code = FFT_ERR_EDGE_MODE;
    return false;
  }
  edge_mode = new_mode;
  return true;
}

// The PSF generators divide by them: a ratio that is not finite draws no
// shape.
bool FFTConvolver::set_aspect_ratios(float x, float y) {
  if (!std::isfinite(x) || !std::isfinite(y)) return false;
  x_aspect = x;
  y_aspect = y;
  return true;
}

bool FFTConvolver::read_fftw_wisdom() {
  std::lock_guard<std::mutex> hold(fftw_planner_lock());
  return read_wisdom_locked();
}

bool FFTConvolver::write_fftw_wisdom() {
  std::lock_guard<std::mutex> hold(fftw_planner_lock());
  return write_wisdom_locked();
}

bool FFTConvolver::read_wisdom_locked() {
  wisdom_loaded = 0;
  char path[4096];
  if (!wisdom_path(path, sizeof path)) return false;
  FILE* file = fopen(path, "r");
  if (!file) return false;
  wisdom_loaded = fftw_import_wisdom_from_file(file) != 0;
  fclose(file);
  return wisdom_loaded != 0;
}

bool FFTConvolver::write_wisdom_locked() {
  char path[4096];
  if (!wisdom_path(path, sizeof path)) return false;
  FILE* file = fopen(path, "w+");
  if (!file) return false;
  fftw_export_wisdom_to_file(file);
  return fclose(file) == 0;
}
