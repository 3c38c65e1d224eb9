#ifndef EFFECT_TESTS_CALLBACK_LOG_H
#define EFFECT_TESTS_CALLBACK_LOG_H

// The stand-in's log cut down to what a callback is judged by: control
// updates, shows and hides, redraws, and "render" for each frame processed
// (a frame begins with the busy cursor).

#include <set>
#include <string>
#include <vector>

#include "standin_host.h"

namespace effect_test {

using Calls = std::vector<std::string>;

inline Calls panel_calls() {
  Calls calls;
  for (const std::string& line : standin_log()) {
    if (line == "sparkCursorBusy()")
      calls.push_back("render");
    else if (line.rfind("sparkControlUpdate(", 0) == 0 || line.rfind("sparkEnableParameter(", 0) == 0 ||
             line.rfind("sparkDisableParameter(", 0) == 0 || line == "sparkViewingDraw()")
      calls.push_back(line);
  }
  return calls;
}

inline std::string update(int n) { return "sparkControlUpdate(" + std::to_string(n) + ")"; }
inline std::string show(int n) { return "sparkEnableParameter(1, " + std::to_string(n) + ")"; }
inline std::string hide(int n) { return "sparkDisableParameter(1, " + std::to_string(n) + ")"; }
inline const std::string draw = "sparkViewingDraw()";

// Every show/hide rule in its fixed order, as the panel tables give them:
// the dependent controls with only `shown` shown.
inline Calls all_rules(const std::set<int>& shown) {
  static const int dependents[] = {72, 73, 74, 75, 76, 77, 65, 79, 80, 81, 82, 24, 21, 22, 43, 44, 45,
                                   46, 47, 48, 50, 51, 52, 53, 54, 55, 37, 39, 40, 11, 12, 17, 69, 67};
  Calls calls;
  for (int n : dependents) calls.push_back(shown.count(n) ? show(n) : hide(n));
  return calls;
}

inline Calls operator+(Calls a, const Calls& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace effect_test

#endif
