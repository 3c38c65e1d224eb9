// Softimage pictures: the picture library and the driver on top of it.
#include "imgio_soft.h"

#include <cmath>
#include <cstring>

#include "imgio_fields.h"
#include "imgio_messages.h"
#include "q4_memory.h"

namespace {

const int kPreamble = 104;  // magic to padding
const int kMaxPackets = 4;
const int kChannelBit[4] = {SOFT_RED, SOFT_GREEN, SOFT_BLUE, SOFT_ALPHA};
const int kLongestLiteral = 128;
const int kLongestRun = 65535;

// The name with ".pic" at its end; null when it cannot be held.
char* file_name_of(const char* name) {
  const size_t length = strlen(name);
  const bool has = length >= 4 && strcmp(name + length - 4, ".pic") == 0;
  char* out = static_cast<char*>(imgio_zalloc(int64_t(length) + 5, 1));
  if (out) snprintf(out, length + 5, "%s%s", name, has ? "" : ".pic");
  return out;
}

int refuse(const char* name, const char* why) {
  return imgio_refuse(name, "SOFTIMAGE", "%s", why);
}

// The channels a packet codes, in file order: their buffers and count;
// -1 when one of them has no buffer.
int packet_channels(int mask, unsigned char* const all[4], unsigned char** out) {
  int n = 0;
  for (int c = 0; c < 4; ++c)
    if (mask & kChannelBit[c]) {
      if (!all[c]) return -1;
      out[n++] = all[c];
    }
  return n;
}

template <typename Source>
bool decode_packet(Source& in, int type, int mask, unsigned char* const all[4], int width) {
  unsigned char* out[4];
  const int n = packet_channels(mask, all, out);
  if (n < 0) return false;
  unsigned char pixel[4];
  const auto store = [&](int x, int count) {
    for (int c = 0; c < n; ++c) memset(out[c] + x, pixel[c], count);
  };
  switch (type) {
    case SOFT_PLAIN:
      for (int x = 0; x < width; ++x) {
        if (!in.read(pixel, n)) return false;
        store(x, 1);
      }
      return true;
    case SOFT_RUNS:
      for (int x = 0; x < width;) {
        const int count = in.get();
        if (count < 0 || !in.read(pixel, n)) return false;
        const int kept = count < width - x ? count : width - x;
        store(x, kept);
        x += kept;
      }
      return true;
    case SOFT_MIXED:
      for (int x = 0; x < width;) {
        const int c = in.get();
        if (c < 0) return false;
        if (c < 128) {
          // Pixels past the line are read and dropped.
          for (int i = 0; i <= c; ++i) {
            if (!in.read(pixel, n)) return false;
            if (x < width) store(x++, 1);
          }
          continue;
        }
        long count = c - 127;
        if (c == 128) {
          unsigned char bytes[2];
          if (!in.read(bytes, 2)) return false;
          count = imgio_be16(bytes);
        }
        if (!in.read(pixel, n)) return false;
        const int kept = count < width - x ? static_cast<int>(count) : width - x;
        store(x, kept);
        x += kept;
      }
      return true;
    default:
      return false;
  }
}

// Packed pixel of the packet's channels at x, for comparisons.
uint32_t key(unsigned char* const* in, int n, int x) {
  uint32_t k = 0;
  for (int c = 0; c < n; ++c) k = k << 8 | in[c][x];
  return k;
}

struct byte_sink {
  FILE* file;
  bool ok;
  void put(int byte) { ok = putc(byte, file) != EOF && ok; }
  void pixels(unsigned char* const* in, int n, int x, int count) {
    for (int i = x; i < x + count; ++i)
      for (int c = 0; c < n; ++c) put(in[c][i]);
  }
  void literal(unsigned char* const* in, int n, int x, int count) {
    put(count - 1);
    pixels(in, n, x, count);
  }
  void run(unsigned char* const* in, int n, int x, int count) {
    if (count <= 127) {
      put(127 + count);
    } else {
      put(128);
      put(count >> 8);
      put(count & 255);
    }
    pixels(in, n, x, 1);
  }
};

// The mixed coding as a state machine over the pixels.
void encode_mixed(byte_sink& out, unsigned char* const* in, int n, int width) {
  enum { NONE, OPEN, LITERAL, RUN } state = OPEN;
  int start = 0, length = 1;
  for (int x = 1; x < width; ++x) {
    const bool same = key(in, n, x) == key(in, n, x - 1);
    switch (state) {
      case NONE:
        start = x;
        length = 1;
        state = OPEN;
        break;
      case OPEN:
        state = same ? RUN : LITERAL;
        length = 2;
        break;
      case LITERAL:
        if (same) {
          // The repeated pixel starts a run of two instead.
          out.literal(in, n, start, length - 1);
          start = x - 1;
          length = 2;
          state = RUN;
        } else if (++length == kLongestLiteral) {
          out.literal(in, n, start, length);
          state = NONE;
        }
        break;
      case RUN:
        if (!same) {
          out.run(in, n, start, length);
          start = x;
          length = 1;
          state = OPEN;
        } else if (++length == kLongestRun) {
          out.run(in, n, start, length);
          state = NONE;
        }
        break;
    }
  }
  if (state == RUN)
    out.run(in, n, start, length);
  else if (state != NONE)
    out.literal(in, n, start, length);
}

bool encode_packet(FILE* file, const channel_packet* p, unsigned char* const all[4], int width) {
  unsigned char* in[4];
  const int n = packet_channels(p->mask, all, in);
  if (n < 0) return false;
  byte_sink out{file, true};
  switch (p->type) {
    case SOFT_PLAIN:
      out.pixels(in, n, 0, width);
      break;
    case SOFT_RUNS:
      for (int x = 0; x < width;) {
        int count = 1;
        while (x + count < width && count < 255 && key(in, n, x + count) == key(in, n, x)) ++count;
        out.put(count);
        out.pixels(in, n, x, 1);
        x += count;
      }
      break;
    case SOFT_MIXED:
      encode_mixed(out, in, n, width);
      break;
    default:
      return false;
  }
  return out.ok;
}

channel_packet* new_packet(int type, int mask, channel_packet* next) {
  channel_packet* p = static_cast<channel_packet*>(imgio_zalloc(1, sizeof(channel_packet)));
  if (p) *p = channel_packet{8, type, mask, next};
  return p;
}

// Red, green and blue, then alpha when wanted; null when memory is short.
channel_packet* default_packets(bool alpha) {
  channel_packet* tail = alpha ? new_packet(SOFT_MIXED, SOFT_ALPHA, nullptr) : nullptr;
  if (alpha && !tail) return nullptr;
  channel_packet* head = new_packet(SOFT_MIXED, SOFT_RED | SOFT_GREEN | SOFT_BLUE, tail);
  if (!head) channelPacketDispose(tail);
  return head;
}

int packet_mask(const channel_packet* packets) {
  int mask = 0;
  for (const channel_packet* p = packets; p; p = p->next) mask |= p->mask;
  return mask;
}

// Channel buffers of count bytes for every channel the packets name.
bool allocate_channels(picture* pic, const channel_packet* packets, int64_t count) {
  const int mask = packet_mask(packets);
  for (int c = 0; c < 4; ++c)
    if (mask & kChannelBit[c]) {
      pic->channel[c] = static_cast<unsigned char*>(imgio_zalloc(count, 1));
      if (!pic->channel[c]) return false;
    }
  return true;
}

void start_positions(picture* pic) {
  for (int c = 0; c < 4; ++c) pic->position[c] = pic->channel[c];
}

void advance_positions(picture* pic) {
  for (unsigned char*& p : pic->position)
    if (p) p += pic->width;
}

uint32_t float_bits(float value) {
  uint32_t bits;
  memcpy(&bits, &value, 4);
  return bits;
}

float bits_float(uint32_t bits) {
  float value;
  memcpy(&value, &bits, 4);
  return value;
}

struct soft_record {
  FILE* file;
  picture* pic;
  channel_packet* packets;
  long data_start;
};

soft_record* record_of(imginfo* h) { return static_cast<soft_record*>(h->driver); }

void release(soft_record* r) {
  if (!r) return;
  if (r->file) fclose(r->file);
  channelPacketDispose(r->packets);
  pictureDispose(r->pic);
  imgio_free(r);
}

int fail(imginfo* h, soft_record* r) {
  release(r);
  h->driver = nullptr;
  return 0;
}

bool read_scanline(imginfo* h) {
  soft_record* r = record_of(h);
  start_positions(r->pic);
  return pictureReadScanline(r->file, r->pic, r->packets) != 0;
}

bool write_scanline(imginfo* h) {
  soft_record* r = record_of(h);
  start_positions(r->pic);
  return pictureWriteScanline(r->file, r->pic, r->packets) != 0;
}

}  // namespace

int soft_decode_packet(const unsigned char* in, size_t size, size_t* used, int type, int mask,
                       unsigned char* const out[4], int width) {
  imgio_span_source source{in, size, *used};
  const bool ok = decode_packet(source, type, mask, out, width);
  *used = source.pos;
  return ok ? 1 : 0;
}

picture* pictureAllocate() {
  picture* pic = static_cast<picture*>(imgio_zalloc(1, sizeof(picture)));
  if (pic) pic->ratio = 1.0f;
  return pic;
}

void pictureDispose(picture* pic) {
  if (!pic) return;
  for (unsigned char* c : pic->channel) imgio_free(c);
  imgio_free(pic);
}

void channelPacketDispose(channel_packet* packets) {
  while (packets) {
    channel_packet* next = packets->next;
    imgio_free(packets);
    packets = next;
  }
}

FILE* pictureReadFileHeader(const char* name, picture* pic, channel_packet** packets) {
  if (!name || !pic || !packets) return nullptr;
  *packets = nullptr;
  char* path = file_name_of(name);
  FILE* file = path ? fopen(path, "r") : nullptr;
  unsigned char head[kPreamble];
  bool ok = file && imgio_read_exact(file, head, sizeof head) && imgio_be32(head) == SOFT_MAGIC &&
            imgio_be32(head + 88) == SOFT_PICT;
  channel_packet** tail = packets;
  // The chain ends at a packet whose chained flag is 0, after four, or
  // with a refusal at the end of the file.
  for (int i = 0; ok && i < kMaxPackets; ++i) {
    unsigned char p[4];
    if (!imgio_read_exact(file, p, 4)) {
      ok = false;
      refuse(path, "packet chain cut short");
    } else if ((p[2] & 15) > SOFT_MIXED) {
      ok = false;
      refuse(path, "unknown compression type");
    } else if (!(*tail = new_packet(p[2] & 15, p[3] & 0xF0, nullptr))) {
      ok = false;
    } else {
      (*tail)->size = p[1];
      tail = &(*tail)->next;
      if (p[0] == 0) break;
    }
  }
  if (ok) {
    pic->width = static_cast<int>(imgio_be16(head + 92));
    pic->height = static_cast<int>(imgio_be16(head + 94));
    pic->ratio = bits_float(imgio_be32(head + 96));
    pic->fields = static_cast<int>(imgio_be16(head + 100));
    if (!imgsizeok(pic->width, pic->height)) ok = refuse(path, "size out of range");
  }
  imgio_free(path);
  if (!ok) {
    if (file) fclose(file);
    channelPacketDispose(*packets);
    *packets = nullptr;
    return nullptr;
  }
  return file;
}

FILE* pictureWriteFileHeader(const char* name, picture* pic, channel_packet** packets) {
  if (!name || !pic || !packets) return nullptr;
  bool made = false;
  if (!*packets) {
    *packets = default_packets(pic->channel[3] != nullptr);
    if (!*packets) return nullptr;
    made = true;
  }
  char* path = file_name_of(name);
  FILE* file = path ? fopen(path, "w") : nullptr;
  imgio_free(path);
  unsigned char head[kPreamble - 88];
  imgio_put_be32(head, SOFT_PICT);
  imgio_put_be16(head + 4, pic->width);
  imgio_put_be16(head + 6, pic->height);
  imgio_put_be32(head + 8, float_bits(pic->ratio));
  imgio_put_be16(head + 12, pic->fields);
  imgio_put_be16(head + 14, 0);
  bool ok = file && headerWriteBinary(file, nullptr) && imgio_write_exact(file, head, sizeof head);
  for (const channel_packet* p = *packets; ok && p; p = p->next) {
    const unsigned char bytes[4] = {static_cast<unsigned char>(p->next ? 1 : 0), static_cast<unsigned char>(p->size),
                                    static_cast<unsigned char>(p->type), static_cast<unsigned char>(p->mask)};
    ok = imgio_write_exact(file, bytes, 4);
  }
  if (!ok) {
    if (file) fclose(file);
    if (made) {
      channelPacketDispose(*packets);
      *packets = nullptr;
    }
    return nullptr;
  }
  return file;
}

int pictureReadScanline(FILE* file, picture* pic, const channel_packet* packets) {
  imgio_file_source in{file};
  for (const channel_packet* p = packets; p; p = p->next)
    if (!decode_packet(in, p->type, p->mask, pic->position, pic->width)) return 0;
  advance_positions(pic);
  return 1;
}

int pictureWriteScanline(FILE* file, picture* pic, const channel_packet* packets) {
  for (const channel_packet* p = packets; p; p = p->next)
    if (!encode_packet(file, p, pic->position, pic->width)) return 0;
  advance_positions(pic);
  return 1;
}

picture* pictureReadFile(const char* name) {
  picture* pic = pictureAllocate();
  if (!pic) return nullptr;
  channel_packet* packets = nullptr;
  FILE* file = pictureReadFileHeader(name, pic, &packets);
  bool ok = file && allocate_channels(pic, packets, int64_t(pic->width) * pic->height);
  start_positions(pic);
  for (int y = 0; ok && y < pic->height; ++y) ok = pictureReadScanline(file, pic, packets) != 0;
  if (file) fclose(file);
  channelPacketDispose(packets);
  if (!ok) {
    pictureDispose(pic);
    return nullptr;
  }
  start_positions(pic);
  return pic;
}

int pictureWriteFile(const char* name, picture* pic, channel_packet* packets) {
  if (!pic) return 0;
  channel_packet* list = packets;
  FILE* file = pictureWriteFileHeader(name, pic, &list);
  bool ok = file != nullptr;
  start_positions(pic);
  for (int y = 0; ok && y < pic->height; ++y) ok = pictureWriteScanline(file, pic, list) != 0;
  ok = imgio_close_stream(file, ok) && file;
  if (list != packets) channelPacketDispose(list);
  start_positions(pic);
  return ok ? 1 : 0;
}

int SoftOpenf(imginfo* h) {
  soft_record* r = static_cast<soft_record*>(imgio_zalloc(1, sizeof(soft_record)));
  if (!r) return 0;
  h->driver = r;
  r->pic = pictureAllocate();
  if (!r->pic || !(r->file = pictureReadFileHeader(h->file_name, r->pic, &r->packets)) ||
      !allocate_channels(r->pic, r->packets, r->pic->width) || (r->data_start = ftell(r->file)) < 0)
    return fail(h, r);
  h->file_width = r->pic->width;
  h->file_height = r->pic->height;
  h->bits16 = 0;
  return 1;
}

int SoftCreatef(imginfo* h) {
  if (h->file_width > 65535 || h->file_height > 65535)
    return imgio_refuse(h->file_name, "SOFTIMAGE", "size %dx%d above 65535", h->file_width, h->file_height);
  soft_record* r = static_cast<soft_record*>(imgio_zalloc(1, sizeof(soft_record)));
  if (!r) return 0;
  h->driver = r;
  r->pic = pictureAllocate();
  if (!r->pic) return fail(h, r);
  picture* pic = r->pic;
  pic->width = h->file_width;
  pic->height = h->file_height;
  // Pictures of 5:4 carry the pixel ratio of their video standard.
  pic->ratio = std::fabs(double(pic->width) / pic->height - 1.25) < 0.0001 ? bits_float(0x3F888889) : 1.0f;
  pic->fields = 3;
  for (unsigned char*& c : pic->channel)
    if (!(c = static_cast<unsigned char*>(imgio_zalloc(pic->width, 1)))) return fail(h, r);
  r->packets = default_packets(true);
  if (!r->packets || !(r->file = pictureWriteFileHeader(h->file_name, pic, &r->packets))) return fail(h, r);
  return 1;
}

int SoftReadl(imginfo* h) {
  if (!read_scanline(h)) return 0;
  unsigned char* const* c = record_of(h)->pic->channel;
  for (int x = 0; x < h->file_width; ++x)
    h->line[x] = (c[0] ? uint32_t(c[0][x]) : 0u) | (c[1] ? uint32_t(c[1][x]) << 8 : 0u) |
                 (c[2] ? uint32_t(c[2][x]) << 16 : 0u) | (c[3] ? uint32_t(c[3][x]) : 255u) << 24;
  return 1;
}

int SoftReadl16(imginfo* h) {
  if (!read_scanline(h)) return 0;
  unsigned char* const* c = record_of(h)->pic->channel;
  for (int x = 0; x < h->file_width; ++x)
    for (int i = 0; i < 4; ++i)
      h->line16[4 * x + i] = static_cast<unsigned short>(c[i] ? c[i][x] << 8 : i == 3 ? 65535 : 0);
  return 1;
}

int SoftWritel(imginfo* h) {
  unsigned char* const* c = record_of(h)->pic->channel;
  for (int x = 0; x < h->file_width; ++x)
    for (int i = 0; i < 4; ++i) c[i][x] = static_cast<unsigned char>(h->line[x] >> (8 * i));
  return write_scanline(h) ? 1 : 0;
}

int SoftWritel16(imginfo* h) {
  unsigned char* const* c = record_of(h)->pic->channel;
  for (int x = 0; x < h->file_width; ++x)
    for (int i = 0; i < 4; ++i) c[i][x] = static_cast<unsigned char>(h->line16[4 * x + i] >> 8);
  return write_scanline(h) ? 1 : 0;
}

int SoftClosef(imginfo* h) { return imgio_close_record(h, release); }

int SoftReadb(imginfo* h) { return imgio_read_whole(h, soft_driver, false); }
int SoftReadb16(imginfo* h) { return imgio_read_whole(h, soft_driver, true); }
int SoftWriteb(imginfo* h) { return imgio_write_whole(h, soft_driver, false); }
int SoftWriteb16(imginfo* h) { return imgio_write_whole(h, soft_driver, true); }

int SoftMakeSeek(imginfo* h) {
  const auto* r = record_of(h);
  return r ? imgio_scan_line_offsets(h, r->file, r->data_start, read_scanline) : 0;
}

int SoftSeekTo(imginfo* h) {
  const auto* r = record_of(h);
  return r ? imgio_seek_scanned_line(h, r->file) : 0;
}

const imgio_driver soft_driver = {SoftOpenf,   SoftCreatef, SoftReadl,   SoftWritel,   SoftReadl16,
                                  SoftWritel16, SoftClosef, SoftReadb,   SoftWriteb,   SoftReadb16,
                                  SoftWriteb16, nullptr,    SoftMakeSeek, SoftSeekTo};
