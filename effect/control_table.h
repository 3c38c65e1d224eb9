#ifndef TIDEWRIGHT_CONTROL_TABLE_H
#define TIDEWRIGHT_CONTROL_TABLE_H

// Every control of the effect, once. The host records, their auxiliary
// records, the control objects of TidewrightInfo (in this order), their
// binding at start-up, the per-frame load, the control callbacks and the
// Reset buttons' defaults are all expanded from this one table, so they
// cannot drift apart.
//
// X(number, record, object, member, page, default, min, max, step, flags,
//   title, callback, form, rule)
//   record  the host record kind: SparkFloat<N> ... (Float, UserFloat, Int,
//           Boolean, Pup, Push, String), or None for an object the host
//           does not see
//   object  the control object class (Float, Angle, Size, Position, Integer,
//           List, Checkbox, Button); PositionY for the Y record of the
//           position whose X object is `member`; None for a record no
//           object mirrors. The auxiliary record AuxQ4<object><N> follows
//           from it (buttons have none; a position's lies under its X).
//   title   the title format; for a list the macro of its items
//   callback the function the host calls when the control changes (a
//           position's Y record calls its X's)
//   form    the steps of the generated callback dlcb_<N> this row defines
//           (control_callbacks.cpp): FormV a value, FormX / FormXM a
//           checkbox, FormL / FormLM a list, FormB a Restart button; None
//           for a row that defines no dlcb_<N>
//   rule    the member callback of Tidewright a form ending in M or FormB
//           runs, else none
//
// Pages: page p holds the numbers 6 + 29p to 34 + 29p.

#define TIDEWRIGHT_CONTROLS(X)                                                                             \
  /* page 0 "Tidewright" */                                                                                \
  X(7, Float, Float, c7, 0, 0.01, 0.00001, 1, 0.01, 0, "Viscosity: %.3f", dlcb_7, FormV, none)             \
  X(8, Float, Float, c8, 0, 0, 0, 1, 0.001, 0, "Swirl: %.3f", dlcb_8, FormV, none)                         \
  X(23, Boolean, Checkbox, c23, 0, 0, 0, 0, 0, 0, "Use Diffusion   ", dlcb_23, FormXM, UseDiffCB)          \
  X(24, Float, Float, c24, 0, 0, 0, 1, 0.001, 0, "Diffusion: %.3f", dlcb_24, FormV, none)                  \
  X(20, Boolean, Checkbox, c20, 0, 0, 0, 0, 0, 0, "Use Dissipation   ", dlcb_20, FormXM, UseDissCB)        \
  X(21, Int, Integer, c21, 0, 50, 2, 1000, 1, 0, "Dissipation Frames: %d", dlcb_21, FormV, none)           \
  X(22, Float, Float, c22, 0, 1, 0.01, 99.99, 0.01, 0, "Percent Left: %.2f", dlcb_22, FormV, none)         \
  X(18, Boolean, Checkbox, c18, 0, 0, 0, 0, 0, 0, "Finer Grid   ", dlcb_18, FormX, none)                   \
  X(19, Boolean, Checkbox, c19, 0, 1, 0, 0, 0, 0, "Edge Escape   ", dlcb_19, FormX, none)                  \
  X(10, Pup, List, c10, 0, 1, 0, 0, 0, 0, TIDEWRIGHT_ITEMS_BUOYANCY, dlcb_10, FormLM, BuoyModeCB)          \
  X(12, Float, Float, c12, 0, 0.1, 0, 1, 0.001, 0, "Pressure Force: %.3f", dlcb_12, FormV, none)           \
  X(11, Float, Float, c11, 0, 1, -10, 10, 0.01, 0, "RiseFall: %.3f", dlcb_11, FormV, none)                 \
  X(14, Pup, List, c14, 0, 0, 0, 0, 0, 0, TIDEWRIGHT_ITEMS_RANDOM, dlcb_14, FormLM, RandomModeCB)          \
  X(15, Float, Float, c15, 0, 0, 0, 1, 0.001, 8, "InitialRandom: %.3f", dlcb_15, FormV, none)              \
  X(16, Float, Float, c16, 0, 0, 0, 1, 0.001, 0, "EachRandom: %.3f", dlcb_16, FormV, none)                 \
  X(17, Float, Float, c17, 0, 16, 2, 30, 0.1, 0, "Eddy Size: %.3f", dlcb_17, FormV, none)                  \
  X(66, Pup, List, c66, 2, 0, 0, 0, 0, 0, TIDEWRIGHT_ITEMS_SOURCE, dlcb_66, FormLM, SourceModeCB)          \
  X(67, Float, Float, c67, 2, 0, 0, 1, 0.01, 0, "Source Strength: %.2f", dlcb_67, FormV, none)             \
  X(68, Pup, List, c68, 2, 0, 0, 0, 0, 0, TIDEWRIGHT_ITEMS_SINK, dlcb_68, FormLM, SinkModeCB)              \
  X(69, Float, Float, c69, 2, 0, -1, 1, 0.01, 0, "Sink Strength: %.2f", dlcb_69, FormV, none)              \
  X(29, Pup, List, c29, 0, 0, 0, 0, 0, 0, TIDEWRIGHT_ITEMS_OUTPUT, dlcb_29, FormL, none)                   \
  X(30, Boolean, Checkbox, c30, 0, 0, 0, 0, 0, 0, "PreMultiplyForeground   ", dlcb_30, FormX, none)        \
  X(13, Boolean, Checkbox, c13, 0, 0, 0, 0, 0, 0, "Restart On Process   ", dlcb_13, FormXM, RestartPCB)    \
  /* the restart buttons and two buttons the host does not see */                                          \
  X(6, Push, Button, c6, 0, 0, 0, 0, 0, 0, "Restart   ", dlcb_6, FormB, RestartCB)                         \
  X(35, Push, Button, c35, 1, 0, 0, 0, 0, 0, "Restart   ", dlcb_35, FormB, RestartCB)                      \
  X(64, Push, Button, c64, 2, 0, 0, 0, 0, 0, "Restart   ", dlcb_64, FormB, RestartCB)                      \
  X(0, None, Button, spare_button1, -1, 0, 0, 0, 0, 0, nullptr, nullptr, None, none)                       \
  X(0, None, Button, spare_button2, -1, 0, 0, 0, 0, 0, nullptr, nullptr, None, none)                       \
  /* forces */                                                                                             \
  X(56, Boolean, Checkbox, c56, 1, 0, 0, 0, 0, 0, "Remove Net Force   ", dlcb_56, FormX, none)             \
  X(36, Boolean, Checkbox, c36, 1, 0, 0, 0, 0, 0, "Use Barriers   ", dlcb_36, FormXM, UseBarriersCB)       \
  X(37, Pup, List, c37, 1, 0, 0, 0, 0, 0, TIDEWRIGHT_ITEMS_BOUNDARY, dlcb_37, FormL, none)                 \
  X(38, Boolean, Checkbox, c38, 1, 0, 0, 0, 0, 0, "Use Gravity   ", dlcb_38, FormXM, UseGravityCB)         \
  X(39, Float, Float, c39, 1, 0.1, 0, 1, 0.01, 0, "GravForce: %.3f", dlcb_39, FormV, none)                 \
  X(40, Float, Angle, c40, 1, 270, -360, 360, 0.05, 0, "Gravity Direction: %.2f", dlcb_40, FormV, none)    \
  /* velocity region A */                                                                                  \
  X(42, Boolean, Checkbox, c42, 1, 0, 0, 0, 0, 0, "Use Velocity A   ", dlcb_42, FormXM, UseVelocityACB)    \
  X(43, Float, Position, c43, 1, 2, -100, 200, 0.05, 0, "Centre A X: %.2f", dlcb_43, FormV, none)          \
  X(44, Float, PositionY, c43, 1, 50, -100, 200, 0.05, 0, "Centre A Y: %.2f", dlcb_43, None, none)         \
  X(45, Float, Size, c45, 1, 8, 1, 200, 0.05, 0, "Scale A X: %.2f", dlcb_45, FormV, none)                  \
  X(46, Float, Size, c46, 1, 8, 1, 200, 0.05, 0, "Scale A Y: %.2f", dlcb_46, FormV, none)                  \
  X(47, Float, Angle, c47, 1, 0, -360, 360, 0.05, 0, "Velocity A Direction: %.2f", dlcb_47, FormV, none)   \
  X(48, Float, Float, c48, 1, 0.5, 0, 1, 0.001, 0, "Vel Add A: %.3f", dlcb_48, FormV, none)                \
  /* velocity region B */                                                                                  \
  X(49, Boolean, Checkbox, c49, 1, 0, 0, 0, 0, 0, "Use Velocity B   ", dlcb_49, FormXM, UseVelocityBCB)    \
  X(50, Float, Position, c50, 1, 62, -100, 200, 0.05, 0, "Centre B X: %.2f", dlcb_50, FormV, none)         \
  X(51, Float, PositionY, c50, 1, 20, -100, 200, 0.05, 0, "Centre B Y: %.2f", dlcb_50, None, none)         \
  X(52, Float, Size, c52, 1, 8, 1, 200, 0.05, 0, "Scale A B: %.2f", dlcb_52, FormV, none)                  \
  X(53, Float, Size, c53, 1, 8, 1, 200, 0.05, 0, "Scale B Y: %.2f", dlcb_53, FormV, none)                  \
  X(54, Float, Angle, c54, 1, 270, -360, 360, 0.05, 0, "Velocity B Direction: %.2f", dlcb_54, FormV, none) \
  X(55, Float, Float, c55, 1, 0.5, 0, 1, 0.001, 0, "Vel Add B: %.3f", dlcb_55, FormV, none)                \
  /* wind 1 */                                                                                             \
  X(71, Boolean, Checkbox, c71, 2, 0, 0, 0, 0, 0, "Use Wind 1   ", dlcb_71, FormXM, WindOnACB)             \
  X(72, Float, Position, c72, 2, 0, -50, 150, 0.05, 0, "Wind 1 Start X: %.2f", dlcb_72, FormV, none)       \
  X(73, Float, PositionY, c72, 2, 0, -50, 150, 0.05, 0, "Wind 1 Start Y: %.2f", dlcb_72, None, none)       \
  X(74, Float, Position, c74, 2, 50, -50, 150, 0.05, 0, "Wind 1 End X: %.2f", dlcb_74, FormV, none)        \
  X(75, Float, PositionY, c74, 2, 50, -50, 150, 0.05, 0, "Wind 1 End Y: %.2f", dlcb_74, None, none)        \
  X(76, Float, Float, c76, 2, 0.1, 0, 1, 0.001, 0, "Wind 1 Strength: %.3f", dlcb_76, FormV, none)          \
  X(77, Float, Float, c77, 2, 1, 0, 200, 0.1, 0, "Wind 1 Tight: %.2f", dlcb_77, FormV, none)               \
  X(65, Boolean, Checkbox, c65, 2, 1, 0, 0, 0, 0, "Wind 1 Local   ", dlcb_65, FormX, none)                 \
  /* winds 2 and 3: objects only */                                                                        \
  X(0, None, Checkbox, wind2_on, -1, 0, 0, 0, 0, 0, nullptr, nullptr, None, none)                          \
  X(0, None, Position, wind2_start, -1, 0, 0, 0, 0, 0, nullptr, nullptr, None, none)                       \
  X(0, None, Position, wind2_end, -1, 0, 0, 0, 0, 0, nullptr, nullptr, None, none)                         \
  X(0, None, Float, wind2_strength, -1, 0, 0, 0, 0, 0, nullptr, nullptr, None, none)                       \
  X(0, None, Float, wind2_tight, -1, 0, 0, 0, 0, 0, nullptr, nullptr, None, none)                          \
  X(0, None, Checkbox, wind2_local, -1, 0, 0, 0, 0, 0, nullptr, nullptr, None, none)                       \
  X(0, None, Checkbox, wind3_on, -1, 0, 0, 0, 0, 0, nullptr, nullptr, None, none)                          \
  X(0, None, Position, wind3_start, -1, 0, 0, 0, 0, 0, nullptr, nullptr, None, none)                       \
  X(0, None, Position, wind3_end, -1, 0, 0, 0, 0, 0, nullptr, nullptr, None, none)                         \
  X(0, None, Float, wind3_strength, -1, 0, 0, 0, 0, 0, nullptr, nullptr, None, none)                       \
  X(0, None, Float, wind3_tight, -1, 0, 0, 0, 0, 0, nullptr, nullptr, None, none)                          \
  X(0, None, Checkbox, wind3_local, -1, 0, 0, 0, 0, 0, nullptr, nullptr, None, none)                       \
  /* vortex 1 */                                                                                           \
  X(78, Boolean, Checkbox, c78, 2, 0, 0, 0, 0, 0, "Use Vortex1   ", dlcb_78, FormXM, VortexOnACB)          \
  X(79, Float, Position, c79, 2, 33.3, -50, 150, 0.05, 0, "Vortex 1 Center X: %.2f", dlcb_79, FormV, none) \
  X(80, Float, PositionY, c79, 2, 50, -50, 150, 0.05, 0, "Vortex 1 Center Y: %.2f", dlcb_79, None, none)   \
  X(81, Float, Size, c81, 2, 10, 0.1, 200, 0.05, 0, "Vortex 1 Radius: %.2f", dlcb_81, FormV, none)         \
  X(82, Float, Float, c82, 2, 0.1, -1, 1, 0.001, 0, "Vortex 1 Strength: %.3f", dlcb_82, FormV, none)       \
  /* vortices 2 and 3: objects only */                                                                     \
  X(0, None, Checkbox, vortex2_on, -1, 0, 0, 0, 0, 0, nullptr, nullptr, None, none)                        \
  X(0, None, Position, vortex2_centre, -1, 0, 0, 0, 0, 0, nullptr, nullptr, None, none)                    \
  X(0, None, Size, vortex2_radius, -1, 0, 0, 0, 0, 0, nullptr, nullptr, None, none)                        \
  X(0, None, Float, vortex2_strength, -1, 0, 0, 0, 0, 0, nullptr, nullptr, None, none)                     \
  X(0, None, Checkbox, vortex3_on, -1, 0, 0, 0, 0, 0, nullptr, nullptr, None, none)                        \
  X(0, None, Position, vortex3_centre, -1, 0, 0, 0, 0, 0, nullptr, nullptr, None, none)                    \
  X(0, None, Size, vortex3_radius, -1, 0, 0, 0, 0, 0, nullptr, nullptr, None, none)                        \
  X(0, None, Float, vortex3_strength, -1, 0, 0, 0, 0, 0, nullptr, nullptr, None, none)                     \
  /* the common controls of each page; page 0 alone has Blend */                                           \
  X(27, Float, None, none, 0, 0, 0, 100, 0.1, 0, "Blend: %.2f", Blend1CB, None, none)                      \
  X(28, Boolean, None, none, 0, 0, 0, 0, 0, 0, "Clear Overlay", Overlay1CB, None, none)                    \
  X(31, Push, None, none, 0, 0, 0, 0, 0, 0, "Help", HelpCB, None, none)                                    \
  X(32, Push, None, none, 0, 0, 0, 0, 0, 0, "Reset", Reset1CB, None, none)                                 \
  X(33, Pup, None, none, 0, 0, 0, 0, 0, 0, TIDEWRIGHT_ITEMS_RESOLUTION, SetRes1CB, None, none)             \
  X(34, Boolean, None, none, 0, 1, 0, 0, 0, 0, "Auto Preview", Auto1CB, None, none)                        \
  X(57, Boolean, None, none, 1, 0, 0, 0, 0, 0, "Clear Overlay", Overlay2CB, None, none)                    \
  X(60, Push, None, none, 1, 0, 0, 0, 0, 0, "Help", HelpCB, None, none)                                    \
  X(61, Push, None, none, 1, 0, 0, 0, 0, 0, "Reset", Reset2CB, None, none)                                 \
  X(62, Pup, None, none, 1, 0, 0, 0, 0, 0, TIDEWRIGHT_ITEMS_RESOLUTION, SetRes2CB, None, none)             \
  X(63, Boolean, None, none, 1, 1, 0, 0, 0, 0, "Auto Preview", Auto2CB, None, none)                        \
  X(86, Boolean, None, none, 2, 0, 0, 0, 0, 0, "Clear Overlay", Overlay3CB, None, none)                    \
  X(89, Push, None, none, 2, 0, 0, 0, 0, 0, "Help", HelpCB, None, none)                                    \
  X(90, Push, None, none, 2, 0, 0, 0, 0, 0, "Reset", Reset3CB, None, none)                                 \
  X(91, Pup, None, none, 2, 0, 0, 0, 0, 0, TIDEWRIGHT_ITEMS_RESOLUTION, SetRes3CB, None, none)             \
  X(92, Boolean, None, none, 2, 1, 0, 0, 0, 0, "Auto Preview", Auto3CB, None, none)                        \
  /* page 3 "Import AIFF": the curve the amplitude import keys */                                          \
  X(93, UserFloat, None, none, 3, 0, -1000, 1000, 0.001, 0, "Amplitude Import: %.1f", nullptr, None, none) \
  X(114, Push, None, none, 3, 0, 0, 0, 0, 0, "Import Amplitude File", import_aiff_CB, None, none)          \
  /* the clip names */                                                                                     \
  X(0, String, None, none, -1, 0, 0, 0, 0, 16, "1: Flow Clip", nullptr, None, none)                        \
  X(1, String, None, none, -1, 0, 0, 0, 0, 16, "2: BackGround", nullptr, None, none)                       \
  X(2, String, None, none, -1, 0, 0, 0, 0, 16, "3: Alt Clip", nullptr, None, none)                         \
  X(3, String, None, none, -1, 0, 0, 0, 0, 16, "4: Sources Clip", nullptr, None, none)                     \
  X(4, String, None, none, -1, 0, 0, 0, 0, 16, "5: Sinks Clip", nullptr, None, none)                       \
  X(5, String, None, none, -1, 0, 0, 0, 0, 16, "6: Barrier Clip", nullptr, None, none)

// The controls the frame driver reads, named after their titles:
// N(name, member). TidewrightInfo gives each name as an accessor of the
// member, so code reads a control by what it means. "Viscosity", "Source
// Strength" and "Sink Strength" already name the values the effect works
// out from them; their controls are the "_setting".
#define TIDEWRIGHT_CONTROL_NAMES(N)         \
  /* page 0 */                              \
  N(viscosity_setting, c7)                  \
  N(swirl, c8)                              \
  N(diffusion, c24)                         \
  N(use_dissipation, c20)                   \
  N(dissipation_frames, c21)                \
  N(percent_left, c22)                      \
  N(finer_grid, c18)                        \
  N(edge_escape, c19)                       \
  N(buoyancy_mode, c10)                     \
  N(pressure_force, c12)                    \
  N(rise_fall, c11)                         \
  N(random_force, c14)                      \
  N(initial_random, c15)                    \
  N(each_random, c16)                       \
  N(eddy_size, c17)                         \
  N(output_choice, c29)                     \
  N(premultiply_foreground, c30)            \
  N(restart_on_process, c13)                \
  /* forces */                              \
  N(remove_net_force, c56)                  \
  N(use_barriers, c36)                      \
  N(boundary_layer, c37)                    \
  N(use_gravity, c38)                       \
  N(gravity_force, c39)                     \
  N(gravity_direction, c40)                 \
  N(use_velocity_a, c42)                    \
  N(centre_a, c43)                          \
  N(scale_a_x, c45)                         \
  N(scale_a_y, c46)                         \
  N(velocity_a_direction, c47)              \
  N(vel_add_a, c48)                         \
  N(use_velocity_b, c49)                    \
  N(centre_b, c50)                          \
  N(scale_b_x, c52)                         \
  N(scale_b_y, c53)                         \
  N(velocity_b_direction, c54)              \
  N(vel_add_b, c55)                         \
  /* sources, sinks, wind 1 and vortex 1 */ \
  N(source_mode, c66)                       \
  N(source_strength_setting, c67)           \
  N(sink_mode, c68)                         \
  N(sink_strength_setting, c69)             \
  N(use_wind1, c71)                         \
  N(wind1_start, c72)                       \
  N(wind1_end, c74)                         \
  N(wind1_strength, c76)                    \
  N(wind1_tight, c77)                       \
  N(wind1_local, c65)                       \
  N(use_vortex1, c78)                       \
  N(vortex1_centre, c79)                    \
  N(vortex1_radius, c81)                    \
  N(vortex1_strength, c82)

// List items: I(name prefix, item). The host shows prefix and item; the
// auxiliary record keeps the item alone.
#define TIDEWRIGHT_ITEMS_BUOYANCY(I)                                                   \
  I("Buoyancy Mode: ", "None  ") I("Buoyancy Mode: ", "Input Luma  ")                  \
  I("Buoyancy Mode: ", "Alt Luma  ") I("Buoyancy Mode: ", "Pressure Input  ")          \
  I("Buoyancy Mode: ", "Pressure Alt  ")
#define TIDEWRIGHT_ITEMS_RANDOM(I) I("Random Force: ", "Type 1  ") I("Random Force: ", "Type 2  ")
#define TIDEWRIGHT_ITEMS_OUTPUT(I)                                                     \
  I("Output: ", "Result  ") I("Output: ", "Result Over Background  ")                  \
  I("Output: ", "Matte  ") I("Output: ", "Flowed At Grid Res  ") I("Output: ", "Grid  ") \
  I("Output: ", "Barriers  ")
#define TIDEWRIGHT_ITEMS_BOUNDARY(I)                                                   \
  I("BoundaryLayer: ", "Slippery  ") I("BoundaryLayer: ", "Rough  ")                   \
  I("BoundaryLayer: ", "Sticky  ")
#define TIDEWRIGHT_ITEMS_SOURCE(I)                                                     \
  I("Source Mode: ", "No Source  ") I("Source Mode: ", "Self Source  ")                \
  I("Source Mode: ", "Source Clip  ")
#define TIDEWRIGHT_ITEMS_SINK(I)                                                       \
  I("Sink Mode: ", "No Sink  ") I("Sink Mode: ", "Self Sink  ") I("Sink Mode: ", "Sink Clip  ")
#define TIDEWRIGHT_ITEMS_RESOLUTION(I)                                                 \
  I("", "FULL") I("", "1/2") I("", "1/3") I("", "1/4") I("", "1/6") I("", "1/8")       \
  I("", "1/12") I("", "1/16") I("", "1/32")

#endif
