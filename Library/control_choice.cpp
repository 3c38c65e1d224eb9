// List, checkbox and button controls.
#include "ControlQ4.h"

namespace {

// The host reads and writes only the lowest byte of a boolean's value.
unsigned char* value_byte(SparkBoolean* record) {
  return reinterpret_cast<unsigned char*>(&record->value);
}

}  // namespace

void ListControlQ4::Sync() { value = record->value + 1; }

void ListControlQ4::Disable(bool d) {
  SetDisabled(d, [&] {
    record->count = d ? 1 : aux->count;
    sparkControlUpdate(number);
  });
}

void ListControlQ4::Hide(bool h) { SetHidden(h); }

void ListControlQ4::SetValue(double, long v) {
  record->value = (int32_t)(v - 1);
  sparkControlUpdate(number);
  Sync();
}

void ListControlQ4::GetValue(double, long& v) {
  value = record->value + 1;
  v = value;
}

void CheckboxControlQ4::Sync() { value = *value_byte(record) ? 1 : 0; }

void CheckboxControlQ4::Disable(bool d) {
  saved = (signed char)*value_byte(record);
  SetDisabled(d, [&] { sparkControlUpdate(number); });
}

void CheckboxControlQ4::Hide(bool h) { SetHidden(h); }

void CheckboxControlQ4::SetValue(double, long v) {
  *value_byte(record) = (unsigned char)(v & 0xFF);
  sparkControlUpdate(number);
  Sync();
  if (v != 1 || !aux) return;
  // A count beyond the record's capacity would walk off its tables.
  int count = aux->count;
  if (count < 0) count = 0;
  if (count > AUXQ4_GROUP_MAX) count = AUXQ4_GROUP_MAX;
  for (int i = 0; i < count; ++i) {
    if (aux->values[i]) *aux->values[i] = 0;
    sparkControlUpdate(aux->members[i]);
  }
}

void CheckboxControlQ4::GetValue(double, long& v) { v = value; }

void ButtonControlQ4::Disable(bool d) {
  SetDisabled(d, [&] { sparkControlUpdate(number); });
}

void ButtonControlQ4::Hide(bool h) { SetHidden(h); }
