// Integer, float, size, angle and position controls against the stand-in
// host's records and call log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ControlQ4.h"
#include "control_calls.h"
#include "standin_host.h"

namespace {

using Log = std::vector<std::string>;

class NumericControls : public ::testing::Test {
 protected:
  void SetUp() override { standin_reset(); }
};

TEST_F(NumericControls, IntegerCurveValuesTruncateTowardZero) {
  SparkInt rec{};
  rec.value = 7;
  AuxQ4Integer aux{2, 1000};
  IntegerControlQ4 c;
  c.number = 21;
  c.record = &rec;
  c.aux = &aux;
  c.Sync();
  long v = 0;
  c.GetValue(-1.0, v);
  EXPECT_EQ(v, 7);

  sparkSetCurveKey(0, 21, 0, 2.9f);
  c.GetValue(0.0, v);
  EXPECT_EQ(v, 2);
  sparkSetCurveKey(0, 21, 0, -2.9f);
  c.GetValue(0.0, v);
  EXPECT_EQ(v, -2);
  EXPECT_EQ(standin_log_count("sparkGetCurveValuef(1, 21, 0)"), 2);

  standin_clear_log();
  c.SetValue(5.0, 42);
  EXPECT_EQ(rec.value, 42);
  EXPECT_EQ(c.value, 42);  // synced
  EXPECT_EQ(standin_log(), (Log{"sparkControlUpdate(21)"}));
}

TEST_F(NumericControls, FloatAndAngleWriteAndSync) {
  SparkFloat rec{};
  FloatControlQ4 f;
  f.number = 7;
  f.record = &rec;
  f.SetValue(0.0, 0.25);
  EXPECT_FLOAT_EQ(rec.value, 0.25f);
  EXPECT_DOUBLE_EQ(f.value, 0.25);
  sparkSetCurveKey(0, 7, 10, 0.5f);
  double v = 0;
  f.GetValue(3.0, v);
  EXPECT_DOUBLE_EQ(v, 0.5);
  f.GetValue(-0.5, v);
  EXPECT_DOUBLE_EQ(v, 0.25);

  SparkFloat arec{};
  AngleControlQ4 a;
  a.number = 40;
  a.record = &arec;
  a.SetValue(0.0, 270.0);
  EXPECT_FLOAT_EQ(arec.value, 270.0f);
  a.GetValue(5.0, v);  // the cached degrees whatever the frame
  EXPECT_DOUBLE_EQ(v, 270.0);
}

TEST_F(NumericControls, SizeIsAFractionOfTheHostPercent) {
  SparkFloat rec{};
  rec.value = 8.0f;
  SizeControlQ4 s;
  s.number = 45;
  s.record = &rec;
  s.Sync();
  double v = 0;
  s.GetValue(-1.0, v);
  EXPECT_DOUBLE_EQ(v, 0.08);
  sparkSetCurveKey(0, 45, 0, 8.0f);
  s.GetValue(0.0, v);
  EXPECT_DOUBLE_EQ(v, 0.08);
  s.SetValue(0.0, 0.5);
  EXPECT_FLOAT_EQ(rec.value, 50.0f);
  EXPECT_DOUBLE_EQ(s.value, 0.5);
}

TEST_F(NumericControls, DisablePinsOnceAndRestoresTheFullRange) {
  SparkFloat rec{};
  rec.value = 0.3f;
  rec.min = 0.0f;
  rec.max = 1.0f;
  AuxQ4Float aux{-2.0f, 5.0f};
  FloatControlQ4 f;
  f.number = 12;
  f.record = &rec;
  f.aux = &aux;
  f.Disable(true);
  f.Disable(true);
  EXPECT_TRUE(f.disabled);
  EXPECT_FLOAT_EQ(rec.min, 0.3f);
  EXPECT_FLOAT_EQ(rec.max, 0.3f);
  EXPECT_EQ(standin_log(), (Log{"sparkControlUpdate(12)"}));
  f.Disable(false);
  f.Disable(false);
  EXPECT_FALSE(f.disabled);
  EXPECT_FLOAT_EQ(rec.min, -2.0f);
  EXPECT_FLOAT_EQ(rec.max, 5.0f);
  EXPECT_EQ(standin_log_count("sparkControlUpdate(12)"), 2);

  SparkInt irec{};
  irec.value = 50;
  AuxQ4Integer iaux{2, 1000};
  IntegerControlQ4 i;
  i.number = 21;
  i.record = &irec;
  i.aux = &iaux;
  ExpectOneUpdatePerDisableChange(i, 21, [&] {
    EXPECT_EQ(irec.min, 50);
    EXPECT_EQ(irec.max, 50);
  });
  EXPECT_EQ(irec.min, 2);
  EXPECT_EQ(irec.max, 1000);
}

TEST_F(NumericControls, SizeAndAngleDisablePinTheirHostValue) {
  SparkFloat srec{};
  srec.value = 8.0f;
  srec.min = 1.0f;
  srec.max = 10.0f;
  AuxQ4Size saux{0.5f, 400.0f};
  SizeControlQ4 s;
  s.number = 45;
  s.record = &srec;
  s.aux = &saux;
  // Pinned at the host's percent, not at the control's fraction.
  ExpectOneUpdatePerDisableChange(s, 45, [&] {
    EXPECT_FLOAT_EQ(srec.min, 8.0f);
    EXPECT_FLOAT_EQ(srec.max, 8.0f);
  });
  EXPECT_FLOAT_EQ(srec.min, 0.5f);
  EXPECT_FLOAT_EQ(srec.max, 400.0f);

  SparkFloat arec{};
  arec.value = 270.0f;
  AuxQ4Angle aaux{-360.0f, 720.0f};
  AngleControlQ4 a;
  a.number = 40;
  a.record = &arec;
  a.aux = &aaux;
  ExpectOneUpdatePerDisableChange(a, 40, [&] {
    EXPECT_FLOAT_EQ(arec.min, 270.0f);
    EXPECT_FLOAT_EQ(arec.max, 270.0f);
  });
  EXPECT_FLOAT_EQ(arec.min, -360.0f);
  EXPECT_FLOAT_EQ(arec.max, 720.0f);
  EXPECT_FLOAT_EQ(arec.value, 270.0f);
}

TEST_F(NumericControls, HideShowsAndHidesEachOwnedControl) {
  SparkFloat rec{};
  SizeControlQ4 s;
  s.number = 45;
  s.record = &rec;
  s.Hide(true);
  EXPECT_TRUE(s.hidden);
  EXPECT_TRUE(standin_control_hidden(45));
  s.Hide(false);
  EXPECT_FALSE(standin_control_hidden(45));
  ExpectHideCalls(s, 45);

  IntegerControlQ4 i;
  i.number = 21;
  ExpectHideCalls(i, 21);
  FloatControlQ4 f;
  f.number = 7;
  ExpectHideCalls(f, 7);
  AngleControlQ4 a;
  a.number = 40;
  ExpectHideCalls(a, 40);

  SparkFloat rx{}, ry{};
  PositionControlQ4 p;
  p.number = 43;
  p.x_record = &rx;
  p.y_record = &ry;
  standin_clear_log();
  p.Hide(true);
  p.Hide(false);
  EXPECT_EQ(standin_log(),
            (Log{"sparkDisableParameter(1, 43)", "sparkDisableParameter(1, 44)",
                 "sparkEnableParameter(1, 43)", "sparkEnableParameter(1, 44)"}));
}

TEST_F(NumericControls, PositionWritesPercentAndLeavesItsCache) {
  SparkFloat rx{}, ry{};
  rx.value = 10.0f;
  rx.max = 200.0f;
  ry.value = 20.0f;
  ry.max = 200.0f;
  AuxQ4Position aux{-100.0f, 200.0f, -50.0f, 150.0f};
  PositionControlQ4 p;
  p.number = 43;
  p.x_record = &rx;
  p.y_record = &ry;
  p.aux = &aux;
  p.x = 0.1;
  p.y = 0.2;
  p.SetValue(0.0, 0.5, 0.25);
  EXPECT_FLOAT_EQ(rx.value, 50.0f);
  EXPECT_FLOAT_EQ(ry.value, 25.0f);
  EXPECT_DOUBLE_EQ(p.x, 0.1);
  EXPECT_DOUBLE_EQ(p.y, 0.2);
  EXPECT_EQ(standin_log(), (Log{"sparkControlUpdate(43)", "sparkControlUpdate(44)"}));

  double x = 0, y = 0;
  p.GetValue(-1.0, x, y);
  EXPECT_DOUBLE_EQ(x, 0.1);
  sparkSetCurveKey(0, 43, 4, 30.0f);
  sparkSetCurveKey(0, 44, 4, 70.0f);
  p.GetValue(4.0, x, y);
  EXPECT_NEAR(x, 0.3, 1e-6);
  EXPECT_NEAR(y, 0.7, 1e-6);

  standin_clear_log();
  p.Disable(true);
  EXPECT_FLOAT_EQ(rx.min, 50.0f);
  EXPECT_FLOAT_EQ(ry.max, 25.0f);
  p.Disable(false);
  EXPECT_FLOAT_EQ(rx.min, -100.0f);
  EXPECT_FLOAT_EQ(rx.max, 200.0f);
  EXPECT_FLOAT_EQ(ry.min, -50.0f);
  EXPECT_FLOAT_EQ(ry.max, 150.0f);
  EXPECT_EQ(standin_log(), (Log{"sparkControlUpdate(43)", "sparkControlUpdate(44)",
                                "sparkControlUpdate(43)", "sparkControlUpdate(44)"}));
}

}  // namespace
