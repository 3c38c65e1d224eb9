#include <chrono>

#include <gtest/gtest.h>

#include "q4_pause.h"

TEST(Pause, SwitchedOffInTestsReturnsAtOnce) {
  ASSERT_FALSE(q4_pauses_enabled());
  const auto start = std::chrono::steady_clock::now();
  q4_pause(5.0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(Pause, SwitchRoundTrips) {
  q4_set_pauses_enabled(true);
  EXPECT_TRUE(q4_pauses_enabled());
  q4_pause(0.0);   // zero and negative waits never sleep
  q4_pause(-1.0);
  q4_set_pauses_enabled(false);
  EXPECT_FALSE(q4_pauses_enabled());
}
