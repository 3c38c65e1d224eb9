// Deriche's fourth-order recursive Gaussian of the frame image: a causal and
// an anti-causal filter over each row or column, summed, with both ends
// started as if the end samples went on for ever.
#include <cmath>

#include "ImageQ4.h"
#include "line_filter.h"
#include "q4_simd.h"

void ImageQ4::make_coeffs(double sigma, double* n_causal, double* n_anticausal, double* d_causal,
                          double* d_anticausal, double* e_causal, double* e_anticausal) {
  const double s = sigma;
  const double D = s * std::sqrt(static_cast<double>(6.2831855f));
  const double a0 = 1.6803 / D, a1 = 3.735 / D, c0 = -0.6803 / D, c1 = -0.2598 / D;
  const double b0 = -1.783 / s, b1 = -1.723 / s, w0 = 0.6318 / s, w1 = 1.997 / s;
  const double cos0 = std::cos(w0), sin0 = std::sin(w0), cos1 = std::cos(w1), sin1 = std::sin(w1);
  double* np = n_causal;
  double* nm = n_anticausal;
  double* dp = d_causal;
  np[0] = a0 + c0;
  np[1] =
      std::exp(b1) * (c1 * sin1 - (2 * a0 + c0) * cos1) + std::exp(b0) * (a1 * sin0 - (2 * c0 + a0) * cos0);
  np[2] = 2 * std::exp(b0 + b1) * ((a0 + c0) * cos1 * cos0 - a1 * cos1 * sin0 - c1 * cos0 * sin1) +
          c0 * std::exp(2 * b0) + a0 * std::exp(2 * b1);
  np[3] = std::exp(b1 + 2 * b0) * (c1 * sin1 - c0 * cos1) + std::exp(b0 + 2 * b1) * (a1 * sin0 - a0 * cos0);
  np[4] = 0.0;
  dp[0] = 0.0;
  dp[1] = -2 * std::exp(b1) * cos1 - 2 * std::exp(b0) * cos0;
  dp[2] = 4 * cos1 * cos0 * std::exp(b0 + b1) + std::exp(2 * b1) + std::exp(2 * b0);
  dp[3] = -2 * cos0 * std::exp(b0 + 2 * b1) - 2 * cos1 * std::exp(b1 + 2 * b0);
  dp[4] = std::exp(2 * b0 + 2 * b1);
  nm[0] = 0.0;
  for (int k = 1; k < 5; ++k) nm[k] = np[k] - np[0] * dp[k];
  double SN = 0.0, SM = 0.0, SD = 0.0;
  for (int k = 0; k < 5; ++k) {
    d_anticausal[k] = dp[k];
    SN += np[k];
    SM += nm[k];
    SD += dp[k];
  }
  for (int k = 0; k < 5; ++k) {
    e_causal[k] = dp[k] * SN / (SN + SM);
    e_anticausal[k] = d_anticausal[k] * SM / (SN + SM);
  }
  const double unit_gain = (1 + SD) / (SN + SM);
  for (int k = 0; k < 5; ++k) {
    np[k] *= unit_gain;
    nm[k] *= unit_gain;
  }
}

namespace {

// What every line needs: the taps the recursions read and the end terms that
// stand for the samples before and after the line.
struct DericheTaps {
  double np[4], nm[5], d[5];
  double sp[5], sm[5];  // sp[1..4], sm[1..4]
};

DericheTaps deriche_taps(const ImageQ4& image) {
  DericheTaps t;
  const double* np = image.op_n_causal;
  const double* nm = image.op_n_anticausal;
  const double* ep = image.op_e_causal;
  const double* em = image.op_e_anticausal;
  for (int k = 0; k < 4; ++k) t.np[k] = np[k];
  for (int k = 0; k < 5; ++k) {
    t.nm[k] = nm[k];
    t.d[k] = image.op_d_causal[k];
  }
  t.sp[1] = (np[1] - ep[1]) + (np[2] - ep[2]) + (np[3] - ep[3]) - ep[4];
  t.sp[2] = (np[2] - ep[2]) + (np[3] - ep[3]) - ep[4];
  t.sp[3] = (np[3] - ep[3]) - ep[4];
  t.sp[4] = -ep[4];
  t.sm[1] = (nm[1] - em[1]) + (nm[2] - em[2]) + (nm[3] - em[3]) + (nm[4] - em[4]);
  t.sm[2] = (nm[2] - em[2]) + (nm[3] - em[3]) + (nm[4] - em[4]);
  t.sm[3] = (nm[3] - em[3]) + (nm[4] - em[4]);
  t.sm[4] = nm[4] - em[4];
  t.sp[0] = t.sm[0] = 0.0;
  return t;
}

// Lines side by side as in the Young-van Vliet filter: position i of lane l
// at i * L + l. The causal and the anti-causal recursion advance in the same
// loop, two independent chains. n is at least 4.
template <int L>
Q4_SIMD_BODY void deriche_lanes(const double* X, double* P, double* M, int n, const DericheTaps& t) {
  const double N0 = t.np[0], N1 = t.np[1], N2 = t.np[2], N3 = t.np[3];
  const double R1 = t.nm[1], R2 = t.nm[2], R3 = t.nm[3], R4 = t.nm[4];
  const double D1 = t.d[1], D2 = t.d[2], D3 = t.d[3], D4 = t.d[4];
  const long e = n - 1;
  const double* x = X;
  const double* xe = X + e * L;
  for (int l = 0; l < L; ++l) {
    const double x0 = x[l], *X0 = x, *X1 = x + L, *X2 = x + 2 * L, *X3 = x + 3 * L;
    double* Pl = P + l;
    Pl[0] = N0 * X0[l] + t.sp[1] * x0;
    Pl[L] = N0 * X1[l] + N1 * X0[l] - D1 * Pl[0] + t.sp[2] * x0;
    Pl[2 * L] = N0 * X2[l] + N1 * X1[l] + N2 * X0[l] - D1 * Pl[L] - D2 * Pl[0] + t.sp[3] * x0;
    Pl[3 * L] = N0 * X3[l] + N1 * X2[l] + N2 * X1[l] + N3 * X0[l] - D1 * Pl[2 * L] - D2 * Pl[L] - D3 * Pl[0] +
                t.sp[4] * x0;
    const double xl = xe[l];
    double* Ml = M + e * L + l;
    const double* Xe = xe + l;
    Ml[0] = t.sm[1] * xl;
    Ml[-L] = R1 * Xe[0] - D1 * Ml[0] + t.sm[2] * xl;
    Ml[-2 * L] = R1 * Xe[-L] + R2 * Xe[0] - D1 * Ml[-L] - D2 * Ml[0] + t.sm[3] * xl;
    Ml[-3 * L] = R1 * Xe[-2 * L] + R2 * Xe[-L] + R3 * Xe[0] - D1 * Ml[-2 * L] - D2 * Ml[-L] - D3 * Ml[0] +
                 t.sm[4] * xl;
  }
  for (long i = 4; i < n; ++i) {
    const long j = n - 1 - i;
    const double* xi = X + i * L;
    double* pi = P + i * L;
    for (int l = 0; l < L; ++l)
      pi[l] = N0 * xi[l] + N1 * xi[l - L] + N2 * xi[l - 2 * L] + N3 * xi[l - 3 * L] - D1 * pi[l - L] -
              D2 * pi[l - 2 * L] - D3 * pi[l - 3 * L] - D4 * pi[l - 4 * L];
    const double* xj = X + j * L;
    double* mj = M + j * L;
    for (int l = 0; l < L; ++l)
      mj[l] = R1 * xj[l + L] + R2 * xj[l + 2 * L] + R3 * xj[l + 3 * L] + R4 * xj[l + 4 * L] - D1 * mj[l + L] -
              D2 * mj[l + 2 * L] - D3 * mj[l + 3 * L] - D4 * mj[l + 4 * L];
  }
}

// One group of lines: read straight from the image, both recursions, their
// sum written straight back. Lines of fewer than 4 samples are filtered as
// if their last sample went on to 4.
template <bool Columns, int K, typename Ch>
Q4_SIMD_BODY void deriche_group(const LineGroup& g, int n, const Ch& ch, const DericheTaps& t, double* X) {
  constexpr int L = K * lanes_per_line<Ch>();
  const int count = n < 4 ? 4 : n;
  double* P = X + static_cast<long>(count) * L;
  double* M = P + static_cast<long>(count) * L;
  for (int i = 0; i < count; ++i) load_group_position<Columns, K>(g, i < n ? i : n - 1, ch, X + static_cast<long>(i) * L);
  deriche_lanes<L>(X, P, M, count, t);
  double sum[L];
  for (int i = 0; i < n; ++i) {
    const double* p = P + static_cast<long>(i) * L;
    const double* m = M + static_cast<long>(i) * L;
    for (int l = 0; l < L; ++l) sum[l] = p[l] + m[l];
    store_group_position<Columns, K>(g, i, ch, sum);
  }
}

// One dispatched copy per direction and channel choice.
#define DERICHE_KERNEL(name, Columns, K, Ch)                                                                  \
  Q4_SIMD_BODY void name##_body(const LineGroup& g, int n, const Ch& ch, const DericheTaps& t, double* X) { \
    deriche_group<Columns, K>(g, n, ch, t, X);                                                                 \
  }                                                                                                           \
  Q4_SIMD_DISPATCH(void, name, (const LineGroup& g, int n, const Ch& ch, const DericheTaps& t, double* X),   \
                   (g, n, ch, t, X))
DERICHE_KERNEL(deriche_rows_rgba, false, 4, RgbaChannels)
DERICHE_KERNEL(deriche_rows_rgb, false, 4, RgbChannels)
DERICHE_KERNEL(deriche_rows_one, false, 16, OneChannel)
DERICHE_KERNEL(deriche_columns_rgba, true, 4, RgbaChannels)
DERICHE_KERNEL(deriche_columns_rgb, true, 4, RgbChannels)
DERICHE_KERNEL(deriche_columns_one, true, 16, OneChannel)
#undef DERICHE_KERNEL

// The lines each kernel takes side by side.
template <typename Ch>
constexpr int deriche_group_lines() {
  return Ch::count == 1 ? 16 : 4;
}

template <bool Columns, typename Ch>
void deriche_lines(const LineGroup& g, int n, const Ch& ch, const DericheTaps& t, double* X) {
  if constexpr (Columns) {
    if constexpr (Ch::count == 4) deriche_columns_rgba(g, n, ch, t, X);
    if constexpr (Ch::count == 3) deriche_columns_rgb(g, n, ch, t, X);
    if constexpr (Ch::count == 1) deriche_columns_one(g, n, ch, t, X);
  } else {
    if constexpr (Ch::count == 4) deriche_rows_rgba(g, n, ch, t, X);
    if constexpr (Ch::count == 3) deriche_rows_rgb(g, n, ch, t, X);
    if constexpr (Ch::count == 1) deriche_rows_one(g, n, ch, t, X);
  }
}

// One band of lines, a group at a time, carrying the channels `ch`.
template <bool Columns, typename Ch>
void deriche_band(ImageQ4& image, long first, long last, const Ch& ch) {
  constexpr int K = deriche_group_lines<Ch>();
  constexpr int L = K * lanes_per_line<Ch>();
  const int n = line_length<Columns>(image);
  const ImageQ4* src = band_source<K>(image, n);
  if (!src) return;
  const DericheTaps taps = deriche_taps(image);
  BandScratch<double> buffer(3 * static_cast<uint64_t>(n < 4 ? 4 : n) * L);
  double* X = buffer.get();
  if (!X) return;
  for_band_groups<Columns>(image, first, last, K, [&](long line0, int lines) {
    deriche_lines<Columns>(LineGroup{src, &image, line0, lines}, n, ch, taps, X);
  });
}

bool usable_sigma(float sigma) { return sigma > 0.0f && std::isfinite(sigma); }

}  // namespace

void ImageQ4::Deriche_GaussianBlur(float sigma, ImageQ4* src, int direction, int with_alpha) {
  if (!usable_sigma(sigma)) return;
  make_coeffs(sigma, op_n_causal, op_n_anticausal, op_d_causal, op_d_anticausal, op_e_causal,
              op_e_anticausal);
  run_line_passes(src, direction, with_alpha ? &ImageQ4::mp_fgb_horiz_4 : &ImageQ4::mp_fgb_horiz_3,
                  with_alpha ? &ImageQ4::mp_fgb_vert_4 : &ImageQ4::mp_fgb_vert_3);
}

void ImageQ4::Deriche_GaussianBlur_Channel(float sigma, ImageQ4* src, int direction, int channel,
                                           int keep_others) {
  if (!usable_sigma(sigma)) return;
  make_coeffs(sigma, op_n_causal, op_n_anticausal, op_d_causal, op_d_anticausal, op_e_causal,
              op_e_anticausal);
  run_channel_passes(src, direction, channel, keep_others, &ImageQ4::mp_fgb_horiz, &ImageQ4::mp_fgb_vert);
}

void ImageQ4::mp_fgb_horiz_4(long first, long last) {
  deriche_band<false>(*this, first, last, RgbaChannels());
}
void ImageQ4::mp_fgb_horiz_3(long first, long last) {
  deriche_band<false>(*this, first, last, RgbChannels());
}
void ImageQ4::mp_fgb_vert_4(long first, long last) {
  deriche_band<true>(*this, first, last, RgbaChannels());
}
void ImageQ4::mp_fgb_vert_3(long first, long last) {
  deriche_band<true>(*this, first, last, RgbChannels());
}

void ImageQ4::mp_fgb_horiz(long first, long last) {
  for_each_channel(op_first_channel, op_end_channel,
                   [&](const OneChannel& ch) { deriche_band<false>(*this, first, last, ch); });
}

void ImageQ4::mp_fgb_vert(long first, long last) {
  for_each_channel(op_first_channel, op_end_channel,
                   [&](const OneChannel& ch) { deriche_band<true>(*this, first, last, ch); });
}
