// GIF encoding: the median-cut palette and indices, then LZW codes of 9 to
// 12 bits from a string table held as a tree of nodes, each node's children
// a search tree by their last pixel value.
#include <cstdio>
#include <cstring>

#include "gif_codec.h"
#include "imgio_fields.h"
#include "imgio_messages.h"
#include "median_cut.h"
#include "q4_memory.h"

namespace {

// 256 colours: 8 bits of colour and the smallest code size that holds them.
enum { kBits = 8, kClear = 256, kEnd = 257, kFirstFree = 258, kMaxCode = 4095 };

struct Node {
  int code;
  int suffix;  // the pixel value that ends its string
  Node* less;  // siblings with a smaller suffix
  Node* more;
  Node* child;
};

struct Encoder {
  FILE* file;
  const uint8_t* idxbuf;
  int width, height;
  uint8_t block[256];  // count, then up to 254 data bytes
  int block_bytes;
  uint32_t bits;       // pending bits, lowest first
  int bit_count;
  bool failed;
};

void flush_block(Encoder& e) {
  if (e.block_bytes == 0) return;
  e.block[0] = uint8_t(e.block_bytes);
  if (fwrite(e.block, 1, e.block_bytes + 1, e.file) != size_t(e.block_bytes + 1)) e.failed = true;
  e.block_bytes = 0;
}

void put_byte(Encoder& e, uint8_t v) {
  e.block[1 + e.block_bytes++] = v;
  if (e.block_bytes == 254) flush_block(e);
}

// Codes go least significant bit first.
void output(Encoder& e, int code, int width) {
  e.bits |= uint32_t(code) << e.bit_count;
  e.bit_count += width;
  while (e.bit_count >= 8) {
    put_byte(e, uint8_t(e.bits));
    e.bits >>= 8;
    e.bit_count -= 8;
  }
}

// The last byte padded with 1 bits.
void finish_bits(Encoder& e) {
  if (e.bit_count > 0) put_byte(e, uint8_t(e.bits | (0xFFu << e.bit_count)));
  e.bits = 0;
  e.bit_count = 0;
  flush_block(e);
}

// Index of column x of output row y: rows go out from the top, the index
// image's rows from the bottom.
int getpixel(const Encoder& e, int x, int y) { return e.idxbuf[size_t(e.height - 1 - y) * e.width + x]; }

void write_header(Encoder& e, const uint16_t* red, const uint16_t* green, const uint16_t* blue) {
  uint8_t head[13] = {'G', 'I', 'F', '8', '7', 'a'};
  imgio_put_le16(head + 6, e.width);
  imgio_put_le16(head + 8, e.height);
  // A global table of 256 entries, 8 bits of colour resolution.
  head[10] = 0x80 | (kBits - 1) << 4 | (kBits - 1);
  uint8_t table[768];
  for (int i = 0; i < 256; ++i) {
    table[3 * i] = uint8_t(red[i]);
    table[3 * i + 1] = uint8_t(green[i]);
    table[3 * i + 2] = uint8_t(blue[i]);
  }
  uint8_t image[11] = {','};
  imgio_put_le16(image + 5, e.width);
  imgio_put_le16(image + 7, e.height);
  image[10] = kBits;
  if (fwrite(head, 1, 13, e.file) != 13 || fwrite(table, 1, 768, e.file) != 768 ||
      fwrite(image, 1, 11, e.file) != 11)
    e.failed = true;
}

void compress(Encoder& e, Node* roots, Node* pool) {
  int next_code = kFirstFree, width = kBits + 1, used = 0;
  output(e, kClear, width);
  Node* current = &roots[getpixel(e, 0, 0)];
  for (int y = 0; y < e.height; ++y)
    for (int x = y == 0 ? 1 : 0; x < e.width; ++x) {
      const int p = getpixel(e, x, y);
      Node** link = &current->child;
      while (*link && (*link)->suffix != p) link = p < (*link)->suffix ? &(*link)->less : &(*link)->more;
      if (*link) {
        current = *link;
        continue;
      }
      Node* fresh = &pool[used++];
      *fresh = Node{next_code, p, nullptr, nullptr, nullptr};
      *link = fresh;
      output(e, current->code, width);
      if (next_code > (1 << width) - 1) ++width;
      if (next_code == kMaxCode) {
        // The table is full: it starts again after a clear.
        for (int i = 0; i < 256; ++i) roots[i].child = nullptr;
        used = 0;
        output(e, kClear, width);
        width = kBits + 1;
        next_code = kFirstFree;
      } else {
        ++next_code;
      }
      current = &roots[p];
    }
  output(e, current->code, width);
  output(e, kEnd, width);
  finish_bits(e);
}

}  // namespace

int WriteGIF(const unsigned int* buffer, int width, int height, const char* path) {
  if (width < 1 || height < 1 || width > 65535 || height > 65535) {
    messprintf(IMSSYS_INFO, "GIF: Cannot write an image of %dx%d.\n", width, height);
    return 1;
  }
  uint16_t red[256], green[256], blue[256];
  uint8_t* indices = med_cut_gen(buffer, width, height, 1, red, green, blue, 255, 0);
  if (!indices) {
    messprintf(IMSSYS_FATAL, "GIF: Failed to create colour index from median cut.\n");
    return 1;
  }
  Node* roots = static_cast<Node*>(q4_calloc_c(256, sizeof(Node), __FILE__, __LINE__));
  Node* pool = static_cast<Node*>(q4_malloc_c(kMaxCode * sizeof(Node), __FILE__, __LINE__));
  Encoder e{};
  e.idxbuf = indices;
  e.width = width;
  e.height = height;
  int result = 1;
  if (!roots || !pool) {
    messprintf(IMSSYS_FATAL, "GIF: Internal error: %s\n", "can't allocate heap");
  } else if (!(e.file = fopen(path, "wb"))) {
    messprintf(IMSSYS_INFO, "GIF: Cannot create %s\n", path);
  } else {
    for (int i = 0; i < 256; ++i) roots[i] = Node{i, i, nullptr, nullptr, nullptr};
    write_header(e, red, green, blue);
    compress(e, roots, pool);
    const uint8_t tail[2] = {0, ';'};
    if (fwrite(tail, 1, 2, e.file) != 2) e.failed = true;
    // Buffered bytes reach the disk at the close.
    if (fclose(e.file) != 0) e.failed = true;
    result = e.failed ? 1 : 0;
  }
  if (roots) q4_free_c(roots, __FILE__, __LINE__);
  if (pool) q4_free_c(pool, __FILE__, __LINE__);
  q4_image_free_c(indices, __FILE__, __LINE__);
  return result;
}
