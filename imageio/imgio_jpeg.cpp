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
  jpeg_decompress_struct coefficients;  // reading arithmetic-coded data: the pass that judges where it ends
  jpeg_error_mgr quiet;                 // that pass's: the picture's own pass says the warnings
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
  object->client_data = r;
}

// Destroys both library objects (one never created or already destroyed is
// left as it is), frees the pixels, closes the file and frees the record.
// False when the file could not be closed: for a written file, the last
// bytes did not reach it.
bool discard(JpegRecord* r) {
  jpeg_destroy_compress(&r->compress);
  jpeg_destroy_decompress(&r->decompress);
  jpeg_destroy_decompress(&r->coefficients);
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

// Whether the arithmetic decoder has met the marker after the coded data;
// a restart marker only ends an interval.
bool data_ended(const jpeg_decompress_struct& d) {
  return d.arith_code && d.unread_marker != 0 && (d.unread_marker < JPEG_RST0 || d.unread_marker > JPEG_RST0 + 7);
}

// Where the first scan of each band of coefficients met the marker after
// its data: the iMCU rows it had decoded by then. The rows after those were
// decoded from the zeros the coder is fed from there on.
struct ScanEnd {
  int component, first, last;  // the band
  JDIMENSION reached;
};

struct DataEnds {
  jpeg_progress_mgr progress;  // first, as the library hands it back
  int noted_scan;
  int count;
  ScanEnd ends[MAX_COMPONENTS * DCTSIZE2];  // no more first scans can code a frame
};

void note_data_end(j_common_ptr object) {
  const j_decompress_ptr d = reinterpret_cast<j_decompress_ptr>(object);
  DataEnds* e = reinterpret_cast<DataEnds*>(d->progress);
  if (!data_ended(*d) || d->Ss != 0 || d->Ah != 0 || d->input_scan_number == e->noted_scan) return;
  e->noted_scan = d->input_scan_number;
  for (int i = 0; i < d->comps_in_scan && e->count < MAX_COMPONENTS * DCTSIZE2; ++i)
    e->ends[e->count++] = {d->cur_comp_info[i]->component_index, d->Ss, d->Se, d->input_iMCU_row};
}

// Whether the blocks of a component from block row `from` down hold the
// same coefficients in the band.
bool one_band_from(j_decompress_ptr d, jvirt_barray_ptr blocks, const ScanEnd& end, JDIMENSION from) {
  const jpeg_component_info& info = d->comp_info[end.component];
  JBLOCK first;
  for (JDIMENSION y = from; y < info.height_in_blocks; ++y) {
    JBLOCKROW row = *d->mem->access_virt_barray(reinterpret_cast<j_common_ptr>(d), blocks, y, 1, FALSE);
    if (y == from) std::copy(row[0], row[0] + DCTSIZE2, first);
    for (JDIMENSION x = 0; x < info.width_in_blocks; ++x)
      if (!std::equal(first + end.first, first + end.last + 1, row[x] + end.first)) return false;
  }
  return true;
}

// Whether arithmetic-coded data reaches the last rows of its frame, judged
// in a pass of its own over the coefficients, under the record's jump
// buffer. The coder spends next to nothing on a tail of one flat colour or
// of one pattern and drops the zero bytes it ends in, so a whole file's
// data may end before such a tail; the zeros the decoder is fed from there
// give back the tail's one block (in a first DC scan, its one average). A
// frame taller than its data, or data cut short, mostly decodes others
// there. Under vertically subsampled colour, a last block row holding one
// line is not judged: such a whole file may end its data before it.
bool data_reaches_last_rows(JpegRecord* r) {
  jpeg_decompress_struct* c = &r->coefficients;
  c->err = jpeg_std_error(&r->quiet);
  r->quiet.error_exit = error_exit_override;
  r->quiet.emit_message = [](j_common_ptr, int) {};
  c->client_data = r;
  jpeg_create_decompress(c);
  rewind(r->file);
  jpeg_stdio_src(c, r->file);
  jpeg_read_header(c, TRUE);
  DataEnds e = {};
  e.progress.progress_monitor = note_data_end;
  c->progress = &e.progress;
  jvirt_barray_ptr* blocks = jpeg_read_coefficients(c);
  bool reaches = true;
  for (int i = 0; i < e.count && reaches; ++i) {
    const ScanEnd& end = e.ends[i];
    const int64_t tail = int64_t(end.reached) * c->max_v_samp_factor * DCTSIZE + (c->max_v_samp_factor > 1);
    reaches = tail >= c->image_height ||
              one_band_from(c, blocks[end.component], end, end.reached * c->comp_info[end.component].v_samp_factor);
  }
  jpeg_destroy_decompress(c);
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
  if (arithmetic && !data_reaches_last_rows(r)) {
    messprintf(IMSSYS_INFO, "JPEG: The coded data ends before the last rows of the image.\n");
    return false;
  }
  return true;
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
  const JpegRecord* r = h ? record(h) : nullptr;
  if (!r) return 0;
  return r->cmyk ? 2 : 1;
}

int JpegSeekTo(imginfo* h) {
  JpegRecord* r = record(h);
  if (!r || h->seek_line < 0 || h->seek_line >= h->file_height) return 0;
  r->row = h->seek_line;
  return 1;
}
