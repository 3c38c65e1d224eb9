// RLA image files.
#include "imgio_rla.h"

#include <cstdint>
#include <cstring>
#include <ctime>

#include "imgio_fields.h"
#include "imgio_messages.h"
#include "imgio_runs.h"
#include "imgio_stamp.h"

namespace {

const int kHeader = 740;
const int kMaxRecord = 65535;  // a record's length is a 16-bit number
enum { CHANNELS = 4 };

// Text fields: offset and size.
struct text_field {
  int at;
  int size;
};
const text_field kGamma = {28, 16}, kRed = {44, 24}, kGreen = {68, 24}, kBlue = {92, 24}, kWhite = {116, 24},
                 kName = {144, 128}, kDescription = {272, 128}, kCreator = {400, 64}, kMachine = {464, 32},
                 kUser = {496, 32}, kDate = {528, 20}, kAspect = {548, 24}, kRatio = {572, 8},
                 kChannels = {580, 32}, kFilter = {626, 32}, kAuxDescription = {668, 32};

struct rla_record {
  FILE* file;
  unsigned char header[kHeader];
  int window_left, window_bottom;
  int active_left, active_right, active_bottom, active_top;
  int active_width, active_height;
  int bytes;  // a value: 1 or 2
  uint32_t* table;
  unsigned char* coding;
  size_t coding_size;
  unsigned char* channel[CHANNELS];  // red, green, blue, matte
};

rla_record* record_of(imginfo* h) { return static_cast<rla_record*>(h->driver); }

int field(const rla_record* r, int at) { return static_cast<int16_t>(imgio_be16(r->header + at)); }

// Cut to fit its field with the terminator.
void put_text(rla_record* r, text_field f, const char* text) {
  const size_t length = strnlen(text, size_t(f.size) - 1);
  memcpy(r->header + f.at, text, length);
  r->header[f.at + length] = 0;
}

// A text field for printing: it need not hold its terminator.
int text_length(const rla_record* r, text_field f) {
  return static_cast<int>(strnlen(reinterpret_cast<const char*>(r->header + f.at), f.size));
}
const char* text_of(const rla_record* r, text_field f) { return reinterpret_cast<const char*>(r->header + f.at); }

void release(rla_record* r) {
  if (!r) return;
  if (r->file) fclose(r->file);
  imgio_free(r->table);
  imgio_free(r->coding);
  for (unsigned char* c : r->channel) imgio_free(c);
  imgio_free(r);
}

int fail(imginfo* h, rla_record* r) {
  release(r);
  h->driver = nullptr;
  return 0;
}

bool allocate_buffers(rla_record* r) {
  const int64_t values = int64_t(r->active_width) * r->bytes;
  r->coding_size = static_cast<size_t>(2 * values);
  r->coding = static_cast<unsigned char*>(imgio_zalloc(2 * values, 1));
  bool ok = r->coding != nullptr;
  for (unsigned char*& c : r->channel) ok = (c = static_cast<unsigned char*>(imgio_zalloc(values, 1))) && ok;
  return ok;
}

// The channels of line current_line; false on a bad record. *stored is
// false for a row outside the active rows or not stored.
bool read_channels(imginfo* h, bool* stored) {
  rla_record* r = record_of(h);
  const int row = h->current_line + r->window_bottom;
  *stored = false;
  if (row < r->active_bottom || row > r->active_top) return true;
  const uint32_t offset = r->table[row - r->active_bottom];
  if (offset == 0) return true;
  if (fseek(r->file, static_cast<long>(offset), SEEK_SET) != 0) return false;
  const size_t values = size_t(r->active_width) * r->bytes;
  for (unsigned char* channel : r->channel) {
    unsigned char length[2];
    if (!imgio_read_exact(r->file, length, 2)) return false;
    const size_t size = imgio_be16(length);
    if (size > r->coding_size || !imgio_read_exact(r->file, r->coding, size) ||
        rla_decode(r->coding, size, channel, values) < 0)
      return false;
  }
  *stored = true;
  return true;
}

// Active column of line position x, or -1.
int active_column(const rla_record* r, int x) {
  const int column = x + r->window_left;
  return column >= r->active_left && column <= r->active_right ? column - r->active_left : -1;
}

bool write_channel(rla_record* r, const unsigned char* values, int width) {
  size_t size = 0;
  for (int half = 0; half < r->bytes; ++half) size += rla_encode(values + half * width, width, r->coding + size);
  unsigned char length[2];
  imgio_put_be16(length, static_cast<unsigned>(size));
  return imgio_write_exact(r->file, length, 2) && imgio_write_exact(r->file, r->coding, size);
}

bool write_channels(imginfo* h) {
  rla_record* r = record_of(h);
  const long here = ftell(r->file);
  if (here <= 0 || static_cast<uint64_t>(here) > UINT32_MAX) return false;
  r->table[h->current_line] = static_cast<uint32_t>(here);
  for (unsigned char* channel : r->channel)
    if (!write_channel(r, channel, h->file_width)) return false;
  return true;
}

// Worst case of a channel's code: every byte a literal.

}  // namespace

long rla_decode(const unsigned char* code, size_t size, unsigned char* out, size_t out_size) {
  size_t in = 0, done = 0;
  while (in < size) {
    const int c = code[in++];
    if (c < 128) {
      const size_t n = size_t(c) + 1;
      if (in >= size || n > out_size - done) return -1;
      memset(out + done, code[in++], n);
      done += n;
    } else {
      const size_t n = 256 - size_t(c);
      if (n > size - in || n > out_size - done) return -1;
      memcpy(out + done, code + in, n);
      in += n;
      done += n;
    }
  }
  memset(out + done, 0, out_size - done);
  return static_cast<long>(done);
}

size_t rla_encode(const unsigned char* in, int n, unsigned char* out) {
  return imgio_pack_bytes(in, n, 2, out);
}

int RlaOpenf(imginfo* h) {
  rla_record* r = static_cast<rla_record*>(imgio_zalloc(1, sizeof(rla_record)));
  if (!r) return 0;
  h->driver = r;
  r->file = fopen(h->file_name, "r");
  if (!r->file || !imgio_read_exact(r->file, r->header, kHeader)) return fail(h, r);
  r->window_left = field(r, 0);
  r->window_bottom = field(r, 4);
  const int width = field(r, 2) - r->window_left + 1, height = field(r, 6) - r->window_bottom + 1;
  r->active_left = field(r, 8);
  r->active_right = field(r, 10);
  r->active_bottom = field(r, 12);
  r->active_top = field(r, 14);
  r->active_width = r->active_right - r->active_left + 1;
  r->active_height = r->active_top - r->active_bottom + 1;
  const int bits = field(r, 658);
  r->bytes = bits == 16 ? 2 : 1;
  const int64_t file_size = imgio_file_size(r->file);
  const char* why = nullptr;
  if (!imgsizeok(width, height))
    why = "window size out of range";
  else if (r->active_left < r->window_left || r->active_right > field(r, 2) || r->active_bottom < r->window_bottom ||
           r->active_top > field(r, 6) || r->active_width < 1 || r->active_height < 1)
    why = "active window outside the window";
  else if (field(r, 20) != 3 || field(r, 22) != 1)
    why = "channels other than 3 colours and 1 matte";
  else if (bits != 0 && bits != 8 && bits != 16)
    why = "bits per channel not 8 or 16";
  else if (int64_t(kHeader) + 4 * int64_t(r->active_height) > file_size)
    why = "offset table past the end of the file";
  if (why) {
    imgio_refuse(h->file_name, "RLA", "%s", why);
    return fail(h, r);
  }
  r->table = static_cast<uint32_t*>(imgio_zalloc(r->active_height, sizeof(uint32_t)));
  unsigned char* raw = static_cast<unsigned char*>(imgio_zalloc(r->active_height, 4));
  bool ok = r->table && raw && imgio_read_exact(r->file, raw, size_t(r->active_height) * 4) && allocate_buffers(r);
  for (int i = 0; ok && i < r->active_height; ++i) r->table[i] = imgio_be32(raw + 4 * i);
  imgio_free(raw);
  if (!ok) return fail(h, r);
  h->file_width = width;
  h->file_height = height;
  h->bits16 = r->bytes == 2;
  return 1;
}

int RlaReadl(imginfo* h) {
  bool stored = false;
  if (!read_channels(h, &stored)) return 0;
  const rla_record* r = record_of(h);
  for (int x = 0; x < h->file_width; ++x) {
    const int i = stored ? active_column(r, x) : -1;
    uint32_t pixel = 0;
    for (int c = 0; i >= 0 && c < CHANNELS; ++c) pixel |= uint32_t(r->channel[c][i]) << (8 * c);
    h->line[x] = pixel;
  }
  return 1;
}

int RlaReadl16(imginfo* h) {
  bool stored = false;
  if (!read_channels(h, &stored)) return 0;
  const rla_record* r = record_of(h);
  for (int x = 0; x < h->file_width; ++x) {
    const int i = stored ? active_column(r, x) : -1;
    for (int c = 0; c < CHANNELS; ++c) {
      unsigned v = 0;
      if (i >= 0) v = r->bytes == 2 ? unsigned(r->channel[c][i]) << 8 | r->channel[c][r->active_width + i]
                                    : unsigned(r->channel[c][i]) << 8;
      h->line16[4 * x + c] = static_cast<unsigned short>(v);
    }
  }
  return 1;
}

int RlaCreatef(imginfo* h) {
  const int bytes = h->bits16 ? 2 : 1;
  if (h->file_width > 32768 || h->file_height > 32768 || bytes * imgio_pack_bytes_worst(h->file_width) > kMaxRecord)
    return imgio_refuse(h->file_name, "RLA", "size %dx%d beyond the window or record fields", h->file_width, h->file_height);
  rla_record* r = static_cast<rla_record*>(imgio_zalloc(1, sizeof(rla_record)));
  if (!r) return 0;
  h->driver = r;
  r->bytes = bytes;
  r->active_width = h->file_width;
  r->active_height = h->file_height;
  unsigned char* p = r->header;
  imgio_put_be16(p + 2, h->file_width - 1);
  imgio_put_be16(p + 6, h->file_height - 1);
  imgio_put_be16(p + 10, h->file_width - 1);
  imgio_put_be16(p + 14, h->file_height - 1);
  imgio_put_be16(p + 16, static_cast<unsigned>(h->frame) & 0xFFFF);
  imgio_put_be16(p + 20, 3);
  imgio_put_be16(p + 22, 1);
  imgio_put_be16(p + 26, 0xFFFE);
  char text[64];
  snprintf(text, sizeof text, "%7.4f", 1.7);
  put_text(r, kGamma, text);
  const double primaries[4][2] = {{0.625, 0.34}, {0.28, 0.595}, {0.155, 0.07}, {0.283, 0.298}};
  const text_field chromatic[4] = {kRed, kGreen, kBlue, kWhite};
  for (int i = 0; i < 4; ++i) {
    snprintf(text, sizeof text, "%7.4f %7.4f", primaries[i][0], primaries[i][1]);
    put_text(r, chromatic[i], text);
  }
  const char* slash = strrchr(h->file_name, '/');
  put_text(r, text_field{kName.at, 30}, slash ? slash + 1 : h->file_name);
  put_text(r, kDescription, "Written by imgio");
  put_text(r, kCreator, "imgio library");
  const imgio_stamp stamp = imgio_current_stamp();
  put_text(r, kMachine, stamp.host);
  const char* user = getkeyval("IMGIO_USER");
  put_text(r, kUser, user ? user : "daemon");
  const char* now = ctime(&stamp.when);
  if (now && strlen(now) >= 24) {
    // Month, day and time to the minute, then the year.
    snprintf(text, sizeof text, "%.12s%.5s", now + 4, now + 19);
    put_text(r, kDate, text);
  }
  put_text(r, kAspect, "user defined");
  // Wide pictures give more digits than the field holds: they are cut.
  if (snprintf(text, sizeof text, "%3.2f", double(h->file_width) / h->file_height) < 0) return fail(h, r);
  put_text(r, kRatio, text);
  put_text(r, kChannels, "rgb");
  put_text(r, kFilter, "unknown");
  imgio_put_be16(p + 658, bytes * 8);
  imgio_put_be16(p + 662, bytes * 8);
  put_text(r, kAuxDescription, "unknown");
  r->table = static_cast<uint32_t*>(imgio_zalloc(h->file_height, sizeof(uint32_t)));
  unsigned char* zeros = static_cast<unsigned char*>(imgio_zalloc(h->file_height, 4));
  r->file = fopen(h->file_name, "w+");
  const bool ok = r->table && zeros && r->file && imgio_write_exact(r->file, p, kHeader) &&
                  imgio_write_exact(r->file, zeros, size_t(h->file_height) * 4) && allocate_buffers(r);
  imgio_free(zeros);
  return ok ? 1 : fail(h, r);
}

int RlaWritel(imginfo* h) {
  rla_record* r = record_of(h);
  for (int x = 0; x < h->file_width; ++x)
    for (int c = 0; c < CHANNELS; ++c) r->channel[c][x] = static_cast<unsigned char>(h->line[x] >> (8 * c));
  return write_channels(h) ? 1 : 0;
}

int RlaWritel16(imginfo* h) {
  rla_record* r = record_of(h);
  const int width = h->file_width;
  for (int x = 0; x < width; ++x)
    for (int c = 0; c < CHANNELS; ++c) {
      const unsigned v = h->line16[4 * x + c];
      r->channel[c][x] = static_cast<unsigned char>(v >> 8);
      r->channel[c][width + x] = static_cast<unsigned char>(v);
    }
  return write_channels(h) ? 1 : 0;
}

int RlaClosef(imginfo* h) {
  rla_record* r = record_of(h);
  if (!r) return 0;
  bool ok = true;
  if (h->mode == IMGIO_WRITE) {
    unsigned char* raw = static_cast<unsigned char*>(imgio_zalloc(h->file_height, 4));
    ok = raw != nullptr;
    for (int i = 0; ok && i < h->file_height; ++i) imgio_put_be32(raw + 4 * i, r->table[i]);
    ok = ok && fseek(r->file, kHeader, SEEK_SET) == 0 && imgio_write_exact(r->file, raw, size_t(h->file_height) * 4);
    imgio_free(raw);
  }
  ok = imgio_close_stream(r->file, ok);
  r->file = nullptr;
  release(r);
  h->driver = nullptr;
  return ok ? 1 : 0;
}

int RlaReadb(imginfo* h) { return imgio_read_whole(h, rla_driver, false); }
int RlaReadb16(imginfo* h) { return imgio_read_whole(h, rla_driver, true); }
int RlaWriteb(imginfo* h) { return imgio_write_whole(h, rla_driver, false); }
int RlaWriteb16(imginfo* h) { return imgio_write_whole(h, rla_driver, true); }

int RlaSheader(imginfo* h) {
  const rla_record* r = record_of(h);
  if (!r) return 0;
  const auto show = [r](const char* label, text_field f) {
    messprintf(IMSSYS_INFO, "%s%.*s\n", label, text_length(r, f), text_of(r, f));
  };
  messprintf(IMSSYS_INFO, "\nRLA Specific Image Information.\n");
  messprintf(IMSSYS_INFO, "===============================\n");
  messprintf(IMSSYS_INFO, "  Active window: %d -> %d x %d -> %d\n", r->active_left, r->active_right,
             r->active_bottom, r->active_top);
  const int bits = field(r, 658);
  if (bits == 0)
    messprintf(IMSSYS_INFO, "           Bits: 8 (old format rla file)\n");
  else
    messprintf(IMSSYS_INFO, "           Bits: %d\n", bits);
  show("           User: ", kUser);
  show("        Machine: ", kMachine);
  show("     Created on: ", kDate);
  show("     Created by: ", kCreator);
  messprintf(IMSSYS_INFO, "   Aspect ratio: %.*s (%.*s)\n", text_length(r, kRatio), text_of(r, kRatio),
             text_length(r, kAspect), text_of(r, kAspect));
  show("          Gamma: ", kGamma);
  show("    White point: ", kWhite);
  show("    Red primary: ", kRed);
  show("  Green primary: ", kGreen);
  show("   Blue primary: ", kBlue);
  return 1;
}

int RlaMakeSeek(imginfo*) { return 1; }
int RlaSeekTo(imginfo*) { return 1; }

const imgio_driver rla_driver = {RlaOpenf,  RlaCreatef, RlaReadl,     RlaWritel,   RlaReadl16,
                                 RlaWritel16, RlaClosef, RlaReadb,    RlaWriteb,   RlaReadb16,
                                 RlaWriteb16, RlaSheader, RlaMakeSeek, RlaSeekTo};
