// Primitives and line-built shapes of the overlay surface.
#include <GL/gl.h>

#include <cmath>

#include "OverlayQ4.h"
#include "overlay_geometry.h"

float overlay_radians(float degrees) { return (float)(degrees * 0.017453292519943295); }

float overlay_direction_degrees(float x1, float y1, float x2, float y2, float y_scale) {
  const float a = (float)(std::atan2(y_scale * std::fabs(y2 - y1), std::fabs(x2 - x1)) /
                          0.017453292519943295);
  if (x1 > x2 && y2 >= y1) return 180.0f - a;
  if (x1 >= x2 && y1 > y2) return 180.0f + a;
  if (x2 > x1 && y1 > y2) return 360.0f - a;
  return a;
}

OverlayQ4::~OverlayQ4() {}

void OverlayQ4::RenderOverlay() {}

void OverlayQ4::HandleInteraction(InterType, float, float) {}

void OverlayQ4::BeginRender() {}

void OverlayQ4::EndRender() {}

void OverlayQ4::SetColour(int r, int g, int b, int) {
  glColor3f(r / 65535.0f, g / 65535.0f, b / 65535.0f);
}

void OverlayQ4::DrawPixel(float x, float y) {
  glBegin(GL_POINTS);
  glVertex2f(x, y);
  glEnd();
}

void OverlayQ4::DrawLine(float x1, float y1, float x2, float y2) {
  glBegin(GL_LINES);
  glVertex2f(x1, y1);
  glVertex2f(x2, y2);
  glEnd();
}

void OverlayQ4::DrawHandle(float x, float y, bool) {
  const float h = GrabHandleSize();
  glBegin(GL_POLYGON);
  glVertex2f(x - h, y - h);
  glVertex2f(x + h, y - h);
  glVertex2f(x + h, y + h);
  glVertex2f(x - h, y + h);
  glEnd();
}

float OverlayQ4::GrabHandleSize() const { return 5.0f / zoom; }

void OverlayQ4::DrawLineDotted(float x1, float y1, float x2, float y2, int dash) {
  // A dash of 0 or less would make the piece count unbounded.
  if (dash <= 0) return;
  const float length = std::sqrt((x1 - x2) * (x1 - x2) + (y1 - y2) * (y1 - y2));
  const float count = length / dash;
  if (!(count > 0.0f) || !std::isfinite(count)) return;
  const float sx = (x2 - x1) / count;
  const float sy = (y2 - y1) / count;
  float px = x1;
  float py = y1;
  for (long i = 0; i < count; ++i) {
    const float qx = px + sx;
    const float qy = py + sy;
    if (i & 1) {
      const float ex = sx >= 0.0f ? std::fmin(qx, x2) : std::fmax(qx, x2);
      const float ey = sy >= 0.0f ? std::fmin(qy, y2) : std::fmax(qy, y2);
      DrawLine(px, py, ex, ey);
    }
    px = qx;
    py = qy;
  }
}

void OverlayQ4::DrawEllipse(float cx, float cy, float w, float h, float angle, int dotted,
                            int seglen, float a0, float a1) {
  // A segment length of 0 or less would make the step count unbounded.
  if (seglen <= 0) return;
  float step = (float)(360.0 / (M_PI * w / seglen));
  if (step > 36.0f) step = 36.0f;
  if (w < 5.0f || h < 5.0f) return;
  if (!(step > 0.0f) || !std::isfinite(step)) return;
  const float rx = w / 2.0f;
  const float ry = h / 2.0f;
  const float c = std::cos(overlay_radians(angle));
  const float s = std::sin(overlay_radians(angle));
  if (!(a1 >= a0)) return;
  float first_x = 0.0f, first_y = 0.0f, prev_x = 0.0f, prev_y = 0.0f;
  long i = 0;
  for (float t = a0; t <= a1; t += step, ++i) {
    const float ex = rx * std::cos(overlay_radians(t));
    const float ey = ry * std::sin(overlay_radians(t));
    const float px = cx + c * ex - s * ey;
    const float py = cy + s * ex + c * ey;
    if (t == a0) {
      prev_x = first_x = px;
      prev_y = first_y = py;
    }
    if (dotted == 0 || (i & 1)) DrawLine(px, py, prev_x, prev_y);
    prev_x = px;
    prev_y = py;
    if (t + step == t) break;  // no progress at this magnitude
  }
  if (a0 == 0.0f && a1 == 360.0f) DrawLine(first_x, first_y, prev_x, prev_y);
}

void OverlayQ4::DrawRectangle(float cx, float cy, float w, float h, float angle, int dotted,
                              int dash) {
  const float aspect = Aspect();
  const float a = (h / aspect) / 2.0f;
  const float b = w / 2.0f;
  const float c = std::cos(overlay_radians(angle));
  const float s = std::sin(overlay_radians(angle));
  const float px[4] = {cx + b * c - a * s, cx + b * c + a * s, cx - b * c + a * s,
                       cx - b * c - a * s};
  const float py[4] = {cy + aspect * (b * s + a * c), cy + aspect * (b * s - a * c),
                       cy + aspect * (-b * s - a * c), cy + aspect * (-b * s + a * c)};
  for (int k = 0; k < 4; ++k) {
    const int n = (k + 1) & 3;
    if (dotted)
      DrawLineDotted(px[k], py[k], px[n], py[n], dash);
    else
      DrawLine(px[k], py[k], px[n], py[n]);
  }
}

void OverlayQ4::DrawCrosshair(float x, float y, int diagonals) {
  const float d1 = 10.0f / zoom;
  const float d2 = 25.0f / zoom;
  DrawLine(x + d1, y, x + d2, y);
  DrawLine(x - d1, y, x - d2, y);
  DrawLine(x, y + d1, x, y + d2);
  DrawLine(x, y - d1, x, y - d2);
  if (!diagonals) return;
  const float e1 = d1 / 2.0f;
  const float e2 = d2 / 2.0f;
  DrawLine(x + e1, y + e1, x + e2, y + e2);
  DrawLine(x - e1, y + e1, x - e2, y + e2);
  DrawLine(x + e1, y - e1, x + e2, y - e2);
  DrawLine(x - e1, y - e1, x - e2, y - e2);
}

void OverlayQ4::DrawArrow(float x1, float y1, float x2, float y2) {
  const float phi = overlay_direction_degrees(x1, y1, x2, y2, 1.0f);
  const float len = 40.0f / zoom;
  DrawLine(x1, y1, x1 + len * std::cos(overlay_radians(phi + 20.0f)),
           y1 + len * std::sin(overlay_radians(phi + 20.0f)));
  DrawLine(x1, y1, x1 + len * std::cos(overlay_radians(phi - 20.0f)),
           y1 + len * std::sin(overlay_radians(phi - 20.0f)));
}
