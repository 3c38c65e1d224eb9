// Whole images through a driver's line operations.
#include "imgio_whole_lines.h"

#include <cstddef>

namespace {

// The buffer row of file line i: buffers hold the picture from its bottom
// row up, whichever way the file runs.
size_t buffer_row(const imginfo* handle, int i) {
  const int row = handle->line_order == IMGIO_BOTTOM_FIRST ? i : handle->file_height - 1 - i;
  return static_cast<size_t>(row) * handle->file_width;
}

// Points the handle's line at row i of buffer.
void aim(imginfo* handle, void* buffer, int i, bool deep) {
  handle->current_line = i;
  if (deep)
    handle->line16 = static_cast<unsigned short*>(buffer) + 4 * buffer_row(handle, i);
  else
    handle->line = static_cast<unsigned int*>(buffer) + buffer_row(handle, i);
}

void hand_over(imginfo* handle, void* buffer, bool deep) {
  if (deep)
    handle->line16 = static_cast<unsigned short*>(buffer);
  else
    handle->line = static_cast<unsigned int*>(buffer);
}

}  // namespace

int imgio_whole_read(imginfo* handle, const imgio_driver& ops, bool deep) {
  hand_over(handle, nullptr, deep);
  if (!ops.Openf(handle)) return 0;
  const int width = handle->file_width, height = handle->file_height;
  void* buffer = deep ? static_cast<void*>(createbuffer16(width, height)) : createbuffer(width, height);
  const imgop read = deep ? ops.Readl16 : ops.Readl;
  bool ok = buffer != nullptr;
  for (int i = 0; ok && i < height; ++i) {
    aim(handle, buffer, i, deep);
    ok = read(handle) != 0;
  }
  // Closed whatever happened: the file and the driver's record go with it.
  ok = ops.Closef(handle) != 0 && ok;
  if (!ok) {
    if (deep)
      destroybuffer16(static_cast<unsigned short*>(buffer));
    else
      destroybuffer(static_cast<unsigned int*>(buffer));
    buffer = nullptr;
  }
  hand_over(handle, buffer, deep);
  return ok ? 1 : 0;
}

int imgio_whole_write(imginfo* handle, const imgio_driver& ops, bool deep) {
  void* buffer = deep ? static_cast<void*>(handle->line16) : handle->line;
  if (!ops.Createf(handle)) return 0;
  const imgop write = deep ? ops.Writel16 : ops.Writel;
  bool ok = true;
  for (int i = 0; ok && i < handle->file_height; ++i) {
    aim(handle, buffer, i, deep);
    ok = write(handle) != 0;
  }
  hand_over(handle, buffer, deep);
  ok = ops.Closef(handle) != 0 && ok;
  return ok ? 1 : 0;
}
