#include "polyline_geometry.h"

#include <cmath>

double dist_from_point_to_line_2D(tagDPT2 p, tagDPT2 a, tagDPT2 b, double* t) {
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double len2 = dx * dx + dy * dy;
  double u = 0.0;
  if (len2 >= 1e-10) {
    u = -((a.x - p.x) * dx + (a.y - p.y) * dy) / len2;
    if (u < 0.0) u = 0.0;
    if (u > 1.0) u = 1.0;
  }
  if (t) *t = u;
  return std::hypot(a.x + u * dx - p.x, a.y + u * dy - p.y);
}

int intersection_of_lines_2D(tagDPT2 p1, tagDPT2 p2, tagDPT2 q1, tagDPT2 q2, tagDPT2& out, double* s,
                             double* t) {
  if (s) *s = 0.0;
  if (t) *t = 0.0;
  const double d1x = p2.x - p1.x, d1y = p2.y - p1.y;
  const double d2x = q2.x - q1.x, d2y = q2.y - q1.y;
  const double wx = q1.x - p1.x, wy = q1.y - p1.y;
  const double den = d1y * d2x - d1x * d2y;
  if (std::fabs(den) < 1e-10) return 1;
  const double u = (d2x * wy - d2y * wx) / den;
  const double v = (d1x * wy - wx * d1y) / den;
  if (s) *s = u;
  if (t) *t = v;
  if (u < 0.0 || u > 1.0 || v < 0.0 || v > 1.0) return 2;
  out.x = p1.x + u * d1x;
  out.y = p1.y + u * d1y;
  return 0;
}
