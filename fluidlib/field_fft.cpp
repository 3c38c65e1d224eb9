#include "fft_convolver.h"
#include "q4_memory.h"
#include "scalar_field.h"
#include "vector_field.h"

// Transforms of the FFT layout through the FFT service. The service
// transforms square N x N blocks, so a field of another shape is refused:
// an nx x ny field transformed as nx x nx would be read and written past
// its end.

namespace {

bool transformable(FFTConvolver* conv, int method, int nx, int ny) {
  return method == FIELD_FFT && conv && nx == ny && conv->fft_check_dimension(nx, nullptr);
}

// A spectrum block for an n x n field, kept when it already has that size.
bool ensure_spectrum(complex4*& block, int width, int height, int n) {
  if (block && width == n && height == n) return true;
  mem_align_free(block, true);
  block = static_cast<complex4*>(
      mem_align_alloc(static_cast<unsigned>(sizeof(complex4)) * static_cast<unsigned>(n * n), 8, true));
  return block != nullptr;
}

void hand_hooks(FFTConvolver* conv, void* context, mp_exec_fn executor, abort_test_fn test) {
  if (context && executor) conv->set_mp_exec(context, executor);
  if (context && test) conv->set_abort_test(context, test);
}

// The service's inverse is unnormalised.
bool inverse_scaled(FFTConvolver* conv, int n, complex4* spectrum, float* out) {
  if (!conv->inverse_fft_2D_c4_to_r4(n, spectrum, out)) return false;
  const float scale = 1.0f / static_cast<float>(n * n);
  for (int k = 0; k < n * n; ++k) out[k] *= scale;
  return true;
}

}  // namespace

bool ScalarField::forward_FFT(FFTConvolver* conv) {
  if (!data || !transformable(conv, method, nx, ny)) return false;
  if (!ensure_spectrum(spectrum, spectrum_width, spectrum_height, nx)) {
    spectrum_width = spectrum_height = -1;
    return false;
  }
  spectrum_width = nx;
  spectrum_height = ny;
  hand_hooks(conv, hook_context, executor, abort_test);
  return conv->forward_fft_2D_r4_to_c4(nx, data, spectrum);
}

bool ScalarField::inverse_FFT(FFTConvolver* conv) {
  // The spectrum is only ever made for this field's own size.
  if (!data || !spectrum || spectrum_width != nx || spectrum_height != ny ||
      !transformable(conv, method, nx, ny))
    return false;
  hand_hooks(conv, hook_context, executor, abort_test);
  return inverse_scaled(conv, nx, spectrum, data);
}

bool VectorField::forward_FFT(FFTConvolver* conv) {
  if (!has_storage() || !transformable(conv, method, nx, ny)) return false;
  if (!ensure_spectrum(u_spectrum, spectrum_width, spectrum_height, nx) ||
      !ensure_spectrum(v_spectrum, spectrum_width, spectrum_height, nx)) {
    spectrum_width = spectrum_height = -1;
    return false;
  }
  spectrum_width = nx;
  spectrum_height = ny;
  hand_hooks(conv, hook_context, executor, abort_test);
  return conv->forward_fft_2D_r4_to_c4(nx, u, u_spectrum) && conv->forward_fft_2D_r4_to_c4(nx, v, v_spectrum);
}

bool VectorField::inverse_FFT(FFTConvolver* conv) {
  if (!has_storage() || !u_spectrum || !v_spectrum || spectrum_width != nx || spectrum_height != ny ||
      !transformable(conv, method, nx, ny))
    return false;
  hand_hooks(conv, hook_context, executor, abort_test);
  return inverse_scaled(conv, nx, u_spectrum, u) && inverse_scaled(conv, nx, v_spectrum, v);
}
