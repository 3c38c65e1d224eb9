// Colour control: one host colour word, optionally with three 0-100 sliders.
#include "ControlQ4.h"

namespace {

unsigned short widen(uint32_t word, int shift) {
  const unsigned c = (word >> shift) & 0xFF;
  return (unsigned short)(c << 7 | c >> 1);
}

}  // namespace

void ColourControlQ4::Sync() {
  r = widen(*record, 0);
  g = widen(*record, 8);
  b = widen(*record, 16);
  a = 32767;
}

void ColourControlQ4::Disable(bool d) {
  if (d != disabled && sliders) {
    for (int i = 0; i < 3; ++i) {
      if (d) {
        slider[i]->min = slider[i]->max = slider[i]->value;
      } else {
        slider[i]->min = 0.0f;
        slider[i]->max = 100.0f;
      }
      sparkControlUpdate(number + 1 + i);
    }
  }
  if (copy) *copy = *record;
  sparkControlUpdate(number);
  disabled = d;
}

void ColourControlQ4::Hide(bool h) { SetHidden(h, sliders ? 4 : 1); }

void ColourControlQ4::SetValue(double, unsigned short vr, unsigned short vg, unsigned short vb,
                               unsigned short) {
  const unsigned short channel[3] = {vr, vg, vb};
  uint32_t word = 0xFF000000u;
  for (int i = 0; i < 3; ++i) word |= (uint32_t)((channel[i] >> 7) & 0xFF) << (8 * i);
  *record = word;
  if (sliders) {
    for (int i = 0; i < 3; ++i) {
      slider[i]->value = (float)((channel[i] >> 7) / 2.55);
      sparkControlUpdate(number + 1 + i);
    }
  }
  Sync();
}

void ColourControlQ4::GetValue(double, unsigned short& vr, unsigned short& vg,
                               unsigned short& vb, unsigned short& va) {
  vr = (unsigned short)((*record & 0xFF) << 7);
  vg = (unsigned short)(((*record >> 8) & 0xFF) << 7);
  vb = (unsigned short)(((*record >> 16) & 0xFF) << 7);
  va = 32767;
}
