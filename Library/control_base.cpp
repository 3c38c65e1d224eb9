#include "ControlQ4.h"

void ControlQ4::Sync() {}

void ControlQ4::Disable(bool d) { disabled = d; }

void ControlQ4::Hide(bool h) { hidden = h; }

void ControlQ4::ResetKeyframes() {}

void ControlQ4::EnableKeyframes() {}

void ControlQ4::ShowHost(bool hide, int k) {
  if (hide)
    sparkDisableParameter(1, k);
  else
    sparkEnableParameter(1, k);
}

void ControlQ4::SetHidden(bool h, int count) {
  hidden = h;
  for (int i = 0; i < count; ++i) ShowHost(h, number + i);
}
