#ifndef POLYLINE_GEOMETRY_H
#define POLYLINE_GEOMETRY_H

#include "xfm_points.h"

// Distance from p to the segment a-b; t receives the segment parameter of
// the nearest point (0 when a and b coincide).
double dist_from_point_to_line_2D(tagDPT2 p, tagDPT2 a, tagDPT2 b, double* t);

// 0: the segments cross (out receives the crossing); 1: parallel; 2: the
// lines cross outside either segment. s and t receive the parameters along
// p1-p2 and q1-q2 (0 when parallel).
int intersection_of_lines_2D(tagDPT2 p1, tagDPT2 p2, tagDPT2 q1, tagDPT2 q2, tagDPT2& out, double* s,
                             double* t);

#endif
