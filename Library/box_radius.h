#ifndef BOX_RADIUS_H
#define BOX_RADIUS_H

// How the box-pass Gaussian honours a fractional radius on lines of n
// samples: three passes at r and, when the fraction is above 0.01, three at
// r + 1, mixed as (w0 * at_r + w1 * at_r1) >> 10. The radius is limited to
// n / 2; a negative one counts as 0.
struct BoxRadius {
  int r;
  bool blend;
  int w0, w1;
};
BoxRadius box_radius_of(double box_radius, int n);

#endif
