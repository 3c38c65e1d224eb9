// One drawing per widget class: draws the widget from its geometry and stores
// where its handles now lie on screen for the widget's hit test.
#include <cmath>

#include "OverlayQ4.h"
#include "OverlayWidgetsQ4.h"
#include "overlay_geometry.h"

void OverlayQ4::SetWidgetColour(const int colour[4]) {
  SetColour(colour[0], colour[1], colour[2], colour[3]);
}

void OverlayQ4::DrawCrosshairOverlay(CrosshairOverlayQ4* w) {
  SetWidgetColour(w->colour);
  const float px = view_width * w->x;
  const float py = view_height * w->y;
  DrawCrosshair(px, py, w->diagonals);
  DrawHandle(px, py);
  w->handle_x = px;
  w->handle_y = py;
}

void OverlayQ4::DrawLineOverlay(LineOverlayQ4* w) {
  SetWidgetColour(w->colour);
  const float ax = view_width * w->x1;
  const float ay = view_height * w->y1;
  const float bx = view_width * w->x2;
  const float by = view_height * w->y2;
  DrawLine(ax, ay, bx, by);
  const float mx = std::fmin(ax, bx) + std::fabs(bx - ax) / 2.0f;
  const float my = std::fmin(ay, by) + std::fabs(by - ay) / 2.0f;
  DrawHandle(mx, my);
  w->handle_x = mx;
  w->handle_y = my;
}

void OverlayQ4::EndOfDirection(const AngleOverlayQ4* w, float& x0, float& y0, float& x1,
                               float& y1) const {
  x0 = view_width * w->x;
  y0 = view_height * w->y;
  const float len = view_width * w->length;
  const float phi = overlay_radians(w->angle);
  x1 = x0 + len * std::cos(phi);
  y1 = y0 + Aspect() * len * std::sin(phi);
}

void OverlayQ4::DrawAngleOverlay(AngleOverlayQ4* w) {
  SetWidgetColour(w->colour);
  float x0, y0, x1, y1;
  EndOfDirection(w, x0, y0, x1, y1);
  DrawLine(x0, y0, x1, y1);
  DrawHandle(x1, y1);
  w->handle_x = x1;
  w->handle_y = y1;
}

void OverlayQ4::DrawPointyAngleOverlay(AngleOverlayQ4* w) {
  SetWidgetColour(w->colour);
  float x0, y0, x1, y1;
  EndOfDirection(w, x0, y0, x1, y1);
  DrawCrosshair(x0, y0, 1);
  DrawLine(x0, y0, x1, y1);
  DrawArrow(x1, y1, x0, y0);
  w->handle_x = x1;
  w->handle_y = y1;
}

void OverlayQ4::DrawRectangleOverlay(RectangleOverlayQ4* w) {
  SetWidgetColour(w->colour);
  const float aspect = Aspect();
  const float cx = view_width * w->x;
  const float cy = view_height * w->y;
  const float height = view_height * (w->square ? w->size_x : w->size_y);
  const float hw = view_width * w->size_x / 2.0f;
  const float hh = height / 2.0f / aspect;
  DrawRectangle(cx, cy, view_width * w->size_x, height, w->angle, 0, 0);
  const float c = std::cos(overlay_radians(w->angle));
  const float s = std::sin(overlay_radians(w->angle));
  const float ox[3] = {hw, hw, 0.0f};
  const float oy[3] = {-hh, 0.0f, -hh};
  for (int i = 0; i < 3; ++i) {
    w->handle_x[i] = cx + (ox[i] * c - oy[i] * s);
    w->handle_y[i] = cy + aspect * (ox[i] * s + oy[i] * c);
    if (i < 2 || w->square == 0) DrawHandle(w->handle_x[i], w->handle_y[i]);
  }
}

void OverlayQ4::DrawCircleOverlay(CircleOverlayQ4* w) {
  SetWidgetColour(w->colour);
  const float cx = view_width * w->x;
  const float cy = view_height * w->y;
  const float a = view_width * w->x_diameter / 2.0f;
  const float b = view_width * w->y_diameter / 2.0f;
  DrawEllipse(cx, cy, 2.0f * a, 2.0f * b, w->angle, w->dotted, 4, 0.0f, 360.0f);
  const float c = std::cos(overlay_radians(w->angle));
  const float s = std::sin(overlay_radians(w->angle));
  // Drawn in the order 2, 3, 1: the X radius first.
  const int order[3] = {1, 2, 0};
  const float at[3] = {-45.0f, 0.0f, -90.0f};
  for (int k = 0; k < 3; ++k) {
    const int i = order[k];
    const float ex = a * std::cos(overlay_radians(at[i]));
    const float ey = b * std::sin(overlay_radians(at[i]));
    w->handle_x[i] = cx + c * ex - s * ey;
    w->handle_y[i] = cy + s * ex + c * ey;
    if (i == 1 || w->circular == 0) DrawHandle(w->handle_x[i], w->handle_y[i]);
  }
}
