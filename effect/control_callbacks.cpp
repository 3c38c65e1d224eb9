// The callbacks the host calls when the artist changes a control of pages 0
// to 2: one dlcb_<N> per control object, generated from the control table
// by the row's form.
#include "control_records.h"
#include "default_callbacks.h"
#include "tidewright.h"

namespace {

typedef void (Tidewright::*MemberCallback)(ControlQ4& control, double frame);

// The steps a form takes before the shared ones.
struct Form {
  bool sync;    // refresh the object from its host record
  bool update;  // show the host the value it now holds
  bool rules;   // re-apply every show/hide rule before re-processing
};

const Form form_value = {true, false, false};     // FormV
const Form form_checkbox = {true, true, true};    // FormX, FormXM
const Form form_list = {true, false, true};       // FormL, FormLM
const Form form_button = {false, false, false};   // FormB

// A locked checkbox refuses the change: the host shows the box as it was
// when it was locked. Other controls refuse without a word.
void refuse(ControlQ4&) {}
void refuse(CheckboxControlQ4& box) {
  box.record->value = (box.record->value & ~0xFF) | (box.saved & 0xFF);
  sparkControlUpdate(box.number);
}

template <typename Object>
void* control_callback(Object& control, Form form, MemberCallback member, int reason,
                       const SparkHostInfo& info) {
  if (form.sync) control.Sync();
  if (form.update) sparkControlUpdate(control.number);
  if (control.disabled) {
    refuse(control);
    return nullptr;
  }
  if (member) (Instance.*member)(control, static_cast<double>(info.frame_no));
  // "Restart On Process" only asks for the restart: its frame comes with
  // the next render.
  if (!control.reprocess) return nullptr;
  if (form.rules) Instance.SyncControls();
  return DefaultCB(reason, info);
}

}  // namespace

#define TIDEWRIGHT_CALLBACK(callback, member, form, rule)                  \
  void* callback(int reason, SparkHostInfo info) {                         \
    return control_callback(Instance.member, form, rule, reason, info);    \
  }
#define TIDEWRIGHT_CALLBACK_None(callback, member, rule)
#define TIDEWRIGHT_CALLBACK_FormV(callback, member, rule) \
  TIDEWRIGHT_CALLBACK(callback, member, form_value, nullptr)
#define TIDEWRIGHT_CALLBACK_FormX(callback, member, rule) \
  TIDEWRIGHT_CALLBACK(callback, member, form_checkbox, nullptr)
#define TIDEWRIGHT_CALLBACK_FormXM(callback, member, rule) \
  TIDEWRIGHT_CALLBACK(callback, member, form_checkbox, &Tidewright::rule)
#define TIDEWRIGHT_CALLBACK_FormL(callback, member, rule) \
  TIDEWRIGHT_CALLBACK(callback, member, form_list, nullptr)
#define TIDEWRIGHT_CALLBACK_FormLM(callback, member, rule) \
  TIDEWRIGHT_CALLBACK(callback, member, form_list, &Tidewright::rule)
#define TIDEWRIGHT_CALLBACK_FormB(callback, member, rule) \
  TIDEWRIGHT_CALLBACK(callback, member, form_button, &Tidewright::rule)
#define TIDEWRIGHT_CALLBACK_ROW(n, record, object, member, page, def, low, high, step, flags, \
                                title, callback, form, rule)                                 \
  TIDEWRIGHT_CALLBACK_##form(callback, member, rule)

extern "C" {
TIDEWRIGHT_CONTROLS(TIDEWRIGHT_CALLBACK_ROW)
}
