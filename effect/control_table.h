#ifndef TIDEWRIGHT_CONTROL_TABLE_H
#define TIDEWRIGHT_CONTROL_TABLE_H

// Every control of the effect, once. The host records, their auxiliary
// records, the control objects of TidewrightInfo (in this order), their
// binding at start-up and the per-frame load are all expanded from this one
// table, so they cannot drift apart.
//
// X(number, record, object, member, page, default, min, max, step, flags,
//   title, callback)
//   record  the host record kind: SparkFloat<N> ... (Float, UserFloat, Int,
//           Boolean, Pup, Push, String), or None for an object the host
//           does not see
//   object  the control object class (Float, Angle, Size, Position, Integer,
//           List, Checkbox, Button); PositionY for the Y record of the
//           position whose X object is `member`; None for a record no
//           object mirrors. The auxiliary record AuxQ4<object><N> follows
//           from it (buttons have none; a position's lies under its X).
//   title   the title format; for a list the macro of its items
//
// Pages: page p holds the numbers 6 + 29p to 34 + 29p.

#define TIDEWRIGHT_CONTROLS(X)                                                                   \
  /* page 0 "Tidewright" */                                                                      \
  X(7, Float, Float, c7, 0, 0.01, 0.00001, 1, 0.01, 0, "Viscosity: %.3f", nullptr)               \
  X(8, Float, Float, c8, 0, 0, 0, 1, 0.001, 0, "Swirl: %.3f", nullptr)                           \
  X(23, Boolean, Checkbox, c23, 0, 0, 0, 0, 0, 0, "Use Diffusion   ", nullptr)                   \
  X(24, Float, Float, c24, 0, 0, 0, 1, 0.001, 0, "Diffusion: %.3f", nullptr)                     \
  X(20, Boolean, Checkbox, c20, 0, 0, 0, 0, 0, 0, "Use Dissipation   ", nullptr)                 \
  X(21, Int, Integer, c21, 0, 50, 2, 1000, 1, 0, "Dissipation Frames: %d", nullptr)              \
  X(22, Float, Float, c22, 0, 1, 0.01, 99.99, 0.01, 0, "Percent Left: %.2f", nullptr)            \
  X(18, Boolean, Checkbox, c18, 0, 0, 0, 0, 0, 0, "Finer Grid   ", nullptr)                      \
  X(19, Boolean, Checkbox, c19, 0, 1, 0, 0, 0, 0, "Edge Escape   ", nullptr)                     \
  X(10, Pup, List, c10, 0, 1, 0, 0, 0, 0, TIDEWRIGHT_ITEMS_BUOYANCY, nullptr)                    \
  X(12, Float, Float, c12, 0, 0.1, 0, 1, 0.001, 0, "Pressure Force: %.3f", nullptr)              \
  X(11, Float, Float, c11, 0, 1, -10, 10, 0.01, 0, "RiseFall: %.3f", nullptr)                    \
  X(14, Pup, List, c14, 0, 0, 0, 0, 0, 0, TIDEWRIGHT_ITEMS_RANDOM, nullptr)                      \
  X(15, Float, Float, c15, 0, 0, 0, 1, 0.001, 8, "InitialRandom: %.3f", nullptr)                 \
  X(16, Float, Float, c16, 0, 0, 0, 1, 0.001, 0, "EachRandom: %.3f", nullptr)                    \
  X(17, Float, Float, c17, 0, 16, 2, 30, 0.1, 0, "Eddy Size: %.3f", nullptr)                     \
  X(66, Pup, List, c66, 2, 0, 0, 0, 0, 0, TIDEWRIGHT_ITEMS_SOURCE, nullptr)                      \
  X(67, Float, Float, c67, 2, 0, 0, 1, 0.01, 0, "Source Strength: %.2f", nullptr)                \
  X(68, Pup, List, c68, 2, 0, 0, 0, 0, 0, TIDEWRIGHT_ITEMS_SINK, nullptr)                        \
  X(69, Float, Float, c69, 2, 0, -1, 1, 0.01, 0, "Sink Strength: %.2f", nullptr)                 \
  X(29, Pup, List, c29, 0, 0, 0, 0, 0, 0, TIDEWRIGHT_ITEMS_OUTPUT, nullptr)                      \
  X(30, Boolean, Checkbox, c30, 0, 0, 0, 0, 0, 0, "PreMultiplyForeground   ", nullptr)           \
  X(13, Boolean, Checkbox, c13, 0, 0, 0, 0, 0, 0, "Restart On Process   ", nullptr)              \
  /* the restart buttons and two buttons the host does not see */                               \
  X(6, Push, Button, c6, 0, 0, 0, 0, 0, 0, "Restart   ", nullptr)                                 \
  X(35, Push, Button, c35, 1, 0, 0, 0, 0, 0, "Restart   ", nullptr)                                \
  X(64, Push, Button, c64, 2, 0, 0, 0, 0, 0, "Restart   ", nullptr)                                \
  X(0, None, Button, spare_button1, -1, 0, 0, 0, 0, 0, nullptr, nullptr)                         \
  X(0, None, Button, spare_button2, -1, 0, 0, 0, 0, 0, nullptr, nullptr)                         \
  /* forces */                                                                                   \
  X(56, Boolean, Checkbox, c56, 1, 0, 0, 0, 0, 0, "Remove Net Force   ", nullptr)                \
  X(36, Boolean, Checkbox, c36, 1, 0, 0, 0, 0, 0, "Use Barriers   ", nullptr)                    \
  X(37, Pup, List, c37, 1, 0, 0, 0, 0, 0, TIDEWRIGHT_ITEMS_BOUNDARY, nullptr)                    \
  X(38, Boolean, Checkbox, c38, 1, 0, 0, 0, 0, 0, "Use Gravity   ", nullptr)                     \
  X(39, Float, Float, c39, 1, 0.1, 0, 1, 0.01, 0, "GravForce: %.3f", nullptr)                    \
  X(40, Float, Angle, c40, 1, 270, -360, 360, 0.05, 0, "Gravity Direction: %.2f", nullptr)       \
  /* velocity region A */                                                                        \
  X(42, Boolean, Checkbox, c42, 1, 0, 0, 0, 0, 0, "Use Velocity A   ", nullptr)                  \
  X(43, Float, Position, c43, 1, 2, -100, 200, 0.05, 0, "Centre A X: %.2f", nullptr)             \
  X(44, Float, PositionY, c43, 1, 50, -100, 200, 0.05, 0, "Centre A Y: %.2f", nullptr)           \
  X(45, Float, Size, c45, 1, 8, 1, 200, 0.05, 0, "Scale A X: %.2f", nullptr)                     \
  X(46, Float, Size, c46, 1, 8, 1, 200, 0.05, 0, "Scale A Y: %.2f", nullptr)                     \
  X(47, Float, Angle, c47, 1, 0, -360, 360, 0.05, 0, "Velocity A Direction: %.2f", nullptr)      \
  X(48, Float, Float, c48, 1, 0.5, 0, 1, 0.001, 0, "Vel Add A: %.3f", nullptr)                   \
  /* velocity region B */                                                                        \
  X(49, Boolean, Checkbox, c49, 1, 0, 0, 0, 0, 0, "Use Velocity B   ", nullptr)                  \
  X(50, Float, Position, c50, 1, 62, -100, 200, 0.05, 0, "Centre B X: %.2f", nullptr)            \
  X(51, Float, PositionY, c50, 1, 20, -100, 200, 0.05, 0, "Centre B Y: %.2f", nullptr)           \
  X(52, Float, Size, c52, 1, 8, 1, 200, 0.05, 0, "Scale A B: %.2f", nullptr)                     \
  X(53, Float, Size, c53, 1, 8, 1, 200, 0.05, 0, "Scale B Y: %.2f", nullptr)                     \
  X(54, Float, Angle, c54, 1, 270, -360, 360, 0.05, 0, "Velocity B Direction: %.2f", nullptr)    \
  X(55, Float, Float, c55, 1, 0.5, 0, 1, 0.001, 0, "Vel Add B: %.3f", nullptr)                   \
  /* wind 1 */                                                                                   \
  X(71, Boolean, Checkbox, c71, 2, 0, 0, 0, 0, 0, "Use Wind 1   ", nullptr)                      \
  X(72, Float, Position, c72, 2, 0, -50, 150, 0.05, 0, "Wind 1 Start X: %.2f", nullptr)          \
  X(73, Float, PositionY, c72, 2, 0, -50, 150, 0.05, 0, "Wind 1 Start Y: %.2f", nullptr)         \
  X(74, Float, Position, c74, 2, 50, -50, 150, 0.05, 0, "Wind 1 End X: %.2f", nullptr)           \
  X(75, Float, PositionY, c74, 2, 50, -50, 150, 0.05, 0, "Wind 1 End Y: %.2f", nullptr)          \
  X(76, Float, Float, c76, 2, 0.1, 0, 1, 0.001, 0, "Wind 1 Strength: %.3f", nullptr)             \
  X(77, Float, Float, c77, 2, 1, 0, 200, 0.1, 0, "Wind 1 Tight: %.2f", nullptr)                  \
  X(65, Boolean, Checkbox, c65, 2, 1, 0, 0, 0, 0, "Wind 1 Local   ", nullptr)                    \
  /* winds 2 and 3: objects only */                                                              \
  X(0, None, Checkbox, wind2_on, -1, 0, 0, 0, 0, 0, nullptr, nullptr)                            \
  X(0, None, Position, wind2_start, -1, 0, 0, 0, 0, 0, nullptr, nullptr)                         \
  X(0, None, Position, wind2_end, -1, 0, 0, 0, 0, 0, nullptr, nullptr)                           \
  X(0, None, Float, wind2_strength, -1, 0, 0, 0, 0, 0, nullptr, nullptr)                         \
  X(0, None, Float, wind2_tight, -1, 0, 0, 0, 0, 0, nullptr, nullptr)                            \
  X(0, None, Checkbox, wind2_local, -1, 0, 0, 0, 0, 0, nullptr, nullptr)                         \
  X(0, None, Checkbox, wind3_on, -1, 0, 0, 0, 0, 0, nullptr, nullptr)                            \
  X(0, None, Position, wind3_start, -1, 0, 0, 0, 0, 0, nullptr, nullptr)                         \
  X(0, None, Position, wind3_end, -1, 0, 0, 0, 0, 0, nullptr, nullptr)                           \
  X(0, None, Float, wind3_strength, -1, 0, 0, 0, 0, 0, nullptr, nullptr)                         \
  X(0, None, Float, wind3_tight, -1, 0, 0, 0, 0, 0, nullptr, nullptr)                            \
  X(0, None, Checkbox, wind3_local, -1, 0, 0, 0, 0, 0, nullptr, nullptr)                         \
  /* vortex 1 */                                                                                 \
  X(78, Boolean, Checkbox, c78, 2, 0, 0, 0, 0, 0, "Use Vortex1   ", nullptr)                     \
  X(79, Float, Position, c79, 2, 33.3, -50, 150, 0.05, 0, "Vortex 1 Center X: %.2f", nullptr)    \
  X(80, Float, PositionY, c79, 2, 50, -50, 150, 0.05, 0, "Vortex 1 Center Y: %.2f", nullptr)     \
  X(81, Float, Size, c81, 2, 10, 0.1, 200, 0.05, 0, "Vortex 1 Radius: %.2f", nullptr)            \
  X(82, Float, Float, c82, 2, 0.1, -1, 1, 0.001, 0, "Vortex 1 Strength: %.3f", nullptr)          \
  /* vortices 2 and 3: objects only */                                                           \
  X(0, None, Checkbox, vortex2_on, -1, 0, 0, 0, 0, 0, nullptr, nullptr)                          \
  X(0, None, Position, vortex2_centre, -1, 0, 0, 0, 0, 0, nullptr, nullptr)                      \
  X(0, None, Size, vortex2_radius, -1, 0, 0, 0, 0, 0, nullptr, nullptr)                          \
  X(0, None, Float, vortex2_strength, -1, 0, 0, 0, 0, 0, nullptr, nullptr)                       \
  X(0, None, Checkbox, vortex3_on, -1, 0, 0, 0, 0, 0, nullptr, nullptr)                          \
  X(0, None, Position, vortex3_centre, -1, 0, 0, 0, 0, 0, nullptr, nullptr)                      \
  X(0, None, Size, vortex3_radius, -1, 0, 0, 0, 0, 0, nullptr, nullptr)                          \
  X(0, None, Float, vortex3_strength, -1, 0, 0, 0, 0, 0, nullptr, nullptr)                       \
  /* the common controls of each page; page 0 alone has Blend */                                \
  X(27, Float, None, none, 0, 0, 0, 100, 0.1, 0, "Blend: %.2f", nullptr)                         \
  X(28, Boolean, None, none, 0, 0, 0, 0, 0, 0, "Clear Overlay", nullptr)                         \
  X(31, Push, None, none, 0, 0, 0, 0, 0, 0, "Help", nullptr)                                     \
  X(32, Push, None, none, 0, 0, 0, 0, 0, 0, "Reset", nullptr)                                    \
  X(33, Pup, None, none, 0, 0, 0, 0, 0, 0, TIDEWRIGHT_ITEMS_RESOLUTION, nullptr)                 \
  X(34, Boolean, None, none, 0, 1, 0, 0, 0, 0, "Auto Preview", nullptr)                          \
  X(57, Boolean, None, none, 1, 0, 0, 0, 0, 0, "Clear Overlay", nullptr)                         \
  X(60, Push, None, none, 1, 0, 0, 0, 0, 0, "Help", nullptr)                                     \
  X(61, Push, None, none, 1, 0, 0, 0, 0, 0, "Reset", nullptr)                                    \
  X(62, Pup, None, none, 1, 0, 0, 0, 0, 0, TIDEWRIGHT_ITEMS_RESOLUTION, nullptr)                 \
  X(63, Boolean, None, none, 1, 1, 0, 0, 0, 0, "Auto Preview", nullptr)                          \
  X(86, Boolean, None, none, 2, 0, 0, 0, 0, 0, "Clear Overlay", nullptr)                         \
  X(89, Push, None, none, 2, 0, 0, 0, 0, 0, "Help", nullptr)                                     \
  X(90, Push, None, none, 2, 0, 0, 0, 0, 0, "Reset", nullptr)                                    \
  X(91, Pup, None, none, 2, 0, 0, 0, 0, 0, TIDEWRIGHT_ITEMS_RESOLUTION, nullptr)                 \
  X(92, Boolean, None, none, 2, 1, 0, 0, 0, 0, "Auto Preview", nullptr)                          \
  /* page 3 "Import AIFF": the curve the amplitude import keys */                                \
  X(93, UserFloat, None, none, 3, 0, -1000, 1000, 0.001, 0, "Amplitude Import: %.1f", nullptr)   \
  X(114, Push, None, none, 3, 0, 0, 0, 0, 0, "Import Amplitude File", import_aiff_CB)            \
  /* the clip names */                                                                           \
  X(0, String, None, none, -1, 0, 0, 0, 0, 16, "1: Flow Clip", nullptr)                          \
  X(1, String, None, none, -1, 0, 0, 0, 0, 16, "2: BackGround", nullptr)                         \
  X(2, String, None, none, -1, 0, 0, 0, 0, 16, "3: Alt Clip", nullptr)                           \
  X(3, String, None, none, -1, 0, 0, 0, 0, 16, "4: Sources Clip", nullptr)                       \
  X(4, String, None, none, -1, 0, 0, 0, 0, 16, "5: Sinks Clip", nullptr)                         \
  X(5, String, None, none, -1, 0, 0, 0, 0, 16, "6: Barrier Clip", nullptr)

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
