#ifndef KRVF_H
#define KRVF_H

#include <cstdio>

class MTRandom;

// A periodic, divergence-free random vector field with a Kolmogorov energy
// spectrum on an N³ lattice (N = 2n): Gaussian Fourier coefficients with the
// spectrum's covariance are drawn for every wave vector, completed by
// symmetry and transformed to space, then sampled trilinearly with period 1.
// A field whose build failed holds no lattice and samples as zero.
class KRVF {
public:
  KRVF();
  virtual ~KRVF();

  bool set_parameters(int seed, int n, double k, double amplitude);
  void u_hat_find(int i, int j, int l);
  void u_hat_finish_hermitian();

  bool vector_at_norm_pos(double x, double y, double z, double& u, double& v, double& w) const;
  bool vector_at_norm_pos(const double* pos, double* out) const;

  // Debug listing of the lattice; waits for one character of `in` after every row.
  bool print_u(FILE* out = stdout, FILE* in = stdin) const;

  bool has_field() const { return u_re != nullptr; }
  int get_N() const { return N; }
  int get_degenerate_count() const { return degenerate_count; }
  // Lattice storage, index (l·N + j)·N + i; null when the field is empty.
  const double* u_real() const { return u_re; }
  const double* u_imag() const { return u_im; }
  const double* v_real() const { return v_re; }
  const double* v_imag() const { return v_im; }
  const double* w_real() const { return w_re; }
  const double* w_imag() const { return w_im; }

private:
  KRVF(const KRVF&) = delete;
  KRVF& operator=(const KRVF&) = delete;

  void free_arrays();
  bool leave_empty();
  void factor_covariance(const double M[3][3], double L[3][3]);
  void store_coefficients(int i, int j, int l, const double* re, const double* im);
  void compute_statistics();

  double k;
  double amplitude;
  int seed;
  int degenerate_count;
  int N;
  int n;
  MTRandom* master;
  MTRandom* generators[6];  // gauss 1, phase 1, gauss 2, phase 2, gauss 3, phase 3
  double* u_re;
  double* u_im;
  double* v_re;
  double* v_im;
  double* w_re;
  double* w_im;

public:
  // Statistics of the real parts after the transform.
  double u_min, u_max, v_min, v_max, w_min, w_max;
  double magnitude_min, magnitude_max, magnitude_mean;
  double u_mean, v_mean, w_mean;
};

#endif
