// Whole images in one call, through the library's one whole-buffer handle.
#include <cstring>

#include "imgio_internal.h"
#include "imgio_messages.h"
#include "imgio_utils.h"
#include "q4_memory.h"

namespace {

// Sets the whole-buffer handle up for name in the current format; false
// (with the message) when no format is selected or the name cannot be held.
bool start(const char* name, int mode, const char* caller) {
  imginfo& handle = imgsystem.buffer;
  handle = imginfo{};
  if (imgsystem.current == 0) {
    messprintf(IMSSYS_INFO, "ERROR: Image format not set at [%s()]\n", caller);
    return false;
  }
  handle.format = imgsystem.current;
  const char* ext = imgio_format_ext(handle.format);
  handle.file_name = static_cast<char*>(q4_malloc_c(strlen(name) + strlen(ext) + 2, __FILE__, __LINE__));
  if (!handle.file_name) {
    messprintf(IMSSYS_FATAL, "ERROR: Couldn't allocate space for image info.\n");
    return false;
  }
  extreplace(handle.file_name, name, ext);
  handle.mode = mode;
  handle.current_line = -1;
  handle.line_order = imgsystem.formats[handle.format].line_order;
  return true;
}

void finish() {
  imginfo& handle = imgsystem.buffer;
  if (handle.file_name) q4_free_c(handle.file_name, __FILE__, __LINE__);
  handle.file_name = nullptr;
}

void* read_whole(const char* name, int* width, int* height, bool deep) {
  if (!name || !width || !height) return nullptr;
  if (!start(name, IMGIO_READ, deep ? "readbuf16" : "readbuf")) return nullptr;
  imginfo& handle = imgsystem.buffer;
  const imgio_driver& ops = imgsystem.formats[handle.format].ops;
  const imgop read = deep ? ops.Readb16 : ops.Readb;
  void* buffer = nullptr;
  if (!read) {
    messprintf(IMSSYS_FATAL,
               deep ? "UGH: No 16-bit read whole buffer routine defined for format [%s]!\n"
                    : "UGH: No read whole buffer routine defined for format [%s]!\n",
               imgio_handle_format(&handle));
  } else if (!read(&handle) || !(deep ? static_cast<void*>(handle.line16) : handle.line)) {
    messprintf(IMSSYS_INFO,
               deep ? "ERROR: Failed to read 16-bit whole image from [%s] format [%s]\n"
                    : "ERROR: Failed to read whole image from [%s] format [%s]\n",
               handle.file_name, imgio_handle_format(&handle));
  } else {
    buffer = deep ? static_cast<void*>(handle.line16) : handle.line;
    handle.width = *width = handle.file_width;
    handle.height = *height = handle.file_height;
  }
  finish();
  return buffer;
}

int write_whole(void* buffer, int width, int height, const char* name, bool deep) {
  if (!buffer || !name) return 1;
  const char* caller = deep ? "writebuf16" : "writebuf";
  if (width < 1 || height < 1) {
    messprintf(IMSSYS_INFO, "ERROR: Invalid image size %dx%d at [%s()]\n", width, height, caller);
    return 1;
  }
  if (!start(name, IMGIO_WRITE, caller)) return 1;
  imginfo& handle = imgsystem.buffer;
  if (deep)
    handle.line16 = static_cast<unsigned short*>(buffer);
  else
    handle.line = static_cast<unsigned int*>(buffer);
  handle.width = handle.file_width = width;
  handle.height = handle.file_height = height;
  handle.bits16 = deep;
  handle.frame = imgsystem.frame;
  const imgio_driver& ops = imgsystem.formats[handle.format].ops;
  const imgop write = deep ? ops.Writeb16 : ops.Writeb;
  int result = 1;
  if (!write) {
    messprintf(IMSSYS_FATAL,
               deep ? "UGH: No 16-bit write whole buffer routine defined for format [%s]!\n"
                    : "UGH: No write whole buffer routine defined for format [%s]!\n",
               imgio_handle_format(&handle));
  } else if (!write(&handle)) {
    messprintf(IMSSYS_INFO,
               deep ? "ERROR: Failed to write 16-bit whole image from [%s] format [%s]\n"
                    : "ERROR: Failed to write whole image from [%s] format [%s]\n",
               handle.file_name, imgio_handle_format(&handle));
  } else {
    result = 0;
  }
  finish();
  return result;
}

}  // namespace

unsigned int* readbuf(const char* name, int* width, int* height) {
  return static_cast<unsigned int*>(read_whole(name, width, height, false));
}

unsigned short* readbuf16(const char* name, int* width, int* height) {
  return static_cast<unsigned short*>(read_whole(name, width, height, true));
}

int writebuf(unsigned int* buffer, int width, int height, const char* name) {
  return write_whole(buffer, width, height, name, false);
}

int writebuf16(unsigned short* buffer, int width, int height, const char* name) {
  return write_whole(buffer, width, height, name, true);
}
