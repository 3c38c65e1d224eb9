#include <cmath>

#include <gtest/gtest.h>

#include "PolyLine2DQ4.h"
#include "PolyLineSet2DQ4.h"
#include "polyline_geometry.h"

namespace {

bool same(tagDPT2 a, tagDPT2 b) { return a.x == b.x && a.y == b.y; }

TEST(PolyLine, GrowthKeepsOneFreeEntryAndThePoints) {
  PolyLine2DQ4 line;
  EXPECT_EQ(line.tag, -1);
  int grew_at[2] = {0, 0}, n = 0;
  for (int i = 0; i < 64; i++) {
    const int before = line.capacity;
    ASSERT_TRUE(line.add_point({double(i), double(-i)}));
    if (line.capacity != before) grew_at[n++] = i + 1;
  }
  EXPECT_EQ(grew_at[0], 32);  // the 32nd point grows 32 -> 64
  EXPECT_EQ(grew_at[1], 64);  // the 64th 64 -> 128
  EXPECT_EQ(line.capacity, 128);
  for (int i = 0; i < 64; i++) ASSERT_TRUE(same(line.points[i], {double(i), double(-i)}));
  ASSERT_TRUE(line.insert_point(63));
  EXPECT_TRUE(same(line.points[64], {63, -63}));
}

TEST(PolyLine, PickDeleteInsertSet) {
  PolyLine2DQ4 line;
  EXPECT_EQ(line.pick_point({0, 0}, 10), -1);
  const tagDPT2 a = {0, 3}, b = {3, 0}, c = {10, 10};
  line.add_point(a);
  line.add_point(b);  // same distance as a: the first wins
  line.add_point(c);
  EXPECT_EQ(line.pick_point({0, 0}, 4), 0);
  EXPECT_EQ(line.picked_dist2, 9);
  EXPECT_EQ(line.pick_point({0, 0}, 3), -1);  // exactly at the radius
  EXPECT_FALSE(line.delete_point(-1));
  EXPECT_FALSE(line.delete_point(3));
  EXPECT_FALSE(line.set_point(a, -2));

  EXPECT_EQ(line.pick_point({9, 9}, 2), 2);
  ASSERT_TRUE(line.delete_point(0));  // before the pick: same point, one lower
  EXPECT_EQ(line.picked, 1);
  ASSERT_TRUE(line.set_point({9, 9}, -1));
  EXPECT_TRUE(same(line.points[1], {9, 9}));
  ASSERT_TRUE(line.delete_point(-1));
  EXPECT_EQ(line.picked, -1);
  EXPECT_EQ(line.count, 1);

  for (int index : {0, -1}) {  // (A, B) becomes (A, A, B) either way
    PolyLine2DQ4 ab;
    ab.add_point(a);
    ab.add_point(b);
    ASSERT_TRUE(ab.insert_point(index));
    EXPECT_EQ(ab.picked, index + 1);
    EXPECT_TRUE(same(ab.points[0], a) && same(ab.points[1], a) && same(ab.points[2], b));
    EXPECT_FALSE(ab.insert_point(3));
  }
  PolyLine2DQ4 empty;
  EXPECT_FALSE(empty.insert_point(-1));
  EXPECT_FALSE(empty.set_point(a, 0));

  // Reset keeps the old pick; the index checks keep it from reaching past
  // the new points.
  for (int i = 0; i < 10; i++) line.add_point({double(i), 50});
  EXPECT_EQ(line.pick_point({5, 50}, 1), 6);
  line.reset();
  EXPECT_EQ(line.tag, -1);
  EXPECT_EQ(line.capacity, 32);
  line.add_point(a);
  line.add_point(b);
  EXPECT_FALSE(line.set_point(c, -1));
  EXPECT_FALSE(line.delete_point(-1));
}

TEST(PolyLineSet, CreateFindPickDelete) {
  PolyLineSet2DQ4 set;
  EXPECT_EQ(set.pick_line({0, 0}, 5), nullptr);
  PolyLine2DQ4* first = set.new_line(7);
  PolyLine2DQ4* second = set.new_line(7);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(set.current_line, second);
  EXPECT_EQ(set.find_line(7), second);
  EXPECT_EQ(set.find_line(8), nullptr);

  first->add_point({2, 0});
  second->add_point({0, 3});
  EXPECT_EQ(set.pick_line({0, 0}, 5), first);
  EXPECT_EQ(second->picked, 0);
  second->set_point({0, -2}, 0);
  EXPECT_EQ(set.pick_line({0, 0}, 5), second);  // tie: the newer line
  EXPECT_EQ(set.pick_line({50, 50}, 5), nullptr);
  EXPECT_EQ(set.current_line, nullptr);

  PolyLineSet2DQ4 other;
  EXPECT_FALSE(set.delete_line(other.new_line(1)));
  set.pick_line({0, 0}, 5);
  EXPECT_TRUE(set.delete_line(second));
  EXPECT_EQ(set.current_line, nullptr);
  EXPECT_EQ(set.find_line(7), first);
  set.reset();
  EXPECT_EQ(set.lines, nullptr);
}

TEST(PolyLineGeometry, DistanceAndIntersection) {
  double t = -1, s = -1;
  EXPECT_DOUBLE_EQ(dist_from_point_to_line_2D({5, 5}, {0, 0}, {10, 0}, &t), 5);
  EXPECT_DOUBLE_EQ(t, 0.5);
  EXPECT_DOUBLE_EQ(dist_from_point_to_line_2D({15, 0}, {0, 0}, {10, 0}, &t), 5);
  EXPECT_DOUBLE_EQ(t, 1);
  EXPECT_DOUBLE_EQ(dist_from_point_to_line_2D({4, 5}, {1, 1}, {1, 1}, &t), 5);
  EXPECT_DOUBLE_EQ(t, 0);
  EXPECT_NEAR(dist_from_point_to_line_2D({0, 2}, {-1, 0}, {1, 2}, nullptr), std::sqrt(0.5), 1e-15);

  tagDPT2 out = {-9, -9};
  EXPECT_EQ(intersection_of_lines_2D({0, 0}, {2, 0}, {1, -1}, {1, 1}, out, &s, &t), 0);
  EXPECT_TRUE(same(out, {1, 0}));
  EXPECT_DOUBLE_EQ(s, 0.5);
  EXPECT_DOUBLE_EQ(t, 0.5);
  out = {-9, -9};
  EXPECT_EQ(intersection_of_lines_2D({0, 0}, {2, 0}, {0, 1}, {2, 1}, out, &s, &t), 1);
  EXPECT_EQ(s + t, 0);
  EXPECT_EQ(intersection_of_lines_2D({0, 0}, {2, 0}, {4, -1}, {4, 1}, out, &s, &t), 2);
  EXPECT_DOUBLE_EQ(s, 2);  // the lines meet at (4, 0)
  EXPECT_DOUBLE_EQ(t, 0.5);
  EXPECT_EQ(out.x, -9);
}

}  // namespace
