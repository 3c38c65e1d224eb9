#ifndef EFFECT_TESTS_VIEWER_FIXTURE_H
#define EFFECT_TESTS_VIEWER_FIXTURE_H

// The effect started on 200 x 100 frames beside a real off-screen GL viewer
// of that size, whose window coordinates are view pixels: what the overlay
// draws is caught through GL's feedback mode.

#include <cmath>
#include <string>
#include <vector>

#include "effect_fixture.h"
#include "gl_feedback.h"
#include "standin_viewer.h"

namespace effect_test {

struct Colour {
  float r, g, b;
};
const Colour white = {1.0f, 1.0f, 1.0f};
const Colour red = {1.0f, 0.0f, 0.0f};
const Colour green = {0.0f, 1.0f, 0.0f};
const Colour yellow = {1.0f, 1.0f, 0.0f};

inline bool near(float a, float b) { return std::fabs(a - b) < 2e-3f; }
inline bool at(const FbVertex& v, float x, float y) { return near(v.x, x) && near(v.y, y); }

inline bool coloured(const FbPrimitive& p, Colour c) {
  for (const FbVertex& v : p.v)
    if (v.r != c.r || v.g != c.g || v.b != c.b) return false;
  return true;
}

// The lines drawn between two window points, either way round.
inline std::vector<FbPrimitive> lines_between(const std::vector<FbPrimitive>& all, float ax, float ay,
                                              float bx, float by) {
  std::vector<FbPrimitive> found;
  for (const FbPrimitive& p : only(all, GL_LINE_TOKEN))
    if ((at(p.v[0], ax, ay) && at(p.v[1], bx, by)) || (at(p.v[0], bx, by) && at(p.v[1], ax, ay)))
      found.push_back(p);
  return found;
}

// The handle squares (5 pixels each way on screen, whatever the zoom)
// centred on a window point.
inline std::vector<FbPrimitive> handles_at(const std::vector<FbPrimitive>& all, float x, float y) {
  std::vector<FbPrimitive> found;
  for (const FbPrimitive& p : only(all, GL_POLYGON_TOKEN))
    if (p.v.size() == 4 && at(p.v[0], x - 5, y - 5) && at(p.v[1], x + 5, y - 5) && at(p.v[2], x + 5, y + 5) &&
        at(p.v[3], x - 5, y + 5))
      found.push_back(p);
  return found;
}

// One line between the points in the colour (widgets of other colours may
// draw there too).
inline ::testing::AssertionResult has_line(const std::vector<FbPrimitive>& all, float ax, float ay, float bx,
                                           float by, Colour c) {
  int in_colour = 0;
  for (const FbPrimitive& line : lines_between(all, ax, ay, bx, by)) in_colour += coloured(line, c);
  if (in_colour != 1)
    return ::testing::AssertionFailure()
           << in_colour << " lines (" << ax << "," << ay << ")-(" << bx << "," << by << ") in the colour";
  return ::testing::AssertionSuccess();
}

// A crosshair as the framework draws one at a window point: four arms from
// 10 to 25 pixels out and a handle square, in the colour.
inline ::testing::AssertionResult has_crosshair(const std::vector<FbPrimitive>& all, float x, float y,
                                                Colour c) {
  for (const auto& arm :
       {std::make_pair(1, 0), std::make_pair(-1, 0), std::make_pair(0, 1), std::make_pair(0, -1)}) {
    ::testing::AssertionResult line = has_line(all, x + 10.0f * arm.first, y + 10.0f * arm.second,
                                               x + 25.0f * arm.first, y + 25.0f * arm.second, c);
    if (!line) return line << " of the crosshair at " << x << "," << y;
  }
  const std::vector<FbPrimitive> handles = handles_at(all, x, y);
  if (handles.size() != 1 || !coloured(handles[0], c))
    return ::testing::AssertionFailure() << handles.size() << " handles of the colour at " << x << "," << y;
  return ::testing::AssertionSuccess();
}

}  // namespace effect_test

class ViewerTest : public EffectTest {
 protected:
  // The frame's size.
  static constexpr int width = 200;
  static constexpr int height = 100;
  // GL clips what falls outside its window; the window reaches this far
  // beyond the view on every side.
  static constexpr int margin = 200;

  void SetUp() override {
    EffectTest::SetUp();
    ASSERT_TRUE(viewer.Open(width + 2 * margin, height + 2 * margin));
    StartUp(width, height);
    // The host shows a frame before the artist acts: every control object
    // holds its record's value.
    ASSERT_NE(Process(0), nullptr);
  }

  // The overlay as the host draws it at a pan and zoom, caught in feedback
  // mode (nothing reaches the pixels), in window pixels from the view's
  // corner.
  std::vector<FbPrimitive> Draw(float zoom = 1.0f, int pan_x = 0, int pan_y = 0) {
    SparkHostInfo info = standin_info();
    info.pan_x = pan_x + margin;
    info.pan_y = pan_y + margin;
    feedback_begin();
    SparkOverlay(info, zoom);
    std::vector<FbPrimitive> drawn = feedback_end();
    for (FbPrimitive& p : drawn)
      for (FbVertex& v : p.v) {
        v.x -= margin;
        v.y -= margin;
      }
    return drawn;
  }

  // A checkbox the artist ticks or clears, its callback called as the
  // panel calls it, with a reason that only redraws.
  static void Tick(SparkBoolean& box, bool on) {
    box.value = on ? 1 : 0;
    box.callback(0, standin_info());
  }

  StandinViewer viewer;
};

#endif
