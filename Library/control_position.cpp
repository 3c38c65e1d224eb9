// Position control: two host numbers, X at number and Y at number + 1.
#include "ControlQ4.h"
#include "control_range.h"

void PositionControlQ4::Sync() {}

void PositionControlQ4::Disable(bool d) {
  SetDisabled(d, [&] {
    const AuxQ4Float x_range = {aux->min_x, aux->max_x};
    const AuxQ4Float y_range = {aux->min_y, aux->max_y};
    control_lock_range(x_record, &x_range, d, number);
    control_lock_range(y_record, &y_range, d, number + 1);
  });
}

void PositionControlQ4::Hide(bool h) { SetHidden(h, 2); }

void PositionControlQ4::SetValue(double, double vx, double vy) {
  x_record->value = (float)(vx * 100.0);
  y_record->value = (float)(vy * 100.0);
  sparkControlUpdate(number);
  sparkControlUpdate(number + 1);
  Sync();
}

void PositionControlQ4::GetValue(double frame, double& vx, double& vy) {
  if (frame < 0.0) {
    vx = x;
    vy = y;
    return;
  }
  vx = sparkGetCurveValuef(1, number, (float)frame) / 100.0;
  vy = sparkGetCurveValuef(1, number + 1, (float)frame) / 100.0;
}
