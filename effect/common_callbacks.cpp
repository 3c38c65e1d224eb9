// The common controls each of pages 0 to 2 carries: Help, Blend (page 0
// only), the resolution list, Auto Preview, Clear Overlay and Reset. The
// rest of the effect reads only page 0's copies, so a change on any page is
// mirrored into the other two.
#include "control_records.h"
#include "default_callbacks.h"
#include "help_topic.h"
#include "tidewright.h"

namespace {

// A copy per page; the host shows the changed copy, the others follow
// without an update of their own.
template <typename Record, typename Copy>
void mirror(Record* const (&copies)[3], const int (&numbers)[3], int page, Copy copy) {
  sparkControlUpdate(numbers[page]);
  for (int other = 0; other < 3; ++other)
    if (other != page) copy(*copies[page], *copies[other]);
}

SparkPup* const resolutions[3] = {&SparkPup33, &SparkPup62, &SparkPup91};
const int resolution_numbers[3] = {33, 62, 91};
SparkBoolean* const auto_previews[3] = {&SparkBoolean34, &SparkBoolean63, &SparkBoolean92};
const int auto_preview_numbers[3] = {34, 63, 92};
SparkBoolean* const clear_overlays[3] = {&SparkBoolean28, &SparkBoolean57, &SparkBoolean86};
const int clear_overlay_numbers[3] = {28, 57, 86};

// Checkboxes are the lowest byte of their value; the rest is the host's.
void copy_lowest_byte(const SparkBoolean& from, SparkBoolean& to) {
  to.value = (to.value & ~0xFF) | (from.value & 0xFF);
}

void* set_resolution(int page, SparkHostInfo info) {
  mirror(resolutions, resolution_numbers, page,
         [](const SparkPup& from, SparkPup& to) { to.value = from.value; });
  // A new resolution always renders: the viewer would show a frame of the
  // old one.
  return SparkProcess(info);
}

void* auto_preview(int page, int reason, SparkHostInfo info) {
  mirror(auto_previews, auto_preview_numbers, page, copy_lowest_byte);
  return DefaultCB(reason, info);
}

void* clear_overlay(int page, int reason, SparkHostInfo info) {
  mirror(clear_overlays, clear_overlay_numbers, page, copy_lowest_byte);
  return OverlayCB(reason, info);
}

// The defaults of one page's bound controls, written back in table order
// with an update each; a position's X and Y are written before either is
// updated. Buttons, the common controls, the amplitude curve and objects
// without a host control have nothing to write.
#define TIDEWRIGHT_RESET_WRITE(record, n, def) \
  record##n.value = def;                       \
  sparkControlUpdate(n);
#define TIDEWRIGHT_RESET_FLOAT_None(n, def)
#define TIDEWRIGHT_RESET_FLOAT_Float(n, def) TIDEWRIGHT_RESET_WRITE(SparkFloat, n, def)
#define TIDEWRIGHT_RESET_FLOAT_Angle(n, def) TIDEWRIGHT_RESET_WRITE(SparkFloat, n, def)
#define TIDEWRIGHT_RESET_FLOAT_Size(n, def) TIDEWRIGHT_RESET_WRITE(SparkFloat, n, def)
#define TIDEWRIGHT_RESET_FLOAT_Position(n, def) SparkFloat##n.value = def;
#define TIDEWRIGHT_RESET_FLOAT_PositionY(n, def) \
  SparkFloat##n.value = def;                     \
  sparkControlUpdate(n - 1);                     \
  sparkControlUpdate(n);
#define TIDEWRIGHT_RESET_CHOICE_None(record, n, def)
#define TIDEWRIGHT_RESET_CHOICE_Integer(record, n, def) TIDEWRIGHT_RESET_WRITE(record, n, def)
#define TIDEWRIGHT_RESET_CHOICE_List(record, n, def) TIDEWRIGHT_RESET_WRITE(record, n, def)
#define TIDEWRIGHT_RESET_CHOICE_Checkbox(record, n, def)        \
  record##n.value = (record##n.value & ~0xFF) | ((def) & 0xFF); \
  sparkControlUpdate(n);

#define TIDEWRIGHT_RESET_None(object, n, def)
#define TIDEWRIGHT_RESET_UserFloat(object, n, def)
#define TIDEWRIGHT_RESET_Push(object, n, def)
#define TIDEWRIGHT_RESET_String(object, n, def)
#define TIDEWRIGHT_RESET_Float(object, n, def) TIDEWRIGHT_RESET_FLOAT_##object(n, def)
#define TIDEWRIGHT_RESET_Int(object, n, def) TIDEWRIGHT_RESET_CHOICE_##object(SparkInt, n, def)
#define TIDEWRIGHT_RESET_Boolean(object, n, def) \
  TIDEWRIGHT_RESET_CHOICE_##object(SparkBoolean, n, def)
#define TIDEWRIGHT_RESET_Pup(object, n, def) TIDEWRIGHT_RESET_CHOICE_##object(SparkPup, n, def)
#define TIDEWRIGHT_RESET(n, record, object, member, page, def, low, high, step, flags, title, \
                         callback, form, rule)                                               \
  if (page == reset_page) {                                                                  \
    TIDEWRIGHT_RESET_##record(object, n, def)                                                \
  }

void write_defaults(int reset_page) { TIDEWRIGHT_CONTROLS(TIDEWRIGHT_RESET) }

void* reset(int page, int reason, SparkHostInfo info) {
  if (sparkMessageConfirm("Are you sure you want to reset the current settings to default values?")) {
    write_defaults(page);
    // Every object, of whatever page, takes its record afresh, and the
    // panel shows what the reset values need.
    Instance.SyncControlObjects();
    Instance.SyncControls();
  }
  return DefaultCB(reason, info);
}

}  // namespace

extern "C" {

void* HelpCB(int, SparkHostInfo) {
  if (display_help_topic("tidewright.htm"))
    sparkError("Error in opening help file (failed to spawn netscape process)");
  return nullptr;
}

// The blend is mixed in by the frame entry; the re-render shows it at once
// only for an interactive change.
void* Blend1CB(int reason, SparkHostInfo info) {
  sparkViewingDraw();
  if (info.interactive != 1 || reason != 1) return nullptr;
  sparkControlUpdate(27);
  return DefaultCB(1, info);
}

void* SetRes1CB(int, SparkHostInfo info) { return set_resolution(0, info); }
void* SetRes2CB(int, SparkHostInfo info) { return set_resolution(1, info); }
void* SetRes3CB(int, SparkHostInfo info) { return set_resolution(2, info); }

void* Auto1CB(int reason, SparkHostInfo info) { return auto_preview(0, reason, info); }
void* Auto2CB(int reason, SparkHostInfo info) { return auto_preview(1, reason, info); }
void* Auto3CB(int reason, SparkHostInfo info) { return auto_preview(2, reason, info); }

void* Overlay1CB(int reason, SparkHostInfo info) { return clear_overlay(0, reason, info); }
void* Overlay2CB(int reason, SparkHostInfo info) { return clear_overlay(1, reason, info); }
void* Overlay3CB(int reason, SparkHostInfo info) { return clear_overlay(2, reason, info); }

void* Reset1CB(int reason, SparkHostInfo info) { return reset(0, reason, info); }
void* Reset2CB(int reason, SparkHostInfo info) { return reset(1, reason, info); }
void* Reset3CB(int reason, SparkHostInfo info) { return reset(2, reason, info); }
}
