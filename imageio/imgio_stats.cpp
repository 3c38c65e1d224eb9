// What an open image holds: its header, statistics and a point-sampled
// summary.
#include <algorithm>
#include <cstdio>

#include "imgio_internal.h"
#include "imgio_messages.h"
#include "imgio_utils.h"
#include "q4_memory.h"

namespace {

// A read handle, seekable, not scaled; false with the messages otherwise.
bool whole_file_readable(imginfo* handle, const char* not_read, const char* scaled) {
  if (!handle) return false;
  if (handle->mode != IMGIO_READ) {
    messprintf(IMSSYS_INFO, "%s", not_read);
    return false;
  }
  if (!handle->seekable && makeseekable(handle) != 0) return false;
  if (handle->scaled) {
    messprintf(IMSSYS_INFO, "%s", scaled);
    return false;
  }
  return true;
}

int channel(const void* line, bool deep, int x, int c) {
  if (deep) return static_cast<const unsigned short*>(line)[4 * x + c];
  return static_cast<int>((static_cast<const unsigned int*>(line)[x] >> (8 * c)) & 255u);
}

void report_no_memory() { messprintf(IMSSYS_FATAL, "ERROR: Couldn't allocate space for image info.\n"); }

}  // namespace

int showheader(imginfo* handle) {
  if (!handle) return 1;
  messprintf(IMSSYS_INFO, "\nGeneric Image File Information\n");
  messprintf(IMSSYS_INFO, "==============================\n");
  messprintf(IMSSYS_INFO, "      Name: %s\n", imgio_handle_file(handle));
  messprintf(IMSSYS_INFO, "    Format: %s\n", imgio_handle_format(handle));
  messprintf(IMSSYS_INFO, "      Size: %d x %d\n", handle->file_width, handle->file_height);
  if (handle->scaled) messprintf(IMSSYS_INFO, " Scaled to: %d x %d\n", handle->width, handle->height);
  messprintf(IMSSYS_INFO, handle->bits16 ? " Precision: 16 bits/channel\n" : " Precision: 8 bits/channel\n");
  messprintf(IMSSYS_INFO, handle->mode == IMGIO_WRITE ? "  Open for: write\n" : "  Open for: read\n");
  fflush(stdout);
  const imgop header = imgsystem.formats[handle->format].ops.Sheader;
  if (header) {
    if (!header(handle)) {
      messprintf(IMSSYS_INFO, "ERROR: Failed to display format specific header information.\n");
      return 1;
    }
  } else {
    messprintf(IMSSYS_INFO, "\n");
  }
  fflush(stdout);
  return 0;
}

imgstats* statsimg(imginfo* handle) {
  if (!whole_file_readable(handle, "ERROR: Image to get statistics for not open for read.\n",
                           "ERROR: Cannot get statistics for image opened for scaled read.\n"))
    return nullptr;
  // From the first line whatever the caller read before.
  if (seekline(handle, 0) != 0) return nullptr;
  const bool deep = handle->bits16 != 0;
  const int width = handle->file_width;
  void* line = deep ? static_cast<void*>(createline16(width)) : createline(width);
  imgstats* stats = static_cast<imgstats*>(q4_malloc_c(sizeof(imgstats), __FILE__, __LINE__));
  if (!line || !stats) {
    report_no_memory();
    if (line) q4_free_c(line, __FILE__, __LINE__);
    if (stats) q4_free_c(stats, __FILE__, __LINE__);
    return nullptr;
  }
  int32_t low[4] = {0, 0, 0, 0}, high[4] = {0, 0, 0, 0};
  int64_t sum[4] = {0, 0, 0, 0};
  uint32_t count = 0;
  bool ok = true;
  for (int y = 0; y < handle->file_height && ok; ++y) {
    ok = (deep ? readline16(handle, static_cast<unsigned short*>(line))
               : readline(handle, static_cast<unsigned int*>(line))) == 0;
    for (int x = 0; x < width && ok; ++x) {
      for (int c = 0; c < 4; ++c) {
        const int32_t v = channel(line, deep, x, c);
        if (count == 0) {
          low[c] = high[c] = v;
        } else if (v < low[c]) {
          low[c] = v;
        } else if (v > high[c]) {
          high[c] = v;
        }
        sum[c] += v;
      }
      ++count;
    }
  }
  q4_free_c(line, __FILE__, __LINE__);
  if (!ok || seekline(handle, 0) != 0) {
    q4_free_c(stats, __FILE__, __LINE__);
    return nullptr;
  }
  int32_t* bounds[4][2] = {{&stats->r_min, &stats->r_max},
                           {&stats->g_min, &stats->g_max},
                           {&stats->b_min, &stats->b_max},
                           {&stats->a_min, &stats->a_max}};
  double* means[4] = {&stats->r_mean, &stats->g_mean, &stats->b_mean, &stats->a_mean};
  for (int c = 0; c < 4; ++c) {
    *bounds[c][0] = low[c];
    *bounds[c][1] = high[c];
    *means[c] = count > 0 ? static_cast<double>(sum[c]) / count : static_cast<double>(sum[c]);
  }
  stats->count = count;
  return stats;
}

unsigned int* readsummaryimg(imginfo* handle, int width, int height) {
  if (!whole_file_readable(handle, "ERROR: Image to summarize not open for read.\n",
                           "ERROR: Cannot summarize image opened for scaled read.\n"))
    return nullptr;
  if (width < 1 || height < 1) return nullptr;
  const int file_width = handle->file_width;
  const int file_height = handle->file_height;
  unsigned int* summary = createbuffer(width, height);
  unsigned int* line = createline(file_width);
  int* columns = static_cast<int*>(q4_malloc_c(sizeof(int) * width, __FILE__, __LINE__));
  bool ok = summary && line && columns;
  if (!ok) report_no_memory();
  for (int i = 0; ok && i < width; ++i)
    columns[i] = static_cast<int>(std::min<int64_t>(int64_t(i) * file_width / width, file_width - 1));
  for (int r = 0, previous = -1; ok && r < height; ++r) {
    const int y = static_cast<int>(std::min<int64_t>(int64_t(r) * file_height / height, file_height - 1));
    if (y != previous) {
      const int file_line = handle->line_order == IMGIO_BOTTOM_FIRST ? y : file_height - 1 - y;
      ok = seekline(handle, file_line) == 0 && readline(handle, line) == 0;
      previous = y;
    }
    unsigned int* row = summary + int64_t(r) * width;
    for (int i = 0; ok && i < width; ++i) row[i] = line[columns[i]];
  }
  if (line) q4_free_c(line, __FILE__, __LINE__);
  if (columns) q4_free_c(columns, __FILE__, __LINE__);
  if (!ok || seekline(handle, 0) != 0) {
    destroybuffer(summary);
    return nullptr;
  }
  return summary;
}
