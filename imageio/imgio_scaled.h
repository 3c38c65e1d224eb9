#ifndef IMGIO_SCALED_H
#define IMGIO_SCALED_H

// Scaled reading of handles made by openimgscaled, inside the library.

#include "imgio.h"

// Sets the delivered size and the scale state of a handle whose scale
// buffers exist.
void imgio_scaled_start(imginfo* handle, int width, int height);
// The next delivered line, 8-bit into unsigned int pixels or 16-bit
// (deep) into groups of four unsigned shorts; 0 on success.
int imgio_scaled_read(imginfo* handle, void* line, bool deep);
// Positions the driver at line through SeekTo, with the messages; 0 on
// success.
int imgio_seek_to(imginfo* handle, int line);

#endif
