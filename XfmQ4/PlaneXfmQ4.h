#ifndef PLANE_XFM_Q4_H
#define PLANE_XFM_Q4_H

#include "xfm_points.h"

// Corner-pinned projective transform between the unit square and a
// quadrilateral. The homography maps (X, Y) to
// ((h0 X + h1 Y + h2) / d, (h3 X + h4 Y + h5) / d) with d = h6 X + h7 Y + 1.
// The numerical routines work on 1-based arrays.
class PlaneXfmQ4 {
public:
  PlaneXfmQ4();
  ~PlaneXfmQ4();
  PlaneXfmQ4(const PlaneXfmQ4&) = delete;
  PlaneXfmQ4& operator=(const PlaneXfmQ4&) = delete;

  // Corner 1..4; any other number is ignored.
  void set_corner(float x, float y, int corner);
  // Direction 0: unit square to corners; otherwise corners to unit square.
  // The block stays owned by the object (null when the solve failed).
  double* find_xfm(int direction);
  // Least-squares homography taking p1[i] to p2[i]; the caller owns the
  // block (release with q4_free), null on failure or n < 4.
  double* get_matrix(tagDPT2* p1, tagDPT2* p2, int n);
  // Outputs are left untouched while there are no coefficients.
  void p1_to_p2(tagDPT2* p1, tagDPT2* p2, int n);
  void p1_to_p2_z(tagDPT2* p1, tagDPT3* p3, int n);

  double** matrix(int nrl, int nrh, int ncl, int nch);
  double* vector(int nl, int nh);
  void free_matrix(double** m, int nrl, int nrh, int ncl, int nch);
  void free_vector(double* v, int nl, int nh);
  // a (m x n, m >= n) becomes U, w[1..n] the singular values, v the n x n
  // matrix V. 0 on success, 1 on failure.
  int svdcmp(double** a, int m, int n, double* w, double** v);
  void svbksb(double** u, double* w, double** v, int m, int n, double* b, double* x);

  double* coefficients;
  float corner_x[4];  // corners 1, 2, 4, 3
  float corner_y[4];

private:
  bool map_point(double X, double Y, double& u, double& v, double& d) const;
};

#endif
