#ifndef TIDEWRIGHT_H
#define TIDEWRIGHT_H

// The effect object: everything that lives between host calls.

#include "ControlQ4.h"
#include "OverlayQ4.h"
#include "OverlayWidgetsQ4.h"
#include "PluginQ4.h"
#include "SourceQ4.h"
#include "control_table.h"

#define TIDEWRIGHT_MEMBER_None(member)
#define TIDEWRIGHT_MEMBER_PositionY(member)
#define TIDEWRIGHT_MEMBER_Float(member) FloatControlQ4 member;
#define TIDEWRIGHT_MEMBER_Angle(member) AngleControlQ4 member;
#define TIDEWRIGHT_MEMBER_Size(member) SizeControlQ4 member;
#define TIDEWRIGHT_MEMBER_Position(member) PositionControlQ4 member;
#define TIDEWRIGHT_MEMBER_Integer(member) IntegerControlQ4 member;
#define TIDEWRIGHT_MEMBER_List(member) ListControlQ4 member;
#define TIDEWRIGHT_MEMBER_Checkbox(member) CheckboxControlQ4 member;
#define TIDEWRIGHT_MEMBER_Button(member) ButtonControlQ4 member;
#define TIDEWRIGHT_MEMBER(n, record, object, member, page, def, low, high, step, flags, title, \
                          callback)                                                           \
  TIDEWRIGHT_MEMBER_##object(member)

// The clips, the output, the overlay widgets and the control objects, named
// cN after the host control N they mirror.
class TidewrightInfo {
 public:
  SourceQ4 Input;    // "1: Flow Clip"
  SourceQ4 BackG;    // "2: BackGround"
  SourceQ4 Alt;      // "3: Alt Clip"
  SourceQ4 Sources;  // "4: Sources Clip"
  SourceQ4 Sinks;    // "5: Sinks Clip"
  SourceQ4 Barrier;  // "6: Barrier Clip"
  ResultQ4 Result;

  CrosshairOverlayQ4 wind1_start_widget;
  CrosshairOverlayQ4 wind1_end_widget;
  LineOverlayQ4 wind1_line_widget;
  CrosshairOverlayQ4 wind2_start_widget;
  CrosshairOverlayQ4 wind2_end_widget;
  LineOverlayQ4 wind2_line_widget;
  CrosshairOverlayQ4 wind3_start_widget;
  CrosshairOverlayQ4 wind3_end_widget;
  LineOverlayQ4 wind3_line_widget;
  CrosshairOverlayQ4 vortex1_centre_widget;
  CircleOverlayQ4 vortex1_radius_widget;
  CrosshairOverlayQ4 vortex2_centre_widget;
  CircleOverlayQ4 vortex2_radius_widget;
  CrosshairOverlayQ4 vortex3_centre_widget;
  CircleOverlayQ4 vortex3_radius_widget;
  CrosshairOverlayQ4 region_a_centre_widget;
  RectangleOverlayQ4 region_a_widget;
  AngleOverlayQ4 region_a_direction_widget;
  CrosshairOverlayQ4 region_b_centre_widget;
  RectangleOverlayQ4 region_b_widget;
  AngleOverlayQ4 region_b_direction_widget;
  AngleOverlayQ4 gravity_direction_widget;

  TIDEWRIGHT_CONTROLS(TIDEWRIGHT_MEMBER)
};

class Tidewright : public PluginQ4, public TidewrightInfo, public OverlayQ4 {
 public:
  // Shows the controls that matter for the current values and hides the
  // rest, every rule in a fixed order (frame 0).
  void SyncControls() override;

  // Start-up: every mirrored object learns its control number, host
  // record(s) and auxiliary record.
  void BindControls();
  // Each frame: every bound value object takes its control's host value in
  // effect units (positions and sizes / 100, lists 1-based).
  void LoadControls();

  // The show/hide rules, each applied to the group its checkbox or list
  // governs.
  void WindOnACB(ControlQ4& control, double frame);
  void VortexOnACB(ControlQ4& control, double frame);
  void UseDiffCB(ControlQ4& control, double frame);
  void UseDissCB(ControlQ4& control, double frame);
  void UseVelocityACB(ControlQ4& control, double frame);
  void UseVelocityBCB(ControlQ4& control, double frame);
  void UseBarriersCB(ControlQ4& control, double frame);
  void UseGravityCB(ControlQ4& control, double frame);
  void BuoyModeCB(ControlQ4& control, double frame);
  void RandomModeCB(ControlQ4& control, double frame);
  void SinkModeCB(ControlQ4& control, double frame);
  void SourceModeCB(ControlQ4& control, double frame);

  // Non-zero: the next frame rebuilds the simulation.
  unsigned char restart = 1;
};

// The one effect object, built when the library is loaded.
extern Tidewright Instance;

#endif
