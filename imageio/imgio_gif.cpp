// GIF driver: the picture lives in a whole-image buffer, bottom row first
// like the handle's lines; lines are copied in and out of it.
#include "imgio_gif.h"

#include <cstring>

#include "gif_codec.h"
#include "imgio_messages.h"
#include "imgio_whole_lines.h"
#include "q4_memory.h"

namespace {

struct GifRecord {
  unsigned int* buffer;
};

GifRecord* record(imginfo* h) { return static_cast<GifRecord*>(h->driver); }

void release(imginfo* h) {
  GifRecord* r = record(h);
  if (!r) return;
  destroybuffer(r->buffer);
  q4_free_c(r, __FILE__, __LINE__);
  h->driver = nullptr;
}

GifRecord* new_record(imginfo* h) {
  GifRecord* r = static_cast<GifRecord*>(q4_calloc_c(1, sizeof(GifRecord), __FILE__, __LINE__));
  if (!r) messprintf(IMSSYS_FATAL, "GIF: cannot allocate image buffer.\n");
  h->driver = r;
  return r;
}

int GifOpenf(imginfo* h) {
  GifRecord* r = new_record(h);
  if (!r) return 0;
  r->buffer = ReadGIF(h->file_name, &h->file_width, &h->file_height);
  if (!r->buffer) {
    release(h);
    return 0;
  }
  h->bits16 = 0;
  return 1;
}

int GifCreatef(imginfo* h) {
  // The file holds 16-bit sizes.
  if (h->file_width > 65535 || h->file_height > 65535) {
    messprintf(IMSSYS_INFO, "GIF: Image of %dx%d is too large for a GIF file.\n", h->file_width, h->file_height);
    return 0;
  }
  GifRecord* r = new_record(h);
  if (!r) return 0;
  r->buffer = createbuffer(h->file_width, h->file_height);
  if (!r->buffer) {
    messprintf(IMSSYS_FATAL, "GIF: cannot allocate image buffer.\n");
    release(h);
    return 0;
  }
  return 1;
}

unsigned int* row(imginfo* h) {
  GifRecord* r = record(h);
  return r ? r->buffer + size_t(h->current_line) * h->file_width : nullptr;
}

int GifReadl(imginfo* h) {
  const unsigned int* from = row(h);
  if (!from) return 0;
  memcpy(h->line, from, size_t(h->file_width) * 4);
  return 1;
}

int GifReadl16(imginfo* h) {
  const unsigned int* from = row(h);
  if (!from) return 0;
  for (int x = 0; x < h->file_width; ++x)
    for (int c = 0; c < 4; ++c) h->line16[4 * x + c] = static_cast<unsigned short>(((from[x] >> (8 * c)) & 255) << 8);
  return 1;
}

int GifWritel(imginfo* h) {
  unsigned int* to = row(h);
  if (!to) return 0;
  memcpy(to, h->line, size_t(h->file_width) * 4);
  return 1;
}

int GifWritel16(imginfo* h) {
  unsigned int* to = row(h);
  if (!to) return 0;
  const unsigned short* in = h->line16;
  for (int x = 0; x < h->file_width; ++x, in += 4)
    to[x] = unsigned(in[0] >> 8) | unsigned(in[1] >> 8) << 8 | unsigned(in[2] >> 8) << 16 | unsigned(in[3] >> 8) << 24;
  return 1;
}

// A file being written is encoded here; its buffer goes in every case, as
// the handle does.
int GifClosef(imginfo* h) {
  GifRecord* r = record(h);
  if (!r) return 0;
  const int ok = h->mode != IMGIO_WRITE || WriteGIF(r->buffer, h->file_width, h->file_height, h->file_name) == 0;
  release(h);
  return ok;
}

int GifReadb(imginfo* h) { return imgio_whole_read(h, gif_driver, false); }
int GifReadb16(imginfo* h) { return imgio_whole_read(h, gif_driver, true); }
int GifWriteb(imginfo* h) { return imgio_whole_write(h, gif_driver, false); }
int GifWriteb16(imginfo* h) { return imgio_whole_write(h, gif_driver, true); }
// Lines come from memory.
int GifMakeSeek(imginfo*) { return 1; }
int GifSeekTo(imginfo*) { return 1; }

}  // namespace

const imgio_driver gif_driver = {GifOpenf,   GifCreatef, GifReadl,  GifWritel,   GifReadl16,
                                 GifWritel16, GifClosef, GifReadb, GifWriteb,   GifReadb16,
                                 GifWriteb16, nullptr,   GifMakeSeek, GifSeekTo};
