// YUV 4:2:2 frame files.
#include "imgio_yuv.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "imgio_fields.h"
#include "imgio_held.h"
#include "imgio_utils.h"
#include "q4_memory.h"

namespace {

unsigned char* frame_block(int line_size, int lines) {
  return static_cast<unsigned char*>(q4_image_malloc_c(unsigned(line_size) * lines * 2, __FILE__, __LINE__));
}
void free_frame(unsigned char* frame) {
  if (frame) q4_image_free_c(frame, __FILE__, __LINE__);
}

unsigned char clamp_byte(double v) {
  const int i = static_cast<int>(v);  // truncated toward zero
  return static_cast<unsigned char>(i < 0 ? 0 : i > 255 ? 255 : i);
}

// Studio range bytes of trunc(v * scale) + offset, at least 16.
unsigned char studio(double v, double scale, int offset) {
  const int i = static_cast<int>(v * scale) + offset;
  return static_cast<unsigned char>(i < 16 ? 16 : i > 255 ? 255 : i);
}

const double kChromaScale = 224.0 / 255.0;
const double kLumaScale = 219.0 / 255.0;
const double kChromaTaps[5] = {0.14963, 0.2201, 0.26054, 0.2201, 0.14963};
const double kLumaTaps[5] = {-0.05674, 0.01883, 1.07582, 0.01883, -0.05674};

// Five taps centred on x over a row of values; outside the row they are 0.
double filtered(const double* row, int width, int x, const double* taps) {
  double sum = 0.0;
  for (int k = -2; k <= 2; ++k)
    if (x + k >= 0 && x + k < width) sum += taps[k + 2] * row[x + k];
  return sum;
}

void code_row(const unsigned int* pixels, int width, bool filter, double* y, double* cr, double* cb,
              unsigned char* out) {
  for (int x = 0; x < width; ++x) {
    const double r = pixels[x] & 255u, g = pixels[x] >> 8 & 255u, b = pixels[x] >> 16 & 255u;
    y[x] = 0.299 * r + 0.587 * g + 0.114 * b;
    cr[x] = 0.4998 * r - 0.4185 * g - 0.0813 * b;
    cb[x] = -0.1686 * r - 0.3311 * g + 0.4997 * b;
  }
  for (int x = 0; x + 1 < width; x += 2) {
    const double u = filter ? filtered(cb, width, x, kChromaTaps) : cb[x];
    const double v = filter ? filtered(cr, width, x, kChromaTaps) : cr[x];
    const double y0 = filter ? filtered(y, width, x, kLumaTaps) : y[x];
    const double y1 = filter ? filtered(y, width, x + 1, kLumaTaps) : y[x + 1];
    unsigned char* p = out + 2 * x;
    p[0] = studio(u, kChromaScale, 128);
    p[1] = studio(y0, kLumaScale, 16);
    p[2] = studio(v, kChromaScale, 128);
    p[3] = studio(y1, kLumaScale, 16);
  }
}

bool write_frame(const unsigned int* image, int line_size, int lines, const char* path) {
  unsigned char* frame = frame_block(line_size, lines);
  double* rows = static_cast<double*>(imgio_zalloc(3 * int64_t(line_size), sizeof(double)));
  bool ok = frame && rows;
  if (ok) {
    const bool filter = [] {
      const char* value = getkeyval("IMGIO_YUV_FILTER");
      return value && strcmp(value, "yes") == 0;
    }();
    for (int r = 0; r < lines; ++r)
      code_row(image + size_t(r) * line_size, line_size, filter, rows, rows + line_size, rows + 2 * line_size,
               frame + size_t(lines - 1 - r) * line_size * 2);
    FILE* file = fopen(path, "w+");
    ok = file && imgio_close_stream(file, imgio_write_exact(file, frame, size_t(line_size) * lines * 2));
  }
  imgio_free(rows);
  free_frame(frame);
  return ok;
}

}  // namespace

unsigned int* readyuvimage(const char* path, int* width, int* height) {
  int line_size = 0, lines = 0;
  if (!path || !width || !height || !getyuvsize(&line_size, &lines) || !imgsizeok(line_size, lines)) return nullptr;
  FILE* file = fopen(path, "r");
  if (!file) return nullptr;
  unsigned char* frame = frame_block(line_size, lines);
  const bool read = frame && imgio_read_exact(file, frame, size_t(line_size) * lines * 2);
  fclose(file);
  unsigned int* image = read ? createbuffer(line_size, lines) : nullptr;
  if (image) {
    for (int y = 0; y < lines; ++y) {
      const unsigned char* p = frame + size_t(y) * line_size * 2;
      unsigned int* row = image + size_t(lines - 1 - y) * line_size;
      for (int x = 0; x < line_size; x += 2, p += 4) {
        const double cb = (p[0] - 128) / 224.0, cr = (p[2] - 128) / 224.0;
        for (int i = 0; i < 2; ++i) {
          const double l = (p[1 + 2 * i] - 16) / 219.0;
          const unsigned char r = clamp_byte((l + 0.00006 * cb + 1.402581 * cr) * 255.0);
          const unsigned char g = clamp_byte((l - 0.34437 * cb - 0.714407 * cr) * 255.0);
          const unsigned char b = clamp_byte((l + 1.77304 * cb - 0.00013 * cr) * 255.0);
          row[x + i] = unsigned(r) | unsigned(g) << 8 | unsigned(b) << 16 | 0xFF000000u;
        }
      }
    }
    *width = line_size;
    *height = lines;
  }
  free_frame(frame);
  return image;
}

int writeyuvimage(const unsigned int* buffer, int width, int height, const char* path) {
  int line_size = 0, lines = 0;
  if (!buffer || !path || width < 1 || height < 1 || !getyuvsize(&line_size, &lines)) return 1;
  const unsigned int* image = buffer;
  unsigned int* resized = nullptr;
  if (width != line_size || height != lines) {
    resized = createbuffer(line_size, lines);
    if (!resized || resizeimage(buffer, width, height, resized, line_size, lines, 1) != 0) {
      destroybuffer(resized);
      return 1;
    }
    image = resized;
  }
  const bool ok = write_frame(image, line_size, lines, path);
  destroybuffer(resized);
  return ok ? 0 : 1;
}

int YuvOpenf(imginfo* h) { return imgio_held_open(h, readyuvimage); }
int YuvCreatef(imginfo* h) { return imgio_held_create(h); }
int YuvReadl(imginfo* h) { return imgio_held_readl(h); }
int YuvReadl16(imginfo* h) { return imgio_held_readl16(h); }
int YuvWritel(imginfo* h) { return imgio_held_writel(h); }
int YuvWritel16(imginfo* h) { return imgio_held_writel16(h); }

int YuvClosef(imginfo* h) {
  return imgio_held_close(h, [](const char* path, const unsigned int* pixels, int width, int height) {
    return writeyuvimage(pixels, width, height, path) == 0;
  });
}

int YuvReadb(imginfo* h) { return imgio_read_whole(h, yuv_driver, false); }
int YuvReadb16(imginfo* h) { return imgio_read_whole(h, yuv_driver, true); }
int YuvWriteb(imginfo* h) { return imgio_write_whole(h, yuv_driver, false); }
int YuvWriteb16(imginfo* h) { return imgio_write_whole(h, yuv_driver, true); }
int YuvMakeSeek(imginfo*) { return 1; }
int YuvSeekTo(imginfo*) { return 1; }

const imgio_driver yuv_driver = {YuvOpenf,   YuvCreatef, YuvReadl,   YuvWritel,   YuvReadl16,
                                 YuvWritel16, YuvClosef, YuvReadb,   YuvWriteb,   YuvReadb16,
                                 YuvWriteb16, nullptr,   YuvMakeSeek, YuvSeekTo};
