#include "imgio_plug.h"

#include <type_traits>

namespace {

const imgio_driver* plugged[IMGIO_FORMATS];
// The table's own operations as the last initimg set them, for unplugging.
imgio_driver builtin[IMGIO_FORMATS];
bool initialised = false;

}  // namespace

// The program is linked with --wrap on initimg's symbol: its calls come
// here, and the library's own function is reached as __real_ of the same
// name. The table is filled as usual, then the plugged entries take their
// operations.
//
// The symbol, _Z7initimgv, names int initimg() at global scope. Were its
// parameters changed or an overload added, callers would move to another
// symbol and pass the plug by; were its result changed, the wrap would
// return the wrong type. Both stop the build here. (A move out of global
// scope or to C linkage leaves __real__Z7initimgv unresolved: the link
// fails.)
static_assert(std::is_same<decltype(::initimg), int()>::value,
              "initimg is no longer int initimg(): wrap its new symbol (testsupport/CMakeLists.txt) and "
              "rename __real__Z7initimgv and __wrap__Z7initimgv to match");
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
