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
