#include "imgio_tiff_messages.h"

#include <cstdarg>
#include <cstdio>

#include "imgio_messages.h"

namespace {

// One libtiff message into the channel. Returning 1 keeps libtiff's own
// handlers, which print on standard error, from reporting it again.
template <int Level>
int to_channel(TIFF*, void*, const char* module, const char* format, va_list args) {
  char text[IMSSYS_LINE_LENGTH];
  vsnprintf(text, sizeof text, format, args);
  const char* kind = Level == IMSSYS_ERROR ? "" : "Warning, ";
  if (module)
    messprintf(Level, "TIFF: %s%s: %s\n", kind, module, text);
  else
    messprintf(Level, "TIFF: %s%s\n", kind, text);
  return 1;
}

}  // namespace

TIFFOpenOptions* tiff_message_options() {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) {
    messprintf(IMSSYS_FATAL, "TIFF: No space for the open options.\n");
    return nullptr;
  }
  TIFFOpenOptionsSetErrorHandlerExtR(options, to_channel<IMSSYS_ERROR>, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, to_channel<IMSSYS_INFO>, nullptr);
  return options;
}
