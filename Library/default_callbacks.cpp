#include "default_callbacks.h"

#include "effect_services.h"

void* DefaultCB(int reason, SparkHostInfo info) {
  const unsigned char auto_preview = *reinterpret_cast<unsigned char*>(&SparkBoolean34.value);
  if (auto_preview && reason == 1) return SparkProcess(info);
  sparkViewingDraw();
  return nullptr;
}

void* OverlayCB(int, SparkHostInfo) {
  sparkViewingDraw();
  return nullptr;
}
