// Integer, float, size and angle controls: one host number each.
#include "ControlQ4.h"
#include "control_range.h"

namespace {

float curve_value(int control, double frame) {
  return sparkGetCurveValuef(1, control, (float)frame);
}

}  // namespace

void IntegerControlQ4::Sync() { value = record->value; }

void IntegerControlQ4::Disable(bool d) {
  SetDisabled(d, [&] { control_lock_range(record, aux, d, number); });
}

void IntegerControlQ4::Hide(bool h) { SetHidden(h); }

void IntegerControlQ4::SetValue(double, long v) {
  record->value = (int32_t)v;
  sparkControlUpdate(number);
  Sync();
}

void IntegerControlQ4::GetValue(double frame, long& v) {
  v = frame < 0.0 ? value : (long)curve_value(number, frame);
}

void FloatControlQ4::Sync() { value = record->value; }

void FloatControlQ4::Disable(bool d) {
  SetDisabled(d, [&] { control_lock_range(record, aux, d, number); });
}

void FloatControlQ4::Hide(bool h) { SetHidden(h); }

void FloatControlQ4::SetValue(double, double v) {
  record->value = (float)v;
  sparkControlUpdate(number);
  Sync();
}

void FloatControlQ4::GetValue(double frame, double& v) {
  v = frame < 0.0 ? value : curve_value(number, frame);
}

void SizeControlQ4::Sync() { value = record->value / 100.0; }

void SizeControlQ4::Disable(bool d) {
  SetDisabled(d, [&] { control_lock_range(record, aux, d, number); });
}

void SizeControlQ4::Hide(bool h) { SetHidden(h); }

void SizeControlQ4::SetValue(double, double v) {
  record->value = (float)(100.0 * v);
  sparkControlUpdate(number);
  Sync();
}

void SizeControlQ4::GetValue(double frame, double& v) {
  v = frame < 0.0 ? value : curve_value(number, frame) / 100.0;
}

void AngleControlQ4::Sync() { value = record->value; }

void AngleControlQ4::Disable(bool d) {
  SetDisabled(d, [&] { control_lock_range(record, aux, d, number); });
}

void AngleControlQ4::Hide(bool h) { SetHidden(h); }

void AngleControlQ4::SetValue(double, double v) {
  record->value = (float)v;
  sparkControlUpdate(number);
  Sync();
}

void AngleControlQ4::GetValue(double, double& v) { v = value; }
