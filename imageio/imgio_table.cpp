// The format table and the settings that override it.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "imgio_alias.h"
#include "imgio_art24.h"
#include "imgio_dpx.h"
#include "imgio_gif.h"
#include "imgio_internal.h"
#include "imgio_jpeg.h"
#include "imgio_messages.h"
#include "imgio_pixar.h"
#include "imgio_rla.h"
#include "imgio_sgi.h"
#include "imgio_soft.h"
#include "imgio_sun.h"
#include "imgio_symbolics.h"
#include "imgio_targa.h"
#include "imgio_tiff.h"
#include "imgio_vertigo.h"
#include "imgio_yuv.h"
#include "q4_memory.h"

imgsys imgsystem;

namespace {

struct builtin_format {
  const char* name;
  const char* ext;
  const char* seq;
  int line_order;
  const char* key_word;  // IMGIO_<word>_EXT and IMGIO_<word>_SEQ
  const imgio_driver* driver;
};

// A driver fills its entry by naming its operation record here; entries
// whose driver is not built keep every operation null.
const builtin_format builtin[IMGIO_FORMATS] = {
    {"unknown", "", "%s%d", IMGIO_BOTTOM_FIRST, nullptr, nullptr},
    {"pixar", "pxr", "%s_%4.4d", IMGIO_TOP_FIRST, "PIXAR", &pixar_driver},
    {"rla", "rla", "%s.%4.4d", IMGIO_BOTTOM_FIRST, "RLA", &rla_driver},
    {"softimage", "pic", "%s.%d", IMGIO_TOP_FIRST, "SOFTIMAGE", &soft_driver},
    {"alias", "als", "%s.%d", IMGIO_TOP_FIRST, "ALIAS", &alias_driver},
    {"sgirgb", "rgb", "%s_%4.4d", IMGIO_BOTTOM_FIRST, "SGIRGB", &sgi_driver},
    {"yuv", "yuv", "%s.%d", IMGIO_BOTTOM_FIRST, "YUV", &yuv_driver},
    {"vertigo", "pic", "%s@%d", IMGIO_BOTTOM_FIRST, "VERTIGO", &vertigo_driver},
    {"targa2", "tga", "%s.%d", IMGIO_BOTTOM_FIRST, "TARGA2", &targa_driver},
    {"tiff", "tif", "%s.%4.4d", IMGIO_BOTTOM_FIRST, "TIFF", &tiff_driver},
    {"sun", "ras", "%s.%4.4d", IMGIO_TOP_FIRST, "SUN", &sun_driver},
    {"art24", "r", "%s%d", IMGIO_TOP_FIRST, "ART24", &art24_driver},
    {"symbolics", "dump", "%s-%4.4d", IMGIO_BOTTOM_FIRST, "SYMBOLICS", &symbolics_driver},
    {"gif", "gif", "%s.%4.4d", IMGIO_BOTTOM_FIRST, "GIF", &gif_driver},
    {"cin", "", "%s%4.4d", IMGIO_TOP_FIRST, "CIN", &dpx_driver},
    {"sgisgi", "sgi", "%s.%4.4d", IMGIO_BOTTOM_FIRST, "SGISGI", &sgi_driver},
    {"jpeg", "jpg", "%s.%4.4d", IMGIO_TOP_FIRST, "JPEG", &jpeg_driver},
};

const int64_t default_max_pixels = int64_t(1) << 28;

imgio_driver operations_of(int index) {
  const imgio_driver* driver = builtin[index].driver;
  return driver ? *driver : imgio_driver{};
}

char* copy(const char* text) { return q4_strdup_c(text, __FILE__, __LINE__); }

char* key_name(const char* word, const char* suffix) {
  char name[64];
  snprintf(name, sizeof name, "IMGIO_%s_%s", word, suffix);
  return copy(name);
}

void release(char*& text) {
  if (text) q4_free_c(text, __FILE__, __LINE__);
  text = nullptr;
}

// Replaces text by a copy of value; the old text stays when no copy can be
// made. 0 on success.
int replace(char*& text, const char* value) {
  char* fresh = copy(value);
  if (!fresh) return 1;
  release(text);
  text = fresh;
  return 0;
}

// An override key's value replaces the entry's text unless it is absent or
// exactly "default".
void apply_override(const char* key, char*& text) {
  const char* value = key ? getkeyval(key) : nullptr;
  if (value && strcmp(value, "default") != 0) replace(text, value);
}

}  // namespace

const char* imgio_builtin_seq(int index) {
  return builtin[index >= 0 && index < IMGIO_FORMATS ? index : 0].seq;
}

const char* imgio_format_name(int index) {
  const char* name = index >= 0 && index < IMGIO_FORMATS ? imgsystem.formats[index].name : nullptr;
  return name ? name : "";
}

const char* imgio_format_ext(int index) {
  const char* ext = index >= 0 && index < IMGIO_FORMATS ? imgsystem.formats[index].ext : nullptr;
  return ext ? ext : "";
}

int initimg() {
  for (int i = 0; i < IMGIO_FORMATS; ++i) {
    imgformat& entry = imgsystem.formats[i];
    entry.name = copy(builtin[i].name);
    entry.ext = copy(builtin[i].ext);
    entry.seq = copy(builtin[i].seq);
    entry.line_order = builtin[i].line_order;
    entry.ops = operations_of(i);
    entry.ext_key = builtin[i].key_word ? key_name(builtin[i].key_word, "EXT") : nullptr;
    entry.seq_key = builtin[i].key_word ? key_name(builtin[i].key_word, "SEQ") : nullptr;
  }
  imgsystem.current = 0;
  imgsystem.filter = 1;
  imgsystem.frame = 1;
  imgsystem.buffer = imginfo{};
  imgsystem.settings = nullptr;
  return 0;
}

int finishimg() {
  for (imgformat& entry : imgsystem.formats) {
    release(entry.name);
    release(entry.ext);
    release(entry.seq);
    release(entry.ext_key);
    release(entry.seq_key);
  }
  destroykeyval();
  return 0;
}

int imgfindformat(const char* name) {
  if (!name) return 0;
  for (int i = 1; i < IMGIO_FORMATS; ++i) {
    const char* entry = imgsystem.formats[i].name;
    if (entry && strcmp(entry, name) == 0) return i;
  }
  return 0;
}

int setimageformat(const char* name) {
  const int index = imgfindformat(name);
  if (index == 0) return 1;
  imgsystem.current = index;
  imgformat& entry = imgsystem.formats[index];
  apply_override(entry.ext_key, entry.ext);
  apply_override(entry.seq_key, entry.seq);
  return 0;
}

int envimageformat() {
  const char* name = getkeyval("IMGIO_FORMAT");
  if (!name) {
    messprintf(IMSSYS_INFO, "WARNING: IMGIO_FORMAT not set. Assuming rla ...\n");
    setimageformat("rla");
    return 0;
  }
  if (setimageformat(name) != 0) {
    messprintf(IMSSYS_INFO, "ERROR: Unknown image format: %s\n", name);
    return 1;
  }
  if (strcmp(name, "yuv") == 0) {
    int line_size = 0, lines = 0;
    if (!getyuvsize(&line_size, &lines)) {
      messprintf(IMSSYS_INFO, "ERROR: Invalid YUV image size (%dx%d)\n", line_size, lines);
      return 1;
    }
    messprintf(IMSSYS_INFO, "Using %s (%dx%d) image format ...\n", name, line_size, lines);
  } else {
    messprintf(IMSSYS_INFO, "Using %s image format ...\n", name);
  }
  fflush(stdout);
  return 0;
}

int imgextoverride(const char* name, const char* ext) {
  const int index = imgfindformat(name);
  if (index == 0) return 1;
  return replace(imgsystem.formats[index].ext, ext ? ext : "");
}

int imgseqoverride(const char* name, const char* seq) {
  const int index = imgfindformat(name);
  if (index == 0 || !seq) return 1;
  return replace(imgsystem.formats[index].seq, seq);
}

const char* imggetkeyvalname(const char* name, int which) {
  const int index = imgfindformat(name);
  if (index == 0) return nullptr;
  if (which == 1) return imgsystem.formats[index].ext_key;
  if (which == 2) return imgsystem.formats[index].seq_key;
  return nullptr;
}

int setframenumber(int frame) {
  imgsystem.frame = frame;
  return 0;
}

int imgsizeok(int64_t width, int64_t height) {
  if (width < 1 || height < 1) return 0;
  int64_t cap = default_max_pixels;
  if (const char* text = getkeyval("IMGIO_MAX_PIXELS")) {
    char* end = nullptr;
    errno = 0;
    const long long value = strtoll(text, &end, 10);
    if (errno == 0 && end != text && *end == '\0' && value > 0) cap = value;
  }
  // Divided, not multiplied: a product of two large sides would overflow.
  return width <= cap / height;
}
