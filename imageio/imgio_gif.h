#ifndef IMGIO_GIF_H
#define IMGIO_GIF_H

// GIF87a files of one image: decoded whole at open, encoded whole at close
// (at most 255 colours by median cut).

#include "imgio.h"

extern const imgio_driver gif_driver;

#endif
