#include "PolyLineSet2DQ4.h"

#include <cmath>
#include <new>

PolyLineSet2DQ4::PolyLineSet2DQ4() : lines(nullptr), current_line(nullptr) {}

PolyLineSet2DQ4::~PolyLineSet2DQ4() { reset(); }

void PolyLineSet2DQ4::reset() {
  while (lines) {
    PolyLine2DQ4* line = lines;
    lines = line->next;
    delete line;
  }
  current_line = nullptr;
}

PolyLine2DQ4* PolyLineSet2DQ4::new_line(int tag) {
  PolyLine2DQ4* line = new (std::nothrow) PolyLine2DQ4;
  if (!line) return nullptr;
  if (!line->points) {
    delete line;
    return nullptr;
  }
  line->set_tag(tag);
  line->next = lines;
  lines = line;
  current_line = line;
  return line;
}

bool PolyLineSet2DQ4::delete_line(PolyLine2DQ4* line) {
  for (PolyLine2DQ4** link = &lines; *link; link = &(*link)->next) {
    if (*link != line) continue;
    *link = line->next;
    if (current_line == line) current_line = nullptr;
    delete line;
    return true;
  }
  return false;
}

PolyLine2DQ4* PolyLineSet2DQ4::pick_line(tagDPT2 p, double radius) {
  if (!lines) return nullptr;
  PolyLine2DQ4* best = nullptr;
  double best_dist = 0.0;
  for (PolyLine2DQ4* line = lines; line; line = line->next) {
    if (line->pick_point(p, radius) < 0) continue;
    const double dist = std::sqrt(line->picked_dist2);
    if (!best || dist < best_dist) {
      best = line;
      best_dist = dist;
    }
  }
  current_line = best;
  return best;
}

PolyLine2DQ4* PolyLineSet2DQ4::find_line(int tag) {
  for (PolyLine2DQ4* line = lines; line; line = line->next)
    if (line->tag == tag) return line;
  return nullptr;
}
