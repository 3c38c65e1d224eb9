// The effect's overlay drawn in real GL and read back through feedback
// mode: where each widget lands for the viewer's pan, zoom, ratio and pixel
// aspect, when wind and vortex show, Clear Overlay, and each widget's
// colour.
#include <cmath>

#include "viewer_fixture.h"

using namespace effect_test;

namespace {

// Red lines with both ends on the ellipse of radii a, b about (cx, cy).
int lines_on_ellipse(const std::vector<FbPrimitive>& all, float cx, float cy, float a, float b) {
  int count = 0;
  for (const FbPrimitive& p : only(all, GL_LINE_TOKEN)) {
    bool on = coloured(p, red);
    for (const FbVertex& v : p.v) {
      const float u = (v.x - cx) / a, w = (v.y - cy) / b;
      on = on && std::fabs(u * u + w * w - 1.0f) < 1e-3f;
    }
    count += on;
  }
  return count;
}

}  // namespace

// The vortex centre at pan + zoom x (position x view size), with the view
// as wide as the frame times the viewer's ratio; the circle about it with
// C81 of the view's width as its diameter, its height scaled by the aspect
// G + 1 - R. Zoomed out, the host shows the frame at 1 / (2 - zoom).
TEST_F(ViewerTest, VortexAtPanZoomRatioAndAspect) {
  Tick(SparkBoolean78, true);
  SparkFloat81.value = 40.0f;  // percent of the view's width, across
  const struct {
    float zoom, drawn;
    int pan_x, pan_y;
    float g, r;
  } cases[] = {
      {1.0f, 1.0f, 0, 0, 1.0f, 1.0f},        {2.0f, 2.0f, 0, 0, 1.0f, 1.0f},
      {0.5f, 1.0f / 1.5f, 0, 0, 1.0f, 1.0f}, {0.0f, 0.5f, 0, 0, 1.0f, 1.0f},
      {1.0f, 1.0f, 30, -20, 1.0f, 1.0f},     {2.0f, 2.0f, -50, 10, 1.0f, 1.0f},
      {1.0f, 1.0f, 0, 0, 2.0f, 1.0f},        {1.0f, 1.0f, 0, 0, 1.0f, 0.5f},
  };
  for (const auto& c : cases) {
    standin_set_pixel_aspect(c.g);
    standin_set_viewer_ratio(c.r);
    const std::vector<FbPrimitive> drawn = Draw(c.zoom, c.pan_x, c.pan_y);
    const float view_width = std::trunc(width * c.r), aspect = c.g + 1.0f - c.r;
    const float cx = c.pan_x + c.drawn * view_width * 0.333f, cy = c.pan_y + c.drawn * height * 0.5f;
    const float a = c.drawn * view_width * 0.40f / 2.0f, b = a * aspect;
    EXPECT_TRUE(has_crosshair(drawn, cx, cy, red)) << c.zoom << " " << c.pan_x << " " << c.g << " " << c.r;
    // Everything else drawn is the circle: its lines and its one handle, at
    // the end of the X radius.
    const int lines = static_cast<int>(only(drawn, GL_LINE_TOKEN).size());
    EXPECT_GT(lines, 4 + 20);
    EXPECT_EQ(lines_on_ellipse(drawn, cx, cy, a, b), lines - 4) << c.zoom << " " << c.g << " " << c.r;
    EXPECT_EQ(handles_at(drawn, cx + a, cy).size(), 1u);
    EXPECT_EQ(only(drawn, GL_POLYGON_TOKEN).size(), 2u);
    EXPECT_EQ(Instance.zoom, c.drawn);
  }
}

// Wind 1 and vortex 1 show only while their strength is above 0.00001 in
// size; what is not shown takes no pen either.
TEST_F(ViewerTest, WindAndVortexShowOnlyWithStrength) {
  Tick(SparkBoolean71, true);
  SparkFloat72.value = 10.0f;
  SparkFloat73.value = 80.0f;
  SparkFloat74.value = 40.0f;
  SparkFloat75.value = 90.0f;
  SparkFloat76.value = 0.0f;
  EXPECT_TRUE(Draw().empty());
  EXPECT_FALSE(Instance.wind1_line_widget.shown);
  SparkFloat76.value = 0.00002f;
  std::vector<FbPrimitive> drawn = Draw();
  EXPECT_TRUE(has_crosshair(drawn, 20, 80, white));
  EXPECT_TRUE(has_crosshair(drawn, 80, 90, white));
  EXPECT_TRUE(has_line(drawn, 20, 80, 80, 90, white));
  EXPECT_EQ(handles_at(drawn, 50, 85).size(), 1u);  // the line's, in its middle
  // The arrow's two strokes leave the end.
  int strokes = 0;
  for (const FbPrimitive& line : only(drawn, GL_LINE_TOKEN))
    strokes += at(line.v[0], 80, 90) && coloured(line, white);
  EXPECT_EQ(strokes, 2);
  EXPECT_TRUE(Instance.wind1_start_widget.shown && Instance.wind1_end_widget.shown &&
              Instance.wind1_line_widget.shown);
  Tick(SparkBoolean71, false);

  Tick(SparkBoolean78, true);
  for (float strength : {0.0f, 0.00001f, -0.00001f}) {
    SparkFloat82.value = strength;
    EXPECT_TRUE(Draw().empty()) << strength;
  }
  SparkFloat82.value = -0.00002f;
  EXPECT_TRUE(has_crosshair(Draw(), 66.6f, 50, red));
}

// Clear Overlay on any page draws nothing and leaves the view as it was.
TEST_F(ViewerTest, ClearOverlayDrawsNothing) {
  for (SparkBoolean* box :
       {&SparkBoolean71, &SparkBoolean78, &SparkBoolean42, &SparkBoolean49, &SparkBoolean38})
    Tick(*box, true);
  EXPECT_GT(Draw(2.0f).size(), 30u);
  for (SparkBoolean* clear : {&SparkBoolean28, &SparkBoolean57, &SparkBoolean86}) {
    Tick(*clear, true);
    standin_clear_log();
    EXPECT_TRUE(Draw(1.0f).empty());
    EXPECT_TRUE(standin_log().empty());
    EXPECT_EQ(Instance.zoom, 2.0f);
    Tick(*clear, false);
  }
  EXPECT_FALSE(Draw().empty());
}

// Every drawn widget in its colour, each found by its own geometry: wind
// white, the vortex red, region A white with a green direction, region B
// yellow with a green direction, gravity red.
TEST_F(ViewerTest, EachWidgetInItsColour) {
  for (SparkBoolean* box :
       {&SparkBoolean71, &SparkBoolean78, &SparkBoolean42, &SparkBoolean49, &SparkBoolean38})
    Tick(*box, true);
  const struct {
    SparkFloat* record;
    float value;
  } values[] = {
      // wind
      {&SparkFloat72, 10}, {&SparkFloat73, 80}, {&SparkFloat74, 40}, {&SparkFloat75, 90},
      // vortex
      {&SparkFloat79, 70}, {&SparkFloat80, 75}, {&SparkFloat81, 20},
      // region A
      {&SparkFloat43, 25}, {&SparkFloat44, 30}, {&SparkFloat45, 20}, {&SparkFloat46, 20}, {&SparkFloat47, 0},
      // region B
      {&SparkFloat50, 75}, {&SparkFloat51, 30}, {&SparkFloat52, 10}, {&SparkFloat53, 40}, {&SparkFloat54, 90},
      // gravity
      {&SparkFloat40, 270},
  };
  for (const auto& v : values) v.record->value = v.value;
  const std::vector<FbPrimitive> drawn = Draw();

  EXPECT_TRUE(has_crosshair(drawn, 20, 80, white));
  EXPECT_TRUE(has_crosshair(drawn, 80, 90, white));
  EXPECT_TRUE(has_line(drawn, 20, 80, 80, 90, white));
  EXPECT_TRUE(has_crosshair(drawn, 140, 75, red));
  EXPECT_EQ(lines_on_ellipse(drawn, 140, 75, 20, 20) > 20, true);
  // Region A: centre (50, 30), 40 x 20, pointing right.
  EXPECT_TRUE(has_crosshair(drawn, 50, 30, white));
  EXPECT_TRUE(has_line(drawn, 70, 40, 70, 20, white));
  EXPECT_TRUE(has_line(drawn, 70, 20, 30, 20, white));
  EXPECT_TRUE(has_line(drawn, 30, 20, 30, 40, white));
  EXPECT_TRUE(has_line(drawn, 30, 40, 70, 40, white));
  EXPECT_TRUE(has_line(drawn, 50, 30, 70, 30, green));
  // Region B: centre (150, 30), 20 x 40, pointing up.
  EXPECT_TRUE(has_crosshair(drawn, 150, 30, yellow));
  EXPECT_TRUE(has_line(drawn, 160, 50, 160, 10, yellow));
  EXPECT_TRUE(has_line(drawn, 140, 10, 140, 50, yellow));
  EXPECT_TRUE(has_line(drawn, 150, 30, 150, 50, green));
  // Gravity from (0.55, 0.5) of the view, 0.1 of its width long, down.
  EXPECT_TRUE(has_line(drawn, 110, 50, 110, 30, red));
  // Nothing else has a colour of its own.
  for (const FbPrimitive& p : drawn)
    EXPECT_TRUE(coloured(p, white) || coloured(p, red) || coloured(p, green) || coloured(p, yellow));
}
