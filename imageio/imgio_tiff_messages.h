#ifndef IMGIO_TIFF_MESSAGES_H
#define IMGIO_TIFF_MESSAGES_H

// libtiff's errors and warnings through the message channel.

#include <tiffio.h>

// Options that send the errors (level ERROR) and warnings (level INFO) of
// the handle they open to the channel instead of standard error; null,
// with the message, when there is no room for them. The caller frees them
// with TIFFOpenOptionsFree once the handle is open.
TIFFOpenOptions* tiff_message_options();

#endif
