// The viewer: the widgets of wind 1, vortex 1, the velocity regions and
// gravity drawn over the frame (SparkOverlay) and dragged by the pen
// (SparkInteract), writing back into their host controls.
#include <GL/gl.h>

#include <cmath>

#include "control_records.h"
#include "host_state.h"
#include "tidewright.h"

OverlayInteraction overlay_interaction;

namespace {

const int white[4] = {65535, 65535, 65535, 65535};
const int red[4] = {65535, 0, 0, 65535};
const int green[4] = {0, 65535, 0, 65535};
const int yellow[4] = {65535, 65535, 0, 65535};

// Viewer cursors.
const int cursor_normal = 1;
const int cursor_picked = 14;
const int cursor_hover = 20;

void paint(OverlayControlQ4& widget, const int (&colour)[4]) {
  for (int c = 0; c < 4; ++c) widget.colour[c] = colour[c];
}

void bind(CrosshairOverlayQ4& widget, int number, SparkFloat& x, SparkFloat& y) {
  widget.number = number;
  widget.x_record = &x;
  widget.y_record = &y;
}

void bind(RectangleOverlayQ4& widget, int width_number, SparkFloat& width, int height_number,
          SparkFloat& height) {
  widget.x_number = width_number;
  widget.x_record = &width;
  widget.y_number = height_number;
  widget.y_record = &height;
}

void bind(AngleOverlayQ4& widget, int number, SparkFloat& angle) {
  widget.number = number;
  widget.angle_record = &angle;
}

// A handle at NaN is never within grab distance of any pen.
void forget(float& x, float& y) { x = y = std::nanf(""); }

void place(CrosshairOverlayQ4& widget, const PositionControlQ4& at) {
  widget.x = static_cast<float>(at.x);
  widget.y = static_cast<float>(at.y);
}

void aim(AngleOverlayQ4& widget, double x, double y, double degrees) {
  widget.x = static_cast<float>(x);
  widget.y = static_cast<float>(y);
  widget.length = 0.1f;
  widget.angle = static_cast<float>(degrees);
}

// Wind and vortex widgets show only while their strength does anything.
bool acts(double strength) { return std::fabs(static_cast<float>(strength)) > 0.00001; }

// The view is the frame widened by the viewer's ratio; a product that is
// no int (a ratio that is not a number, or vast) gives no view at all.
int view_side(float side) {
  if (!std::isfinite(side) || std::fabs(side) >= 2147483648.0f) return 0;
  return static_cast<int>(side);
}

bool lowest_byte_set(const SparkBoolean& box) { return (box.value & 0xFF) != 0; }

}  // namespace

std::array<OverlayControlQ4*, 12> Tidewright::DrawnWidgets() {
  return {&wind1_start_widget,        &wind1_end_widget,      &wind1_line_widget,
          &vortex1_centre_widget,     &vortex1_radius_widget, &region_a_widget,
          &region_a_centre_widget,    &region_a_direction_widget, &region_b_widget,
          &region_b_centre_widget,    &region_b_direction_widget, &gravity_direction_widget};
}

void Tidewright::BindWidgets() {
  bind(wind1_start_widget, 72, SparkFloat72, SparkFloat73);
  bind(wind1_end_widget, 74, SparkFloat74, SparkFloat75);
  wind1_line_widget.start_number = 72;
  wind1_line_widget.start_x_record = &SparkFloat72;
  wind1_line_widget.start_y_record = &SparkFloat73;
  wind1_line_widget.end_number = 74;
  wind1_line_widget.end_x_record = &SparkFloat74;
  wind1_line_widget.end_y_record = &SparkFloat75;
  bind(vortex1_centre_widget, 79, SparkFloat79, SparkFloat80);
  // One control sizes the circle both ways.
  vortex1_radius_widget.x_number = vortex1_radius_widget.y_number = 81;
  vortex1_radius_widget.x_record = vortex1_radius_widget.y_record = &SparkFloat81;
  bind(region_a_centre_widget, 43, SparkFloat43, SparkFloat44);
  bind(region_a_widget, 45, SparkFloat45, 46, SparkFloat46);
  bind(region_a_direction_widget, 47, SparkFloat47);
  bind(region_b_centre_widget, 50, SparkFloat50, SparkFloat51);
  bind(region_b_widget, 52, SparkFloat52, 53, SparkFloat53);
  bind(region_b_direction_widget, 54, SparkFloat54);
  bind(gravity_direction_widget, 40, SparkFloat40);

  for (OverlayControlQ4* widget : DrawnWidgets()) {
    widget->owner = this;
    paint(*widget, white);
  }
  paint(vortex1_centre_widget, red);
  paint(vortex1_radius_widget, red);
  paint(region_a_direction_widget, green);
  paint(region_b_centre_widget, yellow);
  paint(region_b_widget, yellow);
  paint(region_b_direction_widget, green);
  paint(gravity_direction_widget, red);
}

void Tidewright::ForgetWidgetHandles() {
  for (CrosshairOverlayQ4* crosshair : {&wind1_start_widget, &wind1_end_widget, &vortex1_centre_widget,
                                        &region_a_centre_widget, &region_b_centre_widget})
    forget(crosshair->handle_x, crosshair->handle_y);
  forget(wind1_line_widget.handle_x, wind1_line_widget.handle_y);
  for (AngleOverlayQ4* direction :
       {&region_a_direction_widget, &region_b_direction_widget, &gravity_direction_widget})
    forget(direction->handle_x, direction->handle_y);
  for (int i = 0; i < 3; ++i) {
    forget(vortex1_radius_widget.handle_x[i], vortex1_radius_widget.handle_y[i]);
    forget(region_a_widget.handle_x[i], region_a_widget.handle_y[i]);
    forget(region_b_widget.handle_x[i], region_b_widget.handle_y[i]);
  }
}

void Tidewright::RenderOverlay() {
  BeginRender();
  if (c71.value) {
    const bool shown = acts(c76.value);
    wind1_start_widget.shown = wind1_end_widget.shown = wind1_line_widget.shown = shown;
    if (shown) {
      place(wind1_start_widget, c72);
      DrawCrosshairOverlay(&wind1_start_widget);
      place(wind1_end_widget, c74);
      DrawCrosshairOverlay(&wind1_end_widget);
      LineOverlayQ4& line = wind1_line_widget;
      line.x1 = wind1_start_widget.x;
      line.y1 = wind1_start_widget.y;
      line.x2 = wind1_end_widget.x;
      line.y2 = wind1_end_widget.y;
      // The head points where the wind blows.
      DrawArrow(view_width * line.x2, view_height * line.y2, view_width * line.x1,
                view_height * line.y1);
      DrawLineOverlay(&line);
    }
  }
  if (c78.value) {
    const bool shown = acts(c82.value);
    vortex1_centre_widget.shown = vortex1_radius_widget.shown = shown;
    if (shown) {
      place(vortex1_centre_widget, c79);
      DrawCrosshairOverlay(&vortex1_centre_widget);
      // C81 is drawn as the diameter while the force reaches out to C81 as
      // a radius: the circle marks where the force has fallen to half.
      CircleOverlayQ4& circle = vortex1_radius_widget;
      circle.x = vortex1_centre_widget.x;
      circle.y = vortex1_centre_widget.y;
      circle.x_diameter = static_cast<float>(c81.value);
      circle.y_diameter = static_cast<float>(c81.value * Aspect());
      circle.angle = 0.0f;
      circle.circular = 1;
      circle.dotted = 0;
      DrawCircleOverlay(&circle);
    }
  }
  const auto region = [this](CrosshairOverlayQ4& centre, RectangleOverlayQ4& area,
                             AngleOverlayQ4& direction, const PositionControlQ4& at,
                             const SizeControlQ4& width, const SizeControlQ4& height,
                             const AngleControlQ4& angle) {
    if (centre.shown) {
      place(centre, at);
      DrawCrosshairOverlay(&centre);
    }
    if (area.shown) {
      area.x = static_cast<float>(at.x);
      area.y = static_cast<float>(at.y);
      area.size_x = static_cast<float>(width.value);
      area.size_y = static_cast<float>(height.value);
      area.angle = 0.0f;
      area.square = 0;
      DrawRectangleOverlay(&area);
    }
    if (direction.shown) {
      aim(direction, at.x, at.y, angle.value);
      DrawPointyAngleOverlay(&direction);
    }
  };
  if (c42.value)
    region(region_a_centre_widget, region_a_widget, region_a_direction_widget, c43, c45, c46, c47);
  if (c49.value)
    region(region_b_centre_widget, region_b_widget, region_b_direction_widget, c50, c52, c53, c54);
  if (c38.value && gravity_direction_widget.shown) {
    aim(gravity_direction_widget, 0.55, 0.5, c40.value);
    DrawPointyAngleOverlay(&gravity_direction_widget);
  }
  EndRender();
}

void Tidewright::HandleInteraction(InterType kind, float x, float y) {
  const std::array<OverlayControlQ4*, 12> widgets = DrawnWidgets();
  for (int i = 0; i < 12; ++i)
    if (i >= 5 || widgets[i]->shown) widgets[i]->HandleInteraction(kind, x, y);
}

extern "C" {

void SparkOverlay(SparkHostInfo info, float zoom) {
  if (lowest_byte_set(SparkBoolean28)) return;
  SparkGraphInfo graph = {};
  graph.pixel_aspect = 1.0f;
  sparkGraphSetup(&graph);
  const float ratio = sparkGetViewerRatio();
  // Zoomed out, the host shows the frame at 1 / (2 - zoom).
  const float drawn_zoom = zoom >= 1.0f ? zoom : 1.0f / (2.0f - zoom);
  Tidewright& effect = Instance;
  effect.view_width = view_side(static_cast<float>(info.frame_width) * ratio);
  effect.view_height = info.frame_height;
  effect.aspect_num = graph.pixel_aspect + 1.0f - ratio;
  effect.aspect_den = 1.0f;
  effect.zoom = drawn_zoom;
  effect.LoadNumericControls();
  effect.BindWidgets();
  overlay_interaction.view_set = true;

  glLoadIdentity();
  glTranslatef(static_cast<float>(info.pan_x), static_cast<float>(info.pan_y), 0.0f);
  glScalef(drawn_zoom, drawn_zoom, 1.0f);
  effect.RenderOverlay();
  glFlush();
}

void* SparkInteract(SparkHostInfo info, int, int, float pressure, float x, float y) {
  if (info.interactive == 0) return nullptr;
  OverlayInteraction& state = overlay_interaction;
  Tidewright& effect = Instance;
  // Before the first draw, or in a view without area or shape, the widgets
  // have nothing to measure the pen against; an event without a position
  // or pressure says nothing. None of these may reach a control.
  if (!state.view_set || effect.view_width < 1 || effect.view_height < 1 ||
      !(effect.Aspect() > 0.0f) || !std::isfinite(effect.Aspect()) || !std::isfinite(pressure) ||
      !std::isfinite(x) || !std::isfinite(y))
    return nullptr;
  SparkGraphInfo graph = {};
  sparkGraphSetup(&graph);
  const float view_x = x * sparkGetViewerRatio();
  if (!std::isfinite(view_x)) return nullptr;
  effect.pen_pressure = pressure;
  if (lowest_byte_set(SparkBoolean28)) return nullptr;

  // Press, drag and release follow the pressure alone.
  const float last = state.last_pressure;
  InterType kind = INTER_HOVER;
  if (last == 0.0f && pressure > 0.0f)
    kind = INTER_PRESS;
  else if (last > 0.0f && pressure > 0.0f)
    kind = INTER_DRAG;
  else if (last > 0.0f && pressure == 0.0f)
    kind = INTER_RELEASE;
  state.last_pressure = pressure;

  const std::array<OverlayControlQ4*, 12> widgets = effect.DrawnWidgets();
  const auto any = [&widgets](int OverlayControlQ4::*flag) {
    for (const OverlayControlQ4* widget : widgets)
      if (widget->*flag) return true;
    return false;
  };
  if (kind == INTER_PRESS) state.picked = false;
  effect.HandleInteraction(kind, view_x, y);
  switch (kind) {
    case INTER_PRESS:
      state.picked = any(&OverlayControlQ4::picked);
      sparkViewingCursor(state.picked ? cursor_picked : cursor_normal);
      break;
    case INTER_RELEASE: sparkViewingCursor(cursor_normal); break;
    case INTER_HOVER: sparkViewingCursor(any(&OverlayControlQ4::hover) ? cursor_hover : cursor_normal); break;
    case INTER_DRAG: break;
  }
  if (kind == INTER_HOVER) return nullptr;
  sparkViewingDraw();
  // A picked widget let go: the frame renders again with its new values.
  if (kind == INTER_RELEASE && state.picked && lowest_byte_set(SparkBoolean34))
    return SparkProcess(info);
  return nullptr;
}
}
