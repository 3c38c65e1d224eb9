#include "imgio_plug.h"

namespace {

const imgio_driver* plugged[IMGIO_FORMATS];
// The table's own operations as the last initimg set them, for unplugging.
imgio_driver builtin[IMGIO_FORMATS];
bool initialised = false;

}  // namespace

// The program is linked with --wrap on initimg's symbol (_Z7initimgv, the
// C++ name of int initimg()): its calls come here, and the library's own
// function is reached as __real_ of the same name. The table is filled as
// usual, then the plugged entries take their operations.
extern "C" int __real__Z7initimgv();

extern "C" int __wrap__Z7initimgv() {
  const int status = __real__Z7initimgv();
  for (int i = 1; i < IMGIO_FORMATS; ++i) {
    builtin[i] = imgsystem.formats[i].ops;
    if (plugged[i]) imgsystem.formats[i].ops = *plugged[i];
  }
  initialised = true;
  return status;
}

int imgio_plug_driver(int index, const imgio_driver* driver) {
  if (index < 1 || index >= IMGIO_FORMATS) return 1;
  plugged[index] = driver;
  if (driver)
    imgsystem.formats[index].ops = *driver;
  else if (initialised)
    imgsystem.formats[index].ops = builtin[index];
  return 0;
}
