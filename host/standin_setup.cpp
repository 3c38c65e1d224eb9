// Control records known to the host: their animation curves and the text
// setup file that holds their values.
#include <cstdio>
#include <cstring>
#include <iterator>

#include "standin_state.h"

namespace {

const char* const kind_names[] = {"float", "userfloat", "int", "boolean", "pup", "push"};

// Current value of a registered record as a float (lock held).
bool record_value(const StandinControl& control, float& value) {
  switch (control.kind) {
    case standin_float: value = static_cast<SparkFloat*>(control.record)->value; return true;
    case standin_user_float: value = static_cast<SparkUserFloat*>(control.record)->value; return true;
    case standin_int: value = static_cast<float>(static_cast<SparkInt*>(control.record)->value); return true;
    case standin_boolean:
      value = static_cast<float>(static_cast<SparkBoolean*>(control.record)->value);
      return true;
    case standin_pup: value = static_cast<float>(static_cast<SparkPup*>(control.record)->value); return true;
    case standin_push: return false;
  }
  return false;
}

void set_record_value(const StandinControl& control, double value) {
  switch (control.kind) {
    case standin_float: static_cast<SparkFloat*>(control.record)->value = static_cast<float>(value); break;
    case standin_user_float:
      static_cast<SparkUserFloat*>(control.record)->value = static_cast<float>(value);
      break;
    case standin_int: static_cast<SparkInt*>(control.record)->value = static_cast<int32_t>(value); break;
    case standin_boolean:
      static_cast<SparkBoolean*>(control.record)->value = static_cast<int32_t>(value);
      break;
    case standin_pup: static_cast<SparkPup*>(control.record)->value = static_cast<int32_t>(value); break;
    case standin_push: break;
  }
}

}  // namespace

void standin_register_control(int number, StandinControlKind kind, void* record) {
  std::lock_guard<std::mutex> lock(standin_state().mutex);
  if (record)
    standin_state().controls[number] = StandinControl{kind, record};
  else
    standin_state().controls.erase(number);
}

std::vector<std::pair<int, float>> standin_curve_keys(int control) {
  std::lock_guard<std::mutex> lock(standin_state().mutex);
  std::vector<std::pair<int, float>> keys;
  auto found = standin_state().curves.find(control);
  if (found != standin_state().curves.end())
    keys.assign(found->second.begin(), found->second.end());
  return keys;
}

void standin_set_setup_path(const std::string& path) {
  std::lock_guard<std::mutex> lock(standin_state().mutex);
  standin_state().setup_path = path;
}

extern "C" int sparkSetCurveKey(int kind, int control, int frame, float value) {
  {
    std::lock_guard<std::mutex> lock(standin_state().mutex);
    standin_state().curves[control][frame] = value;
  }
  standin_logf("sparkSetCurveKey(%d, %d, %d, %g)", kind, control, frame, value);
  return 1;
}

// Linear between keys, held beyond the first and last; without keys the
// record's current value.
extern "C" float sparkGetCurveValuef(int kind, int control, float frame) {
  float value = 0.0f;
  {
    StandinState& state = standin_state();
    std::lock_guard<std::mutex> lock(state.mutex);
    auto curve = state.curves.find(control);
    if (curve != state.curves.end() && !curve->second.empty()) {
      const std::map<int, float>& keys = curve->second;
      auto after = keys.lower_bound(static_cast<int>(frame));
      if (after != keys.end() && static_cast<float>(after->first) < frame) ++after;
      if (after == keys.begin()) {
        value = after->second;
      } else if (after == keys.end()) {
        value = keys.rbegin()->second;
      } else {
        auto before = std::prev(after);
        const double t = (frame - before->first) / static_cast<double>(after->first - before->first);
        value = static_cast<float>(before->second + t * (after->second - before->second));
      }
    } else {
      auto found = state.controls.find(control);
      if (found != state.controls.end()) record_value(found->second, value);
    }
  }
  standin_logf("sparkGetCurveValuef(%d, %d, %g) = %g", kind, control, frame, value);
  return value;
}

// One line per value control ("<kind> <number> <value>") and one per curve
// key ("key <number> <frame> <value>").
extern "C" int sparkSaveSetup(SparkHostInfo*) {
  StandinState& state = standin_state();
  int saved = 0;
  std::string path;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    path = state.setup_path;
    FILE* file = path.empty() ? nullptr : std::fopen(path.c_str(), "w");
    if (file) {
      bool ok = true;
      for (const auto& entry : state.controls) {
        float value;
        if (record_value(entry.second, value))
          ok &= std::fprintf(file, "%s %d %.9g\n", kind_names[entry.second.kind], entry.first,
                             static_cast<double>(value)) > 0;
      }
      for (const auto& curve : state.curves)
        for (const auto& key : curve.second)
          ok &= std::fprintf(file, "key %d %d %.9g\n", curve.first, key.first,
                             static_cast<double>(key.second)) > 0;
      saved = (std::fclose(file) == 0 && ok) ? 1 : 0;
    }
  }
  standin_logf("sparkSaveSetup(%s) = %d", path.c_str(), saved);
  return saved;
}

extern "C" int sparkLoadSetup(SparkHostInfo*) {
  StandinState& state = standin_state();
  int loaded = 0;
  std::string path;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    path = state.setup_path;
    FILE* file = path.empty() ? nullptr : std::fopen(path.c_str(), "r");
    if (file) {
      state.curves.clear();
      char line[256];
      while (std::fgets(line, sizeof line, file)) {
        char kind[16];
        int number = 0, frame = 0;
        double value = 0.0;
        if (std::sscanf(line, "key %d %d %lf", &number, &frame, &value) == 3) {
          state.curves[number][frame] = static_cast<float>(value);
        } else if (std::sscanf(line, "%15s %d %lf", kind, &number, &value) == 3) {
          auto found = state.controls.find(number);
          if (found != state.controls.end() &&
              std::strcmp(kind_names[found->second.kind], kind) == 0)
            set_record_value(found->second, value);
        }
      }
      std::fclose(file);
      loaded = 1;
    }
  }
  standin_logf("sparkLoadSetup(%s) = %d", path.c_str(), loaded);
  return loaded;
}
