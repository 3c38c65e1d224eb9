// Host-independent half of the overlay widgets: hit tests and drag geometry.
#include <cmath>

#include "OverlayWidgetsQ4.h"
#include "overlay_geometry.h"

OverlayControlQ4::~OverlayControlQ4() {}

void OverlayControlQ4::HandleInteraction(InterType type, float x, float y) {
  // Not yet bound to a surface: there is no zoom to hit-test with.
  if (!owner) return;
  switch (type) {
    case INTER_PRESS:
      picked = hover = HitHandle(x, y);
      break;
    case INTER_HOVER:
      hover = HitHandle(x, y);
      break;
    case INTER_DRAG:
      if (picked) DragPicked(x, y);
      break;
    case INTER_RELEASE:
      HandleInteractionPlat(type, x, y);
      picked = 0;
      return;
    default:
      return;
  }
  HandleInteractionPlat(type, x, y);
}

void OverlayControlQ4::HandleInteractionPlat(InterType, float, float) {}

int OverlayControlQ4::HitHandle(float, float) const { return 0; }

void OverlayControlQ4::DragPicked(float, float) {}

bool OverlayControlQ4::Hits(float hx, float hy, float x, float y) const {
  const float g = owner->GrabHandleSize();
  return x + g > hx && hx > x - g && y + g > hy && hy > y - g;
}

int CrosshairOverlayQ4::HitHandle(float px, float py) const {
  return Hits(handle_x, handle_y, px, py) ? 1 : 0;
}

void CrosshairOverlayQ4::DragPicked(float px, float py) {
  x = px / owner->view_width;
  y = py / owner->view_height;
}

int LineOverlayQ4::HitHandle(float px, float py) const {
  return Hits(handle_x, handle_y, px, py) ? 1 : 0;
}

void LineOverlayQ4::DragPicked(float px, float py) {
  const float half_x = (x1 - x2) / 2.0f;
  const float half_y = (y1 - y2) / 2.0f;
  const float mx = px / owner->view_width;
  const float my = py / owner->view_height;
  x1 = mx + half_x;
  y1 = my + half_y;
  x2 = mx - half_x;
  y2 = my - half_y;
}

int AngleOverlayQ4::HitHandle(float px, float py) const {
  return Hits(handle_x, handle_y, px, py) ? 1 : 0;
}

void AngleOverlayQ4::DragPicked(float px, float py) {
  const float cx = owner->view_width * x;
  const float cy = owner->view_height * y;
  angle = overlay_direction_degrees(cx, cy, px, py, 1.0f / owner->Aspect());
}

int CircleOverlayQ4::HitHandle(float px, float py) const {
  if (!circular && Hits(handle_x[0], handle_y[0], px, py)) return 1;
  if (Hits(handle_x[1], handle_y[1], px, py)) return 2;
  if (!circular && Hits(handle_x[2], handle_y[2], px, py)) return 3;
  return 0;
}

void CircleOverlayQ4::DragPicked(float px, float py) {
  const float w = (float)owner->view_width;
  const float cx = w * x;
  const float cy = owner->view_height * y;
  const float d = std::sqrt((px - cx) * (px - cx) + (py - cy) * (py - cy));
  if (picked == 2) {
    x_diameter = 2.0f * d / w;
  } else if (picked == 3) {
    y_diameter = 2.0f * d / w;
  } else if (picked == 1) {
    const float r = y_diameter / x_diameter;
    const float theta = overlay_radians(angle);
    const float m45 = overlay_radians(-45.0f);
    const float divisor =
        std::cos(theta) * std::cos(m45) - std::sin(m45) * r * std::sin(theta);
    // Near a zero divisor the pen says nothing about the radii: keep them.
    if (!std::isfinite(r) || !(std::fabs(divisor) > 1e-6f)) return;
    const float k = (px - cx) / divisor;
    x_diameter = 2.0f * k / w;
    y_diameter = 2.0f * r * k / w;
  }
}

int RectangleOverlayQ4::HitHandle(float px, float py) const {
  for (int i = 0; i < 3; ++i)
    if (Hits(handle_x[i], handle_y[i], px, py)) return i + 1;
  return 0;
}

void RectangleOverlayQ4::PenInFrame(float px, float py, float& u, float& v) const {
  const float aspect = owner->Aspect();
  const float dx = px - owner->view_width * x;
  const float dy = py - owner->view_height * y;
  const float phi = overlay_radians(-angle);
  u = std::cos(phi) * dx - std::sin(phi) * dy / aspect;
  v = std::sin(phi) * dx * aspect + std::cos(phi) * dy;
}

void RectangleOverlayQ4::DragPicked(float px, float py) {
  float u, v;
  PenInFrame(px, py, u, v);
  const float reach = 2.0f * std::sqrt(u * u + v * v);
  if (picked == 2) {
    size_x = reach / owner->view_width;
  } else if (picked == 3) {
    size_y = reach / owner->view_height;
  } else if (picked == 1) {
    size_x = 2.0f * std::fabs(u) / owner->view_width;
    size_y = 2.0f * std::fabs(v) / owner->view_height;
  }
}
