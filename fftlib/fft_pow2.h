#ifndef FFT_POW2_H
#define FFT_POW2_H

// In-place FFTs of power-of-two sizes 2 to 8192. Spectra are in natural
// order: index k holds frequency k (fftfreq_ctable), so forward, pointwise
// multiply and inverse give a circular convolution in natural sample order.
// Forward transforms use exp(-2*pi*i*j*k/n); the inverses are unscaled, so a
// forward then an inverse multiplies by n, and *_scale multiplies by 1/n.
// Any other size leaves the data alone and returns false.

struct complex4 {
  float re;
  float im;
};

struct complex8 {
  double re;
  double im;
};

bool fft_pow2_size_ok(int n);

bool fftc4(complex4* a, int n);
bool fftc4_un(complex4* a, int n);
bool fftc4_scale(complex4* a, int n);
bool fftc4_mul(complex4* a, const complex4* b, int n);

bool fftc8(complex8* a, int n);
bool fftc8_un(complex8* a, int n);
bool fftc8_scale(complex8* a, int n);
bool fftc8_mul(complex8* a, const complex8* b, int n);

// Real transforms keep the spectrum of n real samples in the n floats:
// a[0] = X[0], a[1] = X[n/2] (both real), then a[2k], a[2k+1] = re, im of
// X[k] for k = 1 .. n/2 - 1.
bool fftr4(float* a, int n);
bool fftr4_un(float* a, int n);
bool fftr4_scale(float* a, int n);
bool fftr4_mul(float* a, const float* b, int n);

// table[k] = the frequency carried by spectrum index k, 0 .. n-1.
void fftfreq_ctable(int* table, int n);

#endif
