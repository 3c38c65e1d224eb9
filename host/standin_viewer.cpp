#include "standin_viewer.h"

#include <GL/osmesa.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

uint32_t crc32_of(const unsigned char* data, size_t n, uint32_t crc = 0) {
  crc = ~crc;
  for (size_t i = 0; i < n; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void put32(std::vector<unsigned char>& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back((unsigned char)(v >> s));
}

void put_chunk(std::vector<unsigned char>& out, const char* type,
               const std::vector<unsigned char>& data) {
  put32(out, (uint32_t)data.size());
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  put32(out, crc32_of(out.data() + start, out.size() - start));
}

// A zlib stream of stored (uncompressed) deflate blocks.
std::vector<unsigned char> zlib_stored(const std::vector<unsigned char>& raw) {
  std::vector<unsigned char> z = {0x78, 0x01};
  uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  size_t pos = 0;
  do {
    const size_t n = raw.size() - pos < 65535 ? raw.size() - pos : 65535;
    z.push_back(pos + n == raw.size() ? 1 : 0);
    z.push_back((unsigned char)(n & 0xFF));
    z.push_back((unsigned char)(n >> 8));
    z.push_back((unsigned char)(~n & 0xFF));
    z.push_back((unsigned char)((~n >> 8) & 0xFF));
    z.insert(z.end(), raw.begin() + pos, raw.begin() + pos + n);
    pos += n;
  } while (pos < raw.size());
  put32(z, (b << 16) | a);
  return z;
}

bool write_file(const char* path, const std::vector<unsigned char>& bytes) {
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

StandinViewer::~StandinViewer() {
  if (!context_) return;
  if (OSMesaGetCurrentContext() == static_cast<OSMesaContext>(context_))
    OSMesaMakeCurrent(nullptr, nullptr, 0, 0, 0);
  OSMesaDestroyContext(static_cast<OSMesaContext>(context_));
}

bool StandinViewer::Open(int width, int height) {
  if (context_ || width <= 0 || height <= 0 || width > 16384 || height > 16384) return false;
  context_ = OSMesaCreateContextExt(OSMESA_RGBA, 0, 0, 0, nullptr);
  if (!context_) return false;
  width_ = width;
  height_ = height;
  rgba_.assign((size_t)width * height * 4, 0);
  if (!MakeCurrent()) return false;
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
  std::vector<unsigned char> view((size_t)width_ * height_ * 4);
  for (size_t i = 0; i < view.size(); i += 4) {
    view[i] = view[i + 1] = view[i + 2] = 64;
    view[i + 3] = 255;
  }
  if (pixels && width > 0 && height > 0) {
    const float z = DisplayZoom();
    std::vector<int> column(width_);
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
      unsigned char* out = view.data() + (size_t)vy * width_ * 4;
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
  glDrawPixels(width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, view.data());
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

bool StandinViewer::Write(const char* path) {
  if (!path || !context_) return false;
  Finish();
  const std::string name(path);
  const bool png = name.size() >= 4 && name.compare(name.size() - 4, 4, ".png") == 0;
  std::vector<unsigned char> raw;
  raw.reserve((size_t)height_ * (width_ * 3 + 1));
  // Both formats store the top row first.
  for (int y = height_ - 1; y >= 0; --y) {
    if (png) raw.push_back(0);  // filter: none
    const unsigned char* p = rgba_.data() + (size_t)y * width_ * 4;
    for (int x = 0; x < width_; ++x, p += 4) raw.insert(raw.end(), p, p + 3);
  }
  std::vector<unsigned char> file;
  if (png) {
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    file.assign(signature, signature + 8);
    std::vector<unsigned char> header;
    put32(header, (uint32_t)width_);
    put32(header, (uint32_t)height_);
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, no interlace
    put_chunk(file, "IHDR", header);
    put_chunk(file, "IDAT", zlib_stored(raw));
    put_chunk(file, "IEND", {});
  } else {
    char head[64];
    const int n = std::snprintf(head, sizeof head, "P6\n%d %d\n255\n", width_, height_);
    file.assign(head, head + n);
    file.insert(file.end(), raw.begin(), raw.end());
  }
  return write_file(path, file);
}
