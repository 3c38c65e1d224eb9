// YUV frame files through the image-file library: the first two bytes
// choose the frame size the settings give, the rest is the file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "imgio.h"
#include "imgio_messages.h"
#include "imgio_utils.h"
#include "imgio_yuv.h"
#include "q4_memory.h"

namespace {

// Plain storage: a std::string would be destroyed before the removal at
// exit runs.
char folder[4096];
char input[4096 + 16];
char output[4096 + 16];

void remove_folder() {
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

void set_up() {
  if (folder[0]) return;
  const std::string pattern = (std::filesystem::temp_directory_path() / "q4fuzz-yuv-XXXXXX").string();
  if (pattern.size() >= sizeof folder) abort();
  strcpy(folder, pattern.c_str());
  if (!mkdtemp(folder)) abort();
  snprintf(input, sizeof input, "%s/input.yuv", folder);
  snprintf(output, sizeof output, "%s/output.yuv", folder);
  atexit(remove_folder);
}

int discard(imssys*) { return 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  set_up();
  messsetproc(discard);
  FILE* file = fopen(input, "wb");
  if (!file) abort();
  if (size > 2 && fwrite(data + 2, 1, size - 2, file) != size - 2) abort();
  fclose(file);
  initimg();
  // Sizes around the limits, odd and even alike.
  char line_size[16], lines[16];
  snprintf(line_size, sizeof line_size, "%d", data[0] % 20 - 2);
  snprintf(lines, sizeof lines, "%d", data[1] % 10 - 1);
  setkeyval("IMGIO_YUV_LINESIZE", line_size);
  setkeyval("IMGIO_YUV_LINES", lines);
  setkeyval("IMGIO_YUV_FILTER", data[1] & 128 ? "yes" : "no");
  if (setimageformat("yuv") != 0) abort();
  if (imginfo* h = openimg(input)) {
    unsigned short* line16 = createline16(h->width);
    unsigned int* line = createline(h->width);
    if (!line || !line16) abort();
    for (int y = 0; y <= h->height; ++y) readline16(h, line16);
    if (makeseekable(h) == 0) seekline(h, 0);
    readline(h, line);
    q4_free_c(line, __FILE__, __LINE__);
    q4_free_c(line16, __FILE__, __LINE__);
    closeimg(h);
  }
  int width = 0, height = 0;
  if (unsigned int* image = readbuf(input, &width, &height)) {
    // What was read is written again at the same size: a frame of the same
    // length.
    if (writebuf(image, width, height, output) != 0) abort();
    destroybuffer(image);
  }
  finishimg();
  return 0;
}
