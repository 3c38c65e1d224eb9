// Widget drawings: what each composition draws and where it leaves the
// handles for the hit test.
#include <cmath>

#include "OverlayWidgetsQ4.h"
#include "overlay_fixture.h"

namespace {

class OverlayCompositions : public OverlayFixture {};

TEST_F(OverlayCompositions, CrosshairDrawsArmsAndHandleInItsColour) {
  CrosshairOverlayQ4 w;
  w.x = 0.5f;
  w.y = 0.25f;
  w.colour[0] = 65535;
  w.colour[1] = 0;
  w.colour[2] = 0;
  feedback_begin();
  surface.DrawCrosshairOverlay(&w);
  const auto all = feedback_end();
  EXPECT_EQ(only(all, GL_LINE_TOKEN).size(), 4u);
  const auto polys = only(all, GL_POLYGON_TOKEN);
  ASSERT_EQ(polys.size(), 1u);
  EXPECT_VERTEX(polys[0].v[0], 95, 20);
  EXPECT_FLOAT_EQ(polys[0].v[0].r, 1.0f);
  EXPECT_FLOAT_EQ(polys[0].v[0].g, 0.0f);
  EXPECT_FLOAT_EQ(w.handle_x, 100.0f);
  EXPECT_FLOAT_EQ(w.handle_y, 25.0f);
}

TEST_F(OverlayCompositions, LineHandleSitsInTheMiddle) {
  LineOverlayQ4 w;
  w.x1 = 0.6f;
  w.y1 = 0.2f;
  w.x2 = 0.2f;
  w.y2 = 0.8f;
  feedback_begin();
  surface.DrawLineOverlay(&w);
  const auto all = feedback_end();
  const auto lines = only(all, GL_LINE_TOKEN);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_VERTEX(lines[0].v[0], 120, 20);
  EXPECT_VERTEX(lines[0].v[1], 40, 80);
  EXPECT_EQ(only(all, GL_POLYGON_TOKEN).size(), 1u);
  EXPECT_FLOAT_EQ(w.handle_x, 80.0f);
  EXPECT_FLOAT_EQ(w.handle_y, 50.0f);
}

TEST_F(OverlayCompositions, DirectionEndScalesVerticallyByAspect) {
  AngleOverlayQ4 w;
  w.x = 0.5f;
  w.y = 0.5f;
  w.length = 0.1f;  // 20 view units
  w.angle = 90.0f;
  surface.aspect_num = 1.5f;
  feedback_begin();
  surface.DrawAngleOverlay(&w);
  const auto all = feedback_end();
  EXPECT_EQ(only(all, GL_POLYGON_TOKEN).size(), 1u);
  EXPECT_NEAR(w.handle_x, 100.0f, 1e-4);
  EXPECT_NEAR(w.handle_y, 50.0f + 1.5f * 20.0f, 1e-4);

  // The pointed form: crosshair with diagonals, the stroke, an arrow head at
  // the end opening back toward the origin, and no handle square.
  w.angle = 0.0f;
  feedback_begin();
  surface.DrawPointyAngleOverlay(&w);
  const auto pointy = feedback_end();
  EXPECT_TRUE(only(pointy, GL_POLYGON_TOKEN).empty());
  const auto lines = only(pointy, GL_LINE_TOKEN);
  ASSERT_EQ(lines.size(), 8u + 1u + 2u);
  EXPECT_VERTEX(lines[8].v[0], 100, 50);
  EXPECT_VERTEX(lines[8].v[1], 120, 50);
  EXPECT_VERTEX(lines[9].v[0], 120, 50);
  EXPECT_LT(lines[9].v[1].x, 120.0f);  // 180 + 20 degrees from the head
  EXPECT_FLOAT_EQ(w.handle_x, 120.0f);
}

TEST_F(OverlayCompositions, RectangleHandlesAndSquareFlag) {
  RectangleOverlayQ4 w;
  w.x = 0.5f;
  w.y = 0.5f;
  w.size_x = 0.2f;  // hw = 20
  w.size_y = 0.4f;  // hh = 20
  feedback_begin();
  surface.DrawRectangleOverlay(&w);
  auto all = feedback_end();
  EXPECT_EQ(only(all, GL_LINE_TOKEN).size(), 4u);
  EXPECT_EQ(only(all, GL_POLYGON_TOKEN).size(), 3u);
  const float expect[3][2] = {{120, 30}, {120, 50}, {100, 30}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(w.handle_x[i], expect[i][0], 1e-4) << i;
    EXPECT_NEAR(w.handle_y[i], expect[i][1], 1e-4) << i;
  }
  // Square: the height follows size X, handle 3 is stored but not drawn.
  w.square = 1;
  w.angle = 90.0f;
  feedback_begin();
  surface.DrawRectangleOverlay(&w);
  all = feedback_end();
  EXPECT_EQ(only(all, GL_POLYGON_TOKEN).size(), 2u);
  // hh = 100 * 0.2 / 2 = 10; rotated 90: offset (20, -10) -> (10, 20).
  EXPECT_NEAR(w.handle_x[0], 110.0f, 1e-4);
  EXPECT_NEAR(w.handle_y[0], 70.0f, 1e-4);
  EXPECT_NEAR(w.handle_x[2], 110.0f, 1e-4);
  EXPECT_NEAR(w.handle_y[2], 50.0f, 1e-4);
}

TEST_F(OverlayCompositions, CircleHandlesOnTheEllipse) {
  CircleOverlayQ4 w;
  w.x = 0.5f;
  w.y = 0.5f;
  w.x_diameter = 0.4f;  // a = 40
  w.y_diameter = 0.2f;  // b = 20, also of the view width
  feedback_begin();
  surface.DrawCircleOverlay(&w);
  auto polys = only(feedback_end(), GL_POLYGON_TOKEN);
  ASSERT_EQ(polys.size(), 3u);
  // Drawn 2, 3, 1.
  EXPECT_VERTEX(polys[0].v[0], 140 - 5, 50 - 5);
  EXPECT_VERTEX(polys[1].v[0], 100 - 5, 30 - 5);
  const float h = (float)std::sqrt(0.5);
  EXPECT_NEAR(w.handle_x[0], 100 + 40 * h, 1e-3);
  EXPECT_NEAR(w.handle_y[0], 50 - 20 * h, 1e-3);
  EXPECT_NEAR(w.handle_x[1], 140, 1e-4);
  EXPECT_NEAR(w.handle_y[1], 50, 1e-4);
  EXPECT_NEAR(w.handle_x[2], 100, 1e-4);
  EXPECT_NEAR(w.handle_y[2], 30, 1e-4);

  w.circular = 1;
  feedback_begin();
  surface.DrawCircleOverlay(&w);
  EXPECT_EQ(only(feedback_end(), GL_POLYGON_TOKEN).size(), 1u);
}

}  // namespace
