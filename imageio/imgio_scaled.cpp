// Scaled reading: two file lines and four float rows. Each delivered line
// gathers step_y file lines vertically, then step_x columns horizontally,
// with the same area rule in both directions.
#include <cstring>
#include <utility>

#include "imgio_area.h"
#include "imgio_internal.h"
#include "imgio_messages.h"
#include "imgio_scaled.h"

namespace {

// 16-bit output truncates; the float rows carry rounding of a few parts in a
// million of full scale, which this slack absorbs so that a constant picture
// stays constant (8-bit output rounds from 0.49 up and needs none).
const double kSlack16 = 1.0 / 64.0;

const imgio_driver& ops_of(const imginfo* handle) { return imgsystem.formats[handle->format].ops; }

// Sample c of pixel x of an 8-bit or 16-bit line.
float sample_of(const void* line, bool deep, int x, int c) {
  if (deep) return static_cast<const unsigned short*>(line)[4 * x + c];
  return static_cast<float>((static_cast<const unsigned int*>(line)[x] >> (8 * c)) & 255u);
}

void* line_a(imginfo* handle, bool deep) {
  return deep ? static_cast<void*>(handle->scale_line16[0]) : handle->scale_line[0];
}

void* line_b(imginfo* handle, bool deep) {
  return deep ? static_cast<void*>(handle->scale_line16[1]) : handle->scale_line[1];
}

void swap_lines(imginfo* handle, bool deep) {
  if (deep)
    std::swap(handle->scale_line16[0], handle->scale_line16[1]);
  else
    std::swap(handle->scale_line[0], handle->scale_line[1]);
}

size_t line_bytes(const imginfo* handle, bool deep) {
  return static_cast<size_t>(handle->file_width) * (deep ? 8 : 4);
}

// Reads the next file line (or, inverted, the next one up) into line.
// Past the last line (inverted: past line 0) the last one read is repeated,
// as the horizontal pass repeats the last column: blending toward zeros
// there would darken the bottom rows of an enlarged picture; and the driver
// is not asked again for a line it gave. 0 on success.
int next_file_line(imginfo* handle, void* line, const void* last, bool deep) {
  bool past = handle->invert_line < 0;
  if (!handle->invert) {
    if (handle->current_line < handle->file_height) ++handle->current_line;
    past = handle->current_line < 0 || handle->current_line >= handle->file_height;
  }
  if (past) {
    if (last)
      memcpy(line, last, line_bytes(handle, deep));
    else
      memset(line, 0, line_bytes(handle, deep));
    return 0;
  }
  if (handle->invert) {
    const int wanted = handle->invert_line--;
    if (imgio_seek_to(handle, wanted) != 0) return 1;
    handle->current_line = wanted;
  }
  if (deep) {
    handle->line16 = static_cast<unsigned short*>(line);
    return ops_of(handle).Readl16(handle) ? 0 : 1;
  }
  handle->line = static_cast<unsigned int*>(line);
  return ops_of(handle).Readl(handle) ? 0 : 1;
}

// acc += weight * (B + (A - B) * have_y) for every sample of the line pair.
void accumulate(imginfo* handle, float weight, bool deep) {
  const void* a = line_a(handle, deep);
  const void* b = line_b(handle, deep);
  const float have = handle->have_y;
  for (int c = 0; c < 4; ++c) {
    float* acc = handle->scale_acc[c];
    for (int x = 0; x < handle->file_width; ++x) {
      const float va = sample_of(a, deep, x, c);
      const float vb = sample_of(b, deep, x, c);
      acc[x] += weight * (vb + (va - vb) * have);
    }
  }
}

void clear_accumulators(imginfo* handle) {
  for (float* acc : handle->scale_acc) memset(acc, 0, sizeof(float) * handle->file_width);
}

void deliver(imginfo* handle, void* line, bool deep) {
  if (!deep) memset(line, 0, static_cast<size_t>(handle->width) * 4);
  for (int c = 0; c < 4; ++c) {
    const float* acc = handle->scale_acc[c];
    const auto sample = [acc](int x) { return acc[x]; };
    if (deep) {
      unsigned short* out = static_cast<unsigned short*>(line);
      imgio_area_pass(sample, handle->file_width, handle->width, handle->scale_x, handle->step_x,
                      [out, c](int k, double value) {
                        out[4 * k + c] = static_cast<unsigned short>(static_cast<int>(value + kSlack16));
                      });
    } else {
      unsigned int* out = static_cast<unsigned int*>(line);
      imgio_area_pass(sample, handle->file_width, handle->width, handle->scale_x, handle->step_x,
                      [out, c](int k, double value) {
                        const unsigned byte = static_cast<unsigned>(static_cast<int>(value + 0.49)) & 255u;
                        out[k] |= byte << (8 * c);
                      });
    }
  }
}

}  // namespace

void imgio_scaled_start(imginfo* handle, int width, int height) {
  handle->width = width;
  handle->height = height;
  handle->scale_y = static_cast<float>(height) / static_cast<float>(handle->file_height);
  handle->step_y = 1.0f / handle->scale_y;
  handle->need_y = handle->step_y;
  handle->have_y = 1.0f;
  handle->scale_x = static_cast<float>(width) / static_cast<float>(handle->file_width);
  handle->step_x = 1.0f / handle->scale_x;
}

int imgio_scaled_read(imginfo* handle, void* line, bool deep) {
  if (handle->mode != IMGIO_READ) {
    messprintf(IMSSYS_INFO, "ERROR: Attempt to read from file opened for write.\n");
    return 1;
  }
  if (!(deep ? ops_of(handle).Readl16 : ops_of(handle).Readl)) {
    messprintf(IMSSYS_FATAL,
               deep ? "UGH: No 16-bit read line routine defined for format [%s]!\n"
                    : "UGH: No read line routine defined for format [%s]!\n",
               imgio_handle_format(handle));
    return 1;
  }
  if (handle->current_line < 0) {
    if (next_file_line(handle, line_a(handle, deep), nullptr, deep) != 0 ||
        next_file_line(handle, line_b(handle, deep), line_a(handle, deep), deep) != 0) {
      messprintf(IMSSYS_INFO,
                 deep ? "ERROR: Failed to read lines 0 or 1 from [%s] format [%s]\n"
                      : "ERROR: Failed to read initial lines from [%s] format [%s]\n",
                 handle->file_name, imgio_handle_format(handle));
      clear_accumulators(handle);
      return 1;
    }
  }
  while (handle->need_y > handle->have_y) {
    accumulate(handle, handle->have_y, deep);
    handle->need_y -= handle->have_y;
    handle->have_y = 1.0f;
    swap_lines(handle, deep);
    if (handle->current_line >= handle->file_height - 1) {
      memcpy(line_b(handle, deep), line_a(handle, deep), line_bytes(handle, deep));
    } else if (next_file_line(handle, line_b(handle, deep), line_a(handle, deep), deep) != 0) {
      messprintf(IMSSYS_INFO, "ERROR: Failed to read line %d from [%s] format [%s]\n",
                 handle->current_line, handle->file_name, imgio_handle_format(handle));
      clear_accumulators(handle);
      return 1;
    }
  }
  accumulate(handle, handle->need_y, deep);
  for (float* acc : handle->scale_acc)
    for (int x = 0; x < handle->file_width; ++x) acc[x] *= handle->scale_y;
  handle->have_y -= handle->need_y;
  handle->need_y = handle->step_y;
  deliver(handle, line, deep);
  clear_accumulators(handle);
  return 0;
}
