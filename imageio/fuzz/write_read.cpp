// Pictures of any bytes written through the line calls of the drivers that
// code their data (Sun lines, raw and run-length Targa files, run-length
// SGI rows, Cineon cells, GIF's quantiser and LZW encoder) and read back:
// what is read is what was written, to the format's precision. Input: width
// and height bytes, a flags byte (bit 0: 16-bit lines), then samples used
// in turn.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_file.h"
#include "imgio.h"
#include "imgio_messages.h"

namespace {

int discard(imssys*) { return 0; }

// Samples R, G, B, A a pixel, file line after file line.
struct Lines {
  int width, height;
  bool deep;
  std::vector<uint16_t> samples;
};

bool write(const std::string& path, const Lines& in) {
  imginfo* h = createimg(path.c_str(), in.width, in.height, in.deep ? 16 : 8);
  if (!h) return false;
  bool ok = true;
  std::vector<unsigned> line(in.width);
  for (int y = 0; y < in.height; ++y) {
    const uint16_t* s = in.samples.data() + size_t(y) * in.width * 4;
    if (in.deep) {
      ok = writeline16(h, const_cast<uint16_t*>(s)) == 0 && ok;
      continue;
    }
    for (int x = 0; x < in.width; ++x)
      line[x] = unsigned(s[4 * x]) | unsigned(s[4 * x + 1]) << 8 | unsigned(s[4 * x + 2]) << 16 | unsigned(s[4 * x + 3]) << 24;
    ok = writeline(h, line.data()) == 0 && ok;
  }
  return closeimg(h) == 0 && ok;
}

bool read(const std::string& path, Lines& out) {
  imginfo* h = openimg(path.c_str());
  if (!h) return false;
  out = Lines{h->width, h->height, true, std::vector<uint16_t>(size_t(h->width) * h->height * 4)};
  bool ok = true;
  for (int y = 0; y < h->height; ++y) ok = readline16(h, out.samples.data() + size_t(y) * h->width * 4) == 0 && ok;
  return closeimg(h) == 0 && ok;
}

// The 8 bits a sample keeps in a format of 8-bit values.
uint16_t top8(const Lines& in, uint16_t v) { return in.deep ? v >> 8 : v; }

void check(bool ok, const char* format, const char* what) {
  if (ok) return;
  fprintf(stderr, "%s: %s\n", format, what);
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  messsetproc(discard);
  Lines in{data[0] % 64 + 1, data[1] % 16 + 1, (data[2] & 1) != 0, {}};
  in.samples.resize(size_t(in.width) * in.height * 4);
  for (size_t i = 0; i < in.samples.size(); ++i) {
    const size_t at = size > 3 ? 3 + (in.deep ? 2 * i : i) % (size - 3) : 0;
    const uint16_t byte = size > 3 ? data[at] : 0;
    in.samples[i] = in.deep ? uint16_t(byte << 8 | (size > 4 ? data[3 + (at - 2) % (size - 3)] : 0)) : byte;
  }
  initimg();
  struct Format {
    const char* name;
    const char* compress;
  } formats[] = {{"sun", nullptr}, {"targa2", "no"}, {"targa2", "yes"}, {"sgisgi", nullptr}, {"cin", nullptr}, {"gif", nullptr}};
  for (const Format& f : formats) {
    if (f.compress) setkeyval("IMGIO_TARGA_COMPRESS", f.compress);
    check(setimageformat(f.name) == 0, f.name, "format");
    const std::string path = fuzz_file_path(f.name);
    check(write(path, in), f.name, "write");
    Lines out;
    check(read(path, out), f.name, "read");
    check(out.width == in.width && out.height == in.height, f.name, "size");
    for (size_t i = 0; i < in.samples.size(); ++i) {
      const int c = int(i % 4);
      const uint16_t v = in.samples[i], got = out.samples[i];
      // Targa keeps alpha, the others set it full.
      if (!strcmp(f.name, "sun") || !strcmp(f.name, "sgisgi")) {
        check(got == (c == 3 ? 65535 : top8(in, v) * 257), f.name, "sample");
      } else if (!strcmp(f.name, "targa2")) {
        check(got == top8(in, v) << 8, f.name, "sample");
      } else if (!strcmp(f.name, "cin")) {
        // Ten bits of 16-bit samples, eight of 8-bit ones.
        check(got == (c == 3 ? 65472 : in.deep ? v & 0xFFC0 : v << 8), f.name, "sample");
      } else {
        // GIF: a colour of the palette, alpha 255, 5 bits a channel.
        check(c == 3 ? got == 0xFF00 : (got & 0x07FF) == 0, f.name, "sample");
      }
    }
  }
  finishimg();
  return 0;
}
