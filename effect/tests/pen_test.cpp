// Pen scripts in the viewer: what SparkInteract asks of the host (cursor,
// redraw, control updates, a render) and writes into the records, for
// presses, drags, releases and hovers, and the events it must ignore.
#include <cmath>
#include <limits>
#include <string>
#include <tuple>

#include "callback_log.h"
#include "viewer_fixture.h"

using namespace effect_test;

namespace {

void* pen(float pressure, float x, float y) { return SparkInteract(standin_info(), 0, 0, pressure, x, y); }

std::string cursor(int n) { return "sparkViewingCursor(" + std::to_string(n) + ")"; }

// Updates, cursors and redraws, and "render" for a frame processed.
Calls pen_calls() {
  Calls calls;
  for (const std::string& line : standin_log()) {
    if (line == "sparkCursorBusy()")
      calls.push_back("render");
    else if (line.rfind("sparkControlUpdate(", 0) == 0 || line.rfind("sparkViewingCursor(", 0) == 0 ||
             line == draw)
      calls.push_back(line);
  }
  return calls;
}

const Calls rendered = {"render", cursor(1)};

bool float_records_finite() {
  for (const SparkFloat* f :
       {&SparkFloat40, &SparkFloat43, &SparkFloat44, &SparkFloat45, &SparkFloat46, &SparkFloat47,
        &SparkFloat50, &SparkFloat51, &SparkFloat52, &SparkFloat53, &SparkFloat54, &SparkFloat72,
        &SparkFloat73, &SparkFloat74, &SparkFloat75, &SparkFloat79, &SparkFloat80, &SparkFloat81})
    if (!std::isfinite(f->value)) return false;
  return true;
}

const float not_a_number = std::numeric_limits<float>::quiet_NaN();
const float inf = std::numeric_limits<float>::infinity();

}  // namespace

// The vortex centre (view 66.6, 50) picked, dragged and let go: cursor 14
// on the press; each drag writes pen / view size x 100, clamped to the
// records' -50..150, X then Y; the release renders again with Auto
// Preview, else only redraws.
TEST_F(ViewerTest, DragTheVortexCentre) {
  Tick(SparkBoolean78, true);
  for (bool auto_preview : {true, false}) {
    SparkBoolean34.value = auto_preview;
    Draw();
    standin_clear_log();
    EXPECT_EQ(pen(1.0f, 68.0f, 52.0f), nullptr);
    EXPECT_EQ(pen_calls(), (Calls{cursor(14), draw}));
    EXPECT_EQ(standin_cursor(), 14);
    const struct {
      float x, y, percent_x, percent_y;
    } drags[] = {{100, 60, 50, 60},
                 {-200, 300, -50, 150},
                 {350, -80, 150, -50},
                 {1e30f, -1e30f, 150, -50},
                 {20, 25, 10, 25}};
    for (const auto& d : drags) {
      standin_clear_log();
      EXPECT_EQ(pen(1.0f, d.x, d.y), nullptr);
      EXPECT_EQ(pen_calls(), (Calls{update(79), update(80), draw})) << d.x;
      EXPECT_FLOAT_EQ(SparkFloat79.value, d.percent_x) << d.x;
      EXPECT_FLOAT_EQ(SparkFloat80.value, d.percent_y) << d.y;
    }
    standin_clear_log();
    void* frame = pen(0.0f, 20, 25);
    EXPECT_EQ(frame, auto_preview ? standin_buffer_pixels(1) : nullptr);
    EXPECT_EQ(pen_calls(), (Calls{cursor(1), draw} + (auto_preview ? rendered : Calls{})));
    EXPECT_EQ(standin_log_count("sparkViewingDraw"), 1);
    // The render took the new centre.
    if (auto_preview) {
      EXPECT_FLOAT_EQ(static_cast<float>(Instance.c79.x), 0.1f);
    }
    SparkFloat79.value = 33.3f;
    SparkFloat80.value = 50.0f;
  }
}

// A release with nothing picked never renders; hovers ask for no redraw,
// the cursor showing whether a handle is under the pen; with the info
// record's byte 4120 at 0 the pen is not the effect's at all.
TEST_F(ViewerTest, ReleasesHoversAndForeignPens) {
  Tick(SparkBoolean78, true);
  Draw();
  standin_clear_log();
  EXPECT_EQ(pen(1.0f, 5, 95), nullptr);
  EXPECT_EQ(pen(0.0f, 5, 95), nullptr);
  EXPECT_EQ(pen_calls(), (Calls{cursor(1), draw, cursor(1), draw}));

  standin_clear_log();
  EXPECT_EQ(pen(0.0f, 66, 49), nullptr);
  EXPECT_EQ(pen(0.0f, 150, 10), nullptr);
  EXPECT_EQ(pen_calls(), (Calls{cursor(20), cursor(1)}));

  standin_set_interactive(0);
  standin_clear_log();
  EXPECT_EQ(pen(1.0f, 66, 50), nullptr);
  EXPECT_EQ(pen(1.0f, 120, 80), nullptr);
  EXPECT_EQ(pen(0.0f, 120, 80), nullptr);
  EXPECT_TRUE(standin_log().empty());
  EXPECT_EQ(SparkFloat79.value, 33.3f);
  // The pressure it saw counted for nothing: the next pen down is a press.
  standin_set_interactive(1);
  standin_clear_log();
  pen(1.0f, 66, 50);
  EXPECT_EQ(pen_calls(), (Calls{cursor(14), draw}));
  pen(0.0f, 66, 50);
}

// The velocity widgets take the pen even when their region is off and
// nothing of them is drawn: region A's centre, last drawn at (100, 50),
// still drags controls 43 and 44.
TEST_F(ViewerTest, RegionACentreDragsWhileUnticked) {
  SparkFloat43.value = 50.0f;
  SparkFloat44.value = 50.0f;
  SparkFloat45.value = SparkFloat46.value = 40.0f;  // its other handles well away
  Tick(SparkBoolean42, true);
  EXPECT_TRUE(has_crosshair(Draw(), 100, 50, white));
  Tick(SparkBoolean42, false);
  EXPECT_TRUE(lines_between(Draw(), 110, 50, 125, 50).empty());
  standin_clear_log();
  pen(1.0f, 101, 49);
  pen(1.0f, 40, 30);
  EXPECT_EQ(pen(0.0f, 40, 30), standin_buffer_pixels(1));
  EXPECT_EQ(pen_calls(), (Calls{cursor(14), draw, update(43), update(44), draw, cursor(1), draw} + rendered));
  EXPECT_FLOAT_EQ(SparkFloat43.value, 20.0f);
  EXPECT_FLOAT_EQ(SparkFloat44.value, 30.0f);
}

// Before the first draw the widgets have no view to measure the pen
// against: the pen is ignored. They are bound to their records and the
// effect from start-up all the same.
TEST_F(ViewerTest, PenBeforeTheFirstDrawIsIgnored) {
  EXPECT_EQ(Instance.vortex1_centre_widget.number, 79);
  EXPECT_EQ(Instance.vortex1_centre_widget.x_record, &SparkFloat79);
  EXPECT_EQ(Instance.vortex1_centre_widget.y_record, &SparkFloat80);
  EXPECT_EQ(Instance.region_b_widget.y_record, &SparkFloat53);
  EXPECT_EQ(Instance.gravity_direction_widget.angle_record, &SparkFloat40);
  for (const OverlayControlQ4* widget : Instance.DrawnWidgets())
    EXPECT_EQ(widget->owner, static_cast<OverlayQ4*>(&Instance));

  Tick(SparkBoolean78, true);
  Tick(SparkBoolean42, true);
  standin_clear_log();
  for (const auto& at :
       {std::make_pair(66.6f, 50.0f), std::make_pair(4.0f, 50.0f), std::make_pair(0.0f, 0.0f)}) {
    EXPECT_EQ(pen(1.0f, at.first, at.second), nullptr);
    EXPECT_EQ(pen(1.0f, 150, 90), nullptr);
    EXPECT_EQ(pen(0.0f, 150, 90), nullptr);
  }
  EXPECT_TRUE(standin_log().empty());
  EXPECT_EQ(SparkFloat79.value, 33.3f);
  EXPECT_EQ(SparkFloat43.value, 2.0f);
  EXPECT_EQ(Instance.pen_pressure, 0.0f);

  Draw();
  standin_clear_log();
  pen(1.0f, 66, 50);
  EXPECT_EQ(pen_calls(), (Calls{cursor(14), draw}));
  pen(0.0f, 66, 50);
}

// A pen without a finite pressure or position, or in a view with a side
// below 1 or no positive aspect, is ignored: nothing reaches a record, and
// the pressure it carried does not count.
TEST_F(ViewerTest, PenInADegenerateViewIsIgnored) {
  Tick(SparkBoolean78, true);
  Draw();
  standin_clear_log();
  for (const auto& p : {std::make_tuple(not_a_number, 66.6f, 50.0f), std::make_tuple(inf, 66.6f, 50.0f),
                        std::make_tuple(1.0f, not_a_number, 50.0f), std::make_tuple(1.0f, 66.6f, -inf),
                        std::make_tuple(-inf, 66.6f, 50.0f)})
    EXPECT_EQ(pen(std::get<0>(p), std::get<1>(p), std::get<2>(p)), nullptr);
  EXPECT_TRUE(standin_log().empty());
  pen(1.0f, 66, 50);
  EXPECT_EQ(pen_calls(), (Calls{cursor(14), draw}));
  // Mid-drag too.
  standin_clear_log();
  pen(1.0f, not_a_number, 10);
  pen(1.0f, 10, inf);
  EXPECT_TRUE(standin_log().empty());
  EXPECT_EQ(SparkFloat79.value, 33.3f);
  pen(0.0f, 66, 50);

  const struct {
    float ratio, aspect;
  } views[] = {{0.004f, 1.0f}, {not_a_number, 1.0f}, {1e30f, 1.0f}, {2.0f, 1.0f}, {1.0f, -3.0f}, {1.0f, inf}};
  for (const auto& v : views) {
    standin_set_viewer_ratio(v.ratio);
    standin_set_pixel_aspect(v.aspect);
    Draw();
    standin_clear_log();
    // Wherever the handles now lie, no pen reaches them.
    for (float x : {0.0f, 0.3f, 66.6f, 200.0f}) {
      EXPECT_EQ(pen(1.0f, x, 50), nullptr);
      EXPECT_EQ(pen(1.0f, x + 10, 60), nullptr);
      EXPECT_EQ(pen(0.0f, x + 10, 60), nullptr);
    }
    EXPECT_TRUE(standin_log().empty()) << v.ratio << " " << v.aspect;
    EXPECT_TRUE(float_records_finite());
    EXPECT_EQ(SparkFloat79.value, 33.3f);
  }
  standin_set_viewer_ratio(1.0f);
  standin_set_pixel_aspect(1.0f);
  Draw();
  standin_clear_log();
  pen(1.0f, 66, 50);
  EXPECT_EQ(pen_calls(), (Calls{cursor(14), draw}));
}
