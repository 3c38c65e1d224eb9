#include "render_controls.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  return text;
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

const char* text_or_empty(const char* text) { return text ? text : ""; }

const SparkPup* pup(const StandinControlEntry& control) {
  return static_cast<const SparkPup*>(control.record);
}

int item_count(const StandinControlEntry& control) {
  const int count = pup(control)->count;
  return count < 0 ? 0 : (count > SPARK_PUP_ITEMS ? SPARK_PUP_ITEMS : count);
}

// A list item without the list's name: "Buoyancy Mode: None  " is "None".
std::string item_name(const StandinControlEntry& control, int index) {
  const std::string item = text_or_empty(pup(control)->items[index]);
  const size_t colon = item.find(':');
  if (colon == std::string::npos) return trimmed(item);
  const size_t start = item.find_first_not_of(' ', colon + 1);
  return start == std::string::npos ? "" : trimmed(item.substr(start));
}

std::string title_of(const StandinControlEntry& control) {
  switch (control.kind) {
    case standin_float: return text_or_empty(static_cast<SparkFloat*>(control.record)->title);
    case standin_user_float: return text_or_empty(static_cast<SparkUserFloat*>(control.record)->title);
    case standin_int: return text_or_empty(static_cast<SparkInt*>(control.record)->title);
    case standin_boolean: return text_or_empty(static_cast<SparkBoolean*>(control.record)->title);
    case standin_push: return text_or_empty(static_cast<SparkPush*>(control.record)->title);
    case standin_pup: {
      const std::string first = item_count(control) > 0 ? text_or_empty(pup(control)->items[0]) : "";
      return first.find(':') == std::string::npos ? "" : first;
    }
    case standin_string: {
      const SparkString* s = static_cast<const SparkString*>(control.record);
      return std::string(s->text, strnlen(s->text, SPARK_STRING_LEN));
    }
  }
  return "";
}

std::string describe(const StandinControlEntry& control) {
  const std::string name = control_name(control);
  return "control " + std::to_string(control.number) + (name.empty() ? "" : " (" + name + ")");
}

std::string number_text(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

std::string items_text(const StandinControlEntry& control) {
  std::string text;
  for (int i = 0; i < item_count(control); ++i) text += (i ? ", " : "") + item_name(control, i);
  return text;
}

bool all_digits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

// A number for a float or integer control: any finite number (integers
// whole), brought into the control's range by the one clamping rule.
bool parse_number(const StandinControlEntry& control, const std::string& text, double& value,
                  std::string& error, std::string& warning) {
  const bool whole = control.kind == standin_int;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end || !std::isfinite(v) || (whole && v != std::floor(v))) {
    error = std::string(whole ? "not an integer: " : "not a number: ") + text + " of " + describe(control);
    return false;
  }
  value = v;
  const std::string note = standin_clamp_value(control.kind, control.record, value);
  if (!note.empty()) warning = "value " + text + " of " + describe(control) + " " + note;
  return true;
}

}  // namespace

std::string control_name(const StandinControlEntry& control) {
  const std::string title = title_of(control);
  if (control.kind == standin_string) return title;
  return trimmed(title.substr(0, title.find(':')));
}

bool find_control(const std::vector<StandinControlEntry>& controls, const std::string& name,
                  StandinControlEntry& found, std::string& error, bool button) {
  std::vector<const StandinControlEntry*> matches;
  const bool by_number = all_digits(name);
  const std::string wanted = lower(trimmed(name));
  for (const StandinControlEntry& control : controls) {
    if (control.kind == standin_string) continue;
    if (by_number ? (name.size() < 10 && control.number == std::atoi(name.c_str()))
                  : (!wanted.empty() && lower(control_name(control)) == wanted))
      matches.push_back(&control);
  }
  if (matches.empty()) {
    error = "unknown control: " + name;
    return false;
  }
  if (matches.size() > 1) {
    error = "ambiguous control name: " + name + " names controls";
    for (const StandinControlEntry* match : matches) error += " " + std::to_string(match->number);
    error += "; give a number";
    return false;
  }
  if (button != (matches[0]->kind == standin_push)) {
    error = describe(*matches[0]) + (button ? " is not a button" : " is a button and holds no value");
    return false;
  }
  found = *matches[0];
  return true;
}

bool parse_control_value(const StandinControlEntry& control, const std::string& text,
                         double& value, std::string& error, std::string& warning) {
  const std::string what = describe(control);
  warning.clear();
  switch (control.kind) {
    case standin_float:
    case standin_user_float:
    case standin_int: return parse_number(control, text, value, error, warning);
    case standin_boolean: {
      const std::string word = lower(trimmed(text));
      if (word != "on" && word != "off") {
        error = "value " + text + " of " + what + " is neither on nor off";
        return false;
      }
      value = word == "on" ? 1.0 : 0.0;
      return true;
    }
    case standin_pup: {
      const std::string wanted = lower(trimmed(text));
      for (int i = 0; i < item_count(control); ++i) {
        if (lower(item_name(control, i)) == wanted) {
          value = i;
          return true;
        }
      }
      error = "unknown item " + text + " of " + what + " (" + items_text(control) + ")";
      return false;
    }
    case standin_push:
    case standin_string: break;
  }
  error = what + " holds no value";
  return false;
}

void set_control_value(const StandinControlEntry& control, double value) {
  standin_store_value(control.kind, control.record, value);
}

void list_controls(const std::vector<StandinControlEntry>& controls, FILE* out) {
  std::fprintf(out, "%6s  %-9s  %-24s  %-16s  %s\n", "number", "kind", "name", "value",
               "range or items");
  for (const StandinControlEntry& control : controls) {
    std::string value, range;
    switch (control.kind) {
      case standin_float: {
        const SparkFloat* r = static_cast<const SparkFloat*>(control.record);
        value = number_text(r->value);
        range = number_text(r->min) + " .. " + number_text(r->max);
        break;
      }
      case standin_user_float: {
        const SparkUserFloat* r = static_cast<const SparkUserFloat*>(control.record);
        value = number_text(r->value);
        range = number_text(r->min) + " .. " + number_text(r->max);
        break;
      }
      case standin_int: {
        const SparkInt* r = static_cast<const SparkInt*>(control.record);
        value = std::to_string(r->value);
        range = std::to_string(r->min) + " .. " + std::to_string(r->max);
        break;
      }
      case standin_boolean:
        value = static_cast<const SparkBoolean*>(control.record)->value & 0xFF ? "on" : "off";
        range = "on, off";
        break;
      case standin_pup: {
        const int index = pup(control)->value;
        value = index >= 0 && index < item_count(control) ? item_name(control, index) : "?";
        range = items_text(control);
        break;
      }
      case standin_push: value = "(button)"; break;
      case standin_string: value = "(clip name)"; break;
    }
    std::fprintf(out, "%6d  %-9s  %-24s  %-16s  %s\n", control.number,
                 standin_kind_name(control.kind), control_name(control).c_str(), value.c_str(),
                 range.c_str());
  }
}

SparkCallback control_callback(const StandinControlEntry& control) {
  switch (control.kind) {
    case standin_float: return static_cast<const SparkFloat*>(control.record)->callback;
    case standin_user_float: return static_cast<const SparkUserFloat*>(control.record)->callback;
    case standin_int: return static_cast<const SparkInt*>(control.record)->callback;
    case standin_boolean: return static_cast<const SparkBoolean*>(control.record)->callback;
    case standin_pup: return pup(control)->callback;
    case standin_push: return static_cast<const SparkPush*>(control.record)->callback;
    case standin_string: return static_cast<const SparkString*>(control.record)->callback;
  }
  return nullptr;
}

namespace {

// Whether a title is a format taking exactly one value of a conversion in
// `conversions` (flags, width and precision allowed, no length modifier),
// so that the plug-in's text never decides what is read from the stack.
bool takes_one(const char* format, const char* conversions) {
  int taken = 0;
  for (const char* p = format; *p; ++p) {
    if (*p != '%') continue;
    if (p[1] == '%') {
      ++p;
      continue;
    }
    ++p;
    while (*p && std::strchr("-+ #0", *p)) ++p;
    while (std::isdigit(static_cast<unsigned char>(*p))) ++p;
    if (*p == '.') ++p;
    while (std::isdigit(static_cast<unsigned char>(*p))) ++p;
    if (!*p || !std::strchr(conversions, *p)) return false;
    ++taken;
  }
  return taken == 1;
}

template <typename Value>
std::string filled(const char* title, const char* conversions, Value value, const std::string& plain) {
  if (!title || !takes_one(title, conversions)) return trimmed(text_or_empty(title)) + " " + plain;
  char text[512];
  std::snprintf(text, sizeof text, title, value);
  return trimmed(text);
}

std::string panel_text(const StandinControlEntry& control) {
  switch (control.kind) {
    case standin_float: {
      const SparkFloat* r = static_cast<const SparkFloat*>(control.record);
      return filled(r->title, "fFeEgGaA", static_cast<double>(r->value), number_text(r->value));
    }
    case standin_user_float: {
      const SparkUserFloat* r = static_cast<const SparkUserFloat*>(control.record);
      return filled(r->title, "fFeEgGaA", static_cast<double>(r->value), number_text(r->value));
    }
    case standin_int: {
      const SparkInt* r = static_cast<const SparkInt*>(control.record);
      return filled(r->title, "di", static_cast<int>(r->value), std::to_string(r->value));
    }
    case standin_boolean: {
      const SparkBoolean* r = static_cast<const SparkBoolean*>(control.record);
      return std::string(r->value & 0xFF ? "[x] " : "[ ] ") + trimmed(text_or_empty(r->title));
    }
    case standin_pup: {
      const int index = pup(control)->value;
      return index >= 0 && index < item_count(control) ? trimmed(text_or_empty(pup(control)->items[index]))
                                                       : "? (item " + std::to_string(index) + ")";
    }
    case standin_push: return "<" + trimmed(title_of(control)) + ">";
    case standin_string: break;
  }
  return "";
}

}  // namespace

void print_panel(const std::vector<StandinControlEntry>& controls, FILE* out) {
  int page = -1;
  for (const StandinControlEntry& control : controls) {
    if (control.kind == standin_string) continue;
    // Page p holds the numbers 6 + 29p to 34 + 29p.
    const int on_page = control.number >= 6 ? (control.number - 6) / 29 : -1;
    if (on_page != page && on_page >= 0) std::fprintf(out, "  page %d\n", on_page);
    page = on_page;
    std::fprintf(out, "  %5d  %s%s\n", control.number, panel_text(control).c_str(),
                 standin_control_hidden(control.number) ? "  (hidden)" : "");
  }
}
