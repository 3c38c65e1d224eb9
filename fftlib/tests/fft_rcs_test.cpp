#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "fft_rcs.h"

namespace {

struct Signal {
  std::vector<double> re, im;
};

Signal random_signal(int count, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Signal s;
  for (int i = 0; i < count; ++i) {
    s.re.push_back(u(gen));
    s.im.push_back(u(gen));
  }
  return s;
}

// Reference: the definition evaluated in long double with exact angle
// reduction, independent of any factorisation.
Signal naive_dft(const Signal& x, int sign) {
  const int n = static_cast<int>(x.re.size());
  const long double two_pi = 6.283185307179586476925286766559L;
  Signal y;
  for (int k = 0; k < n; ++k) {
    long double sr = 0, si = 0;
    for (int j = 0; j < n; ++j) {
      const long double a = sign * two_pi * ((static_cast<long long>(j) * k) % n) / n;
      sr += x.re[j] * cosl(a) - x.im[j] * sinl(a);
      si += x.re[j] * sinl(a) + x.im[j] * cosl(a);
    }
    y.re.push_back(static_cast<double>(sr));
    y.im.push_back(static_cast<double>(si));
  }
  return y;
}

double max_error(const Signal& a, const Signal& b) {
  double e = 0;
  for (size_t i = 0; i < a.re.size(); ++i) {
    e = std::fmax(e, std::fabs(a.re[i] - b.re[i]));
    e = std::fmax(e, std::fabs(a.im[i] - b.im[i]));
  }
  return e;
}

}  // namespace

TEST(FftRcs, MatchesNaiveDftForManyLengthsBothSigns) {
  const int lengths[] = {2,  3,  4,  5,  6,  7,  8,  9,  12, 16, 18,  23,  25,  27,  32,  36, 46,
                         48, 60, 64, 72, 81, 96, 100, 128, 144, 210, 225, 243, 360, 441, 512, 1000, 1024};
  for (int n : lengths) {
    for (int sign : {1, -1}) {
      Signal x = random_signal(n, 17u * n + (sign > 0));
      const Signal ref = naive_dft(x, sign);
      ASSERT_EQ(fft_rcs(x.re.data(), x.im.data(), n, n, n, sign), 0) << "n=" << n;
      EXPECT_LT(max_error(x, ref), 1e-11 * n) << "n=" << n << " sign=" << sign;
    }
  }
}

TEST(FftRcs, ForwardThenBackwardScalesByN) {
  for (int n : {2, 30, 64, 210, 1000, 4096, 6000}) {
    const Signal orig = random_signal(n, n);
    Signal x = orig;
    ASSERT_EQ(fft_rcs(x.re.data(), x.im.data(), n, n, n, 1), 0);
    ASSERT_EQ(fft_rcs(x.re.data(), x.im.data(), n, n, n, -1), 0);
    for (int i = 0; i < n; ++i) {
      ASSERT_NEAR(x.re[i], n * orig.re[i], 1e-10 * n);
      ASSERT_NEAR(x.im[i], n * orig.im[i], 1e-10 * n);
    }
  }
}

TEST(FftRcs, ThreeDimensionalTransformThroughThreeCalls) {
  const int n1 = 12, n2 = 8, n3 = 9, ntot = n1 * n2 * n3;  // squares, middles and strides
  Signal x = random_signal(ntot, 99);
  const Signal orig = x;
  ASSERT_EQ(fft_rcs(x.re.data(), x.im.data(), ntot, n1, n1, -1), 0);
  ASSERT_EQ(fft_rcs(x.re.data(), x.im.data(), ntot, n2, n1 * n2, -1), 0);
  ASSERT_EQ(fft_rcs(x.re.data(), x.im.data(), ntot, n3, ntot, -1), 0);
  double err = 0;
  for (int k3 = 0; k3 < n3; ++k3)
    for (int k2 = 0; k2 < n2; ++k2)
      for (int k1 = 0; k1 < n1; ++k1) {
        long double sr = 0, si = 0;
        for (int j3 = 0; j3 < n3; ++j3)
          for (int j2 = 0; j2 < n2; ++j2)
            for (int j1 = 0; j1 < n1; ++j1) {
              const long double a = -2.0L * M_PI *
                                    ((long double)(j1 * k1) / n1 + (long double)(j2 * k2) / n2 +
                                     (long double)(j3 * k3) / n3);
              const int idx = j1 + n1 * (j2 + n2 * j3);
              sr += orig.re[idx] * cosl(a) - orig.im[idx] * sinl(a);
              si += orig.re[idx] * sinl(a) + orig.im[idx] * cosl(a);
            }
        const int out = k1 + n1 * (k2 + n2 * k3);
        err = std::fmax(err, std::fabs(x.re[out] - (double)sr));
        err = std::fmax(err, std::fabs(x.im[out] - (double)si));
      }
  EXPECT_LT(err, 1e-11);
}

TEST(FftRcs, StrideLeavesOtherElementsAlone) {
  // |isn| = 3: the transform sees every third value; the others are untouched.
  const int n = 20, inc = 3;
  Signal x = random_signal(n * inc, 5);
  const Signal orig = x;
  Signal dense;
  for (int i = 0; i < n; ++i) {
    dense.re.push_back(orig.re[i * inc]);
    dense.im.push_back(orig.im[i * inc]);
  }
  const Signal ref = naive_dft(dense, -1);
  ASSERT_EQ(fft_rcs(x.re.data(), x.im.data(), n, n, n, -inc), 0);
  for (int i = 0; i < n * inc; ++i) {
    if (i % inc == 0) {
      EXPECT_NEAR(x.re[i], ref.re[i / inc], 1e-12);
      EXPECT_NEAR(x.im[i], ref.im[i / inc], 1e-12);
    } else {
      EXPECT_EQ(x.re[i], orig.re[i]);
      EXPECT_EQ(x.im[i], orig.im[i]);
    }
  }
}

TEST(FftRcs, LimitsAndBadArguments) {
  Signal x = random_signal(2310, 3);
  const Signal orig = x;
  // Nothing to do below length 2.
  EXPECT_EQ(fft_rcs(x.re.data(), x.im.data(), 1, 1, 1, 1), 0);
  EXPECT_EQ(fft_rcs(x.re.data(), x.im.data(), 0, 0, 0, 1), 0);
  // A prime above 23, a squared prime above 23, square-free part above 210.
  EXPECT_EQ(fft_rcs(x.re.data(), x.im.data(), 29, 29, 29, 1), 1);
  EXPECT_EQ(fft_rcs(x.re.data(), x.im.data(), 841, 841, 841, 1), 1);
  EXPECT_EQ(fft_rcs(x.re.data(), x.im.data(), 2310, 2310, 2310, -1), 1);
  EXPECT_EQ(fft_rcs(x.re.data(), x.im.data(), 2 * 3 * 5 * 11, 330, 330, -1), 1);
  // A zero step and sizes that do not describe an array.
  EXPECT_EQ(fft_rcs(x.re.data(), x.im.data(), 8, 8, 8, 0), 1);
  EXPECT_EQ(fft_rcs(x.re.data(), x.im.data(), 10, 4, 6, 1), 1);
  EXPECT_EQ(fft_rcs(x.re.data(), x.im.data(), 10, 4, 4, 1), 1);
  EXPECT_EQ(fft_rcs(x.re.data(), x.im.data(), 2, 4, 4, 1), 1);
  EXPECT_EQ(fft_rcs(nullptr, x.im.data(), 4, 4, 4, 1), 1);
  EXPECT_EQ(max_error(x, orig), 0.0) << "a refused call must leave the data alone";
  // 23 and 210 are the largest that pass.
  EXPECT_EQ(fft_rcs(x.re.data(), x.im.data(), 23, 23, 23, 1), 0);
  EXPECT_EQ(fft_rcs(x.re.data(), x.im.data(), 210, 210, 210, 1), 0);
}

TEST(FftRcs, LongFactorListsDoNotOverflow) {
  // 2^20 and 3^12 give the longest factor lists an array can reach here;
  // a round trip checks they are handled in full.
  for (int n : {1 << 20, 531441}) {
    Signal x;
    x.re.assign(n, 0.0);
    x.im.assign(n, 0.0);
    x.re[1] = 1.0;
    x.im[7] = -2.0;
    ASSERT_EQ(fft_rcs(x.re.data(), x.im.data(), n, n, n, 1), 0);
    EXPECT_NEAR(x.re[n / 4], std::cos(2 * M_PI * (n / 4) / n) + 2 * std::sin(2 * M_PI * 7.0 * (n / 4) / n), 1e-9);
    ASSERT_EQ(fft_rcs(x.re.data(), x.im.data(), n, n, n, -1), 0);
    EXPECT_NEAR(x.re[1], n, 1e-6 * n);
    EXPECT_NEAR(x.im[7], -2.0 * n, 1e-6 * n);
    EXPECT_NEAR(x.re[0], 0.0, 1e-6 * n);
  }
}
