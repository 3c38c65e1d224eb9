// Art24 files.
#include "imgio_art24.h"

#include <cstdint>
#include <cstring>

#include "imgio_fields.h"

namespace {

const int kSmallStart = 2048;
const int kLargeStart = 12288;
const int kTables = 128;
const int kTableSize = 768;
enum { CODED_SMALL = 0xB5, PLAIN_LARGE = 0xB7, CODED_LARGE = 0xB9 };

struct art24_record {
  FILE* file;
  int type;
  bool coded;
  bool large;
  char comment[40];
  int width, height;
  unsigned char tables[2][kTableSize];
  unsigned char* plane[3];  // red, green, blue
  unsigned char* coding;    // writing: one coded plane
};

art24_record* record_of(imginfo* h) { return static_cast<art24_record*>(h->driver); }

void release(art24_record* r) {
  if (!r) return;
  if (r->file) fclose(r->file);
  for (unsigned char* p : r->plane) imgio_free(p);
  imgio_free(r->coding);
  imgio_free(r);
}

int fail(imginfo* h, art24_record* r) {
  release(r);
  h->driver = nullptr;
  return 0;
}

bool allocate_planes(art24_record* r, int width) {
  bool ok = true;
  for (unsigned char*& p : r->plane) ok = (p = static_cast<unsigned char*>(imgio_zalloc(width, 1))) && ok;
  return ok;
}

template <typename Source>
int decode_plane(Source& in, unsigned char* plane, int width) {
  for (int x = 0; x < width;) {
    unsigned char pair[2];
    if (!in.read(pair, 2) || pair[1] == 0) return 0;
    const int count = pair[1] < width - x ? pair[1] : width - x;
    memset(plane + x, pair[0], count);
    x += count;
  }
  return 1;
}

// Files store the planes green, red, blue.
const int kFileOrder[3] = {1, 0, 2};

bool read_line(imginfo* h) {
  art24_record* r = record_of(h);
  imgio_file_source in{r->file};
  for (int p : kFileOrder) {
    const bool ok = r->coded ? decode_plane(in, r->plane[p], r->width) != 0
                             : imgio_read_exact(r->file, r->plane[p], size_t(r->width));
    if (!ok) return false;
  }
  return true;
}

bool write_line(art24_record* r) {
  for (int p : kFileOrder) {
    const unsigned char* plane = r->plane[p];
    size_t size = 0;
    for (int x = 0; x < r->width;) {
      int count = 1;
      while (x + count < r->width && count < 255 && plane[x + count] == plane[x]) ++count;
      r->coding[size++] = plane[x];
      r->coding[size++] = static_cast<unsigned char>(count);
      x += count;
    }
    if (!imgio_write_exact(r->file, r->coding, size)) return false;
  }
  return true;
}

}  // namespace

int art24_decode_plane(const unsigned char* in, size_t size, size_t* used, unsigned char* plane, int width) {
  imgio_span_source source{in, size, *used};
  const int ok = decode_plane(source, plane, width);
  *used = source.pos;
  return ok;
}

int Art24Openf(imginfo* h) {
  art24_record* r = static_cast<art24_record*>(imgio_zalloc(1, sizeof(art24_record)));
  if (!r) return 0;
  h->driver = r;
  unsigned char head[46];
  r->file = fopen(h->file_name, "r");
  if (!r->file || !imgio_read_exact(r->file, head, sizeof head) ||
      !imgio_read_at(r->file, kTables, r->tables, sizeof r->tables))
    return fail(h, r);
  r->type = head[1];
  r->coded = r->type == CODED_SMALL || r->type == CODED_LARGE;
  r->large = r->type == PLAIN_LARGE || r->type == CODED_LARGE;
  memcpy(r->comment, head + 2, sizeof r->comment);
  r->width = static_cast<int16_t>(imgio_le16(head + 42));
  r->height = static_cast<int16_t>(imgio_le16(head + 44));
  const int64_t start = r->large ? kLargeStart : kSmallStart;
  const int64_t file_size = imgio_file_size(r->file);
  const char* why = nullptr;
  if (!imgsizeok(r->width, r->height))
    why = "size out of range";
  else if (start > file_size)
    why = "no picture data";
  // Plain lines take three bytes a pixel; coded ones at least two bytes a
  // pair of 255 values.
  else if (!r->coded && 3 * int64_t(r->width) * r->height > file_size - start)
    why = "plain lines longer than the file";
  if (why) {
    imgio_refuse(h->file_name, "ART24", "%s", why);
    return fail(h, r);
  }
  if (fseek(r->file, static_cast<long>(start), SEEK_SET) != 0 || !allocate_planes(r, r->width)) return fail(h, r);
  h->file_width = r->width;
  h->file_height = r->height;
  h->bits16 = 0;
  return 1;
}

int Art24Createf(imginfo* h) {
  if (h->file_width > 32767 || h->file_height > 32767)
    return imgio_refuse(h->file_name, "ART24", "size %dx%d above 32767", h->file_width, h->file_height);
  art24_record* r = static_cast<art24_record*>(imgio_zalloc(1, sizeof(art24_record)));
  if (!r) return 0;
  h->driver = r;
  r->width = h->file_width;
  r->height = h->file_height;
  r->type = CODED_SMALL;
  r->coded = true;
  unsigned char* header = static_cast<unsigned char*>(imgio_zalloc(kSmallStart, 1));
  r->coding = static_cast<unsigned char*>(imgio_zalloc(r->width, 2));
  if (!header || !r->coding || !allocate_planes(r, r->width)) {
    imgio_free(header);
    return fail(h, r);
  }
  header[1] = CODED_SMALL;
  memcpy(header + 2, "No comment", 10);
  imgio_put_le16(header + 42, r->width);
  imgio_put_le16(header + 44, r->height);
  for (int t = 0; t < 2; ++t)
    for (int i = 0; i < 256; ++i) memset(header + kTables + t * kTableSize + 3 * i, i, 3);
  memcpy(header + 1671, "vers-6", 6);
  const unsigned char marks[6] = {0, 1, 0xFF, 1, 1, 0};
  memcpy(header + 1677, marks, 6);
  imgio_put_le16(header + 1683, r->width / 2);
  imgio_put_le16(header + 1685, r->height / 2);
  r->file = fopen(h->file_name, "w+");
  const bool ok = r->file && imgio_write_exact(r->file, header, kSmallStart);
  imgio_free(header);
  return ok ? 1 : fail(h, r);
}

int Art24Readl(imginfo* h) {
  if (!read_line(h)) return 0;
  const art24_record* r = record_of(h);
  for (int x = 0; x < h->file_width; ++x)
    h->line[x] = uint32_t(r->plane[0][x]) | uint32_t(r->plane[1][x]) << 8 | uint32_t(r->plane[2][x]) << 16 |
                 0xFF000000u;
  return 1;
}

int Art24Readl16(imginfo* h) {
  if (!read_line(h)) return 0;
  const art24_record* r = record_of(h);
  for (int x = 0; x < h->file_width; ++x) {
    for (int c = 0; c < 3; ++c) h->line16[4 * x + c] = static_cast<unsigned short>(r->plane[c][x] << 8);
    h->line16[4 * x + 3] = 65535;
  }
  return 1;
}

int Art24Writel(imginfo* h) {
  art24_record* r = record_of(h);
  for (int x = 0; x < h->file_width; ++x)
    for (int c = 0; c < 3; ++c) r->plane[c][x] = static_cast<unsigned char>(h->line[x] >> (8 * c));
  return write_line(r) ? 1 : 0;
}

int Art24Writel16(imginfo* h) {
  art24_record* r = record_of(h);
  for (int x = 0; x < h->file_width; ++x)
    for (int c = 0; c < 3; ++c) r->plane[c][x] = static_cast<unsigned char>(h->line16[4 * x + c] >> 8);
  return write_line(r) ? 1 : 0;
}

int Art24Closef(imginfo* h) { return imgio_close_record(h, release); }

int Art24Readb(imginfo* h) { return imgio_read_whole(h, art24_driver, false); }
int Art24Readb16(imginfo* h) { return imgio_read_whole(h, art24_driver, true); }
int Art24Writeb(imginfo* h) { return imgio_write_whole(h, art24_driver, false); }
int Art24Writeb16(imginfo* h) { return imgio_write_whole(h, art24_driver, true); }

int Art24MakeSeek(imginfo* h) {
  const auto* r = record_of(h);
  return r ? imgio_scan_line_offsets(h, r->file, r->large ? kLargeStart : kSmallStart, read_line) : 0;
}

int Art24SeekTo(imginfo* h) {
  const auto* r = record_of(h);
  return r ? imgio_seek_scanned_line(h, r->file) : 0;
}

const imgio_driver art24_driver = {Art24Openf,   Art24Createf, Art24Readl,  Art24Writel,   Art24Readl16,
                                   Art24Writel16, Art24Closef, Art24Readb,  Art24Writeb,   Art24Readb16,
                                   Art24Writeb16, nullptr,     Art24MakeSeek, Art24SeekTo};
