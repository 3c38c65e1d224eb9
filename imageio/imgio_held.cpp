#include "imgio_held.h"

#include <cstring>

#include "imgio_fields.h"

namespace {

struct held_record {
  unsigned int* buffer;
};

unsigned int* row_of(imginfo* h) {
  return static_cast<held_record*>(h->driver)->buffer + size_t(h->current_line) * h->file_width;
}

// A record holding the buffer the given call makes, or 0 when either fails.
template <typename Make>
int hold(imginfo* h, Make make) {
  held_record* r = static_cast<held_record*>(imgio_zalloc(1, sizeof(held_record)));
  if (!r) return 0;
  r->buffer = make();
  if (!r->buffer) {
    imgio_free(r);
    return 0;
  }
  h->driver = r;
  return 1;
}

}  // namespace

int imgio_held_open(imginfo* h, imgio_whole_reader read) {
  int width = 0, height = 0;
  if (!hold(h, [&] { return read(h->file_name, &width, &height); })) return 0;
  h->file_width = width;
  h->file_height = height;
  h->bits16 = 0;
  return 1;
}

int imgio_held_create(imginfo* h) {
  return hold(h, [h] { return createbuffer(h->file_width, h->file_height); });
}

int imgio_held_readl(imginfo* h) {
  memcpy(h->line, row_of(h), sizeof(unsigned int) * h->file_width);
  return 1;
}

int imgio_held_readl16(imginfo* h) {
  const unsigned int* row = row_of(h);
  for (int x = 0; x < h->file_width; ++x)
    for (int c = 0; c < 4; ++c) h->line16[4 * x + c] = static_cast<unsigned short>((row[x] >> (8 * c) & 255u) << 8);
  return 1;
}

int imgio_held_writel(imginfo* h) {
  memcpy(row_of(h), h->line, sizeof(unsigned int) * h->file_width);
  return 1;
}

int imgio_held_writel16(imginfo* h) {
  unsigned int* row = row_of(h);
  for (int x = 0; x < h->file_width; ++x) {
    const unsigned short* p = h->line16 + 4 * x;
    row[x] = unsigned(p[0] >> 8) | unsigned(p[1] >> 8) << 8 | unsigned(p[2] >> 8) << 16 | unsigned(p[3] >> 8) << 24;
  }
  return 1;
}

int imgio_held_close(imginfo* h, imgio_whole_writer write) {
  held_record* r = static_cast<held_record*>(h->driver);
  if (!r) return 0;
  const bool ok = h->mode != IMGIO_WRITE || write(h->file_name, r->buffer, h->file_width, h->file_height);
  destroybuffer(r->buffer);
  imgio_free(r);
  h->driver = nullptr;
  return ok ? 1 : 0;
}
