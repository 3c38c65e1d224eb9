#ifndef STANDIN_VIEWER_H
#define STANDIN_VIEWER_H

// The stand-in host's viewer: an off-screen OpenGL context of the view size
// (Mesa's OSMesa, no display needed) in which the frame is shown at the
// viewer's pan and zoom and the plug-in draws its overlay, so a person can
// look at what the artist would see. One viewer is current per thread.

#include <string>

#include "spark.h"
#include "standin_array.h"

class StandinViewer {
 public:
  StandinViewer() = default;
  ~StandinViewer();
  StandinViewer(const StandinViewer&) = delete;
  StandinViewer& operator=(const StandinViewer&) = delete;

  // Creates the context with a view of width x height pixels and makes it
  // current, with window coordinates as the projection. False on failure,
  // with the reason in error when given.
  bool Open(int width, int height, std::string* error = nullptr);
  bool MakeCurrent();

  // Pan in view pixels; zoom as the host reports it (below 1 the frame is
  // shown at 1 / (2 - zoom), as the overlay draws it).
  void SetView(int pan_x, int pan_y, float zoom);
  float DisplayZoom() const;

  // Clears the view and shows a host frame buffer (packed 8-bit RGB, or
  // three 16-bit words of 12 bits in bits 4-15; row 0 at the bottom) at the
  // pan, scaled by the display zoom.
  void DrawFrame(const void* pixels, int width, int height, bool deep12);

  // Lets the plug-in draw its overlay with this viewer's pan and zoom.
  void DrawOverlay(SparkOverlayFn overlay, SparkHostInfo info);

  // The view's colour at (x, y), y up; false outside the view.
  bool Pixel(int x, int y, unsigned char rgb[3]);

  // Writes the view as an image file of the path's format (8-bit RGB);
  // false (with the reason in error when given) on failure.
  bool Write(const char* path, std::string* error = nullptr);

  int width() const { return width_; }
  int height() const { return height_; }

 private:
  void Finish();

  void* context_ = nullptr;
  StandinArray<unsigned char> rgba_;  // GL's colour buffer
  StandinArray<unsigned char> view_;  // the zoomed frame handed to GL
  StandinArray<int> column_;          // the frame column of each view column
  int width_ = 0;
  int height_ = 0;
  int pan_x_ = 0;
  int pan_y_ = 0;
  float zoom_ = 1.0f;
};

#endif
