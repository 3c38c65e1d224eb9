#ifndef PREVIOUS_POW2_H
#define PREVIOUS_POW2_H

// A power-of-two layer of its own (radix-2 decimation in time with its own
// twiddle tables), independent of FFTW: the reference that the FFTW-based
// layer must reproduce within single-precision rounding.

#include <cmath>

#include "fft_pow2.h"

namespace previous_pow2 {

const int kMaxSize = 8192;
// Twiddles of every size m = 2 .. kMaxSize side by side: exp(-2 pi i k / m)
// for k < m/2 at index m/2 - 1 + k, so every stage reads its own contiguous run.
const int kTableLength = kMaxSize - 1;

struct Twiddles {
  complex4 single[kTableLength];
  complex8 twin[kTableLength];
  Twiddles() {
    const double two_pi = 6.283185307179586476925286766559;
    for (int m = 2; m <= kMaxSize; m <<= 1) {
      for (int k = 0; k < m / 2; ++k) {
        const double a = -two_pi * k / m;
        complex8& t = twin[m / 2 - 1 + k];
        t.re = std::cos(a);
        t.im = std::sin(a);
        single[m / 2 - 1 + k] = {static_cast<float>(t.re), static_cast<float>(t.im)};
      }
    }
  }
};

// Built once on first use; the initialisation of a local static is safe
// when several band workers arrive at once.
inline const Twiddles& twiddles() {
  static const Twiddles table;
  return table;
}

inline const complex4* table_for(int m, const complex4*) { return twiddles().single + m / 2 - 1; }
inline const complex8* table_for(int m, const complex8*) { return twiddles().twin + m / 2 - 1; }

template <typename C>
void bit_reverse(C* a, int n) {
  for (int i = 1, j = 0; i < n; ++i) {
    int bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) {
      const C t = a[i];
      a[i] = a[j];
      a[j] = t;
    }
  }
}

// Radix-2 decimation in time, two stages fused per pass so the data are
// swept half as often; the inverse runs on conjugate twiddles.
template <bool Inverse, typename C>
void transform(C* a, int n) {
  typedef decltype(a->re) R;
  bit_reverse(a, n);
  int q = 1;
  if ((__builtin_ctz(static_cast<unsigned>(n)) & 1) != 0) {
    for (int i = 0; i < n; i += 2) {
      const C u = a[i], v = a[i + 1];
      a[i] = {u.re + v.re, u.im + v.im};
      a[i + 1] = {u.re - v.re, u.im - v.im};
    }
    q = 2;
  }
  // Sub-transforms of length q at x0..x3 become one of length 4q: first
  // (x0,x1) and (x2,x3) with the twiddles of 2q, then (x0,x2) and (x1,x3)
  // with those of 4q, where w^(k+q) = -i w^k (+i for the inverse).
  for (; q < n; q *= 4) {
    const C* t2 = table_for(2 * q, a);
    const C* t4 = table_for(4 * q, a);
    for (int i = 0; i < n; i += 4 * q) {
      C* x0 = a + i;
      C* x1 = x0 + q;
      C* x2 = x1 + q;
      C* x3 = x2 + q;
      for (int k = 0; k < q; ++k) {
        const R ar = t2[k].re, ai = Inverse ? -t2[k].im : t2[k].im;
        const R br = t4[k].re, bi = Inverse ? -t4[k].im : t4[k].im;
        const R u1r = x1[k].re * ar - x1[k].im * ai, u1i = x1[k].re * ai + x1[k].im * ar;
        const R u3r = x3[k].re * ar - x3[k].im * ai, u3i = x3[k].re * ai + x3[k].im * ar;
        const R b0r = x0[k].re + u1r, b0i = x0[k].im + u1i;
        const R b1r = x0[k].re - u1r, b1i = x0[k].im - u1i;
        const R b2r = x2[k].re + u3r, b2i = x2[k].im + u3i;
        const R b3r = x2[k].re - u3r, b3i = x2[k].im - u3i;
        const R v2r = b2r * br - b2i * bi, v2i = b2r * bi + b2i * br;
        R v3r = b3r * br - b3i * bi, v3i = b3r * bi + b3i * br;
        // times -i (forward) or +i (inverse)
        const R tr = Inverse ? -v3i : v3i;
        v3i = Inverse ? v3r : -v3r;
        v3r = tr;
        x0[k] = {b0r + v2r, b0i + v2i};
        x2[k] = {b0r - v2r, b0i - v2i};
        x1[k] = {b1r + v3r, b1i + v3i};
        x3[k] = {b1r - v3r, b1i - v3i};
      }
    }
  }
}

// Real data of n samples viewed as n/2 complex pairs (even, odd). The
// spectra of the even and odd samples are untangled from the half-size
// transform with the twiddles of size n.
inline void real_forward_untangle(complex4* z, int n) {
  const int m = n / 2;
  const complex4* w = table_for(n, z);
  const float z0r = z[0].re, z0i = z[0].im;
  z[0] = {z0r + z0i, z0r - z0i};
  for (int k = 1; k <= m / 2; ++k) {
    const int j = m - k;
    const complex4 zk = z[k], zj = z[j];
    // E = (Zk + conj Zj) / 2, O = (Zk - conj Zj) / 2i for index k; the
    // partner j uses the conjugate-symmetric combination.
    const float er = 0.5f * (zk.re + zj.re), ei = 0.5f * (zk.im - zj.im);
    const float or_ = 0.5f * (zk.im + zj.im), oi = -0.5f * (zk.re - zj.re);
    const float tr = w[k].re * or_ - w[k].im * oi;
    const float ti = w[k].re * oi + w[k].im * or_;
    z[k] = {er + tr, ei + ti};
    z[j] = {er - tr, -(ei - ti)};
  }
}

inline void real_inverse_tangle(complex4* z, int n) {
  const int m = n / 2;
  const complex4* w = table_for(n, z);
  const float x0 = z[0].re, xm = z[0].im;
  z[0] = {x0 + xm, x0 - xm};
  for (int k = 1; k <= m / 2; ++k) {
    const int j = m - k;
    const complex4 xk = z[k], xj = z[j];
    // Z'k = (Xk + conj Xj) + i conj(w^k) (Xk - conj Xj); Z'j likewise.
    const float er = xk.re + xj.re, ei = xk.im - xj.im;
    const float dr = xk.re - xj.re, di = xk.im + xj.im;
    const float orr = w[k].re * dr + w[k].im * di;
    const float oi = w[k].re * di - w[k].im * dr;
    z[k] = {er - oi, ei + orr};
    z[j] = {er + oi, -(ei - orr)};
  }
}


template <typename C>
void forward(C* a, int n) { transform<false>(a, n); }

template <typename C>
void inverse(C* a, int n) { transform<true>(a, n); }

inline void real_forward(float* a, int n) {
  complex4* z = reinterpret_cast<complex4*>(a);
  if (n > 2) transform<false>(z, n / 2);
  real_forward_untangle(z, n);
}

inline void real_inverse(float* a, int n) {
  complex4* z = reinterpret_cast<complex4*>(a);
  real_inverse_tangle(z, n);
  if (n > 2) transform<true>(z, n / 2);
}

}  // namespace previous_pow2

#endif
