// The control objects: their order, their binding to the host records, the
// per-frame load and the show/hide rules.
#include <set>
#include <vector>

#include "effect_fixture.h"

namespace {

// The 54 bound controls in declaration order, with their object kinds and
// records, written out by hand from the panel tables.
struct Binding {
  int number;
  char kind;  // F float, A angle, S size, P position, I integer, L list, B checkbox, K button
  ControlQ4* object;
  void* record;
  void* aux;
  void* y_record;  // positions
};

std::vector<Binding> bindings() {
  Tidewright& t = Instance;
  return {
      {7, 'F', &t.c7, &SparkFloat7, &AuxQ4Float7, nullptr},
      {8, 'F', &t.c8, &SparkFloat8, &AuxQ4Float8, nullptr},
      {23, 'B', &t.c23, &SparkBoolean23, &AuxQ4Checkbox23, nullptr},
      {24, 'F', &t.c24, &SparkFloat24, &AuxQ4Float24, nullptr},
      {20, 'B', &t.c20, &SparkBoolean20, &AuxQ4Checkbox20, nullptr},
      {21, 'I', &t.c21, &SparkInt21, &AuxQ4Integer21, nullptr},
      {22, 'F', &t.c22, &SparkFloat22, &AuxQ4Float22, nullptr},
      {18, 'B', &t.c18, &SparkBoolean18, &AuxQ4Checkbox18, nullptr},
      {19, 'B', &t.c19, &SparkBoolean19, &AuxQ4Checkbox19, nullptr},
      {10, 'L', &t.c10, &SparkPup10, &AuxQ4List10, nullptr},
      {12, 'F', &t.c12, &SparkFloat12, &AuxQ4Float12, nullptr},
      {11, 'F', &t.c11, &SparkFloat11, &AuxQ4Float11, nullptr},
      {14, 'L', &t.c14, &SparkPup14, &AuxQ4List14, nullptr},
      {15, 'F', &t.c15, &SparkFloat15, &AuxQ4Float15, nullptr},
      {16, 'F', &t.c16, &SparkFloat16, &AuxQ4Float16, nullptr},
      {17, 'F', &t.c17, &SparkFloat17, &AuxQ4Float17, nullptr},
      {66, 'L', &t.c66, &SparkPup66, &AuxQ4List66, nullptr},
      {67, 'F', &t.c67, &SparkFloat67, &AuxQ4Float67, nullptr},
      {68, 'L', &t.c68, &SparkPup68, &AuxQ4List68, nullptr},
      {69, 'F', &t.c69, &SparkFloat69, &AuxQ4Float69, nullptr},
      {29, 'L', &t.c29, &SparkPup29, &AuxQ4List29, nullptr},
      {30, 'B', &t.c30, &SparkBoolean30, &AuxQ4Checkbox30, nullptr},
      {13, 'B', &t.c13, &SparkBoolean13, &AuxQ4Checkbox13, nullptr},
      {6, 'K', &t.c6, &SparkPush6, nullptr, nullptr},
      {35, 'K', &t.c35, &SparkPush35, nullptr, nullptr},
      {64, 'K', &t.c64, &SparkPush64, nullptr, nullptr},
      {56, 'B', &t.c56, &SparkBoolean56, &AuxQ4Checkbox56, nullptr},
      {36, 'B', &t.c36, &SparkBoolean36, &AuxQ4Checkbox36, nullptr},
      {37, 'L', &t.c37, &SparkPup37, &AuxQ4List37, nullptr},
      {38, 'B', &t.c38, &SparkBoolean38, &AuxQ4Checkbox38, nullptr},
      {39, 'F', &t.c39, &SparkFloat39, &AuxQ4Float39, nullptr},
      {40, 'A', &t.c40, &SparkFloat40, &AuxQ4Angle40, nullptr},
      {42, 'B', &t.c42, &SparkBoolean42, &AuxQ4Checkbox42, nullptr},
      {43, 'P', &t.c43, &SparkFloat43, &AuxQ4Position43, &SparkFloat44},
      {45, 'S', &t.c45, &SparkFloat45, &AuxQ4Size45, nullptr},
      {46, 'S', &t.c46, &SparkFloat46, &AuxQ4Size46, nullptr},
      {47, 'A', &t.c47, &SparkFloat47, &AuxQ4Angle47, nullptr},
      {48, 'F', &t.c48, &SparkFloat48, &AuxQ4Float48, nullptr},
      {49, 'B', &t.c49, &SparkBoolean49, &AuxQ4Checkbox49, nullptr},
      {50, 'P', &t.c50, &SparkFloat50, &AuxQ4Position50, &SparkFloat51},
      {52, 'S', &t.c52, &SparkFloat52, &AuxQ4Size52, nullptr},
      {53, 'S', &t.c53, &SparkFloat53, &AuxQ4Size53, nullptr},
      {54, 'A', &t.c54, &SparkFloat54, &AuxQ4Angle54, nullptr},
      {55, 'F', &t.c55, &SparkFloat55, &AuxQ4Float55, nullptr},
      {71, 'B', &t.c71, &SparkBoolean71, &AuxQ4Checkbox71, nullptr},
      {72, 'P', &t.c72, &SparkFloat72, &AuxQ4Position72, &SparkFloat73},
      {74, 'P', &t.c74, &SparkFloat74, &AuxQ4Position74, &SparkFloat75},
      {76, 'F', &t.c76, &SparkFloat76, &AuxQ4Float76, nullptr},
      {77, 'F', &t.c77, &SparkFloat77, &AuxQ4Float77, nullptr},
      {65, 'B', &t.c65, &SparkBoolean65, &AuxQ4Checkbox65, nullptr},
      {78, 'B', &t.c78, &SparkBoolean78, &AuxQ4Checkbox78, nullptr},
      {79, 'P', &t.c79, &SparkFloat79, &AuxQ4Position79, &SparkFloat80},
      {81, 'S', &t.c81, &SparkFloat81, &AuxQ4Size81, nullptr},
      {82, 'F', &t.c82, &SparkFloat82, &AuxQ4Float82, nullptr},
  };
}

template <typename Object>
void expect_value_binding(const Binding& b) {
  Object* object = static_cast<Object*>(b.object);
  EXPECT_EQ(static_cast<void*>(object->record), b.record) << b.number;
  EXPECT_EQ(static_cast<void*>(object->aux), b.aux) << b.number;
}

}  // namespace

TEST_F(EffectTest, AllFiftyFourBindings) {
  const std::vector<Binding> all = bindings();
  ASSERT_EQ(all.size(), 54u);
  // Spoil what binding must set, so that a binding left out shows.
  for (const Binding& b : all) {
    b.object->number = -1;
    b.object->reprocess = b.number == 13;
    b.object->spare_flags[0] = true;
  }
  Instance.BindControls();
  for (const Binding& b : all) {
    EXPECT_EQ(b.object->number, b.number);
    EXPECT_EQ(b.object->reprocess, b.number != 13) << b.number;  // control 13 never re-processes
    EXPECT_FALSE(b.object->spare_flags[0]) << b.number;
    switch (b.kind) {
      case 'F': expect_value_binding<FloatControlQ4>(b); break;
      case 'A': expect_value_binding<AngleControlQ4>(b); break;
      case 'S': expect_value_binding<SizeControlQ4>(b); break;
      case 'I': expect_value_binding<IntegerControlQ4>(b); break;
      case 'L': expect_value_binding<ListControlQ4>(b); break;
      case 'B': expect_value_binding<CheckboxControlQ4>(b); break;
      case 'K': EXPECT_EQ(static_cast<void*>(static_cast<ButtonControlQ4*>(b.object)->record), b.record); break;
      case 'P': {
        PositionControlQ4* p = static_cast<PositionControlQ4*>(b.object);
        EXPECT_EQ(p->x_record, b.record) << b.number;
        EXPECT_EQ(p->y_record, b.y_record) << b.number;
        EXPECT_EQ(p->aux, b.aux) << b.number;
        break;
      }
    }
  }
}

// The effect object holds the clips, the output, the 22 widgets and then
// the 76 control objects in the documented order.
TEST_F(EffectTest, MembersLieInTheirOrder) {
  Tidewright& t = Instance;
  const std::vector<const void*> members = {
      &t.Input, &t.BackG, &t.Alt, &t.Sources, &t.Sinks, &t.Barrier, &t.Result,
      &t.wind1_start_widget, &t.wind1_end_widget, &t.wind1_line_widget, &t.wind2_start_widget,
      &t.wind2_end_widget, &t.wind2_line_widget, &t.wind3_start_widget, &t.wind3_end_widget,
      &t.wind3_line_widget, &t.vortex1_centre_widget, &t.vortex1_radius_widget,
      &t.vortex2_centre_widget, &t.vortex2_radius_widget, &t.vortex3_centre_widget,
      &t.vortex3_radius_widget, &t.region_a_centre_widget, &t.region_a_widget,
      &t.region_a_direction_widget, &t.region_b_centre_widget, &t.region_b_widget,
      &t.region_b_direction_widget, &t.gravity_direction_widget,
      // main
      &t.c7, &t.c8, &t.c23, &t.c24, &t.c20, &t.c21, &t.c22, &t.c18, &t.c19, &t.c10, &t.c12, &t.c11,
      &t.c14, &t.c15, &t.c16, &t.c17, &t.c66, &t.c67, &t.c68, &t.c69, &t.c29, &t.c30, &t.c13,
      // buttons
      &t.c6, &t.c35, &t.c64, &t.spare_button1, &t.spare_button2,
      // forces, velocity A and B
      &t.c56, &t.c36, &t.c37, &t.c38, &t.c39, &t.c40, &t.c42, &t.c43, &t.c45, &t.c46, &t.c47,
      &t.c48, &t.c49, &t.c50, &t.c52, &t.c53, &t.c54, &t.c55,
      // wind 1, 2, 3
      &t.c71, &t.c72, &t.c74, &t.c76, &t.c77, &t.c65, &t.wind2_on, &t.wind2_start, &t.wind2_end,
      &t.wind2_strength, &t.wind2_tight, &t.wind2_local, &t.wind3_on, &t.wind3_start,
      &t.wind3_end, &t.wind3_strength, &t.wind3_tight, &t.wind3_local,
      // vortex 1, 2, 3
      &t.c78, &t.c79, &t.c81, &t.c82, &t.vortex2_on, &t.vortex2_centre, &t.vortex2_radius,
      &t.vortex2_strength, &t.vortex3_on, &t.vortex3_centre, &t.vortex3_radius,
      &t.vortex3_strength};
  ASSERT_EQ(members.size(), 7u + 22u + 76u);
  for (size_t i = 1; i < members.size(); ++i) EXPECT_LT(members[i - 1], members[i]) << i;
  // A widget starts shown, white, neither picked nor hovered; the ones
  // nothing draws (start-up binds and paints the twelve drawn) stay so.
  for (const OverlayControlQ4* w : {static_cast<OverlayControlQ4*>(&t.wind2_start_widget),
                                    static_cast<OverlayControlQ4*>(&t.wind3_line_widget),
                                    static_cast<OverlayControlQ4*>(&t.vortex3_radius_widget)}) {
    EXPECT_TRUE(w->shown);
    EXPECT_EQ(w->picked, 0);
    EXPECT_EQ(w->hover, 0);
    for (int c : w->colour) EXPECT_EQ(c, 65535);
  }
}

// Each frame the objects take the host values in effect units.
TEST_F(EffectTest, LoadTakesEffectUnits) {
  Instance.BindControls();
  SparkFloat7.value = 0.5f;
  SparkFloat40.value = -90.0f;
  SparkFloat45.value = 50.0f;
  SparkFloat43.value = 50.0f;
  SparkFloat44.value = 25.0f;
  SparkFloat81.value = 0.1f;
  SparkInt21.value = 77;
  SparkPup10.value = 0;
  SparkPup29.value = 5;
  SparkBoolean23.value = 0x100;  // only the lowest byte counts: clear
  SparkBoolean20.value = 0x101;
  Instance.wind2_strength.value = 0.75;  // no host control: left alone
  Instance.LoadControls();
  EXPECT_EQ(Instance.c7.value, 0.5);
  EXPECT_EQ(Instance.c40.value, -90.0);
  EXPECT_EQ(Instance.c45.value, 0.5);
  EXPECT_EQ(Instance.c43.x, 0.5);
  EXPECT_EQ(Instance.c43.y, 0.25);
  EXPECT_EQ(Instance.c81.value, static_cast<double>(0.1f) / 100.0);
  EXPECT_EQ(Instance.c21.value, 77);
  EXPECT_EQ(Instance.c10.value, 1);  // 1-based
  EXPECT_EQ(Instance.c29.value, 6);
  EXPECT_EQ(Instance.c23.value, 0);
  EXPECT_EQ(Instance.c20.value, 1);
  EXPECT_EQ(Instance.c19.value, 1);  // its default
  EXPECT_EQ(Instance.c72.x, 0.0);
  EXPECT_EQ(Instance.c74.y, 0.5);
  EXPECT_EQ(Instance.c79.x, static_cast<double>(33.3f) / 100.0);
  EXPECT_EQ(Instance.wind2_strength.value, 0.75);
}

// The show/hide rules against the values, worked out from the rules'
// table: which dependent controls are hidden.
TEST_F(EffectTest, ShowHideRules) {
  const std::vector<int> dependent = {72, 73, 74, 75, 76, 77, 65, 79, 80, 81, 82, 24, 21, 22, 43,
                                      44, 45, 46, 47, 48, 50, 51, 52, 53, 54, 55, 37, 39, 40, 11,
                                      12, 17, 69, 67};
  auto all_but = [&](std::set<int> shown) {
    std::set<int> hidden;
    for (int n : dependent)
      if (!shown.count(n)) hidden.insert(n);
    return hidden;
  };
  auto tick_all = [] {
    for (SparkBoolean* box : {&SparkBoolean71, &SparkBoolean78, &SparkBoolean23, &SparkBoolean20,
                              &SparkBoolean42, &SparkBoolean49, &SparkBoolean36, &SparkBoolean38})
      box->value = 1;
  };
  const struct {
    const char* what;
    std::function<void()> set;
    std::set<int> hidden;
  } cases[] = {
      {"defaults", [] {}, all_but({11})},
      {"everything on",
       [&] {
         tick_all();
         SparkPup10.value = 3;  // Pressure Input
         SparkPup14.value = 1;  // Type 2
         SparkPup66.value = 1;  // Self Source
         SparkPup68.value = 2;  // Sink Clip
       },
       {11}},
      {"buoyancy none", [] { SparkPup10.value = 0; }, all_but({})},
      {"alt luma", [] { SparkPup10.value = 2; }, all_but({11})},
      {"pressure alt", [] { SparkPup10.value = 4; }, all_but({12})},
      {"source clip", [] { SparkPup66.value = 2; }, all_but({11, 67})},
      {"source beyond its items", [] { SparkPup66.value = 5; }, all_but({11})},
      {"self sink", [] { SparkPup68.value = 1; }, all_but({11, 69})},
      {"sink beyond its items", [] { SparkPup68.value = 7; }, all_but({11, 69})},
      {"wind only", [] { SparkBoolean71.value = 1; }, all_but({11, 72, 73, 74, 75, 76, 77, 65})},
      {"gravity by its lowest byte", [] { SparkBoolean38.value = 0x201; }, all_but({11, 39, 40})},
      {"a high byte alone is off", [] { SparkBoolean38.value = 0x200; }, all_but({11})},
  };
  for (const auto& c : cases) {
    SetUp();
    Instance.BindControls();
    c.set();
    Instance.LoadControls();
    Instance.SyncControls();
    std::set<int> hidden;
    for (int n : dependent)
      if (standin_control_hidden(n)) hidden.insert(n);
    EXPECT_EQ(hidden, c.hidden) << c.what;
    // Every dependent control is shown or hidden once a call, changed or not.
    EXPECT_EQ(standin_log_count("sparkDisableParameter") + standin_log_count("sparkEnableParameter"),
              static_cast<int>(dependent.size()))
        << c.what;
    EXPECT_EQ(Instance.restart, 1) << c.what;  // the rules never touch it
  }
}
