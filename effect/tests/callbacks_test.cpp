// The generated control callbacks, one of each form, and the member
// callbacks' rules, against the stand-in host's log.
#include <cstring>
#include <functional>

#include "callback_log.h"
#include "effect_fixture.h"

using namespace effect_test;

namespace {

bool output_equals_input() {
  return std::memcmp(standin_buffer_pixels(1), standin_buffer_pixels(2), standin_frame_bytes()) == 0;
}

void set_auto_preview(bool on) { SparkBoolean34.value = on ? 1 : 0; }

}  // namespace

// Each form's steps in order, then a render for reason 1 with Auto Preview,
// else a redraw.
TEST_F(EffectTest, OneControlOfEachForm) {
  const struct {
    const char* form;
    SparkCallback callback;
    std::function<void()> change;
    Calls steps;         // before the rules
    bool rules;          // SyncControls before the ending
    std::set<int> shown;  // by the rules
    std::function<bool(bool rendered)> after;
  } cases[] = {
      {"V 7", dlcb_7, [] { SparkFloat7.value = 0.5f; }, {}, false, {},
       [](bool) { return Instance.c7.value == 0.5; }},
      {"X 18", dlcb_18, [] { SparkBoolean18.value = 1; }, {update(18)}, true, {11},
       [](bool) { return Instance.c18.value == 1; }},
      {"XM 23", dlcb_23, [] { SparkBoolean23.value = 1; }, {update(23), show(24)}, true, {11, 24},
       [](bool) { return Instance.c23.value == 1; }},
      {"L 29", dlcb_29, [] { SparkPup29.value = 2; }, {}, true, {11},
       [](bool) { return Instance.c29.value == 3; }},  // 1-based
      // Pressure Input: RiseFall hidden, Pressure Force shown.
      {"LM 10", dlcb_10, [] { SparkPup10.value = 3; }, {hide(11), show(12)}, true, {12},
       [](bool) { return Instance.c10.value == 4; }},
      // The restart is asked for, and a render takes it up at once.
      {"B 6", dlcb_6, [] {}, {}, false, {}, [](bool rendered) { return Instance.restart == !rendered; }},
  };
  const struct {
    bool auto_preview;
    int reason;
    bool renders;
  } endings[] = {{true, 1, true}, {true, 0, false}, {false, 1, false}};
  for (const auto& c : cases) {
    for (const auto& e : endings) {
      SetUp();
      StartUp(16, 8);
      ASSERT_NE(Process(0), nullptr);
      ASSERT_EQ(Instance.restart, 0);
      set_auto_preview(e.auto_preview);
      c.change();
      standin_clear_log();
      void* frame = c.callback(e.reason, standin_info());
      const Calls expected = c.steps + (c.rules ? all_rules(c.shown) : Calls{}) +
                             Calls{e.renders ? "render" : draw};
      EXPECT_EQ(panel_calls(), expected) << c.form << " reason " << e.reason;
      EXPECT_EQ(frame, e.renders ? standin_buffer_pixels(1) : nullptr) << c.form;
      EXPECT_TRUE(c.after(e.renders)) << c.form;
    }
  }
  // A Restart rendered with Auto Preview is the first frame of a fresh
  // simulation: with Output "Result", the input itself.
  SetUp();
  StartUp(16, 8);
  SparkFloat16.value = 0.05f;  // random eddies move the picture
  ASSERT_NE(Process(0), nullptr);
  ASSERT_NE(Process(1), nullptr);
  ASSERT_FALSE(output_equals_input());
  ASSERT_EQ(dlcb_6(1, standin_info()), standin_buffer_pixels(1));
  EXPECT_TRUE(output_equals_input());
}

// A locked control refuses the change: a checkbox is put back as it was when
// it was locked (its record's other bytes kept) with a second update; the
// others return at once.
TEST_F(EffectTest, LockedControlsRefuse) {
  StartUp(16, 8);
  ASSERT_NE(Process(0), nullptr);
  Instance.c23.Disable(true);
  Instance.c7.Disable(true);
  Instance.c10.Disable(true);
  Instance.c6.Disable(true);
  SparkBoolean23.value = 0x0301;
  SparkPup10.value = 0;
  standin_clear_log();
  EXPECT_EQ(dlcb_23(1, standin_info()), nullptr);
  EXPECT_EQ(panel_calls(), (Calls{update(23), update(23)}));
  EXPECT_EQ(SparkBoolean23.value, 0x0300);
  standin_clear_log();
  for (SparkCallback callback : {dlcb_7, dlcb_10, dlcb_6}) EXPECT_EQ(callback(1, standin_info()), nullptr);
  EXPECT_TRUE(panel_calls().empty());
  EXPECT_EQ(Instance.restart, 0);
}

// The Y record of a position runs its X's callback; a position's Sync does
// nothing, so the object keeps its values until a frame loads them.
// "Restart On Process" only asks for the restart, which the next frame
// makes.
TEST_F(EffectTest, PositionsAndRestartOnProcess) {
  StartUp(24, 12);
  SparkFloat16.value = 0.05f;
  ASSERT_NE(Process(0), nullptr);
  EXPECT_EQ(SparkFloat44.callback, &dlcb_43);
  SparkFloat44.value = 70.0f;
  set_auto_preview(false);
  standin_clear_log();
  EXPECT_EQ(SparkFloat44.callback(1, standin_info()), nullptr);
  EXPECT_EQ(panel_calls(), (Calls{draw}));
  EXPECT_EQ(Instance.c43.y, 0.5);
  set_auto_preview(true);
  EXPECT_EQ(SparkFloat44.callback(1, standin_info()), standin_buffer_pixels(1));
  EXPECT_EQ(Instance.c43.y, static_cast<double>(70.0f) / 100.0);

  ASSERT_NE(Process(1), nullptr);
  ASSERT_FALSE(output_equals_input());
  SparkBoolean13.value = 1;
  standin_clear_log();
  EXPECT_EQ(dlcb_13(1, standin_info()), nullptr);
  EXPECT_EQ(panel_calls(), (Calls{update(13)}));  // no render, no redraw, no rules
  EXPECT_EQ(Instance.restart, 1);
  ASSERT_NE(Process(2), nullptr);
  EXPECT_TRUE(output_equals_input());
  // Unticked, it changes nothing.
  ASSERT_NE(Process(3), nullptr);
  SparkBoolean13.value = 0;
  EXPECT_EQ(dlcb_13(1, standin_info()), nullptr);
  EXPECT_EQ(Instance.restart, 0);
}

// Every member callback's rule: for each list item and checkbox state the
// ordered shows and hides (a position is its X then its Y), from the panel
// tables.
TEST_F(EffectTest, MemberCallbackRules) {
  Instance.BindControls();
  typedef void (Tidewright::*Member)(ControlQ4&, double);
  Tidewright& t = Instance;
  const struct {
    const char* what;
    Member member;
    std::function<void()> set;
    Calls calls;
  } cases[] = {
      {"buoyancy none", &Tidewright::BuoyModeCB, [] { SparkPup10.value = 0; }, {hide(11), hide(12)}},
      {"input luma", &Tidewright::BuoyModeCB, [] { SparkPup10.value = 1; }, {show(11), hide(12)}},
      {"alt luma", &Tidewright::BuoyModeCB, [] { SparkPup10.value = 2; }, {show(11), hide(12)}},
      {"pressure input", &Tidewright::BuoyModeCB, [] { SparkPup10.value = 3; }, {hide(11), show(12)}},
      {"pressure alt", &Tidewright::BuoyModeCB, [] { SparkPup10.value = 4; }, {hide(11), show(12)}},
      {"type 1", &Tidewright::RandomModeCB, [] { SparkPup14.value = 0; }, {hide(17)}},
      {"type 2", &Tidewright::RandomModeCB, [] { SparkPup14.value = 1; }, {show(17)}},
      {"no source", &Tidewright::SourceModeCB, [] { SparkPup66.value = 0; }, {hide(67)}},
      {"self source", &Tidewright::SourceModeCB, [] { SparkPup66.value = 1; }, {show(67)}},
      {"source clip", &Tidewright::SourceModeCB, [] { SparkPup66.value = 2; }, {show(67)}},
      {"no sink", &Tidewright::SinkModeCB, [] { SparkPup68.value = 0; }, {hide(69)}},
      {"self sink", &Tidewright::SinkModeCB, [] { SparkPup68.value = 1; }, {show(69)}},
      {"sink clip", &Tidewright::SinkModeCB, [] { SparkPup68.value = 2; }, {show(69)}},
  };
  for (const auto& c : cases) {
    c.set();
    standin_clear_log();
    (t.*c.member)(t.c10, 0.0);
    EXPECT_EQ(panel_calls(), c.calls) << c.what;
  }

  // Checkbox rules read the object's cached flag.
  const struct {
    Member member;
    CheckboxControlQ4& box;
    std::vector<int> controls;
  } boxes[] = {
      {&Tidewright::WindOnACB, t.c71, {72, 73, 74, 75, 76, 77, 65}},
      {&Tidewright::VortexOnACB, t.c78, {79, 80, 81, 82}},
      {&Tidewright::UseDiffCB, t.c23, {24}},
      {&Tidewright::UseDissCB, t.c20, {21, 22}},
      {&Tidewright::UseVelocityACB, t.c42, {43, 44, 45, 46, 47, 48}},
      {&Tidewright::UseVelocityBCB, t.c49, {50, 51, 52, 53, 54, 55}},
      {&Tidewright::UseBarriersCB, t.c36, {37}},
      {&Tidewright::UseGravityCB, t.c38, {39, 40}},
  };
  for (const auto& b : boxes) {
    for (unsigned char ticked : {1, 0}) {
      b.box.value = ticked;
      b.box.record->value = !ticked;  // the host record is not what counts
      standin_clear_log();
      (t.*b.member)(b.box, 0.0);
      Calls expected;
      for (int n : b.controls) expected.push_back(ticked ? show(n) : hide(n));
      EXPECT_EQ(panel_calls(), expected) << b.box.number << " " << int(ticked);
    }
  }

  // The second and third wind and vortex follow the same rules on objects
  // no host control mirrors: their hidden marks change, the host hears
  // nothing.
  const struct {
    Member member;
    CheckboxControlQ4& on;
    std::vector<ControlQ4*> group;
  } unbound[] = {
      {&Tidewright::WindOnBCB, t.wind2_on,
       {&t.wind2_start, &t.wind2_end, &t.wind2_strength, &t.wind2_tight, &t.wind2_local}},
      {&Tidewright::WindOnCCB, t.wind3_on,
       {&t.wind3_start, &t.wind3_end, &t.wind3_strength, &t.wind3_tight, &t.wind3_local}},
      {&Tidewright::VortexOnBCB, t.vortex2_on, {&t.vortex2_centre, &t.vortex2_radius, &t.vortex2_strength}},
      {&Tidewright::VortexOnCCB, t.vortex3_on, {&t.vortex3_centre, &t.vortex3_radius, &t.vortex3_strength}},
  };
  for (const auto& u : unbound) {
    for (unsigned char ticked : {0, 1}) {
      u.on.value = ticked;
      standin_clear_log();
      (t.*u.member)(u.on, 0.0);
      EXPECT_TRUE(standin_log().empty());
      for (const ControlQ4* control : u.group) EXPECT_EQ(control->hidden, !ticked);
    }
  }
  // SyncControls leaves those groups alone.
  t.wind2_on.value = 0;
  t.SyncControls();
  EXPECT_FALSE(t.wind2_start.hidden);

  // The restart requests.
  t.restart = 0;
  t.c13.value = 0;
  t.RestartPCB(t.c13, 0.0);
  EXPECT_EQ(t.restart, 0);
  t.c13.value = 1;
  t.RestartPCB(t.c13, 0.0);
  EXPECT_EQ(t.restart, 1);
  t.restart = 0;
  t.RestartCB(t.c35, 0.0);
  EXPECT_EQ(t.restart, 1);
}
