// Opening, closing, positioning and row transfer of SGI image files. The
// header is 108 bytes of fields at fixed offsets, then reserved bytes up to
// 512; run-length files follow it with a row-start and a row-length table
// of ysize * zsize 32-bit entries each, then the coded rows.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "q4_memory.h"
#include "sgi_image.h"

char g_errbuf[4096];

namespace {

// Written files take the format's own (big-endian) order.
constexpr bool kHostLittle = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
// More than the longest coded row, so that every row goes out whole.
const size_t kOutBytes = size_t(1) << 20;
const uint32_t kNoRow = 0xFFFFFFFF;

void error(const char* format, ...) __attribute__((format(printf, 1, 2)));
void error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(g_errbuf, sizeof g_errbuf, format, args);
  va_end(args);
}

unsigned bpc(const SgiImage* image) { return image->type & 0xff; }
bool is_rle(const SgiImage* image) { return (image->type & 0xff00) == SGI_RLE; }

// The header's fields at their offsets, in the file's order.
void header_bytes(const SgiImage* image, uint8_t* bytes) {
  SgiImage fields = *image;
  if (fields.reverse) cvtimage(&fields);
  memset(bytes, 0, SGI_HEADER_BYTES);
  const uint16_t shorts[6] = {fields.imagic, fields.type, fields.dim, fields.xsize, fields.ysize, fields.zsize};
  memcpy(bytes, shorts, sizeof shorts);
  const uint32_t longs[3] = {fields.min, fields.max, fields.wastebytes};
  memcpy(bytes + 12, longs, sizeof longs);
  memcpy(bytes + 24, fields.name, sizeof fields.name);
  memcpy(bytes + 104, &fields.colormap, 4);
}

void parse_header(const uint8_t* bytes, SgiImage* image) {
  uint16_t shorts[6];
  memcpy(shorts, bytes, sizeof shorts);
  image->imagic = shorts[0];
  image->type = shorts[1];
  image->dim = shorts[2];
  image->xsize = shorts[3];
  image->ysize = shorts[4];
  image->zsize = shorts[5];
  uint32_t longs[3];
  memcpy(longs, bytes + 12, sizeof longs);
  image->min = longs[0];
  image->max = longs[1];
  image->wastebytes = longs[2];
  memcpy(image->name, bytes + 24, sizeof image->name);
  memcpy(&image->colormap, bytes + 104, 4);
}

// The layouts rows can be found in; false with the text otherwise.
bool layout_ok(const SgiImage* image) {
  if ((image->type >> 8) > 1) {
    error("iopen: weird image type %#x\n", image->type);
    return false;
  }
  if (bpc(image) != 1 && bpc(image) != 2) {
    error("iopen: weird bpp %u\n", bpc(image));
    return false;
  }
  if (image->dim < 1 || image->dim > 3) {
    error("iopen: weird dim %u\n", image->dim);
    return false;
  }
  if (!image->xsize || !image->ysize || !image->zsize) {
    error("iopen: empty image %ux%ux%u\n", image->xsize, image->ysize, image->zsize);
    return false;
  }
  return true;
}

// Index of row y of channel z in the run-length tables.
size_t row_index(const SgiImage* image, unsigned y, unsigned z) {
  if (image->dim == 1) return 0;
  if (image->dim == 2) return y;
  return y + size_t(z) * image->ysize;
}

void release_buffers(SgiImage* image) {
  for (void* block : {static_cast<void*>(image->out), static_cast<void*>(image->tmpbuf),
                      static_cast<void*>(image->rowstart), static_cast<void*>(image->rowsize)})
    if (block) q4_free_c(block, __FILE__, __LINE__);
  image->out = image->tmpbuf = nullptr;
  image->rowstart = image->rowsize = nullptr;
}

SgiImage* fail_open(SgiImage* image, int file, bool own_file) {
  release_buffers(image);
  if (own_file && file >= 0) close(file);
  q4_free_c(image, __FILE__, __LINE__);
  return nullptr;
}

bool read_table(SgiImage* image, uint32_t* table, int64_t at, size_t bytes, const char* what) {
  image->offset = at;
  const int64_t got = img_read(image, table, bytes);
  if (got != int64_t(bytes)) {
    error("iopen: error on read of %s (%d read, e=%d)\n", what, int(got), errno);
    return false;
  }
  if (image->reverse) cvtlongs(table, bytes);
  return true;
}

// The text of a write that failed: a failed flush has left its own, which
// holds the system's reason ("File too large").
void write_failed(const SgiImage* image, const char* call, const char* what) {
  if (!(image->flags & SGI_FLUSH_FAILED)) error("%s: error on write of %s\n", call, what);
}

// Writes the tables, each in the file's order; false when short.
bool write_table(SgiImage* image, uint32_t* table, size_t bytes, const char* what) {
  if (image->reverse) cvtlongs(table, bytes);
  if (img_write(image, table, bytes) != int64_t(bytes) || iflush(image) != 0) {
    write_failed(image, "iclose", what);
    return false;
  }
  return true;
}

}  // namespace

SgiImage* iopen(const char* path, const char* mode, unsigned type, unsigned dim, unsigned xsize,
                unsigned ysize, unsigned zsize) {
  return imgopen(-1, path, mode, type, dim, xsize, ysize, zsize);
}

SgiImage* fiopen(int file, const char* mode, unsigned type, unsigned dim, unsigned xsize, unsigned ysize,
                 unsigned zsize) {
  return imgopen(file, nullptr, mode, type, dim, xsize, ysize, zsize);
}

SgiImage* imgopen(int file, const char* path, const char* mode, unsigned type, unsigned dim, unsigned xsize,
                  unsigned ysize, unsigned zsize) {
  g_errbuf[0] = '\0';
  SgiImage* image = static_cast<SgiImage*>(q4_calloc_c(1, sizeof(SgiImage), __FILE__, __LINE__));
  if (!image) {
    error("iopen: error on image struct alloc\n");
    return nullptr;
  }
  const bool own_file = path != nullptr;
  if (mode[0] && mode[1] == '+') {
    error("iopen: read/write mode not supported\n");
    return fail_open(image, -1, false);
  }
  const bool writing = mode[0] == 'w';
  if (writing) {
    if (own_file) file = open(path, O_RDWR | O_CREAT | O_TRUNC, 0666);
    if (file < 0) {
      error("iopen: can't open output file %s\n", path ? path : "");
      return fail_open(image, file, own_file);
    }
    if (xsize > 65535 || ysize > 65535 || zsize > 65535) {
      error("iopen: image %ux%ux%u too large\n", xsize, ysize, zsize);
      return fail_open(image, file, own_file);
    }
    image->imagic = SGI_MAGIC;
    image->type = static_cast<uint16_t>(type);
    image->xsize = static_cast<uint16_t>(xsize);
    image->ysize = static_cast<uint16_t>(dim > 1 ? ysize : 1);
    image->zsize = static_cast<uint16_t>(dim > 2 ? zsize : 1);
    image->dim = image->zsize != 1 ? 3 : image->ysize == 1 ? 1 : 2;
    image->min = 10000000;
    image->max = 0;
    isetname(image, "no name");
    image->reverse = kHostLittle;
    image->flags = SGI_WRITE;
  } else {
    if (own_file) file = open(path, O_RDONLY);
    if (file < 0) {
      error("iopen: can't open input file %s\n", path ? path : "");
      return fail_open(image, file, own_file);
    }
    image->file = file;
    uint8_t bytes[108];
    if (pread(file, bytes, sizeof bytes, 0) != int64_t(sizeof bytes)) {
      error("iopen: error on read of image header\n");
      return fail_open(image, file, own_file);
    }
    parse_header(bytes, image);
    if (image->imagic == __builtin_bswap16(SGI_MAGIC)) {
      image->reverse = 1;
      cvtimage(image);
    }
    if (image->imagic != SGI_MAGIC) {
      error("iopen: bad magic in image file %x\n", bytes[0] << 8 | bytes[1]);
      return fail_open(image, file, own_file);
    }
    image->flags = SGI_READ;
  }
  image->file = file;
  if (!layout_ok(image)) return fail_open(image, file, own_file);
  struct stat info;
  const bool sized = !writing && fstat(file, &info) == 0;
  if (!writing && !is_rle(image)) {
    // Verbatim rows lie one after another: all of them must be there.
    const uint64_t rows = image->dim == 1 ? 1 : image->dim == 2 ? image->ysize : uint64_t(image->ysize) * image->zsize;
    if (!sized || uint64_t(info.st_size) < SGI_HEADER_BYTES + rows * image->xsize * bpc(image)) {
      error("iopen: image data passes the end of the file\n");
      return fail_open(image, file, own_file);
    }
  }
  if (is_rle(image)) {
    const size_t entries = size_t(image->ysize) * image->zsize;
    const uint64_t end = SGI_HEADER_BYTES + uint64_t(entries) * 8;
    // Tables are read whole: they must lie in the file before they are
    // allocated, and fit 32-bit offsets.
    if (end > UINT32_MAX || (!writing && (!sized || uint64_t(info.st_size) < end))) {
      error("iopen: row tables of %zu entries pass the end of the file\n", entries);
      return fail_open(image, file, own_file);
    }
    image->rowstart = static_cast<uint32_t*>(q4_malloc_c(unsigned(entries * 4), __FILE__, __LINE__));
    image->rowsize = static_cast<uint32_t*>(q4_malloc_c(unsigned(entries * 4), __FILE__, __LINE__));
    if (!image->rowstart || !image->rowsize) {
      error("iopen: error on table alloc\n");
      return fail_open(image, file, own_file);
    }
    image->rleend = static_cast<uint32_t>(end);
    if (writing) {
      memset(image->rowstart, 0, entries * 4);
      memset(image->rowsize, 0xFF, entries * 4);
    } else if (!read_table(image, image->rowstart, SGI_HEADER_BYTES, entries * 4, "rowstart") ||
               !read_table(image, image->rowsize, SGI_HEADER_BYTES + int64_t(entries) * 4, entries * 4,
                           "rowsize")) {
      return fail_open(image, file, own_file);
    }
  }
  if (ibufalloc(image) != 0) return fail_open(image, file, own_file);
  if (writing) {
    image->out = static_cast<uint8_t*>(q4_malloc_c(kOutBytes, __FILE__, __LINE__));
    uint8_t bytes[SGI_HEADER_BYTES];
    header_bytes(image, bytes);
    image->offset = 0;
    if (!image->out || img_write(image, bytes, sizeof bytes) != int64_t(sizeof bytes) || iflush(image) != 0) {
      write_failed(image, "iopen", "image header");
      return fail_open(image, file, own_file);
    }
  }
  image->x = image->y = image->z = 0;
  image->offset = SGI_HEADER_BYTES;
  return image;
}

int ibufalloc(SgiImage* image) {
  image->tmpbuf = static_cast<uint8_t*>(q4_malloc_c(unsigned(sgi_row_units(image->xsize) * 2), __FILE__, __LINE__));
  if (!image->tmpbuf) {
    error("iopen: error on tmpbuf alloc %d\n", image->xsize);
    return -1;
  }
  return 0;
}

int getrow(SgiImage* image, uint16_t* buffer, unsigned y, unsigned z) {
  if (!(image->flags & SGI_READ)) return -1;
  if (image->dim < 2) y = 0;
  if (image->dim < 3) z = 0;
  if (img_seek(image, y, z) < 0) return -1;
  const size_t xsize = image->xsize;
  if (is_rle(image)) {
    // A coded row longer than any row of xsize values is refused unread.
    const uint32_t count = img_getrowsize(image);
    if (count > sgi_row_units(xsize) * bpc(image)) {
      error("getrow: row %u of channel %u has a length of %u\n", y, z, count);
      return -1;
    }
    if (img_read(image, image->tmpbuf, count) != count) {
      error("getrow: error on read of row %u of channel %u\n", y, z);
      return -1;
    }
    if (bpc(image) == 2 && image->reverse) cvtshorts(image->tmpbuf, count);
    if (img_rle_expand(image->tmpbuf, bpc(image), count / bpc(image), buffer, 2, xsize) != long(xsize)) {
      error("getrow: bad run-length coding in row %u of channel %u\n", y, z);
      return -1;
    }
    return int(xsize);
  }
  const size_t bytes = xsize * bpc(image);
  uint8_t* into = bpc(image) == 1 ? image->tmpbuf : reinterpret_cast<uint8_t*>(buffer);
  if (img_read(image, into, bytes) != int64_t(bytes)) {
    error("getrow: error on read of row %u of channel %u\n", y, z);
    return -1;
  }
  if (bpc(image) == 1)
    for (size_t i = 0; i < xsize; ++i) buffer[i] = into[i];
  else if (image->reverse)
    cvtshorts(buffer, bytes);
  return int(xsize);
}

int putrow(SgiImage* image, const uint16_t* buffer, unsigned y, unsigned z) {
  if (!(image->flags & SGI_WRITE)) return -1;
  if (image->dim < 2) y = 0;
  if (image->dim < 3) z = 0;
  if (img_badrow(image, y, z)) {
    error("putrow: row number out of range\n");
    return -1;
  }
  const size_t xsize = image->xsize;
  // The header's range of the values as written: a byte of each for 1-byte
  // files.
  const uint16_t mask = bpc(image) == 1 ? 0xFF : 0xFFFF;
  uint16_t lo = 0xFFFF, hi = 0;
  for (size_t i = 0; i < xsize; ++i) {
    lo = std::min<uint16_t>(lo, buffer[i] & mask);
    hi = std::max<uint16_t>(hi, buffer[i] & mask);
  }
  image->min = std::min<uint32_t>(image->min, lo);
  image->max = std::max<uint32_t>(image->max, hi);
  size_t bytes = xsize * bpc(image);
  if (is_rle(image)) {
    bytes = size_t(img_rle_compact(buffer, 2, image->tmpbuf, int(bpc(image)), xsize)) * bpc(image);
    if (uint64_t(image->rleend) + bytes > UINT32_MAX) {
      error("putrow: coded rows pass 32-bit offsets\n");
      return -1;
    }
    img_setrowsize(image, uint32_t(bytes), y, z);
  } else if (bpc(image) == 1) {
    for (size_t i = 0; i < xsize; ++i) image->tmpbuf[i] = static_cast<uint8_t>(buffer[i]);
  } else {
    memcpy(image->tmpbuf, buffer, bytes);
  }
  if (bpc(image) == 2 && image->reverse) cvtshorts(image->tmpbuf, bytes);
  if (img_seek(image, y, z) < 0 || img_write(image, image->tmpbuf, bytes) != int64_t(bytes)) return -1;
  return int(xsize);
}

int iflush(SgiImage* image) {
  const size_t count = image->out_count;
  image->out_count = 0;
  // A write stops short at a limit on the file's size; the next one then
  // fails with the system's reason.
  size_t done = 0;
  ssize_t written = 0;
  while (done < count &&
         (written = pwrite(image->file, image->out + done, count - done, image->out_offset + int64_t(done))) > 0)
    done += size_t(written);
  if (done == count) return 0;
  error("iflush: error on write of %zu bytes at offset %lld: %s\n", count, static_cast<long long>(image->out_offset),
        written < 0 ? strerror(errno) : "nothing written");
  image->flags |= SGI_FLUSH_FAILED;
  image->offset = -1;
  return -1;
}

int iclose(SgiImage* image) {
  // Rows lost by an earlier flush leave the file incomplete.
  bool ok = iflush(image) == 0 && !(image->flags & SGI_FLUSH_FAILED);
  if (image->flags & SGI_WRITE) {
    uint8_t bytes[SGI_HEADER_BYTES];
    header_bytes(image, bytes);
    image->offset = 0;
    if (img_write(image, bytes, sizeof bytes) != int64_t(sizeof bytes) || iflush(image) != 0) {
      write_failed(image, "iclose", "image header");
      ok = false;
    }
    if (ok && is_rle(image)) {
      const size_t bytes_per_table = size_t(image->ysize) * image->zsize * 4;
      image->offset = SGI_HEADER_BYTES;
      ok = write_table(image, image->rowstart, bytes_per_table, "rowstart") &&
           write_table(image, image->rowsize, bytes_per_table, "rowsize");
    }
  }
  release_buffers(image);
  const int closed = close(image->file);
  image->file = -1;
  return ok && closed == 0 ? 0 : -1;
}

// The name field need not end in a NUL: 80 characters fill it.
void isetname(SgiImage* image, const char* name) {
  memset(image->name, 0, sizeof image->name);
  memcpy(image->name, name, strnlen(name, sizeof image->name));
}

void isetcolormap(SgiImage* image, uint32_t colormap) { image->colormap = colormap; }

int64_t img_seek(SgiImage* image, unsigned y, unsigned z) {
  if (img_badrow(image, y, z)) {
    error("img_seek: row number out of range\n");
    return -1;
  }
  image->x = 0;
  image->y = static_cast<uint16_t>(y);
  image->z = static_cast<uint16_t>(z);
  if (is_rle(image)) return img_optseek(image, image->rowstart[row_index(image, y, z)]);
  const int64_t row = image->dim == 1 ? 0 : image->dim == 2 ? y : y + int64_t(z) * image->ysize;
  return img_optseek(image, SGI_HEADER_BYTES + row * image->xsize * bpc(image));
}

// Reads and writes go to their offset directly, so moving costs nothing.
int64_t img_optseek(SgiImage* image, int64_t offset) {
  image->offset = offset;
  return offset;
}

int64_t img_read(SgiImage* image, void* buffer, size_t count) {
  if (image->offset < 0) return -1;
  const ssize_t got = pread(image->file, buffer, count, image->offset);
  if (got != ssize_t(count)) {
    image->offset = -1;
    return got;
  }
  image->offset += count;
  return got;
}

int64_t img_write(SgiImage* image, const void* buffer, size_t count) {
  if (image->offset < 0 || count > kOutBytes) return -1;
  // What follows the gathered bytes joins them; anything else, or what
  // does not fit, sends them first.
  if (image->out_count && (image->offset != image->out_offset + int64_t(image->out_count) ||
                           count > kOutBytes - image->out_count)) {
    if (iflush(image) != 0) return -1;
  }
  if (!image->out_count) image->out_offset = image->offset;
  memcpy(image->out + image->out_count, buffer, count);
  image->out_count += count;
  image->offset += count;
  return int64_t(count);
}

uint32_t img_getrowsize(const SgiImage* image) {
  return image->rowsize[row_index(image, image->y, image->z)];
}

void img_setrowsize(SgiImage* image, uint32_t count, unsigned y, unsigned z) {
  if (img_badrow(image, y, z)) return;
  const size_t i = row_index(image, y, z);
  if (image->rowsize[i] != kNoRow) image->wastebytes += image->rowsize[i];
  image->rowstart[i] = image->rleend;
  image->rowsize[i] = count;
  image->rleend += count;
}

int img_badrow(const SgiImage* image, unsigned y, unsigned z) {
  return y >= image->ysize || z >= image->zsize ? 1 : 0;
}
