#ifndef XFM_POINTS_H
#define XFM_POINTS_H

// Point records shared by the plane transform and the polylines.
struct tagDPT2 {
  double x;
  double y;
};

struct tagDPT3 {
  double x;
  double y;
  double z;
};

#endif
