#ifndef IMGIO_BYTES_H
#define IMGIO_BYTES_H

#include "imgio_fields.h"

#endif
