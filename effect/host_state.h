#ifndef TIDEWRIGHT_HOST_STATE_H
#define TIDEWRIGHT_HOST_STATE_H

// What the entry points keep about the host between calls (the frame
// globals the framework reads are in effect_services.h).

#include "effect_services.h"

// Non-zero when the host's frames are 12-bit (pixel depth 48 or 64).
extern int deep12;
// Non-zero when start-up found too few host image buffers: no frame is
// rendered until the library is loaded again.
extern int no_buffers;

// What SparkInteract keeps between pen events.
struct OverlayInteraction {
  // The view is known once a SparkOverlay has set it; until then the
  // widgets have no size to hit-test or drag with.
  bool view_set = false;
  float last_pressure = 0.0f;
  // A widget took the last press (kept through the release).
  bool picked = false;
};
extern OverlayInteraction overlay_interaction;

// An entry point some hosts call; it has nothing to do.
extern "C" void render_string(void);

// Host clip ids of the six inputs and of the output.
const int SourceIDInput = 2;
const int SourceIDBackG = 3;
const int SourceIDAux = 4;
const int SourceIDSources = 5;
const int SourceIDSinks = 6;
const int SourceIDBarrier = 7;
const int ResultIDOutput = 1;

#endif
