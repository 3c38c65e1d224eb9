#ifndef IMGIO_INTERNAL_H
#define IMGIO_INTERNAL_H

// What the library's own files share and its callers do not see.

#include <cstddef>

#include "imgio.h"

// Length of the name without its extension (see imgio_utils.h).
size_t imgio_stem_length(const char* name);

// The table's frame-number pattern of entry index, whatever overrides say.
const char* imgio_builtin_seq(int index);
// The entry's name and extension, "" when their copies could not be made.
const char* imgio_format_name(int index);
const char* imgio_format_ext(int index);
// The handle's format name and file name for messages, never null.
const char* imgio_handle_format(const imginfo* handle);
const char* imgio_handle_file(const imginfo* handle);

#endif
