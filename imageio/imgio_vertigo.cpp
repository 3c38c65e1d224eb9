// Vertigo picture files.
#include "imgio_vertigo.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "imgio_fields.h"
#include "imgio_runs.h"

namespace {

const int kHeader = 232;
const uint32_t kMagic = 458;
const int kMaxLength = 65535;  // a line's stored length is a 16-bit number
// Plane flags: first (red or luma), second, third, alpha.
const int kPlaneFlag[4] = {8, 4, 2, 1};
// Wider windows than the 16-bit image fields can describe are not stored.
const int64_t kMaxWindow = 65536;

struct vertigo_record {
  FILE* file;
  unsigned char header[kHeader];
  unsigned char* table;  // 6 bytes a line
  unsigned char* plane[4];
  unsigned char* coded;
  size_t coded_size;
  int stored_width;
  int table_length;
  int64_t y_max, y_min, x_min, x_max;
  int flags;
  int luma_chroma;
  long table_at;
};

vertigo_record* record_of(imginfo* h) { return static_cast<vertigo_record*>(h->driver); }

void release(vertigo_record* r) {
  if (!r) return;
  if (r->file) fclose(r->file);
  imgio_free(r->table);
  for (unsigned char* p : r->plane) imgio_free(p);
  imgio_free(r->coded);
  imgio_free(r);
}

int fail(imginfo* h, vertigo_record* r) {
  release(r);
  h->driver = nullptr;
  return 0;
}

bool allocate(vertigo_record* r, int64_t coded) {
  r->table = static_cast<unsigned char*>(imgio_zalloc(r->table_length, 6));
  r->coded = static_cast<unsigned char*>(imgio_zalloc(coded, 1));
  r->coded_size = static_cast<size_t>(coded);
  bool ok = r->table && r->coded;
  for (unsigned char*& p : r->plane) ok = (p = static_cast<unsigned char*>(imgio_zalloc(r->stored_width, 1))) && ok;
  return ok;
}

int signed_byte(unsigned char v) { return v < 128 ? v : v - 256; }
unsigned char clamp_byte(double v) {
  const int i = static_cast<int>(v);  // truncated toward zero
  return static_cast<unsigned char>(i < 0 ? 0 : i > 255 ? 255 : i);
}

// The planes of line current_line; false when the line cannot be read.
// *inside is false for a line outside the stored rows.
bool read_planes(imginfo* h, bool* inside) {
  vertigo_record* r = record_of(h);
  const int64_t y = h->current_line;
  *inside = y >= r->y_min && y <= r->y_max;
  if (!*inside) return true;
  const unsigned char* entry = r->table + 6 * (y - r->y_min);
  const size_t length = imgio_be16(entry + 4);
  const size_t width = size_t(r->stored_width);
  if (length == 0) {
    for (unsigned char* p : r->plane) memset(p, 0, width);
    return true;
  }
  const int64_t offset = int64_t(imgio_be16(entry)) << 16 | imgio_be16(entry + 2);
  if (length > r->coded_size || !imgio_read_at(r->file, offset, r->coded, length)) return false;
  size_t used = 0;
  for (int p = 0; p < 4; ++p) {
    if (r->flags & kPlaneFlag[p])
      vertigo_decode_plane(r->coded, length, &used, r->plane[p], width);
    else
      memset(r->plane[p], p == 3 ? 255 : 0, width);
  }
  if (r->luma_chroma)
    for (size_t i = 0; i < width; ++i) {
      const double luma = signed_byte(r->plane[0][i]);
      const double cr = signed_byte(r->plane[1][i]);
      const double cb = signed_byte(r->plane[2][i]);
      r->plane[0][i] = clamp_byte(luma + 1.402 * cr);
      r->plane[1][i] = clamp_byte(luma - 0.714 * cr - 0.344 * cb);
      r->plane[2][i] = clamp_byte(luma + 1.772 * cb);
    }
  return true;
}

// Plane index of image column x, or -1 outside the stored window.
int64_t window_index(const vertigo_record* r, int x) { return x >= r->x_min && x <= r->x_max ? x - r->x_min : -1; }

bool write_planes(imginfo* h) {
  vertigo_record* r = record_of(h);
  const long here = ftell(r->file);
  if (here <= 0 || static_cast<uint64_t>(here) > UINT32_MAX) return false;
  size_t total = 0;
  for (unsigned char* p : r->plane) {
    const size_t size = vertigo_encode_plane(p, h->file_width, r->coded);
    if (!imgio_write_exact(r->file, r->coded, size)) return false;
    total += size;
  }
  unsigned char* entry = r->table + 6 * h->current_line;
  imgio_put_be16(entry, static_cast<unsigned>(here >> 16));
  imgio_put_be16(entry + 2, static_cast<unsigned>(here & 0xFFFF));
  imgio_put_be16(entry + 4, static_cast<unsigned>(total));
  return true;
}


}  // namespace

void vertigo_decode_plane(const unsigned char* in, size_t size, size_t* used, unsigned char* plane, size_t width) {
  size_t at = *used, done = 0;
  while (done < width && at < size) {
    const int c = in[at++];
    if (c < 128) {
      if (at >= size) break;
      const size_t n = size_t(c) + 1 < width - done ? size_t(c) + 1 : width - done;
      memset(plane + done, in[at++], n);
      done += n;
    } else {
      const size_t n = 256 - size_t(c);
      const size_t present = n < size - at ? n : size - at;
      const size_t kept = present < width - done ? present : width - done;
      memcpy(plane + done, in + at, kept);
      done += kept;
      at += present;
    }
  }
  memset(plane + done, 0, width - done);
  *used = at;
}

size_t vertigo_encode_plane(const unsigned char* in, int n, unsigned char* out) {
  return imgio_pack_bytes(in, n, 3, out);
}

int VertigoOpenf(imginfo* h) {
  vertigo_record* r = static_cast<vertigo_record*>(imgio_zalloc(1, sizeof(vertigo_record)));
  if (!r) return 0;
  h->driver = r;
  r->file = fopen(h->file_name, "r");
  if (!r->file || !imgio_read_exact(r->file, r->header, kHeader) || imgio_be32(r->header) != kMagic)
    return fail(h, r);
  const unsigned char* p = r->header;
  const int width = static_cast<int>(imgio_be16(p + 120)), height = static_cast<int>(imgio_be16(p + 124));
  r->flags = p[101];
  r->luma_chroma = imgio_be16(p + 126) != 0;
  r->x_min = static_cast<int32_t>(imgio_be32(p + 128));
  r->x_max = static_cast<int32_t>(imgio_be32(p + 132));
  r->y_min = static_cast<int32_t>(imgio_be32(p + 136));
  r->y_max = static_cast<int32_t>(imgio_be32(p + 140));
  const int64_t stored = r->x_max - r->x_min + 1, lines = r->y_max - r->y_min + 1;
  const int64_t file_size = imgio_file_size(r->file);
  const char* why = nullptr;
  if (!imgsizeok(width, height))
    why = "size out of range";
  else if (stored < 1 || stored > kMaxWindow || lines < 1 || lines > kMaxWindow)
    why = "stored window out of range";
  else if (kHeader + 6 * lines > file_size)
    why = "line table past the end of the file";
  if (why) {
    imgio_refuse(h->file_name, "VERTIGO", "%s", why);
    return fail(h, r);
  }
  r->stored_width = static_cast<int>(stored);
  r->table_length = static_cast<int>(lines);
  if (!allocate(r, 8 * stored) || !imgio_read_exact(r->file, r->table, size_t(lines) * 6)) return fail(h, r);
  h->file_width = width;
  h->file_height = height;
  h->bits16 = 0;
  return 1;
}

int VertigoReadl(imginfo* h) {
  bool inside = false;
  if (!read_planes(h, &inside)) return 0;
  const vertigo_record* r = record_of(h);
  for (int x = 0; x < h->file_width; ++x) {
    const int64_t i = inside ? window_index(r, x) : -1;
    uint32_t pixel = 0;
    for (int c = 0; i >= 0 && c < 4; ++c) pixel |= uint32_t(r->plane[c][i]) << (8 * c);
    h->line[x] = pixel;
  }
  return 1;
}

int VertigoReadl16(imginfo* h) {
  bool inside = false;
  if (!read_planes(h, &inside)) return 0;
  const vertigo_record* r = record_of(h);
  for (int x = 0; x < h->file_width; ++x) {
    const int64_t i = inside ? window_index(r, x) : -1;
    for (int c = 0; c < 4; ++c) h->line16[4 * x + c] = static_cast<unsigned short>(i >= 0 ? r->plane[c][i] << 8 : 0);
  }
  return 1;
}

int VertigoCreatef(imginfo* h) {
  if (h->file_width > 65535 || h->file_height > 65535 || 4 * imgio_pack_bytes_worst(h->file_width) > kMaxLength)
    return imgio_refuse(h->file_name, "VERTIGO", "line of %d pixels too long to store", h->file_width);
  vertigo_record* r = static_cast<vertigo_record*>(imgio_zalloc(1, sizeof(vertigo_record)));
  if (!r) return 0;
  h->driver = r;
  r->stored_width = h->file_width;
  r->table_length = h->file_height;
  if (!allocate(r, 2 * int64_t(h->file_width))) return fail(h, r);
  unsigned char* p = r->header;
  imgio_put_be32(p, kMagic);
  const char version[] = "@(#).pic     1986/06/01 1.01";
  memcpy(p + 4, version, sizeof version);  // with its terminator
  p[4 + sizeof version] = ' ';
  imgio_put_be32(p + 96, kMagic);
  p[101] = 15;
  memset(p + 102, 8, 4);
  const float gamma = 0.4545f;
  uint32_t bits;
  memcpy(&bits, &gamma, 4);
  imgio_put_be32(p + 112, bits);
  imgio_put_be16(p + 120, h->file_width);
  imgio_put_be16(p + 124, h->file_height);
  imgio_put_be32(p + 132, h->file_width - 1);
  imgio_put_be32(p + 140, h->file_height - 1);
  r->file = fopen(h->file_name, "w+");
  r->table_at = kHeader;
  if (!r->file || !imgio_write_exact(r->file, p, kHeader) ||
      !imgio_write_exact(r->file, r->table, size_t(r->table_length) * 6))
    return fail(h, r);
  return 1;
}

int VertigoWritel(imginfo* h) {
  vertigo_record* r = record_of(h);
  for (int x = 0; x < h->file_width; ++x)
    for (int c = 0; c < 4; ++c) r->plane[c][x] = static_cast<unsigned char>(h->line[x] >> (8 * c));
  return write_planes(h) ? 1 : 0;
}

int VertigoWritel16(imginfo* h) {
  vertigo_record* r = record_of(h);
  for (int x = 0; x < h->file_width; ++x)
    for (int c = 0; c < 4; ++c) r->plane[c][x] = static_cast<unsigned char>(h->line16[4 * x + c] >> 8);
  return write_planes(h) ? 1 : 0;
}

int VertigoClosef(imginfo* h) {
  vertigo_record* r = record_of(h);
  if (!r) return 0;
  bool ok = true;
  if (h->mode == IMGIO_WRITE)
    ok = fseek(r->file, r->table_at, SEEK_SET) == 0 &&
         imgio_write_exact(r->file, r->table, size_t(r->table_length) * 6);
  ok = imgio_close_stream(r->file, ok);
  r->file = nullptr;
  release(r);
  h->driver = nullptr;
  return ok ? 1 : 0;
}

int VertigoReadb(imginfo* h) { return imgio_read_whole(h, vertigo_driver, false); }
int VertigoReadb16(imginfo* h) { return imgio_read_whole(h, vertigo_driver, true); }
int VertigoWriteb(imginfo* h) { return imgio_write_whole(h, vertigo_driver, false); }
int VertigoWriteb16(imginfo* h) { return imgio_write_whole(h, vertigo_driver, true); }
int VertigoMakeSeek(imginfo*) { return 1; }
int VertigoSeekTo(imginfo*) { return 1; }

const imgio_driver vertigo_driver = {VertigoOpenf,    VertigoCreatef, VertigoReadl,  VertigoWritel,
                                     VertigoReadl16,  VertigoWritel16, VertigoClosef, VertigoReadb,
                                     VertigoWriteb,   VertigoReadb16, VertigoWriteb16, nullptr,
                                     VertigoMakeSeek, VertigoSeekTo};
