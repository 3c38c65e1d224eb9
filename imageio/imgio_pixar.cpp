// Pixar picture files.
#include "imgio_pixar.h"

#include <climits>
#include <cstring>
#include <ctime>

#include "imgio_fields.h"
#include "imgio_messages.h"
#include "imgio_runs.h"
#include "imgio_stamp.h"

namespace {

const int kHeader = 512;
const uint32_t kMagic = 0x0000E880;
const int kOwnBlock = 8192;
const int kLabel = 6;
const int kLabelSize = 245;
const int kLongest = 127;  // pixels of one dump or run
enum { KIND_END = 0, KIND_DUMP = 1, KIND_RUN = 2, KIND_ALPHA_DUMP = 3, KIND_ALPHA_RUN = 4 };
enum { STORE_PACKETS = 0, STORE_PLAIN = 2 };

struct pixar_tile {
  uint32_t address;
  uint32_t length;  // writing: bytes of whole blocks written so far
  int64_t next;     // file offset of the next block
  unsigned char* block;
  int pos;
};

struct segment {
  int start;
  int length;
  bool run;
};

struct pixar_record {
  FILE* file;
  unsigned char header[kHeader];
  int storage;
  int mask;
  int channels;
  int tile_width;
  int tile_height;
  int block_size;
  int tiles;
  int across;
  int down;
  pixar_tile* tile;
  segment* segments;    // writing: the cut of one line
  unsigned int* line8;  // one 8-bit line: for 16-bit reads and writes and the seek walk
  int64_t* seek_block;  // per line: file offset of the block in hand
  int* seek_pos;        // and the position in it
};

pixar_record* record_of(imginfo* h) { return static_cast<pixar_record*>(h->driver); }

int bits_set(int mask) { return (mask & 1) + (mask >> 1 & 1) + (mask >> 2 & 1) + (mask >> 3 & 1); }

void release(pixar_record* r) {
  if (!r) return;
  if (r->file) fclose(r->file);
  if (r->tile)
    for (int i = 0; i < r->tiles; ++i) imgio_free(r->tile[i].block);
  imgio_free(r->tile);
  imgio_free(r->segments);
  imgio_free(r->line8);
  imgio_free(r->seek_block);
  imgio_free(r->seek_pos);
  imgio_free(r);
}

int fail_open(imginfo* h, pixar_record* r) {
  release(r);
  h->driver = nullptr;
  return 0;
}

int16_t header16(const pixar_record* r, int at) { return static_cast<int16_t>(imgio_le16(r->header + at)); }

// The tile's block at offset becomes the one in hand.
bool load_block(pixar_record* r, pixar_tile* t, int64_t offset, int pos) {
  if (!imgio_read_at(r->file, offset, t->block, r->block_size)) return false;
  t->next = offset + r->block_size;
  t->pos = pos;
  return true;
}

bool next_block(pixar_record* r, pixar_tile* t) { return load_block(r, t, t->next, 0); }

// One pixel from its channel bytes in file order; alpha < 0: from the bytes.
uint32_t make_pixel(const unsigned char* bytes, int mask, int alpha) {
  uint32_t pixel = 0;
  int shift = 0;
  for (int bit = PIXAR_RED; bit > PIXAR_ALPHA; bit >>= 1, shift += 8)
    if (mask & bit) pixel |= uint32_t(*bytes++) << shift;
  if (alpha < 0) alpha = mask & PIXAR_ALPHA ? *bytes : 255;
  return pixel | uint32_t(alpha) << 24;
}

// Plain 8-bit storage: every pixel one byte a channel, across blocks.
bool read_plain(pixar_record* r, pixar_tile* t, uint32_t* out, int count) {
  unsigned char bytes[4];
  for (int x = 0; x < count; ++x) {
    for (int c = 0; c < r->channels; ++c) {
      if (t->pos >= r->block_size && !next_block(r, t)) return false;
      bytes[c] = t->block[t->pos++];
    }
    out[x] = make_pixel(bytes, r->mask, -1);
  }
  return true;
}

bool read_packets(pixar_record* r, pixar_tile* t, uint32_t* out, int count) {
  int done = 0;
  for (;;) {
    const int status = pixar_decode_packets(t->block, r->block_size, &t->pos, r->mask, out, count, &done);
    if (status == PIXAR_LINE_DONE) return true;
    if (status == PIXAR_BAD || !next_block(r, t)) return false;
  }
}

// The tile's next count pixels.
bool read_span(pixar_record* r, pixar_tile* t, uint32_t* out, int count) {
  return r->storage == STORE_PLAIN ? read_plain(r, t, out, count) : read_packets(r, t, out, count);
}

// Line current_line into out (file_width pixels), tile by tile.
bool read_pixels(imginfo* h, uint32_t* out) {
  pixar_record* r = record_of(h);
  const int row = h->current_line / r->tile_height;
  for (int x = 0; x < h->file_width; x += r->tile_width) {
    pixar_tile* t = &r->tile[row * r->across + x / r->tile_width];
    const int count = h->file_width - x < r->tile_width ? h->file_width - x : r->tile_width;
    if (!read_span(r, t, out + x, count)) return false;
  }
  // A red-only picture is grey.
  if (r->mask == PIXAR_RED)
    for (int x = 0; x < h->file_width; ++x) out[x] = (out[x] & 255u) * 0x010101u | 0xFF000000u;
  return true;
}

// The tile's first block is in hand again.
bool rewind_tile(pixar_record* r, pixar_tile* t) { return load_block(r, t, t->address, 0); }

bool flush_block(pixar_record* r, pixar_tile* t) {
  if (uint64_t(t->length) + r->block_size > UINT32_MAX) return false;
  if (!imgio_write_exact(r->file, t->block, r->block_size)) return false;
  t->length += r->block_size;
  memset(t->block, 0, r->block_size);
  t->pos = 0;
  return true;
}

// Room for bytes more in the block, writing it out when it is short.
bool make_room(pixar_record* r, pixar_tile* t, int bytes) {
  return r->block_size - t->pos >= bytes || flush_block(r, t);
}

void put_pixel(unsigned char* at, uint32_t pixel) {
  for (int c = 0; c < 4; ++c) at[c] = static_cast<unsigned char>(pixel >> (8 * c));
}

bool write_pixels(pixar_record* r, const unsigned int* line, int width) {
  pixar_tile* t = &r->tile[0];
  int segments = 0;
  for (int x = 0; x < width; ++segments) {
    bool run = false;
    const int length = imgio_next_segment(line + x, width - x, 2, kLongest, &run);
    r->segments[segments] = segment{x, length, run};
    x += length;
  }
  // A group of k runs takes 5k + 3 bytes in one block.
  const int group_limit = (r->block_size - 3) / 5;
  for (int s = 0; s < segments;) {
    const segment& first = r->segments[s];
    if (!first.run) {
      if (!make_room(r, t, 4 * first.length + 3)) return false;
      imgio_put_le16(t->block + t->pos, KIND_DUMP << 12 | (first.length - 1));
      t->pos += 2;
      for (int i = 0; i < first.length; ++i, t->pos += 4) put_pixel(t->block + t->pos, line[first.start + i]);
      ++s;
      continue;
    }
    int k = 1;
    while (s + k < segments && k < group_limit && r->segments[s + k].run) ++k;
    if (!make_room(r, t, 5 * k + 3)) return false;
    imgio_put_le16(t->block + t->pos, KIND_RUN << 12 | (k - 1));
    t->pos += 2;
    for (int i = 0; i < k; ++i, t->pos += 5) {
      const segment& run = r->segments[s + i];
      t->block[t->pos] = static_cast<unsigned char>(run.length - 1);
      put_pixel(t->block + t->pos + 1, line[run.start]);
    }
    s += k;
  }
  return true;
}

}  // namespace

int pixar_decode_packets(const unsigned char* block, int size, int* pos, int mask, uint32_t* out,
                         int count, int* done) {
  const bool alpha = mask & PIXAR_ALPHA;
  const int channels = bits_set(mask);
  const int colours = channels - (alpha ? 1 : 0);
  while (*done < count) {
    if (size - *pos < 2) return PIXAR_BLOCK_USED;
    const unsigned word = imgio_le16(block + *pos);
    const int kind = static_cast<int>(word >> 12);
    const int n = static_cast<int>(word & 0xFFF) + 1;
    if (kind == KIND_END) {
      *pos = size;
      return PIXAR_BLOCK_USED;
    }
    if (kind > KIND_ALPHA_RUN) {
      *pos += 2;
      continue;
    }
    const bool shared = kind >= KIND_ALPHA_DUMP;
    const bool runs = kind == KIND_RUN || kind == KIND_ALPHA_RUN;
    const int pixel_bytes = shared ? colours : channels;
    const int64_t body = (shared && alpha ? 1 : 0) + int64_t(n) * (pixel_bytes + (runs ? 1 : 0));
    if (body > size - *pos - 2) return PIXAR_BAD;
    const unsigned char* p = block + *pos + 2;
    const int shared_alpha = !shared ? -1 : alpha ? *p++ : 255;
    // Kinds 3 and 4 carry colours only: the pixel is built without alpha.
    const int pixel_mask = shared ? mask & ~PIXAR_ALPHA : mask;
    for (int i = 0; i < n; ++i) {
      const int copies = runs ? *p++ + 1 : 1;
      if (copies > count - *done) return PIXAR_BAD;
      const uint32_t pixel = make_pixel(p, pixel_mask, shared_alpha);
      p += pixel_bytes;
      for (int c = 0; c < copies; ++c) out[(*done)++] = pixel;
    }
    *pos += static_cast<int>(body) + 2;
  }
  return PIXAR_LINE_DONE;
}

int PixarOpenf(imginfo* h) {
  pixar_record* r = static_cast<pixar_record*>(imgio_zalloc(1, sizeof(pixar_record)));
  if (!r) return 0;
  h->driver = r;
  r->file = fopen(h->file_name, "r");
  if (!r->file || !imgio_read_exact(r->file, r->header, kHeader) || imgio_le32(r->header) != kMagic)
    return fail_open(h, r);
  const int64_t file_size = imgio_file_size(r->file);
  const int height = header16(r, 416), width = header16(r, 418);
  r->tile_height = header16(r, 420);
  r->tile_width = header16(r, 422);
  r->mask = header16(r, 424);
  r->storage = header16(r, 426);
  r->block_size = header16(r, 428);
  const char* why = nullptr;
  if (!imgsizeok(width, height))
    why = "image size out of range";
  else if (r->tile_width < 1 || r->tile_height < 1)
    why = "tile size below 1";
  else if (r->mask < 0 || r->mask > 15)
    why = "channel mask above 15";
  else if (r->storage != STORE_PACKETS && r->storage != STORE_PLAIN)
    why = "storage kind not 0 or 2";
  else if (r->block_size < 2)
    why = "block size below 2";
  if (why) {
    imgio_refuse(h->file_name, "PIXAR", "%s", why);
    return fail_open(h, r);
  }
  r->channels = bits_set(r->mask);
  r->across = (width - 1) / r->tile_width + 1;
  r->down = (height - 1) / r->tile_height + 1;
  const int64_t tiles = int64_t(r->across) * r->down;
  // Every tile holds at least one block, and its table entry.
  if (tiles * (r->block_size + 8) > file_size - kHeader) {
    imgio_refuse(h->file_name, "PIXAR", "%lld tiles of %d bytes exceed the file", static_cast<long long>(tiles),
                 r->block_size);
    return fail_open(h, r);
  }
  r->tiles = static_cast<int>(tiles);
  unsigned char* table = static_cast<unsigned char*>(imgio_zalloc(tiles, 8));
  r->tile = static_cast<pixar_tile*>(imgio_zalloc(tiles, sizeof(pixar_tile)));
  bool ok = table && r->tile && imgio_read_at(r->file, kHeader, table, size_t(tiles) * 8);
  for (int i = 0; ok && i < r->tiles; ++i) {
    pixar_tile* t = &r->tile[i];
    t->address = imgio_le32(table + 8 * i);
    t->length = imgio_le32(table + 8 * i + 4);
    t->block = static_cast<unsigned char*>(imgio_zalloc(r->block_size, 1));
    ok = t->block && rewind_tile(r, t);
  }
  imgio_free(table);
  r->line8 = static_cast<unsigned int*>(imgio_zalloc(width, sizeof(unsigned int)));
  if (!ok || !r->line8) return fail_open(h, r);
  h->file_width = width;
  h->file_height = height;
  h->bits16 = 0;
  return 1;
}

int PixarReadl(imginfo* h) { return read_pixels(h, h->line) ? 1 : 0; }

int PixarReadl16(imginfo* h) {
  pixar_record* r = record_of(h);
  if (!read_pixels(h, r->line8)) return 0;
  for (int x = 0; x < h->file_width; ++x)
    for (int c = 0; c < 4; ++c)
      h->line16[4 * x + c] = static_cast<unsigned short>((r->line8[x] >> (8 * c) & 255u) * 257u);
  return 1;
}

int PixarCreatef(imginfo* h) {
  if (h->file_width > 32767 || h->file_height > 32767)
    return imgio_refuse(h->file_name, "PIXAR", "size %dx%d above 32767", h->file_width, h->file_height);
  pixar_record* r = static_cast<pixar_record*>(imgio_zalloc(1, sizeof(pixar_record)));
  if (!r) return 0;
  h->driver = r;
  r->storage = STORE_PACKETS;
  r->mask = 15;
  r->channels = 4;
  r->tile_width = h->file_width;
  r->tile_height = h->file_height;
  r->block_size = kOwnBlock;
  r->tiles = r->across = r->down = 1;
  r->tile = static_cast<pixar_tile*>(imgio_zalloc(1, sizeof(pixar_tile)));
  r->segments = static_cast<segment*>(imgio_zalloc(h->file_width, sizeof(segment)));
  r->line8 = static_cast<unsigned int*>(imgio_zalloc(h->file_width, sizeof(unsigned int)));
  if (!r->tile || !r->segments || !r->line8 ||
      !(r->tile->block = static_cast<unsigned char*>(imgio_zalloc(kOwnBlock, 1))))
    return fail_open(h, r);
  unsigned char* p = r->header;
  imgio_put_le32(p, kMagic);
  memset(p + kLabel, ' ', kLabelSize);
  const imgio_stamp stamp = imgio_current_stamp();
  char when[32] = "";
  if (const char* text = ctime(&stamp.when)) snprintf(when, sizeof when, "%s", text);
  const int written = snprintf(reinterpret_cast<char*>(p + kLabel), kLabelSize, "Written by imgio on %s", when);
  if (written < 0) return fail_open(h, r);
  imgio_put_le16(p + 416, h->file_height);
  imgio_put_le16(p + 418, h->file_width);
  imgio_put_le16(p + 420, h->file_height);
  imgio_put_le16(p + 422, h->file_width);
  imgio_put_le16(p + 424, 15);
  imgio_put_le16(p + 426, STORE_PACKETS);
  imgio_put_le16(p + 428, kOwnBlock);
  imgio_put_le16(p + 430, 1);
  memset(p + 452, ' ', 27);
  unsigned char entry[8];
  imgio_put_le32(entry, kOwnBlock);
  imgio_put_le32(entry + 4, 0);
  static const unsigned char zeros[kOwnBlock - kHeader - 8] = {};
  r->file = fopen(h->file_name, "w+");
  if (!r->file || !imgio_write_exact(r->file, r->header, kHeader) || !imgio_write_exact(r->file, entry, 8) ||
      !imgio_write_exact(r->file, zeros, sizeof zeros))
    return fail_open(h, r);
  r->tile->address = kOwnBlock;
  r->tile->next = kOwnBlock;
  return 1;
}

int PixarWritel(imginfo* h) { return write_pixels(record_of(h), h->line, h->file_width) ? 1 : 0; }

int PixarWritel16(imginfo* h) {
  pixar_record* r = record_of(h);
  for (int x = 0; x < h->file_width; ++x) {
    const unsigned short* p = h->line16 + 4 * x;
    r->line8[x] = unsigned(p[0] >> 8) | unsigned(p[1] >> 8) << 8 | unsigned(p[2] >> 8) << 16 |
                  unsigned(p[3] >> 8) << 24;
  }
  return write_pixels(r, r->line8, h->file_width) ? 1 : 0;
}

int PixarClosef(imginfo* h) {
  pixar_record* r = record_of(h);
  if (!r) return 0;
  bool ok = true;
  if (h->mode == IMGIO_WRITE) {
    pixar_tile* t = &r->tile[0];
    uint32_t length = t->length;
    if (t->pos > 0) {
      const int used = t->pos;
      ok = flush_block(r, t);
      length = t->length - r->block_size + used;
    }
    unsigned char bytes[4];
    imgio_put_le32(bytes, length);
    ok = ok && fseek(r->file, kHeader + 4, SEEK_SET) == 0 && imgio_write_exact(r->file, bytes, 4);
  }
  ok = imgio_close_stream(r->file, ok);
  r->file = nullptr;
  release(r);
  h->driver = nullptr;
  return ok ? 1 : 0;
}

int PixarReadb(imginfo* h) { return imgio_read_whole(h, pixar_driver, false); }
int PixarReadb16(imginfo* h) { return imgio_read_whole(h, pixar_driver, true); }
int PixarWriteb(imginfo* h) { return imgio_write_whole(h, pixar_driver, false); }
int PixarWriteb16(imginfo* h) { return imgio_write_whole(h, pixar_driver, true); }

int PixarSheader(imginfo* h) {
  pixar_record* r = record_of(h);
  if (!r) return 0;
  const char* label = reinterpret_cast<const char*>(r->header + kLabel);
  messprintf(IMSSYS_INFO, "\nPIXAR Specific Image Information.\n");
  messprintf(IMSSYS_INFO, "=================================\n");
  messprintf(IMSSYS_INFO, "     Label: %.*s\n", static_cast<int>(strnlen(label, 59)), label);
  messprintf(IMSSYS_INFO, " Tile size: %d x %d\n", r->tile_width, r->tile_height);
  messprintf(IMSSYS_INFO, "     Tiles: %d x %d = %d\n", r->across, r->down, r->tiles);
  messprintf(IMSSYS_INFO, "Block size: %d bytes.\n", r->block_size);
  messprintf(IMSSYS_INFO, "  Channels: %d (0x%2.2x)\n", r->channels, r->mask);
  if (h->mode == IMGIO_READ)
    for (int i = 0; i < r->tiles; ++i) {
      messprintf(IMSSYS_INFO, "Tile %d ...\n", i + 1);
      messprintf(IMSSYS_INFO, "Disk address: %d\n", static_cast<int>(r->tile[i].address));
      messprintf(IMSSYS_INFO, "      Length: %d bytes.\n", static_cast<int>(r->tile[i].length));
    }
  return 1;
}

int PixarMakeSeek(imginfo* h) {
  pixar_record* r = record_of(h);
  if (!r) return 0;
  if (r->tiles != 1) {
    messprintf(IMSSYS_INFO, "PIXAR: Sorry, I can only make 1 tile images seekable.\n");
    return 0;
  }
  const int height = h->file_height;
  if (!r->seek_block) {
    r->seek_block = static_cast<int64_t*>(imgio_zalloc(height, sizeof(int64_t)));
    r->seek_pos = static_cast<int*>(imgio_zalloc(height, sizeof(int)));
  }
  // The walk takes a tile of its own from the first line on: the tile in
  // hand stays where the handle's reading stands, whatever the walk meets.
  pixar_tile walk = r->tile[0];
  walk.block = static_cast<unsigned char*>(imgio_zalloc(r->block_size, 1));
  bool ok = r->seek_block && r->seek_pos && walk.block && rewind_tile(r, &walk);
  for (int y = 0; ok && y < height; ++y) {
    r->seek_block[y] = walk.next - r->block_size;
    r->seek_pos[y] = walk.pos;
    ok = read_span(r, &walk, r->line8, h->file_width);
  }
  imgio_free(walk.block);
  if (!ok) {
    // A partial table would seek to blocks never found.
    imgio_free(r->seek_block);
    imgio_free(r->seek_pos);
    r->seek_block = nullptr;
    r->seek_pos = nullptr;
  }
  return ok ? 1 : 0;
}

int PixarSeekTo(imginfo* h) {
  pixar_record* r = record_of(h);
  if (!r || !h->seekable || !r->seek_block || h->seek_line < 0 || h->seek_line >= h->file_height) return 0;
  return load_block(r, &r->tile[0], r->seek_block[h->seek_line], r->seek_pos[h->seek_line]) ? 1 : 0;
}

const imgio_driver pixar_driver = {PixarOpenf,   PixarCreatef,  PixarReadl,    PixarWritel, PixarReadl16,
                                   PixarWritel16, PixarClosef,  PixarReadb,    PixarWriteb, PixarReadb16,
                                   PixarWriteb16, PixarSheader, PixarMakeSeek, PixarSeekTo};
