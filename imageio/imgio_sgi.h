#ifndef IMGIO_SGI_H
#define IMGIO_SGI_H

// SGI image files through the SGI image library, for the "sgirgb" and
// "sgisgi" entries: files of one to many channels and 1-byte or 2-byte
// values are read; written files are run-length coded, 1 byte a value,
// three channels, without alpha.

#include "imgio.h"

extern const imgio_driver sgi_driver;

#endif
