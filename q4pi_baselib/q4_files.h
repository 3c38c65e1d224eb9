#ifndef Q4_FILES_H
#define Q4_FILES_H

// Files, paths and standard directories.
#include "q4_fileops.h"
#include "q4_filename.h"
#include "q4_stddirs.h"
#include "q4_tempname.h"

#endif
