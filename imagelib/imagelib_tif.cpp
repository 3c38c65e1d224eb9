#include "imagelib_tif.h"

#include <sys/uio.h>

#include <cstdarg>
#include <cstring>
#include <initializer_list>

#include "imgio.h"
#include "imgio_messages.h"
#include "q4_byteorder.h"
#include "q4_memory.h"

namespace {

enum { TIFF_BYTE = 1, TIFF_ASCII = 2, TIFF_SHORT = 3, TIFF_LONG = 4, TIFF_RATIONAL = 5 };
enum : uint16_t { ORDER_II = 0x4949, ORDER_MM = 0x4D4D };
enum {
  TAG_WIDTH = 256,
  TAG_HEIGHT = 257,
  TAG_BITS = 258,
  TAG_COMPRESSION = 259,
  TAG_PHOTOMETRIC = 262,
  TAG_STRIP_OFFSETS = 273,
  TAG_ORIENTATION = 274,
  TAG_SAMPLES = 277,
  TAG_ROWS_PER_STRIP = 278,
  TAG_STRIP_BYTE_COUNTS = 279,
  TAG_X_RESOLUTION = 282,
  TAG_Y_RESOLUTION = 283,
  TAG_PLANAR = 284,
  TAG_RESOLUTION_UNIT = 296
};
const int kEntries = 15;
const int kBitsOffset = 194;  // after the header, the directory and its next offset

int type_size(int type) {
  switch (type) {
    case TIFF_BYTE: case TIFF_ASCII: return 1;
    case TIFF_SHORT: return 2;
    case TIFF_LONG: return 4;
    case TIFF_RATIONAL: return 8;
    default: return 0;
  }
}

bool readable_type(int type) { return type == TIFF_BYTE || type == TIFF_SHORT || type == TIFF_LONG; }

// Byte order of the numbers a file holds.
unsigned get16(const unsigned char* p, bool mm) { return mm ? p[0] << 8 | p[1] : p[1] << 8 | p[0]; }
uint32_t get32(const unsigned char* p, bool mm) {
  return mm ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
            : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}
void put16(unsigned char*& p, unsigned v) {
  *p++ = static_cast<unsigned char>(v);
  *p++ = static_cast<unsigned char>(v >> 8);
}
void put32(unsigned char*& p, uint32_t v) {
  put16(p, v & 0xFFFF);
  put16(p, v >> 16);
}

void refuse(const char* format, ...) __attribute__((format(printf, 1, 2)));
void refuse(const char* format, ...) {
  char why[100];
  va_list args;
  va_start(args, format);
  vsnprintf(why, sizeof why, format, args);
  va_end(args);
  messprintf(IMSSYS_INFO, "ERROR: TIFF file refused: %s.\n", why);
}

void free_block(void* block) {
  if (block) q4_free(block, __FILE__, __LINE__);
}

int sample_bytes_of(int type) { return image_sample_bytes(type); }

int64_t data_bytes(int64_t width, int64_t height, int64_t channels, int type) {
  return width * height * channels * sample_bytes_of(type);
}

bool read_exact(FILE* file, int64_t offset, void* out, size_t bytes) {
  return fseek(file, offset, SEEK_SET) == 0 && fread(out, 1, bytes, file) == bytes;
}

// Reads strips of whole rows into an image's rows, in order or from the
// bottom up, with one vectored read per batch of rows. A strip that does
// not end on a row is refused.
class RowScatter {
 public:
  RowScatter(FILE* file, unsigned char* pixels, size_t row_bytes, int rows, bool mirrored)
      : fd_(fileno(file)), pixels_(pixels), row_bytes_(row_bytes), rows_(rows), mirrored_(mirrored) {}

  bool read(int64_t offset, size_t bytes) {
    if (row_bytes_ == 0 || bytes % row_bytes_ != 0 || bytes / row_bytes_ > static_cast<size_t>(rows_ - next_))
      return false;
    for (size_t left = bytes / row_bytes_; left > 0;) {
      const int batch = left < kBatch ? static_cast<int>(left) : kBatch;
      iovec rows[kBatch];
      for (int k = 0; k < batch; ++k) rows[k] = {row(next_ + k), row_bytes_};
      if (!read_rows(rows, batch, offset)) return false;
      offset += static_cast<int64_t>(batch * row_bytes_);
      next_ += batch;
      left -= batch;
    }
    return true;
  }

 private:
  static const int kBatch = 512;

  unsigned char* row(int file_row) const {
    const int y = mirrored_ ? rows_ - 1 - file_row : file_row;
    return pixels_ + static_cast<size_t>(y) * row_bytes_;
  }

  // preadv may stop short; what is left of the batch is asked for again.
  bool read_rows(iovec* rows, int count, int64_t offset) {
    while (count > 0) {
      const ssize_t got = preadv(fd_, rows, count, offset);
      if (got <= 0) return false;
      offset += got;
      for (size_t done = static_cast<size_t>(got); done > 0;) {
        const size_t take = done < rows->iov_len ? done : rows->iov_len;
        rows->iov_base = static_cast<unsigned char*>(rows->iov_base) + take;
        rows->iov_len -= take;
        done -= take;
        if (rows->iov_len == 0) {
          ++rows;
          --count;
        }
      }
    }
    return true;
  }

  int fd_;
  unsigned char* pixels_;
  size_t row_bytes_;
  int rows_;
  bool mirrored_;
  int next_ = 0;
};

// Entry value as the fix-up rules have it: values that fit in 4 bytes are
// decoded from the first bytes in the file's order, larger ones are an
// offset, other types keep the raw little-endian word.
TiffField decode_field(const unsigned char* raw, bool mm) {
  TiffField field;
  field.tag = static_cast<uint16_t>(get16(raw, mm));
  field.type = static_cast<uint16_t>(get16(raw + 2, mm));
  field.count = get32(raw + 4, mm);
  memcpy(field.raw, raw + 8, sizeof field.raw);
  const uint64_t bytes = uint64_t(field.count) * type_size(field.type);
  if (bytes > 4)
    field.value = get32(raw + 8, mm);
  else if (field.type == TIFF_SHORT)
    field.value = get16(raw + 8, mm);
  else if (field.type == TIFF_BYTE)
    field.value = raw[8];
  else if (field.type == TIFF_LONG)
    field.value = get32(raw + 8, mm);
  else
    field.value = get32(raw + 8, false);
  return field;
}

const TiffField* find(const TiffInfo* info, int tag) {
  for (int i = 0; i < info->entry_count; ++i)
    if (info->entries[i].tag == tag) return &info->entries[i];
  return nullptr;
}

// One number of a tag: a single BYTE, SHORT or LONG. Absent: the fallback,
// or a refusal when the tag is required (fallback < 0).
bool scalar(const TiffInfo* info, int tag, int64_t fallback, uint32_t* out) {
  const TiffField* field = find(info, tag);
  if (!field) {
    if (fallback < 0) {
      refuse("tag %d is missing", tag);
      return false;
    }
    *out = static_cast<uint32_t>(fallback);
    return true;
  }
  if (!readable_type(field->type) || field->count != 1) {
    refuse("tag %d has type %u and %u values", tag, field->type, field->count);
    return false;
  }
  *out = field->value;
  return true;
}

// Values that fit in the entry lie in it (two strips of SHORT byte counts,
// for one). The own layout alone keeps two BitsPerSample values at an offset,
// and stored files rely on it; its private tag tells such files apart.
bool inline_array(const TiffInfo* info, const TiffField* field) {
  return uint64_t(field->count) * type_size(field->type) <= 4 &&
         !(field->tag == TAG_BITS && find(info, TIFF_TAG_PIXEL_TYPE));
}

// count values of tag into out: the one inline value for a single value,
// else an array, which must hold exactly count readable values.
bool values(TiffInfo* info, int tag, uint32_t count, uint32_t* out) {
  if (count == 1) return scalar(info, tag, -1, out);
  const TiffField* field = find(info, tag);
  bool ok = field && field->count == count;
  if (ok && readable_type(field->type) && inline_array(info, field)) {
    const int size = type_size(field->type);
    for (uint32_t i = 0; i < count; ++i)
      out[i] = size == 1 ? field->raw[i] : get16(field->raw + 2 * i, info->byte_order == ORDER_MM);
  } else if (ok) {
    ok = get_tag_array(info, tag, out, static_cast<int>(count));
  }
  if (!ok) refuse("tag %d does not hold %u readable values", tag, count);
  return ok;
}

bool read_directory(TiffInfo* info) {
  unsigned char head[8];
  if (!read_exact(info->file, 0, head, sizeof head)) {
    refuse("shorter than a header");
    return false;
  }
  info->byte_order = static_cast<uint16_t>(head[0] << 8 | head[1]);
  if (info->byte_order != ORDER_II && info->byte_order != ORDER_MM) {
    refuse("no byte-order mark");
    return false;
  }
  const bool mm = info->byte_order == ORDER_MM;
  info->magic = static_cast<uint16_t>(get16(head + 2, mm));
  info->directory = get32(head + 4, mm);
  if (info->magic != 42) {
    refuse("magic number %u", info->magic);
    return false;
  }
  if (info->directory == 0) return true;
  unsigned char count[2];
  if (!read_exact(info->file, info->directory, count, 2)) {
    refuse("directory outside the file");
    return false;
  }
  info->entry_count = static_cast<uint16_t>(get16(count, mm));
  // Entries and the next-directory offset must lie inside the file before
  // anything is allocated for them.
  if (int64_t(info->directory) + 2 + 12 * int64_t(info->entry_count) + 4 > info->file_size) {
    refuse("directory of %u entries outside the file", info->entry_count);
    return false;
  }
  info->entries = static_cast<TiffField*>(
      q4_malloc(sizeof(TiffField) * (info->entry_count ? info->entry_count : 1), __FILE__, __LINE__));
  if (!info->entries) return false;
  for (int i = 0; i < info->entry_count; ++i) {
    unsigned char raw[12];
    if (fread(raw, 1, sizeof raw, info->file) != sizeof raw) return false;
    info->entries[i] = decode_field(raw, mm);
  }
  unsigned char next[4];
  if (fread(next, 1, sizeof next, info->file) != sizeof next) return false;
  if (get32(next, mm) != 0) {
    refuse("more than one image");
    return false;
  }
  return true;
}

bool read_strips(TiffInfo* info) {
  uint32_t rows = 0;
  if (!scalar(info, TAG_ROWS_PER_STRIP, 0xFFFFFFFFu, &rows)) return false;
  if (rows == 0) {
    refuse("RowsPerStrip 0");
    return false;
  }
  info->rows_per_strip = rows;
  info->strip_count = rows >= info->height ? 1 : (info->height + rows - 1) / rows;
  if (info->strip_count == 1)
    return values(info, TAG_STRIP_OFFSETS, 1, &info->strip_offset) &&
           values(info, TAG_STRIP_BYTE_COUNTS, 1, &info->strip_bytes);
  // Both arrays must be as long as the strips and lie in the file before
  // anything is allocated for them: a tall picture of one-row strips would
  // otherwise ask for more than the file could hold.
  for (int tag : {TAG_STRIP_OFFSETS, TAG_STRIP_BYTE_COUNTS}) {
    const TiffField* field = find(info, tag);
    if (!field || field->count != info->strip_count ||
        int64_t(field->count) * type_size(field->type) > info->file_size) {
      refuse("tag %d does not hold %u strips", tag, info->strip_count);
      return false;
    }
  }
  const unsigned bytes = sizeof(uint32_t) * info->strip_count;
  info->strip_offsets = static_cast<uint32_t*>(q4_malloc(bytes, __FILE__, __LINE__));
  info->strip_byte_counts = static_cast<uint32_t*>(q4_malloc(bytes, __FILE__, __LINE__));
  return info->strip_offsets && info->strip_byte_counts &&
         values(info, TAG_STRIP_OFFSETS, info->strip_count, info->strip_offsets) &&
         values(info, TAG_STRIP_BYTE_COUNTS, info->strip_count, info->strip_byte_counts);
}

// The strips must cover the pixel data exactly, each inside the file: more
// would overrun the image, less would leave pixels unread. Strips may
// share bytes, so the data must also be no longer than the file.
bool strips_fit(const TiffInfo* info) {
  const int64_t wanted = data_bytes(info->width, info->height, info->samples, info->pixel_type);
  if (wanted > info->file_size) {
    refuse("%lld bytes of pixels in a file of %lld", static_cast<long long>(wanted),
           static_cast<long long>(info->file_size));
    return false;
  }
  int64_t total = 0;
  for (uint32_t i = 0; i < info->strip_count; ++i) {
    const int64_t offset = info->strip_count == 1 ? info->strip_offset : info->strip_offsets[i];
    const int64_t bytes = info->strip_count == 1 ? info->strip_bytes : info->strip_byte_counts[i];
    if (offset + bytes > info->file_size) {
      refuse("strip %u outside the file", i);
      return false;
    }
    total += bytes;
  }
  if (total != wanted) {
    refuse("strips hold %lld bytes for %lld of pixels", static_cast<long long>(total),
           static_cast<long long>(wanted));
    return false;
  }
  return true;
}

bool read_fields(TiffInfo* info) {
  uint32_t compression = 0, photometric = 0, planar = 0;
  if (!scalar(info, TAG_WIDTH, -1, &info->width) || !scalar(info, TAG_HEIGHT, -1, &info->height) ||
      !scalar(info, TAG_SAMPLES, -1, &info->samples) ||
      !scalar(info, TAG_COMPRESSION, -1, &compression) ||
      !scalar(info, TAG_PHOTOMETRIC, -1, &photometric) || !scalar(info, TAG_PLANAR, 1, &planar) ||
      !scalar(info, TAG_ORIENTATION, 1, &info->orientation))
    return false;
  if (compression != 1 || (photometric != 1 && photometric != 2) || planar != 1) {
    refuse("compression %u, photometric %u, planar %u", compression, photometric, planar);
    return false;
  }
  if (!imgsizeok(info->width, info->height)) {
    refuse("size %ux%u", info->width, info->height);
    return false;
  }
  if (info->samples < 1 || info->samples > TIFF_MAX_SAMPLES) {
    refuse("%u samples per pixel", info->samples);
    return false;
  }
  uint32_t bits[TIFF_MAX_SAMPLES];
  if (!values(info, TAG_BITS, info->samples, bits)) return false;
  for (uint32_t i = 0; i < info->samples; ++i) {
    if (bits[i] != bits[0] || (bits[i] != 8 && bits[i] != 16 && bits[i] != 32)) {
      refuse("%u bits in sample %u", bits[i], i);
      return false;
    }
  }
  info->bits = bits[0];
  uint32_t hint = 0;
  if (!scalar(info, TIFF_TAG_PIXEL_TYPE, 0, &hint)) return false;
  info->pixel_type = info->bits == 8    ? IMAGE_PIXEL_BYTE
                     : info->bits == 16 ? IMAGE_PIXEL_WORD
                     : hint == IMAGE_PIXEL_WORD32 ? IMAGE_PIXEL_WORD32
                                                  : IMAGE_PIXEL_FLOAT;
  return read_strips(info) && strips_fit(info);
}

bool matches(const TiffInfo* info, const image_data* image) {
  return image && image->pixels && image->width == info->width && image->height == info->height &&
         image->channels == info->samples && image->pixel_type == info->pixel_type;
}

}  // namespace

int image_tiff_write_header(FILE* file, int width, int height, int channels, int type, void** info) {
  if (!info) return 0;
  *info = nullptr;
  // Width and height are written as SHORT values.
  if (!file || width < 1 || width > 65535 || height < 1 || height > 65535 || channels < 1 ||
      channels > TIFF_MAX_SAMPLES || sample_bytes_of(type) == 0)
    return 0;
  const int64_t data = data_bytes(width, height, channels, type);
  if (data > 0xFFFFFFFFll) return 0;
  TiffInfo* record = static_cast<TiffInfo*>(q4_calloc(1, sizeof(TiffInfo), __FILE__, __LINE__));
  if (!record) return 0;
  *info = record;
  record->file = file;
  record->width = width;
  record->height = height;
  record->samples = channels;
  record->pixel_type = type;
  record->bits = 8 * sample_bytes_of(type);

  const uint32_t n = channels;
  const uint32_t data_offset = kBitsOffset + 2 * n + 16;
  const size_t header_bytes = data_offset;
  unsigned char* bytes = static_cast<unsigned char*>(q4_malloc(header_bytes, __FILE__, __LINE__));
  if (!bytes) return 0;
  unsigned char* p = bytes;
  *p++ = 'I';
  *p++ = 'I';
  put16(p, 42);
  put32(p, 8);
  put16(p, kEntries);
  const struct {
    uint16_t tag, type;
    uint32_t count, value;
  } entries[kEntries] = {
      {TAG_WIDTH, TIFF_SHORT, 1, uint32_t(width)},
      {TAG_HEIGHT, TIFF_SHORT, 1, uint32_t(height)},
      // Two or more values always at the offset, two included: stored files
      // have it so.
      {TAG_BITS, TIFF_SHORT, n, n == 1 ? record->bits : uint32_t(kBitsOffset)},
      {TAG_COMPRESSION, TIFF_SHORT, 1, 1},
      {TAG_PHOTOMETRIC, TIFF_SHORT, 1, n == 1 ? 1u : 2u},
      {TAG_STRIP_OFFSETS, TIFF_LONG, 1, data_offset},
      {TAG_ORIENTATION, TIFF_SHORT, 1, 4},
      {TAG_SAMPLES, TIFF_SHORT, 1, n},
      {TAG_ROWS_PER_STRIP, TIFF_SHORT, 1, uint32_t(height)},
      {TAG_STRIP_BYTE_COUNTS, TIFF_LONG, 1, uint32_t(data)},
      {TAG_X_RESOLUTION, TIFF_RATIONAL, 1, kBitsOffset + 2 * n},
      {TAG_Y_RESOLUTION, TIFF_RATIONAL, 1, kBitsOffset + 2 * n + 8},
      {TAG_PLANAR, TIFF_SHORT, 1, 1},
      {TAG_RESOLUTION_UNIT, TIFF_SHORT, 1, 2},
      {TIFF_TAG_PIXEL_TYPE, TIFF_SHORT, 1, uint32_t(type)},
  };
  for (const auto& e : entries) {
    put16(p, e.tag);
    put16(p, e.type);
    put32(p, e.count);
    put32(p, e.value);
  }
  put32(p, 0);
  for (uint32_t i = 0; i < n; ++i) put16(p, record->bits);
  for (int resolution = 0; resolution < 2; ++resolution) {
    put32(p, 300);
    put32(p, 1);
  }
  const bool written = fwrite(bytes, 1, header_bytes, file) == header_bytes;
  q4_free(bytes, __FILE__, __LINE__);
  record->strip_count = 1;
  record->strip_offset = data_offset;
  record->strip_bytes = static_cast<uint32_t>(data);
  return written ? 1 : 0;
}

int image_tiff_write_data(image_data* image, void** info) {
  TiffInfo* record = info ? static_cast<TiffInfo*>(*info) : nullptr;
  if (!record || !matches(record, image)) return 0;
  return fseek(record->file, record->strip_offset, SEEK_SET) == 0 &&
                 fwrite(image->pixels, 1, record->strip_bytes, record->file) == record->strip_bytes
             ? 1
             : 0;
}

int image_tiff_read_header(FILE* file, int& width, int& height, int& channels, int& type, void** info) {
  if (!info) return 0;
  *info = nullptr;
  if (!file) return 0;
  TiffInfo* record = static_cast<TiffInfo*>(q4_calloc(1, sizeof(TiffInfo), __FILE__, __LINE__));
  if (!record) return 0;
  *info = record;
  record->file = file;
  bool ok = fseek(file, 0, SEEK_END) == 0 && (record->file_size = ftell(file)) >= 0;
  ok = ok && read_directory(record) && read_fields(record);
  if (!ok) {
    image_tiff_free_info(info);
    return 0;
  }
  width = static_cast<int>(record->width);
  height = static_cast<int>(record->height);
  channels = static_cast<int>(record->samples);
  type = record->pixel_type;
  return 1;
}

int image_tiff_read_data(image_data* image, void** info) {
  TiffInfo* record = info ? static_cast<TiffInfo*>(*info) : nullptr;
  if (!record || !matches(record, image)) return 0;
  const bool mirrored = record->orientation == 1;
  const size_t row_bytes = image->row_bytes;
  // The file's rows land in image rows from the bottom when the
  // orientation mirrors them, straight from the file: no second pass.
  RowScatter scatter(record->file, static_cast<unsigned char*>(image->pixels), row_bytes, image->height, mirrored);
  for (uint32_t i = 0; i < record->strip_count; ++i) {
    const uint32_t offset = record->strip_count == 1 ? record->strip_offset : record->strip_offsets[i];
    const uint32_t bytes = record->strip_count == 1 ? record->strip_bytes : record->strip_byte_counts[i];
    if (!scatter.read(offset, bytes)) return 0;
  }
  if (record->byte_order == ORDER_MM) {
    // image_data holds at most INT_MAX bytes, so the count fits an int.
    const int count = static_cast<int>(int64_t(image->width) * image->height * image->channels);
    if (image->pixel_type == IMAGE_PIXEL_WORD)
      word16_swab_vec(static_cast<unsigned short*>(image->pixels), count);
    else if (image->pixel_type != IMAGE_PIXEL_BYTE)
      word32_swab_vec(static_cast<unsigned*>(image->pixels), count);
  }
  return 1;
}

void image_tiff_free_info(void** info) {
  if (!info || !*info) return;
  TiffInfo* record = static_cast<TiffInfo*>(*info);
  free_block(record->entries);
  free_block(record->strip_offsets);
  free_block(record->strip_byte_counts);
  free_block(record);
  *info = nullptr;
}

int get_tag_array(TiffInfo* info, int tag, unsigned int* out, int max) {
  if (!info || !out) return 0;
  const TiffField* field = find(info, tag);
  if (!field || max < 0 || field->count > static_cast<uint32_t>(max) || !readable_type(field->type))
    return 0;
  const int size = type_size(field->type);
  if (int64_t(field->value) + int64_t(field->count) * size > info->file_size) return 0;
  if (fseek(info->file, field->value, SEEK_SET) != 0) return 0;
  const bool mm = info->byte_order == ORDER_MM;
  for (uint32_t i = 0; i < field->count; ++i) {
    unsigned char raw[4];
    if (fread(raw, 1, static_cast<size_t>(size), info->file) != static_cast<size_t>(size)) return 0;
    out[i] = size == 1 ? raw[0] : size == 2 ? get16(raw, mm) : get32(raw, mm);
  }
  return 1;
}
