// File names and frame patterns come from users and settings: any text. The
// input is a name, a NUL, a pattern, a NUL, then frame bytes.
#include <cstdint>
#include <cstring>
#include <string>

#include "imgio.h"
#include "imgio_utils.h"
#include "q4_memory.h"

namespace {

std::string take(const uint8_t*& data, size_t& size) {
  const void* end = memchr(data, 0, size);
  const size_t length = end ? static_cast<const uint8_t*>(end) - data : size;
  std::string text(reinterpret_cast<const char*>(data), length);
  const size_t used = end ? length + 1 : length;
  data += used;
  size -= used;
  return text;
}

void release(char* text) {
  if (text) q4_free_c(text, __FILE__, __LINE__);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name = take(data, size);
  const std::string pattern = take(data, size);
  int frame = 0;
  memcpy(&frame, data, size < sizeof frame ? size : sizeof frame);

  initimg();
  std::string out(name.size() + pattern.size() + 2, '\0');
  extreplace(&out[0], name.c_str(), pattern.c_str());
  if (strlen(out.c_str()) > name.size() + pattern.size() + 1) abort();
  getformatextension(name.c_str(), "tiff");
  getformatextension(name.c_str(), "?");
  stripimgdir(name.c_str());
  stripimgname(name.c_str(), 0);
  stripimgname(name.c_str(), 1);
  setimageformat("jpeg");
  release(addframenumber(name.c_str(), frame));
  setkeyval("IMGIO_SEQ_FORMAT", pattern.c_str());
  release(addframenumber(name.c_str(), frame));
  release(addframenumberdir(pattern.c_str(), name.c_str(), frame));
  deletekeyval("IMGIO_SEQ_FORMAT");
  setkeyval("IMGIO_TIFF_SEQ", pattern.c_str());
  setkeyval("IMGIO_TIFF_EXT", name.c_str());
  setimageformat("tiff");
  release(addframenumber(name.c_str(), frame));
  getformatextension(pattern.c_str(), "?");
  finishimg();
  return 0;
}
