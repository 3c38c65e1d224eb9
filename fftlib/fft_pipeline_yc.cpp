#include <algorithm>
#include <cmath>

#include "fft_convolver.h"

// Luma-chroma convolution: the 2-D pipeline run on Y, C1 and C2 (and alpha)
// instead of R, G and B; the stores, transforms and workers are the
// pipeline's (fft_pipeline.cpp, fft_pipeline_bands.cpp).
//
// Settings that are not finite are refused: NaN passes the clamps (it
// compares false) and would make every output 0.

bool FFTConvolver::set_convolve_2D_YC_stretch(float s) {
  if (!std::isfinite(s)) return false;
  yc_stretch = std::min(std::max(s, 0.0f), 500.0f);
  return true;
}

bool FFTConvolver::set_convolve_2D_YC_emph_alpha(int on) {
  yc_emph_alpha = on != 0;
  return true;
}

bool FFTConvolver::set_convolve_2D_gamma_stretch(float gamma) {
  if (!std::isfinite(gamma)) return false;
  gamma_stretch = std::min(std::max(gamma, 0.2f), 5.0f);
  gamma_active = gamma_stretch != 1.0f;
  return true;
}

bool FFTConvolver::check_yc(image_data* out, int channel_mask, int backend) {
  if (!check_convolve(out, backend)) return false;
  if (out->pixel_type == IMAGE_PIXEL_FLOAT) {
    error_code = FFT_ERR_FLOAT;
    return false;
  }
  if (std::min(out->channels, source_image->channels) < 3 || (channel_mask & 7) != 7) {
    error_code = FFT_ERR_CHANNELS;
    return false;
  }
  return true;
}

bool FFTConvolver::convolve_2D_YC(image_data* out, int channel_mask) { return convolve_by_mode(out, channel_mask, true); }

bool FFTConvolver::convolve_2D_YC_single(image_data* out, int mask) { return convolve_complex<complex4>(out, mask, true); }
bool FFTConvolver::convolve_2D_YC_double(image_data* out, int mask) { return convolve_complex<complex8>(out, mask, true); }
bool FFTConvolver::convolve_2D_YC_fftw(image_data* out, int mask) { return convolve_fftw(out, mask, true); }
