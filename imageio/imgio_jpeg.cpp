// JPEG files through libjpeg. The library reports a fatal error by calling
// error_exit_override, which jumps back to the operation that started it;
// the functions a jump may leave hold nothing that needs unwinding, and the
// functions that set the jump change no local after it.
#include "imgio_jpeg.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include <jpeglib.h>
#include <jerror.h>

#include "imgio_messages.h"
#include "imgio_pixel.h"
#include "imgio_whole_lines.h"
#include "q4_memory.h"

const imgio_driver jpeg_driver = {JpegOpenf,  JpegCreatef, JpegReadl,  JpegWritel,   JpegReadl16,
                                  JpegWritel16, JpegClosef, JpegReadb,  JpegWriteb,   JpegReadb16,
                                  JpegWriteb16, nullptr,     JpegMakeSeek, JpegSeekTo};

const char jpeg_warning_prefix[] = "JPEG: Warning, ";

namespace {

enum class Decoding { pending, done, failed };

struct JpegRecord {
  FILE* file;
  int width;
  int height;
  int components;
  int row;                // the next line read or written
  unsigned char* pixels;  // width x height x components, scanline 0 first
  Decoding decoding;      // reading: how far the pixels are
  bool cmyk;              // reading: the components are Adobe's inverted CMYK
  jpeg_compress_struct compress;
  jpeg_decompress_struct decompress;
  jpeg_error_mgr errors;
  // Reading arithmetic-coded data, the pass that judges where it ends: the
  // file's bytes and a copy with a fill where the data ends, each decoded
  // to coefficients, with an error manager of its own (the picture's own
  // pass says the warnings).
  unsigned char* bytes[2];
  jpeg_decompress_struct coefficients[2];
  jpeg_error_mgr quiet;
  void (*library_emit)(j_common_ptr, int);  // the library's own emit_message
  jmp_buf jump;
};

JpegRecord* record(imginfo* h) { return static_cast<JpegRecord*>(h->driver); }

size_t stride(const JpegRecord* r) { return static_cast<size_t>(r->width) * r->components; }

void error_exit_override(j_common_ptr object) {
  char text[JMSG_LENGTH_MAX];
  object->err->format_message(object, text);
  messprintf(IMSSYS_INFO, "JPEG: %s\n", text);
  longjmp(static_cast<JpegRecord*>(object->client_data)->jump, 1);
}

// The library fills the data missing from a file that ends early, or from
// a scan whose data stops at a marker (for arithmetic data with restart
// intervals, one that meets the end where a restart marker was due), with
// grey and only warns: a picture that is not all there fails instead.
void emit_message_override(j_common_ptr object, int level) {
  const int code = object->err->msg_code;
  if (level < 0 && (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER || code == JWRN_MUST_RESYNC))
    object->err->error_exit(object);
  else
    static_cast<JpegRecord*>(object->client_data)->library_emit(object, level);
}

// The library prints only the first warning of each file.
void output_message_override(j_common_ptr object) {
  char text[JMSG_LENGTH_MAX];
  object->err->format_message(object, text);
  messprintf(IMSSYS_INFO, "%s%s\n", jpeg_warning_prefix, text);
}

JpegRecord* new_record() {
  JpegRecord* r = static_cast<JpegRecord*>(q4_calloc_c(1, sizeof(JpegRecord), __FILE__, __LINE__));
  if (!r) messprintf(IMSSYS_FATAL, "JPEG: No space for the driver record.\n");
  return r;
}

// Fatal errors of the library object come back to the record's jump buffer.
void attach(j_common_ptr object, JpegRecord* r) {
  object->err = jpeg_std_error(&r->errors);
  r->errors.error_exit = error_exit_override;
  r->library_emit = r->errors.emit_message;
  r->errors.emit_message = emit_message_override;
  r->errors.output_message = output_message_override;
  object->client_data = r;
}

// Destroys the library objects of the pass that judges where arithmetic
// data ends and frees its copies of the file (what was never created or is
// already gone is left as it is).
void end_judging(JpegRecord* r) {
  for (int i = 0; i < 2; ++i) {
    jpeg_destroy_decompress(&r->coefficients[i]);
    if (r->bytes[i]) q4_free_c(r->bytes[i], __FILE__, __LINE__);
    r->bytes[i] = nullptr;
  }
}

// Destroys every library object (one never created or already destroyed is
// left as it is), frees the pixels, closes the file and frees the record.
// False when the file could not be closed: for a written file, the last
// bytes did not reach it.
bool discard(JpegRecord* r) {
  jpeg_destroy_compress(&r->compress);
  jpeg_destroy_decompress(&r->decompress);
  end_judging(r);
  if (r->pixels) q4_image_free_c(r->pixels, __FILE__, __LINE__);
  const bool closed = !r->file || fclose(r->file) == 0;
  q4_free_c(r, __FILE__, __LINE__);
  return closed;
}

// Allocates the record's pixels; false with the message when the picture
// may not be held or there is no room.
bool allocate_pixels(JpegRecord* r, int64_t width, int64_t height, int components) {
  const int64_t bytes = width * height * components;
  if (!imgsizeok(width, height) || bytes > UINT_MAX) {
    messprintf(IMSSYS_INFO, "JPEG: Image size %lldx%lld is out of range.\n", static_cast<long long>(width),
               static_cast<long long>(height));
    return false;
  }
  r->pixels = static_cast<unsigned char*>(q4_image_malloc_c(static_cast<unsigned>(bytes), __FILE__, __LINE__));
  if (!r->pixels) {
    messprintf(IMSSYS_FATAL, "JPEG: No space for the image buffer.\n");
    return false;
  }
  r->width = static_cast<int>(width);
  r->height = static_cast<int>(height);
  r->components = components;
  return true;
}

// The fewest bytes that can code the frame of a Huffman-coded file: every
// 8x8 block of every component takes at least a one-bit code for its DC
// difference and, in a sequential file, another for the end of its AC
// coefficients; progressive AC scans may end thousands of blocks with one
// code, so there only the DC bit counts. Arithmetic coding spends far less
// than a bit on a block of a flat picture, which leaves it no useful bound.
int64_t fewest_coded_bytes(const jpeg_decompress_struct& d) {
  if (d.arith_code) return 0;
  int64_t blocks = 0;
  for (int i = 0; i < d.num_components; ++i)
    blocks += int64_t(d.comp_info[i].width_in_blocks) * d.comp_info[i].height_in_blocks;
  return blocks * (d.progressive_mode ? 1 : 2) / 8;
}

// The file's header, under the record's jump buffer: the picture's size and
// components, from the frame and the first scan's header alone. A file
// too short to code its frame is refused here, before anyone allocates a
// picture of the size it declares.
bool read_header(const char* name, JpegRecord* r) {
  jpeg_decompress_struct* d = &r->decompress;
  attach(reinterpret_cast<j_common_ptr>(d), r);
  jpeg_create_decompress(d);
  r->file = fopen(name, "rb");
  if (!r->file) {
    messprintf(IMSSYS_INFO, "JPEG: Cannot open input file: %s\n", name);
    return false;
  }
  jpeg_stdio_src(d, r->file);
  jpeg_read_header(d, TRUE);
  if (!imgsizeok(d->image_width, d->image_height)) {
    messprintf(IMSSYS_INFO, "JPEG: Image size %ux%u is out of range.\n", d->image_width, d->image_height);
    return false;
  }
  struct stat status;
  const int64_t size = fstat(fileno(r->file), &status) == 0 ? int64_t(status.st_size) : 0;
  if (size < fewest_coded_bytes(*d)) {
    messprintf(IMSSYS_INFO, "JPEG: %lld bytes cannot code a %ux%u image.\n", static_cast<long long>(size),
               d->image_width, d->image_height);
    return false;
  }
  jpeg_calc_output_dimensions(d);
  r->width = static_cast<int>(d->output_width);
  r->height = static_cast<int>(d->output_height);
  r->components = d->output_components;
  r->cmyk = d->out_color_space == JCS_CMYK;
  return true;
}

// The bytes of 0xFE put before the marker that ends each first DC scan's
// data, in place of the zeros the arithmetic decoder is fed there: as far
// from zeros as data can be (0xFF would start a marker).
constexpr size_t kFill = 256;

bool restart(unsigned marker) { return marker >= JPEG_RST0 && marker <= JPEG_RST0 + 7; }

bool marker_has_length(unsigned marker) {
  return marker != 0x01 && marker != 0xD8 && marker != 0xD9 && !restart(marker);
}

// Where a scan's coded data starting at `i` ends: at the run of 0xFF before
// the first marker that is neither a stuffed 0xFF nor a restart marker.
size_t coded_data_end(const unsigned char* in, size_t n, size_t i) {
  for (;; ++i) {
    size_t j = i;
    while (j < n && in[j] == 0xFF) ++j;
    if (j >= n) return n;
    if (j > i && in[j] != 0 && !restart(in[j])) return i;
    i = j;
  }
}

// Copies a JPEG stream into `out`, which holds `room` bytes, with the fill
// before the end of each first DC scan's coded data while there is room
// for it; returns the copy's size.
size_t copy_with_fill(const unsigned char* in, size_t n, unsigned char* out, size_t room) {
  size_t i = 0, o = 0;
  auto copy_to = [&](size_t to) {
    memcpy(out + o, in + i, to - i);
    o += to - i;
    i = to;
  };
  while (i < n) {
    size_t j = i;
    while (j < n && in[j] != 0xFF) ++j;          // bytes between markers
    while (j + 1 < n && in[j + 1] == 0xFF) ++j;  // a marker's fill bytes
    if (j + 3 >= n) break;
    const unsigned marker = in[j + 1];
    const size_t length = marker_has_length(marker) ? (in[j + 2] << 8 | in[j + 3]) : 0;
    const size_t data = std::min(n, j + 2 + length);
    copy_to(data);
    if (marker != 0xDA || j + 4 >= data) continue;
    const size_t spectral = j + 5 + 2 * size_t(in[j + 4]);  // Ss, Se, then Ah and Al
    const bool first_dc = spectral + 2 < data && in[spectral] == 0 && (in[spectral + 2] >> 4) == 0;
    copy_to(coded_data_end(in, n, data));
    if (first_dc && o + kFill + (n - i) <= room) {
      std::fill_n(out + o, kFill, 0xFE);
      o += kFill;
    }
  }
  copy_to(n);
  return o;
}

unsigned char* allocate_copy(size_t n) {
  return n > 0 && n <= UINT_MAX ? static_cast<unsigned char*>(q4_malloc_c(unsigned(n), __FILE__, __LINE__)) : nullptr;
}

// The coefficients of a stream in memory, decoded by `c` with the record's
// quiet error manager, under the record's jump buffer.
jvirt_barray_ptr* coefficients_of(j_decompress_ptr c, JpegRecord* r, const unsigned char* bytes, size_t n) {
  c->err = &r->quiet;
  c->client_data = r;
  jpeg_create_decompress(c);
  jpeg_mem_src(c, bytes, n);
  jpeg_read_header(c, TRUE);
  return jpeg_read_coefficients(c);
}

JBLOCKROW block_row(j_decompress_ptr d, jvirt_barray_ptr blocks, JDIMENSION y) {
  return *d->mem->access_virt_barray(reinterpret_cast<j_common_ptr>(d), blocks, y, 1, FALSE);
}

// The first block of a component, row by row, whose coefficients up to
// `last` differ between two decodes; false when none does.
bool first_difference(jpeg_decompress_struct decodes[2], jvirt_barray_ptr a, jvirt_barray_ptr b, int component,
                      int last, JDIMENSION* y, JDIMENSION* x) {
  const jpeg_component_info& info = decodes[0].comp_info[component];
  for (*y = 0; *y < info.height_in_blocks; ++*y) {
    const JBLOCKROW row_a = block_row(&decodes[0], a, *y), row_b = block_row(&decodes[1], b, *y);
    for (*x = 0; *x < info.width_in_blocks; ++*x)
      if (!std::equal(row_a[*x], row_a[*x] + last + 1, row_b[*x])) return true;
  }
  return false;
}

// Whether the blocks of a component decoded wholly after block (y, x),
// down to block row `end`, hold the same coefficients up to `last`: the
// rest of row y past the MCU holding the block (a scan of this component
// alone decodes it row by row too), then the iMCU rows after its own.
bool one_block_after(j_decompress_ptr d, jvirt_barray_ptr blocks, int component, int last, JDIMENSION y,
                     JDIMENSION x, JDIMENSION end) {
  const jpeg_component_info& info = d->comp_info[component];
  const JDIMENSION next_mcu = (x / info.h_samp_factor + 1) * info.h_samp_factor;
  const JDIMENSION next_imcu = (y / info.v_samp_factor + 1) * info.v_samp_factor;
  JBLOCK first;
  bool seen = false;
  for (JDIMENSION row = y; row < end; row = row == y ? next_imcu : row + 1) {
    const JBLOCKROW blocks_of_row = block_row(d, blocks, row);
    for (JDIMENSION column = row == y ? next_mcu : 0; column < info.width_in_blocks; ++column) {
      if (!seen) std::copy(blocks_of_row[column], blocks_of_row[column] + DCTSIZE2, first);
      seen = true;
      if (!std::equal(first, first + last + 1, blocks_of_row[column])) return false;
    }
  }
  return true;
}

// Whether arithmetic-coded data reaches the last rows of its frame (false
// with the message when not), judged in a pass of its own over the
// coefficients, under the record's jump buffer. The coder spends next to
// nothing on a tail of one flat colour or of one pattern and drops the zero
// bytes it ends in, so a whole file's data may end before such a tail; the
// zeros the decoder is fed from there give back the tail's one block (in a
// first DC scan, its one average). A frame taller than its data, or data
// cut short, mostly decodes others there. The decoder still holds data when
// it meets the marker, so each component's data ran out at the first block
// that decodes otherwise with a fill in place of those zeros (a progressive
// file's first DC scan alone is filled, so only the DC is compared); the
// blocks decoded wholly after that one are judged. Under vertically
// subsampled colour, a last block row holding one line is not judged: such
// a whole file may end its data before it.
bool data_reaches_last_rows(JpegRecord* r) {
  struct stat status;
  const size_t n = fstat(fileno(r->file), &status) == 0 ? size_t(status.st_size) : 0;
  const size_t filled_size = n + kFill * MAX_COMPONENTS;  // no frame has more first DC scans worth filling
  r->bytes[0] = allocate_copy(n);
  r->bytes[1] = allocate_copy(filled_size);
  rewind(r->file);
  if (!r->bytes[0] || !r->bytes[1] || fread(r->bytes[0], 1, n, r->file) != n) {
    messprintf(IMSSYS_FATAL, "JPEG: No copy of the file to judge where its coded data ends.\n");
    return false;
  }
  const size_t sizes[2] = {n, copy_with_fill(r->bytes[0], n, r->bytes[1], filled_size)};
  jpeg_std_error(&r->quiet);
  r->quiet.error_exit = error_exit_override;
  r->quiet.emit_message = [](j_common_ptr, int) {};
  jvirt_barray_ptr* blocks[2];
  for (int i = 0; i < 2; ++i) blocks[i] = coefficients_of(&r->coefficients[i], r, r->bytes[i], sizes[i]);
  j_decompress_ptr c = &r->coefficients[0];
  const int last = c->progressive_mode ? 0 : DCTSIZE2 - 1;
  const int lines = c->max_v_samp_factor * DCTSIZE;
  const JDIMENSION judged = (c->image_height - (c->max_v_samp_factor > 1) + lines - 1) / lines;  // iMCU rows
  bool reaches = true;
  JDIMENSION y, x;
  for (int i = 0; i < c->num_components && reaches; ++i) {
    const JDIMENSION end = std::min(c->comp_info[i].height_in_blocks, judged * c->comp_info[i].v_samp_factor);
    reaches = !first_difference(r->coefficients, blocks[0][i], blocks[1][i], i, last, &y, &x) ||
              one_block_after(c, blocks[0][i], i, last, y, x, end);
  }
  end_judging(r);
  if (!reaches) messprintf(IMSSYS_INFO, "JPEG: The coded data ends before the last rows of the image.\n");
  return reaches;
}

// The whole picture into the record's pixels, under the record's jump
// buffer. The arithmetic decoder reads zeros once its data ends and never
// warns, so where its data ends is judged apart.
bool decode(JpegRecord* r) {
  jpeg_decompress_struct* d = &r->decompress;
  jpeg_start_decompress(d);
  if (!allocate_pixels(r, d->output_width, d->output_height, d->output_components)) return false;
  while (d->output_scanline < d->output_height) {
    JSAMPROW row = r->pixels + stride(r) * d->output_scanline;
    if (jpeg_read_scanlines(d, &row, 1) != 1) return false;
  }
  jpeg_finish_decompress(d);
  const bool arithmetic = d->arith_code;
  jpeg_destroy_decompress(d);
  return !arithmetic || data_reaches_last_rows(r);
}

bool decode_under_jump(JpegRecord* r) {
  if (setjmp(r->jump)) return false;
  return decode(r);
}

// An open only learns the picture's size: it is decoded at the first line
// read, and one that failed fails every later read.
bool decoded(JpegRecord* r) {
  if (r->decoding == Decoding::pending) r->decoding = decode_under_jump(r) ? Decoding::done : Decoding::failed;
  return r->decoding == Decoding::done;
}

// The record's pixels into its file, under the record's jump buffer.
void encode(JpegRecord* r) {
  jpeg_compress_struct* c = &r->compress;
  attach(reinterpret_cast<j_common_ptr>(c), r);
  jpeg_create_compress(c);
  jpeg_stdio_dest(c, r->file);
  c->image_width = static_cast<JDIMENSION>(r->width);
  c->image_height = static_cast<JDIMENSION>(r->height);
  c->input_components = 3;
  c->in_color_space = JCS_RGB;
  jpeg_set_defaults(c);
  jpeg_start_compress(c, TRUE);
  while (c->next_scanline < c->image_height) {
    JSAMPROW row = r->pixels + stride(r) * c->next_scanline;
    jpeg_write_scanlines(c, &row, 1);
  }
  jpeg_finish_compress(c);
  jpeg_destroy_compress(c);
}

bool compress_file(JpegRecord* r) {
  if (setjmp(r->jump)) return false;
  encode(r);
  return true;
}

// Grey gives R = G = B; other pictures give their first four components,
// 255 (65535) where they have fewer.
template <typename Out>
int read_row(imginfo* h, Out* line) {
  JpegRecord* r = record(h);
  if (!r || !line || r->row < 0 || r->row >= r->height || !decoded(r)) return 0;
  const unsigned scale = sizeof(Out) == sizeof(unsigned short) ? 257 : 1;
  const unsigned opaque = 255 * scale;
  const int n = r->components;
  const unsigned char* p = r->pixels + stride(r) * r->row;
  ++r->row;
  if constexpr (std::is_same<Out, unsigned int>::value) {
    if (n == 3) {
      imgio_rgb_to_line(p, line, r->width);
      return 1;
    }
  }
  for (int x = 0; x < r->width; ++x, p += n) {
    if (n == 1)
      imgio_put_pixel(line, x, p[0] * scale, p[0] * scale, p[0] * scale, opaque);
    else
      imgio_put_pixel(line, x, p[0] * scale, p[1] * scale, n > 2 ? p[2] * scale : opaque,
                      n > 3 ? p[3] * scale : opaque);
  }
  return 1;
}

// R, G and B of each pixel (high bytes of a 16-bit line); alpha is dropped.
template <typename In>
int write_row(imginfo* h, const In* line) {
  JpegRecord* r = record(h);
  if (!r || !r->pixels || !line || r->row < 0 || r->row >= r->height) return 0;
  unsigned char* p = r->pixels + stride(r) * r->row;
  if constexpr (std::is_same<In, unsigned int>::value) {
    imgio_rgba_to_rgb(reinterpret_cast<const uint8_t*>(line), p, r->width);
  } else {
    for (int x = 0; x < r->width; ++x, p += 3)
      for (int c = 0; c < 3; ++c) p[c] = static_cast<unsigned char>(line[4 * x + c] >> 8);
  }
  ++r->row;
  return 1;
}

}  // namespace

int JpegOpenf(imginfo* h) {
  JpegRecord* r = new_record();
  if (!r) return 0;
  if (setjmp(r->jump)) {
    discard(r);
    return 0;
  }
  if (!read_header(h->file_name, r)) {
    discard(r);
    return 0;
  }
  h->driver = r;
  h->file_width = r->width;
  h->file_height = r->height;
  h->bits16 = 0;
  return 1;
}

int JpegCreatef(imginfo* h) {
  JpegRecord* r = new_record();
  if (!r) return 0;
  if (!allocate_pixels(r, h->file_width, h->file_height, 3)) {
    discard(r);
    return 0;
  }
  // Lines never written go out black, not as whatever the heap held.
  memset(r->pixels, 0, stride(r) * r->height);
  r->file = fopen(h->file_name, "w+");
  if (!r->file) {
    messprintf(IMSSYS_INFO, "JPEG: Cannot open input file: %s\n", h->file_name);
    discard(r);
    return 0;
  }
  h->driver = r;
  return 1;
}

int JpegReadl(imginfo* h) { return read_row(h, h->line); }
int JpegReadl16(imginfo* h) { return read_row(h, h->line16); }
int JpegWritel(imginfo* h) { return write_row(h, h->line); }
int JpegWritel16(imginfo* h) { return write_row(h, h->line16); }

int JpegClosef(imginfo* h) {
  JpegRecord* r = record(h);
  if (!r) return 0;
  h->driver = nullptr;
  bool ok = r->file != nullptr;
  if (h->mode == IMGIO_WRITE) ok = ok && r->pixels && compress_file(r);
  return discard(r) && ok ? 1 : 0;
}

int JpegReadb(imginfo* h) { return imgio_whole_read(h, jpeg_driver, false); }
int JpegReadb16(imginfo* h) { return imgio_whole_read(h, jpeg_driver, true); }
int JpegWriteb(imginfo* h) { return imgio_whole_write(h, jpeg_driver, false); }
int JpegWriteb16(imginfo* h) { return imgio_whole_write(h, jpeg_driver, true); }

int JpegMakeSeek(imginfo*) { return 1; }

int JpegGetCsp(imginfo* h) {
  const JpegRecord* r = imgrunby(h, jpeg_driver) ? record(h) : nullptr;
  if (!r) return 0;
  return r->cmyk ? 2 : 1;
}

int JpegSeekTo(imginfo* h) {
  JpegRecord* r = record(h);
  if (!r || h->seek_line < 0 || h->seek_line >= h->file_height) return 0;
  r->row = h->seek_line;
  return 1;
}
