// The records the host reads by name. All of them are constant-initialised
// data, so they hold their defaults before any code of the library runs.
#include "control_records.h"

#include "amplitude_import.h"

#define TIDEWRIGHT_FULL_ITEM(prefix, item) prefix item,
#define TIDEWRIGHT_ITEM(prefix, item) item,
#define TIDEWRIGHT_COUNT_ITEM(prefix, item) +1

#define TIDEWRIGHT_RECORD_None(n, def, low, high, step, flags, title, callback)
#define TIDEWRIGHT_RECORD_Float(n, def, low, high, step, flags, title, callback) \
  SparkFloat SparkFloat##n = {def, low, high, step, flags, title, callback};
#define TIDEWRIGHT_RECORD_UserFloat(n, def, low, high, step, flags, title, callback) \
  SparkUserFloat SparkUserFloat##n = {def, low, high, step, flags, title, callback};
#define TIDEWRIGHT_RECORD_Int(n, def, low, high, step, flags, title, callback) \
  SparkInt SparkInt##n = {def, low, high, step, flags, title, callback};
#define TIDEWRIGHT_RECORD_Boolean(n, def, low, high, step, flags, title, callback) \
  SparkBoolean SparkBoolean##n = {def, title, callback};
#define TIDEWRIGHT_RECORD_Push(n, def, low, high, step, flags, title, callback) \
  SparkPush SparkPush##n = {title, callback};
#define TIDEWRIGHT_RECORD_Pup(n, def, low, high, step, flags, items, callback) \
  SparkPup SparkPup##n = {def, 0 items(TIDEWRIGHT_COUNT_ITEM), callback,      \
                          {items(TIDEWRIGHT_FULL_ITEM)}};
#define TIDEWRIGHT_RECORD_String(n, def, low, high, step, flags, title, callback) \
  SparkString SparkString##n = {title, "%s", flags, callback};

// The full range of a value control, restored when it is unlocked.
#define TIDEWRIGHT_AUX_None(n, def, low, high, title)
#define TIDEWRIGHT_AUX_Button(n, def, low, high, title)
#define TIDEWRIGHT_AUX_PositionY(n, def, low, high, title)
#define TIDEWRIGHT_AUX_Float(n, def, low, high, title) AuxQ4Float AuxQ4Float##n = {low, high};
#define TIDEWRIGHT_AUX_Angle(n, def, low, high, title) AuxQ4Angle AuxQ4Angle##n = {low, high};
#define TIDEWRIGHT_AUX_Size(n, def, low, high, title) AuxQ4Size AuxQ4Size##n = {low, high};
#define TIDEWRIGHT_AUX_Integer(n, def, low, high, title) \
  AuxQ4Integer AuxQ4Integer##n = {low, high};
// Both halves of every position pair share one range.
#define TIDEWRIGHT_AUX_Position(n, def, low, high, title) \
  AuxQ4Position AuxQ4Position##n = {low, high, low, high};
#define TIDEWRIGHT_AUX_List(n, def, low, high, items) \
  AuxQ4List AuxQ4List##n = {def, 0 items(TIDEWRIGHT_COUNT_ITEM), {items(TIDEWRIGHT_ITEM)}};
// No checkbox of this effect belongs to an exclusive group.
#define TIDEWRIGHT_AUX_Checkbox(n, def, low, high, title) AuxQ4Checkbox AuxQ4Checkbox##n = {};

#define TIDEWRIGHT_AUX_OF_None(n, object, def, low, high, title)
#define TIDEWRIGHT_AUX_OF_RECORD(n, object, def, low, high, title) \
  TIDEWRIGHT_AUX_##object(n, def, low, high, title)
#define TIDEWRIGHT_AUX_OF_Float TIDEWRIGHT_AUX_OF_RECORD
#define TIDEWRIGHT_AUX_OF_UserFloat TIDEWRIGHT_AUX_OF_RECORD
#define TIDEWRIGHT_AUX_OF_Int TIDEWRIGHT_AUX_OF_RECORD
#define TIDEWRIGHT_AUX_OF_Boolean TIDEWRIGHT_AUX_OF_RECORD
#define TIDEWRIGHT_AUX_OF_Pup TIDEWRIGHT_AUX_OF_RECORD
#define TIDEWRIGHT_AUX_OF_Push TIDEWRIGHT_AUX_OF_RECORD
#define TIDEWRIGHT_AUX_OF_String TIDEWRIGHT_AUX_OF_RECORD

#define TIDEWRIGHT_DEFINE(n, record, object, member, page, def, low, high, step, flags, title, \
                          callback, form, rule)                                               \
  TIDEWRIGHT_RECORD_##record(n, def, low, high, step, flags, title, callback)                 \
      TIDEWRIGHT_AUX_OF_##record(n, object, def, low, high, title)

extern "C" {
TIDEWRIGHT_CONTROLS(TIDEWRIGHT_DEFINE)
int DL_Sync_Ctrl = 1;
}
