// Host-bound half of the overlay widgets: clamp the dragged geometry to the
// bound host records' ranges and write it back in percent (degrees for
// angles), telling the host which controls changed.
#include <cmath>

#include "OverlayWidgetsQ4.h"

namespace {

// The minimum wins when a record's range is inverted.
void clamp_to(float& v, const SparkFloat* record, float scale) {
  if (v * scale > record->max) v = record->max / scale;
  if (v * scale < record->min) v = record->min / scale;
}

void clamp_percent(float& v, const SparkFloat* record) { clamp_to(v, record, 100.0f); }

// Clamping turns infinities into range limits; a value that is not a number
// (a drag in a degenerate view) stays off the record.
void write_percent(SparkFloat* record, float v, int control) {
  if (std::isnan(v)) return;
  record->value = v * 100.0f;
  sparkControlUpdate(control);
}

}  // namespace

void CrosshairOverlayQ4::HandleInteractionPlat(InterType type, float, float) {
  if (type != INTER_DRAG || !picked || !x_record || !y_record) return;
  clamp_percent(x, x_record);
  clamp_percent(y, y_record);
  write_percent(x_record, x, number);
  write_percent(y_record, y, number + 1);
}

void LineOverlayQ4::HandleInteractionPlat(InterType type, float, float) {
  if (type != INTER_DRAG || !picked || !start_x_record || !start_y_record || !end_x_record ||
      !end_y_record)
    return;
  clamp_percent(x1, start_x_record);
  clamp_percent(y1, start_y_record);
  clamp_percent(x2, end_x_record);
  clamp_percent(y2, end_y_record);
  write_percent(start_x_record, x1, start_number);
  write_percent(start_y_record, y1, start_number + 1);
  write_percent(end_x_record, x2, end_number);
  write_percent(end_y_record, y2, end_number + 1);
}

void AngleOverlayQ4::HandleInteractionPlat(InterType type, float, float) {
  if (type != INTER_DRAG || !picked || !angle_record) return;
  clamp_to(angle, angle_record, 1.0f);
  if (std::isnan(angle)) return;
  angle_record->value = angle;
  sparkControlUpdate(number);
}

void CircleOverlayQ4::HandleInteractionPlat(InterType type, float, float) {
  if (type != INTER_DRAG || !x_record || !y_record) return;
  clamp_percent(x_diameter, x_record);
  clamp_percent(y_diameter, y_record);
  if (picked == 2 || picked == 1) write_percent(x_record, x_diameter, x_number);
  if (picked == 1 || picked == 3) write_percent(y_record, y_diameter, y_number);
}

void RectangleOverlayQ4::HandleInteractionPlat(InterType type, float x_pen, float y_pen) {
  if (type != INTER_DRAG || !owner || !x_record || !y_record) return;
  clamp_percent(size_x, x_record);
  clamp_percent(size_y, y_record);
  if (!square) {
    if (picked == 2 || picked == 1) write_percent(x_record, size_x, x_number);
    if (picked == 1 || picked == 3) write_percent(y_record, size_y, y_number);
    return;
  }
  if (picked == 3) {
    // The edge handle of a square sets its one size; keep it in range too.
    float u, v;
    PenInFrame(x_pen, y_pen, u, v);
    float side = 2.0f * std::sqrt(u * u + v * v) / owner->view_width;
    clamp_percent(side, x_record);
    write_percent(x_record, side, x_number);
  } else {
    write_percent(x_record, size_x, x_number);
  }
}
