// Curves take keys and frames from anywhere: keys at any int frame and any
// value, frames of any float (NaN, infinite, huge). A curve's value always
// lies between its keys' values, and applying it keeps records in range.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "standin_host.h"

namespace {

void check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "curves: %s\n", what);
  std::abort();
}

template <typename T>
T take(const uint8_t*& data, size_t& size) {
  T value{};
  if (size >= sizeof value) {
    std::memcpy(&value, data, sizeof value);
    data += sizeof value;
    size -= sizeof value;
  }
  return value;
}

}  // namespace

// Input: a key count byte, that many (int32 frame, float value) keys, then
// float frames to ask for.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SparkFloat f = {0.5f, -1.0f, 1.0f, 0.01f, 0, "F: %f", nullptr};
  SparkInt i = {0, -100, 100, 1, 0, "I: %d", nullptr};
  SparkPup p = {0, 3, nullptr, {"a", "b", "c"}};
  standin_reset();
  standin_set_logging(false);
  standin_register_control(1, standin_float, &f);
  standin_register_control(2, standin_int, &i);
  standin_register_control(3, standin_pup, &p);
  const int count = take<uint8_t>(data, size) % 17;
  float low = INFINITY, high = -INFINITY;
  for (int k = 0; k < count && size >= 8; ++k) {
    const int32_t frame = take<int32_t>(data, size);
    const float value = take<float>(data, size);
    for (int control = 1; control <= 3; ++control)
      check(sparkSetCurveKey(0, control, frame, value) == (std::isfinite(value) ? 1 : 0), "key refusal");
  }
  for (const auto& key : standin_curve_keys(1)) {
    low = std::min(low, key.second);
    high = std::max(high, key.second);
  }
  while (size >= 4) {
    const float frame = take<float>(data, size);
    const float value = sparkGetCurveValuef(1, 1, frame);
    check(std::isfinite(value), "value not finite");
    if (low <= high) check(value >= low && value <= high, "value outside its keys");
    sparkGetCurveValuef(1, 3, frame);
    const int whole = std::isnan(frame) ? 0 : static_cast<int>(std::max(-2e9f, std::min(2e9f, frame)));
    standin_apply_curves(whole);
    check(f.value >= -1.0f && f.value <= 1.0f, "float record out of range");
    check(i.value >= -100 && i.value <= 100, "int record out of range");
    check(p.value >= 0 && p.value <= 2, "list record out of range");
  }
  return 0;
}
