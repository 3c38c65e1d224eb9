#ifndef DEFAULT_CALLBACKS_H
#define DEFAULT_CALLBACKS_H

#include "spark.h"

// Ends every control callback: with "Auto Preview" on and reason 1 the frame
// is processed again and the result handed to the host; otherwise the viewer
// is only redrawn and null returned.
void* DefaultCB(int reason, SparkHostInfo info);

// The overlay switches' callback: redraws the viewer, returns null.
void* OverlayCB(int reason, SparkHostInfo info);

#endif
