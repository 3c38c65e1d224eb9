// Call-log checks shared by the control tests: hiding and disabling reach
// the host once per change of state and name the control's own number.
#ifndef CONTROL_CALLS_H
#define CONTROL_CALLS_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ControlQ4.h"
#include "standin_host.h"

// Hide(true) makes exactly one disable call for control n, Hide(false)
// exactly one enable call.
inline void ExpectHideCalls(ControlQ4& c, int n) {
  SCOPED_TRACE("hiding control " + std::to_string(n));
  const std::string args = "(1, " + std::to_string(n) + ")";
  standin_clear_log();
  c.Hide(true);
  EXPECT_TRUE(c.hidden);
  EXPECT_EQ(standin_log(), std::vector<std::string>{"sparkDisableParameter" + args});
  standin_clear_log();
  c.Hide(false);
  EXPECT_FALSE(c.hidden);
  EXPECT_EQ(standin_log(), std::vector<std::string>{"sparkEnableParameter" + args});
}

// Disables twice, runs while_locked, enables twice: one update for control
// n per change of state and none for the repeats.
template <typename Check>
void ExpectOneUpdatePerDisableChange(ControlQ4& c, int n, Check while_locked) {
  SCOPED_TRACE("disabling control " + std::to_string(n));
  const std::string update = "sparkControlUpdate(" + std::to_string(n) + ")";
  standin_clear_log();
  c.Disable(true);
  c.Disable(true);
  EXPECT_TRUE(c.disabled);
  EXPECT_EQ(standin_log(), std::vector<std::string>{update});
  while_locked();
  c.Disable(false);
  c.Disable(false);
  EXPECT_FALSE(c.disabled);
  EXPECT_EQ(standin_log(), (std::vector<std::string>{update, update}));
}

#endif
