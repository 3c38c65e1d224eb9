#include "PlaneXfmQ4.h"

#include <cmath>
#include <climits>

#include <Eigen/SVD>

#include "q4_memory.h"

PlaneXfmQ4::PlaneXfmQ4() : coefficients(nullptr), corner_x{0, 0, 0, 0}, corner_y{0, 0, 0, 0} {}

PlaneXfmQ4::~PlaneXfmQ4() {
  if (coefficients) q4_free(coefficients, __FILE__, __LINE__);
}

void PlaneXfmQ4::set_corner(float x, float y, int corner) {
  // Storage order is 1, 2, 4, 3.
  static const int slot[5] = {-1, 0, 1, 3, 2};
  if (corner < 1 || corner > 4) return;
  corner_x[slot[corner]] = x;
  corner_y[slot[corner]] = y;
}

double* PlaneXfmQ4::find_xfm(int direction) {
  tagDPT2 square[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  // Corners 1, 4, 3, 2 pair with the square's points in that order.
  tagDPT2 corners[4] = {{corner_x[0], corner_y[0]},
                        {corner_x[2], corner_y[2]},
                        {corner_x[3], corner_y[3]},
                        {corner_x[1], corner_y[1]}};
  double* result = direction == 0 ? get_matrix(square, corners, 4) : get_matrix(corners, square, 4);
  if (coefficients) q4_free(coefficients, __FILE__, __LINE__);
  coefficients = result;
  return result;
}

double* PlaneXfmQ4::get_matrix(tagDPT2* p1, tagDPT2* p2, int n) {
  if (n < 4 || !p1 || !p2 || n > INT_MAX / 2) return nullptr;
  const int rows = 2 * n;
  double* result = static_cast<double*>(q4_malloc(8 * sizeof(double), __FILE__, __LINE__));
  double** a = matrix(1, rows, 1, 8);
  double** v = matrix(1, 8, 1, 8);
  double* w = vector(1, 8);
  double* b = vector(1, rows);
  double* x = vector(1, 8);
  bool ok = result && a && v && w && b && x;
  if (ok) {
    for (int i = 0; i < n; i++) {
      const double X = p1[i].x, Y = p1[i].y, U = p2[i].x, V = p2[i].y;
      double* r1 = a[2 * i + 1];
      double* r2 = a[2 * i + 2];
      r1[1] = -X; r1[2] = -Y; r1[3] = -1; r1[4] = 0;  r1[5] = 0;  r1[6] = 0;  r1[7] = U * X; r1[8] = U * Y;
      r2[1] = 0;  r2[2] = 0;  r2[3] = 0;  r2[4] = -X; r2[5] = -Y; r2[6] = -1; r2[7] = V * X; r2[8] = V * Y;
      b[2 * i + 1] = -U;
      b[2 * i + 2] = -V;
    }
    ok = svdcmp(a, rows, 8, w, v) == 0;
  }
  if (ok) {
    svbksb(a, w, v, rows, 8, b, x);
    for (int k = 0; k < 8; k++) result[k] = x[k + 1];
  } else if (result) {
    q4_free(result, __FILE__, __LINE__);
    result = nullptr;
  }
  if (a) free_matrix(a, 1, rows, 1, 8);
  if (v) free_matrix(v, 1, 8, 1, 8);
  if (w) free_vector(w, 1, 8);
  if (b) free_vector(b, 1, rows);
  if (x) free_vector(x, 1, 8);
  return result;
}

bool PlaneXfmQ4::map_point(double X, double Y, double& u, double& v, double& d) const {
  const double* h = coefficients;
  d = h[6] * X + h[7] * Y + 1;
  if (std::fabs(d) < 1e-5) {
    // On the vanishing line: a far-away marker position.
    u = 1000.0;
    v = 1000.0;
    return false;
  }
  u = (h[0] * X + h[1] * Y + h[2]) / d;
  v = (h[3] * X + h[4] * Y + h[5]) / d;
  return true;
}

void PlaneXfmQ4::p1_to_p2(tagDPT2* p1, tagDPT2* p2, int n) {
  if (!coefficients || !p1 || !p2) return;
  double d;
  for (int i = 0; i < n; i++) map_point(p1[i].x, p1[i].y, p2[i].x, p2[i].y, d);
}

void PlaneXfmQ4::p1_to_p2_z(tagDPT2* p1, tagDPT3* p3, int n) {
  if (!coefficients || !p1 || !p3) return;
  for (int i = 0; i < n; i++) map_point(p1[i].x, p1[i].y, p3[i].x, p3[i].y, p3[i].z);
}

double* PlaneXfmQ4::vector(int nl, int nh) {
  const long long count = (long long)nh - nl + 1;
  if (count < 1 || count > (long long)(UINT_MAX / sizeof(double))) return nullptr;
  double* block = static_cast<double*>(q4_malloc((unsigned)(count * sizeof(double)), __FILE__, __LINE__));
  return block ? block - nl : nullptr;
}

void PlaneXfmQ4::free_vector(double* v, int nl, int /*nh*/) {
  if (v) q4_free(v + nl, __FILE__, __LINE__);
}

double** PlaneXfmQ4::matrix(int nrl, int nrh, int ncl, int nch) {
  const long long rows = (long long)nrh - nrl + 1;
  if (rows < 1 || rows > (long long)(UINT_MAX / sizeof(double*))) return nullptr;
  double** block = static_cast<double**>(q4_malloc((unsigned)(rows * sizeof(double*)), __FILE__, __LINE__));
  if (!block) return nullptr;
  double** m = block - nrl;
  for (int r = nrl; r <= nrh; r++) {
    m[r] = vector(ncl, nch);
    if (!m[r]) {
      if (r > nrl) free_matrix(m, nrl, r - 1, ncl, nch);
      else q4_free(block, __FILE__, __LINE__);
      return nullptr;
    }
  }
  return m;
}

void PlaneXfmQ4::free_matrix(double** m, int nrl, int nrh, int ncl, int nch) {
  if (!m) return;
  for (int r = nrh; r >= nrl; r--) free_vector(m[r], ncl, nch);
  q4_free(m + nrl, __FILE__, __LINE__);
}

int PlaneXfmQ4::svdcmp(double** a, int m, int n, double* w, double** v) {
  if (m < n || n < 1 || !a || !w || !v) return 1;
  Eigen::MatrixXd A(m, n);
  for (int i = 0; i < m; i++)
    for (int j = 0; j < n; j++) A(i, j) = a[i + 1][j + 1];
  if (!A.allFinite()) return 1;
  Eigen::JacobiSVD<Eigen::MatrixXd> svd(A, Eigen::ComputeThinU | Eigen::ComputeThinV);
  if (svd.info() != Eigen::Success) return 1;
  const Eigen::MatrixXd& U = svd.matrixU();
  const Eigen::MatrixXd& V = svd.matrixV();
  for (int i = 0; i < m; i++)
    for (int j = 0; j < n; j++) a[i + 1][j + 1] = U(i, j);
  for (int j = 0; j < n; j++) {
    w[j + 1] = svd.singularValues()(j);
    for (int k = 0; k < n; k++) v[j + 1][k + 1] = V(j, k);
  }
  return 0;
}

void PlaneXfmQ4::svbksb(double** u, double* w, double** v, int m, int n, double* b, double* x) {
  // Small systems (the homography has 8 unknowns) need no heap block.
  double local[33];
  double* tmp = n < 33 ? local : vector(1, n);
  if (!tmp) {
    for (int j = 1; j <= n; j++) x[j] = 0.0;
    return;
  }
  for (int j = 1; j <= n; j++) {
    double s = 0.0;
    // An exactly zero singular value drops its component; no threshold.
    if (w[j] != 0.0) {
      for (int i = 1; i <= m; i++) s += u[i][j] * b[i];
      s /= w[j];
    }
    tmp[j] = s;
  }
  for (int j = 1; j <= n; j++) {
    double s = 0.0;
    for (int k = 1; k <= n; k++) s += v[j][k] * tmp[k];
    x[j] = s;
  }
  if (tmp != local) free_vector(tmp, 1, n);
}
