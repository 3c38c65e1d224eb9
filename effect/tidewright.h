#ifndef TIDEWRIGHT_H
#define TIDEWRIGHT_H

// The effect object: everything that lives between host calls.

#include <array>

#include "ControlQ4.h"
#include "ImageQ4.h"
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
                          callback, form, rule)                                               \
  TIDEWRIGHT_MEMBER_##object(member)
#define TIDEWRIGHT_NAMED(name, member) decltype(member)& name() { return member; }

// The clips, the output, the overlay widgets and the control objects, named
// cN after the host control N they mirror; the ones the frame reads are
// named after their titles as well (TIDEWRIGHT_CONTROL_NAMES).
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
  TIDEWRIGHT_CONTROL_NAMES(TIDEWRIGHT_NAMED)
};

// Every control object mirroring a host control, in table order, handed
// to `visit` by its own class (a position once, under its X row).
#define TIDEWRIGHT_VISIT_OBJECT_None(member)
#define TIDEWRIGHT_VISIT_OBJECT_PositionY(member)
#define TIDEWRIGHT_VISIT_OBJECT_BOUND(member) visit(member);
#define TIDEWRIGHT_VISIT_OBJECT_Float TIDEWRIGHT_VISIT_OBJECT_BOUND
#define TIDEWRIGHT_VISIT_OBJECT_Angle TIDEWRIGHT_VISIT_OBJECT_BOUND
#define TIDEWRIGHT_VISIT_OBJECT_Size TIDEWRIGHT_VISIT_OBJECT_BOUND
#define TIDEWRIGHT_VISIT_OBJECT_Position TIDEWRIGHT_VISIT_OBJECT_BOUND
#define TIDEWRIGHT_VISIT_OBJECT_Integer TIDEWRIGHT_VISIT_OBJECT_BOUND
#define TIDEWRIGHT_VISIT_OBJECT_List TIDEWRIGHT_VISIT_OBJECT_BOUND
#define TIDEWRIGHT_VISIT_OBJECT_Checkbox TIDEWRIGHT_VISIT_OBJECT_BOUND
#define TIDEWRIGHT_VISIT_OBJECT_Button TIDEWRIGHT_VISIT_OBJECT_BOUND
// A row without a host record mirrors nothing, whatever its object.
#define TIDEWRIGHT_VISIT_None(object, member)
#define TIDEWRIGHT_VISIT_RECORD(object, member) TIDEWRIGHT_VISIT_OBJECT_##object(member)
#define TIDEWRIGHT_VISIT_Float TIDEWRIGHT_VISIT_RECORD
#define TIDEWRIGHT_VISIT_UserFloat TIDEWRIGHT_VISIT_RECORD
#define TIDEWRIGHT_VISIT_Int TIDEWRIGHT_VISIT_RECORD
#define TIDEWRIGHT_VISIT_Boolean TIDEWRIGHT_VISIT_RECORD
#define TIDEWRIGHT_VISIT_Pup TIDEWRIGHT_VISIT_RECORD
#define TIDEWRIGHT_VISIT_Push TIDEWRIGHT_VISIT_RECORD
#define TIDEWRIGHT_VISIT_String TIDEWRIGHT_VISIT_RECORD
#define TIDEWRIGHT_VISIT(n, record, object, member, page, def, low, high, step, flags, title, \
                         callback, form, rule)                                               \
  TIDEWRIGHT_VISIT_##record(object, member)

class FluidFlow;

class Tidewright : public PluginQ4, public TidewrightInfo, public OverlayQ4 {
 public:
  Tidewright() = default;
  ~Tidewright() override;
  Tidewright(const Tidewright&) = delete;
  Tidewright& operator=(const Tidewright&) = delete;

  // One frame of the flow: the rates of this frame's controls, a new
  // simulation when a restart is due, the forces, one time step, the chosen
  // output into the Result image and the sources and sinks for the next
  // frame. Reads only the inputs the frame entry converted for it.
  void ProcessFrame() override;
  // Frees the simulation and the texture image; the next frame builds them
  // afresh.
  void DropSimulation();
  // Shows the controls that matter for the current values and hides the
  // rest, every rule in a fixed order (frame 0).
  void SyncControls() override;

  // Start-up: every mirrored object learns its control number, host
  // record(s) and auxiliary record.
  void BindControls();
  // Each frame: every bound value object takes its control's host value in
  // effect units (positions and sizes / 100, lists 1-based).
  void LoadControls();
  // Before a draw: the same for every bound object but the checkboxes and
  // lists, which keep what the last frame or callback left in them.
  void LoadNumericControls();
  // Sync on every bound object (a position's and a button's do nothing).
  void SyncControlObjects();
  template <typename Visit>
  void VisitBoundControls(Visit visit) {
    TIDEWRIGHT_CONTROLS(TIDEWRIGHT_VISIT)
  }

  // The member callbacks of the controls. RestartCB asks for a restart;
  // RestartPCB asks for one while "Restart On Process" is ticked; the rest
  // show the controls a feature needs while it is on and hide them
  // otherwise (SyncControls applies them all).
  void RestartCB(ControlQ4& control, double frame);
  void RestartPCB(ControlQ4& control, double frame);
  void WindOnACB(ControlQ4& control, double frame);
  void WindOnBCB(ControlQ4& control, double frame);
  void WindOnCCB(ControlQ4& control, double frame);
  void VortexOnACB(ControlQ4& control, double frame);
  void VortexOnBCB(ControlQ4& control, double frame);
  void VortexOnCCB(ControlQ4& control, double frame);
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

  // The viewer. Draws the enabled widgets of wind 1, vortex 1, the velocity
  // regions and gravity at the view fields of the OverlayQ4 base, each
  // placed from its control objects.
  void RenderOverlay() override;
  // One pen event in view units for the widgets; wind 1 and vortex 1 take it
  // only while shown, the others always.
  void HandleInteraction(InterType kind, float x, float y) override;
  // The twelve drawn widgets' host controls, owner and colours.
  void BindWidgets();
  // Makes the twelve drawn widgets' handles lie nowhere, so that no press
  // picks a widget before it has been drawn.
  void ForgetWidgetHandles();
  // The twelve drawn widgets in the order pen events reach them.
  std::array<OverlayControlQ4*, 12> DrawnWidgets();

  // The simulation state. Sizes and slots are -1 until the first restart;
  // the barrier slot keeps its number across restarts made without
  // barriers (it then names no field, and what takes it does nothing).
  int current_width = -1, current_height = -1;
  int restart_width = -1, restart_height = -1;
  int grid_width = -1, grid_height = -1;
  int density_field = -1, temperature_field = -1, barrier_field = -1;
  // The picture carried along by the flow from frame to frame, and its
  // next self, which the resampling writes beside the result: the two
  // change places instead of the result being copied back, a pass over
  // the whole frame that no band count speeds up.
  ImageQ4* texture = nullptr;
  ImageQ4* next_texture = nullptr;
  float texture_diffusion_rate = 0.0f;
  float texture_dissipation_rate = 0.0f;
  float source_strength = 0.0f;
  float sink_strength = 0.0f;
  float viscosity = 0.0f;
  int random_type = 0;  // of "Random Force", latched at the last restart
  FluidFlow* simulation = nullptr;
  // Non-zero: the next frame rebuilds the simulation.
  unsigned char restart = 1;
  // Set by ProcessFrame when memory ran out before the frame was made:
  // the frame is refused and the next one restarts.
  bool frame_failed = false;

 private:
  bool Restart();
  void AddForces();
  bool Step();
  bool Output();
  bool AddSourcesAndSinks();
};

// The one effect object, built when the library is loaded.
extern Tidewright Instance;

#endif
