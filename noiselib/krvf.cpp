#include "krvf.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>

#include "fft_rcs.h"
#include "mtrandom.h"
#include "q4_memory.h"

namespace {

const double two_pi = 6.2831853;
const double four_pi = 12.5663706;
const double last_fraction = 0.99999;
// A reduced diagonal this small against its original is a rounding remnant
// of an exact zero; real pivots are at least ~1e-5 of it for n <= 256.
const double pivot_tolerance = 1e-9;

// Per axis: the two lattice indices around a normalised coordinate and the
// weight of the upper one. Non-finite coordinates sample the origin.
inline void lattice_span(double x, int N, int& i0, int& i1, double& t) {
  double f = x - std::floor(x);
  if (!(f >= 0.0)) f = 0.0;
  f = std::min(f, last_fraction);
  const double X = f * N;
  i0 = static_cast<int>(X);
  i1 = i0 + 1 == N ? 0 : i0 + 1;
  t = X - i0;
}

inline double lerp(double a, double b, double t) { return a + (b - a) * t; }

}  // namespace

KRVF::KRVF()
    : k(4.0), amplitude(1.0), seed(-1), degenerate_count(0), N(0), n(0), master(nullptr),
      u_re(nullptr), u_im(nullptr), v_re(nullptr), v_im(nullptr), w_re(nullptr), w_im(nullptr),
      u_min(0), u_max(0), v_min(0), v_max(0), w_min(0), w_max(0), magnitude_min(0),
      magnitude_max(0), magnitude_mean(0), u_mean(0), v_mean(0), w_mean(0) {
  for (MTRandom*& g : generators) g = nullptr;
}

KRVF::~KRVF() { free_arrays(); }

void KRVF::free_arrays() {
  double** arrays[6] = {&u_re, &u_im, &v_re, &v_im, &w_re, &w_im};
  for (double** a : arrays) {
    if (*a) q4_free(*a, __FILE__, __LINE__);
    *a = nullptr;
  }
}

bool KRVF::leave_empty() {
  free_arrays();
  n = N = 0;
  return false;
}

bool KRVF::set_parameters(int new_seed, int new_n, double new_k, double new_amplitude) {
  if (new_n < 2 || new_n > 256 || (new_n & (new_n - 1)) != 0) return false;
  n = new_n;
  if (!(new_k >= 1.0)) return false;
  k = new_k;
  amplitude = new_amplitude;
  degenerate_count = 0;

  free_arrays();
  N = 2 * n;
  const int total = N * N * N;
  const size_t bytes = static_cast<size_t>(total) * sizeof(double);
  double** arrays[6] = {&u_re, &u_im, &v_re, &v_im, &w_re, &w_im};
  bool allocated = bytes <= UINT_MAX;
  for (int a = 0; a < 6 && allocated; ++a) {
    *arrays[a] = static_cast<double*>(q4_malloc(static_cast<unsigned>(bytes), __FILE__, __LINE__));
    allocated = *arrays[a] != nullptr;
  }
  if (!allocated) return leave_empty();

  seed = new_seed;
  master = new MTRandom(static_cast<unsigned>(seed));
  for (MTRandom*& g : generators) g = new MTRandom(static_cast<unsigned>(master->int_random()));

  for (int l = 0; l <= n; ++l)
    for (int j = 0; j <= n; ++j)
      for (int i = 0; i <= n; ++i) u_hat_find(i, j, l);
  u_hat_finish_hermitian();

  delete master;
  master = nullptr;
  for (MTRandom*& g : generators) {
    delete g;
    g = nullptr;
  }

  bool transformed = true;
  for (int a = 0; a < 3 && transformed; ++a) {
    double* re = *arrays[2 * a];
    double* im = *arrays[2 * a + 1];
    transformed = fft_rcs(re, im, total, N, N, -1) == 0 && fft_rcs(re, im, total, N, N * N, -1) == 0 &&
                  fft_rcs(re, im, total, N, total, -1) == 0;
  }
  if (!transformed) return leave_empty();
  compute_statistics();
  return true;
}

// Cholesky factor of a symmetric covariance with the pivot order fixed by
// which diagonals are non-zero (x first when possible). L is indexed by
// axis: L[row][pivot axis], so column a multiplies the draw of axis a.
void KRVF::factor_covariance(const double M[3][3], double L[3][3]) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) L[r][c] = 0.0;

  int p1 = 0;
  while (p1 < 3 && M[p1][p1] == 0.0) ++p1;
  if (p1 == 3) {
    ++degenerate_count;
    return;
  }
  L[p1][p1] = std::sqrt(std::max(M[p1][p1], 0.0));
  for (int r = 0; r < 3; ++r)
    if (r != p1) L[r][p1] = M[r][p1] / L[p1][p1];

  int p2 = -1;
  for (int r = 0; r < 3 && p2 < 0; ++r) {
    if (r == p1) continue;
    const double reduced = M[r][r] - L[r][p1] * L[r][p1];
    if (reduced > pivot_tolerance * M[r][r]) p2 = r;
  }
  if (p2 < 0) {
    ++degenerate_count;
    return;
  }
  const int p3 = 3 - p1 - p2;
  L[p2][p2] = std::sqrt(std::max(M[p2][p2] - L[p2][p1] * L[p2][p1], 0.0));
  L[p3][p2] = (M[p3][p2] - L[p3][p1] * L[p2][p1]) / L[p2][p2];
  // An axis passed over as second pivot has no variance of its own left.
  if (p3 > p2)
    L[p3][p3] = std::sqrt(std::max(M[p3][p3] - L[p3][p1] * L[p3][p1] - L[p3][p2] * L[p3][p2], 0.0));
}

void KRVF::u_hat_find(int i, int j, int l) {
  // Coefficients are drawn only while the field is being built.
  if (!u_re || !generators[0] || i < 0 || j < 0 || l < 0 || i > n || j > n || l > n) return;
  double re[3] = {0.0, 0.0, 0.0};
  double im[3] = {0.0, 0.0, 0.0};
  const double kappa = std::sqrt(static_cast<double>(i * i + j * j + l * l));
  const double F = kappa > k ? 1.5 * std::pow(amplitude, 1.5) * std::pow(kappa, -2.5) /
                                   (four_pi * std::pow(kappa, 4.0))
                             : 0.0;
  if (F > 0.0) {
    const double q[3] = {static_cast<double>(i), static_cast<double>(j), static_cast<double>(l)};
    const double k2 = kappa * kappa;
    double M[3][3];
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) M[r][c] = F * ((r == c ? k2 : 0.0) - q[r] * q[c]);
    double L[3][3];
    factor_covariance(M, L);

    double zr[3], zi[3];
    for (int a = 0; a < 3; ++a) {
      const double g = generators[2 * a]->double_gaussian_random();
      const double phi = two_pi * generators[2 * a + 1]->double_random();
      zr[a] = g * std::cos(phi);
      zi[a] = g * std::sin(phi);
    }
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) {
        re[r] += L[r][c] * zr[c];
        im[r] += L[r][c] * zi[c];
      }

    // Take out what rounding left along the wave vector.
    const double qh[3] = {q[0] / kappa, q[1] / kappa, q[2] / kappa};
    const double dre = re[0] * qh[0] + re[1] * qh[1] + re[2] * qh[2];
    const double dim = im[0] * qh[0] + im[1] * qh[1] + im[2] * qh[2];
    for (int a = 0; a < 3; ++a) {
      re[a] -= dre * qh[a];
      im[a] -= dim * qh[a];
    }
  }
  store_coefficients(i, j, l, re, im);
}

void KRVF::store_coefficients(int i, int j, int l, const double* re, const double* im) {
  // A mirror (±i, ±j, ±l) holds c reflected along its mirrored axes: only
  // then is it transverse to its own wave vector, so the field stays
  // divergence-free. The field is real only if the point at −q holds the
  // conjugate of the point at q, so the mirrors whose last mirrored axis
  // (l, else j, else i) is flipped hold the conjugate of their partner's
  // reflection (the partner flips exactly the other mirrorable axes). An
  // index of 0 or n is its own mirror (N − n = n) and is never flipped.
  static const int mirrors[8][3] = {{0, 0, 0}, {0, 0, 1}, {1, 1, 1}, {0, 1, 1},
                                    {1, 0, 1}, {1, 1, 0}, {0, 1, 0}, {1, 0, 0}};
  const int index[3] = {i, j, l};
  bool mirrorable[3];
  int last = -1;
  for (int a = 0; a < 3; ++a) {
    mirrorable[a] = index[a] != 0 && index[a] != n;
    if (mirrorable[a]) last = a;
  }
  for (const int* m : mirrors) {
    if ((m[0] && !mirrorable[0]) || (m[1] && !mirrorable[1]) || (m[2] && !mirrorable[2])) continue;
    const bool conjugate = last >= 0 && m[last];
    double sign_re[3], sign_im[3];
    for (int a = 0; a < 3; ++a) {
      const bool flipped = conjugate ? mirrorable[a] && !m[a] : m[a] != 0;
      sign_re[a] = flipped ? -1.0 : 1.0;
      sign_im[a] = conjugate ? -sign_re[a] : sign_re[a];
    }
    const int ii = m[0] ? N - i : i;
    const int jj = m[1] ? N - j : j;
    const int ll = m[2] ? N - l : l;
    const size_t at = (static_cast<size_t>(ll) * N + jj) * N + ii;
    u_re[at] = sign_re[0] * re[0];
    v_re[at] = sign_re[1] * re[1];
    w_re[at] = sign_re[2] * re[2];
    u_im[at] = sign_im[0] * im[0];
    v_im[at] = sign_im[1] * im[1];
    w_im[at] = sign_im[2] * im[2];
  }
}

void KRVF::u_hat_finish_hermitian() {
  if (!u_im) return;
  auto edge = [this](int x) { return x == 0 || x == n; };
  for (int l = 0; l < N; ++l)
    for (int j = 0; j < N; ++j) {
      const bool plane_edge = edge(l) || edge(j);
      const size_t row = (static_cast<size_t>(l) * N + j) * N;
      for (int i = 0; i < N; ++i) {
        if (!plane_edge && !edge(i)) continue;
        u_im[row + i] = 0.0;
        v_im[row + i] = 0.0;
        w_im[row + i] = 0.0;
      }
    }
}

void KRVF::compute_statistics() {
  const size_t total = static_cast<size_t>(N) * N * N;
  u_min = v_min = w_min = magnitude_min = HUGE_VAL;
  u_max = v_max = w_max = magnitude_max = -HUGE_VAL;
  double su = 0.0, sv = 0.0, sw = 0.0, sm = 0.0;
  for (size_t p = 0; p < total; ++p) {
    const double u = u_re[p], v = v_re[p], w = w_re[p];
    const double m = std::sqrt(u * u + v * v + w * w);
    u_min = std::min(u_min, u);
    u_max = std::max(u_max, u);
    v_min = std::min(v_min, v);
    v_max = std::max(v_max, v);
    w_min = std::min(w_min, w);
    w_max = std::max(w_max, w);
    magnitude_min = std::min(magnitude_min, m);
    magnitude_max = std::max(magnitude_max, m);
    su += u;
    sv += v;
    sw += w;
    sm += m;
  }
  u_mean = su / total;
  v_mean = sv / total;
  w_mean = sw / total;
  magnitude_mean = sm / total;
}

bool KRVF::vector_at_norm_pos(double x, double y, double z, double& u, double& v,
                              double& w) const {
  u = v = w = 0.0;
  if (!u_re) return false;
  int i0, i1, j0, j1, l0, l1;
  double tx, ty, tz;
  lattice_span(x, N, i0, i1, tx);
  lattice_span(y, N, j0, j1, ty);
  lattice_span(z, N, l0, l1, tz);
  const size_t r00 = (static_cast<size_t>(l0) * N + j0) * N;
  const size_t r10 = (static_cast<size_t>(l0) * N + j1) * N;
  const size_t r01 = (static_cast<size_t>(l1) * N + j0) * N;
  const size_t r11 = (static_cast<size_t>(l1) * N + j1) * N;
  const double* comps[3] = {u_re, v_re, w_re};
  double out[3];
  for (int c = 0; c < 3; ++c) {
    const double* a = comps[c];
    const double e00 = lerp(a[r00 + i0], a[r00 + i1], tx);
    const double e10 = lerp(a[r10 + i0], a[r10 + i1], tx);
    const double e01 = lerp(a[r01 + i0], a[r01 + i1], tx);
    const double e11 = lerp(a[r11 + i0], a[r11 + i1], tx);
    out[c] = lerp(lerp(e00, e10, ty), lerp(e01, e11, ty), tz);
  }
  u = out[0];
  v = out[1];
  w = out[2];
  return true;
}

bool KRVF::vector_at_norm_pos(const double* pos, double* out) const {
  return vector_at_norm_pos(pos[0], pos[1], pos[2], out[0], out[1], out[2]);
}

bool KRVF::print_u(FILE* out, FILE* in) const {
  fprintf(out, "n = %d\n\n", N);
  for (int l = 0; l < N; ++l)
    for (int j = 0; j < N; ++j) {
      for (int i = 0; i < N; ++i) {
        const size_t p = (static_cast<size_t>(l) * N + j) * N + i;
        fprintf(out, "[%2d,%2d,%2d]{(%7.4f,%7.4f),(%7.4f,%7.4f),(%7.4f,%7.4f)}\n", i, j, l,
                u_re[p], u_im[p], v_re[p], v_im[p], w_re[p], w_im[p]);
      }
      fprintf(out, "PAUSE> ");
      fflush(out);
      fgetc(in);
    }
  return true;
}
