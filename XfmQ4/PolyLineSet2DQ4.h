#ifndef POLY_LINE_SET_2D_Q4_H
#define POLY_LINE_SET_2D_Q4_H

#include "PolyLine2DQ4.h"

// Owns a list of polylines, most recently created first.
class PolyLineSet2DQ4 {
public:
  PolyLineSet2DQ4();
  virtual ~PolyLineSet2DQ4();
  PolyLineSet2DQ4(const PolyLineSet2DQ4&) = delete;
  PolyLineSet2DQ4& operator=(const PolyLineSet2DQ4&) = delete;

  void reset();
  PolyLine2DQ4* new_line(int tag);
  bool delete_line(PolyLine2DQ4* line);
  PolyLine2DQ4* pick_line(tagDPT2 p, double radius);
  PolyLine2DQ4* find_line(int tag);

  PolyLine2DQ4* lines;
  PolyLine2DQ4* current_line;
};

#endif
