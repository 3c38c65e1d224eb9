#ifndef FAST_GAUSS_H
#define FAST_GAUSS_H

// Coefficients of the third-order recursive Gaussian (Young and van Vliet)
// that Fast_GaussianBlur runs forward and backward along every line.
struct YvvCoefficients {
  double q;
  double a1, a2, a3;  // feedback
  double B;           // input gain, 1 - (a1 + a2 + a3): a flat line keeps its level
};
YvvCoefficients yvv_coefficients(double sigma);

// sigma of a blur radius: 0.25 radius + 0.05, a negative radius counting as 0.
double yvv_sigma(float radius);

#endif
