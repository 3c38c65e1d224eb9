#include "amplitude_import.h"

#include <cstdio>

#include "q4_pause.h"

void* import_aiff_CB(int, SparkHostInfo) {
  char path[SPARK_PATH_MAX] = "";
  sparkWorkingDir(path);
  path[SPARK_PATH_MAX - 1] = '\0';
  sparkFileBrowserDisplay(path, "", aiff_file_CB);
  return nullptr;
}

namespace {

void tell_artist(const char* text) {
  sparkMessage(text);
  q4_pause(2.0);
}

// One key; true when it yields its three numbers. A missing "End" costs
// nothing: the next key's "Key" is left unread for the next call.
bool read_key(FILE* f, int& frame, float& value) {
  int key = 0;
  return std::fscanf(f, " Key %d Frame %d Value %f End", &key, &frame, &value) == 3;
}

}  // namespace

void aiff_file_CB(const char* path) {
  FILE* f = path ? std::fopen(path, "r") : nullptr;
  if (!f) {
    tell_artist("Unable to open file");
    return;
  }
  int channel = 0;
  int size = 0;
  if (std::fscanf(f, " Channel Amplitude %d: Size %d", &channel, &size) != 2) {
    tell_artist("Not a valid control file");
    std::fclose(f);
    return;
  }
  // A negative size would read on without limit; it holds no keys.
  for (int left = size; left > 0; --left) {
    int frame = 0;
    float value = 0.0f;
    if (!read_key(f, frame, value)) break;
    sparkSetCurveKey(0, AMPLITUDE_CONTROL, frame, value);
  }
  std::fclose(f);
}
