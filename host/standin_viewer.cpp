#include "standin_viewer.h"

#include <GL/osmesa.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "standin_image_files.h"

StandinViewer::~StandinViewer() {
  if (!context_) return;
  if (OSMesaGetCurrentContext() == static_cast<OSMesaContext>(context_))
    OSMesaMakeCurrent(nullptr, nullptr, 0, 0, 0);
  OSMesaDestroyContext(static_cast<OSMesaContext>(context_));
}

bool StandinViewer::Open(int width, int height, std::string* error) {
  std::string reason;
  if (context_) {
    reason = "the viewer is open already";
  } else if (width <= 0 || height <= 0 || width > 16384 || height > 16384) {
    reason = "a view of " + std::to_string(width) + "x" + std::to_string(height) + " is beyond 16384x16384";
  } else {
    const size_t bytes = static_cast<size_t>(width) * height * 4;
    if (!rgba_.Allocate(bytes) || !view_.Allocate(bytes) || !column_.Allocate(static_cast<size_t>(width)))
      reason = "not enough memory for a view of " + std::to_string(width) + "x" + std::to_string(height) +
               " (" + standin_size_text(2.0 * bytes) + ")";
    else if (!(context_ = OSMesaCreateContextExt(OSMESA_RGBA, 0, 0, 0, nullptr)))
      reason = "no off-screen GL context";
  }
  if (!reason.empty()) {
    if (error) *error = reason;
    return false;
  }
  width_ = width;
  height_ = height;
  if (!MakeCurrent()) {
    if (error) *error = "the off-screen GL context cannot be made current";
    return false;
  }
  glViewport(0, 0, width, height);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0.0, width, 0.0, height, -1.0, 1.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  return true;
}

bool StandinViewer::MakeCurrent() {
  return context_ && OSMesaMakeCurrent(static_cast<OSMesaContext>(context_), rgba_.data(),
                                       GL_UNSIGNED_BYTE, width_, height_);
}

void StandinViewer::SetView(int pan_x, int pan_y, float zoom) {
  pan_x_ = pan_x;
  pan_y_ = pan_y;
  zoom_ = zoom;
}

float StandinViewer::DisplayZoom() const { return zoom_ >= 1.0f ? zoom_ : 1.0f / (2.0f - zoom_); }

void StandinViewer::Finish() {
  if (context_) glFinish();
}

void StandinViewer::DrawFrame(const void* pixels, int width, int height, bool deep12) {
  if (!MakeCurrent()) return;
  // GL keeps its own colour buffer, so the zoomed frame is built here and
  // handed over whole; the background grey shows the frame's edges.
  unsigned char* view = view_.data();
  for (size_t i = 0; i < view_.size(); i += 4) {
    view[i] = view[i + 1] = view[i + 2] = 64;
    view[i + 3] = 255;
  }
  if (pixels && width > 0 && height > 0) {
    const float z = DisplayZoom();
    int* column = column_.data();
    for (int vx = 0; vx < width_; ++vx) {
      const float fx = (vx + 0.5f - pan_x_) / z;
      column[vx] = fx >= 0.0f && fx < width ? (int)fx : -1;
    }
    const unsigned char* bytes = static_cast<const unsigned char*>(pixels);
    const uint16_t* words = static_cast<const uint16_t*>(pixels);
    for (int vy = 0; vy < height_; ++vy) {
      const float fy = (vy + 0.5f - pan_y_) / z;
      if (fy < 0.0f || fy >= height) continue;
      const size_t row = (size_t)(int)fy * width * 3;
      unsigned char* out = view + (size_t)vy * width_ * 4;
      for (int vx = 0; vx < width_; ++vx, out += 4) {
        if (column[vx] < 0) continue;
        const size_t at = row + (size_t)column[vx] * 3;
        for (int c = 0; c < 3; ++c)
          out[c] = deep12 ? (unsigned char)(words[at + c] >> 8) : bytes[at + c];
      }
    }
  }
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glRasterPos2i(0, 0);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glDrawPixels(width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, view);
  Finish();
}

void StandinViewer::DrawOverlay(SparkOverlayFn overlay, SparkHostInfo info) {
  if (!overlay || !MakeCurrent()) return;
  info.pan_x = pan_x_;
  info.pan_y = pan_y_;
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  overlay(info, zoom_);
  Finish();
}

bool StandinViewer::Pixel(int x, int y, unsigned char rgb[3]) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return false;
  Finish();
  std::memcpy(rgb, rgba_.data() + ((size_t)y * width_ + x) * 4, 3);
  return true;
}

bool StandinViewer::Write(const char* path, std::string* error) {
  if (!path || !context_) {
    if (error) *error = "no viewer to write";
    return false;
  }
  Finish();
  FrameImage image;
  image.width = width_;
  image.height = height_;
  std::string reason;
  bool written = frame_image_allocate(image, reason);
  // Files store the top row first; GL's row 0 is the bottom.
  uint16_t* out = image.samples.data();
  for (int y = height_ - 1; written && y >= 0; --y) {
    const unsigned char* p = rgba_.data() + (size_t)y * width_ * 4;
    for (int x = 0; x < width_; ++x, p += 4, out += 3) std::copy(p, p + 3, out);
  }
  written = written && image_file_write(path, image, reason);
  if (error) *error = reason;
  return written;
}
