#ifndef EFFECT_SERVICES_H
#define EFFECT_SERVICES_H

// What the framework reads of the effect: its frame entry and the host state
// that entry keeps in globals for the current frame.

#include "spark.h"

extern "C" {
extern int DLnumProc;   // host worker processes of this frame
extern int DLwidth;     // host frame size, full resolution
extern int DLheight;
extern int DLscalesr;   // preview sub-sampling factor N
extern SparkBoolean SparkBoolean34;  // "Auto Preview" of the first page
extern int TempID;      // host temporary-buffer id
extern SparkMemBuf TempBuf;
}

#endif
