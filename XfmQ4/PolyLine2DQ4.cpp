#include "PolyLine2DQ4.h"

#include <climits>
#include <cstring>

#include "q4_memory.h"

static const int initial_capacity = 32;

PolyLine2DQ4::PolyLine2DQ4()
    : tag(-1), points(nullptr), count(0), capacity(0), picked(-1), picked_dist2(0.0), next(nullptr) {
  allocate_initial();
}

PolyLine2DQ4::~PolyLine2DQ4() {
  if (points) q4_free(points, __FILE__, __LINE__);
}

void PolyLine2DQ4::allocate_initial() {
  points = static_cast<tagDPT2*>(q4_malloc(initial_capacity * sizeof(tagDPT2), __FILE__, __LINE__));
  capacity = points ? initial_capacity : 0;
  count = 0;
}

void PolyLine2DQ4::reset() {
  if (points) q4_free(points, __FILE__, __LINE__);
  tag = -1;
  allocate_initial();
}

bool PolyLine2DQ4::grow_polyline() {
  if (!points) return false;
  if (count + 1 != capacity) return true;
  const long long wanted = 2LL * (count + 1);
  if (wanted > INT_MAX || wanted * sizeof(tagDPT2) > UINT_MAX) return false;
  void* grown = q4_realloc(points, (unsigned)(wanted * sizeof(tagDPT2)), __FILE__, __LINE__);
  // A failed growth keeps the old array and its points.
  if (!grown) return false;
  points = static_cast<tagDPT2*>(grown);
  capacity = (int)wanted;
  return true;
}

bool PolyLine2DQ4::add_point(tagDPT2 p) {
  if (!points || !grow_polyline()) return false;
  points[count++] = p;
  return true;
}

int PolyLine2DQ4::pick_point(tagDPT2 p, double radius) {
  if (!points || count <= 0) {
    picked = -1;
    return picked;
  }
  int best = 0;
  double best_d2 = 0.0;
  for (int i = 0; i < count; i++) {
    const double dx = p.x - points[i].x, dy = p.y - points[i].y;
    const double d2 = dx * dx + dy * dy;
    if (i == 0 || d2 < best_d2) {
      best = i;
      best_d2 = d2;
    }
  }
  if (radius * radius > best_d2) {
    picked = best;
    picked_dist2 = best_d2;
  } else {
    picked = -1;
  }
  return picked;
}

int PolyLine2DQ4::resolve_index(int index) const {
  if (!points || count <= 0 || index < -1 || index >= count) return -1;
  if (index == -1) return (picked >= 0 && picked < count) ? picked : -1;
  return index;
}

bool PolyLine2DQ4::delete_point(int index) {
  const int victim = resolve_index(index);
  if (victim < 0) return false;
  std::memmove(points + victim, points + victim + 1, (size_t)(count - victim - 1) * sizeof(tagDPT2));
  count--;
  if (picked == victim) picked = -1;
  else if (picked > victim) picked--;
  return true;
}

bool PolyLine2DQ4::insert_point(int index) {
  if (!points || count <= 0 || index < -1 || index >= count) return false;
  if (!grow_polyline()) return false;
  // Index -1 duplicates the first point in front of it.
  const int source = index < 0 ? 0 : index;
  std::memmove(points + source + 1, points + source, (size_t)(count - source) * sizeof(tagDPT2));
  count++;
  picked = index < 0 ? 0 : index + 1;
  picked_dist2 = 0.0;
  return true;
}

bool PolyLine2DQ4::set_point(tagDPT2 p, int index) {
  const int target = resolve_index(index);
  if (target < 0) return false;
  points[target] = p;
  return true;
}
