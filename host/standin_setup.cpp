// Control records known to the host: their animation curves and the text
// setup file that holds their values.
#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "q4_strings.h"
#include "standin_state.h"

namespace {

const char* const kind_names[] = {"float", "userfloat", "int", "boolean", "pup", "push", "string"};

// The values a record accepts. A list accepts its items, a checkbox 0 or 1.
struct Range {
  double low;
  double high;
  bool whole;  // integers only: values are rounded when a curve sets them
  bool steps;  // lists and checkboxes hold a key's value until the next key
};

template <typename Record>
Range float_range(const void* record) {
  const Record* r = static_cast<const Record*>(record);
  return {std::min(r->min, r->max), std::max(r->min, r->max), false, false};
}

bool record_range(const StandinControl& control, Range& range) {
  switch (control.kind) {
    case standin_float: range = float_range<SparkFloat>(control.record); return true;
    case standin_user_float: range = float_range<SparkUserFloat>(control.record); return true;
    case standin_int: {
      const SparkInt* r = static_cast<const SparkInt*>(control.record);
      range = {static_cast<double>(std::min(r->min, r->max)),
               static_cast<double>(std::max(r->min, r->max)), true, false};
      return true;
    }
    case standin_boolean: range = {0.0, 1.0, true, true}; return true;
    case standin_pup: {
      const int count = static_cast<const SparkPup*>(control.record)->count;
      const int last = count < 1 ? 0 : (count > SPARK_PUP_ITEMS ? SPARK_PUP_ITEMS : count) - 1;
      range = {0.0, static_cast<double>(last), true, true};
      return true;
    }
    case standin_push:
    case standin_string: return false;
  }
  return false;
}

// Current value of a value record as a double (lock held).
bool record_value(const StandinControl& control, double& value) {
  switch (control.kind) {
    case standin_float: value = static_cast<SparkFloat*>(control.record)->value; return true;
    case standin_user_float: value = static_cast<SparkUserFloat*>(control.record)->value; return true;
    case standin_int: value = static_cast<SparkInt*>(control.record)->value; return true;
    case standin_boolean: value = static_cast<SparkBoolean*>(control.record)->value; return true;
    case standin_pup: value = static_cast<SparkPup*>(control.record)->value; return true;
    case standin_push:
    case standin_string: return false;
  }
  return false;
}

// Every conversion below happens on a value already inside the record's
// range, so none of them can overflow.
double clamped(double value, const Range& range) {
  if (value < range.low) return range.low;
  if (value > range.high) return range.high;
  return value;
}

void set_record_value(const StandinControl& control, double value) {
  Range range;
  if (!record_range(control, range)) return;
  value = clamped(range.whole ? std::round(value) : value, range);
  standin_store_value(control.kind, control.record, value);
}

// The curve's value at frame: a NaN frame counts as 0 and any other is held
// to the int range, so the search and the span below never overflow.
double curve_value(const std::map<int, float>& keys, double frame, bool steps) {
  if (std::isnan(frame)) frame = 0.0;
  frame = std::min(std::max(frame, static_cast<double>(INT_MIN)), static_cast<double>(INT_MAX));
  auto after = keys.lower_bound(static_cast<int>(std::ceil(frame)));
  if (after == keys.begin()) return after->second;
  if (after == keys.end()) return keys.rbegin()->second;
  if (after->first == frame) return after->second;
  auto before = std::prev(after);
  if (steps) return before->second;
  // Keys may lie more than INT_MAX frames apart: the span is a double.
  const double t = (frame - before->first) /
                   (static_cast<double>(after->first) - static_cast<double>(before->first));
  const double a = before->second, b = after->second;
  // Between keys of very different size the sum can round past either of
  // them; the curve never leaves its keys.
  return std::min(std::max(a + t * (b - a), std::min(a, b)), std::max(a, b));
}

bool steps_of(const StandinControl* control) {
  Range range;
  return control && record_range(*control, range) && range.steps;
}

// --- setup file text ----------------------------------------------------

// Strings keep every byte: backslash, line ends and other control
// characters are escaped.
std::string escaped(const char* text, size_t size) {
  std::string out;
  for (size_t i = 0; i < size && text[i]; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\\') {
      out += "\\\\";
    } else if (c < 32 || c == 127) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool unescaped(const std::string& text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
    } else if (i + 1 < text.size() && text[i + 1] == '\\') {
      out += '\\';
      ++i;
    } else if (i + 3 < text.size() && text[i + 1] == 'x' && hex_digit(text[i + 2]) >= 0 &&
               hex_digit(text[i + 3]) >= 0) {
      const int c = hex_digit(text[i + 2]) * 16 + hex_digit(text[i + 3]);
      if (c == 0) return false;  // would end the text early
      out += static_cast<char>(c);
      i += 3;
    } else {
      return false;
    }
  }
  return true;
}

bool parse_int(const std::string& token, int& value) {
  if (token.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(token.c_str(), &end, 10);
  if (errno || *end || v < INT_MIN || v > INT_MAX) return false;
  value = static_cast<int>(v);
  return true;
}

// A finite number; "nan", "inf" and out-of-range text are not.
bool parse_number(const std::string& token, double& value) {
  if (token.empty()) return false;
  char* end = nullptr;
  value = std::strtod(token.c_str(), &end);
  return !*end && std::isfinite(value);
}

// One line of a setup file, checked against the records before anything is
// loaded.
struct SetupLine {
  enum { value, text, key } what;
  int number;
  StandinControlKind kind;
  int frame;
  double number_value;
  std::string text_value;
  int line;
};

// The next blank-separated word from at (empty at the end); at stops just
// after the word.
std::string next_word(const std::string& text, size_t& at) {
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  const size_t start = at;
  while (at < text.size() && text[at] != ' ' && text[at] != '\t') ++at;
  return text.substr(start, at - start);
}

std::string where(const std::string& path, int line) {
  return path + ":" + std::to_string(line) + ": ";
}

std::string number_text(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", v);
  return text;
}

// Reads the file into lines (lock held for the record lookups). False with
// error set when a line is malformed; warnings for lines naming no record
// of that kind and for values clamped into their record's range.
bool parse_setup(const StandinState& state, const std::string& path, std::vector<SetupLine>& lines,
                 std::string& error, std::vector<std::string>& warnings) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = path + ": cannot read the setup file";
    return false;
  }
  std::string text;
  for (int line_number = 1; std::getline(file, text); ++line_number) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    size_t at = 0;
    const std::string word = next_word(text, at);
    if (word.empty() || word[0] == '#') continue;
    SetupLine line{};
    line.line = line_number;
    const std::string number = next_word(text, at);
    bool ok = parse_int(number, line.number);
    if (word == "key") {
      line.what = SetupLine::key;
      ok = ok && parse_int(next_word(text, at), line.frame) &&
           parse_number(next_word(text, at), line.number_value) && next_word(text, at).empty();
    } else if (word == "string") {
      // The text is the rest of the line after one blank.
      line.what = SetupLine::text;
      line.kind = standin_string;
      ok = ok && (at == text.size() || (text[at] == ' ' &&
                                         unescaped(text.substr(at + 1), line.text_value))) &&
           line.text_value.size() < SPARK_STRING_LEN;
    } else {
      const char* const* known = std::find(std::begin(kind_names), std::end(kind_names), word);
      line.what = SetupLine::value;
      line.kind = static_cast<StandinControlKind>(known - std::begin(kind_names));
      ok = ok && known != std::end(kind_names) && line.kind != standin_push &&
           line.kind != standin_string && parse_number(next_word(text, at), line.number_value) &&
           next_word(text, at).empty();
    }
    if (!ok) {
      error = where(path, line_number) + "malformed setup line: " + printable_bytes(text);
      return false;
    }
    const std::string here = where(path, line_number);
    if (line.what == SetupLine::text) {
      if (!state.strings.count(line.number)) {
        warnings.push_back(here + "no string " + number + ", line ignored");
        continue;
      }
    } else {
      auto found = state.controls.find(line.number);
      const bool known = found != state.controls.end() &&
                         (line.what == SetupLine::key || found->second.kind == line.kind);
      Range range;
      if (!known || !record_range(found->second, range)) {
        warnings.push_back(here + "no " + (line.what == SetupLine::key ? "animatable" : word) +
                           " control " + number + ", line ignored");
        continue;
      }
      const std::string typed = number_text(line.number_value);
      const std::string note = standin_clamp_value(found->second.kind, found->second.record, line.number_value);
      if (!note.empty())
        warnings.push_back(here + (line.what == SetupLine::key ? "key" : word) + " " + number + " value " +
                           typed + " " + note);
    }
    lines.push_back(line);
  }
  // A folder opens as a file would, and then fails its first read: without
  // this the setup would be taken for an empty one.
  if (file.bad()) {
    error = path + ": cannot read the setup file: " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

const char* standin_kind_name(StandinControlKind kind) { return kind_names[kind]; }

std::string standin_clamp_value(StandinControlKind kind, const void* record, double& value) {
  Range range;
  if (!record_range(StandinControl{kind, const_cast<void*>(record)}, range)) return "";
  // A float compares as the record will hold it, so that the range's own
  // limits typed as decimals lie inside it.
  const bool single = kind == standin_float || kind == standin_user_float;
  const double held = single && std::fabs(value) <= FLT_MAX ? static_cast<float>(value) : value;
  value = clamped(held, range);
  if (value == held) return "";
  char text[96];
  std::snprintf(text, sizeof text, "is out of its range %g .. %g: clamped to %g", range.low, range.high, value);
  return text;
}

void standin_store_value(StandinControlKind kind, void* record, double value) {
  switch (kind) {
    case standin_float: static_cast<SparkFloat*>(record)->value = static_cast<float>(value); break;
    case standin_user_float: static_cast<SparkUserFloat*>(record)->value = static_cast<float>(value); break;
    case standin_int: static_cast<SparkInt*>(record)->value = static_cast<int32_t>(value); break;
    case standin_boolean: static_cast<SparkBoolean*>(record)->value = static_cast<int32_t>(value); break;
    case standin_pup: static_cast<SparkPup*>(record)->value = static_cast<int32_t>(value); break;
    case standin_push:
    case standin_string: break;
  }
}

void standin_register_control(int number, StandinControlKind kind, void* record) {
  std::lock_guard<std::mutex> lock(standin_state().mutex);
  StandinState& state = standin_state();
  if (kind == standin_string) {
    if (record)
      state.strings[number] = static_cast<SparkString*>(record);
    else
      state.strings.erase(number);
  } else if (record) {
    state.controls[number] = StandinControl{kind, record};
  } else {
    state.controls.erase(number);
  }
}

std::vector<StandinControlEntry> standin_controls() {
  std::lock_guard<std::mutex> lock(standin_state().mutex);
  std::vector<StandinControlEntry> entries;
  for (const auto& entry : standin_state().controls)
    entries.push_back({entry.first, entry.second.kind, entry.second.record});
  for (const auto& entry : standin_state().strings)
    entries.push_back({entry.first, standin_string, entry.second});
  return entries;
}

std::vector<std::pair<int, float>> standin_curve_keys(int control) {
  std::lock_guard<std::mutex> lock(standin_state().mutex);
  std::vector<std::pair<int, float>> keys;
  auto found = standin_state().curves.find(control);
  if (found != standin_state().curves.end())
    keys.assign(found->second.begin(), found->second.end());
  return keys;
}

void standin_apply_curves(int frame) {
  StandinState& state = standin_state();
  std::lock_guard<std::mutex> lock(state.mutex);
  for (const auto& curve : state.curves) {
    auto found = state.controls.find(curve.first);
    if (found == state.controls.end() || curve.second.empty()) continue;
    set_record_value(found->second, curve_value(curve.second, frame, steps_of(&found->second)));
  }
}

void standin_set_setup_paths(const std::string& load, const std::string& save) {
  std::lock_guard<std::mutex> lock(standin_state().mutex);
  standin_state().setup_load_path = load;
  standin_state().setup_save_path = save;
}

std::string standin_setup_error() { return standin_read(&StandinState::setup_error); }

std::vector<std::string> standin_setup_warnings() {
  return standin_read(&StandinState::setup_warnings);
}

bool standin_set_curve_key(int control, int frame, float value) {
  if (!std::isfinite(value)) return false;
  std::lock_guard<std::mutex> lock(standin_state().mutex);
  standin_state().curves[control][frame] = value;
  return true;
}

void standin_clear_curve(int control) {
  std::lock_guard<std::mutex> lock(standin_state().mutex);
  standin_state().curves.erase(control);
}

extern "C" int sparkSetCurveKey(int kind, int control, int frame, float value) {
  const bool set = standin_set_curve_key(control, frame, value);
  standin_logf("sparkSetCurveKey(%d, %d, %d, %g) = %d", kind, control, frame, value, set ? 1 : 0);
  return set ? 1 : 0;
}

// Without keys, the record's current value.
extern "C" float sparkGetCurveValuef(int kind, int control, float frame) {
  double value = 0.0;
  {
    StandinState& state = standin_state();
    std::lock_guard<std::mutex> lock(state.mutex);
    auto curve = state.curves.find(control);
    auto found = state.controls.find(control);
    const StandinControl* record = found == state.controls.end() ? nullptr : &found->second;
    if (curve != state.curves.end() && !curve->second.empty())
      value = curve_value(curve->second, frame, steps_of(record));
    else if (record)
      record_value(*record, value);
  }
  standin_logf("sparkGetCurveValuef(%d, %d, %g) = %g", kind, control, frame, value);
  return static_cast<float>(value);
}

// One line per value control ("<kind> <number> <value>"), one per string
// ("string <number> <text>") and one per curve key ("key <number> <frame>
// <value>").
extern "C" int sparkSaveSetup(SparkHostInfo*) {
  StandinState& state = standin_state();
  int saved = 0;
  std::string path;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    path = state.setup_save_path;
    state.setup_error.clear();
    FILE* file = path.empty() ? nullptr : std::fopen(path.c_str(), "w");
    if (!file && !path.empty()) state.setup_error = path + ": " + std::strerror(errno);
    if (file) {
      bool ok = true;
      for (const auto& entry : state.controls) {
        double value;
        if (!record_value(entry.second, value)) continue;
        if (entry.second.kind == standin_float || entry.second.kind == standin_user_float)
          ok &= std::fprintf(file, "%s %d %.9g\n", kind_names[entry.second.kind], entry.first, value) > 0;
        else
          ok &= std::fprintf(file, "%s %d %d\n", kind_names[entry.second.kind], entry.first,
                             static_cast<int>(value)) > 0;
      }
      for (const auto& entry : state.strings)
        ok &= std::fprintf(file, "string %d %s\n", entry.first,
                           escaped(entry.second->text, SPARK_STRING_LEN).c_str()) > 0;
      for (const auto& curve : state.curves)
        for (const auto& key : curve.second)
          ok &= std::fprintf(file, "key %d %d %.9g\n", curve.first, key.first,
                             static_cast<double>(key.second)) > 0;
      saved = (std::fclose(file) == 0 && ok) ? 1 : 0;
      if (!saved) state.setup_error = path + ": cannot write the setup file";
    }
  }
  standin_logf("sparkSaveSetup(%s) = %d", path.c_str(), saved);
  return saved;
}

// All or nothing: a malformed line leaves every record and curve as it was.
extern "C" int sparkLoadSetup(SparkHostInfo*) {
  StandinState& state = standin_state();
  int loaded = 0;
  std::string path;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    path = state.setup_load_path;
    state.setup_error.clear();
    state.setup_warnings.clear();
    std::vector<SetupLine> lines;
    if (!path.empty() &&
        parse_setup(state, path, lines, state.setup_error, state.setup_warnings)) {
      state.curves.clear();
      for (const SetupLine& line : lines) {
        if (line.what == SetupLine::key) {
          state.curves[line.number][line.frame] = static_cast<float>(line.number_value);
        } else if (line.what == SetupLine::text) {
          SparkString* record = state.strings[line.number];
          std::memcpy(record->text, line.text_value.c_str(), line.text_value.size() + 1);
        } else {
          set_record_value(state.controls[line.number], line.number_value);
        }
      }
      loaded = 1;
    }
  }
  standin_logf("sparkLoadSetup(%s) = %d", path.c_str(), loaded);
  return loaded;
}
