// Targa driver: the picture lives in memory as the Targa library's image of
// four bytes a pixel, bottom row first, which is the handle's line order;
// lines follow the driver's own row counter.
#include "imgio_targa.h"

#include <cstring>

#include "imgio_messages.h"
#include "imgio_whole_lines.h"
#include "libtarga.h"
#include "q4_memory.h"

namespace {

struct TargaRecord {
  unsigned char* image;  // R, G, B, A bytes a pixel
  int width;
  int height;
  int row;  // the row the next line operation transfers
  bool writing;
};

TargaRecord* record(imginfo* h) { return static_cast<TargaRecord*>(h->driver); }

void release(imginfo* h) {
  TargaRecord* r = record(h);
  if (!r) return;
  if (r->image) q4_image_free_c(r->image, __FILE__, __LINE__);
  q4_free_c(r, __FILE__, __LINE__);
  h->driver = nullptr;
}

TargaRecord* new_record(imginfo* h) {
  TargaRecord* r = static_cast<TargaRecord*>(q4_calloc_c(1, sizeof(TargaRecord), __FILE__, __LINE__));
  if (!r) messprintf(IMSSYS_FATAL, "Targa: Cannot allocate the image of %s\n", h->file_name);
  h->driver = r;
  return r;
}

int TargaOpenf(imginfo* h) {
  TargaRecord* r = new_record(h);
  if (!r) return 0;
  r->image = tga_load(h->file_name, &r->width, &r->height, TGA_TRUECOLOR_32);
  if (!r->image) {
    const int code = tga_get_last_error();
    if (code == TGA_NO_ERROR)
      messprintf(IMSSYS_FATAL, "Targa: Cannot allocate the image of %s\n", h->file_name);
    else
      messprintf(IMSSYS_INFO, "Targa: Cannot load %s: %s\n", h->file_name, tga_error_string(code));
    release(h);
    return 0;
  }
  h->file_width = r->width;
  h->file_height = r->height;
  h->bits16 = 0;
  return 1;
}

int TargaCreatef(imginfo* h) {
  // The header holds 16-bit sizes.
  if (h->file_width > 65535 || h->file_height > 65535) {
    messprintf(IMSSYS_INFO, "Targa: Image of %dx%d is too large for a Targa file.\n", h->file_width,
               h->file_height);
    return 0;
  }
  TargaRecord* r = new_record(h);
  if (!r) return 0;
  r->image = tga_create(h->file_width, h->file_height, TGA_TRUECOLOR_32);
  if (!r->image) {
    messprintf(IMSSYS_FATAL, "Targa: Cannot allocate the image of %s\n", h->file_name);
    release(h);
    return 0;
  }
  r->width = h->file_width;
  r->height = h->file_height;
  r->writing = true;
  return 1;
}

// The row the next line operation transfers, advancing the counter; null
// outside the image, the counter then unchanged.
unsigned char* next_row(imginfo* h) {
  TargaRecord* r = record(h);
  if (!r || r->row < 0 || r->row >= r->height) return nullptr;
  return r->image + size_t(r->row++) * r->width * 4;
}

int TargaReadl(imginfo* h) {
  const unsigned char* row = next_row(h);
  if (!row) return 0;
  memcpy(h->line, row, size_t(h->file_width) * 4);
  return 1;
}

int TargaReadl16(imginfo* h) {
  const unsigned char* row = next_row(h);
  if (!row) return 0;
  for (int i = 0; i < h->file_width * 4; ++i) h->line16[i] = static_cast<unsigned short>(row[i] << 8);
  return 1;
}

int TargaWritel(imginfo* h) {
  unsigned char* row = next_row(h);
  if (!row) return 0;
  memcpy(row, h->line, size_t(h->file_width) * 4);
  return 1;
}

int TargaWritel16(imginfo* h) {
  unsigned char* row = next_row(h);
  if (!row) return 0;
  for (int i = 0; i < h->file_width * 4; ++i) row[i] = static_cast<unsigned char>(h->line16[i] >> 8);
  return 1;
}

int TargaClosef(imginfo* h) {
  TargaRecord* r = record(h);
  if (!r) return 0;
  int ok = 1;
  if (r->writing) {
    const char* compress = getkeyval("IMGIO_TARGA_COMPRESS");
    const bool packets = compress && strcmp(compress, "yes") == 0;
    ok = packets ? tga_write_rle(h->file_name, r->width, r->height, r->image, TGA_TRUECOLOR_32)
                 : tga_write_raw(h->file_name, r->width, r->height, r->image, TGA_TRUECOLOR_32);
    if (!ok)
      messprintf(IMSSYS_INFO, "Targa: Cannot write %s: %s\n", h->file_name,
                 tga_error_string(tga_get_last_error()));
  }
  release(h);
  return ok;
}

int TargaReadb(imginfo* h) { return imgio_whole_read(h, targa_driver, false); }
int TargaReadb16(imginfo* h) { return imgio_whole_read(h, targa_driver, true); }
int TargaWriteb(imginfo* h) { return imgio_whole_write(h, targa_driver, false); }
int TargaWriteb16(imginfo* h) { return imgio_whole_write(h, targa_driver, true); }

int TargaSheader(imginfo* h) {
  if (!record(h)) return 0;
  messprintf(IMSSYS_INFO, "\nTarga Specific Image Information.\n");
  messprintf(IMSSYS_INFO, "=================================\n");
  return 1;
}

int TargaMakeSeek(imginfo* h) {
  h->seekable = 1;
  return 1;
}

int TargaSeekTo(imginfo* h) {
  TargaRecord* r = record(h);
  if (!r || !h->seekable || h->seek_line < 0 || h->seek_line >= h->file_height) return 0;
  r->row = h->seek_line;
  return 1;
}

}  // namespace

const imgio_driver targa_driver = {TargaOpenf,   TargaCreatef, TargaReadl,   TargaWritel,  TargaReadl16,
                                   TargaWritel16, TargaClosef,  TargaReadb,   TargaWriteb,  TargaReadb16,
                                   TargaWriteb16, TargaSheader, TargaMakeSeek, TargaSeekTo};
