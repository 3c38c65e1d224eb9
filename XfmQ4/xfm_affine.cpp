// Affine transforms of ImageXfmQ4: elementary operations compose into
// matrix; set_transform turns it into the target-to-source mapping that
// apply resamples through.
#include <cmath>

#include "ImageXfmQ4.h"

void ImageXfmQ4::compose_op(double m0, double m1, double m2, double m3, double m4, double m5) {
  op_matrix[0] = m0;
  op_matrix[1] = m1;
  op_matrix[2] = m2;
  op_matrix[3] = m3;
  op_matrix[4] = m4;
  op_matrix[5] = m5;
  compose();
}

namespace {

// p = x y: the affine map y acts on a point first, then x. Matrices are
// {a, b, c, d, e, f} for (x, y) -> (a x + c y + e, b x + d y + f).
void affine_product(const double* x, const double* y, double* p) {
  p[0] = x[0] * y[0] + x[2] * y[1];
  p[1] = x[1] * y[0] + x[3] * y[1];
  p[2] = x[0] * y[2] + x[2] * y[3];
  p[3] = x[1] * y[2] + x[3] * y[3];
  p[4] = x[0] * y[4] + x[2] * y[5] + x[4];
  p[5] = x[1] * y[4] + x[3] * y[5] + x[5];
}

}  // namespace

void ImageXfmQ4::compose() {
  // Order 1: the new operation acts on a point first.
  if (compose_order == 1)
    affine_product(matrix, op_matrix, product_matrix);
  else
    affine_product(op_matrix, matrix, product_matrix);
  for (int i = 0; i < 6; i++) matrix[i] = product_matrix[i];
}

void ImageXfmQ4::translate(double tx, double ty) { compose_op(1, 0, 0, 1, tx, ty); }

void ImageXfmQ4::rotate(double degrees) {
  // Degrees to radians with pi taken as 3.1415926, so that a rotation
  // lands where transforms made with that constant put it.
  const double theta = degrees * 0.017453292222222222;
  const double c = std::cos(theta), s = std::sin(theta);
  compose_op(c, s, -s, c, 0, 0);
}

void ImageXfmQ4::scale(double sx, double sy) { compose_op(sx, 0, 0, sy, 0, 0); }
void ImageXfmQ4::shearx(double s) { compose_op(1, 0, s, 1, 0, 0); }
void ImageXfmQ4::sheary(double s) { compose_op(1, s, 0, 1, 0, 0); }

void ImageXfmQ4::set_transform(int mode) {
  const double* a = matrix;
  double* inv = inverse_matrix;
  if (mode == 2) {
    for (int i = 0; i < 6; i++) inv[i] = a[i];
    inv[6] = 1.0;
    return;
  }
  const double det = a[0] * a[3] - a[2] * a[1];
  if (!(std::fabs(det) >= 1e-6)) {
    // Not invertible: sample at the target positions themselves.
    static const double identity[7] = {1, 0, 0, 1, 0, 0, 1};
    for (int i = 0; i < 7; i++) inv[i] = identity[i];
    return;
  }
  const double r = 1.0 / det;
  inv[0] = a[3] * r;
  inv[1] = -a[1] * r;
  inv[2] = -a[2] * r;
  inv[3] = a[0] * r;
  inv[4] = (a[2] * a[5] - a[3] * a[4]) * r;
  inv[5] = (a[1] * a[4] - a[0] * a[5]) * r;
  inv[6] = det * r;
}

void ImageXfmQ4::apply(ImageQ4* src, ImageQ4* dst, int first_row, int last_row) {
  if (!src || !dst) return;
  if (first_row < 0) first_row = 0;
  if (last_row > dst->height - 1) last_row = dst->height - 1;
  const double* inv = inverse_matrix;
  const double fx = std::sqrt(inv[0] * inv[0] + inv[1] * inv[1]) / inv[6];
  const double fy = std::sqrt(inv[2] * inv[2] + inv[3] * inv[3]) / inv[6];
  for (int y = first_row; y <= last_row; y++) {
    PixelQ4* out = dst->rows[y];
    for (int x = 0; x < dst->width; x++) {
      const double sx = (inv[0] * x + inv[2] * y + inv[4]) / inv[6];
      const double sy = (inv[1] * x + inv[3] * y + inv[5]) / inv[6];
      out[x] = sample_image(src, sx, sy, fx, fy);
    }
  }
}
