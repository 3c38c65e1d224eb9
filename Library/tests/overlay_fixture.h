#ifndef OVERLAY_FIXTURE_H
#define OVERLAY_FIXTURE_H

#include <gtest/gtest.h>

#include "OverlayQ4.h"
#include "gl_feedback.h"
#include "standin_viewer.h"

// A real off-screen GL context whose window coordinates are view units
// (no pan, zoom applied only where a test sets it).
class OverlayFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(viewer.Open(256, 256));
    surface.view_width = 200;
    surface.view_height = 100;
  }

  std::vector<FbPrimitive> Lines() { return only(feedback_end(), GL_LINE_TOKEN); }

  StandinViewer viewer;
  OverlayQ4 surface;
};

#define EXPECT_VERTEX(vertex, ex, ey)      \
  do {                                     \
    EXPECT_NEAR((vertex).x, (ex), 1e-3);   \
    EXPECT_NEAR((vertex).y, (ey), 1e-3);   \
  } while (0)

#endif
