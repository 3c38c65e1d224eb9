// Safe file access and whole-image loops shared by the drivers.
#include "imgio_fields.h"

#include <climits>
#include <cstdarg>
#include <cstring>

#include "imgio_messages.h"
#include "q4_memory.h"

bool imgio_read_exact(FILE* file, void* out, size_t bytes) {
  return bytes == 0 || fread(out, 1, bytes, file) == bytes;
}

bool imgio_read_at(FILE* file, int64_t offset, void* out, size_t bytes) {
  return offset >= 0 && offset <= LONG_MAX && fseek(file, static_cast<long>(offset), SEEK_SET) == 0 &&
         imgio_read_exact(file, out, bytes);
}

bool imgio_write_exact(FILE* file, const void* data, size_t bytes) {
  return bytes == 0 || fwrite(data, 1, bytes, file) == bytes;
}

int64_t imgio_file_size(FILE* file) {
  const long here = ftell(file);
  if (here < 0 || fseek(file, 0, SEEK_END) != 0) return -1;
  const long size = ftell(file);
  if (fseek(file, here, SEEK_SET) != 0) return -1;
  return size;
}

bool imgio_close_stream(FILE* file, bool ok) {
  if (!file) return ok;
  // Buffered data reaches the file only now: a full disk shows here.
  const bool flushed = fflush(file) == 0 && !ferror(file);
  const bool closed = fclose(file) == 0;
  return ok && flushed && closed;
}

int imgio_refuse(const char* file_name, const char* word, const char* why, ...) {
  char reason[72];
  va_list args;
  va_start(args, why);
  vsnprintf(reason, sizeof reason, why, args);
  va_end(args);
  const char* name = file_name ? file_name : "";
  // Long names keep their end, which tells the file apart.
  const size_t length = strlen(name);
  const int shown = 40;
  const char* tail = length > size_t(shown) ? name + length - shown : name;
  messprintf(IMSSYS_INFO, "ERROR: %s file [%.*s] refused: %s.\n", word, shown, tail, reason);
  return 0;
}

int imgio_read_whole(imginfo* handle, const imgio_driver& driver, bool deep) {
  if (!driver.Openf(handle)) return 0;
  const int width = handle->file_width;
  const int height = handle->file_height;
  unsigned int* whole = deep ? nullptr : createbuffer(width, height);
  unsigned short* whole16 = deep ? createbuffer16(width, height) : nullptr;
  bool ok = whole || whole16;
  for (int i = 0; ok && i < height; ++i) {
    const size_t row = static_cast<size_t>(imgio_buffer_row(handle, i)) * width;
    handle->current_line = i;
    if (deep)
      handle->line16 = whole16 + row * 4;
    else
      handle->line = whole + row;
    ok = (deep ? driver.Readl16 : driver.Readl)(handle) != 0;
  }
  ok = driver.Closef(handle) != 0 && ok;
  handle->line = ok ? whole : nullptr;
  handle->line16 = ok ? whole16 : nullptr;
  if (!ok) {
    destroybuffer(whole);
    destroybuffer16(whole16);
  }
  return ok ? 1 : 0;
}

int imgio_write_whole(imginfo* handle, const imgio_driver& driver, bool deep) {
  unsigned int* const whole = handle->line;
  unsigned short* const whole16 = handle->line16;
  if ((deep ? static_cast<void*>(whole16) : whole) == nullptr) return 0;
  handle->bits16 = deep;
  if (!driver.Createf(handle)) return 0;
  const int width = handle->file_width;
  bool ok = true;
  for (int i = 0; ok && i < handle->file_height; ++i) {
    const size_t row = static_cast<size_t>(imgio_buffer_row(handle, i)) * width;
    handle->current_line = i;
    if (deep)
      handle->line16 = whole16 + row * 4;
    else
      handle->line = whole + row;
    ok = (deep ? driver.Writel16 : driver.Writel)(handle) != 0;
  }
  handle->line = whole;
  handle->line16 = whole16;
  ok = driver.Closef(handle) != 0 && ok;
  return ok ? 1 : 0;
}

void* imgio_zalloc(int64_t count, int64_t size) {
  if (count < 1 || size < 1 || count > UINT_MAX / size) return nullptr;
  return q4_calloc_c(static_cast<unsigned>(count), static_cast<unsigned>(size), __FILE__, __LINE__);
}

void imgio_free(void* block) {
  if (block) q4_free_c(block, __FILE__, __LINE__);
}

int imgio_scan_line_offsets(imginfo* h, FILE* file, long start, bool (*read_line)(imginfo*)) {
  imgio_free(h->extra);
  int64_t* table = static_cast<int64_t*>(imgio_zalloc(h->file_height, sizeof(int64_t)));
  h->extra = table;
  // The walk ends where the handle's reading stands, whatever it met: lines
  // may have been read before, and a file cut short must read on as before.
  const long here = ftell(file);
  bool ok = table && here >= 0 && fseek(file, start, SEEK_SET) == 0;
  for (int y = 0; ok && y < h->file_height; ++y) {
    table[y] = ftell(file);
    ok = table[y] >= 0 && read_line(h);
  }
  ok = here >= 0 && fseek(file, here, SEEK_SET) == 0 && ok;
  if (!ok) {
    // A partial table would seek to offsets never found.
    imgio_free(table);
    h->extra = nullptr;
  }
  return ok ? 1 : 0;
}

int imgio_seek_scanned_line(imginfo* h, FILE* file) {
  const int64_t* table = static_cast<const int64_t*>(h->extra);
  if (!h->seekable || !table || h->seek_line < 0 || h->seek_line >= h->file_height) return 0;
  return fseek(file, static_cast<long>(table[h->seek_line]), SEEK_SET) == 0 ? 1 : 0;
}
