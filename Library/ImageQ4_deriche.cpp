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

// One group of lines side by side as in the Young-van Vliet filter: lane l
// of position i at i * L + l. The samples are read once, going forward, and
// each position's inputs to both recursions are worked out then: the causal
// filter runs at once into P, and the anti-causal one's sum over the samples
// goes to M, as each of its values starts with that sum. The anti-causal
// recursion then runs back over M, keeping its own results there as the
// history of the next positions, and leaves the sum of both in P: down
// columns each position is written as it is reached, along rows the group
// writes the line out afterwards in the order of the samples
// (store_group_line).
// Only the last four positions' samples are kept, so all of a line is read
// before anything is written (a pass may run in place). Lines of fewer than
// 4 samples are filtered as if their last sample went on to 4.
template <bool Columns, int K, typename Ch>
Q4_SIMD_BODY void deriche_group(const LineGroup<K>& g, int n, const Ch& ch, const DericheTaps& t, double* P,
                                double* M) {
  constexpr int L = K * lanes_per_line<Ch>();
  const double N0 = t.np[0], N1 = t.np[1], N2 = t.np[2], N3 = t.np[3];
  const double R1 = t.nm[1], R2 = t.nm[2], R3 = t.nm[3], R4 = t.nm[4];
  const double D1 = t.d[1], D2 = t.d[2], D3 = t.d[3], D4 = t.d[4];
  const int count = n < 4 ? 4 : n;
  const int e = count - 1;
  // The samples of the last four positions, position i in slot i % 4.
  double x[4 * L];
  auto slot = [&x](int i) { return x + (i & 3) * L; };
  for (int i = 0; i < 4; ++i) load_group_position<Columns, K>(g, i < n ? i : n - 1, ch, slot(i));
  {
    const double *X0 = slot(0), *X1 = slot(1), *X2 = slot(2), *X3 = slot(3);
    double *P0 = P, *P1 = P + L, *P2 = P + 2 * L, *P3 = P + 3 * L;
    for (int l = 0; l < L; ++l) {
      const double x0 = X0[l];
      P0[l] = N0 * X0[l] + t.sp[1] * x0;
      P1[l] = N0 * X1[l] + N1 * X0[l] - D1 * P0[l] + t.sp[2] * x0;
      P2[l] = N0 * X2[l] + N1 * X1[l] + N2 * X0[l] - D1 * P1[l] - D2 * P0[l] + t.sp[3] * x0;
      P3[l] = N0 * X3[l] + N1 * X2[l] + N2 * X1[l] + N3 * X0[l] - D1 * P2[l] - D2 * P1[l] - D3 * P0[l] +
              t.sp[4] * x0;
    }
  }
  for (int i = 4; i < count; ++i) {
    double* x0 = slot(i);  // in place of position i - 4, no longer needed
    const double *x1 = slot(i - 1), *x2 = slot(i - 2), *x3 = slot(i - 3);
    load_group_position<Columns, K>(g, i, ch, x0);
    double* pi = P + static_cast<long>(i) * L;
    double* gm = M + static_cast<long>(i - 4) * L;
#pragma GCC unroll 8
    for (int l = 0; l < L; l += 4) {
      PixelLanes a0, a1, a2, a3, p1, p2, p3, p4;
      get_lanes(a0, x0 + l);
      get_lanes(a1, x1 + l);
      get_lanes(a2, x2 + l);
      get_lanes(a3, x3 + l);
      get_lanes(p1, pi + l - L);
      get_lanes(p2, pi + l - 2 * L);
      get_lanes(p3, pi + l - 3 * L);
      get_lanes(p4, pi + l - 4 * L);
      put_lanes(pi + l, N0 * a0 + N1 * a1 + N2 * a2 + N3 * a3 - D1 * p1 - D2 * p2 - D3 * p3 - D4 * p4);
      put_lanes(gm + l, R1 * a3 + R2 * a2 + R3 * a1 + R4 * a0);
    }
  }
  // Anti-causal: the four last positions start from the last sample.
  const double *xe = slot(e), *xe1 = slot(e - 1), *xe2 = slot(e - 2);
  for (int j = e; j > e - 4; --j) {
    double* pj = P + static_cast<long>(j) * L;
    double* mj = M + static_cast<long>(j) * L;
    for (int l = 0; l < L; ++l) {
      double m;
      if (j == e)
        m = t.sm[1] * xe[l];
      else if (j == e - 1)
        m = R1 * xe[l] - D1 * mj[l + L] + t.sm[2] * xe[l];
      else if (j == e - 2)
        m = R1 * xe1[l] + R2 * xe[l] - D1 * mj[l + L] - D2 * mj[l + 2 * L] + t.sm[3] * xe[l];
      else
        m = R1 * xe2[l] + R2 * xe1[l] + R3 * xe[l] - D1 * mj[l + L] - D2 * mj[l + 2 * L] - D3 * mj[l + 3 * L] +
            t.sm[4] * xe[l];
      pj[l] = pj[l] + m;
      mj[l] = m;
    }
    if (Columns && j < n) store_group_position<Columns, K>(g, j, ch, pj);
  }
  for (int j = e - 4; j >= 0; --j) {
    double* pj = P + static_cast<long>(j) * L;
    double* mj = M + static_cast<long>(j) * L;
    for (int l = 0; l < L; l += 4) {
      PixelLanes head, m1, m2, m3, m4, p;
      get_lanes(head, mj + l);
      get_lanes(m1, mj + l + L);
      get_lanes(m2, mj + l + 2 * L);
      get_lanes(m3, mj + l + 3 * L);
      get_lanes(m4, mj + l + 4 * L);
      get_lanes(p, pj + l);
      const PixelLanes m = head - D1 * m1 - D2 * m2 - D3 * m3 - D4 * m4;
      put_lanes(mj + l, m);
      put_lanes(pj + l, p + m);
    }
    if (Columns) store_group_position<Columns, K>(g, j, ch, pj);
  }
  if (!Columns) store_group_line<Columns, K>(g, n, ch, P);
}

// One dispatched copy per direction and channel choice.
#define DERICHE_KERNEL(name, Columns, Ch)                                                               \
  Q4_SIMD_BODY void name##_body(const RecursiveGroup<Ch>& g, int n, const Ch& ch, const DericheTaps& t, \
                                double* P, double* M) {                                                 \
    deriche_group<Columns, recursive_group_lines<Ch>()>(g, n, ch, t, P, M);                             \
  }                                                                                                     \
  Q4_SIMD_DISPATCH(void, name, (const RecursiveGroup<Ch>& g, int n, const Ch& ch, const DericheTaps& t, \
                                double* P, double* M),                                                  \
                   (g, n, ch, t, P, M))
RECURSIVE_LINE_KERNELS(DERICHE_KERNEL, deriche)
#undef DERICHE_KERNEL

template <bool Columns, typename Ch>
void deriche_lines(const RecursiveGroup<Ch>& g, int n, const Ch& ch, const DericheTaps& t, double* P, double* M) {
  RECURSIVE_LINE_CALL(deriche, Columns, Ch, (g, n, ch, t, P, M));
}

// One band of lines, a group at a time, carrying the channels `ch`.
template <bool Columns, typename Ch>
void deriche_band(ImageQ4& image, long first, long last, const Ch& ch) {
  constexpr int K = recursive_group_lines<Ch>();
  constexpr int L = K * lanes_per_line<Ch>();
  const int n = line_length<Columns>(image);
  const ImageQ4* src = band_source<K>(image, n);
  if (!src) return;
  const DericheTaps taps = deriche_taps(image);
  const uint64_t values = static_cast<uint64_t>(n < 4 ? 4 : n) * L;
  BandScratch<double> buffer(2 * values);
  double* P = buffer.get();
  if (!P) return;
  for_band_groups<Columns>(image, first, last, K, [&](long line0, int lines) {
    deriche_lines<Columns>(line_group<Columns, K>(src, &image, line0, lines), n, ch, taps, P, P + values);
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
