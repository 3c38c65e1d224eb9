#ifndef TIDEWRIGHT_IMAGE_COPY_H
#define TIDEWRIGHT_IMAGE_COPY_H

#include "ImageQ4.h"
#include "PluginQ4.h"

// dst = src, pixel for pixel, in row bands on the host's workers: the copy
// of ImageQ4::CopyValues at gains of 1, without holding one thread to a
// whole frame. The images are of one size.
void image_copy(PluginQ4* plugin, ImageQ4* dst, ImageQ4* src);

#endif
