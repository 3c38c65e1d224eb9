#ifndef IMGIO_WHOLE_LINES_H
#define IMGIO_WHOLE_LINES_H

// Whole images for drivers that reach a picture only line by line: open (or
// create) with the driver's own operation, every file line into (or out of)
// its buffer row by the handle's line order, close. Driver results: 1 for
// success, 0 for failure.

#include "imgio.h"

// On success the new createbuffer (createbuffer16) block is in line (line16)
// and belongs to the caller; on failure nothing is left allocated or open.
int imgio_whole_read(imginfo* handle, const imgio_driver& ops, bool deep);
// line (line16) holds the caller's buffer; it is still there afterwards.
int imgio_whole_write(imginfo* handle, const imgio_driver& ops, bool deep);

#endif
