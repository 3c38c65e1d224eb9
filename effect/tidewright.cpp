// The effect object: binding and loading its control objects, and its
// member callbacks: the restart requests and the rules that show the
// controls a feature needs only while it is on.
#include "tidewright.h"

#include <initializer_list>

#include "control_records.h"

Tidewright Instance;

namespace {

// Every bound object: its number, its re-process flag (clear for "Restart
// On Process" alone, whose change must not re-render) and the flag byte
// after its hidden flag.
void bind_common(ControlQ4& control, int number) {
  control.number = number;
  control.reprocess = number != 13;
  control.spare_flags[0] = false;
}

}  // namespace

// Binding goes by record kind first: a row without a host record binds
// nothing, whatever its object.
#define TIDEWRIGHT_BIND_OBJECT_None(n, member, host)
#define TIDEWRIGHT_BIND_OBJECT_Button(n, member, host) \
  bind_common(member, n);                              \
  member.record = &host;
#define TIDEWRIGHT_BIND_VALUE(n, member, host, auxiliary) \
  bind_common(member, n);                                 \
  member.record = &host;                                  \
  member.aux = &auxiliary;
#define TIDEWRIGHT_BIND_OBJECT_Float(n, member, host) \
  TIDEWRIGHT_BIND_VALUE(n, member, host, AuxQ4Float##n)
#define TIDEWRIGHT_BIND_OBJECT_Angle(n, member, host) \
  TIDEWRIGHT_BIND_VALUE(n, member, host, AuxQ4Angle##n)
#define TIDEWRIGHT_BIND_OBJECT_Size(n, member, host) \
  TIDEWRIGHT_BIND_VALUE(n, member, host, AuxQ4Size##n)
#define TIDEWRIGHT_BIND_OBJECT_Integer(n, member, host) \
  TIDEWRIGHT_BIND_VALUE(n, member, host, AuxQ4Integer##n)
#define TIDEWRIGHT_BIND_OBJECT_List(n, member, host) \
  TIDEWRIGHT_BIND_VALUE(n, member, host, AuxQ4List##n)
#define TIDEWRIGHT_BIND_OBJECT_Checkbox(n, member, host) \
  TIDEWRIGHT_BIND_VALUE(n, member, host, AuxQ4Checkbox##n)
#define TIDEWRIGHT_BIND_OBJECT_Position(n, member, host) \
  bind_common(member, n);                                \
  member.x_record = &host;                               \
  member.aux = &AuxQ4Position##n;
// The Y record follows its X row and completes the same object.
#define TIDEWRIGHT_BIND_OBJECT_PositionY(n, member, host) member.y_record = &host;

#define TIDEWRIGHT_BIND_None(n, object, member)
#define TIDEWRIGHT_BIND_Float(n, object, member) TIDEWRIGHT_BIND_OBJECT_##object(n, member, SparkFloat##n)
#define TIDEWRIGHT_BIND_UserFloat(n, object, member) \
  TIDEWRIGHT_BIND_OBJECT_##object(n, member, SparkUserFloat##n)
#define TIDEWRIGHT_BIND_Int(n, object, member) TIDEWRIGHT_BIND_OBJECT_##object(n, member, SparkInt##n)
#define TIDEWRIGHT_BIND_Boolean(n, object, member) \
  TIDEWRIGHT_BIND_OBJECT_##object(n, member, SparkBoolean##n)
#define TIDEWRIGHT_BIND_Pup(n, object, member) TIDEWRIGHT_BIND_OBJECT_##object(n, member, SparkPup##n)
#define TIDEWRIGHT_BIND_Push(n, object, member) TIDEWRIGHT_BIND_OBJECT_##object(n, member, SparkPush##n)
#define TIDEWRIGHT_BIND_String(n, object, member) \
  TIDEWRIGHT_BIND_OBJECT_##object(n, member, SparkString##n)
#define TIDEWRIGHT_BIND(n, record, object, member, page, def, low, high, step, flags, title, \
                        callback, form, rule)                                               \
  TIDEWRIGHT_BIND_##record(n, object, member)

void Tidewright::BindControls() { TIDEWRIGHT_CONTROLS(TIDEWRIGHT_BIND) }

namespace {

// Sync gives every class its effect units, except a position's, which does
// nothing: the position is converted here. A button holds no value.
void load(ControlQ4& control) { control.Sync(); }
void load(PositionControlQ4& position) {
  position.x = position.x_record->value / 100.0;
  position.y = position.y_record->value / 100.0;
}

void load_numeric(ControlQ4& control) { load(control); }
void load_numeric(PositionControlQ4& position) { load(position); }
void load_numeric(CheckboxControlQ4&) {}
void load_numeric(ListControlQ4&) {}

}  // namespace

void Tidewright::LoadControls() {
  VisitBoundControls([](auto& control) { load(control); });
}

void Tidewright::LoadNumericControls() {
  VisitBoundControls([](auto& control) { load_numeric(control); });
}

void Tidewright::SyncControlObjects() {
  VisitBoundControls([](ControlQ4& control) { control.Sync(); });
}

namespace {

// Shows the controls while `shown`, hides them otherwise, in the order
// given. An object no host control mirrors (number 0) only records it: its
// Hide would show or hide host controls 0 and 1, which are none of its own.
void show_while(bool shown, std::initializer_list<ControlQ4*> controls) {
  for (ControlQ4* control : controls) {
    if (control->number)
      control->Hide(!shown);
    else
      control->ControlQ4::Hide(!shown);
  }
}

bool ticked(CheckboxControlQ4& box) {
  long value = 0;
  box.GetValue(0.0, value);
  return value == 1;
}

long item(ListControlQ4& list) {
  long value = 0;
  list.GetValue(0.0, value);
  return value;
}

}  // namespace

void Tidewright::RestartCB(ControlQ4&, double) { restart = 1; }

void Tidewright::RestartPCB(ControlQ4&, double) {
  if (ticked(c13)) restart = 1;
}

// The three winds and the three vortices follow one rule each; only the
// first of each has host controls.
void Tidewright::WindOnACB(ControlQ4&, double) {
  show_while(ticked(c71), {&c72, &c74, &c76, &c77, &c65});
}

void Tidewright::WindOnBCB(ControlQ4&, double) {
  show_while(ticked(wind2_on), {&wind2_start, &wind2_end, &wind2_strength, &wind2_tight, &wind2_local});
}

void Tidewright::WindOnCCB(ControlQ4&, double) {
  show_while(ticked(wind3_on), {&wind3_start, &wind3_end, &wind3_strength, &wind3_tight, &wind3_local});
}

void Tidewright::VortexOnACB(ControlQ4&, double) {
  show_while(ticked(c78), {&c79, &c81, &c82});
}

void Tidewright::VortexOnBCB(ControlQ4&, double) {
  show_while(ticked(vortex2_on), {&vortex2_centre, &vortex2_radius, &vortex2_strength});
}

void Tidewright::VortexOnCCB(ControlQ4&, double) {
  show_while(ticked(vortex3_on), {&vortex3_centre, &vortex3_radius, &vortex3_strength});
}

void Tidewright::UseDiffCB(ControlQ4&, double) { show_while(ticked(c23), {&c24}); }

void Tidewright::UseDissCB(ControlQ4&, double) { show_while(ticked(c20), {&c21, &c22}); }

void Tidewright::UseVelocityACB(ControlQ4&, double) {
  show_while(ticked(c42), {&c43, &c45, &c46, &c47, &c48});
}

void Tidewright::UseVelocityBCB(ControlQ4&, double) {
  show_while(ticked(c49), {&c50, &c52, &c53, &c54, &c55});
}

void Tidewright::UseBarriersCB(ControlQ4&, double) { show_while(ticked(c36), {&c37}); }

void Tidewright::UseGravityCB(ControlQ4&, double) { show_while(ticked(c38), {&c39, &c40}); }

// Luma modes (2, 3) drive buoyancy by RiseFall, pressure modes (4, 5) by
// Pressure Force; None shows neither.
void Tidewright::BuoyModeCB(ControlQ4&, double) {
  const long mode = item(c10);
  show_while(mode == 2 || mode == 3, {&c11});
  show_while(mode > 3, {&c12});
}

// Only the second random type has eddies.
void Tidewright::RandomModeCB(ControlQ4&, double) { show_while(item(c14) == 2, {&c17}); }

void Tidewright::SinkModeCB(ControlQ4&, double) { show_while(item(c68) != 1, {&c69}); }

void Tidewright::SourceModeCB(ControlQ4&, double) {
  const long mode = item(c66);
  show_while(mode == 2 || mode == 3, {&c67});
}

void Tidewright::SyncControls() {
  WindOnACB(c71, 0.0);
  VortexOnACB(c78, 0.0);
  UseDiffCB(c23, 0.0);
  UseDissCB(c20, 0.0);
  UseVelocityACB(c42, 0.0);
  UseVelocityBCB(c49, 0.0);
  UseBarriersCB(c36, 0.0);
  UseGravityCB(c38, 0.0);
  BuoyModeCB(c10, 0.0);
  RandomModeCB(c14, 0.0);
  SinkModeCB(c68, 0.0);
  SourceModeCB(c66, 0.0);
}
