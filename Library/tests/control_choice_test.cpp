// List, checkbox and button controls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ControlQ4.h"
#include "control_calls.h"
#include "standin_host.h"

namespace {

using Log = std::vector<std::string>;

class ChoiceControls : public ::testing::Test {
 protected:
  void SetUp() override { standin_reset(); }
};

TEST_F(ChoiceControls, ListIsOneBasedInsideAndZeroBasedInTheHost) {
  SparkPup rec{};
  rec.count = 3;
  AuxQ4List aux{};
  aux.count = 3;
  ListControlQ4 l;
  l.number = 10;
  l.record = &rec;
  l.aux = &aux;
  EXPECT_EQ(l.value, 1);
  l.SetValue(0.0, 1);
  EXPECT_EQ(rec.value, 0);
  EXPECT_EQ(l.value, 1);
  rec.value = 2;  // the artist picks the third item
  long v = 0;
  l.GetValue(-7.0, v);
  EXPECT_EQ(v, 3);
  EXPECT_EQ(l.value, 3);

  standin_clear_log();
  l.Disable(true);
  EXPECT_EQ(rec.count, 1);
  l.Disable(true);
  l.Disable(false);
  EXPECT_EQ(rec.count, 3);
  EXPECT_EQ(standin_log(), (Log{"sparkControlUpdate(10)", "sparkControlUpdate(10)"}));
  ExpectHideCalls(l, 10);
}

class Checkbox : public ChoiceControls {
 protected:
  void SetUp() override {
    ChoiceControls::SetUp();
    c.number = 23;
    c.record = &rec;
    c.aux = &group;
  }
  SparkBoolean rec{};
  AuxQ4Checkbox group{};
  CheckboxControlQ4 c;
};

TEST_F(Checkbox, StoresTheLowByteOnly) {
  rec.value = 0x12345600;
  c.SetValue(0.0, 257);
  EXPECT_EQ(rec.value, 0x12345601);
  EXPECT_EQ(c.value, 1);
  c.SetValue(0.0, 256);
  EXPECT_EQ(rec.value & 0xFF, 0);
  EXPECT_EQ(c.value, 0);
  long v = 9;
  c.GetValue(3.0, v);
  EXPECT_EQ(v, 0);
}

TEST_F(Checkbox, SettingOneClearsItsGroupInOrder) {
  SparkBoolean b71{1, nullptr, nullptr}, b78{1, nullptr, nullptr};
  group.count = 2;
  group.members[0] = 71;
  group.members[1] = 78;
  group.values[0] = reinterpret_cast<uint8_t*>(&b71.value);
  group.values[1] = reinterpret_cast<uint8_t*>(&b78.value);
  c.SetValue(0.0, 2);  // anything but exactly 1 leaves the group alone
  EXPECT_EQ(b71.value, 1);
  EXPECT_EQ(standin_log(), (Log{"sparkControlUpdate(23)"}));
  standin_clear_log();
  c.SetValue(0.0, 1);
  EXPECT_EQ(b71.value, 0);
  EXPECT_EQ(b78.value, 0);
  EXPECT_EQ(standin_log(), (Log{"sparkControlUpdate(23)", "sparkControlUpdate(71)",
                                "sparkControlUpdate(78)"}));
}

TEST_F(Checkbox, GroupCountOutsideItsCapacityIsClamped) {
  for (int i = 0; i < AUXQ4_GROUP_MAX; ++i) group.members[i] = 1000 + i;
  group.count = 5000;
  c.SetValue(0.0, 1);
  EXPECT_EQ(standin_log_count("sparkControlUpdate(1"), AUXQ4_GROUP_MAX);
  EXPECT_EQ(standin_log().back(), "sparkControlUpdate(1123)");
  standin_clear_log();
  group.count = -4;
  c.SetValue(0.0, 1);
  EXPECT_EQ(standin_log(), (Log{"sparkControlUpdate(23)"}));
}

TEST_F(Checkbox, DisableKeepsTheSignedValueEveryTime) {
  rec.value = 0xFF;
  c.Disable(false);  // no change of state: no update, value still kept
  EXPECT_EQ(c.saved, -1);
  EXPECT_TRUE(standin_log().empty());
  rec.value = 1;
  c.Disable(true);
  c.Disable(true);
  EXPECT_EQ(c.saved, 1);
  EXPECT_EQ(standin_log(), (Log{"sparkControlUpdate(23)"}));
  c.Hide(true);
  EXPECT_TRUE(standin_control_hidden(23));
}

TEST_F(ChoiceControls, ButtonUpdatesOnlyOnAChange) {
  SparkPush rec{"Restart   ", nullptr};
  ButtonControlQ4 b;
  b.number = 6;
  b.record = &rec;
  b.Disable(true);
  b.Disable(true);
  b.Disable(false);
  b.Hide(true);
  EXPECT_EQ(standin_log(), (Log{"sparkControlUpdate(6)", "sparkControlUpdate(6)",
                                "sparkDisableParameter(1, 6)"}));
  EXPECT_TRUE(b.hidden);
  EXPECT_FALSE(b.disabled);
}

}  // namespace
