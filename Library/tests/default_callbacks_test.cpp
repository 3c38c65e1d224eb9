#include <gtest/gtest.h>

#include "default_callbacks.h"
#include "effect_globals.h"
#include "effect_services.h"
#include "standin_host.h"

namespace {

class DefaultCallbacks : public ::testing::Test {
 protected:
  void SetUp() override {
    standin_reset();
    reset_effect_globals();
    test_spark_process.result = &token;
    info.frame_no = 42;
  }
  int token = 0;
  SparkHostInfo info{};
};

TEST_F(DefaultCallbacks, AutoPreviewOnReprocessesForReasonOne) {
  SparkBoolean34.value = 0x7700 | 1;
  EXPECT_EQ(DefaultCB(1, info), &token);
  EXPECT_EQ(test_spark_process.calls, 1);
  EXPECT_EQ(test_spark_process.last_info.frame_no, 42u);
  EXPECT_EQ(standin_log_count("sparkViewingDraw"), 0);

  EXPECT_EQ(DefaultCB(2, info), nullptr);
  EXPECT_EQ(test_spark_process.calls, 1);
  EXPECT_EQ(standin_log_count("sparkViewingDraw"), 1);
}

TEST_F(DefaultCallbacks, AutoPreviewOffOnlyRedraws) {
  SparkBoolean34.value = 0x0100;  // only the low byte counts
  for (int reason : {0, 1, 2}) EXPECT_EQ(DefaultCB(reason, info), nullptr);
  EXPECT_EQ(test_spark_process.calls, 0);
  EXPECT_EQ(standin_log_count("sparkViewingDraw"), 3);

  EXPECT_EQ(OverlayCB(1, info), nullptr);
  EXPECT_EQ(standin_log_count("sparkViewingDraw"), 4);
  EXPECT_EQ(test_spark_process.calls, 0);
}

}  // namespace
