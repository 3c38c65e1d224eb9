#include "fft_rcs.h"

#include <cmath>
#include <cstddef>

// In-place decimation in frequency, one pass per factor, followed by the
// digit-reversal permutation. The factor list is symmetric around its
// square-free middle, so the permutation splits into pairwise swaps of the
// outer digits and one small cycle table for the middle digits.

namespace {

const int kMaxFactors = 32;  // every factor is at least 2, so 31 cover any int
const int kMaxOddRadix = 23;
const int kMaxSquareFree = 210;
const double kTwoPi = 6.283185307179586476925286766559;

struct Factors {
  int count = 0;
  int squares = 0;  // leading square factors, mirrored at the end
  int f[kMaxFactors];
};

void factorize(int n, Factors& fac) {
  int m = 0;
  long long k = n;
  while (k % 16 == 0) {
    fac.f[m++] = 4;
    k /= 16;
  }
  for (long long j = 3; j * j <= k; j += 2) {
    while (k % (j * j) == 0) {
      fac.f[m++] = static_cast<int>(j);
      k /= j * j;
    }
  }
  int squares;
  if (k <= 4) {
    squares = m;
    if (k != 1) fac.f[m++] = static_cast<int>(k);
  } else {
    if (k % 4 == 0) {
      fac.f[m++] = 2;
      k /= 4;
    }
    squares = m;
    // The rest is square-free: its primes in ascending order.
    for (long long j = 2; j * j <= k; j = (j == 2) ? 3 : j + 2) {
      if (k % j == 0) {
        fac.f[m++] = static_cast<int>(j);
        k /= j;
      }
    }
    if (k > 1) fac.f[m++] = static_cast<int>(k);
  }
  for (int j = squares; j > 0; --j) fac.f[m++] = fac.f[j - 1];
  fac.count = m;
  fac.squares = squares;
}

bool within_limits(const Factors& fac) {
  for (int i = 0; i < fac.count; ++i) {
    if (fac.f[i] > kMaxOddRadix) return false;
  }
  long long product = 1;
  for (int i = fac.squares; i < fac.count - fac.squares; ++i) product *= fac.f[i];
  return product <= kMaxSquareFree;
}

// Where the sequences of one dimension live: element e of sequence (block,
// offset) is at ((block * nspan) + e * stride + offset) * inc.
struct Layout {
  double* re;
  double* im;
  ptrdiff_t inc;
  ptrdiff_t blocks;
  ptrdiff_t nspan;
  ptrdiff_t stride;
};

// Small DFT of r values in place, sign s of the exponent. c/sn hold
// cos and s*sin of 2*pi*t/r for the general odd radix.
void small_dft(int r, double* xr, double* xi, double s, const double* c, const double* sn) {
  switch (r) {
    case 2: {
      const double tr = xr[1], ti = xi[1];
      xr[1] = xr[0] - tr;
      xi[1] = xi[0] - ti;
      xr[0] += tr;
      xi[0] += ti;
      return;
    }
    case 3: {
      const double h = s * 0.8660254037844386;
      const double tr = xr[1] + xr[2], ti = xi[1] + xi[2];
      const double dr = h * (xr[1] - xr[2]), di = h * (xi[1] - xi[2]);
      const double mr = xr[0] - 0.5 * tr, mi = xi[0] - 0.5 * ti;
      xr[0] += tr;
      xi[0] += ti;
      xr[1] = mr - di;
      xi[1] = mi + dr;
      xr[2] = mr + di;
      xi[2] = mi - dr;
      return;
    }
    case 4: {
      const double ar = xr[0] + xr[2], ai = xi[0] + xi[2];
      const double br = xr[0] - xr[2], bi = xi[0] - xi[2];
      const double cr = xr[1] + xr[3], ci = xi[1] + xi[3];
      const double dr = s * (xr[1] - xr[3]), di = s * (xi[1] - xi[3]);
      xr[0] = ar + cr;
      xi[0] = ai + ci;
      xr[2] = ar - cr;
      xi[2] = ai - ci;
      xr[1] = br - di;
      xi[1] = bi + dr;
      xr[3] = br + di;
      xi[3] = bi - dr;
      return;
    }
    case 5: {
      const double c1 = 0.3090169943749474, c2 = -0.8090169943749474;
      const double s1 = s * 0.9510565162951535, s2 = s * 0.5877852522924731;
      const double a1r = xr[1] + xr[4], a1i = xi[1] + xi[4];
      const double a2r = xr[2] + xr[3], a2i = xi[2] + xi[3];
      const double b1r = xr[1] - xr[4], b1i = xi[1] - xi[4];
      const double b2r = xr[2] - xr[3], b2i = xi[2] - xi[3];
      const double p1r = xr[0] + c1 * a1r + c2 * a2r, p1i = xi[0] + c1 * a1i + c2 * a2i;
      const double p2r = xr[0] + c2 * a1r + c1 * a2r, p2i = xi[0] + c2 * a1i + c1 * a2i;
      const double q1r = s1 * b1r + s2 * b2r, q1i = s1 * b1i + s2 * b2i;
      const double q2r = s2 * b1r - s1 * b2r, q2i = s2 * b1i - s1 * b2i;
      xr[0] += a1r + a2r;
      xi[0] += a1i + a2i;
      xr[1] = p1r - q1i;
      xi[1] = p1i + q1r;
      xr[4] = p1r + q1i;
      xi[4] = p1i - q1r;
      xr[2] = p2r - q2i;
      xi[2] = p2i + q2r;
      xr[3] = p2r + q2i;
      xi[3] = p2i - q2r;
      return;
    }
    default: {
      double yr[kMaxOddRadix], yi[kMaxOddRadix];
      for (int k = 0; k < r; ++k) {
        double sr = 0.0, si = 0.0;
        int t = 0;
        for (int q = 0; q < r; ++q) {
          sr += xr[q] * c[t] - xi[q] * sn[t];
          si += xr[q] * sn[t] + xi[q] * c[t];
          t += k;
          if (t >= r) t -= r;
        }
        yr[k] = sr;
        yi[k] = si;
      }
      for (int k = 0; k < r; ++k) {
        xr[k] = yr[k];
        xi[k] = yi[k];
      }
      return;
    }
  }
}

// One pass of radix r over sub-transforms of length len.
void radix_pass(const Layout& lay, long n, long len, int r, double s) {
  double c[kMaxOddRadix], sn[kMaxOddRadix];
  if (r > 5) {
    for (int t = 0; t < r; ++t) {
      c[t] = std::cos(kTwoPi * t / r);
      sn[t] = s * std::sin(kTwoPi * t / r);
    }
  }
  const long sub = len / r;
  double twr[kMaxOddRadix], twi[kMaxOddRadix];
  double xr[kMaxOddRadix], xi[kMaxOddRadix];
  const ptrdiff_t step = sub * lay.stride * lay.inc;
  for (long j = 0; j < sub; ++j) {
    const bool rotate = j != 0;
    if (rotate) {
      for (int k = 1; k < r; ++k) {
        // Exact reduction keeps the angle accurate for long transforms.
        const double a = kTwoPi * static_cast<double>((static_cast<long long>(j) * k) % len) / len;
        twr[k] = std::cos(a);
        twi[k] = s * std::sin(a);
      }
    }
    for (long b = 0; b < n; b += len) {
      for (ptrdiff_t blk = 0; blk < lay.blocks; ++blk) {
        const ptrdiff_t row = (blk * lay.nspan + (b + j) * lay.stride) * lay.inc;
        for (ptrdiff_t off = 0; off < lay.stride; ++off) {
          double* pr = lay.re + row + off * lay.inc;
          double* pi = lay.im + row + off * lay.inc;
          for (int q = 0; q < r; ++q) {
            xr[q] = pr[q * step];
            xi[q] = pi[q * step];
          }
          small_dft(r, xr, xi, s, c, sn);
          pr[0] = xr[0];
          pi[0] = xi[0];
          for (int k = 1; k < r; ++k) {
            if (rotate) {
              pr[k * step] = xr[k] * twr[k] - xi[k] * twi[k];
              pi[k * step] = xr[k] * twi[k] + xi[k] * twr[k];
            } else {
              pr[k * step] = xr[k];
              pi[k * step] = xi[k];
            }
          }
        }
      }
    }
  }
}

// Digit value of the given digits read most significant first (big) or
// least significant first (little) over radices f[0..count-1].
long digits_big(const int* f, int count, const int* d) {
  long v = 0;
  for (int i = 0; i < count; ++i) v = v * f[i] + d[i];
  return v;
}

long digits_little(const int* f, int count, const int* d) {
  long v = 0;
  for (int i = count - 1; i >= 0; --i) v = v * f[i] + d[i];
  return v;
}

void split_big(const int* f, int count, long v, int* d) {
  for (int i = count - 1; i >= 0; --i) {
    d[i] = static_cast<int>(v % f[i]);
    v /= f[i];
  }
}

void split_little(const int* f, int count, long v, int* d) {
  for (int i = 0; i < count; ++i) {
    d[i] = static_cast<int>(v % f[i]);
    v /= f[i];
  }
}

void swap_rows(const Layout& lay, long p1, long p2) {
  for (ptrdiff_t blk = 0; blk < lay.blocks; ++blk) {
    double* r1 = lay.re + (blk * lay.nspan + p1 * lay.stride) * lay.inc;
    double* i1 = lay.im + (blk * lay.nspan + p1 * lay.stride) * lay.inc;
    double* r2 = lay.re + (blk * lay.nspan + p2 * lay.stride) * lay.inc;
    double* i2 = lay.im + (blk * lay.nspan + p2 * lay.stride) * lay.inc;
    for (ptrdiff_t off = 0; off < lay.stride * lay.inc; off += lay.inc) {
      const double tr = r1[off], ti = i1[off];
      r1[off] = r2[off];
      i1[off] = i2[off];
      r2[off] = tr;
      i2[off] = ti;
    }
  }
}

// After the passes, sequence position p = (high digits, middle, low digits)
// holds X[q] with the digits read the other way round. Outer square digits
// trade places pairwise; the middle digits need a cycle permutation.
void permute(const Layout& lay, const Factors& fac) {
  const int k = fac.squares;
  const int* sq = fac.f;                // s1..sk
  const int* mid = fac.f + k;           // t1..tu
  const int u = fac.count - 2 * k;
  long S = 1, T = 1;
  for (int i = 0; i < k; ++i) S *= sq[i];
  for (int i = 0; i < u; ++i) T *= mid[i];

  int d[kMaxFactors];
  if (k > 0) {
    for (long a = 0; a < S; ++a) {
      split_little(sq, k, a, d);
      const long b_new = digits_big(sq, k, d);
      for (long b = 0; b < S; ++b) {
        split_big(sq, k, b, d);
        const long a_new = digits_little(sq, k, d);
        const long from = b * S + a, to = b_new * S + a_new;
        if (from >= to) continue;
        for (long m = 0; m < T; ++m) swap_rows(lay, b * S * T + m * S + a, b_new * S * T + m * S + a_new);
      }
    }
  }
  if (u < 2) return;

  // new[v] = old[src[v]]: v is the little-endian value of the middle
  // digits, src their big-endian value.
  int src[kMaxSquareFree];
  bool leader[kMaxSquareFree];
  for (long v = 0; v < T; ++v) {
    split_little(mid, u, v, d);
    src[v] = static_cast<int>(digits_big(mid, u, d));
  }
  for (int v = 0; v < T; ++v) {
    int w = src[v];
    bool lowest = w != v;
    while (w != v && lowest) {
      if (w < v) lowest = false;
      w = src[w];
    }
    leader[v] = lowest;
  }
  for (long hi = 0; hi < S; ++hi) {
    for (long lo = 0; lo < S; ++lo) {
      const long base = hi * S * T + lo;
      for (ptrdiff_t blk = 0; blk < lay.blocks; ++blk) {
        for (ptrdiff_t off = 0; off < lay.stride; ++off) {
          const ptrdiff_t origin = (blk * lay.nspan + base * lay.stride + off) * lay.inc;
          const ptrdiff_t step = S * lay.stride * lay.inc;
          double* pr = lay.re + origin;
          double* pi = lay.im + origin;
          for (int v0 = 0; v0 < T; ++v0) {
            if (!leader[v0]) continue;
            const double tr = pr[v0 * step], ti = pi[v0 * step];
            int v = v0;
            while (src[v] != v0) {
              pr[v * step] = pr[src[v] * step];
              pi[v * step] = pi[src[v] * step];
              v = src[v];
            }
            pr[v * step] = tr;
            pi[v * step] = ti;
          }
        }
      }
    }
  }
}

}  // namespace

int fft_rcs(double* re, double* im, int ntot, int n, int nspan, int isn) {
  if (isn == 0) return 1;
  if (n < 2) return 0;
  if (!re || !im || nspan < n || nspan % n != 0 || ntot < nspan || ntot % nspan != 0) return 1;

  Factors fac;
  factorize(n, fac);
  if (!within_limits(fac)) return 1;

  const long long inc = isn < 0 ? -static_cast<long long>(isn) : isn;
  const Layout lay = {re, im, static_cast<ptrdiff_t>(inc), ntot / nspan, nspan, nspan / n};
  const double s = isn < 0 ? -1.0 : 1.0;
  long len = n;
  for (int i = 0; i < fac.count; ++i) {
    radix_pass(lay, n, len, fac.f[i], s);
    len /= fac.f[i];
  }
  permute(lay, fac);
  return 0;
}
