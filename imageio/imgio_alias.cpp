// Alias pix files.
#include "imgio_alias.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "imgio_fields.h"

namespace {

const int kHeader = 10;

struct alias_record {
  FILE* file;
  int width, height, x_offset, y_offset, bits;
  unsigned char* red;
  unsigned char* green;
  unsigned char* blue;
  unsigned char* packed;
};

alias_record* record_of(imginfo* h) { return static_cast<alias_record*>(h->driver); }

void release(alias_record* r) {
  if (!r) return;
  if (r->file) fclose(r->file);
  imgio_free(r->red);
  imgio_free(r->green);
  imgio_free(r->blue);
  imgio_free(r->packed);
  imgio_free(r);
}

int fail(imginfo* h, alias_record* r) {
  release(r);
  h->driver = nullptr;
  return 0;
}

bool allocate_lines(alias_record* r, int width) {
  r->red = static_cast<unsigned char*>(imgio_zalloc(width, 1));
  r->green = static_cast<unsigned char*>(imgio_zalloc(width, 1));
  r->blue = static_cast<unsigned char*>(imgio_zalloc(width, 1));
  r->packed = static_cast<unsigned char*>(imgio_zalloc(width, 4));
  return r->red && r->green && r->blue && r->packed;
}

template <typename Source>
int decode_line(Source& in, unsigned char* red, unsigned char* green, unsigned char* blue, int width, int bits) {
  const size_t packet = bits == 8 ? 2 : 4;
  for (int x = 0; x < width;) {
    unsigned char p[4];
    if (!in.read(p, packet)) return 0;
    const int count = p[0] ? p[0] : 1;
    if (count > width - x) {
      if (bits != 8) {
        printf("ALIAS: Bad line elngth!\n");
        fflush(stdout);
      }
      // The pixels no packet reached are black, not what an earlier line
      // left in the buffers: a line reads the same in order and after a seek.
      for (unsigned char* c : {red, green, blue}) memset(c + x, 0, size_t(width - x));
      return 1;
    }
    for (int i = 0; i < count; ++i, ++x) {
      if (bits == 8) {
        red[x] = green[x] = blue[x] = p[1];
      } else {
        blue[x] = p[1];
        green[x] = p[2];
        red[x] = p[3];
      }
    }
  }
  return 1;
}

bool read_line(imginfo* h) {
  alias_record* r = record_of(h);
  imgio_file_source in{r->file};
  return decode_line(in, r->red, r->green, r->blue, h->file_width, r->bits) != 0;
}

}  // namespace

int getalias(const unsigned char* in, size_t size, size_t* used, unsigned char* red, unsigned char* green,
             unsigned char* blue, int width, int bits) {
  imgio_span_source source{in, size, *used};
  const int ok = decode_line(source, red, green, blue, width, bits);
  *used = source.pos;
  return ok;
}

int putalias(unsigned char* packed, FILE* file, const unsigned char* red, const unsigned char* green,
             const unsigned char* blue, int width) {
  size_t size = 0;
  const auto colour = [&](int x) { return uint32_t(blue[x]) | uint32_t(green[x]) << 8 | uint32_t(red[x]) << 16; };
  for (int x = 0; x < width;) {
    int count = 1;
    while (x + count < width && count < 255 && colour(x + count) == colour(x)) ++count;
    packed[size++] = static_cast<unsigned char>(count);
    packed[size++] = blue[x];
    packed[size++] = green[x];
    packed[size++] = red[x];
    x += count;
  }
  return imgio_write_exact(file, packed, size) ? 1 : 0;
}

int AliasOpenf(imginfo* h) {
  alias_record* r = static_cast<alias_record*>(imgio_zalloc(1, sizeof(alias_record)));
  if (!r) return 0;
  h->driver = r;
  unsigned char p[kHeader];
  r->file = fopen(h->file_name, "r");
  if (!r->file || !imgio_read_exact(r->file, p, kHeader)) return fail(h, r);
  r->width = static_cast<int>(imgio_be16(p));
  r->height = static_cast<int16_t>(imgio_be16(p + 2));
  r->x_offset = static_cast<int16_t>(imgio_be16(p + 4));
  r->y_offset = static_cast<int16_t>(imgio_be16(p + 6));
  r->bits = static_cast<int>(imgio_be16(p + 8));
  if (r->bits != 8 && r->bits != 24) {
    imgio_refuse(h->file_name, "ALIAS", "%d bits per pixel", r->bits);
    return fail(h, r);
  }
  if (!imgsizeok(r->width, r->height)) {
    imgio_refuse(h->file_name, "ALIAS", "size %dx%d out of range", r->width, r->height);
    return fail(h, r);
  }
  if (!allocate_lines(r, r->width)) return fail(h, r);
  h->file_width = r->width;
  h->file_height = r->height;
  h->bits16 = 0;
  return 1;
}

int AliasCreatef(imginfo* h) {
  if (h->file_width > 65535 || h->file_height > 32767)
    return imgio_refuse(h->file_name, "ALIAS", "size %dx%d beyond the header fields", h->file_width, h->file_height);
  alias_record* r = static_cast<alias_record*>(imgio_zalloc(1, sizeof(alias_record)));
  if (!r) return 0;
  h->driver = r;
  r->width = h->file_width;
  r->height = h->file_height;
  r->bits = 24;
  unsigned char p[kHeader] = {};
  imgio_put_be16(p, r->width);
  imgio_put_be16(p + 2, r->height);
  imgio_put_be16(p + 8, 24);
  r->file = fopen(h->file_name, "w+");
  if (!r->file || !imgio_write_exact(r->file, p, kHeader) || !allocate_lines(r, r->width)) return fail(h, r);
  return 1;
}

int AliasReadl(imginfo* h) {
  if (!read_line(h)) return 0;
  const alias_record* r = record_of(h);
  for (int x = 0; x < h->file_width; ++x)
    h->line[x] = uint32_t(r->red[x]) | uint32_t(r->green[x]) << 8 | uint32_t(r->blue[x]) << 16 | 0xFF000000u;
  return 1;
}

int AliasReadl16(imginfo* h) {
  if (!read_line(h)) return 0;
  const alias_record* r = record_of(h);
  for (int x = 0; x < h->file_width; ++x) {
    unsigned short* p = h->line16 + 4 * x;
    p[0] = static_cast<unsigned short>(r->red[x] * 257);
    p[1] = static_cast<unsigned short>(r->green[x] * 257);
    p[2] = static_cast<unsigned short>(r->blue[x] * 257);
    p[3] = 65535;
  }
  return 1;
}

int AliasWritel(imginfo* h) {
  alias_record* r = record_of(h);
  for (int x = 0; x < h->file_width; ++x) {
    const uint32_t p = h->line[x];
    r->red[x] = static_cast<unsigned char>(p);
    r->green[x] = static_cast<unsigned char>(p >> 8);
    r->blue[x] = static_cast<unsigned char>(p >> 16);
  }
  return putalias(r->packed, r->file, r->red, r->green, r->blue, h->file_width);
}

int AliasWritel16(imginfo* h) {
  alias_record* r = record_of(h);
  for (int x = 0; x < h->file_width; ++x) {
    const unsigned short* p = h->line16 + 4 * x;
    r->red[x] = static_cast<unsigned char>(p[0] >> 8);
    r->green[x] = static_cast<unsigned char>(p[1] >> 8);
    r->blue[x] = static_cast<unsigned char>(p[2] >> 8);
  }
  return putalias(r->packed, r->file, r->red, r->green, r->blue, h->file_width);
}

int AliasClosef(imginfo* h) { return imgio_close_record(h, release); }

int AliasReadb(imginfo* h) { return imgio_read_whole(h, alias_driver, false); }
int AliasReadb16(imginfo* h) { return imgio_read_whole(h, alias_driver, true); }
int AliasWriteb(imginfo* h) { return imgio_write_whole(h, alias_driver, false); }
int AliasWriteb16(imginfo* h) { return imgio_write_whole(h, alias_driver, true); }

int AliasMakeSeek(imginfo* h) {
  const auto* r = record_of(h);
  return r ? imgio_scan_line_offsets(h, r->file, kHeader, read_line) : 0;
}

int AliasSeekTo(imginfo* h) {
  const auto* r = record_of(h);
  return r ? imgio_seek_scanned_line(h, r->file) : 0;
}

const imgio_driver alias_driver = {AliasOpenf,   AliasCreatef, AliasReadl,  AliasWritel,   AliasReadl16,
                                   AliasWritel16, AliasClosef, AliasReadb,  AliasWriteb,   AliasReadb16,
                                   AliasWriteb16, nullptr,     AliasMakeSeek, AliasSeekTo};
