// SGI driver: each line is three rows, red, green and blue, read and
// written at their own offsets by the library. A file of one channel reads
// as grey; a 3-D file of fewer than three channels repeats its last one.
#include "imgio_sgi.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "imgio_driver_support.h"
#include "imgio_messages.h"
#include "imgio_whole_lines.h"
#include "q4_memory.h"
#include "sgi_image.h"

namespace {

struct SgiRecord {
  SgiImage* image;
  uint16_t* rows[3];  // red, green, blue: file_width values each
};

SgiRecord* record(imginfo* h) { return static_cast<SgiRecord*>(h->driver); }

// Releases the record; the image must be closed already.
void release(imginfo* h) {
  SgiRecord* r = record(h);
  if (!r) return;
  for (uint16_t* row : r->rows)
    if (row) q4_free_c(row, __FILE__, __LINE__);
  if (r->image) q4_free_c(r->image, __FILE__, __LINE__);
  q4_free_c(r, __FILE__, __LINE__);
  h->driver = nullptr;
}

// The library's text, bounded, as the driver's message.
void report(int level) {
  const char* text = g_errbuf[0] ? g_errbuf : "unknown failure\n";
  messprintf(level, "SGI: %.*s", 120, text);
}

// A record with the image and its three rows; false (all released) when
// the rows cannot be had.
bool attach(imginfo* h, SgiImage* image) {
  SgiRecord* r = static_cast<SgiRecord*>(q4_calloc_c(1, sizeof(SgiRecord), __FILE__, __LINE__));
  bool ok = r != nullptr;
  for (int c = 0; ok && c < 3; ++c)
    ok = (r->rows[c] = static_cast<uint16_t*>(q4_malloc_c(image->xsize * 2u, __FILE__, __LINE__))) != nullptr;
  h->driver = r;
  if (r) r->image = image;
  if (!ok) {
    messprintf(IMSSYS_FATAL, "SGI: Cannot allocate rows for %s\n", h->file_name);
    iclose(image);
    if (!r) q4_free_c(image, __FILE__, __LINE__);
    release(h);
  }
  return ok;
}

int SgiOpenf(imginfo* h) {
  SgiImage* image = iopen(h->file_name, "r", 0, 0, 0, 0, 0);
  if (!image) {
    report(IMSSYS_INFO);
    return 0;
  }
  if (!imgio_dimensions_ok(image->xsize, image->ysize)) {
    messprintf(IMSSYS_INFO, "SGI: Bad image size %ux%u.\n", image->xsize, image->ysize);
    iclose(image);
    q4_free_c(image, __FILE__, __LINE__);
    return 0;
  }
  if (!attach(h, image)) return 0;
  h->file_width = image->xsize;
  h->file_height = image->ysize;
  h->bits16 = (image->type & 0xff) == 2;
  return 1;
}

int SgiCreatef(imginfo* h) {
  if (h->file_width > 65535 || h->file_height > 65535) {
    messprintf(IMSSYS_INFO, "SGI: Image of %dx%d is too large for an SGI file.\n", h->file_width,
               h->file_height);
    return 0;
  }
  SgiImage* image = iopen(h->file_name, "w", SGI_RLE | 1, 3, h->file_width, h->file_height, 3);
  if (!image) {
    report(IMSSYS_INFO);
    return 0;
  }
  return attach(h, image) ? 1 : 0;
}

// The three rows of file line current_line: channel min(c, zsize - 1) of a
// 3-D file, channel 0 of any other.
bool read_rows(imginfo* h) {
  SgiRecord* r = record(h);
  if (!r) return false;
  SgiImage* image = r->image;
  unsigned previous = ~0u;
  for (int c = 0; c < 3; ++c) {
    const unsigned z = image->dim < 3 ? 0 : std::min<unsigned>(c, image->zsize - 1u);
    if (z == previous) {
      memcpy(r->rows[c], r->rows[c - 1], image->xsize * 2u);
    } else if (getrow(image, r->rows[c], h->current_line, z) < 0) {
      report(IMSSYS_INFO);
      return false;
    }
    previous = z;
  }
  return true;
}

int SgiReadl(imginfo* h) {
  if (!read_rows(h)) return 0;
  SgiRecord* r = record(h);
  // 2-byte values keep their high byte in 8-bit lines.
  const int shift = h->bits16 ? 8 : 0;
  const uint16_t *red = r->rows[0], *green = r->rows[1], *blue = r->rows[2];
  for (int x = 0; x < h->file_width; ++x)
    h->line[x] = unsigned(red[x] >> shift) | unsigned(green[x] >> shift) << 8 |
                 unsigned(blue[x] >> shift) << 16 | 0xFF000000u;
  return 1;
}

int SgiReadl16(imginfo* h) {
  if (!read_rows(h)) return 0;
  SgiRecord* r = record(h);
  const unsigned scale = h->bits16 ? 1 : 257;
  unsigned short* out = h->line16;
  for (int x = 0; x < h->file_width; ++x, out += 4) {
    out[0] = static_cast<unsigned short>(r->rows[0][x] * scale);
    out[1] = static_cast<unsigned short>(r->rows[1][x] * scale);
    out[2] = static_cast<unsigned short>(r->rows[2][x] * scale);
    out[3] = 65535;
  }
  return 1;
}

bool write_rows(imginfo* h) {
  SgiRecord* r = record(h);
  for (int c = 0; c < 3; ++c)
    if (putrow(r->image, r->rows[c], h->current_line, c) < 0) {
      report(IMSSYS_INFO);
      return false;
    }
  return true;
}

int SgiWritel(imginfo* h) {
  SgiRecord* r = record(h);
  if (!r) return 0;
  for (int x = 0; x < h->file_width; ++x) {
    const unsigned p = h->line[x];
    r->rows[0][x] = p & 255;
    r->rows[1][x] = (p >> 8) & 255;
    r->rows[2][x] = (p >> 16) & 255;
  }
  return write_rows(h) ? 1 : 0;
}

int SgiWritel16(imginfo* h) {
  SgiRecord* r = record(h);
  if (!r) return 0;
  const unsigned short* in = h->line16;
  for (int x = 0; x < h->file_width; ++x, in += 4)
    for (int c = 0; c < 3; ++c) r->rows[c][x] = in[c] >> 8;
  return write_rows(h) ? 1 : 0;
}

int SgiClosef(imginfo* h) {
  SgiRecord* r = record(h);
  if (!r) return 0;
  const bool closed = iclose(r->image) == 0;
  if (!closed) report(IMSSYS_INFO);
  release(h);
  return closed ? 1 : 0;
}

int SgiReadb(imginfo* h) { return imgio_whole_read(h, sgi_driver, false); }
int SgiReadb16(imginfo* h) { return imgio_whole_read(h, sgi_driver, true); }
int SgiWriteb(imginfo* h) { return imgio_whole_write(h, sgi_driver, false); }
int SgiWriteb16(imginfo* h) { return imgio_whole_write(h, sgi_driver, true); }
// Every row is found at its own offset.
int SgiMakeSeek(imginfo*) { return 1; }
int SgiSeekTo(imginfo*) { return 1; }

}  // namespace

const imgio_driver sgi_driver = {SgiOpenf,   SgiCreatef, SgiReadl,  SgiWritel,   SgiReadl16,
                                 SgiWritel16, SgiClosef, SgiReadb, SgiWriteb,   SgiReadb16,
                                 SgiWriteb16, nullptr,   SgiMakeSeek, SgiSeekTo};
