#ifndef POLY_LINE_2D_Q4_H
#define POLY_LINE_2D_Q4_H

#include "xfm_points.h"

// Growable editable polyline with one picked point that edits default to
// (index -1). The array always keeps one free entry.
class PolyLine2DQ4 {
public:
  PolyLine2DQ4();
  virtual ~PolyLine2DQ4();
  PolyLine2DQ4(const PolyLine2DQ4&) = delete;
  PolyLine2DQ4& operator=(const PolyLine2DQ4&) = delete;

  void reset();
  bool grow_polyline();
  bool add_point(tagDPT2 p);
  int pick_point(tagDPT2 p, double radius);
  bool delete_point(int index);
  bool insert_point(int index);
  bool set_point(tagDPT2 p, int index);
  void set_tag(int new_tag) { tag = new_tag; }

  int tag;
  tagDPT2* points;
  int count;
  int capacity;
  int picked;
  double picked_dist2;
  PolyLine2DQ4* next;

private:
  void allocate_initial();
  // Index of an existing point, -1 resolved to the picked point; -1 if none.
  int resolve_index(int index) const;
};

#endif
