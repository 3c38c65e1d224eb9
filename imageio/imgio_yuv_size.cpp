// The picture size of the YUV format: it comes from the settings, since the
// files carry no header.
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "imgio.h"
#include "imgio_yuv.h"

namespace {

// A setting's decimal value, the default when absent; false when the text is
// not a whole number.
bool setting(const char* key, int fallback, int* value) {
  const char* text = getkeyval(key);
  if (!text) {
    *value = fallback;
    return true;
  }
  char* end = nullptr;
  errno = 0;
  const long number = strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || number < INT_MIN || number > INT_MAX) {
    *value = 0;
    return false;
  }
  *value = static_cast<int>(number);
  return true;
}

}  // namespace

int getyuvsize(int* line_size, int* lines) {
  if (!line_size || !lines) return 0;
  const bool size_parsed = setting("IMGIO_YUV_LINESIZE", 720, line_size);
  const bool lines_parsed = setting("IMGIO_YUV_LINES", 576, lines);
  const bool parsed = size_parsed && lines_parsed;
  // Pixels come in Cb-Y-Cr-Y pairs, so a line holds at least one pair.
  return parsed && *line_size >= 2 && *line_size <= 720 && *line_size % 2 == 0 && *lines >= 1 &&
                 *lines <= 576
             ? 1
             : 0;
}
