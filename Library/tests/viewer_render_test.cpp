// What the artist sees: a frame in the stand-in viewer with a widget drawn
// over it at the viewer's pan and zoom, read back as pixels and as files.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "OverlayWidgetsQ4.h"
#include "standin_viewer.h"

namespace {

OverlayQ4 surface;
CrosshairOverlayQ4 widget;

// Draws the way the effect's overlay entry does: pan, then zoom.
void draw_overlay(SparkHostInfo info, float zoom) {
  glLoadIdentity();
  glTranslatef((float)info.pan_x, (float)info.pan_y, 0.0f);
  glScalef(zoom, zoom, 1.0f);
  surface.zoom = zoom;
  surface.DrawCrosshairOverlay(&widget);
  glFlush();
}

std::vector<unsigned char> read_file(const std::string& path) {
  std::vector<unsigned char> bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return bytes;
  for (int c; (c = std::fgetc(f)) != EOF;) bytes.push_back((unsigned char)c);
  std::fclose(f);
  return bytes;
}

uint32_t be32(const unsigned char* p) {
  return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

class ViewerRender : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(viewer.Open(200, 150));
    frame.assign(80 * 60 * 3, 0);
    for (size_t i = 0; i < frame.size(); i += 3) {
      frame[i] = 10;
      frame[i + 1] = 200;
      frame[i + 2] = 30;
    }
    surface.view_width = 80;
    surface.view_height = 60;
    widget.x = 0.25f;
    widget.y = 0.5f;  // view (20, 30)
    widget.colour[0] = 65535;
    widget.colour[1] = widget.colour[2] = 0;
    viewer.SetView(20, 10, 2.0f);
    viewer.DrawFrame(frame.data(), 80, 60, false);
    viewer.DrawOverlay(draw_overlay, SparkHostInfo{});
  }

  StandinViewer viewer;
  std::vector<unsigned char> frame;
};

TEST_F(ViewerRender, HandleIsASquareOfTheWidgetColourAtPanPlusZoomTimesPosition) {
  unsigned char rgb[3];
  // Handle centre at (20 + 2 * 20, 10 + 2 * 30) = (60, 70), 10 pixels wide.
  for (int dy = -4; dy <= 4; dy += 4) {
    for (int dx = -4; dx <= 4; dx += 4) {
      ASSERT_TRUE(viewer.Pixel(60 + dx, 70 + dy, rgb));
      EXPECT_EQ(rgb[0], 255) << dx << "," << dy;
      EXPECT_EQ(rgb[1], 0);
      EXPECT_EQ(rgb[2], 0);
    }
  }
  // Just outside the square, between the arms: the frame shows.
  ASSERT_TRUE(viewer.Pixel(60 + 7, 70 + 7, rgb));
  EXPECT_EQ(rgb[0], 10);
  EXPECT_EQ(rgb[1], 200);
  EXPECT_EQ(rgb[2], 30);
  // Left of the pan there is no frame.
  ASSERT_TRUE(viewer.Pixel(5, 70, rgb));
  EXPECT_EQ(rgb[1], 64);
  EXPECT_FALSE(viewer.Pixel(200, 0, rgb));
}

TEST_F(ViewerRender, WritesTheViewAsPpmAndPng) {
  const std::string home = std::getenv("Q4_HOME_DIR");
  ASSERT_TRUE(viewer.Write((home + "/view.ppm").c_str()));
  ASSERT_TRUE(viewer.Write((home + "/view.png").c_str()));

  const auto ppm = read_file(home + "/view.ppm");
  const std::string head = "P6\n200 150\n255\n";
  ASSERT_EQ(ppm.size(), head.size() + 200 * 150 * 3);
  EXPECT_EQ(std::string(ppm.begin(), ppm.begin() + head.size()), head);
  // PPM rows run top-down: view row 70 is file row 150 - 1 - 70.
  const size_t at = head.size() + ((size_t)(150 - 1 - 70) * 200 + 60) * 3;
  EXPECT_EQ(ppm[at], 255);
  EXPECT_EQ(ppm[at + 1], 0);

  const auto png = read_file(home + "/view.png");
  ASSERT_GT(png.size(), 8u + 25u + 12u);
  const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  EXPECT_TRUE(std::equal(signature, signature + 8, png.begin()));
  EXPECT_EQ(be32(&png[8]), 13u);
  EXPECT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR");
  EXPECT_EQ(be32(&png[16]), 200u);
  EXPECT_EQ(be32(&png[20]), 150u);
  // A peer decoder finds the PPM's pixels in the PNG.
  const std::string decoded = home + "/decoded.ppm";
  ASSERT_EQ(std::system(("/usr/bin/pngtopnm " + home + "/view.png > " + decoded).c_str()), 0);
  EXPECT_EQ(read_file(decoded), ppm);
}

}  // namespace
