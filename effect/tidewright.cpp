// The effect object: binding and loading its control objects, and the
// rules that show the controls a feature needs only while it is on.
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
                        callback)                                                           \
  TIDEWRIGHT_BIND_##record(n, object, member)

void Tidewright::BindControls() { TIDEWRIGHT_CONTROLS(TIDEWRIGHT_BIND) }

// Loading: Sync gives every class its effect units, except a position's,
// which the frame entry converts itself; buttons hold no value.
#define TIDEWRIGHT_LOAD_OBJECT_None(member)
#define TIDEWRIGHT_LOAD_OBJECT_Button(member)
#define TIDEWRIGHT_LOAD_OBJECT_PositionY(member)
#define TIDEWRIGHT_LOAD_OBJECT_Float(member) member.Sync();
#define TIDEWRIGHT_LOAD_OBJECT_Angle(member) member.Sync();
#define TIDEWRIGHT_LOAD_OBJECT_Size(member) member.Sync();
#define TIDEWRIGHT_LOAD_OBJECT_Integer(member) member.Sync();
#define TIDEWRIGHT_LOAD_OBJECT_List(member) member.Sync();
#define TIDEWRIGHT_LOAD_OBJECT_Checkbox(member) member.Sync();
#define TIDEWRIGHT_LOAD_OBJECT_Position(member) \
  member.x = member.x_record->value / 100.0;    \
  member.y = member.y_record->value / 100.0;

#define TIDEWRIGHT_LOAD_None(object, member)
#define TIDEWRIGHT_LOAD_RECORD(object, member) TIDEWRIGHT_LOAD_OBJECT_##object(member)
#define TIDEWRIGHT_LOAD_Float TIDEWRIGHT_LOAD_RECORD
#define TIDEWRIGHT_LOAD_UserFloat TIDEWRIGHT_LOAD_RECORD
#define TIDEWRIGHT_LOAD_Int TIDEWRIGHT_LOAD_RECORD
#define TIDEWRIGHT_LOAD_Boolean TIDEWRIGHT_LOAD_RECORD
#define TIDEWRIGHT_LOAD_Pup TIDEWRIGHT_LOAD_RECORD
#define TIDEWRIGHT_LOAD_Push TIDEWRIGHT_LOAD_RECORD
#define TIDEWRIGHT_LOAD_String TIDEWRIGHT_LOAD_RECORD
#define TIDEWRIGHT_LOAD(n, record, object, member, page, def, low, high, step, flags, title, \
                        callback)                                                           \
  TIDEWRIGHT_LOAD_##record(object, member)

void Tidewright::LoadControls() { TIDEWRIGHT_CONTROLS(TIDEWRIGHT_LOAD) }

namespace {

// Shows the controls while `shown`, hides them otherwise, in the order
// given.
void show_while(bool shown, std::initializer_list<ControlQ4*> controls) {
  for (ControlQ4* control : controls) control->Hide(!shown);
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

void Tidewright::WindOnACB(ControlQ4&, double) {
  show_while(ticked(c71), {&c72, &c74, &c76, &c77, &c65});
}

void Tidewright::VortexOnACB(ControlQ4&, double) {
  show_while(ticked(c78), {&c79, &c81, &c82});
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
