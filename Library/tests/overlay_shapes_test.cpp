// Geometry of the overlay primitives and shapes, read back through GL's
// feedback mode in a real context.
#include <cmath>

#include "overlay_fixture.h"

namespace {

class OverlayShapes : public OverlayFixture {};

float direction_deg(const FbPrimitive& line) {
  return (float)(std::atan2(line.v[1].y - line.v[0].y, line.v[1].x - line.v[0].x) * 180.0 / M_PI);
}

float length_of(const FbPrimitive& line) {
  return std::hypot(line.v[1].x - line.v[0].x, line.v[1].y - line.v[0].y);
}

TEST_F(OverlayShapes, HandleCornersInOrderAtEveryZoom) {
  for (float zoom : {1.0f, 2.0f}) {
    surface.zoom = zoom;
    const float h = 5.0f / zoom;
    EXPECT_FLOAT_EQ(surface.GrabHandleSize(), h);
    feedback_begin();
    surface.DrawHandle(100.0f, 50.0f);
    const auto polys = only(feedback_end(), GL_POLYGON_TOKEN);
    ASSERT_EQ(polys.size(), 1u);
    ASSERT_EQ(polys[0].v.size(), 4u);
    EXPECT_VERTEX(polys[0].v[0], 100 - h, 50 - h);
    EXPECT_VERTEX(polys[0].v[1], 100 + h, 50 - h);
    EXPECT_VERTEX(polys[0].v[2], 100 + h, 50 + h);
    EXPECT_VERTEX(polys[0].v[3], 100 - h, 50 + h);
  }
}

TEST_F(OverlayShapes, ColourChannelsAreSixteenBit) {
  feedback_begin();
  surface.SetColour(65535, 0, 32768, 0);
  surface.DrawPixel(10.0f, 20.0f);
  const auto points = only(feedback_end(), GL_POINT_TOKEN);
  ASSERT_EQ(points.size(), 1u);
  EXPECT_VERTEX(points[0].v[0], 10, 20);
  EXPECT_NEAR(points[0].v[0].r, 1.0, 1e-6);
  EXPECT_NEAR(points[0].v[0].g, 0.0, 1e-6);
  EXPECT_NEAR(points[0].v[0].b, 0.5, 1e-4);
}

TEST_F(OverlayShapes, DottedLineStartsWithAGapAndStopsAtTheEnd) {
  feedback_begin();
  surface.DrawLineDotted(10, 20, 20, 20, 4);  // length 10: gap, dash 4..8, gap
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_VERTEX(lines[0].v[0], 14, 20);
  EXPECT_VERTEX(lines[0].v[1], 18, 20);

  // Length 6: the dash from 4 is cut at the end, whichever the direction.
  feedback_begin();
  surface.DrawLineDotted(10, 30, 16, 30, 4);
  surface.DrawLineDotted(16, 40, 10, 40, 4);
  surface.DrawLineDotted(50, 50, 50, 44, 4);
  lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_VERTEX(lines[0].v[0], 14, 30);
  EXPECT_VERTEX(lines[0].v[1], 16, 30);
  EXPECT_VERTEX(lines[1].v[0], 12, 40);
  EXPECT_VERTEX(lines[1].v[1], 10, 40);
  EXPECT_VERTEX(lines[2].v[0], 50, 46);
  EXPECT_VERTEX(lines[2].v[1], 50, 44);
}

TEST_F(OverlayShapes, DottedLineWithoutPiecesDrawsNothing) {
  feedback_begin();
  surface.DrawLineDotted(30, 30, 30, 30, 4);
  surface.DrawLineDotted(10, 10, 100, 100, 0);
  surface.DrawLineDotted(10, 10, 100, 100, -3);
  EXPECT_TRUE(feedback_end().empty());
}

TEST_F(OverlayShapes, EllipseVerticesLieOnTheRotatedEllipse) {
  const float cx = 120, cy = 110, w = 100, h = 60, angle = 30;
  feedback_begin();
  surface.DrawEllipse(cx, cy, w, h, angle, 0, 4, 0, 360);
  const auto lines = Lines();
  ASSERT_GT(lines.size(), 10u);
  const double t = angle * M_PI / 180.0;
  for (const FbPrimitive& l : lines) {
    for (const FbVertex& v : l.v) {
      const double dx = v.x - cx, dy = v.y - cy;
      const double ex = std::cos(t) * dx + std::sin(t) * dy;
      const double ey = -std::sin(t) * dx + std::cos(t) * dy;
      EXPECT_NEAR(ex * ex / (50.0 * 50.0) + ey * ey / (30.0 * 30.0), 1.0, 1e-3);
    }
  }
  // The first vertex joins itself; the last line closes onto the first point.
  EXPECT_FLOAT_EQ(length_of(lines.front()), 0.0f);
  EXPECT_VERTEX(lines.back().v[0], lines.front().v[0].x, lines.front().v[0].y);
  EXPECT_VERTEX(lines[1].v[1], lines.front().v[0].x, lines.front().v[0].y);
}

TEST_F(OverlayShapes, EllipseClosesOnlyOverTheFullTurn) {
  // w = 100, seglen 4: step 360 / (100 pi / 4) = 4.58 degrees, 79 vertices
  // from 0 to 357.5 either way.
  feedback_begin();
  surface.DrawEllipse(128, 128, 100, 100, 0, 0, 4, 0, 360);
  const auto full = Lines();
  feedback_begin();
  surface.DrawEllipse(128, 128, 100, 100, 0, 0, 4, 0, 359);
  const auto open = Lines();
  EXPECT_EQ(open.size(), 79u);
  EXPECT_EQ(full.size(), 80u);
  // Each open line runs from the new point back to the previous one.
  EXPECT_VERTEX(open[1].v[1], 178, 128);

  // Dotted: only every second step draws, and the closing line still does.
  feedback_begin();
  surface.DrawEllipse(128, 128, 100, 100, 0, 1, 4, 0, 360);
  EXPECT_EQ(Lines().size(), 39u + 1u);
}

TEST_F(OverlayShapes, EllipseTooSmallOrWithoutStepDrawsNothing) {
  feedback_begin();
  surface.DrawEllipse(100, 100, 4.9f, 50, 0, 0, 4, 0, 360);
  surface.DrawEllipse(100, 100, 50, 4.9f, 0, 0, 4, 0, 360);
  surface.DrawEllipse(100, 100, 50, 50, 0, 0, 0, 0, 360);
  surface.DrawEllipse(100, 100, 50, 50, 0, 0, -4, 0, 360);
  surface.DrawEllipse(100, 100, 50, 50, 0, 0, 4, 90, 10);
  EXPECT_TRUE(feedback_end().empty());
}

TEST_F(OverlayShapes, ArrowHeadOpensTwentyDegreesEachSide) {
  struct Case {
    float x2, y2, phi;
  } cases[] = {{100, 110, 90}, {90, 90, 225}, {110, 100, 0}, {90, 100, 180}, {110, 90, 315}};
  surface.zoom = 2.0f;
  for (const Case& c : cases) {
    feedback_begin();
    surface.DrawArrow(100, 100, c.x2, c.y2);
    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    for (int k = 0; k < 2; ++k) {
      EXPECT_VERTEX(lines[k].v[0], 100, 100);
      EXPECT_NEAR(length_of(lines[k]), 20.0, 1e-3);
    }
    const float expect[2] = {c.phi + 20, c.phi - 20};
    for (int k = 0; k < 2; ++k) {
      const float diff = std::remainder(direction_deg(lines[k]) - expect[k], 360.0f);
      EXPECT_NEAR(diff, 0.0, 1e-3) << "toward " << c.x2 << "," << c.y2;
    }
  }
}

TEST_F(OverlayShapes, CrosshairArmsLeaveTheCentreEmpty) {
  surface.zoom = 2.0f;  // d1 = 5, d2 = 12.5
  feedback_begin();
  surface.DrawCrosshair(100, 100, 0);
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 4u);
  const float arms[4][4] = {{105, 100, 112.5f, 100}, {95, 100, 87.5f, 100},
                            {100, 105, 100, 112.5f}, {100, 95, 100, 87.5f}};
  for (int k = 0; k < 4; ++k) {
    EXPECT_VERTEX(lines[k].v[0], arms[k][0], arms[k][1]);
    EXPECT_VERTEX(lines[k].v[1], arms[k][2], arms[k][3]);
  }
  feedback_begin();
  surface.DrawCrosshair(100, 100, 1);
  lines = Lines();
  ASSERT_EQ(lines.size(), 8u);
  const float diag[4][4] = {{102.5f, 102.5f, 106.25f, 106.25f}, {97.5f, 102.5f, 93.75f, 106.25f},
                            {102.5f, 97.5f, 106.25f, 93.75f}, {97.5f, 97.5f, 93.75f, 93.75f}};
  for (int k = 0; k < 4; ++k) {
    EXPECT_VERTEX(lines[4 + k].v[0], diag[k][0], diag[k][1]);
    EXPECT_VERTEX(lines[4 + k].v[1], diag[k][2], diag[k][3]);
  }
}

TEST_F(OverlayShapes, RectangleCornersFollowRotationAndAspect) {
  surface.aspect_num = 2.0f;  // a = (h / 2) / 2
  feedback_begin();
  surface.DrawRectangle(100, 100, 40, 40, 90, 0, 0);
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 4u);
  // b = 20, a = 10, rotated 90: P1 (90, 140), P2 (110, 140), P3 (110, 60), P4 (90, 60).
  const float corners[4][2] = {{90, 140}, {110, 140}, {110, 60}, {90, 60}};
  for (int k = 0; k < 4; ++k) {
    EXPECT_VERTEX(lines[k].v[0], corners[k][0], corners[k][1]);
    EXPECT_VERTEX(lines[k].v[1], corners[(k + 1) % 4][0], corners[(k + 1) % 4][1]);
  }
  // Dotted edges are dashes of the given length, starting with a gap.
  surface.aspect_num = 1.0f;
  feedback_begin();
  surface.DrawRectangle(100, 100, 20, 20, 0, 1, 4);
  const auto dashes = Lines();
  ASSERT_EQ(dashes.size(), 8u);  // per edge of 20: dashes 4..8 and 12..16
  EXPECT_VERTEX(dashes[0].v[0], 110, 106);
  EXPECT_VERTEX(dashes[0].v[1], 110, 102);
}

TEST_F(OverlayShapes, TextStrokesAndWidth) {
  char empty[] = "";
  EXPECT_FLOAT_EQ(surface.DrawText(10, 10, empty, 1, 1, 1), 0.0f);
  // 'A' is 18 wide, 'B' 21; control characters and DEL neither draw nor advance.
  char mixed[] = "A\x01\x7f" "B";
  EXPECT_FLOAT_EQ(surface.DrawText(10, 10, mixed, 2, 1, 0), (18 + 21) * 2.0f);

  surface.zoom = 2.0f;
  char a[] = "A";
  feedback_begin();
  EXPECT_FLOAT_EQ(surface.DrawText(10, 20, a, 2, 3, 1), 36.0f);
  const auto lines = Lines();
  // Strokes of A: (9,21)-(1,0), (9,21)-(17,0), (4,7)-(14,7); x' = (x sx + x0 zoom) / zoom,
  // y' = (y sy + y0) / zoom.
  ASSERT_EQ(lines.size(), 3u);
  const float strokes[3][4] = {{9, 21, 1, 0}, {9, 21, 17, 0}, {4, 7, 14, 7}};
  for (int k = 0; k < 3; ++k) {
    EXPECT_VERTEX(lines[k].v[0], (strokes[k][0] * 2 + 20) / 2, (strokes[k][1] * 3 + 20) / 2);
    EXPECT_VERTEX(lines[k].v[1], (strokes[k][2] * 2 + 20) / 2, (strokes[k][3] * 3 + 20) / 2);
  }
  feedback_begin();
  char space[] = " ";
  EXPECT_FLOAT_EQ(surface.DrawText(10, 20, space, 1, 1, 1), 16.0f);
  EXPECT_TRUE(feedback_end().empty());
}

}  // namespace
