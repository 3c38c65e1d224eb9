#ifndef IMGIO_TARGA_H
#define IMGIO_TARGA_H

// Targa files through the Targa library: a file is loaded whole at open,
// and a file being written is made at close, run-length coded when the
// setting "IMGIO_TARGA_COMPRESS" is "yes".

#include "imgio.h"

extern const imgio_driver targa_driver;

#endif
