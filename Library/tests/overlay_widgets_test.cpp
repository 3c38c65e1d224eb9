// Widget interaction: hit tests, drags, clamping to the bound host records
// and the host updates that follow, against the stand-in host's call log.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "OverlayWidgetsQ4.h"
#include "standin_host.h"

namespace {

class OverlayWidgets : public ::testing::Test {
 protected:
  void SetUp() override {
    standin_reset();
    surface.view_width = 500;
    surface.view_height = 250;
  }

  static SparkFloat Record(float min, float max) {
    SparkFloat r{};
    r.min = min;
    r.max = max;
    return r;
  }

  OverlayQ4 surface;
};

using Log = std::vector<std::string>;

TEST_F(OverlayWidgets, HitAtTheGrabDistanceMissesJustInsideHits) {
  CrosshairOverlayQ4 w;
  w.owner = &surface;
  w.handle_x = 100.0f;
  w.handle_y = 100.0f;
  for (float zoom : {1.0f, 2.0f}) {
    surface.zoom = zoom;
    const float g = 5.0f / zoom;
    for (float dx : {g, -g}) {
      w.HandleInteraction(INTER_HOVER, 100.0f + dx, 100.0f);
      EXPECT_EQ(w.hover, 0) << "zoom " << zoom << " dx " << dx;
      w.HandleInteraction(INTER_HOVER, 100.0f, 100.0f + dx);
      EXPECT_EQ(w.hover, 0);
    }
    w.HandleInteraction(INTER_HOVER, 100.0f + g - 0.001f, 100.0f - g + 0.001f);
    EXPECT_EQ(w.hover, 1);
    EXPECT_EQ(w.picked, 0);  // hovering never picks
    w.HandleInteraction(INTER_PRESS, 100.0f - g + 0.001f, 100.0f);
    EXPECT_EQ(w.picked, 1);
    w.HandleInteraction(INTER_RELEASE, 0.0f, 0.0f);
    EXPECT_EQ(w.picked, 0);
    EXPECT_EQ(w.hover, 1);  // release keeps the hover mark
  }
}

TEST_F(OverlayWidgets, CrosshairDragClampsAndWritesPercent) {
  SparkFloat rx = Record(-50, 150), ry = Record(-50, 150);
  CrosshairOverlayQ4 w;
  w.owner = &surface;
  w.number = 72;
  w.x_record = &rx;
  w.y_record = &ry;
  w.handle_x = 50.0f;
  w.handle_y = 50.0f;
  w.HandleInteraction(INTER_PRESS, 50.0f, 50.0f);
  ASSERT_EQ(w.picked, 1);
  standin_clear_log();
  w.HandleInteraction(INTER_DRAG, 1.8f * 500, -0.6f * 250);
  EXPECT_FLOAT_EQ(w.x, 1.5f);
  EXPECT_FLOAT_EQ(w.y, -0.5f);
  EXPECT_FLOAT_EQ(rx.value, 150.0f);
  EXPECT_FLOAT_EQ(ry.value, -50.0f);
  EXPECT_EQ(standin_log(), (Log{"sparkControlUpdate(72)", "sparkControlUpdate(73)"}));

  w.HandleInteraction(INTER_DRAG, 125.0f, 200.0f);
  EXPECT_FLOAT_EQ(rx.value, 25.0f);
  EXPECT_FLOAT_EQ(ry.value, 80.0f);

  // An inverted range: the minimum wins.
  rx = Record(20, 10);
  w.HandleInteraction(INTER_DRAG, 250.0f, 125.0f);
  EXPECT_FLOAT_EQ(rx.value, 20.0f);
}

TEST_F(OverlayWidgets, ReleaseReachesTheHostHalfBeforeThePickIsCleared) {
  struct Spy : CrosshairOverlayQ4 {
    void HandleInteractionPlat(InterType type, float x, float y) override {
      seen.push_back({type, picked});
      CrosshairOverlayQ4::HandleInteractionPlat(type, x, y);
    }
    std::vector<std::pair<int, int>> seen;
  };
  SparkFloat rx = Record(0, 100), ry = Record(0, 100);
  Spy w;
  w.owner = &surface;
  w.number = 10;
  w.x_record = &rx;
  w.y_record = &ry;
  w.handle_x = w.handle_y = 20.0f;
  w.HandleInteraction(INTER_PRESS, 20.0f, 20.0f);
  w.HandleInteraction(INTER_RELEASE, 20.0f, 20.0f);
  EXPECT_EQ(w.seen, (std::vector<std::pair<int, int>>{{1, 1}, {3, 1}}));
  EXPECT_EQ(w.picked, 0);

  standin_clear_log();
  w.HandleInteraction(INTER_DRAG, 300.0f, 100.0f);
  EXPECT_FLOAT_EQ(w.x, 0.0f);
  EXPECT_TRUE(standin_log().empty());
  // Unknown event kinds reach neither half.
  w.HandleInteraction(static_cast<InterType>(7), 20.0f, 20.0f);
  EXPECT_EQ(w.seen.size(), 3u);
}

TEST_F(OverlayWidgets, UnboundWidgetsIgnoreEvents) {
  CrosshairOverlayQ4 w;  // no owner, no records
  w.HandleInteraction(INTER_PRESS, 0.0f, 0.0f);
  w.HandleInteraction(INTER_DRAG, 10.0f, 10.0f);
  EXPECT_EQ(w.picked, 0);
  w.owner = &surface;  // surface but no records: geometry moves, host untouched
  w.HandleInteraction(INTER_PRESS, 0.0f, 0.0f);
  w.HandleInteraction(INTER_DRAG, 250.0f, 125.0f);
  EXPECT_FLOAT_EQ(w.x, 0.5f);
  CircleOverlayQ4 c;
  c.owner = &surface;
  c.HandleInteraction(INTER_DRAG, 1.0f, 1.0f);
  RectangleOverlayQ4 r;
  r.owner = &surface;
  r.HandleInteraction(INTER_DRAG, 1.0f, 1.0f);
  EXPECT_TRUE(standin_log().empty());
}

TEST_F(OverlayWidgets, LineMiddleFollowsThePenEachEndClampedByItsOwnRecord) {
  SparkFloat sx = Record(-50, 150), sy = Record(-50, 150), ex = Record(-50, 150),
             ey = Record(-50, 150);
  LineOverlayQ4 w;
  w.owner = &surface;
  w.start_number = 72;
  w.start_x_record = &sx;
  w.start_y_record = &sy;
  w.end_number = 74;
  w.end_x_record = &ex;
  w.end_y_record = &ey;
  w.x1 = w.y1 = 0.2f;
  w.x2 = w.y2 = 0.4f;
  w.handle_x = 150.0f;
  w.handle_y = 75.0f;
  w.HandleInteraction(INTER_PRESS, 150.0f, 75.0f);
  standin_clear_log();
  w.HandleInteraction(INTER_DRAG, 250.0f, 125.0f);
  EXPECT_NEAR(w.x1, 0.4f, 1e-6);
  EXPECT_NEAR(w.y1, 0.4f, 1e-6);
  EXPECT_NEAR(w.x2, 0.6f, 1e-6);
  EXPECT_NEAR(w.y2, 0.6f, 1e-6);
  EXPECT_NEAR(ex.value, 60.0f, 1e-4);
  EXPECT_EQ(standin_log(), (Log{"sparkControlUpdate(72)", "sparkControlUpdate(73)",
                                "sparkControlUpdate(74)", "sparkControlUpdate(75)"}));

  ex = Record(-50, 50);  // only the end X is limited
  w.HandleInteraction(INTER_DRAG, 250.0f, 125.0f);
  EXPECT_FLOAT_EQ(w.x2, 0.5f);
  EXPECT_FLOAT_EQ(ex.value, 50.0f);
  EXPECT_NEAR(w.x1, 0.4f, 1e-6);
  EXPECT_NEAR(sx.value, 40.0f, 1e-4);
}

TEST_F(OverlayWidgets, AngleFollowsThePenDirection) {
  SparkFloat ra = Record(-360, 360);
  AngleOverlayQ4 w;
  w.owner = &surface;
  w.number = 40;
  w.angle_record = &ra;
  w.x = 0.5f;
  w.y = 0.5f;  // origin (250, 125)
  w.handle_x = 300.0f;
  w.handle_y = 125.0f;
  w.HandleInteraction(INTER_PRESS, 300.0f, 125.0f);
  const struct {
    float x, y, angle;
  } moves[] = {{250, 200, 90}, {250, 50, 270}, {100, 125, 180}, {400, 125, 0},
               {300, 175, 45}, {200, 175, 135}, {200, 75, 225}, {300, 75, 315}};
  for (const auto& m : moves) {
    w.HandleInteraction(INTER_DRAG, m.x, m.y);
    EXPECT_NEAR(w.angle, m.angle, 1e-3) << m.x << "," << m.y;
    EXPECT_NEAR(ra.value, m.angle, 1e-3);
  }
  // The vertical distance counts divided by the aspect.
  surface.aspect_num = 2.0f;
  w.HandleInteraction(INTER_DRAG, 300.0f, 175.0f);
  EXPECT_NEAR(w.angle, std::atan(0.5) * 180.0 / M_PI, 1e-3);
  // Clamped to the record, no factor 100.
  ra = Record(0, 30);
  w.HandleInteraction(INTER_DRAG, 250.0f, 200.0f);
  EXPECT_FLOAT_EQ(ra.value, 30.0f);
  EXPECT_FLOAT_EQ(w.angle, 30.0f);
}

class CircleWidget : public OverlayWidgets {
 protected:
  void SetUp() override {
    OverlayWidgets::SetUp();
    w.owner = &surface;
    w.x_number = 81;
    w.x_record = &rx;
    w.y_number = 82;
    w.y_record = &ry;
    w.x = 0.5f;
    w.y = 0.5f;  // centre (250, 125)
    w.x_diameter = 0.2f;
    w.y_diameter = 0.1f;
    for (int i = 0; i < 3; ++i) {
      w.handle_x[i] = 300.0f + 40.0f * i;
      w.handle_y[i] = 125.0f;
    }
  }
  SparkFloat rx = Record(0, 100), ry = Record(0, 100);
  CircleOverlayQ4 w;
};

TEST_F(CircleWidget, CircularFlagLeavesOnlyTheRadiusHandle) {
  w.circular = 1;
  w.x_diameter = 0.1f;
  w.HandleInteraction(INTER_PRESS, 300.0f, 125.0f);
  EXPECT_EQ(w.picked, 0);
  w.HandleInteraction(INTER_PRESS, 380.0f, 125.0f);
  EXPECT_EQ(w.picked, 0);
  w.HandleInteraction(INTER_PRESS, 340.0f, 125.0f);
  ASSERT_EQ(w.picked, 2);
  standin_clear_log();
  w.HandleInteraction(INTER_DRAG, 280.0f, 165.0f);  // distance 50 in a view 500 wide
  EXPECT_NEAR(w.x_diameter, 0.2f, 1e-6);
  EXPECT_NEAR(rx.value, 20.0f, 1e-4);
  EXPECT_FLOAT_EQ(w.y_diameter, 0.1f);
  EXPECT_FLOAT_EQ(ry.value, 0.0f);
  EXPECT_EQ(standin_log(), (Log{"sparkControlUpdate(81)"}));
}

TEST_F(CircleWidget, RadiusHandlesAndTheDiagonalHandle) {
  w.HandleInteraction(INTER_PRESS, 380.0f, 125.0f);
  ASSERT_EQ(w.picked, 3);
  standin_clear_log();
  w.HandleInteraction(INTER_DRAG, 250.0f + 12.0f, 125.0f - 16.0f);  // distance 20
  EXPECT_NEAR(w.y_diameter, 0.08f, 1e-6);
  EXPECT_NEAR(ry.value, 8.0f, 1e-4);
  EXPECT_FLOAT_EQ(w.x_diameter, 0.2f);
  EXPECT_FLOAT_EQ(rx.value, 0.0f);
  EXPECT_EQ(standin_log(), (Log{"sparkControlUpdate(82)"}));

  // Handle 1 scales both radii by the pen's x: k = dx / (cos 45), the ratio
  // 0.08 / 0.2 kept.
  w.HandleInteraction(INTER_PRESS, 300.0f, 125.0f);
  ASSERT_EQ(w.picked, 1);
  standin_clear_log();
  w.HandleInteraction(INTER_DRAG, 250.0f + 30.0f, 0.0f);
  const double k = 30.0 / std::sqrt(0.5);
  EXPECT_NEAR(w.x_diameter, 2 * k / 500, 1e-5);
  EXPECT_NEAR(w.y_diameter, 2 * 0.4 * k / 500, 1e-5);
  EXPECT_NEAR(rx.value, 100 * 2 * k / 500, 1e-3);
  EXPECT_NEAR(ry.value, 100 * 2 * 0.4 * k / 500, 1e-3);
  EXPECT_EQ(standin_log(), (Log{"sparkControlUpdate(81)", "sparkControlUpdate(82)"}));

  // Diameters beyond the record's maximum are clamped on every drag.
  rx = Record(0, 5);
  standin_clear_log();
  w.picked = 0;
  w.HandleInteraction(INTER_DRAG, 0.0f, 0.0f);
  EXPECT_FLOAT_EQ(w.x_diameter, 0.05f);
  EXPECT_TRUE(standin_log().empty());
}

TEST_F(CircleWidget, DiagonalHandleKeepsDiametersWhereTheDivisorVanishes) {
  w.angle = 135.0f;  // cos 135 + 1 * sin 135 = 0
  w.x_diameter = w.y_diameter = 0.2f;
  w.HandleInteraction(INTER_PRESS, 300.0f, 125.0f);
  ASSERT_EQ(w.picked, 1);
  w.HandleInteraction(INTER_DRAG, 400.0f, 10.0f);
  EXPECT_FLOAT_EQ(w.x_diameter, 0.2f);
  EXPECT_FLOAT_EQ(w.y_diameter, 0.2f);
  EXPECT_TRUE(std::isfinite(rx.value));
  w.x_diameter = 0.0f;  // no ratio to keep
  w.HandleInteraction(INTER_DRAG, 400.0f, 10.0f);
  EXPECT_FLOAT_EQ(w.x_diameter, 0.0f);
}

class RectangleWidget : public OverlayWidgets {
 protected:
  void SetUp() override {
    OverlayWidgets::SetUp();
    w.owner = &surface;
    w.x_number = 45;
    w.x_record = &rx;
    w.y_number = 46;
    w.y_record = &ry;
    w.x = 0.5f;
    w.y = 0.5f;  // centre (250, 125)
    w.size_x = 0.2f;
    w.size_y = 0.2f;
    const float hx[3] = {300, 300, 250}, hy[3] = {100, 125, 100};
    for (int i = 0; i < 3; ++i) {
      w.handle_x[i] = hx[i];
      w.handle_y[i] = hy[i];
    }
  }
  SparkFloat rx = Record(1, 200), ry = Record(1, 200);
  RectangleOverlayQ4 w;
};

TEST_F(RectangleWidget, EdgeAndCornerHandlesSetTheSizes) {
  w.size_x = 0.3f;
  w.size_y = 0.1f;
  w.HandleInteraction(INTER_PRESS, 300.0f, 125.0f);
  ASSERT_EQ(w.picked, 2);
  standin_clear_log();
  w.HandleInteraction(INTER_DRAG, 250.0f + 30.0f, 125.0f + 40.0f);  // reach 50
  EXPECT_NEAR(w.size_x, 0.2f, 1e-6);
  EXPECT_NEAR(rx.value, 20.0f, 1e-4);
  EXPECT_FLOAT_EQ(w.size_y, 0.1f);
  EXPECT_FLOAT_EQ(ry.value, 0.0f);
  EXPECT_EQ(standin_log(), (Log{"sparkControlUpdate(45)"}));

  // The height handle measures against the view's height.
  w.HandleInteraction(INTER_PRESS, 250.0f, 100.0f);
  ASSERT_EQ(w.picked, 3);
  standin_clear_log();
  w.HandleInteraction(INTER_DRAG, 250.0f, 125.0f - 25.0f);
  EXPECT_NEAR(w.size_y, 0.2f, 1e-6);
  EXPECT_NEAR(ry.value, 20.0f, 1e-4);
  EXPECT_NEAR(w.size_x, 0.2f, 1e-6);
  EXPECT_EQ(standin_log(), (Log{"sparkControlUpdate(46)"}));

  // Rotated 90 degrees: the pen's x offset is the rectangle's height.
  w.angle = 90.0f;
  w.HandleInteraction(INTER_PRESS, 300.0f, 100.0f);
  ASSERT_EQ(w.picked, 1);
  standin_clear_log();
  w.HandleInteraction(INTER_DRAG, 250.0f + 10.0f, 125.0f + 60.0f);
  EXPECT_NEAR(w.size_x, 2 * 60.0f / 500, 1e-5);
  EXPECT_NEAR(w.size_y, 2 * 10.0f / 250, 1e-5);
  EXPECT_NEAR(rx.value, 24.0f, 1e-3);
  EXPECT_NEAR(ry.value, 8.0f, 1e-3);
  EXPECT_EQ(standin_log(), (Log{"sparkControlUpdate(45)", "sparkControlUpdate(46)"}));
}

TEST_F(RectangleWidget, SquareWritesOnlyItsOneSizeClamped) {
  w.square = 1;
  w.HandleInteraction(INTER_PRESS, 250.0f, 100.0f);
  ASSERT_EQ(w.picked, 3);
  standin_clear_log();
  w.HandleInteraction(INTER_DRAG, 250.0f, 125.0f - 100.0f);
  EXPECT_NEAR(rx.value, 2 * 100.0f / 500 * 100, 1e-3);
  EXPECT_EQ(standin_log(), (Log{"sparkControlUpdate(45)"}));
  // Far beyond the record's range the written size stops at its maximum.
  rx = Record(1, 30);
  w.HandleInteraction(INTER_DRAG, 250.0f, -1000.0f);
  EXPECT_FLOAT_EQ(rx.value, 30.0f);
  // Nothing picked: the clamped size X is written again.
  w.picked = 0;
  standin_clear_log();
  w.HandleInteraction(INTER_DRAG, 0.0f, 0.0f);
  EXPECT_FLOAT_EQ(rx.value, 20.0f);
  EXPECT_EQ(standin_log(), (Log{"sparkControlUpdate(45)"}));
}

}  // namespace
