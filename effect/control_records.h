#ifndef TIDEWRIGHT_CONTROL_RECORDS_H
#define TIDEWRIGHT_CONTROL_RECORDS_H

// The host control records, their auxiliary records and the callbacks the
// records name, exported under plain names (SparkFloat7, AuxQ4Float7,
// dlcb_7, ...), expanded from the control table.

#include "control_table.h"
#include "spark.h"

#define TIDEWRIGHT_DECLARE_RECORD_None(n)
#define TIDEWRIGHT_DECLARE_RECORD_Float(n) extern SparkFloat SparkFloat##n;
#define TIDEWRIGHT_DECLARE_RECORD_UserFloat(n) extern SparkUserFloat SparkUserFloat##n;
#define TIDEWRIGHT_DECLARE_RECORD_Int(n) extern SparkInt SparkInt##n;
#define TIDEWRIGHT_DECLARE_RECORD_Boolean(n) extern SparkBoolean SparkBoolean##n;
#define TIDEWRIGHT_DECLARE_RECORD_Pup(n) extern SparkPup SparkPup##n;
#define TIDEWRIGHT_DECLARE_RECORD_Push(n) extern SparkPush SparkPush##n;
#define TIDEWRIGHT_DECLARE_RECORD_String(n) extern SparkString SparkString##n;

// Auxiliary records exist for bound value controls only.
#define TIDEWRIGHT_DECLARE_AUX_None(n)
#define TIDEWRIGHT_DECLARE_AUX_Button(n)
#define TIDEWRIGHT_DECLARE_AUX_PositionY(n)
#define TIDEWRIGHT_DECLARE_AUX_Float(n) extern AuxQ4Float AuxQ4Float##n;
#define TIDEWRIGHT_DECLARE_AUX_Angle(n) extern AuxQ4Angle AuxQ4Angle##n;
#define TIDEWRIGHT_DECLARE_AUX_Size(n) extern AuxQ4Size AuxQ4Size##n;
#define TIDEWRIGHT_DECLARE_AUX_Position(n) extern AuxQ4Position AuxQ4Position##n;
#define TIDEWRIGHT_DECLARE_AUX_Integer(n) extern AuxQ4Integer AuxQ4Integer##n;
#define TIDEWRIGHT_DECLARE_AUX_List(n) extern AuxQ4List AuxQ4List##n;
#define TIDEWRIGHT_DECLARE_AUX_Checkbox(n) extern AuxQ4Checkbox AuxQ4Checkbox##n;

// A row without a host record has no auxiliary record either.
#define TIDEWRIGHT_DECLARE_AUX_OF_None(n, object)
#define TIDEWRIGHT_DECLARE_AUX_OF_RECORD(n, object) TIDEWRIGHT_DECLARE_AUX_##object(n)
#define TIDEWRIGHT_DECLARE_AUX_OF_Float TIDEWRIGHT_DECLARE_AUX_OF_RECORD
#define TIDEWRIGHT_DECLARE_AUX_OF_UserFloat TIDEWRIGHT_DECLARE_AUX_OF_RECORD
#define TIDEWRIGHT_DECLARE_AUX_OF_Int TIDEWRIGHT_DECLARE_AUX_OF_RECORD
#define TIDEWRIGHT_DECLARE_AUX_OF_Boolean TIDEWRIGHT_DECLARE_AUX_OF_RECORD
#define TIDEWRIGHT_DECLARE_AUX_OF_Pup TIDEWRIGHT_DECLARE_AUX_OF_RECORD
#define TIDEWRIGHT_DECLARE_AUX_OF_Push TIDEWRIGHT_DECLARE_AUX_OF_RECORD
#define TIDEWRIGHT_DECLARE_AUX_OF_String TIDEWRIGHT_DECLARE_AUX_OF_RECORD

// Each row with a form defines its control's callback dlcb_<N>.
#define TIDEWRIGHT_DECLARE_CALLBACK_None(callback)
#define TIDEWRIGHT_DECLARE_CALLBACK_FORM(callback) void* callback(int reason, SparkHostInfo info);
#define TIDEWRIGHT_DECLARE_CALLBACK_FormV TIDEWRIGHT_DECLARE_CALLBACK_FORM
#define TIDEWRIGHT_DECLARE_CALLBACK_FormX TIDEWRIGHT_DECLARE_CALLBACK_FORM
#define TIDEWRIGHT_DECLARE_CALLBACK_FormXM TIDEWRIGHT_DECLARE_CALLBACK_FORM
#define TIDEWRIGHT_DECLARE_CALLBACK_FormL TIDEWRIGHT_DECLARE_CALLBACK_FORM
#define TIDEWRIGHT_DECLARE_CALLBACK_FormLM TIDEWRIGHT_DECLARE_CALLBACK_FORM
#define TIDEWRIGHT_DECLARE_CALLBACK_FormB TIDEWRIGHT_DECLARE_CALLBACK_FORM

#define TIDEWRIGHT_DECLARE(n, record, object, member, page, def, low, high, step, flags, title, \
                           callback, form, rule)                                                \
  TIDEWRIGHT_DECLARE_CALLBACK_##form(callback) TIDEWRIGHT_DECLARE_RECORD_##record(n)           \
      TIDEWRIGHT_DECLARE_AUX_OF_##record(n, object)

extern "C" {
TIDEWRIGHT_CONTROLS(TIDEWRIGHT_DECLARE)
// 1 when the show/hide rules are to run before the next frame.
extern int DL_Sync_Ctrl;

// The common controls of pages 0 to 2 (common_callbacks.cpp).
void* HelpCB(int reason, SparkHostInfo info);
void* Blend1CB(int reason, SparkHostInfo info);
void* SetRes1CB(int reason, SparkHostInfo info);
void* SetRes2CB(int reason, SparkHostInfo info);
void* SetRes3CB(int reason, SparkHostInfo info);
void* Auto1CB(int reason, SparkHostInfo info);
void* Auto2CB(int reason, SparkHostInfo info);
void* Auto3CB(int reason, SparkHostInfo info);
void* Overlay1CB(int reason, SparkHostInfo info);
void* Overlay2CB(int reason, SparkHostInfo info);
void* Overlay3CB(int reason, SparkHostInfo info);
void* Reset1CB(int reason, SparkHostInfo info);
void* Reset2CB(int reason, SparkHostInfo info);
void* Reset3CB(int reason, SparkHostInfo info);
}

#endif
