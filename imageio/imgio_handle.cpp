// Handles: opening, creating and closing, line reads and writes without
// scaling, seeking, and the line and buffer allocators.
#include <climits>
#include <cstring>

#include "imgio_internal.h"
#include "imgio_messages.h"
#include "imgio_scaled.h"
#include "imgio_utils.h"
#include "q4_memory.h"

namespace {

const imgio_driver& ops_of(const imginfo* handle) { return imgsystem.formats[handle->format].ops; }

}  // namespace

int imgrunby(const imginfo* handle, const imgio_driver& driver) {
  return handle && handle->format >= 0 && handle->format < IMGIO_FORMATS && ops_of(handle).Openf == driver.Openf;
}

namespace {

void free_block(void* block) {
  if (block) q4_free_c(block, __FILE__, __LINE__);
}

void free_handle(imginfo* handle) {
  for (unsigned int* line : handle->scale_line) free_block(line);
  for (unsigned short* line : handle->scale_line16) free_block(line);
  for (float* acc : handle->scale_acc) free_block(acc);
  free_block(handle->extra);
  free_block(handle->file_name);
  free_block(handle);
}

void report_no_memory() { messprintf(IMSSYS_FATAL, "ERROR: Couldn't allocate space for image info.\n"); }

// A handle of the current format for name, its file name carrying the
// format's extension; null (with the message) when none can be made.
imginfo* new_handle(const char* name, int mode, const char* caller) {
  imginfo* handle = static_cast<imginfo*>(q4_calloc_c(1, sizeof(imginfo), __FILE__, __LINE__));
  if (!handle) {
    report_no_memory();
    return nullptr;
  }
  if (imgsystem.current == 0) {
    messprintf(IMSSYS_INFO, "ERROR: Image format not set at [%s()]\n", caller);
    free_handle(handle);
    return nullptr;
  }
  handle->format = imgsystem.current;
  const char* ext = imgio_format_ext(handle->format);
  handle->file_name =
      static_cast<char*>(q4_malloc_c(strlen(name) + strlen(ext) + 2, __FILE__, __LINE__));
  if (!handle->file_name) {
    report_no_memory();
    free_handle(handle);
    return nullptr;
  }
  extreplace(handle->file_name, name, ext);
  handle->mode = mode;
  handle->current_line = -1;
  handle->line_order = imgsystem.formats[handle->format].line_order;
  return handle;
}

bool allocate_scale_buffers(imginfo* handle) {
  const int width = handle->file_width;
  bool ok = true;
  for (unsigned int*& line : handle->scale_line) ok = (line = createline(width)) && ok;
  for (unsigned short*& line : handle->scale_line16) ok = (line = createline16(width)) && ok;
  for (float*& acc : handle->scale_acc)
    ok = (acc = static_cast<float*>(q4_calloc_c(width, sizeof(float), __FILE__, __LINE__))) && ok;
  return ok;
}

imginfo* open_common(const char* name, int scaled, const char* caller) {
  imginfo* handle = new_handle(name, IMGIO_READ, caller);
  if (!handle) return nullptr;
  handle->scaled = scaled;
  const imgio_driver& ops = ops_of(handle);
  if (!ops.Openf) {
    messprintf(IMSSYS_FATAL, "UGH: No open file routine defined for format [%s]!\n",
               imgio_handle_format(handle));
    free_handle(handle);
    return nullptr;
  }
  if (!ops.Openf(handle)) {
    messprintf(IMSSYS_INFO, "ERROR: Failed to open file [%s] format [%s]\n", handle->file_name,
               imgio_handle_format(handle));
    free_handle(handle);
    return nullptr;
  }
  // Lines and scale buffers are sized by the file; a driver's size that no
  // picture may have is refused here whatever the driver checked.
  bool ok = imgsizeok(handle->file_width, handle->file_height);
  if (!ok)
    messprintf(IMSSYS_INFO, "ERROR: Image size %dx%d of [%s] is out of range.\n", handle->file_width,
               handle->file_height, handle->file_name);
  else if (scaled && !(ok = allocate_scale_buffers(handle)))
    report_no_memory();
  if (!ok) {
    if (ops.Closef) ops.Closef(handle);
    free_handle(handle);
    return nullptr;
  }
  return handle;
}

int read_unscaled(imginfo* handle, void* line, bool deep) {
  if (handle->mode != IMGIO_READ) {
    messprintf(IMSSYS_INFO, "ERROR: Attempt to read from file opened for write.\n");
    return 1;
  }
  const imgop read = deep ? ops_of(handle).Readl16 : ops_of(handle).Readl;
  if (!read) {
    messprintf(IMSSYS_FATAL,
               deep ? "UGH: No 16-bit read line routine defined for format [%s]!\n"
                    : "UGH: No read line routine defined for format [%s]!\n",
               imgio_handle_format(handle));
    return 1;
  }
  if (deep)
    handle->line16 = static_cast<unsigned short*>(line);
  else
    handle->line = static_cast<unsigned int*>(line);
  // Held at file_height: reading on past the end yields zeros for ever.
  if (handle->current_line < handle->file_height) ++handle->current_line;
  if (handle->current_line < 0 || handle->current_line >= handle->file_height) {
    memset(line, 0, static_cast<size_t>(handle->file_width) * (deep ? 8 : 4));
    return 0;
  }
  if (!read(handle)) {
    messprintf(IMSSYS_INFO, "ERROR: Failed to read line %d from [%s] format [%s]\n",
               handle->current_line, handle->file_name, imgio_handle_format(handle));
    return 1;
  }
  return 0;
}

int write_common(imginfo* handle, void* line, bool deep) {
  if (handle->mode != IMGIO_WRITE) {
    messprintf(IMSSYS_INFO, "ERROR: Attempt to write to file opened for read.\n");
    return 1;
  }
  if (!deep && handle->bits16) {
    messprintf(IMSSYS_INFO, "ERROR: writeline(): File was created for 16 bit data.\n");
    return 1;
  }
  if (deep && !handle->bits16) {
    messprintf(IMSSYS_INFO, "ERROR: writeline16(): File was created for 8 bit data.\n");
    return 1;
  }
  if (deep)
    handle->line16 = static_cast<unsigned short*>(line);
  else
    handle->line = static_cast<unsigned int*>(line);
  if (handle->current_line < handle->file_height) ++handle->current_line;
  if (handle->current_line < 0 || handle->current_line >= handle->file_height) return 1;
  const imgop write = deep ? ops_of(handle).Writel16 : ops_of(handle).Writel;
  if (!write) {
    messprintf(IMSSYS_FATAL,
               deep ? "UGH: No 16-bit write line routine defined for format [%s]!\n"
                    : "UGH: No write line routine defined for format [%s]!\n",
               imgio_handle_format(handle));
    return 1;
  }
  if (!write(handle)) {
    messprintf(IMSSYS_INFO, "ERROR: Failed to write line %d to [%s] format [%s]\n",
               handle->current_line, handle->file_name, imgio_handle_format(handle));
    return 1;
  }
  return 0;
}

// Zeroed blocks of count elements of size bytes; null for a count below 1
// or a size beyond one block.
void* zeroed_block(int64_t count, int64_t size, bool image_heap) {
  if (count < 1 || count > UINT_MAX / size) return nullptr;
  const unsigned bytes = static_cast<unsigned>(count * size);
  if (!image_heap) return q4_calloc_c(1, bytes, __FILE__, __LINE__);
  void* block = q4_image_malloc_c(bytes, __FILE__, __LINE__);
  if (block) memset(block, 0, bytes);
  return block;
}

}  // namespace

const char* imgio_handle_format(const imginfo* handle) { return imgio_format_name(handle->format); }

const char* imgio_handle_file(const imginfo* handle) {
  return handle->file_name ? handle->file_name : "";
}

imginfo* openimg(const char* name) {
  if (!name) return nullptr;
  imginfo* handle = open_common(name, 0, "openimg");
  if (handle) {
    handle->width = handle->file_width;
    handle->height = handle->file_height;
  }
  return handle;
}

imginfo* openimgscaled(const char* name, int width, int height) {
  if (!name) return nullptr;
  if (!imgsizeok(width, height)) {
    messprintf(IMSSYS_INFO, "ERROR: Invalid scaled size %dx%d at [openimgscaled()]\n", width,
               height);
    return nullptr;
  }
  imginfo* handle = open_common(name, 1, "openimgscaled");
  if (handle) imgio_scaled_start(handle, width, height);
  return handle;
}

imginfo* createimg(const char* name, int width, int height, int nbits) {
  if (!name) return nullptr;
  imginfo* handle = new_handle(name, IMGIO_WRITE, "createimg");
  if (!handle) return nullptr;
  if (nbits != 8 && nbits != 16) {
    messprintf(IMSSYS_INFO, "ERROR: nbits must be 8 or 16 in [createimg()].\n");
    free_handle(handle);
    return nullptr;
  }
  if (width < 1 || height < 1) {
    messprintf(IMSSYS_INFO, "ERROR: Invalid image size %dx%d in [createimg()].\n", width, height);
    free_handle(handle);
    return nullptr;
  }
  handle->width = handle->file_width = width;
  handle->height = handle->file_height = height;
  handle->bits16 = nbits == 16;
  handle->frame = imgsystem.frame;
  const imgop create = ops_of(handle).Createf;
  if (!create) {
    messprintf(IMSSYS_FATAL, "UGH: No create file routine defined for format [%s]!\n",
               imgio_handle_format(handle));
    free_handle(handle);
    return nullptr;
  }
  if (!create(handle)) {
    messprintf(IMSSYS_INFO, "ERROR: Failed to create file [%s] format [%s]\n", handle->file_name,
               imgio_handle_format(handle));
    free_handle(handle);
    return nullptr;
  }
  return handle;
}

int closeimg(imginfo* handle) {
  if (!handle) return 1;
  int result = 0;
  const imgop close = ops_of(handle).Closef;
  if (!close) {
    messprintf(IMSSYS_FATAL, "UGH: No close file routine defined for format [%s]!\n",
               imgio_handle_format(handle));
    result = 1;
  } else if (!close(handle)) {
    messprintf(IMSSYS_INFO, "ERROR: Failed to close file [%s] format [%s]\n", handle->file_name,
               imgio_handle_format(handle));
    result = 1;
  }
  // Released in every case: a close that failed has nothing left to retry.
  free_handle(handle);
  return result;
}

int readline(imginfo* handle, unsigned int* line) {
  if (!handle || !line) return 1;
  return handle->scaled ? imgio_scaled_read(handle, line, false) : read_unscaled(handle, line, false);
}

int readline16(imginfo* handle, unsigned short* line) {
  if (!handle || !line) return 1;
  return handle->scaled ? imgio_scaled_read(handle, line, true) : read_unscaled(handle, line, true);
}

int writeline(imginfo* handle, unsigned int* line) {
  if (!handle || !line) return 1;
  return write_common(handle, line, false);
}

int writeline16(imginfo* handle, unsigned short* line) {
  if (!handle || !line) return 1;
  return write_common(handle, line, true);
}

int imgio_seek_to(imginfo* handle, int line) {
  const imgop seek = ops_of(handle).SeekTo;
  if (!seek) {
    messprintf(IMSSYS_FATAL, "UGH: No seek to line routine defined for format [%s]!\n",
               imgio_handle_format(handle));
    return 1;
  }
  handle->seek_line = line;
  if (!seek(handle)) {
    messprintf(IMSSYS_INFO, "ERROR: Failed to seek to line [%d] in file [%s] format [%s]\n", line,
               handle->file_name, imgio_handle_format(handle));
    return 1;
  }
  return 0;
}

int seekline(imginfo* handle, int line) {
  if (!handle) return 1;
  if (handle->mode != IMGIO_READ) {
    messprintf(IMSSYS_INFO, "ERROR: Attempt to seek in file opened for write.\n");
    return 1;
  }
  if (!handle->seekable) {
    messprintf(IMSSYS_INFO, "ERROR: Attempt to seek in file not made seekable.\n");
    return 1;
  }
  if (line < 0 || line >= handle->file_height) {
    // Past the end, so every read until the next seek yields zeros rather
    // than the line at the driver's old position.
    handle->current_line = handle->file_height;
    return 0;
  }
  if (imgio_seek_to(handle, line) != 0) return 1;
  handle->current_line = line - 1;
  return 0;
}

int makeseekable(imginfo* handle) {
  if (!handle) return 1;
  if (handle->mode != IMGIO_READ) {
    messprintf(IMSSYS_INFO, "ERROR: Attempt to make seekable a file opened for write.\n");
    return 1;
  }
  const imgop make = ops_of(handle).MakeSeek;
  if (!make) {
    messprintf(IMSSYS_FATAL, "UGH: No make seekable routine defined for format [%s]!\n",
               imgio_handle_format(handle));
    return 1;
  }
  // A driver that fails drops whatever table it had: the handle must not
  // go on seeking through it.
  handle->seekable = make(handle) ? 1 : 0;
  if (!handle->seekable) {
    messprintf(IMSSYS_INFO, "ERROR: Failed to make image [%s] seekable, format [%s]\n",
               handle->file_name, imgio_handle_format(handle));
    return 1;
  }
  return 0;
}

int invertscaled(imginfo* handle) {
  if (!handle) return 1;
  if (handle->mode != IMGIO_READ) {
    messprintf(IMSSYS_INFO, "ERROR: Attempt to set invertscaled on file opened for write.\n");
    return 1;
  }
  if (!handle->scaled) {
    messprintf(IMSSYS_INFO,
               "ERROR: Attempt to set invertscaled on file not opened with openimgscaled.\n");
    return 1;
  }
  if (makeseekable(handle) != 0) {
    messprintf(IMSSYS_FATAL, "UGH: Failed to make image line seekable.\n");
    return 1;
  }
  handle->invert = 1;
  handle->invert_line = handle->file_height - 1;
  return 0;
}

unsigned int* createline(int width) { return static_cast<unsigned int*>(zeroed_block(width, 4, false)); }

unsigned short* createline16(int width) {
  return static_cast<unsigned short*>(zeroed_block(width, 8, false));
}

unsigned int* createbuffer(int width, int height) {
  if (height < 1) return nullptr;
  return static_cast<unsigned int*>(zeroed_block(static_cast<int64_t>(width) * height, 4, true));
}

unsigned short* createbuffer16(int width, int height) {
  if (height < 1) return nullptr;
  return static_cast<unsigned short*>(zeroed_block(static_cast<int64_t>(width) * height, 8, true));
}

void destroybuffer(unsigned int* buffer) {
  if (buffer) q4_image_free_c(buffer, __FILE__, __LINE__);
}

void destroybuffer16(unsigned short* buffer) {
  if (buffer) q4_image_free_c(buffer, __FILE__, __LINE__);
}
